// Serial ttys: byte channels bound to /dev/ttyX by name.
//
// A global named ttyX_in or ttyX_out (anywhere in the name) is bound to
// /dev/ttyX: bytes the program pushes into an out channel are written one
// byte per write, bytes received are pushed into the in channel. When both
// variables of a tty exist, the first one bound opens the device read-write
// for both and the second is told it is "already a serial"; alone, an in
// variable opens it read-only and an out variable write-only. The line is
// set to 9600 baud, 8 data bits, no parity, one stop bit, RTS/CTS flow
// control; every other setting is left as the device had it.
//
// Each synchronisation drains every out channel, then reads at most
// min(room in the channel, 8) bytes per in channel; the rest waits in the
// driver. There are 5 input and 5 output entries; a binding that needs an
// entry the tables no longer have is refused with a message.
#pragma once

#include <regex.h>

#include <array>
#include <cstdint>
#include <span>

#include "ASTLib/rENV.h"

inline constexpr uint32_t kSerialPortCount = 5;
// The most bytes one synchronisation reads from one tty.
inline constexpr uint32_t kSerialReadChunk = 8;

struct SerialPort {
  int32_t fd;  // 0 while free
  uint32_t varIndex;
};
extern std::array<SerialPort, kSerialPortCount> output_serials;
extern std::array<SerialPort, kSerialPortCount> input_serials;
extern uint32_t output_serials_size;
extern uint32_t input_serials_size;

void serials_init();
// Binds a global whose name matched "(tty[0-9a-zA-Z]+)_((in)|(out))".
void init_serial(std::span<const regmatch_t> matches, const char* name, uint32_t varIndex,
                 InterpEnv* env);
void sync_serials(InterpEnv* env);
void serial_output(InterpEnv* env, TaggedValue channel, int32_t fd);
void serial_input(InterpEnv* env, TaggedValue channel, int32_t fd, uint32_t varIndex);
// Closes every open descriptor once, shared ones included, and empties the
// tables.
void serials_close();
