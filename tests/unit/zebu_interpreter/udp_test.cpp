// UDP ports: binding from hardware annotations and the exact datagrams on
// the fake system calls. (Real datagrams on the loopback interface: the
// golden test UdpPingPong.)
#include "zebu_interpreter/udp.h"

#include <cerrno>

#include "tests/unit/zebu_interpreter/bus_fixture.h"

using namespace kova_test;

namespace {

struct UdpTest : BusTest {
  UdpTest() { b = ProgramBuilder({.udpTypes = true}); }
};

// An address as the program writes a group: its bytes in memory order.
uint32_t group(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return a | b << 8 | c << 16 | uint32_t{d} << 24;
}

// A message's cells; the payload is padded with zeros to `cells` cells.
Cells message(Cells address, uint64_t length, const std::string& payload, size_t cells = 0) {
  Cells all = address;
  all.push_back(length);
  for (const char c : payload) all.push_back(static_cast<uint8_t>(c));
  all.resize(std::max(all.size(), kUdpHeaderCells + cells));
  return all;
}

}  // namespace

TEST_F(UdpTest, BindingOpensInputsAndOutputsAndJoinsGroups) {
  const uint32_t queue = messages(8);
  annotate(b.global("rx", queue), 5000, "HW_INPUT", group(239, 1, 2, 3));
  annotate(b.global("tx", queue), 6000, "HW_OUTPUT");
  annotate(b.global("lonely", queue), std::nullopt, "", group(239, 9, 9, 9));
  annotate(b.global("tiny", b.queueType(TypeUInt8, 4)), 6001, "HW_OUTPUT");
  annotate(b.global("nosocket", queue), 6002, "HW_OUTPUT");
  annotate(b.global("taken", queue), 5001, "HW_INPUT");
  fake->script(
      "socket",
      {{.result = 100}, {.result = 101}, {.result = 102}, {.result = -1, .error = EMFILE}});
  fake->script("bind", {{}, {.result = -1, .error = EADDRINUSE}});
  EXPECT_EQ(start(), "Udp Port buffer too small\n*** ERROR - socket() failed \nERROR on binding");
  EXPECT_EQ(bound,
            (Calls{"socket AF_INET SOCK_DGRAM 0", "fcntl 100 F_GETFL",
                   "fcntl 100 F_SETFL O_RDWR|O_NONBLOCK", "setsockopt 100 SO_REUSEADDR 1",
                   "bind 100 0.0.0.0:5000", "setsockopt 100 IP_ADD_MEMBERSHIP 239.1.2.3 0.0.0.0",
                   "socket AF_INET SOCK_DGRAM 0", "setsockopt 101 SO_BROADCAST 1",
                   "socket AF_INET SOCK_DGRAM 0", "setsockopt 102 SO_BROADCAST 1",
                   "socket AF_INET SOCK_DGRAM 0", "socket AF_INET SOCK_DGRAM 0",
                   "fcntl 103 F_GETFL", "fcntl 103 F_SETFL O_RDWR|O_NONBLOCK",
                   "setsockopt 103 SO_REUSEADDR 1", "bind 103 0.0.0.0:5001"}));
  // The port with too small messages never exchanges; the one whose binding
  // failed still listens, in vain.
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), (Calls{"recvfrom 100 8", "recvfrom 103 8"}));
  board_exit(env.get(), 0, 0);
  EXPECT_EQ(fake->take(), (Calls{"close 100", "close 101", "close 102", "close 103"}));
}

// No datagram exceeds 65529 bytes, whatever the capacity.
TEST_F(UdpTest, EveryPushedMessageGoesOutCutToItsCapacity) {
  const uint32_t tx = b.global("tx", messages(4));
  const uint32_t big = b.global("big", messages(kUdpMaxPayload + 1, 1));
  annotate(tx, 5000, "HW_OUTPUT");
  annotate(big, 5001, "HW_OUTPUT");
  start();
  push(tx, message({127, 0, 0, 255}, 3, "abcd"));
  push(tx, message({127, 0, 0, 7}, 9, "wxyz"));
  push(tx, message({127, 0, 0, 8}, 1, "lost"));
  push(tx, message({127, 0, 0, 9}, 0, ""));
  push(big, message({127, 0, 0, 1}, 65535, std::string(kUdpMaxPayload + 1, 'x')));
  fake->script("sendto", {{}, {}, {.result = -1, .error = ENETUNREACH}});
  EXPECT_EQ(sync(), "");
  const std::vector<uint8_t> x(kUdpMaxPayload, 'x');
  EXPECT_EQ(fake->take(), (Calls{"sendto 100 127.0.0.255:5000 [61 62 63]",
                                 "sendto 100 127.0.0.7:5000 [77 78 79 7a]",
                                 "sendto 100 127.0.0.8:5000 [6c]", "sendto 100 127.0.0.9:5000 []",
                                 "sendto 101 127.0.0.1:5001 " + hexBytes(x.data(), x.size())}));
  EXPECT_TRUE(contents(tx).empty());
}

TEST_F(UdpTest, AnInputPortTakesOneDatagramPerSynchronisation) {
  const uint32_t rx = b.global("rx", messages(4));
  annotate(rx, 5000, "HW_INPUT");
  start();
  fake->script("recvfrom", {{.bytes = {'h', 'e', 'l', 'l', 'o'}, .from = "127.0.0.9"},
                            {.bytes = {'h', 'i'}, .from = "127.1.2.3"}});
  for (int i = 0; i < 3; ++i) sync();
  EXPECT_EQ(fake->take(), Calls(3, "recvfrom 100 4"));
  // The sender's address, the length received, the payload cut to the
  // capacity, the rest of the payload cleared.
  EXPECT_EQ(contents(rx), (std::vector<Cells>{message({127, 0, 0, 9}, 4, "hell"),
                                              message({127, 1, 2, 3}, 2, "hi", 4)}));
}

TEST_F(UdpTest, AGroupThatCannotBeJoinedEndsTheProcess) {
  annotate(b.global("rx", messages(4)), 5000, "HW_INPUT", group(239, 1, 2, 3));
  fake->script("setsockopt", {{}, {.result = -1, .error = ENODEV}});
  EXPECT_EXIT(start(), testing::ExitedWithCode(1), "^setsockopt: No such device\n$");
}
