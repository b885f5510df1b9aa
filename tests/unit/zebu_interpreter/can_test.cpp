// CAN interfaces on the fake system calls: binding, the 16-byte wire frames,
// refused writes retried, and every waiting frame received.
#include "zebu_interpreter/boards/linuxmbed/can.h"

#include <cerrno>
#include <cstring>

#include "tests/unit/zebu_interpreter/bus_fixture.h"

using namespace kova_test;

namespace {

using CanTest = BusTest;

// A received wire frame: identifier little-endian, dlc, padding, data.
std::vector<uint8_t> wire(uint32_t id, uint8_t dlc, std::vector<uint8_t> data) {
  std::vector<uint8_t> bytes = {
      uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24), dlc, 0, 0, 0};
  data.resize(8);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

}  // namespace

TEST_F(CanTest, BindingSharesOneSocketPerInterfaceAndReportsEachFailedStep) {
  const uint32_t queue = frames(4);
  b.global("can_vcan0_in", queue);
  b.global("can_vcan0_out", queue);
  b.global("can_can1_out", queue);
  b.global("can_can2_in", queue);
  b.global("can_can3_out", queue);
  b.global("can_bad_out", TypeUInt32);
  fake->script("socket", {{.result = 100}, {.result = -1, .error = EAFNOSUPPORT}});
  fake->script("ioctl", {{}, {.result = -1, .error = ENODEV}});
  fake->script("bind", {{}, {.result = -1, .error = EADDRNOTAVAIL}});
  EXPECT_EQ(start(),
            "  => a CAN read-write vcan0\n"
            "  => already a CAN\n"
            "  => a CAN write_only can1\n"
            "Error with CAN can1: Address family not supported by protocol"
            "  => a CAN read_only can2\n"
            "Error with CAN can2 ioctl: No such device"
            "  => a CAN write_only can3\n"
            "Error with CAN can3 socket binding: Cannot assign requested address"
            "  => the CAN bad is not bound: can_bad_out is not a channel of {identifier, dlc, "
            "data} frames\n");
  EXPECT_EQ(bound,
            (Calls{"socket AF_CAN SOCK_RAW CAN_RAW", "ioctl 100 SIOCGIFINDEX vcan0",
                   "bind 100 AF_CAN ifindex 7", "socket AF_CAN SOCK_RAW CAN_RAW",
                   "socket AF_CAN SOCK_RAW CAN_RAW", "ioctl 101 SIOCGIFINDEX can2", "close 101",
                   "socket AF_CAN SOCK_RAW CAN_RAW", "ioctl 102 SIOCGIFINDEX can3",
                   "bind 102 AF_CAN ifindex 7", "close 102"}));
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), Calls{"recvfrom 100 16 MSG_DONTWAIT"});
  board_exit(env.get(), 0, 0);
  EXPECT_EQ(fake->take(), Calls{"close 100"});
}

TEST_F(CanTest, FramesGoOutAsSixteenLittleEndianBytesWithOnlyDlcDataBytesFilled) {
  const uint32_t out = b.global("can_can0_out", frames(4));
  start();
  push(out, {0x123, 2, 0x11, 0x22, 0x33, 0x44});
  push(out, {0x80000123, 8, 1, 2, 3, 4, 5, 6, 7, 8});  // extended-format flag kept
  push(out, {0x7FF, 9, 1, 2, 3, 4, 5, 6, 7, 8});
  push(out, {0x42, 0});
  EXPECT_EQ(sync(), "CAN frame 0x7ff dropped: its dlc 9 is above 8\n");
  EXPECT_EQ(fake->take(), (Calls{"write 100 [23 01 00 00 02 00 00 00 11 22 00 00 00 00 00 00]",
                                 "write 100 [23 01 00 80 08 00 00 00 01 02 03 04 05 06 07 08]",
                                 "write 100 [42 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00]"}));
  EXPECT_TRUE(contents(out).empty());

  // The conversion leaves the padding and the unused data bytes alone.
  push(out, {0x123, 2, 0x11, 0x22, 0x33});
  can_frame frame;
  std::memset(&frame, 0xAA, sizeof frame);
  copy_kova_value_to_frame(env.get(), buffer_getIndexValue(env.get(), global(out), 0), &frame);
  uint8_t bytes[sizeof frame];
  std::memcpy(bytes, &frame, sizeof frame);
  EXPECT_EQ(hexBytes(bytes, sizeof bytes), "[23 01 00 00 02 aa aa aa 11 22 aa aa aa aa aa aa]");
}

