// Statements and user function calls.
#include "interpreterLib/interp.h"

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_compiled.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/iterator.h"
#include "interpreterLib/scheduler.h"

namespace {

bool isBlock(const AST_Node* node) {
  return node != nullptr &&
         (node->op == BLOCK_OP || node->op == BLOCK_OP_10 || node->op == BLOCK_OP_11);
}

// Runs the statements of a list in order; stops at the first pending result.
uint32_t runStatements(InterpEnv* env, const AST_Node* list) {
  const Program* program = env->program.get();
  for (const AST_Node* cell = list; cell != nullptr; cell = AST_child(program, cell->right)) {
    const uint32_t result = statement_execute(env, AST_child(program, cell->left));
    if (result != kStmtDone) return result;
  }
  return kStmtDone;
}

// A loop body: its locals live for one iteration.
uint32_t runBody(InterpEnv* env, const AST_Node* body) {
  if (!isBlock(body)) return statement_execute(env, body);
  const Program* program = env->program.get();
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  variable_declareLocals(env, AST_child(program, body->left));
  const uint32_t result = runStatements(env, AST_child(program, body->right));
  Variable_restorePrevLocalVarCounts(env, saved);
  return result;
}

// Named blocks and states charge the `execution_time` their code assigned.
void chargeExecutionTime(InterpEnv* env, const TaggedValue* timed) {
  env_addTime(env, timed->value[0].u64);
  update_elpased_time(env);
}

}  // namespace

uint32_t statement_execute(InterpEnv* env, const AST_Node* node) {
  if (node == nullptr) return kStmtDone;
  uint32_t result = kStmtDone;
  if (env->ctx->compiled != nullptr && compiled_statement(env, node, &result)) return result;
  return statement_walk(env, node);
}

uint32_t statement_walk(InterpEnv* env, const AST_Node* node) {
  if (node == nullptr) return kStmtDone;
  const Program* program = env->program.get();
  uint32_t result = kStmtDone;
  switch (node->op) {
    case BLOCK_OP:
    case BLOCK_OP_10:
    case BLOCK_OP_11:
      return statement_block(env, AST_child(program, node->left), AST_child(program, node->right),
                             false);
    case BREAK_OP: return kStmtBreak;
    case CONTINUE_OP: return kStmtContinue;
    case IF_OP: {
      const AST_Node* branches = AST_child(program, node->right);
      const AST_Node* elseCell =
          branches != nullptr ? AST_child(program, branches->right) : nullptr;
      return statement_if(env, AST_child(program, node->left),
                          branches != nullptr ? AST_child(program, branches->left) : nullptr,
                          elseCell != nullptr ? AST_child(program, elseCell->left) : nullptr);
    }
    case FOR_OP: {
      const AST_Node* parts = AST_child(program, node->left);
      statement_for(env, AST_getListNth(program, parts, 0), AST_getListNth(program, parts, 1),
                    AST_getListNth(program, parts, 2), AST_child(program, node->right));
      break;
    }
    case WHILE_OP:
      statement_while(env, AST_child(program, node->left), AST_child(program, node->right));
      break;
    // A pending break or continue inside these scopes belongs to the
    // enclosing loop, so it is passed on.
    case TIME_ANNOTATION:
    case PROCESS_ANNOTATION:
    case HARDWARE_ANNOTATION:
      result = statement_execute(env, AST_child(program, node->left));
      break;
    case USER_ANNOTATION: break;
    case NAMED_BLOCK_OP:
      result = statement_block(env, AST_child(program, node->left), AST_child(program, node->right),
                               true);
      break;
    default: expr_execute(env, node); break;
  }
  interpStack_reset(env);
  return result;
}

uint32_t statement_block(InterpEnv* env, const AST_Node* declarations, const AST_Node* statements,
                         bool named) {
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  variable_declareLocals(env, declarations);
  // The named block's own variable is the first local it declares.
  TaggedValue* timed = named ? &env->data->localVariableTable[saved.variables] : nullptr;
  if (timed != nullptr) timed->value[0].u64 = 0;
  const uint32_t result = runStatements(env, statements);
  if (timed != nullptr) chargeExecutionTime(env, timed);
  Variable_restorePrevLocalVarCounts(env, saved);
  return result;
}

