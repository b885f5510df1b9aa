// Internal invariants of the program model and of the value library.
//
// A violated invariant is a bug (in the interpreter or in a program file that
// slipped past validation), never a user error: the process stops at once with
// the usual assertion report on standard error — program, source file, line,
// function and the condition text — and aborts. The check is always compiled
// in; the conditions are cheap comparisons.
#pragma once

[[noreturn]] void kova_assertFail(const char* text, const char* file, unsigned line,
                                  const char* function);

// KOVA_ASSERT(cond, "text"): `text` is what the report shows, usually the
// condition as written.
#define KOVA_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : kova_assertFail(text, __FILE__, __LINE__, __func__))
