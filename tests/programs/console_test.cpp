// A console line the golden files cannot hold: `@` alone runs 0 ms, then the
// empty rest is refused with a NUL byte in its message. (The other console
// sessions and scenario files are golden runs: console*, scenario*.)
#include <gtest/gtest.h>

#include <string>

#include "tests/support/golden.h"

using namespace kova_test;

TEST(Console, AtAloneRunsNothingAndRefusesTheEmptyRest) {
  const RunResult r =
      runKovaSource("console",
                    "var uint32 : speed = 7;\n"
                    "processdef Show() { state s { IO.println(\"speed %u\", speed); } }\n"
                    "process Show : show[100 ms]();\n",
                    "-q -i", "@\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("setup \nQuiet mode enabled\n>> [0.000000000000:PRINTLN] speed 7\n"
                               "Unrecognized command (instruction or variable symbol expected, "
                               "but '") +
                       std::string(1, '\0') + "' found)\n>> EXIT (SUCCESS) AT 0 (0)\n>> ");
}
