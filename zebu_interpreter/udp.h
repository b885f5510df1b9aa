// UDP ports: global channels bound to IPv4 UDP sockets by hardware
// annotations.
//
// The block of a hardware annotation declares a `UDP` descriptor {port,
// direction} for its variable and, optionally, a `UDP_Group` {address} to
// join; the board binds them once the block's statements have filled them
// in. The variable is a channel of messages whose element cells hold the
// IPv4 address (cells 0 to 3, first octet first: the destination of an output
// message, the sender of an input one), the payload length (cell 4) and the
// payload, one byte per cell from cell 5.
//
// An input port is a non-blocking socket bound to 0.0.0.0:port with
// SO_REUSEADDR; each synchronisation pushes at most one datagram, cut to the
// payload capacity. An output port (SO_BROADCAST set) sends every waiting
// message as one datagram to address:port, its length cut to the capacity
// and to 65529; a send that fails loses the message. A port whose messages
// have fewer than 5 cells is warned about at binding and never exchanges
// anything.
//
// The table holds 10 ports; a further binding is refused after
// "not enough sockets". A group that cannot be joined ends the process with
// status 1.
#pragma once

#include <array>
#include <cstdint>

#include "ASTLib/rENV.h"

inline constexpr uint32_t kUdpPortCount = 10;
// Address (4) and length (1) cells before the payload.
inline constexpr uint32_t kUdpHeaderCells = 5;
inline constexpr uint32_t kUdpMaxPayload = 65529;

struct UdpPort {
  uint32_t varIndex;  // NO_ID while free
  uint16_t port;
  uint8_t input;
  int32_t fd;  // -1 while there is no socket
};
extern std::array<UdpPort, kUdpPortCount> socket_ports;
extern uint32_t socket_num;

void udp_ports_init();
// Binds the annotated channel to the port that the `UDP` value describes.
void board_udp_variable_setup(InterpEnv* env, TaggedValue descriptor, uint32_t annotatedVarId);
// Joins the `UDP_Group` value's group on the variable's port, bound before;
// without one, nothing happens.
void board_udp_group_variable_setup(InterpEnv* env, TaggedValue group, uint32_t annotatedVarId);
void sync_udp(InterpEnv* env);
void sync_udp_port(InterpEnv* env, uint32_t varIndex, uint16_t port, bool input, int32_t fd);
// Closes every socket and frees the table.
void udp_ports_close();

// The descriptors' fields and the direction literal, found by name.
uint32_t UDP_get_port(InterpEnv* env, TaggedValue descriptor);
uint64_t UDP_get_direction(InterpEnv* env, TaggedValue descriptor);
uint32_t UDP_Group_get_address(InterpEnv* env, TaggedValue group);
uint64_t Hw_Direction_get_HW_INPUT(InterpEnv* env);
