#include "tests/support/fake_syscalls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/can.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

namespace kova_test {

namespace {

FakeSysCalls* active = nullptr;

void record(std::string line) {
  active->calls.push_back(std::move(line));
}

// The scripted answer, or `fallback` as a result.
Answer answerFor(const char* call, long fallback) {
  Answer answer{.result = fallback};
  active->next(call, &answer);
  return answer;
}

long fail(const Answer& answer) {
  errno = answer.error;
  return -1;
}

// The scripted result, or `fallback`; -1 sets errno.
long resultOf(const char* call, long fallback = 0) {
  const Answer answer = answerFor(call, fallback);
  return answer.result < 0 ? fail(answer) : answer.result;
}

// A new descriptor, numbered in turn, unless the script says otherwise.
int newDescriptor(const char* call) {
  const Answer answer = answerFor(call, active->nextFd);
  if (answer.result < 0) return static_cast<int>(fail(answer));
  ++active->nextFd;
  return static_cast<int>(answer.result);
}

// What a read or receive delivers into `buffer`.
ssize_t deliver(const Answer& answer, void* buffer, size_t count) {
  if (answer.result < 0) return fail(answer);
  const size_t n = std::min(answer.bytes.size(), count);
  if (n > 0) std::memcpy(buffer, answer.bytes.data(), n);
  return answer.result != 0 ? answer.result : static_cast<ssize_t>(n);
}

std::string openFlags(int flags) {
  std::string text = (flags & O_ACCMODE) == O_RDWR     ? "O_RDWR"
                     : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY"
                                                       : "O_RDONLY";
  if ((flags & O_SYNC) == O_SYNC) text += "|O_SYNC";
  if ((flags & O_NONBLOCK) != 0) text += "|O_NONBLOCK";
  if ((flags & O_NOCTTY) != 0) text += "|O_NOCTTY";
  return text;
}

std::string ipv4(const void* address) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, address, text, sizeof text);
  return text;
}

int fakeOpen(const char* path, int flags) {
  record("open " + std::string(path) + " " + openFlags(flags));
  return newDescriptor("open");
}

int fakeClose(int fd) {
  record("close " + std::to_string(fd));
  return 0;
}

ssize_t fakeRead(int fd, void* buffer, size_t count) {
  record("read " + std::to_string(fd) + " " + std::to_string(count));
  return deliver(answerFor("read", 0), buffer, count);
}

ssize_t fakeWrite(int fd, const void* buffer, size_t count) {
  record("write " + std::to_string(fd) + " " +
         hexBytes(static_cast<const uint8_t*>(buffer), count));
  return resultOf("write", static_cast<long>(count));
}

int fakeIoctl(int fd, unsigned long request, void* argument) {
  std::string line = "ioctl " + std::to_string(fd) + " ";
  if (request == 0x0703) {
    char address[8];
    std::snprintf(address, sizeof address, "%#lx", reinterpret_cast<unsigned long>(argument));
    line += "I2C_SLAVE " + std::string(address);
  } else if (request == SIOCGIFINDEX) {
    line += "SIOCGIFINDEX " + std::string(static_cast<ifreq*>(argument)->ifr_name);
  } else {
    line += std::to_string(request);
  }
  record(line);
  const long result = resultOf("ioctl");
  if (result >= 0 && request == SIOCGIFINDEX) static_cast<ifreq*>(argument)->ifr_ifindex = 7;
  return static_cast<int>(result);
}

int fakeFcntl(int fd, int command, int argument) {
  std::string line = "fcntl " + std::to_string(fd);
  if (command == F_GETFL) line += " F_GETFL";
  if (command == F_SETFL) line += " F_SETFL " + openFlags(argument);
  record(line);
  return static_cast<int>(answerFor("fcntl", command == F_GETFL ? O_RDWR : 0).result);
}

int fakeTcgetattr(int fd, termios* settings) {
  record("tcgetattr " + std::to_string(fd));
  if (resultOf("tcgetattr") < 0) return -1;
  *settings = active->device;
  return 0;
}

int fakeTcsetattr(int fd, int when, const termios* settings) {
  record("tcsetattr " + std::to_string(fd) + (when == TCSANOW ? " TCSANOW" : " later"));
  active->applied = *settings;
  return 0;
}

int fakeCfsetspeed(termios* settings, speed_t speed) {
  record(speed == B9600 ? "cfsetspeed B9600" : "cfsetspeed " + std::to_string(speed));
  return cfsetspeed(settings, speed);
}

