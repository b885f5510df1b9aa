#include "ASTLib/rEnv.h"

#include <cstdio>
#include <string>

#include "ASTLib/default_callback.h"
#include "ASTLib/kova_assert.h"

namespace {

// Two's complement arithmetic without undefined overflow: hostile drift
// values must not make the time base undefined.
int64_t wrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t wrapSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
int64_t wrapMul(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

template <class F>
F orDefault(F f, F fallback) {
  return f != nullptr ? f : fallback;
}

}  // namespace

int env_on_print(InterpEnv* env, PrintCallback f) {
  env->ctx->print_callback = orDefault(f, &defaultCallback_print);
  env->ctx->print_enabled = f != nullptr;
  return 1;
}

int env_on_exit(InterpEnv* env, ExitCallback f) {
  env->ctx->exit_callback = orDefault(f, &defaultCallback_exit);
  return 1;
}

int env_on_assert(InterpEnv* env, AssertCallback f) {
  env->ctx->assert_callback = orDefault(f, &defaultCallback_assert);
  return 1;
}

int env_on_syncio_input(InterpEnv* env, SyncioCallback f) {
  env->ctx->syncio_callback_input = orDefault(f, &defaultCallback_syncio);
  return 1;
}

int env_on_syncio(InterpEnv* env, SyncioCallback f) {
  env->ctx->syncio_callback = orDefault(f, &defaultCallback_syncio);
  return 1;
}

int env_on_get_local_time(InterpEnv* env, TimeCallback f) {
  KOVA_ASSERT(env != nullptr, "env != ((void *)0)");
  KOVA_ASSERT(env->ctx != nullptr, "env->ctx != ((void *)0)");
  env->ctx->get_local_time_callback = orDefault(f, &env_getLocalTime);
  return 1;
}

int env_on_get_absolute_time(InterpEnv* env, TimeCallback f) {
  KOVA_ASSERT(env != nullptr, "env != ((void *)0)");
  KOVA_ASSERT(env->ctx != nullptr, "env->ctx != ((void *)0)");
  env->ctx->get_absolute_time_callback = orDefault(f, &env_getAbsoluteTime);
  return 1;
}

int env_on_delay(InterpEnv* env, DelayCallback f) {
  env->ctx->delay_callback = orDefault(f, &defaultCallback_delay);
  return 1;
}

int env_on_random(InterpEnv* env, RandomCallback f) {
  env->ctx->random_callback = orDefault(f, &defaultCallback_random);
  return 1;
}

int env_on_random_seed(InterpEnv* env, RandomSeedCallback f) {
  env->ctx->random_seed_callback = orDefault(f, &defaultCallback_random_seed);
  return 1;
}

int interpreter_on_invalid_op(InterpEnv* env, InvalidOpCallback f) {
  env->ctx->invalid_op_callback = orDefault(f, &defaultCallback_invalidOp);
  return 1;
}

int env_on_task_trace(InterpEnv* env, TaskTraceCallback f) {
  env->ctx->task_trace_callback = f;
  return 1;
}

int env_on_activation_observer(InterpEnv* env, ActivationObserver f) {
  env->ctx->activation_observer = f;
  return 1;
}

int env_on_variable_change(InterpEnv* env, uint32_t globalId, VarChangeCallback f) {
  if (globalId >= env->program->infoProg->n_globalVariables) return 0;
  env->ctx->var_change_callback[globalId] = orDefault(f, &defaultCallback_varChange);
  env->ctx->quietCache = -1;
  return 1;
}

int env_on_variable_read(InterpEnv* env, uint32_t globalId, VarReadCallback f) {
  if (globalId >= env->program->infoProg->n_globalVariables) return 0;
  env->ctx->var_read_callback[globalId] = orDefault(f, &defaultCallback_varRead);
  env->ctx->quietCache = -1;
  return 1;
}

int env_on_state_changed(InterpEnv* env, uint32_t instanceId, FsmChangedCallback f) {
  if (instanceId >= env->program->infoProg->n_processInstances) return 0;
  env->ctx->fsm_changed_callback[instanceId] = orDefault(f, &defaultCallback_fsmChanged);
  return 1;
}

int env_on_task_activation(InterpEnv* env, uint32_t instanceId, ProcessActivationCallback f) {
  if (instanceId >= env->program->infoProg->n_processInstances) return 0;
  env->ctx->process_activation_callback[instanceId] =
      orDefault(f, &defaultCallback_processActivation);
  return 1;
}

int env_on_any_variable_change(InterpEnv* env, VarChangeCallback f) {
  for (uint32_t i = 0; i < env->program->infoProg->n_globalVariables; ++i) {
    if (env_on_variable_change(env, i, f) == 0) return 0;
  }
  return 1;
}

int env_on_any_variable_read(InterpEnv* env, VarReadCallback f) {
  for (uint32_t i = 0; i < env->program->infoProg->n_globalVariables; ++i) {
    if (env_on_variable_read(env, i, f) == 0) return 0;
  }
  return 1;
}

int env_on_any_task_activation(InterpEnv* env, ProcessActivationCallback f) {
  for (uint32_t i = 0; i < env->program->infoProg->n_processInstances; ++i) {
    if (env_on_task_activation(env, i, f) == 0) return 0;
  }
  return 1;
}

int env_on_any_state_changed(InterpEnv* env, FsmChangedCallback f) {
  const Program* program = env->program.get();
  for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
    if (env_on_state_changed(env, program->processGlobalInstanceTable[i].instanceIndex, f) == 0) {
      return 0;
    }
  }
  return 1;
}

