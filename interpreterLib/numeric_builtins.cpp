#include "interpreterLib/numeric_builtins.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include "ASTLib/call_codes.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"

namespace {

// The value of a cell read at T's width.
template <class T>
T cellValue(const ValueCell& cell) {
  if constexpr (std::is_same_v<T, uint8_t>) return cell.u8;
  if constexpr (std::is_same_v<T, int8_t>) return cell.s8;
  if constexpr (std::is_same_v<T, uint16_t>) return cell.u16;
  if constexpr (std::is_same_v<T, int16_t>) return cell.s16;
  if constexpr (std::is_same_v<T, uint32_t>) return cell.u32;
  if constexpr (std::is_same_v<T, int32_t>) return cell.s32;
  if constexpr (std::is_same_v<T, uint64_t>) return cell.u64;
  if constexpr (std::is_same_v<T, int64_t>) return cell.s64;
  if constexpr (std::is_same_v<T, float>) return cell.f32;
  if constexpr (std::is_same_v<T, double>) return cell.f64;
}

TaggedValue push(InterpEnv* env, uint8_t v) {
  return interpStack_pushUInt8(env, v);
}
TaggedValue push(InterpEnv* env, int8_t v) {
  return interpStack_pushSInt8(env, v);
}
TaggedValue push(InterpEnv* env, uint16_t v) {
  return interpStack_pushUInt16(env, v);
}
TaggedValue push(InterpEnv* env, int16_t v) {
  return interpStack_pushSInt16(env, v);
}
TaggedValue push(InterpEnv* env, uint32_t v) {
  return interpStack_pushUInt32(env, v);
}
TaggedValue push(InterpEnv* env, int32_t v) {
  return interpStack_pushSInt32(env, v);
}
TaggedValue push(InterpEnv* env, uint64_t v) {
  return interpStack_pushUInt64(env, v);
}
TaggedValue push(InterpEnv* env, int64_t v) {
  return interpStack_pushSInt64(env, v);
}
TaggedValue push(InterpEnv* env, float v) {
  return interpStack_pushF32(env, v);
}
TaggedValue push(InterpEnv* env, double v) {
  return interpStack_pushF64(env, v);
}

// Evaluates an argument and reads it at T's width; a statement (no value)
// reads as zero rather than through a null pointer.
template <class T>
T evaluate(InterpEnv* env, const AST_Node* expression) {
  const TaggedValue val = expr_execute(env, expression);
  return val.value != nullptr ? cellValue<T>(*val.value) : T{};
}

template <class T, bool Max>
TaggedValue extremum(InterpEnv* env, const AST_Node* args) {
  AST_ListIterator argsIt = ast_it_create(env->program.get(), const_cast<AST_Node*>(args));
  ENV_CHECK(env, ast_it_notEnd(argsIt), "ast_it_notEnd(argsIt)");
  if (!ast_it_notEnd(argsIt)) return push(env, T{});
  T best = evaluate<T>(env, ast_it_current(argsIt));
  for (ast_it_next(argsIt); ast_it_notEnd(argsIt); ast_it_next(argsIt)) {
    const T v = evaluate<T>(env, ast_it_current(argsIt));
    // Strict comparison: a tie keeps the earlier argument.
    if (Max ? best < v : v < best) best = v;
  }
  return push(env, best);
}

template <class U>
TaggedValue absolute(InterpEnv* env, const AST_Node* args) {
  static_assert(std::is_unsigned_v<U>);
  const U bits = evaluate<U>(env, AST_getListFirst(env->program.get(), args));
  const bool negative = (bits >> (sizeof(U) * 8 - 1)) != 0;
  return push(env, negative ? static_cast<U>(U{0} - bits) : bits);
}

// The one argument of a float function, type-checked.
template <class F>
F floatArgument(InterpEnv* env, const AST_Node* args) {
  const TaggedValue val = expr_execute(env, AST_getListFirst(env->program.get(), args));
  if constexpr (std::is_same_v<F, float>) {
    ENV_CHECK(env, val.typeId == TypeF32, "val.typeId == TypeF32");
  } else {
    ENV_CHECK(env, val.typeId == TypeF64, "val.typeId == TypeF64");
  }
  return val.value != nullptr ? cellValue<F>(*val.value) : F{};
}

// cos, sin and atan of ±0 are ±0; programs always see +0.0.
template <class F>
F positiveZero(F v) {
  return v == F{0} ? F{0} : v;
}

template <class F>
TaggedValue floatCos(InterpEnv* env, const AST_Node* args) {
  return push(env, positiveZero<F>(std::cos(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatSin(InterpEnv* env, const AST_Node* args) {
  return push(env, positiveZero<F>(std::sin(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatAtan(InterpEnv* env, const AST_Node* args) {
  return push(env, positiveZero<F>(std::atan(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatSqrt(InterpEnv* env, const AST_Node* args) {
  return push(env, static_cast<F>(std::sqrt(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatLog(InterpEnv* env, const AST_Node* args) {
  return push(env, static_cast<F>(std::log(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatAbs(InterpEnv* env, const AST_Node* args) {
  // Not fabs: -0.0 >= 0.0, so a negative zero is returned as it is.
  const F x = floatArgument<F>(env, args);
  return push(env, x >= F{0} ? x : -x);
}
template <class F>
TaggedValue floatPow(InterpEnv* env, const AST_Node* args) {
  const Program* program = env->program.get();
  const TaggedValue xv = expr_execute(env, AST_getListNth(program, args, 0));
  const TaggedValue yv = expr_execute(env, AST_getListNth(program, args, 1));
  if constexpr (std::is_same_v<F, float>) {
    return push(env,
                std::pow(TaggedValue_asF32(xv, CONV_EXACT), TaggedValue_asF32(yv, CONV_EXACT)));
  } else {
    return push(env,
                std::pow(TaggedValue_asF64(xv, CONV_EXACT), TaggedValue_asF64(yv, CONV_EXACT)));
  }
}

}  // namespace

TaggedValue uInt8_max(InterpEnv* env, const AST_Node* a) {
  return extremum<uint8_t, true>(env, a);
}
TaggedValue sInt8_max(InterpEnv* env, const AST_Node* a) {
  return extremum<int8_t, true>(env, a);
}
TaggedValue uInt16_max(InterpEnv* env, const AST_Node* a) {
  return extremum<uint16_t, true>(env, a);
}
TaggedValue sInt16_max(InterpEnv* env, const AST_Node* a) {
  return extremum<int16_t, true>(env, a);
}
TaggedValue uInt32_max(InterpEnv* env, const AST_Node* a) {
  return extremum<uint32_t, true>(env, a);
}
TaggedValue sInt32_max(InterpEnv* env, const AST_Node* a) {
  return extremum<int32_t, true>(env, a);
}
TaggedValue uInt64_max(InterpEnv* env, const AST_Node* a) {
  return extremum<uint64_t, true>(env, a);
}
TaggedValue sInt64_max(InterpEnv* env, const AST_Node* a) {
  return extremum<int64_t, true>(env, a);
}
TaggedValue f32_max(InterpEnv* env, const AST_Node* a) {
  return extremum<float, true>(env, a);
}
TaggedValue f64_max(InterpEnv* env, const AST_Node* a) {
  return extremum<double, true>(env, a);
}

TaggedValue uInt8_min(InterpEnv* env, const AST_Node* a) {
  return extremum<uint8_t, false>(env, a);
}
TaggedValue sInt8_min(InterpEnv* env, const AST_Node* a) {
  return extremum<int8_t, false>(env, a);
}
TaggedValue uInt16_min(InterpEnv* env, const AST_Node* a) {
  return extremum<uint16_t, false>(env, a);
}
TaggedValue sInt16_min(InterpEnv* env, const AST_Node* a) {
  return extremum<int16_t, false>(env, a);
}
TaggedValue uInt32_min(InterpEnv* env, const AST_Node* a) {
  return extremum<uint32_t, false>(env, a);
}
TaggedValue sInt32_min(InterpEnv* env, const AST_Node* a) {
  return extremum<int32_t, false>(env, a);
}
TaggedValue uInt64_min(InterpEnv* env, const AST_Node* a) {
  return extremum<uint64_t, false>(env, a);
}
TaggedValue sInt64_min(InterpEnv* env, const AST_Node* a) {
  return extremum<int64_t, false>(env, a);
}
TaggedValue f32_min(InterpEnv* env, const AST_Node* a) {
  return extremum<float, false>(env, a);
}
TaggedValue f64_min(InterpEnv* env, const AST_Node* a) {
  return extremum<double, false>(env, a);
}

TaggedValue uInt8_abs(InterpEnv* env, const AST_Node* a) {
  return absolute<uint8_t>(env, a);
}
TaggedValue uInt16_abs(InterpEnv* env, const AST_Node* a) {
  return absolute<uint16_t>(env, a);
}
TaggedValue uInt32_abs(InterpEnv* env, const AST_Node* a) {
  return absolute<uint32_t>(env, a);
}
TaggedValue uInt64_abs(InterpEnv* env, const AST_Node* a) {
  return absolute<uint64_t>(env, a);
}

TaggedValue f32_cos(InterpEnv* env, const AST_Node* a) {
  return floatCos<float>(env, a);
}
TaggedValue f32_sin(InterpEnv* env, const AST_Node* a) {
  return floatSin<float>(env, a);
}
TaggedValue f32_atan(InterpEnv* env, const AST_Node* a) {
  return floatAtan<float>(env, a);
}
TaggedValue f32_sqrt(InterpEnv* env, const AST_Node* a) {
  return floatSqrt<float>(env, a);
}
TaggedValue f32_pow(InterpEnv* env, const AST_Node* a) {
  return floatPow<float>(env, a);
}
TaggedValue f32_abs(InterpEnv* env, const AST_Node* a) {
  return floatAbs<float>(env, a);
}
TaggedValue f32_log(InterpEnv* env, const AST_Node* a) {
  return floatLog<float>(env, a);
}
TaggedValue f64_cos(InterpEnv* env, const AST_Node* a) {
  return floatCos<double>(env, a);
}
TaggedValue f64_sin(InterpEnv* env, const AST_Node* a) {
  return floatSin<double>(env, a);
}
TaggedValue f64_atan(InterpEnv* env, const AST_Node* a) {
  return floatAtan<double>(env, a);
}
TaggedValue f64_sqrt(InterpEnv* env, const AST_Node* a) {
  return floatSqrt<double>(env, a);
}
TaggedValue f64_pow(InterpEnv* env, const AST_Node* a) {
  return floatPow<double>(env, a);
}
TaggedValue f64_abs(InterpEnv* env, const AST_Node* a) {
  return floatAbs<double>(env, a);
}
TaggedValue f64_log(InterpEnv* env, const AST_Node* a) {
  return floatLog<double>(env, a);
}

TaggedValue type_constant(InterpEnv* env, uint32_t code) {
  // FIRST of the float types is the most negative finite value, not the
  // smallest positive one that numeric_limits<>::min() would give.
  using F32 = std::numeric_limits<float>;
  using F64 = std::numeric_limits<double>;
  switch (code) {
    case kCallUInt8First: return push(env, std::numeric_limits<uint8_t>::min());
    case kCallUInt8Last: return push(env, std::numeric_limits<uint8_t>::max());
    case kCallSInt8First: return push(env, std::numeric_limits<int8_t>::min());
    case kCallSInt8Last: return push(env, std::numeric_limits<int8_t>::max());
    case kCallUInt16First: return push(env, std::numeric_limits<uint16_t>::min());
    case kCallUInt16Last: return push(env, std::numeric_limits<uint16_t>::max());
    case kCallSInt16First: return push(env, std::numeric_limits<int16_t>::min());
    case kCallSInt16Last: return push(env, std::numeric_limits<int16_t>::max());
    case kCallUInt32First: return push(env, std::numeric_limits<uint32_t>::min());
    case kCallUInt32Last: return push(env, std::numeric_limits<uint32_t>::max());
    case kCallSInt32First: return push(env, std::numeric_limits<int32_t>::min());
    case kCallSInt32Last: return push(env, std::numeric_limits<int32_t>::max());
    case kCallUInt64First:
    case kCallTime64First: return push(env, std::numeric_limits<uint64_t>::min());
    case kCallUInt64Last:
    case kCallTime64Last: return push(env, std::numeric_limits<uint64_t>::max());
    case kCallSInt64First:
    case kCallDuration64First: return push(env, std::numeric_limits<int64_t>::min());
    case kCallSInt64Last:
    case kCallDuration64Last: return push(env, std::numeric_limits<int64_t>::max());
    case kCallF32First: return push(env, F32::lowest());
    case kCallF32Last: return push(env, F32::max());
    case kCallF64First: return push(env, F64::lowest());
    case kCallF64Last: return push(env, F64::max());
    default:
      ENV_CHECK(env, false, "(code >= kCallUInt8First) && (code <= kCallF64Last)");
      return kEmptyValue;
  }
}
