// The expression evaluator: one switch over the op code, each case a few
// lines, helpers beside it. Temporaries live on the evaluation stack;
// variables come back by reference.
#include "interpreterLib/interp_expr.h"

#include "ASTLib/default_callback.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/operator_functions.h"

namespace {

// The id carried by a reference node's left child.
inline uint32_t leftId(const Program* program, const AST_Node* node) {
  return program->RAMprogram[node->left].value.id.index;
}

[[gnu::cold]] void operatorChecks(InterpEnv* env, TaggedValue l, TaggedValue r, uint32_t opType,
                                  bool binary) {
  const uint32_t nType = env->program->infoProg->n_type;
  ENV_CHECK(env, l.typeId < nType, "lValue.typeId < env->program->infoProg->n_type");
  if (binary) ENV_CHECK(env, r.typeId < nType, "rValue.typeId < env->program->infoProg->n_type");
  ENV_CHECK(env, opType < TypePrimitive, "operatorTypeId < TypePrimitive");
  ENV_CHECK(env, opType < TypePrimitive && env->ctx->execute_operator[opType] != nullptr,
            "env->ctx->execute_operator[operatorTypeId] != ((void *)0)");
}

inline uint64_t applyOperator(InterpEnv* env, const AST_Node* node, TaggedValue l, TaggedValue r,
                              bool binary) {
  const uint32_t opType = node->value.id.type;
  const uint32_t nType = env->program->infoProg->n_type;
  OperatorFunction f = opType < TypePrimitive ? env->ctx->execute_operator[opType] : nullptr;
  if (l.typeId >= nType || (binary && r.typeId >= nType) || f == nullptr) [[unlikely]] {
    operatorChecks(env, l, r, opType, binary);
    return 0;
  }
  return f(env, node, l.value->u64, binary ? r.value->u64 : 0);
}

TaggedValue binaryOperator(InterpEnv* env, const AST_Node* node, bool comparison) {
  const Program* program = env->program.get();
  const TaggedValue l = expr_execute(env, AST_child(program, node->left));
  const TaggedValue r = expr_execute(env, AST_child(program, node->right));
  const uint64_t result = applyOperator(env, node, l, r, true);
  if (comparison) return interpStack_pushBoolean(env, (result & 0xFF) != 0);
  return interpStack_pushSingleAnyValue(env, node->value.id.type, result);
}

TaggedValue unaryOperator(InterpEnv* env, const AST_Node* node) {
  ENV_CHECK(env, node->right == NO_ID, "astp->right == (((0xFFFFFFFFU)))");
  const TaggedValue l = expr_execute(env, AST_child(env->program.get(), node->left));
  const uint64_t result = applyOperator(env, node, l, l, false);
  return interpStack_pushSingleAnyValue(env, node->value.id.type, result);
}

uint64_t timeUnitPs(uint32_t op) {
  switch (op) {
    case MS_OP: return 1000000000ull;
    case S_OP: return 1000000000000ull;
    case US_OP: return 1000000ull;
    default: return 1000ull;  // NS_OP
  }
}

TaggedValue timeLiteral(InterpEnv* env, const AST_Node* node) {
  const AST_Node* operand = AST_child(env->program.get(), node->left);
  const uint64_t count = operand != nullptr
                             ? TaggedValue_asUInt64(expr_execute(env, operand), CONV_WIDEN)
                             : node->value.u64;
  return interpStack_pushSingleAnyValue(env, TypeTime, count * timeUnitPs(node->op));
}

TaggedValue globalVariable(InterpEnv* env, const AST_Node* node) {
  const uint32_t id = leftId(env->program.get(), node);
  ENV_CHECK(env, env->ctx->var_read_callback != nullptr, "env->ctx->var_read_callback != NULL");
  // Unless a host watches reads (the traced driver does, quiet runs do not),
  // the callback is the default, which does nothing: skip the indirect call.
  VarReadCallback read = env->ctx->var_read_callback[id];
  if (read != &defaultCallback_varRead) read(env, id);
  return env->program->globalVariableTable[id];
}

TaggedValue assignment(InterpEnv* env, const AST_Node* node) {
  const Program* program = env->program.get();
  const TaggedValue value = expr_execute(env, AST_child(program, node->right));
  const TaggedValue target = expr_execute(env, AST_child(program, node->left));
  if (target.globalId != NO_ID) {
    VarChangeCallback change = env->ctx->var_change_callback[target.globalId];
    ENV_CHECK(env, change != nullptr, "env->ctx->var_change_callback[v_left.globalId] != NULL");
    if (change(env, target.globalId, kVarAssign, value) != 0) return kNoValue;
  }
  value_set(env, target, value.value, value.typeId);
  return kNoValue;
}

TaggedValue arrayElement(InterpEnv* env, const AST_Node* node) {
  const Program* program = env->program.get();
  const TaggedValue indexValue = expr_execute(env, AST_child(program, node->right));
  uint32_t index = 0;
  const uint32_t convRes = primTypeToSize(indexValue, &index);
  if ((convRes & CONV_SAFE_2COMPL) == 0) [[unlikely]] {
    ENV_CHECK(env, false, "convRes & CONV_SAFE_2COMPL");
    return kEmptyValue;
  }
  if (convRes == kIcrNegativeToWiderUnsigned) [[unlikely]] {
    interp_failure(env, "Negative array index\n");
    return kEmptyValue;
  }
  const TaggedValue array = expr_execute(env, AST_child(program, node->left));
  return array_get(env, array, index);
}

TaggedValue shortCircuit(InterpEnv* env, const AST_Node* node, bool isAnd) {
  const Program* program = env->program.get();
  const TaggedValue l = expr_execute(env, AST_child(program, node->left));
  const bool left = l.value->boolean != 0;
  if (left != isAnd) return interpStack_pushBoolean(env, left);
  const TaggedValue r = expr_execute(env, AST_child(program, node->right));
  return interpStack_pushBoolean(env, r.value->boolean != 0);
}

TaggedValue constantData(InterpEnv* env, const AST_Node* node, uint32_t typeId) {
  const uint32_t index = node->value.id.index;
  if (typeId == TypeStructure) {
    ENV_CHECK(env, index < env->program->infoProg->size_constantData,
              "initId < env->program->infoProg->size_constantData");
  }
  return {&env->program->constantDataTable[index], typeId, NO_ID};
}

}  // namespace

