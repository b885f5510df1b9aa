// Writing values and process states on the console.
//
// All console output goes to standard output. It is buffered for speed; the
// driver flushes it before every real-time sleep, before reading standard
// input and before the process ends, so the bytes are those of unbuffered
// writes. `display_debug` is the debug channel: it writes nothing.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// Messages that are always shown, and trace lines (the same sink).
void display_program(const char* format, ...) __attribute__((format(printf, 1, 2)));
void display_simu(const char* format, ...) __attribute__((format(printf, 1, 2)));
void display_debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void display_char(uint8_t c);
// Unformatted pieces: text as it is, integers in decimal.
void display_text(const char* text);
void display_u64(uint64_t value);
void display_s64(int64_t value);
void display_string(InterpEnv* env, const char* text);
// The text sink handed to the time-text writers (its context is ignored).
void display_string_printer(void* env, const char* text);

// A trace stamp: "%lld.%012lld" of seconds and picoseconds.
void display_stamp(uint64_t ps);
uint64_t time_ps_to_s(uint64_t ps);
uint64_t time_cut_sub_second(uint64_t ps);

// Any value: buffers as {a,b}, structures as {f1,f2}, numbers, times in unit
// form, booleans, enumerations as Type.LITERAL (NULL for 0).
void display_value(InterpEnv* env, TaggedValue value);
// The console's form of a value: structure fields by name
// ({period = 100ms, priority = 0, ...}), ", " between elements, time
// literals in unit form.
void display_valueNamed(InterpEnv* env, TaggedValue value);
// The STATE line of an instance and one line per static variable, nested
// sub-process instances in place.
void display_state(InterpEnv* env, TaggedValue instance);
// A time or duration in unit form.
void display_time(uint64_t value);
