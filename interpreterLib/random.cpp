#include "interpreterLib/random.h"

#include <sys/time.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rAST.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"

namespace {

constexpr double kTwoPow64 = 18446744073709551616.0;
constexpr double kSqrtTwoOverE = 0.8577638849607068;

uint64_t randomWord(InterpEnv* env) {
  return env->ctx->random_callback(env);
}

// Works in u64 so that the span and the sum wrap instead of overflowing;
// converting back to T keeps the low bits of the type's width.
template <typename T>
TaggedValue uniformInteger(InterpEnv* env, T a, T b, uint32_t typeId) {
  if (b <= a) return interpStack_push(env, a);
  const uint64_t span =
      (static_cast<uint64_t>(b) - static_cast<uint64_t>(a)) & integerTypeMask(typeId);
  const uint64_t r = randomWord(env);
  // span + 1 would wrap to 0: the word itself is uniform over the full range.
  const uint64_t offset = span == UINT64_MAX ? r : r % (span + 1);
  return interpStack_push(env, static_cast<T>(static_cast<uint64_t>(a) + offset));
}

template <typename F>
F asFloat(TaggedValue value, uint32_t mask) {
  if constexpr (std::is_same_v<F, float>) {
    return TaggedValue_asF32(value, mask);
  } else {
    return TaggedValue_asF64(value, mask);
  }
}

template <typename F>
F argument(InterpEnv* env, const AST_Node* args, uint32_t n, uint32_t mask) {
  return asFloat<F>(expr_execute(env, AST_getListNth(env->program.get(), args, n)), mask);
}

// (alpha) alone means xm = 1; otherwise (xm, alpha), evaluated in that order,
// then one word. The word + 1 keeps the base above 0 except where rounding a
// word near 2^64 reaches 2^64: the sample is then infinite.
template <typename F>
F paretoDraw(InterpEnv* env, const AST_Node* args) {
  const uint32_t count = AST_listSize(env->program.get(), args);
  KOVA_ASSERT(count > 0, "AST_listSize(env->program,args) > 0");
  F xm{1};
  F alpha{};
  if (count == 1) {
    alpha = argument<F>(env, args, 0, CONV_EXACT);
  } else {
    xm = argument<F>(env, args, 0, CONV_ANY_PRIM);
    alpha = argument<F>(env, args, 1, CONV_EXACT);
  }
  const auto r = static_cast<F>(randomWord(env));
  const F base = F{1} - (r + F{1}) / static_cast<F>(kTwoPow64);
  return xm / std::pow(base, F{1} / alpha);
}

// The unsigned family always names the scale; the sample is handed on as a
// value of its float type for the saturating conversion.
template <typename F>
TaggedValue unsignedParetoSample(InterpEnv* env, const AST_Node* args, ValueCell* cell) {
  KOVA_ASSERT(AST_listSize(env->program.get(), args) > 1, "AST_listSize(env->program,args) > 1");
  cell->u64 = 0;
  if constexpr (std::is_same_v<F, float>) {
    cell->f32 = paretoDraw<float>(env, args);
    return {cell, TypeF32, NO_ID};
  } else {
    cell->f64 = paretoDraw<double>(env, args);
    return {cell, TypeF64, NO_ID};
  }
}

}  // namespace

// ---------------------------------------------------------------- seeding

void random_seed(InterpEnv* env, uint64_t seed) {
  env->ctx->random_seed_callback(seed);
}

TaggedValue random_seedTime(InterpEnv* env) {
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) {
    interp_failure(env, "can not get system time\n");
    now = timeval{};
  }
  const uint64_t seed =
      (static_cast<uint64_t>(now.tv_sec) << 32) + static_cast<uint64_t>(now.tv_usec);
  random_seed(env, seed);
  return interpStack_pushUInt64(env, seed);
}

// ---------------------------------------------------------------- building blocks

double uniform_0_1(InterpEnv* env) {
  return static_cast<double>(randomWord(env)) / kTwoPow64;
}

uint32_t random_uniformSize(InterpEnv* env, uint32_t min, uint32_t max) {
  if (min >= max) return min;
  return min + static_cast<uint32_t>(randomWord(env)) % (max - min);
}

double ratio_to_uniform_normal_0_1(InterpEnv* env) {
  double u = 0.0;
  double v = 0.0;
  // Written as "repeat while rejected" so that a NaN test accepts.
  do {
    u = uniform_0_1(env);
    v = (2.0 * uniform_0_1(env) - 1.0) * kSqrtTwoOverE;
  } while (-4.0 * u * u * std::log(u) < v * v);
  return v / u;
}

// ---------------------------------------------------------------- uniform draws

#define KOVA_UNIFORM_INTEGER(name, type, read, typeId)             \
  TaggedValue name(InterpEnv* env, TaggedValue a, TaggedValue b) { \
    const type low = read(a, CONV_VALUE_KEPT);                     \
    const type high = read(b, CONV_VALUE_KEPT);                    \
    return uniformInteger<type>(env, low, high, typeId);           \
  }
KOVA_UNIFORM_INTEGER(uInt8_randomUniform, uint8_t, TaggedValue_asUInt8, TypeUInt8)
KOVA_UNIFORM_INTEGER(sInt8_randomUniform, int8_t, TaggedValue_asSInt8, TypeSInt8)
KOVA_UNIFORM_INTEGER(uInt16_randomUniform, uint16_t, TaggedValue_asUInt16, TypeUInt16)
KOVA_UNIFORM_INTEGER(sInt16_randomUniform, int16_t, TaggedValue_asSInt16, TypeSInt16)
KOVA_UNIFORM_INTEGER(uInt32_randomUniform, uint32_t, TaggedValue_asUInt32, TypeUInt32)
KOVA_UNIFORM_INTEGER(sInt32_randomUniform, int32_t, TaggedValue_asSInt32, TypeSInt32)
KOVA_UNIFORM_INTEGER(uInt64_randomUniform, uint64_t, TaggedValue_asUInt64, TypeUInt64)
KOVA_UNIFORM_INTEGER(sInt64_randomUniform, int64_t, TaggedValue_asSInt64, TypeSInt64)
#undef KOVA_UNIFORM_INTEGER

