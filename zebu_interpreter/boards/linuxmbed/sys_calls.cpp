#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int realOpen(const char* path, int flags) {
  return ::open(path, flags);
}
int realIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}
int realFcntl(int fd, int command, int argument) {
  return ::fcntl(fd, command, argument);
}

const SysCalls* current = &kRealSysCalls;

}  // namespace

const SysCalls kRealSysCalls = {
    .open = realOpen,
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .ioctl = realIoctl,
    .fcntl = realFcntl,
    .tcgetattr = ::tcgetattr,
    .tcsetattr = ::tcsetattr,
    .cfsetspeed = ::cfsetspeed,
    .socket = ::socket,
    .bind = ::bind,
    .setsockopt = ::setsockopt,
    .sendto = ::sendto,
    .recvfrom = ::recvfrom,
};

const SysCalls& sysCalls() {
  return *current;
}

void sysCalls_install(const SysCalls* table) {
  current = table != nullptr ? table : &kRealSysCalls;
}
