#include "interpreterLib/scheduler.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/run_control.h"
#include "interpreterLib/sched_index.h"

namespace {

uint32_t scheduling_policy = FIFO;
volatile std::sig_atomic_t stopRequested = 0;

uint32_t instanceCount(const InterpEnv* env) {
  return env->program->infoProg->n_globalProcessInstances;
}

TaggedValue instanceValue(InterpEnv* env, uint32_t i) {
  TaggedValue cached;
  if (schedIndex_instance(env, i, &cached)) return cached;
  return buffer_getIndexValue(env, env->ctx->processesValue, i);
}

ValueCell& field(InterpEnv* env, uint32_t i, KnownField f) {
  return *interp_knownField(env, instanceValue(env, i), f).value;
}

TaggedValue activations(InterpEnv* env, uint32_t i) {
  TaggedValue cached;
  if (schedIndex_activations(env, i, &cached)) return cached;
  return interp_knownField(env, instanceValue(env, i), kField_Process_Instance_next_activations);
}

const GlobalProcessInstanceRecord& record(const InterpEnv* env, uint32_t i) {
  return env->program->processGlobalInstanceTable[i];
}

bool conditionHolds(InterpEnv* env, uint32_t i) {
  const Program* program = env->program.get();
  schedIndex_beforeCode(env);
  return get_value_boolean(env, expr_execute(env, AST_child(program, record(env, i).trigger)));
}

// The head entry of instance i's queue; false when it has none.
bool head(InterpEnv* env, uint32_t i, int64_t* entry) {
  const TaggedValue queue = activations(env, i);
  if (is_channel_empty(env, queue)) return false;
  *entry = buffer_getIndexValue(env, queue, 0).value->s64;
  return true;
}

void trace(InterpEnv* env, const char* tag, uint32_t i) {
  if (env->ctx->task_trace_callback != nullptr && !env_is_quiet(env)) {
    env->ctx->task_trace_callback(env, tag, i);
  }
}

}  // namespace

void scheduler_requestStop() {
  stopRequested = 1;
}

bool scheduler_stopRequested() {
  return stopRequested != 0;
}

void scheduler_clearStop() {
  stopRequested = 0;
}

void scheduler_usePlainScan(InterpEnv* env, bool plain) {
  env->ctx->plainScheduler = plain;
}

uint32_t sched_policy_name_to_value(const char* name) {
  if (std::strcmp(name, "FIFO") == 0) return FIFO;
  if (std::strcmp(name, "NPFP") == 0) return NPFP;
  if (std::strcmp(name, "NPEDF") == 0) return NPEDF;
  return SCHEDULING_POLICY_UNKNOWN;
}

void interp_set_scheduling_policy(InterpEnv*, uint32_t policy) {
  KOVA_ASSERT(policy != SCHEDULING_POLICY_UNKNOWN, "policy != SCHEDULING_POLICY_UNKNOWN");
  scheduling_policy = policy;
}

uint32_t interp_get_scheduling_policy() {
  return scheduling_policy;
}

void scheduler_create(InterpEnv* env) {
  Context& ctx = *env->ctx;
  ctx.sched_now = ctx.get_local_time_callback(env);
  ctx.sched_previous = ctx.sched_now;
  ctx.until_time = 0;
  schedulerSuspend(env);
}

void schedulerSuspend(InterpEnv* env) {
  env->ctx->suspend_time = env->ctx->get_local_time_callback(env);
}

void schedulerResume(InterpEnv* env) {
  env->ctx->resume_time = env->ctx->get_local_time_callback(env);
  update_timers(env);
}

void update_timers(InterpEnv* env) {
  Context& ctx = *env->ctx;
  const uint64_t suspended = ctx.resume_time - ctx.suspend_time;
  ctx.sched_now += suspended;
  ctx.sched_previous += suspended;
  if (ctx.processesValue.value == nullptr) return;
  for (uint32_t i = 0; i < instanceCount(env); ++i) {
    field(env, i, kField_Process_Instance_previous_activation).u64 += suspended;
    field(env, i, kField_Process_Instance_current_activation).u64 += suspended;
  }
}

