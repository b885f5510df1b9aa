#include "zebu_interpreter/callbacks.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/operator_functions.h"
#include "interpreterLib/print_format.h"
#include "interpreterLib/sched_index.h"
#include "interpreterLib/scheduler.h"
#include "mt19937-64/mt19937-64.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"
#include "zebu_interpreter/display.h"
#include "zebu_interpreter/interactive.h"
#include "zebu_interpreter/run_record.h"
#include "zebu_interpreter/scenario.h"

namespace {

uint8_t dbgLastChar = '\n';
bool withStats = false;
std::vector<uint64_t> tasks_wcet;  // empty until the first measured activation
std::vector<uint64_t> tasks_start_time;
uint64_t consoleRunTime = 0;
std::unique_ptr<InterpEnv> ownedEnv;

uint64_t absoluteNow(InterpEnv* env) {
  return env->ctx->get_absolute_time_callback(env);
}

void tag(uint64_t t, const char* name) {
  display_char('[');
  display_stamp(t);
  display_char(':');
  display_text(name);
  display_char(']');
}

const char* instanceName(const Program* program, uint32_t instanceId) {
  return Symbol_getName(program, program->dbg->processInstanceSymbolId[instanceId]);
}

// The top-level index of an instance id, or NO_ID for a sub-process instance.
uint32_t topLevelIndex(const Program* program, uint32_t instanceId) {
  for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
    if (program->processGlobalInstanceTable[i].instanceIndex == instanceId) return i;
  }
  return NO_ID;
}

}  // namespace

uint32_t callback_var_change(InterpEnv* env, uint32_t globalId, uint32_t kind, TaggedValue value) {
  const uint64_t t = absoluteNow(env);
  const char* name = GlobalVariable_getName(env->program.get(), globalId);
  tag(t, "ASSIGN");
  if (kind == kVarPush) {
    display_char('[');
    display_stamp(env->ctx->get_local_time_callback(env));
    display_text("] Pushed ");
  } else {
    display_text(" Assign ");
  }
  display_text(name);
  display_text(" new value: ");
  display_value(env, value);
  display_char('\n');
  return 0;
}

uint32_t callback_var_read(InterpEnv*, uint32_t) {
  return 0;
}

void callback_state_changed(InterpEnv* env, TaggedValue instance, uint32_t kind, uint32_t value) {
  const Program* program = env->program.get();
  const uint32_t id =
      interp_knownField(env, instance, kField_Process_Instance_instance_id).value->u32;
  const uint32_t def = program->processInstanceTable[id].definitionId;
  tag(absoluteNow(env), "STATE");
  display_text(" process \"");
  display_text(Symbol_getName(program, program->dbg->processDefinitionSymbolId[def]));
  display_text("\", instance \"");
  display_text(instanceName(program, id));
  display_text("\", ");
  if (kind == kFsmAfterFired) {
    display_text("transition ");
    display_s64(static_cast<int>(value + 1));
    display_char('\n');
    return;
  }
  const uint32_t statePtr =
      interp_knownField(env, instance, kField_Process_Instance_state_ptr).value->u32;
  display_text("state \"");
  display_text(Symbol_getName(program, AST_getStateId(program, AST_fromId(program, statePtr))));
  display_text("\"\n");
}

void callback_print_char(InterpEnv* env, uint8_t c) {
  const uint64_t t = absoluteNow(env);
  if (dbgLastChar == '\n') {
    tag(t, "PRINTLN");
    display_char(' ');
  }
  dbgLastChar = c;
  display_char(c);
}

void callback_task_trace(InterpEnv* env, const char* tagName, uint32_t instance) {
  const Program* program = env->program.get();
  display_char('[');
  display_stamp(absoluteNow(env));
  display_char(':');
  // The model name field need not end within its 128 bytes.
  const char* model = program->infoProg->modelName;
  fwrite_unlocked(model, 1, strnlen(model, 128), stdout);
  display_char(':');
  display_text(tagName);
  display_text("] '");
  display_text(instanceName(program, program->processGlobalInstanceTable[instance].instanceIndex));
  display_text("'\n");
}

// ---------------------------------------------------------------- statistics