uint32_t statement_if(InterpEnv* env, const AST_Node* condition, const AST_Node* thenStmt,
                      const AST_Node* elseStmt) {
  const bool taken = get_value_boolean(env, expr_execute(env, condition));
  return statement_execute(env, taken ? thenStmt : elseStmt);
}

void statement_while(InterpEnv* env, const AST_Node* condition, const AST_Node* body) {
  for (;;) {
    // Nothing of the previous iteration is needed: keep the stack from growing.
    interpStack_reset(env);
    if (!get_value_boolean(env, expr_execute(env, condition))) return;
    if (runBody(env, body) == kStmtBreak) return;
  }
}

void statement_for(InterpEnv* env, const AST_Node* init, const AST_Node* condition,
                   const AST_Node* step, const AST_Node* body) {
  expr_execute(env, init);
  for (;;) {
    if (!get_value_boolean(env, expr_execute(env, condition))) return;
    if (runBody(env, body) == kStmtBreak) return;
    interpStack_reset(env);
    expr_execute(env, step);
  }
}

void statement_loopover(InterpEnv* env, const AST_Node* node) {
  const Program* program = env->program.get();
  const LocalVarsCounts outer = Variable_getCurrentLocalVarCounts(env);
  const AST_Node* decl = AST_child(program, node->left);
  if (decl != nullptr && decl->op == LIST) decl = AST_child(program, decl->left);
  uint32_t iteratorId = 0;
  TaggedValue buffer = kEmptyValue;
  const size_t liveLoops = iterator_liveLoops(env);
  iterator_declare(env, decl, &iteratorId, &buffer);
  if (buffer.typeId >= program->infoProg->n_type) {
    ENV_CHECK(env, false, "buffer.typeId < env->program->infoProg->n_type");
    iterator_endLoop(env, liveLoops);
    Variable_restorePrevLocalVarCounts(env, outer);
    return;
  }
  // A buffer that is a temporary (a function's result) must outlive the
  // body's statements.
  const StackMark mark = interpStack_enterCall(env);
  const AST_Node* body = AST_child(program, node->right);
  const bool channel = channel_isChannel(env, buffer);
  const uint32_t arraySize = program->typeTable[buffer.typeId].size;
  for (;;) {
    TaggedValue iterator = *LocalVariable_getRelativeScopeValue(env, iteratorId);
    const uint32_t index = iterator_getIndex(iterator);
    if (channel) {
      // The count is read again every time: the body may remove elements.
      if (index >= channel_count(env, buffer)) break;
      iterator_setNextIndex(iterator, iterator_has_next(env, iterator) ? index + 1 : NO_ID);
    } else if (index >= arraySize) {
      break;
    }
    if (runBody(env, body) == kStmtBreak) break;
    if (channel) {
      iterator_setIndex(iterator, iterator_getNextIndex(iterator));
    } else {
      iterator_setIndex(iterator, index + 1);
    }
  }
  interpStack_leaveCall(env, mark);
  iterator_endLoop(env, liveLoops);
  Variable_restorePrevLocalVarCounts(env, outer);
}

void variable_declareLocals(InterpEnv* env, const AST_Node* declarationList) {
  const Program* program = env->program.get();
  for (const AST_Node* cell = declarationList; cell != nullptr;
       cell = AST_child(program, cell->right)) {
    const AST_Node* decl = AST_child(program, cell->left);
    if (decl == nullptr) continue;
    const uint32_t typeId = AST_getVarDeclTypeId(program, decl);
    if (typeId >= program->infoProg->n_type) {
      env->ctx->assert_callback(env, 0, __FILE__, __LINE__, "variable_declareLocals",
                                "AST_getVarDeclTypeId(varOrConstDecl) < "
                                "env->program->infoProg->n_type");
      continue;
    }
    if (decl->op == CONSTANT_ARRAY_DECL_OP || decl->op == CONSTANT_DECL_OP) {
      LocalConstant_define(env, decl);
      continue;
    }
    TaggedValue* local = LocalVariable_declare(env, typeId);
    const AST_Node* init = AST_child(program, decl->right);
    if (init != nullptr) {
      // An initialised local keeps its own identity, never a global's.
      const TaggedValue value = expr_execute(env, init);
      value_set(env, *local, value.value, value.typeId);
    } else {
      value_clear(env, *local);
    }
  }
}

