#include "interpreterLib/process.h"

#include <cstdlib>

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/scheduler.h"

namespace {

inline ValueCell& field(InterpEnv* env, TaggedValue instance, KnownField f) {
  return *interp_knownField(env, instance, f).value;
}

// The instance id indexes the per-instance callbacks; the program may have
// written anything into it.
uint32_t instanceIdOf(InterpEnv* env, TaggedValue instance) {
  const uint32_t id = field(env, instance, kField_Process_Instance_instance_id).u32;
  if (id >= env->program->infoProg->n_processInstances) [[unlikely]] {
    interp_failure(env, "Process instance id %u out of range\n", id);
    std::abort();  // a host whose exit callback returns: no instance to report on
  }
  return id;
}

// The node of the instance's current state, which the program may also have
// overwritten: anything but a state node ends the run.
const AST_Node* currentState(InterpEnv* env, TaggedValue instance) {
  const Program* program = env->program.get();
  const uint32_t id = field(env, instance, kField_Process_Instance_state_ptr).u32;
  if (id >= program->infoProg->n_AST || program->RAMprogram[id].op != NAMED_STATE_STATEMENT)
      [[unlikely]] {
    interp_failure(env, "Process state %u is not a state\n", id);
    std::abort();
  }
  return &program->RAMprogram[id];
}

void reportState(InterpEnv* env, TaggedValue instance, uint32_t kind, uint32_t value) {
  const uint32_t id = instanceIdOf(env, instance);
  ENV_CHECK(env, env->ctx->fsm_changed_callback[id] != nullptr,
            "env->ctx->fsm_changed_callback[processInstanceId] != NULL");
  env->ctx->fsm_changed_callback[id](env, instance, kind, value);
}

void reportActivation(InterpEnv* env, TaggedValue instance, uint32_t event) {
  ENV_CHECK(env, env->ctx->process_activation_callback != nullptr,
            "env->ctx->process_activation_callback != NULL");
  env->ctx->process_activation_callback[instanceIdOf(env, instance)](env, instance, event);
}

// Declares the state's variable (a fresh State value) and returns it; in
// simulated mode its execution time starts at 0.
TaggedValue* declareStateVariable(InterpEnv* env, const AST_Node* stateStmt) {
  const uint32_t first = env->ctx->localVarsIndexes.count.variables;
  variable_declareLocals(env, AST_getStateVarDecl(env->program.get(), stateStmt));
  TaggedValue* state = &env->data->localVariableTable[first];
  if (!env->ctx->realtime) state->value[0].u64 = 0;
  return state;
}

void chargeStateTime(InterpEnv* env, const TaggedValue* state) {
  if (env->ctx->realtime) return;
  env_addTime(env, state->value[0].u64);
  update_elpased_time(env);
}

void enterState(InterpEnv* env, TaggedValue instance, const AST_Node* transition) {
  const Program* program = env->program.get();
  const AST_Node* reached = AST_getTransitionReachedASTState(program, transition);
  field(env, instance, kField_Process_Instance_state_ptr).u64 = AST_id(program, reached);
  field(env, instance, kField_Process_Instance_process_state).u64 =
      AST_getStateId(program, reached);
  reportState(env, instance, kFsmEnteredState,
              field(env, instance, kField_Process_Instance_process_state).u32);
}

}  // namespace

uint32_t executeNamedStateTransitions(InterpEnv* env, const AST_Node* stateStmt,
                                      TaggedValue instance) {
  const Program* program = env->program.get();
  uint32_t fired = 0;
  uint32_t index = 0;
  const uint64_t elapsed = field(env, instance, kField_Process_Instance_duration).u64;
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  const TaggedValue* state = declareStateVariable(env, stateStmt);
  const AST_Node* dcl = AST_getStateDecl(program, stateStmt);
  for (const AST_Node* cell = AST_getStateTransitions(program, dcl); cell != nullptr;
       cell = AST_child(program, cell->right), ++index) {
    const AST_Node* transition = AST_child(program, cell->left);
    if (transition->op == ON_OP) {
      if (!get_value_boolean(env,
                             expr_execute(env, AST_getTransitionCondition(program, transition)))) {
        continue;
      }
      ENV_CHECK(env, env->ctx->fsm_changed_callback != nullptr,
                "env->ctx->fsm_changed_callback != NULL");
      statement_execute(env, AST_getTransitionStatement(program, transition));
      enterState(env, instance, transition);
      fired = 1;
      break;
    }
    if (transition->op == AFTER_OP) {
      const uint64_t delay =
          time_durationToPs(env, AST_getAfterTransitionDelay(program, transition));
      if (delay > elapsed) continue;
      const AST_Node* condition = AST_getAfterTransitionCondition(program, transition);
      if (condition != nullptr && !get_value_boolean(env, expr_execute(env, condition))) continue;
      ENV_CHECK(env, env->ctx->fsm_changed_callback != nullptr,
                "env->ctx->fsm_changed_callback != NULL");
      reportState(env, instance, kFsmAfterFired, index);
      statement_execute(env, AST_getTransitionStatement(program, transition));
      enterState(env, instance, transition);
      fired = 1;
      break;
    }
    ENV_CHECK(env, false, "false");
  }
  chargeStateTime(env, state);
  Variable_restorePrevLocalVarCounts(env, saved);
  return fired;
}

