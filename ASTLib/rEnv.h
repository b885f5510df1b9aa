// Host callback registration and the simulated time base with clock drift.
//
// Registration functions take the environment and the function; null
// restores the default (default_callback.h). They return 1, or 0 for an id out
// of range (nothing changed). Per-slot registrations work once a program is
// loaded.
//
// Time: all u64 picoseconds. The local clock may drift from the absolute one
// by System.ppm parts per million (positive: local runs fast). Conversions are
// signed 64-bit with k = 1 000 000 + ppm; the rounding remainder of
// local-to-absolute conversions is carried so that many small steps add up to
// exactly what one large step gives.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

int env_on_print(InterpEnv* env, PrintCallback f);
int env_on_exit(InterpEnv* env, ExitCallback f);
int env_on_assert(InterpEnv* env, AssertCallback f);
int env_on_syncio_input(InterpEnv* env, SyncioCallback f);
int env_on_syncio(InterpEnv* env, SyncioCallback f);
int env_on_get_local_time(InterpEnv* env, TimeCallback f);
int env_on_get_absolute_time(InterpEnv* env, TimeCallback f);
int env_on_delay(InterpEnv* env, DelayCallback f);
int env_on_random(InterpEnv* env, RandomCallback f);
int env_on_random_seed(InterpEnv* env, RandomSeedCallback f);
int interpreter_on_invalid_op(InterpEnv* env, InvalidOpCallback f);
// The scheduler calls it around each activation unless the environment is
// quiet; null: no task lines.
int env_on_task_trace(InterpEnv* env, TaskTraceCallback f);
// The scheduler calls it around each top-level activation it runs, quiet or
// not; null: nothing is called.
int env_on_activation_observer(InterpEnv* env, ActivationObserver f);

int env_on_variable_change(InterpEnv* env, uint32_t globalId, VarChangeCallback f);
int env_on_variable_read(InterpEnv* env, uint32_t globalId, VarReadCallback f);
int env_on_state_changed(InterpEnv* env, uint32_t instanceId, FsmChangedCallback f);
int env_on_task_activation(InterpEnv* env, uint32_t instanceId, ProcessActivationCallback f);
int env_on_any_variable_change(InterpEnv* env, VarChangeCallback f);
int env_on_any_variable_read(InterpEnv* env, VarReadCallback f);
int env_on_any_task_activation(InterpEnv* env, ProcessActivationCallback f);
// Top-level instances only; sub-process instances keep their callback.
int env_on_any_state_changed(InterpEnv* env, FsmChangedCallback f);

// True when every global variable's change and read callbacks are the
// defaults.
bool env_has_no_callbacks(const InterpEnv* env);
bool env_is_quiet(const InterpEnv* env);

// Time base.
//
// Times and durations stay below 2^63 ps (about 106 days): pending
// activations are signed offsets from now and the drift arithmetic is
// signed, so a clock or an activation past kMaxTime would wrap and the
// scheduler would serve the same instant for ever. Reaching past it ends the
// run with "Time overflow\n".
inline constexpr uint64_t kMaxTime = 0x7FFFFFFFFFFFFFFFull;
// True when `time` + `duration` stays within kMaxTime; otherwise reports the
// failure and gives false.
bool env_timeFits(InterpEnv* env, uint64_t time, uint64_t duration);
uint64_t env_getLocalTime(InterpEnv* env);  // local time + local time offset
uint64_t env_getAbsoluteTime(InterpEnv* env);
// Adds to both clocks (converted by the drift); nothing when it does not fit.
void env_addTime(InterpEnv* env, uint64_t localDuration);
int64_t local_to_absolute_duration(const InterpEnv* env, int64_t d, int64_t remainder,
                                   int64_t* remainderOut);
int64_t absolute_to_local_duration(const InterpEnv* env, int64_t a);
int64_t divRoundClosest(int64_t n, int64_t d);
// The drift in force: System.ppm once initialised, else 0.
int64_t env_getPpm(const InterpEnv* env);

// The orderly end of a run: writes `message` to standard output as it is,
// then calls the exit callback with line 0 and status 1. Returns only if that
// callback does. interp_failure formats its message and ends here.
void env_failure(InterpEnv* env, const char* message);

// From now on a value that a guarded read cannot take (kova_typing.h) ends
// the run of `env` through env_failure with "Wrong value type: <check>\n";
// null, or the end of that environment, goes back to assertion failures.
void env_reportValueFaults(InterpEnv* env);

// Reports a failed internal consistency check through the host's assert
// callback. A callback acts only on a false condition, so a holding one is not
// even passed on: these checks sit on the evaluator's hot paths.
#define ENV_CHECK(env, condition, text) \
  ((condition) ? static_cast<void>(0)   \
               : (env)->ctx->assert_callback((env), 0u, __FILE__, __LINE__, __func__, (text)))
