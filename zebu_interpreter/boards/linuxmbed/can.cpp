#include "zebu_interpreter/boards/linuxmbed/can.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ASTLib/rAST.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "zebu_interpreter/boards/linuxmbed/ports.h"
#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

std::array<CanPort, kCanPortCount> output_cans;
std::array<CanPort, kCanPortCount> input_cans;
uint32_t output_cans_size = 0;
uint32_t input_cans_size = 0;

namespace {

// The size of a CAN FD frame, which a socket may deliver whole.
constexpr ssize_t kCanFdFrameBytes = 72;

const CanPort kFree{sockaddr_can{}, 0, NO_ID, false};

bool is_already_initialised(uint32_t varIndex) {
  for (uint32_t i = 0; i < input_cans_size; ++i) {
    if (input_cans[i].varIndex == varIndex) return true;
  }
  for (uint32_t i = 0; i < output_cans_size; ++i) {
    if (output_cans[i].varIndex == varIndex) return true;
  }
  return false;
}

bool holdsFrames(InterpEnv* env, uint32_t varIndex) {
  return port_channelElementCells(env, varIndex) >= kCanFrameCells;
}

// Opens and binds a raw socket on the interface; 0 after printing why not.
int openSocket(const std::string& interface, sockaddr_can* address) {
  const SysCalls& sys = sysCalls();
  const int fd = sys.socket(AF_CAN, SOCK_RAW, CAN_RAW);
  if (fd < 0) {
    const int error = errno;
    std::printf("Error with CAN %s: %s", interface.c_str(), std::strerror(error));
    return 0;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if (sys.ioctl(fd, SIOCGIFINDEX, &request) < 0) {
    const int error = errno;
    std::printf("Error with CAN %s ioctl: %s", interface.c_str(), std::strerror(error));
    sys.close(fd);
    return 0;
  }
  *address = sockaddr_can{};
  address->can_family = AF_CAN;
  address->can_ifindex = request.ifr_ifindex;
  if (sys.bind(fd, reinterpret_cast<const sockaddr*>(address), sizeof *address) < 0) {
    const int error = errno;
    std::printf("Error with CAN %s socket binding: %s", interface.c_str(), std::strerror(error));
    sys.close(fd);
    return 0;
  }
  return fd;
}

}  // namespace

void cans_init() {
  output_cans.fill(kFree);
  input_cans.fill(kFree);
  output_cans_size = 0;
  input_cans_size = 0;
}

void init_port_can(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex,
                   InterpEnv* env) {
  if (is_already_initialised(varIndex)) {
    std::printf("  => already a CAN\n");
    return;
  }
  const std::string interface = port_subMatch(name, matches[1].rm_so, matches[1].rm_eo);
  const PortBinding binding = port_binding(env, name, matches[2].rm_so, varIndex);
  if ((binding.reads() && input_cans_size == kCanPortCount) ||
      (binding.writes() && output_cans_size == kCanPortCount)) {
    std::printf("  => no room for the CAN %s: at most %u inputs and %u outputs\n",
                interface.c_str(), kCanPortCount, kCanPortCount);
    return;
  }
  for (const uint32_t var : {binding.inVar, binding.outVar}) {
    if (var != NO_ID && !holdsFrames(env, var)) {
      std::printf(
          "  => the CAN %s is not bound: %s is not a channel of {identifier, dlc, data} frames\n",
          interface.c_str(), GlobalVariable_getName(env->program.get(), var));
      return;
    }
  }
  std::printf("  => a CAN %s %s\n", port_modeName(binding.mode), interface.c_str());

  sockaddr_can address{};
  const int fd = openSocket(interface, &address);
  if (fd == 0) return;
  if (binding.reads()) input_cans[input_cans_size++] = {address, fd, binding.inVar, false};
  if (binding.writes()) output_cans[output_cans_size++] = {address, fd, binding.outVar, false};
}

void sync_cans(InterpEnv* env) {
  for (uint32_t i = 0; i < output_cans_size; ++i) {
    can_output(env, port_channel(env, output_cans[i].varIndex), output_cans[i]);
  }
  for (uint32_t i = 0; i < input_cans_size; ++i) {
    const CanPort& entry = input_cans[i];
    can_input(env, port_channel(env, entry.varIndex), entry, entry.varIndex);
  }
}

void copy_kova_value_to_frame(InterpEnv* env, TaggedValue value, can_frame* frame) {
  const uint32_t cells = env->program->typeTable[value.typeId].storageSize;
  frame->can_id = value.value[0].u32;
  frame->can_dlc = value.value[1].u8;
  const uint32_t bytes = std::min({uint32_t{frame->can_dlc}, uint32_t{CAN_MAX_DLEN}, cells - 2});
  for (uint32_t i = 0; i < bytes; ++i) frame->data[i] = value.value[2 + i].u8;
}

void can_output(InterpEnv* env, TaggedValue channel, CanPort& entry) {
  if (port_elementCells(env, channel) < kCanFrameCells) return;
  const uint32_t capacity = env->program->typeTable[channel.typeId].size;
  uint32_t failures = 0;
  // Each turn pops a frame or counts a failure, so the loop ends even if the
  // channel's index cells were damaged.
  for (uint32_t turns = 0; turns < capacity + kCanWriteTries && !is_channel_empty(env, channel);
       ++turns) {
    const TaggedValue element = channel_peek(env, nullptr, channel);
    if (element.value == nullptr) return;
    can_frame frame{};
    copy_kova_value_to_frame(env, element, &frame);
    if (frame.can_dlc > CAN_MAX_DLEN) {
      std::printf("CAN frame %#x dropped: its dlc %u is above 8\n", frame.can_id,
                  static_cast<unsigned>(frame.can_dlc));
      channel_pop(env, nullptr, channel);
      continue;
    }
    if (sysCalls().write(entry.fd, &frame, kCanFrameBytes) ==
        static_cast<ssize_t>(kCanFrameBytes)) {
      channel_pop(env, nullptr, channel);
      continue;
    }
    if (!entry.retrying) {
      const int error = errno;
      std::printf("Failed to write to CAN: %s. Retrying...\n", std::strerror(error));
      entry.retrying = true;
    }
    if (++failures == kCanWriteTries) return;
  }
  if (entry.retrying && is_channel_empty(env, channel)) {
    std::printf("Finally done.\n");
    entry.retrying = false;
  }
}

void push_frame_to_kova_channel(InterpEnv* env, const can_frame* frame, TaggedValue channel,
                                uint32_t varIndex) {
  // One element's cells; kept between calls so that receiving does not
  // allocate once the widest frame type has been seen.
  static std::vector<ValueCell> element;
  const uint32_t cells = port_elementCells(env, channel);
  if (cells < kCanFrameCells) return;
  element.assign(cells, kZeroCell);
  element[0].u64 = frame->can_id;
  element[1].u64 = frame->can_dlc;
  for (uint32_t i = 0; i < CAN_MAX_DLEN; ++i) element[2 + i].u64 = frame->data[i];
  interp_setValue(
      env, varIndex, 1,
      TaggedValue{element.data(), env->program->typeTable[channel.typeId].baseType, NO_ID});
}

void can_input(InterpEnv* env, TaggedValue channel, const CanPort& entry, uint32_t varIndex) {
  if (port_elementCells(env, channel) < kCanFrameCells) return;
  // One read more than the channel can hold lets a full channel be reported
  // by its push, and bounds the loop when frames keep coming.
  const uint32_t reads = env->program->typeTable[channel.typeId].size + 1;
  for (uint32_t n = 0; n < reads; ++n) {
    can_frame frame{};
    const ssize_t got =
        sysCalls().recvfrom(entry.fd, &frame, kCanFrameBytes, MSG_DONTWAIT, nullptr, nullptr);
    if (got < 0) {
      const int error = errno;
      if (error != EAGAIN) std::printf("Failed to read from CAN: %s\n", std::strerror(error));
      return;
    }
    if (got != static_cast<ssize_t>(kCanFrameBytes) && got != kCanFdFrameBytes) {
      std::printf("read: incomplete CAN frame\n");
    }
    push_frame_to_kova_channel(env, &frame, channel, varIndex);
    if (got == 0) return;
  }
}

void cans_close() {
  int closed[2 * kCanPortCount];
  size_t closedCount = 0;
  auto closeOnce = [&](const CanPort& port) {
    if (port.fd == 0 || std::find(closed, closed + closedCount, port.fd) != closed + closedCount) {
      return;
    }
    sysCalls().close(port.fd);
    closed[closedCount++] = port.fd;
  };
  std::for_each(output_cans.begin(), output_cans.begin() + output_cans_size, closeOnce);
  std::for_each(input_cans.begin(), input_cans.begin() + input_cans_size, closeOnce);
  cans_init();
}