void executeNamedState(InterpEnv* env, const AST_Node* stateStmt) {
  const Program* program = env->program.get();
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  const TaggedValue* state = declareStateVariable(env, stateStmt);
  statement_execute(env, AST_getStateBlock(program, AST_getStateDecl(program, stateStmt)));
  chargeStateTime(env, state);
  Variable_restorePrevLocalVarCounts(env, saved);
}

void process_executeCall(InterpEnv* env, uint32_t processDefinitionId, uint32_t staticBase,
                         const AST_Node* args, TaggedValue instance) {
  const Program* program = env->program.get();
  KOVA_ASSERT(processDefinitionId < program->infoProg->n_processDefinitions,
              "processDefinitionId < env->program->infoProg->n_processDefinitions");
  const ProcessDefinitionRecord& def = program->processDefinitionTable[processDefinitionId];
  reportActivation(env, instance, START);

  const LocalVarsIndexes saved = Variable_getCurrentLocalVarIndexes(env);
  const uint32_t bound = function_executeArgs(env, AST_child(program, def.params), args);
  Locals_hideNonArgs(env, bound);
  env->ctx->localVarsIndexes.base.processStaticVariables = staticBase;
  ENV_CHECK(
      env, staticBase == NO_ID || staticBase <= program->infoProg->n_processStaticVariables,
      "staticBase == NO_ID || staticBase <= env->program->infoProg->n_processStaticVariables");
  const StackMark mark = interpStack_enterCall(env);
  variableDeclareSelf(env, instance);
  variable_declareLocals(env, AST_child(program, def.localVars));

  const AST_Node* state = currentState(env, instance);
  ValueCell& again = field(env, instance, kField_Process_Instance_continue);
  again.u64 = 1;
  while (again.boolean != 0) {
    again.u64 = 0;
    ValueCell& previous = field(env, instance, kField_Process_Instance_previous_activation);
    ValueCell& current = field(env, instance, kField_Process_Instance_current_activation);
    ValueCell& duration = field(env, instance, kField_Process_Instance_duration);
    previous.u64 = current.u64;
    current.u64 = env->ctx->get_local_time_callback(env);
    duration.u64 += current.u64 - previous.u64;

    ValueCell& initializing = field(env, instance, kField_Process_Instance_initializing);
    if (initializing.boolean != 0) {
      // The very first step announces the initial state instead of moving.
      initializing.u64 = 0;
      reportState(env, instance, kFsmEnteredState,
                  field(env, instance, kField_Process_Instance_process_state).u32);
    } else if (executeNamedStateTransitions(env, state, instance) != 0) {
      state = currentState(env, instance);
      duration.u64 = 0;
    }
    statement_execute(env, AST_child(program, def.commonBlock));
    executeNamedState(env, state);
    statement_execute(env, AST_child(program, def.finallyBlock));
    if (!env->ctx->realtime) {
      env_addTime(env, field(env, instance, kField_Process_Instance_execution_time).u64);
      update_elpased_time(env);
    }
  }

  reportActivation(env, instance, END);
  interpStack_leaveCall(env, mark);
  Variable_restorePrevLocalVarIndexes(env, saved);
}

TaggedValue process_subProcessCall(InterpEnv* env, uint32_t subIndex, const AST_Node* args) {
  const Program* program = env->program.get();
  const TaggedValue instance = *StaticVaraible_getRelativeScopeValue(env, subIndex);
  // The static entry and the id the instance holds are the program's own
  // data, which its code may have written.
  if (instance.typeId != env->ctx->processInstanceTypeId) [[unlikely]] {
    interp_failure(env, "Sub-process call on static variable %u, not a process instance\n",
                   subIndex);
    return kNoValue;
  }
  const uint32_t id = instanceIdOf(env, instance);
  if (id >= program->infoProg->n_processInstances) [[unlikely]] {
    interp_failure(env, "Sub-process call on process instance %u of %u\n", id,
                   program->infoProg->n_processInstances);
    return kNoValue;
  }
  const ProcessInstanceRecord& record = program->processInstanceTable[id];
  process_executeCall(env, record.definitionId, record.staticBase, args, instance);
  return kNoValue;
}
