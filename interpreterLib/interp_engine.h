// The interpreter environment's life: creation, loading, look-ups by name,
// values set from outside, destruction.
//
// Loading sets up the context for the program: the per-variable and
// per-instance callback arrays (all defaults), the `system` variable with
// policy FIFO and one `Process_Instance` entry per top-level instance in its
// `processes` channel, every instance (top-level and sub-process, numbered
// depth-first) given its initial field values, and each top-level instance
// variable made the same storage as its `processes` entry.
//
// Look-ups by name are linear and give NO_ID when nothing matches.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "ASTLib/known_fields.h"
#include "ASTLib/rENV.h"

// A new environment: empty program, zeroed context and data, the three local
// tables, the evaluation stack and every default callback.
std::unique_ptr<InterpEnv> interp_create();

// Reads the program file, proves it fit to run (validate.h) and sets the
// context up for it; returns 0, or the reader's failed step when the exit
// callback returns (kLoadInvalidProgram for a file the validator refused:
// "invalid Kova AST file !\n" and one line saying what is wrong and where).
int interp_load(InterpEnv* env, const char* path);
// The same from a stream open at the start of a program file.
int interp_load_stream(InterpEnv* env, FILE* stream);
inline constexpr int kLoadInvalidProgram = 30;
// The same for a program already built in memory (the environment takes it).
int interp_load_from_program(InterpEnv* env, std::unique_ptr<Program> program);

void context_init(InterpEnv* env);
void context_init_program(InterpEnv* env);

// Closes the files, frees the program and the environment.
void interp_stop(std::unique_ptr<InterpEnv> env);

void interp_set_realtime(InterpEnv* env, bool on);
bool interp_get_realtime(const InterpEnv* env);
void interp_set_start_pid(InterpEnv* env, uint32_t pid);

// ---- look-ups
uint32_t interp_getTypeID(const InterpEnv* env, const char* name);
uint32_t interp_getStructFieldTypeID(const InterpEnv* env, const char* typeName,
                                     const char* fieldName);
// Sum of the cells of the fields before the named one; 0 without the type,
// the full size without the field.
uint32_t interp_getStructFieldOffset(const InterpEnv* env, const char* typeName,
                                     const char* fieldName);
uint32_t interp_getVariableID(const InterpEnv* env, const char* name);
uint32_t interp_getConstantID(const InterpEnv* env, const char* name);
uint32_t interp_getTaskID(const InterpEnv* env, const char* name);
// argSpec holds one (type id, direction 0 in / 1 out) pair per argument.
uint32_t interp_getFunctionID(InterpEnv* env, const char* name, uint32_t argCount,
                              const uint32_t* argSpec);
uint32_t interp_getMethodID(InterpEnv* env, uint32_t typeId, const char* method, uint32_t argCount,
                            const uint32_t* argSpec);
uint32_t interp_getEnum(InterpEnv* env, uint32_t enumTypeId, const char* literal);

// Cached offsets and types of the known fields of the predefined types.
uint32_t interp_knownFieldOffset(InterpEnv* env, KnownField field);
uint32_t interp_knownFieldType(InterpEnv* env, KnownField field);
#define KOVA_KNOWN_FIELD_ACCESSORS(type, field)                                  \
  inline uint32_t interp_getStructFieldOffset_##type##_##field(InterpEnv* env) { \
    return interp_knownFieldOffset(env, kField_##type##_##field);                \
  }                                                                              \
  inline uint32_t interp_getStructFieldTypeID_##type##_##field(InterpEnv* env) { \
    return interp_knownFieldType(env, kField_##type##_##field);                  \
  }
KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_ACCESSORS)
#undef KOVA_KNOWN_FIELD_ACCESSORS

// A known field of a structure value (a reference into its cells).
TaggedValue interp_knownField(InterpEnv* env, TaggedValue structure, KnownField field);

// The global variable "system" (found by name).
TaggedValue system_getValue(InterpEnv* env);

// ---- values and calls from outside
// mode 0 assigns, mode 1 pushes onto the global channel; 1 for a bad id.
int interp_setValue(InterpEnv* env, uint32_t globalId, uint32_t mode, TaggedValue value);
// Copies a string value's characters (one per cell) into buffer, stopping
// after a NUL; returns the type's size.
uint32_t interp_get_value_string(InterpEnv* env, TaggedValue source, char* buffer);
int interp_callFunction(InterpEnv* env, uint32_t funcId, const TaggedValue* values);
