// The scheduler: which top-level instance runs next, and time moving on
// between activations.
//
// Every top-level instance keeps its pending activations in its own queue
// (`next_activations` of its Process_Instance), each entry the signed time,
// relative to now, at which an activation falls due (<= 0: due). Periodic
// instances get their next entry from their period and jitter each time one
// is served; triggered instances (period 0 with an activation condition) get
// an entry of 0 whenever their condition holds. Among due instances the
// policy (FIFO, NPFP, NPEDF) chooses one, which runs to completion. When
// nothing is due, the host's delay callback advances time to the next
// activation or to the run's limit. Simulated and real time share the loop.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

enum SchedulingPolicy : uint32_t {
  FIFO = 0,
  NPFP = 1,
  NPEDF = 2,
  SCHEDULING_POLICY_UNKNOWN = 10,
};

// "FIFO", "NPFP", "NPEDF" give 0, 1, 2; anything else 10.
uint32_t sched_policy_name_to_value(const char* name);
void interp_set_scheduling_policy(InterpEnv* env, uint32_t policy);
uint32_t interp_get_scheduling_policy();

// Reference times from the local clock; then suspended.
void scheduler_create(InterpEnv* env);
void schedulerSuspend(InterpEnv* env);
// Time spent suspended is not counted as elapsed (update_timers).
void schedulerResume(InterpEnv* env);
void update_timers(InterpEnv* env);

// Runs activations until the local clock passes `until` or nothing is due
// within it; returns the remaining time to the next activation, or 0. A stop
// request ends it at the next activation boundary.
uint64_t scheduler_run(InterpEnv* env, uint64_t until);

// A request to end the current run at the next activation boundary (and to
// cut a real-time wait short). Safe to make from a signal handler; it holds
// until cleared, so every later run returns at once.
void scheduler_requestStop();
bool scheduler_stopRequested();
void scheduler_clearStop();

// Selections by scanning every instance (the reference the index is checked
// against) instead of through the index of pending activations.
void scheduler_usePlainScan(InterpEnv* env, bool plain);

// The smallest pending entry over all instances, at least 0; INT64_MAX when
// nothing is pending.
uint64_t nextProcessHit(InterpEnv* env);

// Brings every pending activation up to date with the local clock: the time
// elapsed since the last update is subtracted from every entry (during a run,
// through the index: when each queue is next reached).
void update_elpased_time(InterpEnv* env);
// Queues an activation for every triggered instance whose condition holds.
void update_triggered_process(InterpEnv* env);
// Queues instance i's next periodic activation; `base` is the (non-positive)
// lateness of the one just served.
void update_periodic_process_next_hit(InterpEnv* env, uint32_t i, int64_t base);
// Consumes instance i's due activation; returns its entry (<= 0) or 0.
int64_t clear_hit(InterpEnv* env, uint32_t i);

// Policy selections: the chosen instance's index, or -1.
int32_t select_FIFO_policy(InterpEnv* env);
int32_t select_NPFP_policy(InterpEnv* env);
int32_t select_EDF_policy(InterpEnv* env);