TEST_F(CanTest, RefusedFramesStayQueuedAndAreRetriedAtTheNextSynchronisation) {
  const uint32_t out = b.global("can_can0_out", frames(4));
  start();
  push(out, {0x1, 1, 0xA1});
  push(out, {0x2, 1, 0xB2});
  const std::string first = "write 100 [01 00 00 00 01 00 00 00 a1 00 00 00 00 00 00 00]";
  const std::string second = "write 100 [02 00 00 00 01 00 00 00 b2 00 00 00 00 00 00 00]";
  // An incomplete write counts as refused, like a failed one.
  fake->script("write", {{.result = -1, .error = ENOBUFS}, {.result = 8}});
  fake->script("write", std::vector<Answer>(4, {.result = -1, .error = ENOBUFS}));
  EXPECT_EQ(sync(), "Failed to write to CAN: No buffer space available. Retrying...\n");
  EXPECT_EQ(fake->take(), (Calls{first, first, first}));
  EXPECT_EQ(firstCells(out), (Cells{1, 2}));
  // Still refused: no second message.
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), (Calls{first, first, first}));
  EXPECT_EQ(sync(), "Finally done.\n");
  EXPECT_EQ(fake->take(), (Calls{first, second}));
  EXPECT_TRUE(contents(out).empty());
  EXPECT_EQ(sync(), "");
}

TEST_F(CanTest, EveryWaitingFrameIsReceivedOldestFirst) {
  const uint32_t in = b.global("can_vcan0_in", frames(8));
  start();
  fake->script("recvfrom", {{.bytes = wire(0x100, 2, {1, 2, 3, 4, 5, 6, 7, 8})},
                            {.bytes = wire(0x9ABCDEF0, 8, {9, 9, 9, 9, 9, 9, 9, 9})},
                            {.bytes = wire(0x300, 0, {})}});
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), Calls(4, "recvfrom 100 16 MSG_DONTWAIT"));
  // All eight data bytes are taken, whatever the dlc.
  EXPECT_EQ(contents(in), (std::vector<Cells>{{0x100, 2, 1, 2, 3, 4, 5, 6, 7, 8},
                                              {0x9ABCDEF0, 8, 9, 9, 9, 9, 9, 9, 9, 9},
                                              {0x300, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));

  // A short frame is reported and pushed all the same; a read error ends the
  // reading.
  std::vector<uint8_t> shortFrame = wire(0x55, 1, {0x77});
  shortFrame.resize(6);
  fake->script("recvfrom", {{.bytes = shortFrame}, {.result = -1, .error = EIO}});
  EXPECT_EQ(sync(), "read: incomplete CAN frame\nFailed to read from CAN: Input/output error\n");
  EXPECT_EQ(contents(in).size(), 4u);
  EXPECT_EQ(contents(in).back(), (Cells{0x55, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CanTest, AFullInChannelIsReportedAndReadingStops) {
  const uint32_t in = b.global("can_vcan0_in", frames(2));
  start();
  for (uint32_t id = 1; id <= 5; ++id) fake->script("recvfrom", {{.bytes = wire(id, 0, {})}});
  sync();
  EXPECT_EQ(fake->take(), Calls(3, "recvfrom 100 16 MSG_DONTWAIT"));
  EXPECT_EQ(firstCells(in), (Cells{1, 2}));
  ASSERT_EQ(host->invalidOps.size(), 1u);
  EXPECT_EQ(host->invalidOps[0].kind, 4u);  // queue full
}
