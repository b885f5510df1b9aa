#include "interpreterLib/operator_functions.h"

#include <array>
#include <bit>
#include <type_traits>

#include "ASTLib/ast_ops.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_stack.h"

using namespace kova_ops;

namespace {

constexpr std::array<const char*, kInvalidOpCount> kInvalidOpNames = {
#define KOVA_INVALID_OP_NAME(name, value, text) text,
    KOVA_INVALID_OPS(KOVA_INVALID_OP_NAME)
#undef KOVA_INVALID_OP_NAME
};

}  // namespace

const char* InvalidOp_getName(uint32_t kind) {
  return kind < kInvalidOpNames.size() ? kInvalidOpNames[kind] : "unknown invalid operation";
}

uint64_t expr_uInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint8_t, false>(env, node, node->op, left, right);
}
uint64_t expr_sInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint8_t, true>(env, node, node->op, left, right);
}
uint64_t expr_uInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint16_t, false>(env, node, node->op, left, right);
}
uint64_t expr_sInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint16_t, true>(env, node, node->op, left, right);
}
uint64_t expr_uInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint32_t, false>(env, node, node->op, left, right);
}
uint64_t expr_sInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint32_t, true>(env, node, node->op, left, right);
}
uint64_t expr_uInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint64_t, false>(env, node, node->op, left, right);
}
uint64_t expr_sInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return integerOperator<uint64_t, true>(env, node, node->op, left, right);
}

uint64_t expr_booleanOperator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return booleanOperator(env, node->op, left, right);
}

uint64_t expr_f32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return floatOperator<float>(env, node, node->op, left, right);
}

uint64_t expr_f64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right) {
  return floatOperator<double>(env, node, node->op, left, right);
}

void expr_operatorsInit(InterpEnv* env) {
  static constexpr std::array<OperatorFunction, TypePrimitive> kTable = {
      expr_uInt64Operator,   // Natural
      expr_sInt64Operator,   // Signed_Integer
      expr_uInt8Operator,    // uint8
      expr_sInt8Operator,    // int8
      expr_uInt16Operator,   // uint16
      expr_sInt16Operator,   // int16
      expr_uInt32Operator,   // uint32
      expr_sInt32Operator,   // int32
      expr_uInt64Operator,   // uint64
      expr_sInt64Operator,   // int64
      expr_uInt64Operator,   // time64
      expr_sInt64Operator,   // duration64
      expr_uInt64Operator,   // time
      expr_booleanOperator,  // bool
      nullptr,               // Float: the front end never leaves an operator on it
      expr_f32Operator,      // float32
      expr_f64Operator,      // float64
  };
  env->ctx->execute_operator =
      MEM_ALLOC(OperatorFunction, kTable.size(), "env->ctx->execute_operator");
  for (size_t i = 0; i < kTable.size(); ++i) env->ctx->execute_operator[i] = kTable[i];
}

TaggedValue expr_not(InterpEnv* env, const AST_Node*, TaggedValue operand) {
  ENV_CHECK(env, operand.typeId == TypeBoolean, "val.typeId == TypeBoolean");
  const uint64_t bits = operand.value != nullptr ? operand.value->u64 : 0;
  return interpStack_pushBoolean(env, booleanOperator(env, NOT_OP, bits, 0) != 0);
}
