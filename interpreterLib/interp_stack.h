// The evaluation stack: 3200 cells filled upward, emptied as a whole at
// statement boundaries, never popped one by one.
//
// A push is a pointer bump: it takes the next cell, clears its 8 bytes, writes
// the value at its width and returns a TaggedValue on it (global id NO_ID).
// Values stay valid until the next reset, so an operator can read both
// operands by pointer after evaluating both.
//
// Nested calls: a user function or sub-process called inside an expression
// runs statements that reset the stack. `interpStack_enterCall` raises the
// floor to the current count, so those resets stop at the floor and leave
// the caller's operands intact; `interpStack_leaveCall` puts both back.
//
// Exhaustion (the count reaching 3200) reports "Stack overflow\n" through
// the failure path.
#pragma once

#include <cstdint>
#include <type_traits>

#include "ASTLib/rENV.h"

// Allocates the cells ("env->ctx->stack") and empties the stack.
void interpStack_init(InterpEnv* env);

// Reserves `cells` cells and returns the first; reports the overflow.
ValueCell* interpStack_reserve(InterpEnv* env, uint32_t cells);

// The slow path of a one-cell push.
[[gnu::cold]] ValueCell* interpStack_overflow(InterpEnv* env);

inline ValueCell* interpStack_cell(InterpEnv* env) {
  Context& ctx = *env->ctx;
  if (ctx.stack_used + 1 >= kStackCells) [[unlikely]]
    return interpStack_overflow(env);
  ValueCell* cell = &ctx.stack[ctx.stack_used++];
  cell->u64 = 0;
  return cell;
}

inline TaggedValue interpStack_pushSingleAnyValue(InterpEnv* env, uint32_t typeId, uint64_t bits) {
  ValueCell* cell = interpStack_cell(env);
  cell->u64 = bits;
  return {cell, typeId, NO_ID};
}

#define KOVA_STACK_PUSH(name, member, type, typeId) \
  inline TaggedValue name(InterpEnv* env, type v) { \
    ValueCell* cell = interpStack_cell(env);        \
    cell->member = v;                               \
    return {cell, typeId, NO_ID};                   \
  }
KOVA_STACK_PUSH(interpStack_pushUInt8, u8, uint8_t, TypeUInt8)
KOVA_STACK_PUSH(interpStack_pushSInt8, s8, int8_t, TypeSInt8)
KOVA_STACK_PUSH(interpStack_pushUInt16, u16, uint16_t, TypeUInt16)
KOVA_STACK_PUSH(interpStack_pushSInt16, s16, int16_t, TypeSInt16)
KOVA_STACK_PUSH(interpStack_pushUInt32, u32, uint32_t, TypeUInt32)
KOVA_STACK_PUSH(interpStack_pushSInt32, s32, int32_t, TypeSInt32)
KOVA_STACK_PUSH(interpStack_pushUInt64, u64, uint64_t, TypeUInt64)
KOVA_STACK_PUSH(interpStack_pushSInt64, s64, int64_t, TypeSInt64)
KOVA_STACK_PUSH(interpStack_pushSize, u32, uint32_t, TypeUInt32)
KOVA_STACK_PUSH(interpStack_pushF32, f32, float, TypeF32)
KOVA_STACK_PUSH(interpStack_pushF64, f64, double, TypeF64)
#undef KOVA_STACK_PUSH

// The push of a C++ arithmetic type, for code written once for every width.
template <class T>
inline TaggedValue interpStack_push(InterpEnv* env, T v) {
  if constexpr (std::is_same_v<T, uint8_t>) return interpStack_pushUInt8(env, v);
  if constexpr (std::is_same_v<T, int8_t>) return interpStack_pushSInt8(env, v);
  if constexpr (std::is_same_v<T, uint16_t>) return interpStack_pushUInt16(env, v);
  if constexpr (std::is_same_v<T, int16_t>) return interpStack_pushSInt16(env, v);
  if constexpr (std::is_same_v<T, uint32_t>) return interpStack_pushUInt32(env, v);
  if constexpr (std::is_same_v<T, int32_t>) return interpStack_pushSInt32(env, v);
  if constexpr (std::is_same_v<T, uint64_t>) return interpStack_pushUInt64(env, v);
  if constexpr (std::is_same_v<T, int64_t>) return interpStack_pushSInt64(env, v);
  if constexpr (std::is_same_v<T, float>) return interpStack_pushF32(env, v);
  if constexpr (std::is_same_v<T, double>) return interpStack_pushF64(env, v);
}

inline TaggedValue interpStack_pushBoolean(InterpEnv* env, bool v) {
  ValueCell* cell = interpStack_cell(env);
  cell->boolean = v ? 1 : 0;
  return {cell, TypeBoolean, NO_ID};
}

// A copy of any value (storageSize cells of `typeId`, plus one more cell),
// re-tagged with `typeId`; copied like an assignment.
TaggedValue interpStack_pushForcedTypeValue(InterpEnv* env, uint32_t typeId, TaggedValue source);

// Statement boundary: back to the floor.
inline void interpStack_reset(InterpEnv* env) {
  env->ctx->stack_used = env->ctx->stack_floor;
}

struct StackMark {
  uint32_t used;
  uint32_t floor;
};

// Around a nested user-function or sub-process call.
inline StackMark interpStack_enterCall(InterpEnv* env) {
  Context& ctx = *env->ctx;
  const StackMark mark{ctx.stack_used, ctx.stack_floor};
  ctx.stack_floor = ctx.stack_used;
  return mark;
}
inline void interpStack_leaveCall(InterpEnv* env, StackMark mark) {
  env->ctx->stack_used = mark.used;
  env->ctx->stack_floor = mark.floor;
}
