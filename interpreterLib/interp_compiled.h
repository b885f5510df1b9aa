// The compiled evaluator: statements turned once into trees of closures over
// typed operations, the tree walker (interp.h, interp_expr.h) kept beside it
// for everything they do not cover.
//
// Design. The walker pays, at every node, for the large `expr_execute`
// frame and switch, a dynamic type check and an indirect operator call that
// switches on the op again, reloads of the program and context through their
// owners, the local look-up, and for calls the whole protocol read from the
// tree. Here each statement of the loaded program is compiled, the first
// time it runs, into small records whose function pointer is a template
// instance for the node's op, operator type and operand kinds:
//   - operators are typed templates (operator_functions.h's own rules with a
//     constant op), so the op switch and the type dispatch fold away;
//   - operands that are locals or literals are read inside the operator's
//     instance (one call for `i < N`, `i * i`, `x + 1`), and `x = e` into a
//     local or a global, `if`, `while` and `for` with a compiled condition
//     are statements of their own;
//   - a global's storage is a pointer taken once; locals go through the
//     frame base taken when the statement is entered;
//   - a user function call keeps its function id, parameter passing modes
//     and compiled body, so the call binds arguments without reading the
//     tree.
// Values travel in registers: nothing is written to the evaluation stack,
// but its count is kept exactly as the walker's (the cells a call-free
// expression would push are counted at once, after checking they fit), so
// nested calls see the same floor and "Stack overflow" and the local-table
// limits fall where they fall for the walker. Where an expression would
// overflow, or a statement meets something the compiled form does not do
// (a watched assignment, a value that is not a plain cell, an op or call
// outside the list), that statement or expression runs on the walker, which
// then does all of it; failures therefore keep their messages and order.
//
// Why closures, and these specialisations: measured on the 2-core machine
// (Release, GCC 12, best of 5, CPU seconds; 10M iterations of
// `s = (s + i*i) mod 1000003`, fib(32); Lua 5.4 on the same loops 0.11,
// 0.33 and 0.11):
//   walker                                    loop locals 0.68 globals 0.69 fib 0.68
//   closures, typed ops, generic call frame                  0.18         0.21     0.45
//   + local/literal operands, frame counters inline,
//     one-statement blocks unwrapped                         0.13         0.17     0.28
//   + one-cell calls: the frame checked once and written in place  fib 0.20
//     (Lua 0.116 that day: 2.26x before, 1.69x after)
//   + the frame's fields read one at a time, restore and result copy
//     folded; comparisons fused into `if` and `while`        fib 1.64x -> 1.10x
//     (ratios to Lua, medians of alternated pairs; see interp_compiled.cpp)
// The loops are within 1.2x of Lua (globals faster: Lua's are table
// look-ups); what is left in fib is mostly the call frame itself (the
// local table's entries and counters written, checked and restored, the
// result cell declared and cleared, as the walker's protocol requires). A
// register bytecode with computed goto would save the indirect call per
// node, but it would need its own call protocol and stack discipline beside
// the walker's, and a fallback per expression is then a re-entry into a
// second machine; closures fall back at any node for free.
//
// Staleness: the console compiles typed lines into spare nodes above the
// loaded program and gives them back afterwards, so only nodes below the
// program's size at load time are ever compiled; the console's nodes always
// run on the walker. Loading a program forgets all compiled code.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

struct CompiledCode;

// Whether new environments compile: yes unless KOVA_EVAL=walk (read once).
bool compiled_defaultEnabled();

// Switches the compiled path on or off for this environment; compiled code
// is kept (off: the walker runs everything).
void compiled_setEnabled(InterpEnv* env, bool on);
bool compiled_isEnabled(const InterpEnv* env);

// Forgets all compiled code and sizes the cache for the loaded program.
void compiled_reset(InterpEnv* env);

// Runs the statement compiled when it can (compiling it on its first run);
// false when the walker must run it.
bool compiled_statement(InterpEnv* env, const AST_Node* node, uint32_t* result);

// Statements compiled so far (those handed whole to the walker excepted),
// and how many statements and expressions, at any depth, were compiled into
// a hand-over to the walker (for tests: what the compiled form misses).
struct CompiledStats {
  uint32_t compiled;
  uint32_t walked;
};
CompiledStats compiled_stats(const InterpEnv* env);