bool env_has_no_callbacks(const InterpEnv* env) {
  for (uint32_t i = 0; i < env->program->infoProg->n_globalVariables; ++i) {
    if (env->ctx->var_change_callback[i] != &defaultCallback_varChange ||
        env->ctx->var_read_callback[i] != &defaultCallback_varRead) {
      return false;
    }
  }
  return true;
}

// Asked around every activation: the walk over the globals runs again only
// after a registration.
bool env_is_quiet(const InterpEnv* env) {
  if (env->ctx->quietCache < 0) env->ctx->quietCache = env_has_no_callbacks(env) ? 1 : 0;
  return env->ctx->quietCache == 1;
}

// ---------------------------------------------------------------- time base

int64_t env_getPpm(const InterpEnv* env) {
  return env->ctx->ppm != nullptr ? *env->ctx->ppm : 0;
}

uint64_t env_getLocalTime(InterpEnv* env) {
  return env->ctx->localTime + static_cast<uint64_t>(env->ctx->localTimeOffset);
}

uint64_t env_getAbsoluteTime(InterpEnv* env) {
  return env->ctx->absoluteTime;
}

int64_t divRoundClosest(int64_t n, int64_t d) {
  if (d == -1) return static_cast<int64_t>(0 - static_cast<uint64_t>(n));
  const int64_t h = d / 2;
  return ((n < 0) == (d < 0)) ? wrapAdd(n, h) / d : wrapSub(n, h) / d;
}

int64_t local_to_absolute_duration(const InterpEnv* env, int64_t d, int64_t remainder,
                                   int64_t* remainderOut) {
  const int64_t ppm = env_getPpm(env);
  const int64_t k = wrapAdd(1000000, ppm);
  if (k == 0) return d;  // such a drift is refused at initialisation; never divide by zero
  int64_t q;
  int64_t r;
  if (k == -1) {
    q = static_cast<int64_t>(0 - static_cast<uint64_t>(d));
    r = 0;
  } else {
    q = d / k;
    r = d % k;
  }
  const int64_t n = wrapAdd(wrapMul(r, ppm), remainder);
  const int64_t result = wrapSub(wrapSub(d, wrapMul(q, ppm)), divRoundClosest(n, k));
  if (remainderOut != nullptr) {
    int64_t c = n % k;
    if (c > wrapAdd(500000, ppm / 2)) {
      c = wrapSub(c, k);
    } else if (c < wrapSub(-500000, ppm / 2)) {
      c = wrapAdd(c, k);
    }
    *remainderOut = c;
  }
  return result;
}

int64_t absolute_to_local_duration(const InterpEnv* env, int64_t a) {
  const int64_t ppm = env_getPpm(env);
  const int64_t q = a / 1000000;
  const int64_t r = a % 1000000;
  return wrapAdd(wrapAdd(a, wrapMul(q, ppm)),
                 divRoundClosest(wrapAdd(wrapMul(r, ppm), env->ctx->driftRemainder), 1000000));
}

bool env_timeFits(InterpEnv* env, uint64_t time, uint64_t duration) {
  if (time <= kMaxTime && duration <= kMaxTime - time) return true;
  env_failure(env, "Time overflow\n");
  return false;
}

void env_addTime(InterpEnv* env, uint64_t localDuration) {
  Context& ctx = *env->ctx;
  // Charged around every step, mostly 0: nothing moves without a remainder
  // to round.
  if (localDuration == 0 && ctx.driftRemainder == 0) return;
  if (!env_timeFits(env, ctx.localTime, localDuration)) return;
  ctx.localTime += localDuration;
  ctx.absoluteTime += static_cast<uint64_t>(local_to_absolute_duration(
      env, static_cast<int64_t>(localDuration), ctx.driftRemainder, &ctx.driftRemainder));
}

// ---------------------------------------------------------------- failure

namespace {

InterpEnv* valueFaultEnv = nullptr;
const Context* valueFaultContext = nullptr;

void onValueFault(const char* text) {
  std::string message = "Wrong value type: ";
  message += text;
  message += '\n';
  env_failure(valueFaultEnv, message.c_str());
}

}  // namespace

void env_reportValueFaults(InterpEnv* env) {
  valueFaultEnv = env;
  valueFaultContext = env != nullptr ? env->ctx.get() : nullptr;
  kova_onValueFault(env != nullptr ? onValueFault : nullptr);
}

Context::~Context() {
  if (valueFaultContext == this) env_reportValueFaults(nullptr);
}

void env_failure(InterpEnv* env, const char* message) {
  std::fputs(message, stdout);
  KOVA_ASSERT(env->ctx->exit_callback != nullptr, "env->ctx->exit_callback != ((void *)0)");
  env->ctx->exit_callback(env, 0, 1);
}
