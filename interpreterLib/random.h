// Random draws of the language: uniform integers, booleans and floats,
// Gaussian, exponential and Pareto samples, enumeration literals, and seeding.
//
// Every random word comes from the host's random callback and every seed goes
// to its seed callback, so the host alone decides the generator; the draw
// order below is fixed so that a given word sequence always gives the same
// values. Draws push their result on the evaluation stack and return it (a
// narrow result sits in the low bytes of a cleared cell). Arguments arrive
// evaluated, in call order, except for the Pareto draws, whose argument
// count varies: they take the call's argument list and evaluate it themselves.
// Integer bounds must convert to the draw's type keeping their value, float
// arguments must already be of the draw's float type; the Pareto scale may be
// any primitive. A violated argument rule stops the process (guarded reads).
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// ---------------------------------------------------------------- seeding

// Hands `seed` to the seed callback.
void random_seed(InterpEnv* env, uint64_t seed);

// Seeds with seconds × 2^32 + microseconds of the wall clock and pushes that
// seed as uint64; an unreadable clock fails the run ("can not get system time").
TaggedValue random_seedTime(InterpEnv* env);

// ---------------------------------------------------------------- building blocks

// One random word over 2^64, as a double in [0, 1] (1 only by rounding).
double uniform_0_1(InterpEnv* env);

// An index in [min, max) from the low 32 bits of a word; min when max <= min.
uint32_t random_uniformSize(InterpEnv* env, uint32_t min, uint32_t max);

// A standard normal sample by the ratio-of-uniforms method (two uniforms per
// attempt: u, then v).
double ratio_to_uniform_normal_0_1(InterpEnv* env);

// ---------------------------------------------------------------- uniform draws

// An integer in [a, b] of the named width and signedness, pushed with that
// type; b <= a gives a without drawing. A 64-bit full span gives a + word.
TaggedValue uInt8_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue sInt8_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue uInt16_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue sInt16_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue uInt32_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue sInt32_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue uInt64_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue sInt64_randomUniform(InterpEnv* env, TaggedValue a, TaggedValue b);

// Bit 0 of a word, pushed as bool.
TaggedValue bool_randomUniform(InterpEnv* env);

// a + u × (b − a) with u = uniform_0_1, at the named precision.
TaggedValue random_uniform_f32(InterpEnv* env, TaggedValue a, TaggedValue b);
TaggedValue random_uniform_f64(InterpEnv* env, TaggedValue a, TaggedValue b);

// ---------------------------------------------------------------- distributions

// A normal sample n × sigma + mean, pushed as float32.
TaggedValue random_gauss_f32(InterpEnv* env, TaggedValue mean, TaggedValue sigma);

// An exponential sample of rate lambda (mean 1 / lambda), pushed as float32.
// An invalid or infinite quotient (lambda 0, NaN) fails the run with
// "Invalid range..." or "Division by zero..."; the value is pushed anyway
// for a host that lets the run go on.
TaggedValue random_exponential_f32(InterpEnv* env, TaggedValue lambda);

// A Pareto sample xm / (1 − (word + 1) / 2^64)^(1 / alpha); `args` is (alpha)
// with xm = 1, or (xm, alpha). An empty list stops the process.
TaggedValue random_pareto_f32(InterpEnv* env, const AST_Node* args);
TaggedValue random_pareto_f64(InterpEnv* env, const AST_Node* args);

// The same sample from (xm, alpha), computed in single (_f32) or double (_f64)
// precision and converted to the unsigned type, saturating at its bounds.
TaggedValue uInt8_random_pareto_f32(InterpEnv* env, const AST_Node* args);
TaggedValue uInt16_random_pareto_f32(InterpEnv* env, const AST_Node* args);
TaggedValue uInt32_random_pareto_f32(InterpEnv* env, const AST_Node* args);
TaggedValue uInt64_random_pareto_f32(InterpEnv* env, const AST_Node* args);
TaggedValue uInt8_random_pareto_f64(InterpEnv* env, const AST_Node* args);
TaggedValue uInt16_random_pareto_f64(InterpEnv* env, const AST_Node* args);
TaggedValue uInt32_random_pareto_f64(InterpEnv* env, const AST_Node* args);
TaggedValue uInt64_random_pareto_f64(InterpEnv* env, const AST_Node* args);

// ---------------------------------------------------------------- enumerations

// The value of one literal of enumeration type `enumType`, chosen by the low
// 32 bits of a word, pushed as uint32. A bad type id or a type without
// literals is reported through the assert callback (then 0 is pushed).
TaggedValue random_choiceUniformEnum(InterpEnv* env, uint32_t enumType);
