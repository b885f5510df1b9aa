// The operators of the language, one function per primitive operator type.
//
// The evaluator dispatches an operator node through `env->ctx->execute_operator`,
// indexed by the operator type id stored in the node, and hands the function
// both operands as raw 8-byte cells. The function applies the node's op at its
// own width and returns the result in 8 bytes whose unused high bytes are zero
// (a comparison returns 0 or 1). Integer arithmetic wraps; the only conditions
// reported are a zero divisor and the most negative value divided by -1, both
// through the host's invalid-operation callback. When that callback returns,
// a zero divisor gives 0 and a divisor of -1 gives the wrapped negation
// (division) or 0 (remainder).
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// The kinds passed to `invalid_op_callback`, with their names. The buffer
// operations report kinds 4 to 7.
#define KOVA_INVALID_OPS(X)                                            \
  X(kInvalidOpDivisionByZero, 0, "division by zero")                   \
  X(kInvalidOpModuloZero, 1, "modulo zero")                            \
  X(kInvalidOpDivideMinByMinusOne, 2, "first divided by negative one") \
  X(kInvalidOpModuloMinByMinusOne, 3, "first modulo negative one")     \
  X(kInvalidOpQueueFull, 4, "queue full")                              \
  X(kInvalidOpQueueEmpty, 5, "queue empty")                            \
  X(kInvalidOpStackFull, 6, "stack full")                              \
  X(kInvalidOpStackEmpty, 7, "stack empty")

enum InvalidOpKind : uint32_t {
#define KOVA_INVALID_OP_ENUM(name, value, text) name = value,
  KOVA_INVALID_OPS(KOVA_INVALID_OP_ENUM)
#undef KOVA_INVALID_OP_ENUM
      kInvalidOpCount
};

// The kind's name; "unknown invalid operation" for a value that names none.
const char* InvalidOp_getName(uint32_t kind);

// Integer operators. A non-operator op is reported through the assert
// callback and gives 0.
uint64_t expr_uInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// `==`, `!=` and logical not (on the left operand). Any other op fails with
// "unknown boolean operator\n" and gives 0.
uint64_t expr_booleanOperator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// IEEE arithmetic and ordering. Division by either zero reports kind 0 and
// gives 0.0. Equality and any other op fail with "unknown float operator\n"
// and give 0: floats are never compared for equality at run time.
uint64_t expr_f32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_f64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// Allocates and fills the 17-entry dispatch table; the `Float` literal type
// has no operator (null entry).
void expr_operatorsInit(InterpEnv* env);

// Logical not of a bool, pushed on the evaluation stack as a bool.
TaggedValue expr_not(InterpEnv* env, const AST_Node* node, TaggedValue operand);
