// The operating-system calls of the I2C, serial, CAN and UDP ports.
//
// Every call these modules make to the kernel goes through one table of
// function pointers, so that tests can put fakes in its place that record
// each call with its arguments and play back answers; nothing else in the
// modules touches a device or a socket. The real calls are the default.
//
// The signatures are those of the C library, with `ioctl` and `fcntl` given
// one fixed third argument (a pointer for ioctl: the I2C slave address is
// passed as an integer cast to a pointer, as the kernel reads it the same
// way). A failing call returns -1 and sets errno, fakes included.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <termios.h>

struct SysCalls {
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*ioctl)(int fd, unsigned long request, void* argument);
  int (*fcntl)(int fd, int command, int argument);
  int (*tcgetattr)(int fd, termios* settings);
  int (*tcsetattr)(int fd, int when, const termios* settings);
  int (*cfsetspeed)(termios* settings, speed_t speed);
  int (*socket)(int domain, int type, int protocol);
  int (*bind)(int fd, const sockaddr* address, socklen_t length);
  int (*setsockopt)(int fd, int level, int name, const void* value, socklen_t length);
  ssize_t (*sendto)(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
                    socklen_t toLength);
  ssize_t (*recvfrom)(int fd, void* buffer, size_t length, int flags, sockaddr* from,
                      socklen_t* fromLength);
};

// The C library's calls.
extern const SysCalls kRealSysCalls;

// The table in use.
const SysCalls& sysCalls();
// Puts `table` in use (it must outlive its use); null puts the real calls back.
void sysCalls_install(const SysCalls* table);