TaggedValue bool_randomUniform(InterpEnv* env) {
  return interpStack_pushBoolean(env, (randomWord(env) & 1u) != 0);
}

TaggedValue random_uniform_f32(InterpEnv* env, TaggedValue a, TaggedValue b) {
  const float low = TaggedValue_asF32(a, CONV_EXACT);
  const float high = TaggedValue_asF32(b, CONV_EXACT);
  const auto u = static_cast<float>(uniform_0_1(env));
  return interpStack_pushF32(env, low + u * (high - low));
}

TaggedValue random_uniform_f64(InterpEnv* env, TaggedValue a, TaggedValue b) {
  const double low = TaggedValue_asF64(a, CONV_EXACT);
  const double high = TaggedValue_asF64(b, CONV_EXACT);
  const double u = uniform_0_1(env);
  return interpStack_pushF64(env, low + u * (high - low));
}

// ---------------------------------------------------------------- distributions

TaggedValue random_gauss_f32(InterpEnv* env, TaggedValue mean, TaggedValue sigma) {
  const float mu = TaggedValue_asF32(mean, CONV_EXACT);
  const float s = TaggedValue_asF32(sigma, CONV_EXACT);
  const auto n = static_cast<float>(ratio_to_uniform_normal_0_1(env));
  return interpStack_pushF32(env, n * s + mu);
}

TaggedValue random_exponential_f32(InterpEnv* env, TaggedValue lambda) {
  const float rate = TaggedValue_asF32(lambda, CONV_EXACT);
  // ln(1 - u) needs u < 1; 1.0 only comes from rounding a word near 2^64.
  double u = 0.0;
  do {
    u = uniform_0_1(env);
  } while (u == 1.0);
  ENV_CHECK(env, u != 1.0L, "u != 1.0L");
  const int fail = std::feclearexcept(FE_ALL_EXCEPT);
  KOVA_ASSERT(!fail, "!fail");
  // The volatile store keeps the computation ahead of the flag tests.
  volatile double x = std::log(1.0 - u) / static_cast<double>(-rate);
  if (std::fetestexcept(FE_INVALID) != 0) {
    interp_failure(env, "Invalid range while random_exponential.\n");
  } else if (std::fetestexcept(FE_DIVBYZERO) != 0) {
    interp_failure(env, "Division by zero while random_exponential.\n");
  }
  return interpStack_pushF32(env, static_cast<float>(x));
}

TaggedValue random_pareto_f32(InterpEnv* env, const AST_Node* args) {
  return interpStack_pushF32(env, paretoDraw<float>(env, args));
}

TaggedValue random_pareto_f64(InterpEnv* env, const AST_Node* args) {
  return interpStack_pushF64(env, paretoDraw<double>(env, args));
}

#define KOVA_UNSIGNED_PARETO(name, F, type, read)                                      \
  TaggedValue name(InterpEnv* env, const AST_Node* args) {                             \
    ValueCell cell = kZeroCell;                                                        \
    const type value = read(unsignedParetoSample<F>(env, args, &cell), CONV_ANY_PRIM); \
    return interpStack_push(env, value);                                               \
  }
KOVA_UNSIGNED_PARETO(uInt8_random_pareto_f32, float, uint8_t, TaggedValue_asUInt8)
KOVA_UNSIGNED_PARETO(uInt16_random_pareto_f32, float, uint16_t, TaggedValue_asUInt16)
KOVA_UNSIGNED_PARETO(uInt32_random_pareto_f32, float, uint32_t, TaggedValue_asUInt32)
KOVA_UNSIGNED_PARETO(uInt64_random_pareto_f32, float, uint64_t, TaggedValue_asUInt64)
KOVA_UNSIGNED_PARETO(uInt8_random_pareto_f64, double, uint8_t, TaggedValue_asUInt8)
KOVA_UNSIGNED_PARETO(uInt16_random_pareto_f64, double, uint16_t, TaggedValue_asUInt16)
KOVA_UNSIGNED_PARETO(uInt32_random_pareto_f64, double, uint32_t, TaggedValue_asUInt32)
KOVA_UNSIGNED_PARETO(uInt64_random_pareto_f64, double, uint64_t, TaggedValue_asUInt64)
#undef KOVA_UNSIGNED_PARETO

// ---------------------------------------------------------------- enumerations

TaggedValue random_choiceUniformEnum(InterpEnv* env, uint32_t enumType) {
  const Program* program = env->program.get();
  const bool known = enumType < program->infoProg->n_type;
  ENV_CHECK(env, known, "enumType < env->program->infoProg->n_type");
  if (!known) return interpStack_pushUInt32(env, 0);
  const uint32_t fields = program->typeTable[enumType].fields;
  ENV_CHECK(env, fields != 0, "env->program->typeTable[enumType].fields != 0");
  const AST_Node* literals = fields != 0 ? AST_fromId(program, fields) : nullptr;
  const uint32_t n = AST_listSize(program, literals);
  if (n == 0) return interpStack_pushUInt32(env, 0);
  const uint32_t k = static_cast<uint32_t>(randomWord(env)) % n;
  return interpStack_pushUInt32(env,
                                AST_getEnumValue(program, AST_getListNth(program, literals, k)));
}
