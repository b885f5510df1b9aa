#include "zebu_interpreter/boards/linuxmbed/i2c.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "interpreterLib/buffer.h"
#include "zebu_interpreter/boards/linuxmbed/ports.h"
#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

std::array<I2cPort, kI2cBusCount> i2c_ports;

namespace {

std::string devicePath(int bus) {
  return "/dev/i2c-" + std::to_string(bus);
}

// Why a bound bus cannot exchange, or null when it can.
const char* unusable(InterpEnv* env, const I2cPort& port) {
  const Program* program = env->program.get();
  if (port.cmdVar == NO_ID) return "no cmd variable";
  if (port.outVar == NO_ID) return "no out variable";
  const TypeRecord& cmd = program->typeTable[program->globalVariableTable[port.cmdVar].typeId];
  if (cmd.bufferType != NONE_BUFFER || cmd.baseType != TypeStructure || cmd.storageSize < 2) {
    return "the cmd variable is not an {address, size} structure";
  }
  if (!port_isByteChannel(env, port_channel(env, port.outVar))) {
    return "the out variable is not a byte channel";
  }
  if (port.inVar != NO_ID && !port_isByteChannel(env, port_channel(env, port.inVar))) {
    return "the in variable is not a byte channel";
  }
  return nullptr;
}

}  // namespace

void i2c_ports_init() {
  i2c_ports.fill(I2cPort{0, NO_ID, NO_ID, NO_ID});
}

void init_port_i2c(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex) {
  const int bus = name[matches[1].rm_so] - '0';
  I2cPort& port = i2c_ports[bus];
  const std::string path = devicePath(bus);
  std::printf("  => an I²C %s ", path.c_str());
  if (port.fd == 0) {
    const int fd = sysCalls().open(path.c_str(), O_RDWR | O_SYNC);
    if (fd < 0) {
      std::printf("Failed to open the i2c bus.\n");
    } else {
      port.fd = fd;
    }
  }
  switch (name[matches[2].rm_so]) {
    case 'c':
      std::printf("(cmd)\n");
      port.cmdVar = varIndex;
      break;
    case 'o':
      std::printf("(out)\n");
      port.outVar = varIndex;
      break;
    default:
      std::printf("(in)\n");
      port.inVar = varIndex;
      break;
  }
}

void i2c_ports_check(InterpEnv* env) {
  for (int bus = 0; bus < kI2cBusCount; ++bus) {
    I2cPort& port = i2c_ports[bus];
    if (port.fd == 0) continue;
    const char* reason = unusable(env, port);
    if (reason == nullptr) continue;
    std::printf("  => the I²C bus %s is not used: %s\n", devicePath(bus).c_str(), reason);
    sysCalls().close(port.fd);
    port.fd = 0;
  }
}

void sync_i2c(InterpEnv* env) {
  for (const I2cPort& port : i2c_ports) {
    if (port.fd != 0) sync_i2c_port(env, port.fd, port.cmdVar, port.outVar, port.inVar);
  }
}

void sync_i2c_port(InterpEnv* env, int32_t fd, uint32_t cmdVar, uint32_t outVar, uint32_t inVar) {
  const SysCalls& sys = sysCalls();
  ValueCell* command = env->program->globalVariableTable[cmdVar].value;
  const uint8_t address = command[0].u8;
  const uint8_t size = command[1].u8;
  if (address == 0) return;

  if (sys.ioctl(fd, kI2cSlave, reinterpret_cast<void*>(uintptr_t{address})) < 0) {
    std::printf("Failed to acquire bus access and/or talk to slave.\n");
    command[1].u64 = 0;
    return;
  }

  uint8_t buffer[kI2cChunk];
  const TaggedValue out = port_channel(env, outVar);
  const uint32_t count = std::min(channel_count(env, out), kI2cChunk);
  for (uint32_t i = 0; i < count; ++i) {
    const TaggedValue element = channel_pop(env, nullptr, out);
    buffer[i] = element.value != nullptr ? element.value->u8 : 0;
  }
  // One transaction, also when nothing is queued: a bare write addresses
  // the slave, which some devices take as a command.
  if (sys.write(fd, buffer, count) < static_cast<ssize_t>(count)) {
    std::printf("Failed to write to the i2c bus: %s\n", std::strerror(errno));
  }

  if (size != 0) {
    size_t remaining = size;
    for (;;) {
      const size_t asked = std::min<size_t>(kI2cChunk, remaining);
      const ssize_t got = sys.read(fd, buffer, asked);
      if (got <= 0) break;
      const size_t n = std::min(static_cast<size_t>(got), asked);
      for (size_t i = 0; i < n; ++i) port_pushByte(env, inVar, buffer[i]);
      remaining -= n;
    }
  }
  command[0].u64 = 0;
  command[1].u64 = 0;
}

void i2c_ports_close() {
  for (I2cPort& port : i2c_ports) {
    if (port.fd != 0) sysCalls().close(port.fd);
    port = I2cPort{0, NO_ID, NO_ID, NO_ID};
  }
}