bool get_value_boolean(InterpEnv*, TaggedValue value) {
  return TaggedValue_asBoolean(value, CONV_EXACT);
}

TaggedValue expr_execute(InterpEnv* env, const AST_Node* node) {
  if (node == nullptr) return kEmptyValue;
  const Program* program = env->program.get();
  switch (static_cast<AST_Op>(node->op)) {
    case AND_OP: return shortCircuit(env, node, true);
    case OR_OP: return shortCircuit(env, node, false);
    case NOT_OP: return expr_not(env, node, expr_execute(env, AST_child(program, node->left)));

    case BIT_AND_OP:
    case SHIFT_LEFT_OP:
    case BIT_OR_OP:
    case SHIFT_RIGHT_OP:
    case BIT_XOR_OP:
    case DIV_OP:
    case MINUS_OP:
    case MODULO_OP:
    case MULT_OP:
    case PLUS_OP: return binaryOperator(env, node, false);
    case BIT_NOT_OP:
    case NEG_OP: return unaryOperator(env, node);
    case CEQ_OP:
    case CGE_OP:
    case CLE_OP:
    case CNE_OP:
    case GT_OP:
    case LT_OP: return binaryOperator(env, node, true);

    case BOOLEAN_OP: return interpStack_pushBoolean(env, node->value.boolean != 0);
    case INTEGER_OP: return interpStack_pushSingleAnyValue(env, TypeInt, node->value.u64);
    case FLOAT32_OP: return interpStack_pushF32(env, node->value.f32);
    case FLOAT64_OP: return interpStack_pushF64(env, node->value.f64);
    case PS_OP: return interpStack_pushSingleAnyValue(env, TypeTime, node->value.u64);
    case MS_OP:
    case S_OP:
    case US_OP:
    case NS_OP: return timeLiteral(env, node);
    case ENUM_OP:
      return interpStack_pushSingleAnyValue(env, node->value.id.type, leftId(program, node));
    case STRING_OP: return constantData(env, node, TypeString);
    case INITIALIZER_OP: return constantData(env, node, TypeStructure);
    case TYPE_OP:
      return interpStack_pushSingleAnyValue(env, TypeType, AST_getTypeTypeId(program, node));
    case FLOAT_OP:
      ENV_CHECK(env, false, "0 && \"FLOAT_OP not supposed to be found in the interpreter\"");
      return kEmptyValue;

    case GLOBAL_VARIABLE_OP: return globalVariable(env, node);
    case GLOBAL_CONSTANT_OP: return program->globalConstantTable[leftId(program, node)];
    case LOCAL_VAR: return *LocalVariable_getRelativeScopeValue(env, leftId(program, node));
    case LOCAL_CONSTANT_OP: return *LocalConstant_getValue(env, leftId(program, node));
    case STATIC_VARIABLE_OP:
      return *StaticVaraible_getRelativeScopeValue(env, leftId(program, node));
    case ARRAY_INDEX_OP: return arrayElement(env, node);

    case ASSIGN_OP: return assignment(env, node);
    case CAST_OP:
      return interpStack_pushForcedTypeValue(env, node->value.id.type,
                                             expr_execute(env, AST_child(program, node->left)));
    case CALL_OP: return interp_executeCall(env, node);
    case LOOPOVER_OP: statement_loopover(env, node); return kNoValue;

    // Not expressions: statements and declarations never reach here.
    case AFTER_OP:
    case BLOCK_OP:
    case BLOCK_OP_10:
    case BLOCK_OP_11:
    case BREAK_OP:
    case COMMENT_OP:
    case CONSTANT_ARRAY_DECL_OP:
    case CONSTANT_DECL_OP:
    case CONTINUE_OP:
    case FIELD_STATEMENT:
    case FOR_OP:
    case IF_OP:
    case IN_CHANNEL_PARAM_OP:
    case INDEX_NODE:
    case IN_PARAM_OP:
    case IO_OP:
    case ITERATOR_DECL_OP:
    case LIST:
    case ON_OP:
    case OUT_CHANNEL_PARAM_OP:
    case OUT_PARAM_OP:
    case PROCESS_INSTANCE_NODE:
    case STATE_DCL:
    case SYM:
    case VARIABLE_BUFFER_DECL_OP:
    case VARIABLE_DECL_OP:
    case STATIC_VARIABLE_DECL_OP:
    case STATIC_BUFFER_DECL_OP:
    case WHILE_OP:
    case TIME_ANNOTATION:
    case USER_ANNOTATION:
    case PROCESS_ANNOTATION:
    case HARDWARE_ANNOTATION:
    case NAMED_BLOCK_OP:
    case NAMED_STATE_STATEMENT:
    case ROOT:
    case FUNCTION_DECLARATION:
    case FUNCTION_PROTOTYPE:
    case PROCESS_DECLARATION:
    case PROCESS_PROTOTYPE:
    case TYPE_DECLARATION:
    case GLOBAL_DECL_OP:
    case INCLUDE_OP: break;
  }
  interp_failure(env, "unknown operator/statement (%d)\n", static_cast<int>(node->op));
  return kEmptyValue;
}

TaggedValue time_currentUInt64(InterpEnv* env) {
  return interpStack_pushSingleAnyValue(env, TypeTime64, env->ctx->get_local_time_callback(env));
}

TaggedValue time_absoluteUInt64(InterpEnv* env) {
  return interpStack_pushSingleAnyValue(env, TypeTime64, env->ctx->get_absolute_time_callback(env));
}