int fakeSocket(int domain, int type, int protocol) {
  record(domain == AF_CAN && type == SOCK_RAW && protocol == CAN_RAW
             ? "socket AF_CAN SOCK_RAW CAN_RAW"
         : domain == AF_INET && type == SOCK_DGRAM && protocol == 0
             ? "socket AF_INET SOCK_DGRAM 0"
             : "socket " + std::to_string(domain) + " " + std::to_string(type));
  return newDescriptor("socket");
}

std::string addressText(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return ipv4(&in->sin_addr) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (address->sa_family == AF_CAN) {
    return "AF_CAN ifindex " +
           std::to_string(reinterpret_cast<const sockaddr_can*>(address)->can_ifindex);
  }
  return "family " + std::to_string(address->sa_family);
}

int fakeBind(int fd, const sockaddr* address, socklen_t) {
  record("bind " + std::to_string(fd) + " " + addressText(address));
  return static_cast<int>(resultOf("bind"));
}

int fakeSetsockopt(int fd, int level, int name, const void* value, socklen_t) {
  std::string line = "setsockopt " + std::to_string(fd);
  if (level == SOL_SOCKET && (name == SO_REUSEADDR || name == SO_BROADCAST)) {
    line += std::string(name == SO_REUSEADDR ? " SO_REUSEADDR " : " SO_BROADCAST ") +
            std::to_string(*static_cast<const int*>(value));
  } else if (level == IPPROTO_IP && name == IP_ADD_MEMBERSHIP) {
    const auto* membership = static_cast<const ip_mreq*>(value);
    line += " IP_ADD_MEMBERSHIP " + ipv4(&membership->imr_multiaddr) + " " +
            ipv4(&membership->imr_interface);
  } else {
    line += " " + std::to_string(level) + " " + std::to_string(name);
  }
  record(line);
  return static_cast<int>(resultOf("setsockopt"));
}

ssize_t fakeSendto(int fd, const void* buffer, size_t length, int, const sockaddr* to, socklen_t) {
  record("sendto " + std::to_string(fd) + " " + addressText(to) + " " +
         hexBytes(static_cast<const uint8_t*>(buffer), length));
  return resultOf("sendto", static_cast<long>(length));
}

ssize_t fakeRecvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from,
                     socklen_t* fromLength) {
  record("recvfrom " + std::to_string(fd) + " " + std::to_string(length) +
         (flags == MSG_DONTWAIT ? " MSG_DONTWAIT"
          : flags == 0          ? ""
                                : " flags"));
  Answer answer{.result = -1, .error = EAGAIN};  // kept when nothing is scripted
  active->next("recvfrom", &answer);
  if (answer.result < 0) return fail(answer);
  if (from != nullptr && fromLength != nullptr && *fromLength >= sizeof(sockaddr_in)) {
    auto* in = reinterpret_cast<sockaddr_in*>(from);
    in->sin_family = AF_INET;
    inet_pton(AF_INET, answer.from.c_str(), &in->sin_addr);
    *fromLength = sizeof(sockaddr_in);
  }
  return deliver(answer, buffer, length);
}

const SysCalls kFakeTable = {
    .open = fakeOpen,
    .close = fakeClose,
    .read = fakeRead,
    .write = fakeWrite,
    .ioctl = fakeIoctl,
    .fcntl = fakeFcntl,
    .tcgetattr = fakeTcgetattr,
    .tcsetattr = fakeTcsetattr,
    .cfsetspeed = fakeCfsetspeed,
    .socket = fakeSocket,
    .bind = fakeBind,
    .setsockopt = fakeSetsockopt,
    .sendto = fakeSendto,
    .recvfrom = fakeRecvfrom,
};

}  // namespace

FakeSysCalls::FakeSysCalls() {
  active = this;
  sysCalls_install(&kFakeTable);
}

FakeSysCalls::~FakeSysCalls() {
  sysCalls_install(nullptr);
  active = nullptr;
}

void FakeSysCalls::script(const std::string& call, const std::vector<Answer>& answers) {
  scripts_[call].insert(scripts_[call].end(), answers.begin(), answers.end());
}

bool FakeSysCalls::next(const std::string& call, Answer* answer) {
  auto found = scripts_.find(call);
  if (found == scripts_.end() || found->second.empty()) return false;
  *answer = std::move(found->second.front());
  found->second.pop_front();
  return true;
}

std::vector<std::string> FakeSysCalls::take() {
  std::vector<std::string> taken;
  taken.swap(calls);
  return taken;
}

std::string hexBytes(const uint8_t* bytes, size_t count) {
  std::string text = "[";
  for (size_t i = 0; i < count; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += byte;
  }
  return text + "]";
}

}  // namespace kova_test
