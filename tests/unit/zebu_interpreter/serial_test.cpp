// Serial ttys: binding and line settings, byte transfers on the fake system
// calls, and a real exchange over a pseudo-terminal.
#include "zebu_interpreter/boards/linuxmbed/serial.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/unit/zebu_interpreter/bus_fixture.h"
#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

using namespace kova_test;

namespace {

struct SerialTest : BusTest {
  uint32_t queue(uint32_t capacity) { return b.queueType(TypeUInt8, capacity); }
};

}  // namespace

TEST_F(SerialTest, BindingSharesOneDescriptorPerTtyAndSetsTheLine) {
  const uint32_t bytes = queue(16);
  b.global("ttyS9_in", bytes);  // its open fails; its partner tries again
  const uint32_t s0in = b.global("ttyS0_in", bytes);
  const uint32_t s0out = b.global("ttyS0_out", bytes);
  const uint32_t usb = b.global("ttyUSB0_out", bytes);
  b.global("ttyAMA0_in", bytes);
  b.global("ttyS9_out", bytes);
  b.global("ttyS2_out", TypeUInt32);
  fake->script("open", {{.result = -1, .error = ENOENT}});
  fake->device.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CREAD | CLOCAL;
  fake->device.c_iflag = IGNBRK | IXON;
  fake->device.c_lflag = ICANON;
  cfsetspeed(&fake->device, B115200);
  EXPECT_EQ(start(),
            "  => a serial read-write /dev/ttyS9\n"
            "Error with serial /dev/ttyS9: No such file or directory"
            "  => a serial read-write /dev/ttyS0\n"
            "  => already a serial\n"
            "  => a serial write_only /dev/ttyUSB0\n"
            "  => a serial read_only /dev/ttyAMA0\n"
            "  => a serial read-write /dev/ttyS9\n"
            "  => the serial /dev/ttyS2 is not bound: ttyS2_out is not a byte channel\n");
  const auto opened = [](const std::string& path, const char* mode, int fd) {
    const std::string d = std::to_string(fd);
    return Calls{"open " + path + " " + mode + "|O_SYNC|O_NONBLOCK|O_NOCTTY", "tcgetattr " + d,
                 "cfsetspeed B9600", "tcsetattr " + d + " TCSANOW"};
  };
  Calls expected{"open /dev/ttyS9 O_RDWR|O_SYNC|O_NONBLOCK|O_NOCTTY"};
  for (const Calls& calls :
       {opened("/dev/ttyS0", "O_RDWR", 100), opened("/dev/ttyUSB0", "O_WRONLY", 101),
        opened("/dev/ttyAMA0", "O_RDONLY", 102), opened("/dev/ttyS9", "O_RDWR", 103)}) {
    expected.insert(expected.end(), calls.begin(), calls.end());
  }
  EXPECT_EQ(bound, expected);
  // 9600 baud, 8 data bits, no parity, one stop bit, RTS/CTS; the rest kept.
  const termios& line = fake->applied;
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & ~CBAUD, static_cast<tcflag_t>(CS8 | CRTSCTS | CREAD | CLOCAL));
  EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(IGNBRK | IXON));
  EXPECT_EQ(line.c_lflag, static_cast<tcflag_t>(ICANON));

  // Outputs first, one byte per write, then every input.
  push(s0out, {'a'});
  push(s0out, {'b'});
  push(usb, {'c'});
  fake->script("read", {{.bytes = {'x', 'y'}}});
  EXPECT_EQ(sync(), "");
  EXPECT_EQ(fake->take(), (Calls{"write 100 [61]", "write 100 [62]", "write 101 [63]", "read 100 8",
                                 "read 100 6", "read 102 8", "read 103 8"}));
  EXPECT_EQ(firstCells(s0in), (Cells{'x', 'y'}));
  board_exit(env.get(), 0, 0);
  EXPECT_EQ(fake->take(), (Calls{"close 100", "close 101", "close 103", "close 102"}));
}

