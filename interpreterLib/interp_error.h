// Ending a run: run-time failures, the language's exit and assert, and the
// debug output.
//
// The interpreter never ends the process itself: these hand the end of the
// run to the host through its exit and assert callbacks. When the host's
// callback returns (the default one does), the caller carries on and must
// leave its own state consistent.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// Writes the formatted message to standard output, then calls the exit
// callback with line 0 and status 1.
void interp_failure(InterpEnv* env, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes the formatted text to standard output, unconditionally.
void interp_debug(InterpEnv* env, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The string at `index` in the program's string table.
const char* InterpEnv_getStringAtIndex(const InterpEnv* env, uint32_t index);

// The language's `exit`: the code is the expression's low 8 bits.
void interp_exit(InterpEnv* env, uint32_t line, const AST_Node* codeExpression);

// The language's `assert`: a false condition calls the assert callback with
// the file and expression texts held in the string table.
void interp_assert(InterpEnv* env, uint32_t line, const AST_Node* conditionExpression,
                   const AST_Node* fileNode, const AST_Node* expressionNode);
