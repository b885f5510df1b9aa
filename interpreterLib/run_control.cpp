#include "interpreterLib/run_control.h"

#include <cinttypes>

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/files.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/operator_functions.h"
#include "interpreterLib/process.h"
#include "interpreterLib/sched_index.h"
#include "interpreterLib/scheduler.h"

namespace {

// Every global's initial value is offered to the host first.
void initialValues(InterpEnv* env) {
  Program* program = env->program.get();
  const uint32_t instanceType = interp_getTypeID(env, "Process_Instance");
  const uint32_t systemType = interp_getTypeID(env, "System");
  const ValueCell* cursor = program->globalVariableDataInitTable.get();
  for (uint32_t g = 0; g < program->infoProg->n_globalVariables; ++g) {
    const TaggedValue variable = program->globalVariableTable[g];
    const uint32_t storage = Type_getStorageSize(program, variable.typeId);
    if (variable.typeId != instanceType && variable.typeId != systemType) {
      VarChangeCallback change = env->ctx->var_change_callback[g];
      ENV_CHECK(env, change != nullptr, "env->ctx->var_change_callback[v_left.globalId] != NULL");
      const TaggedValue initial{const_cast<ValueCell*>(cursor), variable.typeId, g};
      if (change(env, g, kVarAssign, initial) == 0) {
        value_set(env, variable, initial.value, initial.typeId);
      }
    }
    cursor += storage;
  }
}

// A hardware annotation's Kova_File locals bind its variable to files.
void hardwareAnnotation(InterpEnv* env, const AST_Node* annotation) {
  const Program* program = env->program.get();
  const uint32_t variable = annotation->value.id.index;
  if (variable == NO_ID) return;
  const AST_Node* scope = AST_getAnnotationScope(program, annotation);
  if (scope == nullptr) return;
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env);
  const uint32_t first = saved.variables;
  const AST_Node* declarations = AST_child(program, scope->left);
  variable_declareLocals(env, declarations);
  for (const AST_Node* cell = AST_child(program, scope->right); cell != nullptr;
       cell = AST_child(program, cell->right)) {
    statement_execute(env, AST_child(program, cell->left));
  }
  const uint32_t fileType = interp_getTypeID(env, "Kova_File");
  for (uint32_t k = first; k < env->ctx->localVarsIndexes.count.variables; ++k) {
    const TaggedValue local = env->data->localVariableTable[k];
    if (fileType != NO_ID && local.typeId == fileType) file_variable_setup(env, local, variable);
  }
  Variable_restorePrevLocalVarCounts(env, saved);
}

}  // namespace

void process_annotations(InterpEnv* env, const AST_Node* definitions, uint32_t* counter) {
  const Program* program = env->program.get();
  for (const AST_Node* cell = definitions; cell != nullptr;
       cell = AST_child(program, cell->right)) {
    const AST_Node* def = AST_child(program, cell->left);
    if (def == nullptr) continue;
    switch (def->op) {
      case TIME_ANNOTATION:
      case PROCESS_ANNOTATION: statement_execute(env, def); break;
      case PROCESS_INSTANCE_NODE: {
        if (*counter >= program->infoProg->n_globalProcessInstances) break;
        const TaggedValue instance = buffer_getIndexValue(env, env->ctx->processesValue, *counter);
        if (AST_getProcessInstanceTiming(program, def) != nullptr) {
          const AST_Node* period = AST_getProcessInstanceTimingPeriod(program, def);
          const AST_Node* offset = AST_getProcessInstanceTimingOffset(program, def);
          if (period != nullptr) {
            const uint64_t ps = time_durationToPs(env, period);
            interp_knownField(env, instance, kField_Process_Instance_period).value->u64 = ps;
            interp_knownField(env, instance, kField_Process_Instance_deadline).value->u64 = ps;
          }
          if (offset != nullptr) {
            interp_knownField(env, instance, kField_Process_Instance_offset).value->u64 =
                time_durationToPs(env, offset);
          }
          // The timing values are evaluated outside any statement: nothing
          // else would release their stack cells, and a program declares
          // thousands of instances.
          interpStack_reset(env);
        }
        ++*counter;
        break;
      }
      case INCLUDE_OP: process_annotations(env, AST_child(program, def->left), counter); break;
      case HARDWARE_ANNOTATION: hardwareAnnotation(env, def); break;
      default: break;
    }
  }
}

