// Golden runs whose expected output is a pattern (the statistics block).
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/golden.h"

using namespace kova_test;

TEST(Golden, StatisticsListEveryTopLevelInstance) {
  const RunResult r = runKovaSource("stats",
                                    "processdef P() { state s { } }\n"
                                    "process P : fast[1 ms]();\n"
                                    "process P : never() on (false);\n",
                                    "-q -a -t 10");
  EXPECT_EQ(r.status, 0);
  const std::regex expected(
      "setup \nQuiet mode enabled\nEXIT \\(SUCCESS\\) AT 10ms \\(10000000000\\)\n"
      "@kova:time \\{\n  fast\\.wcet = [0-9a-z]+;\n  never\\.wcet = 0;\n\\}\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}
