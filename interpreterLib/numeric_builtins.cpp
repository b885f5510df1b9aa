#include "interpreterLib/numeric_builtins.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "ASTLib/call_codes.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"

namespace {

// Every member of a cell starts at its first byte: a T is its first
// sizeof(T) bytes.
template <class T>
T cellValue(const ValueCell& cell) {
  T v;
  std::memcpy(&v, &cell, sizeof v);
  return v;
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
  if (!ast_it_notEnd(argsIt)) return interpStack_push(env, T{});
  T best = evaluate<T>(env, ast_it_current(argsIt));
  for (ast_it_next(argsIt); ast_it_notEnd(argsIt); ast_it_next(argsIt)) {
    const T v = evaluate<T>(env, ast_it_current(argsIt));
    // Strict comparison: a tie keeps the earlier argument.
    if (Max ? best < v : v < best) best = v;
  }
  return interpStack_push(env, best);
}

template <class U>
TaggedValue absolute(InterpEnv* env, const AST_Node* args) {
  static_assert(std::is_unsigned_v<U>);
  const U bits = evaluate<U>(env, AST_getListFirst(env->program.get(), args));
  const bool negative = (bits >> (sizeof(U) * 8 - 1)) != 0;
  return interpStack_push(env, negative ? static_cast<U>(U{0} - bits) : bits);
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
  return interpStack_push(env, positiveZero<F>(std::cos(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatSin(InterpEnv* env, const AST_Node* args) {
  return interpStack_push(env, positiveZero<F>(std::sin(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatAtan(InterpEnv* env, const AST_Node* args) {
  return interpStack_push(env, positiveZero<F>(std::atan(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatSqrt(InterpEnv* env, const AST_Node* args) {
  return interpStack_push(env, static_cast<F>(std::sqrt(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatLog(InterpEnv* env, const AST_Node* args) {
  return interpStack_push(env, static_cast<F>(std::log(floatArgument<F>(env, args))));
}
template <class F>
TaggedValue floatAbs(InterpEnv* env, const AST_Node* args) {
  // Not fabs: -0.0 >= 0.0, so a negative zero is returned as it is.
  const F x = floatArgument<F>(env, args);
  return interpStack_push(env, x >= F{0} ? x : -x);
}
template <class F>
TaggedValue floatPow(InterpEnv* env, const AST_Node* args) {
  const Program* program = env->program.get();
  const TaggedValue xv = expr_execute(env, AST_getListNth(program, args, 0));
  const TaggedValue yv = expr_execute(env, AST_getListNth(program, args, 1));
  if constexpr (std::is_same_v<F, float>) {
    return interpStack_push(
        env, std::pow(TaggedValue_asF32(xv, CONV_EXACT), TaggedValue_asF32(yv, CONV_EXACT)));
  } else {
    return interpStack_push(
        env, std::pow(TaggedValue_asF64(xv, CONV_EXACT), TaggedValue_asF64(yv, CONV_EXACT)));
  }
}

}  // namespace

// The entry points the call dispatch names, one instantiation each.
#define KOVA_EXTREMA(prefix, T)                                 \
  TaggedValue prefix##_max(InterpEnv* env, const AST_Node* a) { \
    return extremum<T, true>(env, a);                           \
  }                                                             \
  TaggedValue prefix##_min(InterpEnv* env, const AST_Node* a) { \
    return extremum<T, false>(env, a);                          \
  }
KOVA_EXTREMA(uInt8, uint8_t)
KOVA_EXTREMA(sInt8, int8_t)
KOVA_EXTREMA(uInt16, uint16_t)
KOVA_EXTREMA(sInt16, int16_t)
KOVA_EXTREMA(uInt32, uint32_t)
KOVA_EXTREMA(sInt32, int32_t)
KOVA_EXTREMA(uInt64, uint64_t)
KOVA_EXTREMA(sInt64, int64_t)
KOVA_EXTREMA(f32, float)
KOVA_EXTREMA(f64, double)
#undef KOVA_EXTREMA

#define KOVA_ABS(prefix, U)                                     \
  TaggedValue prefix##_abs(InterpEnv* env, const AST_Node* a) { \
    return absolute<U>(env, a);                                 \
  }
KOVA_ABS(uInt8, uint8_t)
KOVA_ABS(uInt16, uint16_t)
KOVA_ABS(uInt32, uint32_t)
KOVA_ABS(uInt64, uint64_t)
#undef KOVA_ABS

#define KOVA_FLOAT_FUNCTION(prefix, name, F, impl)                 \
  TaggedValue prefix##_##name(InterpEnv* env, const AST_Node* a) { \
    return impl<F>(env, a);                                        \
  }
#define KOVA_FLOAT_FUNCTIONS(prefix, F)           \
  KOVA_FLOAT_FUNCTION(prefix, cos, F, floatCos)   \
  KOVA_FLOAT_FUNCTION(prefix, sin, F, floatSin)   \
  KOVA_FLOAT_FUNCTION(prefix, atan, F, floatAtan) \
  KOVA_FLOAT_FUNCTION(prefix, sqrt, F, floatSqrt) \
  KOVA_FLOAT_FUNCTION(prefix, pow, F, floatPow)   \
  KOVA_FLOAT_FUNCTION(prefix, abs, F, floatAbs)   \
  KOVA_FLOAT_FUNCTION(prefix, log, F, floatLog)
KOVA_FLOAT_FUNCTIONS(f32, float)
KOVA_FLOAT_FUNCTIONS(f64, double)
#undef KOVA_FLOAT_FUNCTIONS
#undef KOVA_FLOAT_FUNCTION

TaggedValue type_constant(InterpEnv* env, uint32_t code) {
  // FIRST of the float types is the most negative finite value, not the
  // smallest positive one that numeric_limits<>::min() would give.
  using F32 = std::numeric_limits<float>;
  using F64 = std::numeric_limits<double>;
  switch (code) {
    case kCallUInt8First: return interpStack_push(env, std::numeric_limits<uint8_t>::min());
    case kCallUInt8Last: return interpStack_push(env, std::numeric_limits<uint8_t>::max());
    case kCallSInt8First: return interpStack_push(env, std::numeric_limits<int8_t>::min());
    case kCallSInt8Last: return interpStack_push(env, std::numeric_limits<int8_t>::max());
    case kCallUInt16First: return interpStack_push(env, std::numeric_limits<uint16_t>::min());
    case kCallUInt16Last: return interpStack_push(env, std::numeric_limits<uint16_t>::max());
    case kCallSInt16First: return interpStack_push(env, std::numeric_limits<int16_t>::min());
    case kCallSInt16Last: return interpStack_push(env, std::numeric_limits<int16_t>::max());
    case kCallUInt32First: return interpStack_push(env, std::numeric_limits<uint32_t>::min());
    case kCallUInt32Last: return interpStack_push(env, std::numeric_limits<uint32_t>::max());
    case kCallSInt32First: return interpStack_push(env, std::numeric_limits<int32_t>::min());
    case kCallSInt32Last: return interpStack_push(env, std::numeric_limits<int32_t>::max());
    case kCallUInt64First:
    case kCallTime64First: return interpStack_push(env, std::numeric_limits<uint64_t>::min());
    case kCallUInt64Last:
    case kCallTime64Last: return interpStack_push(env, std::numeric_limits<uint64_t>::max());
    case kCallSInt64First:
    case kCallDuration64First: return interpStack_push(env, std::numeric_limits<int64_t>::min());
    case kCallSInt64Last:
    case kCallDuration64Last: return interpStack_push(env, std::numeric_limits<int64_t>::max());
    case kCallF32First: return interpStack_push(env, F32::lowest());
    case kCallF32Last: return interpStack_push(env, F32::max());
    case kCallF64First: return interpStack_push(env, F64::lowest());
    case kCallF64Last: return interpStack_push(env, F64::max());
    default:
      ENV_CHECK(env, false, "(code >= kCallUInt8First) && (code <= kCallF64Last)");
      return kEmptyValue;
  }
}