TEST_F(SerialTest, InputTakesAtMostTheRoomLeftAndEightBytes) {
  struct Case {
    uint32_t capacity, held;
    std::vector<Answer> reads;
    Calls calls;
    size_t received;
  };
  // clang-format off
  const Case cases[] = {
      {4, 3, {{.bytes = {1, 2}}}, {"read 100 1", "read 100 0"}, 1},
      {4, 4, {}, {"read 100 0"}, 0},
      {16, 0, {{.bytes = {1, 2, 3, 4, 5}}, {.bytes = {6, 7, 8}}},
       {"read 100 8", "read 100 3", "read 100 0"}, 8},
      {16, 0, {{.bytes = {1, 2}}}, {"read 100 8", "read 100 6"}, 2},
      {16, 0, {{.result = -1, .error = EAGAIN}}, {"read 100 8"}, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.capacity << " " << c.held);
    restart();
    const uint32_t in = b.global("ttyS0_in", queue(c.capacity));
    start();
    for (uint32_t i = 0; i < c.held; ++i) push(in, {0xEE});
    fake->script("read", c.reads);
    sync();
    EXPECT_EQ(fake->take(), c.calls);
    EXPECT_EQ(contents(in).size(), c.held + c.received);
  }
}

TEST_F(SerialTest, OutputIsDrainedOneBytePerWriteAndARefusedByteIsLost) {
  const uint32_t out = b.global("ttyUSB0_out", queue(10));
  start();
  for (uint8_t byte = 0; byte < 10; ++byte) push(out, {byte});
  fake->script("write", {{}, {.result = -1, .error = EAGAIN}});
  EXPECT_EQ(sync(), "");
  Calls expected;
  for (int byte = 0; byte < 10; ++byte)
    expected.push_back("write 100 [0" + std::to_string(byte) + "]");
  EXPECT_EQ(fake->take(), expected);
  EXPECT_TRUE(contents(out).empty());
}

namespace {

std::string ptyPath;

// The real calls, with the made-up tty name standing for the pseudo-terminal.
int openPty(const char* path, int flags) {
  return kRealSysCalls.open(std::string(path) == "/dev/ttyPTY0" ? ptyPath.c_str() : path, flags);
}

// Waits, at most two seconds, until `count` bytes can be read from fd.
bool waitReadable(int fd, int count) {
  for (int tries = 0; tries < 200; ++tries) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST_F(SerialTest, ExchangesBytesOverARealPseudoTerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminal available";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ptyPath = ptsname(master);
  // A raw line passes every byte as it is, without echo.
  termios raw{};
  ASSERT_EQ(tcgetattr(master, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(master, TCSANOW, &raw), 0);
  const int watcher = open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(watcher, 0);

  fake.reset();
  SysCalls calls = kRealSysCalls;
  calls.open = openPty;
  sysCalls_install(&calls);
  const uint32_t in = b.global("ttyPTY0_in", queue(16));
  const uint32_t out = b.global("ttyPTY0_out", queue(16));
  EXPECT_EQ(start(), "  => a serial read-write /dev/ttyPTY0\n  => already a serial\n");

  termios line{};
  ASSERT_EQ(tcgetattr(watcher, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_lflag & ECHO, 0u);  // left as it was

  for (const char c : std::string("ping")) push(out, {static_cast<uint8_t>(c)});
  sync();
  // Each byte was a write of its own: wait until all four have come through.
  char sent[8] = {};
  ASSERT_TRUE(waitReadable(master, 4));
  EXPECT_EQ(read(master, sent, sizeof sent), 4);
  EXPECT_STREQ(sent, "ping");

  ASSERT_EQ(write(master, "0123456789", 10), 10);
  ASSERT_TRUE(waitReadable(watcher, 10));
  sync();
  EXPECT_EQ(firstCells(in), (Cells{'0', '1', '2', '3', '4', '5', '6', '7'}));
  sync();
  EXPECT_EQ(contents(in).size(), 10u);

  board_exit(env.get(), 0, 0);
  sysCalls_install(nullptr);
  close(watcher);
  close(master);
}