void update_elpased_time(InterpEnv* env) {
  Context& ctx = *env->ctx;
  ctx.sched_previous = ctx.sched_now;
  ctx.sched_now = ctx.get_local_time_callback(env);
  const uint64_t elapsed = ctx.sched_now - ctx.sched_previous;
  if (elapsed == 0 || ctx.processesValue.value == nullptr) return;
  if (schedIndex_elapse(env, elapsed)) return;
  for (uint32_t i = 0; i < instanceCount(env); ++i) {
    const TaggedValue queue = activations(env, i);
    const uint32_t count = channel_count(env, queue);
    for (uint32_t k = 0; k < count; ++k) {
      buffer_getIndexValue(env, queue, k).value->u64 -= elapsed;  // counts down through zero
    }
  }
}

void update_triggered_process(InterpEnv* env) {
  if (env->ctx->processesValue.value == nullptr) return;
  for (const uint32_t i : schedIndex_triggered(env)) {
    if (field(env, i, kField_Process_Instance_period).u64 != 0) continue;
    if (!conditionHolds(env, i)) continue;
    const TaggedValue queue = activations(env, i);
    ValueCell due = kZeroCell;
    int64_t first = 0;
    if (!head(env, i, &first)) {
      channel_push(env, nullptr, queue, &due);
    } else if (first >= 1) {
      // At most one due activation at a time, however long the condition holds.
      if (is_channel_full(env, queue)) queue_remove(env, queue);
      channel_insert_sorted(env, nullptr, queue, &due);
    }
    schedIndex_refresh(env, i);
  }
  interpStack_reset(env);
}

int32_t select_FIFO_policy(InterpEnv* env) {
  int64_t bestTime = 1;
  uint64_t bestPriority = 0;
  int32_t chosen = -1;
  for (uint32_t i = 0; i < instanceCount(env); ++i) {
    int64_t h;
    if (!head(env, i, &h)) continue;
    const uint64_t priority = field(env, i, kField_Process_Instance_priority).u64;
    if (h < bestTime) {
      bestTime = h;
      bestPriority = priority;
      chosen = static_cast<int32_t>(i);
    } else if (h == bestTime && chosen != -1 && priority > bestPriority) {
      bestPriority = priority;
      chosen = static_cast<int32_t>(i);
    }
  }
  return chosen;
}

int32_t select_NPFP_policy(InterpEnv* env) {
  int64_t bestPriority = -1;
  int32_t chosen = -1;
  for (uint32_t i = 0; i < instanceCount(env); ++i) {
    int64_t h;
    if (!head(env, i, &h) || h >= 1) continue;
    const int64_t priority = field(env, i, kField_Process_Instance_priority).u8;
    if (priority > bestPriority) {
      bestPriority = priority;
      chosen = static_cast<int32_t>(i);
    }
  }
  return chosen;
}

int32_t select_EDF_policy(InterpEnv* env) {
  int64_t best = INT64_MAX;
  int32_t chosen = -1;
  for (uint32_t i = 0; i < instanceCount(env); ++i) {
    int64_t h;
    if (!head(env, i, &h) || h >= 1) continue;
    const int64_t deadline = field(env, i, kField_Process_Instance_deadline).s64;
    const int64_t key =
        static_cast<int64_t>(static_cast<uint64_t>(h) + static_cast<uint64_t>(deadline));
    if (chosen == -1 || key < best) {
      best = key;
      chosen = static_cast<int32_t>(i);
    }
  }
  return chosen;
}

namespace {

// `refile`: tell the index now, unless the next periodic entry follows.
int64_t consumeHit(InterpEnv* env, uint32_t i, bool refile) {
  int64_t h;
  if (!head(env, i, &h) || h >= 1) return 0;
  channel_pop(env, nullptr, activations(env, i));
  if (refile) schedIndex_refresh(env, i);
  return h;
}

void queueNextPeriodic(InterpEnv* env, uint32_t i, int64_t base) {
  const uint64_t oldJitter = field(env, i, kField_Process_Instance_jitter).u64;
  const uint32_t annotation = record(env, i).timingAnnotation;
  if (annotation != NO_ID) {
    schedIndex_beforeCode(env);
    statement_execute(env, AST_fromId(env->program.get(), annotation));
  }
  const uint64_t period = field(env, i, kField_Process_Instance_period).u64;
  ValueCell& jitter = field(env, i, kField_Process_Instance_jitter);
  if (jitter.u64 > period) jitter.u64 = period;
  // base <= 0 and the jitter is at most the period: the next entry stays a
  // valid offset as long as the period and the old jitter do.
  if (!env_timeFits(env, period, jitter.u64) || !env_timeFits(env, 0, oldJitter)) return;
  ValueCell next = kZeroCell;
  next.u64 = period + jitter.u64 - oldJitter + static_cast<uint64_t>(base);
  const TaggedValue queue = activations(env, i);
  // The program may have made a triggered instance periodic while an entry
  // was pending.
  if (queue_isFull(env, queue)) {
    interp_failure(env, "Too many pending activations\n");
    return;
  }
  channel_insert_sorted(env, nullptr, queue, &next);
}

}  // namespace