void callback_task_stat(InterpEnv* env, TaggedValue instance, uint32_t kind) {
  const Program* program = env->program.get();
  const uint32_t n = program->infoProg->n_globalProcessInstances;
  if (tasks_wcet.empty()) {
    tasks_wcet.assign(n, 0);
    tasks_start_time.assign(n, 0);
  }
  const uint32_t id =
      interp_knownField(env, instance, kField_Process_Instance_instance_id).value->u32;
  const uint32_t i = topLevelIndex(program, id);
  KOVA_ASSERT(i < n, "i < env->program->infoProg->n_globalProcessInstances");
  if (kind == START) {
    tasks_start_time[i] = board_gettime(env);
  } else {
    const uint64_t d = board_gettime(env) - tasks_start_time[i];
    if (d > tasks_wcet[i]) tasks_wcet[i] = d;
  }
}

void enableStats(InterpEnv* env) {
  KOVA_ASSERT(!withStats, "!withStats");
  display_debug("enableStats\n");
  withStats = true;
  // Sub-process activations are part of their parent's time.
  const Program* program = env->program.get();
  for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
    env_on_task_activation(env, program->processGlobalInstanceTable[i].instanceIndex,
                           callback_task_stat);
  }
}

void disableStats(InterpEnv* env) {
  KOVA_ASSERT(withStats, "withStats");
  withStats = false;
  env_on_any_task_activation(env, nullptr);
}

bool areStatsEnabled() {
  return withStats;
}

void display_stats(InterpEnv* env) {
  const Program* program = env->program.get();
  display_program("@kova:time {\n");
  if (!tasks_wcet.empty()) {
    for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
      display_program("  %s.wcet = ",
                      instanceName(program, program->processGlobalInstanceTable[i].instanceIndex));
      display_time(tasks_wcet[i]);
      display_program(";\n");
    }
  }
  display_program("}\n");
}

// ---------------------------------------------------------------- the end

void callbacks_setRunTime(uint64_t runTime) {
  consoleRunTime = runTime;
}

void callbacks_adoptEnvironment(std::unique_ptr<InterpEnv> env) {
  ownedEnv = std::move(env);
}

void callbacks_releaseEnvironment(InterpEnv* env) {
  if (ownedEnv != nullptr && ownedEnv.get() == env) interp_stop(std::move(ownedEnv));
}

void interp_prepareExit(InterpEnv* env, uint32_t line, uint8_t code) {
  if (isReadingScenario()) closeScenario();
  run_record_finish(env);
  board_exit(env, line, code);
  callbacks_releaseEnvironment(env);
  std::fflush(stdout);
}

void callback_exit(InterpEnv* env, uint32_t line, uint8_t code) {
  // From the middle of a run too: the console and the final function read
  // the queues.
  schedIndex_invalidate(env);
  const uint64_t t = absoluteNow(env);
  if (line == 0) {
    display_program("EXIT");
  } else {
    display_program("EXIT AT LINE %u", line);
  }
  if (code == 0) {
    display_program(" (SUCCESS)");
  } else {
    display_program(" (%u)", static_cast<unsigned>(code));
  }
  display_program(" AT ");
  print_time_helper(env, display_string_printer, t);
  display_program(" (%" PRIu64 ")\n", t);
  if (withStats) display_stats(env);
  if (isInteractiveModeEnabled()) interactive(env, consoleRunTime);
  interp_prepareExit(env, line, code);
  std::exit(code);
}

void callback_assert(InterpEnv* env, uint32_t condition, const char* file, uint32_t line,
                     const char* function, const char* expression) {
  if (condition != 0) return;
  schedIndex_invalidate(env);
  display_program("%s:%u: %s: Assertion '%s' failed", file, line, function, expression);
  if (isInteractiveModeEnabled()) interactive(env, consoleRunTime);
  interp_prepareExit(env, line, 8);
  std::exit(8);
}

void callback_invalid_op(InterpEnv* env, const AST_Node* node, uint32_t kind) {
  const Program* program = env->program.get();
  uint32_t line = 0;
  if (node != nullptr && program->dbg->nodeLine != nullptr) {
    line = program->dbg->nodeLine[AST_id(program, node)];
  }
  interp_failure(env, "%.128s : %s at line %u\n", program->infoProg->modelName,
                 InvalidOp_getName(kind), line);
}

void callback_delay(InterpEnv* env, uint64_t duration) {
  if (interp_get_realtime(env)) {
    board_delay(env, duration);
    return;
  }
  env_addTime(env, duration);
  update_elpased_time(env);
}

uint64_t callback_random(InterpEnv*) {
  return genrand64_int64();
}

void callback_random_seed(uint64_t seed) {
  init_genrand64(seed);
}
