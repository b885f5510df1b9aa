// The driver's host callbacks: the time-stamped console trace, execution-time
// statistics, the end of the run, delays and random numbers.
//
// Every trace line starts with "[%lld.%012lld" of the absolute time in
// seconds and picoseconds: ASSIGN (assignment or push), STATE (state entered,
// transition fired), PRINTLN (before the first character of every line the
// program prints), STARTING_TASK / TASK_FINISHED, and the EXIT line.
#pragma once

#include <cstdint>
#include <memory>

#include "ASTLib/rENV.h"

uint32_t callback_var_change(InterpEnv* env, uint32_t globalId, uint32_t kind, TaggedValue value);
uint32_t callback_var_read(InterpEnv* env, uint32_t globalId);
void callback_state_changed(InterpEnv* env, TaggedValue instance, uint32_t kind, uint32_t value);
void callback_print_char(InterpEnv* env, uint8_t c);
void callback_task_trace(InterpEnv* env, const char* tag, uint32_t instance);
void callback_task_stat(InterpEnv* env, TaggedValue instance, uint32_t kind);
// Prints the EXIT line and the statistics, may open the console, releases
// everything and ends the process with `code`.
[[noreturn]] void callback_exit(InterpEnv* env, uint32_t line, uint8_t code);
void callback_assert(InterpEnv* env, uint32_t condition, const char* file, uint32_t line,
                     const char* function, const char* expression);
void callback_delay(InterpEnv* env, uint64_t duration);
uint64_t callback_random(InterpEnv* env);
void callback_random_seed(uint64_t seed);
void callback_invalid_op(InterpEnv* env, const AST_Node* node, uint32_t kind);

// Statistics of the top-level instances' execution times.
void enableStats(InterpEnv* env);
void disableStats(InterpEnv* env);
bool areStatsEnabled();
void display_stats(InterpEnv* env);

// The run-time limit the console gets when it opens at the end (ps).
void callbacks_setRunTime(uint64_t runTime);

// The common end of every exit path: closes the scenario, completes the
// recording's files, closes the ports and the environment.
void interp_prepareExit(InterpEnv* env, uint32_t line, uint8_t code);
// The driver's environment, released by interp_prepareExit, or at once by
// callbacks_releaseEnvironment (the console's quit).
void callbacks_adoptEnvironment(std::unique_ptr<InterpEnv> env);
void callbacks_releaseEnvironment(InterpEnv* env);