TaggedValue* variableDeclareSelf(InterpEnv* env, TaggedValue instance) {
  const TaggedValue self{instance.value, instance.typeId, NO_ID};
  return LocalVariable_reference(env, &self);
}

// ---------------------------------------------------------------- user functions

namespace {

// Out and channel parameters are the caller's variables; in parameters copies.
void bindParameter(InterpEnv* env, const AST_Node* param, const TaggedValue& value) {
  if (param != nullptr && (param->op == OUT_PARAM_OP || param->op == IN_CHANNEL_PARAM_OP ||
                           param->op == OUT_CHANNEL_PARAM_OP)) {
    LocalVariable_reference(env, &value);
  } else {
    TaggedValue* copy = LocalVariable_declare(env, value.typeId);
    value_set(env, *copy, value.value, value.typeId);
  }
}

}  // namespace

uint32_t function_executeArgs(InterpEnv* env, const AST_Node* params, const AST_Node* args) {
  const Program* program = env->program.get();
  uint32_t bound = 0;
  for (; params != nullptr && args != nullptr;
       params = AST_child(program, params->right), args = AST_child(program, args->right)) {
    bindParameter(env, AST_child(program, params->left),
                  expr_execute(env, AST_child(program, args->left)));
    ++bound;
  }
  return bound;
}

uint32_t function_executeArgswValues(InterpEnv* env, const AST_Node* params,
                                     const TaggedValue* values) {
  const Program* program = env->program.get();
  uint32_t bound = 0;
  for (; params != nullptr; params = AST_child(program, params->right), ++bound) {
    bindParameter(env, AST_child(program, params->left), values[bound]);
  }
  return bound;
}

namespace {

// The common frame of every user function call: bind, hide the caller's
// locals, protect the caller's stack operands, run, restore.
template <class Bind>
void runFunction(InterpEnv* env, uint32_t funcId, Bind bind) {
  const Program* program = env->program.get();
  if (funcId >= program->infoProg->n_functions) {
    ENV_CHECK(env, false, "funcId < env->program->infoProg->n_functions");
    return;
  }
  Context& ctx = *env->ctx;
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (ctx.callDepth == 0) ctx.stackBase = frame;
  if (ctx.callDepth >= kMaxCallDepth || ctx.stackBase - frame > ctx.stackBudget) [[unlikely]] {
    interp_failure(env, "Stack overflow\n");
    return;
  }
  ++ctx.callDepth;
  const FunctionRecord& function = program->functionTable[funcId];
  const LocalVarsIndexes saved = Variable_getCurrentLocalVarIndexes(env);
  const uint32_t bound = bind(AST_child(program, function.params));
  Locals_hideNonArgs(env, bound);
  const StackMark mark = interpStack_enterCall(env);
  statement_execute(env, AST_child(program, function.body));
  interpStack_leaveCall(env, mark);
  Variable_restorePrevLocalVarIndexes(env, saved);
  --ctx.callDepth;
}

}  // namespace

void function_executeCall(InterpEnv* env, uint32_t funcId, const AST_Node* args) {
  runFunction(env, funcId,
              [&](const AST_Node* params) { return function_executeArgs(env, params, args); });
}

void function_executeCallCurrying(InterpEnv* env, uint32_t funcId, const AST_Node* args,
                                  const TaggedValue* result) {
  runFunction(env, funcId, [&](const AST_Node* params) {
    const uint32_t bound = function_executeArgs(env, params, args);
    LocalVariable_reference(env, result);
    return bound + 1;
  });
}

void function_executeCallwValues(InterpEnv* env, uint32_t funcId, const TaggedValue* values) {
  runFunction(env, funcId, [&](const AST_Node* params) {
    return function_executeArgswValues(env, params, values);
  });
}

uint64_t time_durationToPs(InterpEnv* env, const AST_Node* expression) {
  if (expression == nullptr) return 0;
  return TaggedValue_asUInt64(expr_execute(env, expression), CONV_WIDEN);
}
