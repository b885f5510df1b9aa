#include "zebu_interpreter/udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "zebu_interpreter/boards/linuxmbed/ports.h"
#include "zebu_interpreter/boards/linuxmbed/sys_calls.h"

std::array<UdpPort, kUdpPortCount> socket_ports;
uint32_t socket_num = 0;

namespace {

constexpr UdpPort kFree{NO_ID, 0, 0, -1};

// Payload bytes and one message's cells, kept between synchronisations so
// that exchanging does not allocate once the largest message has been seen.
std::vector<uint8_t> payload;
std::vector<ValueCell> message;

int enable(int fd, int option) {
  const int on = 1;
  return sysCalls().setsockopt(fd, SOL_SOCKET, option, &on, sizeof on);
}

void sendAll(InterpEnv* env, TaggedValue channel, uint32_t cells, uint16_t port, int32_t fd) {
  const uint32_t capacity = std::min(cells - kUdpHeaderCells, kUdpMaxPayload);
  payload.resize(capacity);
  // The count bounds the loop even if the channel's index cells were damaged.
  for (uint32_t n = channel_count(env, channel); n > 0 && !is_channel_empty(env, channel); --n) {
    const TaggedValue element = channel_pop(env, nullptr, channel);
    if (element.value == nullptr) return;
    const ValueCell* cell = element.value;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    const uint8_t address[4] = {cell[0].u8, cell[1].u8, cell[2].u8, cell[3].u8};
    std::memcpy(&to.sin_addr.s_addr, address, sizeof address);
    const size_t length = std::min<uint64_t>(cell[4].u64, capacity);
    for (size_t i = 0; i < length; ++i) payload[i] = cell[kUdpHeaderCells + i].u8;
    sysCalls().sendto(fd, payload.data(), length, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to);
  }
}

void receiveOne(InterpEnv* env, TaggedValue channel, uint32_t cells, uint32_t varIndex,
                int32_t fd) {
  const uint32_t capacity = std::min(cells - kUdpHeaderCells, kUdpMaxPayload);
  payload.resize(capacity);
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t got = sysCalls().recvfrom(fd, payload.data(), capacity, 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (got <= 0) return;
  const size_t length = std::min(static_cast<size_t>(got), static_cast<size_t>(capacity));
  message.assign(cells, kZeroCell);
  uint8_t address[4];
  std::memcpy(address, &from.sin_addr.s_addr, sizeof address);
  for (int i = 0; i < 4; ++i) message[i].u64 = address[i];
  message[4].u64 = length;
  for (size_t i = 0; i < length; ++i) message[kUdpHeaderCells + i].u64 = payload[i];
  const uint32_t elementType = env->program->typeTable[channel.typeId].baseType;
  interp_setValue(env, varIndex, 1, TaggedValue{message.data(), elementType, NO_ID});
}

}  // namespace

uint32_t UDP_get_port(InterpEnv* env, TaggedValue descriptor) {
  return interp_knownField(env, descriptor, kField_UDP_port).value->u32;
}

uint64_t UDP_get_direction(InterpEnv* env, TaggedValue descriptor) {
  return interp_knownField(env, descriptor, kField_UDP_direction).value->u64;
}

uint32_t UDP_Group_get_address(InterpEnv* env, TaggedValue group) {
  return interp_knownField(env, group, kField_UDP_Group_address).value->u32;
}

uint64_t Hw_Direction_get_HW_INPUT(InterpEnv* env) {
  return interp_getEnum(env, interp_getTypeID(env, "Hw_Direction"), "HW_INPUT");
}

void udp_ports_init() {
  socket_ports.fill(kFree);
  socket_num = 0;
}

void board_udp_variable_setup(InterpEnv* env, TaggedValue descriptor, uint32_t annotatedVarId) {
  if (socket_num == kUdpPortCount) {
    std::printf("not enough sockets \n");
    return;
  }
  UdpPort& entry = socket_ports[socket_num];
  entry.varIndex = annotatedVarId;
  entry.input = UDP_get_direction(env, descriptor) == Hw_Direction_get_HW_INPUT(env) ? 1 : 0;
  entry.port = static_cast<uint16_t>(UDP_get_port(env, descriptor));
  if (port_channelElementCells(env, annotatedVarId) < kUdpHeaderCells) {
    std::printf("Udp Port buffer too small\n");
  }

  const SysCalls& sys = sysCalls();
  entry.fd = sys.socket(AF_INET, SOCK_DGRAM, 0);
  if (entry.fd < 0) {
    std::printf("*** ERROR - socket() failed \n");
    entry = kFree;
    return;
  }
  if (entry.input != 0) {
    sys.fcntl(entry.fd, F_SETFL, sys.fcntl(entry.fd, F_GETFL, 0) | O_NONBLOCK);
    enable(entry.fd, SO_REUSEADDR);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(entry.port);
    if (sys.bind(entry.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
      std::printf("ERROR on binding");
    }
  } else {
    enable(entry.fd, SO_BROADCAST);
  }
  ++socket_num;
}

void board_udp_group_variable_setup(InterpEnv* env, TaggedValue group, uint32_t annotatedVarId) {
  const auto bound =
      std::find_if(socket_ports.begin(), socket_ports.begin() + socket_num,
                   [annotatedVarId](const UdpPort& p) { return p.varIndex == annotatedVarId; });
  if (bound == socket_ports.begin() + socket_num) return;
  ip_mreq membership{};
  // The address cell's bytes in memory order are the address in network order.
  const uint32_t address = UDP_Group_get_address(env, group);
  std::memcpy(&membership.imr_multiaddr.s_addr, &address, sizeof address);
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  if (sysCalls().setsockopt(bound->fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
                            sizeof membership) < 0) {
    std::fflush(stdout);
    std::perror("setsockopt");
    std::exit(1);
  }
}

void sync_udp(InterpEnv* env) {
  for (const UdpPort& entry : socket_ports) {
    if (entry.fd != -1) sync_udp_port(env, entry.varIndex, entry.port, entry.input != 0, entry.fd);
  }
}

void sync_udp_port(InterpEnv* env, uint32_t varIndex, uint16_t port, bool input, int32_t fd) {
  const TaggedValue channel = port_channel(env, varIndex);
  const uint32_t cells = port_elementCells(env, channel);
  if (cells < kUdpHeaderCells) return;
  if (input) {
    receiveOne(env, channel, cells, varIndex, fd);
  } else {
    sendAll(env, channel, cells, port, fd);
  }
}

void udp_ports_close() {
  for (UdpPort& entry : socket_ports) {
    if (entry.fd != -1) sysCalls().close(entry.fd);
    entry = kFree;
  }
  socket_num = 0;
}
