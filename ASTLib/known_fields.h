// Fields of the predefined structure types that the interpreter reads and
// writes. Programs declare these types themselves, so each field's cell
// offset and type are looked up by name once per loaded program and cached
// in the context.
#pragma once

#include <cstdint>

#define KOVA_KNOWN_FIELDS(X)               \
  X(Process_Instance, execution_time)      \
  X(Process_Instance, wcet)                \
  X(Process_Instance, bcet)                \
  X(Process_Instance, period)              \
  X(Process_Instance, offset)              \
  X(Process_Instance, priority)            \
  X(Process_Instance, jitter)              \
  X(Process_Instance, deadline)            \
  X(Process_Instance, previous_activation) \
  X(Process_Instance, current_activation)  \
  X(Process_Instance, pid)                 \
  X(Process_Instance, continue)            \
  X(Process_Instance, process_state)       \
  X(Process_Instance, next_activations)    \
  X(Process_Instance, state_ptr)           \
  X(Process_Instance, duration)            \
  X(Process_Instance, initializing)        \
  X(Process_Instance, instance_id)         \
  X(System, sched_policy)                  \
  X(System, processes)                     \
  X(System, origin)                        \
  X(System, ppm)                           \
  X(Kova_File, name)                       \
  X(Kova_File, access)                     \
  X(Kova_File, format)                     \
  X(UDP, port)                             \
  X(UDP, direction)                        \
  X(UDP_Group, address)

enum KnownField : uint32_t {
#define KOVA_KNOWN_FIELD_ENUM(type, field) kField_##type##_##field,
  KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_ENUM)
#undef KOVA_KNOWN_FIELD_ENUM
      kKnownFieldCount
};