int64_t clear_hit(InterpEnv* env, uint32_t i) {
  return consumeHit(env, i, true);
}

void update_periodic_process_next_hit(InterpEnv* env, uint32_t i, int64_t base) {
  queueNextPeriodic(env, i, base);
  schedIndex_refresh(env, i);
}

namespace {

// INT64_MAX when nothing is pending.
uint64_t scanNextHit(InterpEnv* env) {
  int64_t best = INT64_MAX;
  if (env->ctx->processesValue.value != nullptr) {
    for (uint32_t i = 0; i < instanceCount(env); ++i) {
      int64_t h;
      if (head(env, i, &h)) best = std::min(best, h);
    }
  }
  return static_cast<uint64_t>(std::max<int64_t>(best, 0));
}

uint64_t nextHit(InterpEnv* env) {
  return schedIndex_ready(env) ? schedIndex_nextHit(env) : scanNextHit(env);
}

int32_t select(InterpEnv* env) {
  if (schedIndex_ready(env)) return schedIndex_select(env);
  switch (scheduling_policy) {
    case FIFO: return select_FIFO_policy(env);
    case NPFP: return select_NPFP_policy(env);
    case NPEDF: return select_EDF_policy(env);
    default: KOVA_ASSERT(false, "0");
  }
  return -1;
}

uint64_t localNow(InterpEnv* env) {
  return env->ctx->get_local_time_callback(env);
}

}  // namespace

uint64_t nextProcessHit(InterpEnv* env) {
  return nextHit(env);
}

uint64_t scheduler_run(InterpEnv* env, uint64_t until) {
  Context& ctx = *env->ctx;
  // Between runs the console may change anything: the index is rebuilt for
  // each run and trusted only during it.
  struct Running {
    InterpEnv* env;
    explicit Running(InterpEnv* e) : env(e) { schedIndex_setRunning(env, true); }
    ~Running() { schedIndex_setRunning(env, false); }
  } running(env);
  update_triggered_process(env);
  ctx.until_time = until;
  for (;;) {
    // Serve every due activation while the clock has not passed the limit.
    for (;;) {
      if (stopRequested != 0) return 0;
      update_elpased_time(env);
      const int32_t chosen = select(env);
      if (chosen == -1) break;
      const auto i = static_cast<uint32_t>(chosen);
      const bool run = record(env, i).trigger == NO_ID || conditionHolds(env, i);
      const bool periodic = field(env, i, kField_Process_Instance_period).u64 != 0;
      const int64_t base = consumeHit(env, i, !periodic);
      // Entries count from sched_now, brought up to date just before.
      const uint64_t release = ctx.sched_now + static_cast<uint64_t>(base);
      if (periodic) update_periodic_process_next_hit(env, i, base);
      ctx.syncio_callback_input(env);
      ctx.syncio_callback(env);
      if (run) {
        trace(env, "STARTING_TASK", i);
        if (ctx.activation_observer != nullptr) ctx.activation_observer(env, i, START, release);
        schedIndex_beforeCode(env);
        executeProcess(env, i);
        trace(env, "TASK_FINISHED", i);
        if (ctx.activation_observer != nullptr) ctx.activation_observer(env, i, END, release);
        ctx.syncio_callback(env);
      }
      update_triggered_process(env);
      if (localNow(env) > until) break;
    }
    if (stopRequested != 0) return 0;
    update_elpased_time(env);
    update_triggered_process(env);
    uint64_t next = nextHit(env);
    const uint64_t now = localNow(env);
    if (now + next <= until) {
      ctx.delay_callback(env, next);
      next = 0;
    } else if (until > now) {
      ctx.delay_callback(env, until - now);
      update_elpased_time(env);
    }
    if (localNow(env) > until || next != 0) return next;
  }
}
