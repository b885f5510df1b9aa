// Program output: `print`, `println`, printing into uint8 arrays and queues,
// and the unit form of times.
//
// Every byte a program prints goes through the host's print callback, one at
// a time. A format is a uint8 buffer (a string literal, array or queue) read
// in logical order; `%` conversions take the next value argument, backslash
// escapes name special characters. When printing is disabled the values are
// still evaluated for their side effects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ASTLib/rENV.h"

// Where a time text goes, piece by piece.
using TextSink = void (*)(void* ctx, const char* text);

void print_char(InterpEnv* env, uint8_t c);
void print_string(InterpEnv* env, const char* text);

// args: the format buffer, then the values (a null list prints nothing).
void print_format(InterpEnv* env, const AST_Node* args);
// print_format, then a line end.
void print_formatLine(InterpEnv* env, const AST_Node* args);
// args: the target uint8 array or queue, the format, then the values. Text
// beyond the target's capacity is dropped; only a `%s` copy that would pass
// it fails, with "String copy exceeds target_buffer buffer size !\n".
void string_print_format(InterpEnv* env, const AST_Node* args);

// The unit form: "0", "time64.LAST", or the non-zero parts among
// d, h, mn, s, ms, us, ns, ps (1500000000000 is 1s500ms).
void print_time_helper(void* ctx, TextSink out, uint64_t t);
// The signed form: "-" and the magnitude, or "duration64.LAST"/"FIRST".
void print_duration_helper(void* ctx, TextSink out, int64_t d);
// Writes the quotient of *value by unit with its suffix when not 0, and
// leaves the remainder in *value.
void print_time_reminder(void* ctx, TextSink out, uint64_t* value, uint64_t unit,
                         const char* suffix);
// Through the print callback: the duration form for duration64, else the time form.
void print_time(InterpEnv* env, uint64_t value, uint32_t typeId);

// The full form with every unit, zeros included (0d0h0mn1s500ms0us0ns0ps);
// `text` must hold kTimeTextSize bytes.
inline constexpr size_t kTimeTextSize = 192;
void sprint_time(char* text, uint64_t t);

// Number texts; each returns the number of characters written into `text`,
// which must hold 32 bytes (kFloatTextSize for sprint_float: %f of the
// largest double has 316 characters).
inline constexpr size_t kFloatTextSize = 400;
int sprint_uint(char* text, uint64_t v);     // "%llu"
int sprint_sint(char* text, int64_t v);      // "%lld"
int sprint_xint(char* text, uint64_t v);     // "%llx"
int sprint_cint(char* text, int64_t v);      // "%c" of the low 8 bits
int sprint_bool(char* text, bool v);         // "true" / "false"
int sprint_float(char* text, double v);      // "%0.6f"
void print_float(InterpEnv* env, double v);  // "%f" through the print callback
