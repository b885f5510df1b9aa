// What the I2C, serial and CAN modules share: the shape checks of the
// channels they bind, byte transfers between a channel and the wire, and the
// search of a port's partner variable by name.
//
// Every bus keeps its bindings in fixed tables; a binding that does not fit
// is refused with a message, so no table is ever written past its end.
#pragma once

#include <cstdint>
#include <string>

#include "ASTLib/rENV.h"

// Bus names taken from a variable name (tty or interface): longer ones are cut.
inline constexpr size_t kPortNameLength = 20;

// The cell count of a queue's or stack's element; 0 for any other value.
uint32_t port_elementCells(InterpEnv* env, TaggedValue channel);
// The same for a global; 0 for an id out of range.
uint32_t port_channelElementCells(InterpEnv* env, uint32_t varIndex);

// True when the value is a queue or stack of one-cell elements (bytes).
bool port_isByteChannel(InterpEnv* env, TaggedValue channel);

// The global channel as a value; the empty value for a bad id.
TaggedValue port_channel(InterpEnv* env, uint32_t varIndex);

// Pushes one byte into a byte channel (no trace line); a full channel is
// reported as the channel's own invalid operation.
void port_pushByte(InterpEnv* env, uint32_t varIndex, uint8_t byte);

// The partner of a port variable: the name up to the role position with the
// opposite role ("out" for "in", "in" otherwise); NO_ID when no global has
// that name.
uint32_t search_opposite_variable(InterpEnv* env, const char* name, size_t roleStart);

// How a port without its partner is opened, and with it.
enum class PortMode { kReadOnly, kWriteOnly, kReadWrite };
const char* port_modeName(PortMode mode);

// The variables one opening serves: the one being bound and, when it exists,
// its partner, which then shares the descriptor.
struct PortBinding {
  PortMode mode;
  uint32_t inVar;   // NO_ID when the port is not read
  uint32_t outVar;  // NO_ID when the port is not written
  bool reads() const { return inVar != NO_ID; }
  bool writes() const { return outVar != NO_ID; }
};
// `roleStart` is where "in" or "out" starts in the name.
PortBinding port_binding(InterpEnv* env, const char* name, size_t roleStart, uint32_t varIndex);

// A sub-match of a name, cut to kPortNameLength characters.
std::string port_subMatch(const char* name, int start, int end);
