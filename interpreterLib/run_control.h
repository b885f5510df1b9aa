// Initialising a loaded environment and running it.
//
// `interp_init` gives the globals their initial values (through the host's
// change callbacks, so the host sees and the hardware takes each of them),
// runs the top-level timing annotations, sets every instance's timing and
// first activation, takes the scheduling policy from the `system` variable
// and calls the program's `init` function. The run calls then drive the
// scheduler between two suspensions, so time spent outside them (a console
// waiting for a command) is not counted as elapsed.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// Returns 1. Once initialised, the realtime flag can no longer change.
int interp_init(InterpEnv* env);
void process_annotations(InterpEnv* env, const AST_Node* definitions, uint32_t* counter);

int interp_run_until(InterpEnv* env, uint64_t localTime);
int interp_run_for(InterpEnv* env, uint64_t duration);
int interp_run_until_absolute(InterpEnv* env, uint64_t absoluteTime);
// Runs what falls due at the next activation time; nothing when nothing is pending.
int interp_step(InterpEnv* env);
int run_until(InterpEnv* env, uint64_t localTime);
// The signed delay to the next activation (INT64_MAX: none), local / absolute.
uint64_t interp_next_hit(InterpEnv* env);
uint64_t interp_next_absolute_hit(InterpEnv* env);
// Runs top-level instance i once.
void executeProcess(InterpEnv* env, uint32_t i);
