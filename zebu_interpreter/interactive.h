// The interactive console, and the command interpreter that also plays
// scenario lines.
//
// A command line may start with a time prefix (@ms: run that long first),
// then holds a command word (run, step, list, time, help, quiet, verbose,
// quit and its synonyms) or a statement of the program's language, compiled
// against the running program and executed at once. Commands that run the
// program never go past the given limit (0: no limit).
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

inline constexpr uint64_t kNoTimeLimit = 0xFFFFFFFFFFFFFFFFull;

void enableInteractiveMode();
void disableInteractiveMode();
bool isInteractiveModeEnabled();
void prepareToInteractBeforeExit();
void prepareToExitWithoutInteract();
bool interactBeforeExit();
// Every line read is written back before it is executed.
void setEchoInput(bool on);

// The console loop: prompt, read, execute, until end of input or quit.
void interactive(InterpEnv* env, uint64_t limit);
// Executes one command line; false when a run stopped at the limit.
bool interactive_exec(InterpEnv* env, const char* line, uint64_t limit);
bool interactive_runUntil(InterpEnv* env, uint64_t target, uint64_t limit);
bool interactive_runFor(InterpEnv* env, uint64_t duration, uint64_t limit);
void interactive_setQuietMode(InterpEnv* env, bool quiet);

void display_allGlobalVariables(InterpEnv* env);
void display_allStates(InterpEnv* env);
void display_allStatic(InterpEnv* env);
void display_allGlobalConst(InterpEnv* env);

// Compiles a console text ("$ " and a statement or expression) against the
// running program; the root of what it compiled, or null after the reason
// was reported. The nodes live in the program's spare node space until the
// next compilation.
const AST_Node* console_compile(InterpEnv* env, const char* text);
