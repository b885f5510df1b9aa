// A fake of the ports' system-call table: records every call as one line of
// text, with the bytes that would go on the wire in hex, and answers from a
// script, so tests can assert exactly what a bus carries.
//
// Lines read, for example:
//   open /dev/i2c-1 O_RDWR|O_SYNC
//   ioctl 100 I2C_SLAVE 0x48
//   write 100 [48 00]
//   read 100 5
//   sendto 101 192.168.1.255:5000 [61 62 63]
// Descriptors are numbered from 100 in the order open and socket hand them
// out. A call without a scripted answer succeeds: reads and receives find no
// data (0, and -1 with EAGAIN for recvfrom), writes and sends take
// everything, SIOCGIFINDEX gives interface 7, tcgetattr gives `device`.
#pragma once

#include <termios.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace kova_test {

struct Answer {
  long result = 0;               // the return value (for reads: bytes.size() when left at 0)
  int error = 0;                 // errno when result is -1
  std::vector<uint8_t> bytes;    // what a read or receive delivers
  std::string from = "0.0.0.0";  // the sender of a received datagram
};

class FakeSysCalls {
 public:
  // Puts itself in use; the destructor puts the real calls back.
  FakeSysCalls();
  ~FakeSysCalls();
  FakeSysCalls(const FakeSysCalls&) = delete;
  FakeSysCalls& operator=(const FakeSysCalls&) = delete;

  // The next answers of the call named `call` ("read", "ioctl", ...), in turn.
  void script(const std::string& call, const std::vector<Answer>& answers);
  // The calls made so far, then forgotten.
  std::vector<std::string> take();

  std::vector<std::string> calls;
  termios device{};   // the settings tcgetattr reports
  termios applied{};  // the last settings given to tcsetattr
  int nextFd = 100;

  // Internal: the next scripted answer of a call, if any.
  bool next(const std::string& call, Answer* answer);

 private:
  std::map<std::string, std::deque<Answer>> scripts_;
};

// "[01 ab]": bytes in hex, as the recorded lines show them.
std::string hexBytes(const uint8_t* bytes, size_t count);

}  // namespace kova_test