int interp_init(InterpEnv* env) {
  Context& ctx = *env->ctx;
  Program* program = env->program.get();
  env_reportValueFaults(env);
  expr_operatorsInit(env);
  initialValues(env);
  files_init(env);
  scheduler_create(env);
  ctx.initialized = true;

  ctx.systemValue = system_getValue(env);
  if (ctx.systemValue.value != nullptr) {
    ctx.processesValue = interp_knownField(env, ctx.systemValue, kField_System_processes);
    ctx.ppm = &interp_knownField(env, ctx.systemValue, kField_System_ppm).value->s64;
  }
  ctx.localTimeOffset = 0;
  if (ctx.systemValue.value != nullptr) {
    interp_knownField(env, ctx.systemValue, kField_System_origin).value->u64 =
        ctx.get_local_time_callback(env);
  }

  uint32_t counter = 0;
  if (program->root != nullptr)
    process_annotations(env, AST_getGlobalDefinitions(program), &counter);

  // A drift of -1000000 ppm or below would stop or reverse the clock.
  if (ctx.ppm != nullptr && *ctx.ppm <= -1000000) {
    interp_failure(
        env, "Clock drift of %" PRId64 " ppm is not supported (it must be above -1000000 ppm)\n",
        *ctx.ppm);
    *ctx.ppm = 0;
  }

  if (ctx.processesValue.value != nullptr) {
    for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
      const TaggedValue instance = buffer_getIndexValue(env, ctx.processesValue, i);
      const uint64_t period =
          interp_knownField(env, instance, kField_Process_Instance_period).value->u64;
      ValueCell& jitter = *interp_knownField(env, instance, kField_Process_Instance_jitter).value;
      if (jitter.u64 > period) jitter.u64 = period;
      const uint64_t offset =
          interp_knownField(env, instance, kField_Process_Instance_offset).value->u64;
      if (period != 0 && env_timeFits(env, period, jitter.u64) &&
          env_timeFits(env, offset, jitter.u64)) {
        ValueCell first = kZeroCell;
        first.u64 = offset + jitter.u64;
        channel_push(env, nullptr,
                     interp_knownField(env, instance, kField_Process_Instance_next_activations),
                     &first);
      }
    }
  }

  uint32_t policy = FIFO;
  if (ctx.systemValue.value != nullptr) {
    const TaggedValue field = interp_knownField(env, ctx.systemValue, kField_System_sched_policy);
    const uint32_t value = field.value->u32;
    if (value == interp_getEnum(env, field.typeId, "NPFP")) policy = NPFP;
    if (value == interp_getEnum(env, field.typeId, "NPEDF")) policy = NPEDF;
  }
  interp_set_scheduling_policy(env, policy);

  if (program->infoProg->initFunctionId != NO_ID) {
    function_executeCall(env, program->infoProg->initFunctionId, nullptr);
  }
  schedulerSuspend(env);
  return 1;
}

int run_until(InterpEnv* env, uint64_t localTime) {
  scheduler_run(env, localTime);
  schedulerSuspend(env);
  return 0;
}

int interp_run_until(InterpEnv* env, uint64_t localTime) {
  schedulerResume(env);
  return run_until(env, localTime);
}

int interp_run_for(InterpEnv* env, uint64_t duration) {
  schedulerResume(env);
  return run_until(env, duration + env->ctx->get_local_time_callback(env));
}

int interp_run_until_absolute(InterpEnv* env, uint64_t absoluteTime) {
  const uint64_t now = env->ctx->get_absolute_time_callback(env);
  if (now > absoluteTime) return 0;
  schedulerResume(env);
  const int64_t local = absolute_to_local_duration(env, static_cast<int64_t>(absoluteTime - now));
  run_until(env, static_cast<uint64_t>(local) + env->ctx->get_local_time_callback(env));
  return 0;
}

int interp_step(InterpEnv* env) {
  schedulerResume(env);
  update_triggered_process(env);
  const uint64_t next = nextProcessHit(env);
  if (next == static_cast<uint64_t>(INT64_MAX)) {
    schedulerSuspend(env);
    return 0;
  }
  return run_until(env, next + env->ctx->get_local_time_callback(env));
}

uint64_t interp_next_hit(InterpEnv* env) {
  update_triggered_process(env);
  return nextProcessHit(env);
}

uint64_t interp_next_absolute_hit(InterpEnv* env) {
  const uint64_t next = interp_next_hit(env);
  return static_cast<uint64_t>(local_to_absolute_duration(env, static_cast<int64_t>(next),
                                                          env->ctx->driftRemainder, nullptr));
}

void executeProcess(InterpEnv* env, uint32_t i) {
  const GlobalProcessInstanceRecord& record = env->program->processGlobalInstanceTable[i];
  TaggedValue instance;
  if (!schedIndex_instance(env, i, &instance)) {
    instance = buffer_getIndexValue(env, env->ctx->processesValue, i);
  }
  process_executeCall(env, record.definitionId, record.staticBase,
                      AST_fromId(env->program.get(), record.args), instance);
}
