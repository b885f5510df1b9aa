// Golden run of a program whose buses have no device on this machine: the
// binding says what is missing and the program runs on.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/support/golden.h"

using namespace kova_test;

namespace {

// What binding a CAN interface that does not exist reports here: without
// SocketCAN the socket fails, with it the interface look-up.
std::string missingCanInterface(const std::string& name) {
  const int probe = socket(AF_CAN, SOCK_RAW, CAN_RAW);
  if (probe < 0) return "Error with CAN " + name + ": " + std::strerror(errno);
  close(probe);
  return "Error with CAN " + name + " ioctl: " + std::strerror(ENODEV);
}

}  // namespace

TEST(Golden, BusesWithoutTheirDevicesAreReportedAndTheProgramRuns) {
  if (access("/dev/i2c-2", F_OK) == 0) GTEST_SKIP() << "this machine has an I2C bus 2";
  const RunResult r = runKovaSource("buses",
                                    "struct Cmd { uint8 : address; uint8 : size; };\n"
                                    "struct Frame { uint32 : identifier; uint8 : dlc; "
                                    "uint8 : data[8]; };\n"
                                    "var Cmd : i2c_2_cmd = {0x48, 2};\n"
                                    "var queue<uint8> : i2c_2_out[4];\n"
                                    "var queue<uint8> : ttyKOVA9_in[4];\n"
                                    "var queue<uint8> : ttyKOVA9_out[4];\n"
                                    "var queue<Frame> : can_kova0_in[2];\n"
                                    "processdef P() { state s { IO.println(\"running\"); } }\n"
                                    "process P : p[5 ms]();\n",
                                    "-q -t 12");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \n"
            "  => an I²C /dev/i2c-2 Failed to open the i2c bus.\n(cmd)\n"
            "  => an I²C /dev/i2c-2 Failed to open the i2c bus.\n(out)\n"
            "  => a serial read-write /dev/ttyKOVA9\n"
            "Error with serial /dev/ttyKOVA9: No such file or directory"
            "  => a serial read-write /dev/ttyKOVA9\n"
            "Error with serial /dev/ttyKOVA9: No such file or directory"
            "  => a CAN read_only kova0\n" +
                missingCanInterface("kova0") +
                "Quiet mode enabled\n"
                "[0.000000000000:PRINTLN] running\n"
                "[0.005000000000:PRINTLN] running\n"
                "[0.010000000000:PRINTLN] running\n"
                "EXIT (SUCCESS) AT 12ms (12000000000)\n");
}
