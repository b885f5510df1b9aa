// I2C buses on the fake system calls: binding, the exact transactions of an
// exchange, and what a failure leaves for the next synchronisation.
#include "zebu_interpreter/boards/linuxmbed/i2c.h"

#include <cerrno>

#include "tests/unit/zebu_interpreter/bus_fixture.h"

using namespace kova_test;

namespace {

struct I2cTest : BusTest {
  uint32_t bytes = NO_ID, command = NO_ID;
  uint32_t cmd = NO_ID, out = NO_ID, in = NO_ID;

  // Bus 1 with its three variables.
  void declareBus1() {
    command = b.structType("I2c_Command", {{"address", TypeUInt8}, {"size", TypeUInt8}});
    bytes = b.queueType(TypeUInt8, 8);
    cmd = b.global("i2c_1_cmd", command);
    out = b.global("i2c_1_out", bytes);
    in = b.global("i2c_1_in", bytes);
  }
  void request(uint8_t address, uint8_t size) {
    global(cmd).value[0].u64 = address;
    global(cmd).value[1].u64 = size;
  }
  Cells commandCells() { return {global(cmd).value[0].u64, global(cmd).value[1].u64}; }
};

}  // namespace

TEST_F(I2cTest, BindingOpensEachBusOnceAndSkipsABusThatCannotExchange) {
  declareBus1();
  b.global("i2c_0_in", bytes);     // bus 0: no cmd
  b.global("i2c_2_cmd", command);  // bus 2: no out
  b.global("x_i2c_2_in", bytes);
  b.global("i2c_1_out_spare", TypeUInt32);  // a later out of bus 1 that is no channel
  // Bus 1 fails first, then opens for its out variable.
  fake->script("open", {{.result = -1, .error = ENOENT}, {.result = 100}});
  EXPECT_EQ(start(),
            "  => an I²C /dev/i2c-1 Failed to open the i2c bus.\n(cmd)\n"
            "  => an I²C /dev/i2c-1 (out)\n"
            "  => an I²C /dev/i2c-1 (in)\n"
            "  => an I²C /dev/i2c-0 (in)\n"
            "  => an I²C /dev/i2c-2 (cmd)\n"
            "  => an I²C /dev/i2c-2 (in)\n"
            "  => an I²C /dev/i2c-1 (out)\n"
            "  => the I²C bus /dev/i2c-0 is not used: no cmd variable\n"
            "  => the I²C bus /dev/i2c-1 is not used: the out variable is not a byte channel\n"
            "  => the I²C bus /dev/i2c-2 is not used: no out variable\n");
  EXPECT_EQ(bound, (Calls{"open /dev/i2c-1 O_RDWR|O_SYNC", "open /dev/i2c-1 O_RDWR|O_SYNC",
                          "open /dev/i2c-0 O_RDWR|O_SYNC", "open /dev/i2c-2 O_RDWR|O_SYNC",
                          "close 101", "close 100", "close 102"}));
  // Closed buses never exchange, and exit has nothing left to close.
  request(0x48, 1);
  EXPECT_EQ(sync(), "");
  board_exit(env.get(), 0, 0);
  EXPECT_EQ(fake->take(), Calls{});
}

TEST_F(I2cTest, ExchangeCarriesTheQueuedBytesThenReadsTheAnswerInPiecesOfFive) {
  struct Case {
    const char* what;
    uint8_t address, size;
    Cells queued;
    std::vector<Answer> reads;
    Calls wire;
    Cells received;
    Cells left;  // still queued afterwards
    std::string printed;
  };
  const std::vector<uint8_t> five = {1, 2, 3, 4, 5};
  // clang-format off
  const Case cases[] = {
      {"register read", 0x48, 2, {0x00}, {{.bytes = {0x12, 0x34}}},
       {"ioctl 100 I2C_SLAVE 0x48", "write 100 [00]", "read 100 2", "read 100 0"}, {0x12, 0x34}},
      {"seven bytes", 0x20, 7, {}, {{.bytes = five}, {.bytes = {6, 7}}},
       {"ioctl 100 I2C_SLAVE 0x20", "write 100 []", "read 100 5", "read 100 2", "read 100 0"},
       {1, 2, 3, 4, 5, 6, 7}},
      {"short answers", 0x20, 4, {}, {{.bytes = {9}}, {.bytes = {8, 7, 6}}},
       {"ioctl 100 I2C_SLAVE 0x20", "write 100 []", "read 100 4", "read 100 3", "read 100 0"},
       {9, 8, 7, 6}},
      {"six queued, five sent", 0x10, 0, {1, 2, 3, 4, 5, 6}, {},
       {"ioctl 100 I2C_SLAVE 0x10", "write 100 [01 02 03 04 05]"}, {}, {6}},
      {"failed read ends the answer", 0x10, 3, {}, {{.result = -1, .error = EIO}},
       {"ioctl 100 I2C_SLAVE 0x10", "write 100 []", "read 100 3"}, {}},
      {"failed write, answer still read", 0x10, 1, {0xAB}, {{.bytes = {0xCD}}},
       {"ioctl 100 I2C_SLAVE 0x10", "write 100 [ab]", "read 100 1", "read 100 0"}, {0xCD}, {},
       "Failed to write to the i2c bus: Remote I/O error\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    declareBus1();
    start();
    for (uint64_t byte : c.queued) push(out, {byte});
    request(c.address, c.size);
    fake->script("read", c.reads);
    if (!c.printed.empty()) fake->script("write", {{.result = -1, .error = EREMOTEIO}});
    EXPECT_EQ(sync(), c.printed);
    EXPECT_EQ(fake->take(), c.wire);
    EXPECT_EQ(firstCells(in), c.received);
    EXPECT_EQ(firstCells(out), c.left);
    EXPECT_EQ(commandCells(), (Cells{0, 0}));  // the request is consumed
  }
}

TEST_F(I2cTest, FailedSlaveSelectionIsRetriedWithoutReading) {
  declareBus1();
  start();
  push(out, {0x01});
  push(out, {0x02});
  // Address 0 asks for nothing: the queued bytes stay.
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), Calls{});
  EXPECT_EQ(firstCells(out), (Cells{1, 2}));

  request(0x3C, 2);
  fake->script("ioctl", {{.result = -1, .error = EBUSY}});
  EXPECT_EQ(sync(), "Failed to acquire bus access and/or talk to slave.\n");
  EXPECT_EQ(fake->take(), Calls{"ioctl 100 I2C_SLAVE 0x3c"});
  EXPECT_EQ(commandCells(), (Cells{0x3C, 0}));
  EXPECT_EQ(firstCells(out), (Cells{1, 2}));

  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), (Calls{"ioctl 100 I2C_SLAVE 0x3c", "write 100 [01 02]"}));
  EXPECT_EQ(commandCells(), (Cells{0, 0}));
  board_exit(env.get(), 0, 0);
  EXPECT_EQ(fake->take(), Calls{"close 100"});
}
