// Built-in methods that compute on numbers: `max`, `min` and `abs` per type,
// the mathematical functions of float32 and float64, and the FIRST and LAST
// constants of the primitive types.
//
// Each method takes the call's argument list, evaluates its arguments in
// order and pushes its result on the evaluation stack, tagged with the
// method's type. Integer arguments are read at the method's width and
// signedness without conversion, as operators read their operands.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// max/min: the first argument that no later one beats strictly (ties keep the
// earliest). An empty list fails the check "ast_it_notEnd(argsIt)".
TaggedValue uInt8_max(InterpEnv* env, const AST_Node* args);
TaggedValue sInt8_max(InterpEnv* env, const AST_Node* args);
TaggedValue uInt16_max(InterpEnv* env, const AST_Node* args);
TaggedValue sInt16_max(InterpEnv* env, const AST_Node* args);
TaggedValue uInt32_max(InterpEnv* env, const AST_Node* args);
TaggedValue sInt32_max(InterpEnv* env, const AST_Node* args);
TaggedValue uInt64_max(InterpEnv* env, const AST_Node* args);
TaggedValue sInt64_max(InterpEnv* env, const AST_Node* args);
TaggedValue f32_max(InterpEnv* env, const AST_Node* args);
TaggedValue f64_max(InterpEnv* env, const AST_Node* args);
TaggedValue uInt8_min(InterpEnv* env, const AST_Node* args);
TaggedValue sInt8_min(InterpEnv* env, const AST_Node* args);
TaggedValue uInt16_min(InterpEnv* env, const AST_Node* args);
TaggedValue sInt16_min(InterpEnv* env, const AST_Node* args);
TaggedValue uInt32_min(InterpEnv* env, const AST_Node* args);
TaggedValue sInt32_min(InterpEnv* env, const AST_Node* args);
TaggedValue uInt64_min(InterpEnv* env, const AST_Node* args);
TaggedValue sInt64_min(InterpEnv* env, const AST_Node* args);
TaggedValue f32_min(InterpEnv* env, const AST_Node* args);
TaggedValue f64_min(InterpEnv* env, const AST_Node* args);

// abs of the unsigned types: the argument's bits read as a two's complement
// number of the same width; the magnitude fits the unsigned type (-128 -> 128).
TaggedValue uInt8_abs(InterpEnv* env, const AST_Node* args);
TaggedValue uInt16_abs(InterpEnv* env, const AST_Node* args);
TaggedValue uInt32_abs(InterpEnv* env, const AST_Node* args);
TaggedValue uInt64_abs(InterpEnv* env, const AST_Node* args);

// Mathematical functions of the C library, in the method's precision. The
// argument must be of the method's float type ("val.typeId == TypeF32" /
// "val.typeId == TypeF64"); pow reads both arguments as that exact type.
// cos, sin and atan give +0.0 for a zero result; abs keeps -0.0.
TaggedValue f32_cos(InterpEnv* env, const AST_Node* args);
TaggedValue f32_sin(InterpEnv* env, const AST_Node* args);
TaggedValue f32_atan(InterpEnv* env, const AST_Node* args);
TaggedValue f32_sqrt(InterpEnv* env, const AST_Node* args);
TaggedValue f32_pow(InterpEnv* env, const AST_Node* args);
TaggedValue f32_abs(InterpEnv* env, const AST_Node* args);
TaggedValue f32_log(InterpEnv* env, const AST_Node* args);
TaggedValue f64_cos(InterpEnv* env, const AST_Node* args);
TaggedValue f64_sin(InterpEnv* env, const AST_Node* args);
TaggedValue f64_atan(InterpEnv* env, const AST_Node* args);
TaggedValue f64_sqrt(InterpEnv* env, const AST_Node* args);
TaggedValue f64_pow(InterpEnv* env, const AST_Node* args);
TaggedValue f64_abs(InterpEnv* env, const AST_Node* args);
TaggedValue f64_log(InterpEnv* env, const AST_Node* args);

// FIRST / LAST of a primitive type, for call codes kCallUInt8First ..
// kCallF64Last. time64 constants carry the uint64 tag and duration64 ones the
// int64 tag; the float ones are the extreme finite values. Another code fails
// an internal check and gives the empty value.
TaggedValue type_constant(InterpEnv* env, uint32_t code);
