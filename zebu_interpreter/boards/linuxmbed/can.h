// CAN interfaces through Linux SocketCAN raw sockets.
//
// A global named can_IFACE_out or can_IFACE_in (anywhere in the name) is a
// channel of frames {identifier: uint32, dlc: uint8, data: uint8[8]} (cells
// 0, 1 and 2 to 9) bound to the interface IFACE. Frames pushed into an out
// channel are sent; frames received are pushed into the in channel. An in/out
// pair of one interface shares one socket, opened by the first of the two.
//
// The wire frame is SocketCAN's 16 bytes in host order: identifier (4, flag
// bits included), dlc (1), 3 bytes of padding, 8 data bytes. Sending fills the
// identifier, the dlc and the first dlc data bytes only.
//
// Sending peeks a frame and pops it once the socket has taken all 16 bytes. A
// refused frame stays at the head of its channel: it is tried again, at most
// kCanWriteTries times per synchronisation, then at the next one. The first
// refusal prints "Failed to write to CAN: ... Retrying..." and the channel's
// next emptying after it "Finally done.". A frame whose dlc exceeds 8 is
// dropped with a message. Receiving drains every frame waiting on the socket
// (at most one more than the channel can hold, whose push then reports the
// full channel).
//
// There are 5 input and 5 output entries; a binding that needs an entry the
// tables no longer have, or whose channel does not hold frames, is refused
// with a message.
#pragma once

#include <linux/can.h>
#include <regex.h>

#include <array>
#include <cstdint>
#include <span>

#include "ASTLib/rENV.h"

inline constexpr uint32_t kCanPortCount = 5;
// Cells of a program-side frame: identifier, dlc, 8 data bytes.
inline constexpr uint32_t kCanFrameCells = 10;
inline constexpr size_t kCanFrameBytes = 16;
// Failed writes of one out channel per synchronisation before it waits for
// the next one.
inline constexpr uint32_t kCanWriteTries = 3;

struct CanPort {
  sockaddr_can address;
  int32_t fd;  // 0 while free
  uint32_t varIndex;
  bool retrying;  // a frame was refused and the channel has not emptied since
};
extern std::array<CanPort, kCanPortCount> output_cans;
extern std::array<CanPort, kCanPortCount> input_cans;
extern uint32_t output_cans_size;
extern uint32_t input_cans_size;

void cans_init();
// Binds a global whose name matched "can_([0-9a-zA-Z]+)_((out)|(in))".
void init_port_can(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex,
                   InterpEnv* env);
void sync_cans(InterpEnv* env);
void can_output(InterpEnv* env, TaggedValue channel, CanPort& entry);
void can_input(InterpEnv* env, TaggedValue channel, const CanPort& entry, uint32_t varIndex);
// Closes every socket once and empties the tables.
void cans_close();

// Program frame to wire frame: identifier, dlc and data bytes 0 to dlc-1
// (at most 8); nothing else of `frame` is touched.
void copy_kova_value_to_frame(InterpEnv* env, TaggedValue value, can_frame* frame);
// Wire frame to program frame (all 8 data bytes, whatever the dlc), pushed
// into the channel of global `varIndex`.
void push_frame_to_kova_channel(InterpEnv* env, const can_frame* frame, TaggedValue channel,
                                uint32_t varIndex);
