#include "zebu_interpreter/boards/linuxmbed/serial.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "ASTLib/rAST.h"
#include "interpreterLib/buffer.h"
#include "zebu_interpreter/boards/linuxmbed/ports.h"
#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

std::array<SerialPort, kSerialPortCount> output_serials;
std::array<SerialPort, kSerialPortCount> input_serials;
uint32_t output_serials_size = 0;
uint32_t input_serials_size = 0;

namespace {

constexpr SerialPort kFree{0, NO_ID};

bool is_already_initialised(uint32_t varIndex) {
  for (uint32_t i = 0; i < input_serials_size; ++i) {
    if (input_serials[i].varIndex == varIndex) return true;
  }
  for (uint32_t i = 0; i < output_serials_size; ++i) {
    if (output_serials[i].varIndex == varIndex) return true;
  }
  return false;
}

// 9600 8N1 with RTS/CTS; the rest of the device's settings stay.
void applyLineSettings(int fd) {
  const SysCalls& sys = sysCalls();
  termios settings{};
  if (sys.tcgetattr(fd, &settings) != 0) return;
  sys.cfsetspeed(&settings, B9600);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  settings.c_cflag |= CS8 | CRTSCTS;
  sys.tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

void serials_init() {
  output_serials.fill(kFree);
  input_serials.fill(kFree);
  output_serials_size = 0;
  input_serials_size = 0;
}

void init_serial(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex,
                 InterpEnv* env) {
  if (is_already_initialised(varIndex)) {
    std::printf("  => already a serial\n");
    return;
  }
  const std::string path = "/dev/" + port_subMatch(name, matches[1].rm_so, matches[1].rm_eo);
  const PortBinding binding = port_binding(env, name, matches[2].rm_so, varIndex);
  if ((binding.reads() && input_serials_size == kSerialPortCount) ||
      (binding.writes() && output_serials_size == kSerialPortCount)) {
    std::printf("  => no room for the serial %s: at most %u inputs and %u outputs\n", path.c_str(),
                kSerialPortCount, kSerialPortCount);
    return;
  }
  for (const uint32_t var : {binding.inVar, binding.outVar}) {
    if (var != NO_ID && !port_isByteChannel(env, port_channel(env, var))) {
      std::printf("  => the serial %s is not bound: %s is not a byte channel\n", path.c_str(),
                  GlobalVariable_getName(env->program.get(), var));
      return;
    }
  }
  std::printf("  => a serial %s %s\n", port_modeName(binding.mode), path.c_str());

  const int access = binding.mode == PortMode::kReadWrite  ? O_RDWR
                     : binding.mode == PortMode::kReadOnly ? O_RDONLY
                                                           : O_WRONLY;
  const int fd = sysCalls().open(path.c_str(), access | O_SYNC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    std::printf("Error with serial %s: %s", path.c_str(), std::strerror(error));
    return;
  }
  if (binding.reads()) input_serials[input_serials_size++] = {fd, binding.inVar};
  if (binding.writes()) output_serials[output_serials_size++] = {fd, binding.outVar};
  applyLineSettings(fd);
}

void sync_serials(InterpEnv* env) {
  for (uint32_t i = 0; i < output_serials_size; ++i) {
    const SerialPort& port = output_serials[i];
    serial_output(env, port_channel(env, port.varIndex), port.fd);
  }
  for (uint32_t i = 0; i < input_serials_size; ++i) {
    const SerialPort& port = input_serials[i];
    serial_input(env, port_channel(env, port.varIndex), port.fd, port.varIndex);
  }
}

void serial_output(InterpEnv* env, TaggedValue channel, int32_t fd) {
  if (!port_isByteChannel(env, channel)) return;
  // The count bounds the loop even if the channel's index cells were damaged.
  for (uint32_t n = channel_count(env, channel); n > 0 && !is_channel_empty(env, channel); --n) {
    const TaggedValue element = channel_pop(env, nullptr, channel);
    if (element.value == nullptr) return;
    const uint8_t byte = element.value->u8;
    sysCalls().write(fd, &byte, 1);  // a byte the device refuses is lost
  }
}

void serial_input(InterpEnv* env, TaggedValue channel, int32_t fd, uint32_t varIndex) {
  if (!port_isByteChannel(env, channel)) return;
  const uint32_t capacity = env->program->typeTable[channel.typeId].size;
  const uint32_t count = channel_count(env, channel);
  size_t wanted = std::min(capacity - std::min(count, capacity), kSerialReadChunk);
  uint8_t buffer[kSerialReadChunk];
  for (;;) {
    const ssize_t got = sysCalls().read(fd, buffer, wanted);
    if (got < 1) break;
    const size_t n = std::min(static_cast<size_t>(got), wanted);
    for (size_t i = 0; i < n; ++i) port_pushByte(env, varIndex, buffer[i]);
    wanted -= n;
  }
}

void serials_close() {
  int closed[2 * kSerialPortCount];
  size_t closedCount = 0;
  auto closeOnce = [&](const SerialPort& port) {
    if (port.fd == 0 || std::find(closed, closed + closedCount, port.fd) != closed + closedCount) {
      return;
    }
    sysCalls().close(port.fd);
    closed[closedCount++] = port.fd;
  };
  std::for_each(output_serials.begin(), output_serials.begin() + output_serials_size, closeOnce);
  std::for_each(input_serials.begin(), input_serials.begin() + input_serials_size, closeOnce);
  serials_init();
}
