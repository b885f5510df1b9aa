// File bindings: a global channel fed from, or drained into, a file.
//
// A hardware annotation binds a global queue or stack to a file described by
// a `Kova_File` value (path, access READ/WRITE, format CSV/RAW). At each
// output synchronisation every element waiting in a write-bound channel is
// written out, oldest first for a queue, top first for a stack; at each input
// synchronisation one line of every read-bound file is pushed into its
// channel, unless the channel is full.
//
// Text files hold one value per line, structures as comma-separated fields
// (nested structures flattened). Raw files carry bytes of a `uint8` queue:
// one byte per element on writing, one line of bytes, newline included, per
// input synchronisation.
//
// The file table is one per process: it is made by `files_init` from the
// program's constants KOVA_MAX_FILE and KOVA_MAX_FILENAME, and lives until
// `files_close`. Binding failures are printed on standard output and leave
// the variable unbound; reading or writing a variable that is not a buffer
// is reported through the host's assert callback and does nothing.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ASTLib/rENV.h"

// Drops any previous table, then, when the program declares `Kova_File`,
// allocates an empty table of KOVA_MAX_FILE records. Without the type files
// are disabled and the synchronisations do nothing.
void files_init(InterpEnv* env);

// Binds global `variableId` to the file that the `Kova_File` value `file`
// describes; output files are created or truncated now. A full table prints
// "not enough files \n", a failed open "Error with file %s: %s" (no newline);
// both leave the variable unbound. A raw binding of anything but a `uint8`
// queue prints "only uint8 queue raw buffer type is supported \n" and is
// kept.
void file_variable_setup(InterpEnv* env, TaggedValue file, uint32_t variableId);

// Output synchronisation: drains every write-bound channel into its file.
void sync_files(InterpEnv* env);
// Input synchronisation: one line of every read-bound file into its channel.
void sync_files_input(InterpEnv* env);

// Closes every bound file and frees the table. Safe to call again, and
// without files_init.
void files_close();

// Writes every element of the channel `variableId` into `file` (raw: one
// byte each, then a newline and a flush when anything was written; text: one
// line each, flushed). `write` must be set.
void FileOutput_write_to_file(InterpEnv* env, std::FILE* file, uint32_t variableId, bool raw,
                              bool write);
// Unless the channel `variableId` is full, reads one line of at most 1023
// bytes from `file` and pushes it (raw: its bytes, at most the capacity;
// text: one parsed value, the cleared value at end of file). `write` must be
// clear.
void FileOutput_read_from_file(InterpEnv* env, std::FILE* file, uint32_t variableId, bool raw,
                               bool write);

// The text form of `value`, then, when `newline` is set, "\n" and a flush.
// A buffer value writes nothing at all, not even the newline.
void Value_write_to_file(InterpEnv* env, TaggedValue value, std::FILE* file, bool newline);
// The text form of `value` alone: numbers, "true"/"false", the enumeration
// literal's name ("NULL" for none), structure fields separated by ",";
// nothing for durations, times, buffers and other types.
void Value_write_to_file_raw_text(InterpEnv* env, TaggedValue value, std::FILE* file);

// Parses one line (its trailing newline ignored; `text` is modified) into
// `variable`. Integers take C's base prefixes (0x, 0) and are stored at the
// type's width; "true" alone is true; an unknown enumeration name gives the
// first literal; structure fields are read from the tokens in order until
// either runs out. Types without a text form are left as they are.
void line_read_value(InterpEnv* env, char* text, TaggedValue variable);
