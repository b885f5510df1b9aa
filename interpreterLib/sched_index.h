// The scheduler's index of pending activations: the next activation in
// O(log n) of the top-level instances instead of a scan of all of them.
//
// The queues stay what the program and the console read (signed times
// relative to now, in each instance's `next_activations`); the index only
// holds each instance's head entry as head + epoch, where the epoch sums the
// times elapsed since the index was built, so the passing of time moves no
// key. Nor does it touch the queues, which would cost a pass over all of them
// per clock advance: during a run a queue is brought up to date when the
// scheduler reaches for it (schedIndex_activations), and every queue is
// before anything else can read one (program code that can reach them, the
// end of the run, the host's calls to schedIndex_invalidate). Two heaps of
// instance numbers: instances whose head is not due yet, by head; due
// instances, in the policy's order (FIFO: head, then higher priority; NPFP:
// higher priority; NPEDF: head + deadline), ties by lower number: the
// choice of the plain scans.
//
// The scheduler refreshes an instance after each change it makes to its
// queue. Program code may change queues, priorities, deadlines, periods and
// `system.processes` too: the program is scanned once for code that can
// reach them (any reference to a Process_Instance or System value other than
// to one of their other fields); a program that has such code marks the index
// stale before each piece of its code runs, and the index is rebuilt from the
// instances before its next use. It is also rebuilt at every run's start,
// after whatever the console did. Values far enough out to wrap a key
// (heads or deadlines beyond 2^61 ps) make it step aside for the plain scan.
#pragma once

#include <cstdint>
#include <vector>

#include "ASTLib/rENV.h"

// A run starts or ends. Outside runs (the console, start-up) nothing but the
// selection trusts the index, which is rebuilt for each use.
void schedIndex_setRunning(InterpEnv* env, bool running);
// The index is to be rebuilt before its next use; every queue is brought up
// to date. The host calls it before it reads or writes the queues in the
// middle of a run (the console, the exit path).
void schedIndex_invalidate(InterpEnv* env);
// Program code is about to run: stale if the program can write what it holds.
void schedIndex_beforeCode(InterpEnv* env);
// Instance i's queue was changed by the scheduler.
void schedIndex_refresh(InterpEnv* env, uint32_t i);
// True when the index serves selections now (built on demand); false: the
// plain scan must.
bool schedIndex_ready(InterpEnv* env);
// Top-level instance i's Process_Instance as cached by the index; false
// when the index is stale.
bool schedIndex_instance(InterpEnv* env, uint32_t i, TaggedValue* instance);
// Its `next_activations`, brought up to date: the only way to its queue
// while the index holds it.
bool schedIndex_activations(InterpEnv* env, uint32_t i, TaggedValue* queue);
// Records that `elapsed` has passed, to be subtracted from every pending
// entry as its queue is next reached; false (nothing done) when the index is
// stale.
bool schedIndex_elapse(InterpEnv* env, uint64_t elapsed);
// With the index ready: the policy's choice, or -1; the smallest pending
// entry clamped at 0, or INT64_MAX.
int32_t schedIndex_select(InterpEnv* env);
uint64_t schedIndex_nextHit(InterpEnv* env);

// The top-level instances with an activation condition, in order.
const std::vector<uint32_t>& schedIndex_triggered(InterpEnv* env);

// Whether code of the program can change the scheduling fields of an
// instance (exposed for tests).
bool schedIndex_programWritesSchedule(InterpEnv* env);
// How many times the index was built (exposed for tests: a run of a program
// that cannot change what it holds builds it once).
uint64_t schedIndex_builds(InterpEnv* env);
