// Local variable scopes.
//
// Locals, arguments, local constants and the static variables of process
// instances are not allocated one by one: they live in fixed tables used as
// stacks, and a scope is a saved set of counters (`LocalVarsIndexes` in the
// context). Entering a block saves the three counts, leaving restores them;
// a function or process call saves and restores all five fields. Ids in the
// program are relative to `base.variables` (locals), absolute (constants) or
// relative to `base.processStaticVariables` (statics).
//
// A table that is full ends the run through env_failure with
// "Local variables stack overflow" or "Local variables data stack overflow".
// An id that names no entry of its scope (the program file is proven sound
// when it is loaded, but which locals exist is only known while running)
// ends the run the same way with the violated condition as its text.
#pragma once

#include <cstdint>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rENV.h"

// Declares a local of `typeId` on fresh data cells (not cleared) and returns
// its entry.
TaggedValue* LocalVariable_declare(InterpEnv* env, uint32_t typeId);
// Declares a local that shares the storage and global id of *ref.
TaggedValue* LocalVariable_reference(InterpEnv* env, const TaggedValue* ref);

// Adds a constant entry {null, typeId}; returns its index.
uint32_t LocalConstant_allocValue(InterpEnv* env, uint32_t typeId);
// Points constant `index` at cell `initId` of the program's constant data.
void LocalConstant_refAnyValues(InterpEnv* env, uint32_t index, uint32_t initId);
// allocValue with the declaration's type, then refAnyValues with its initializer.
void LocalConstant_define(InterpEnv* env, const AST_Node* declaration);
void LocalConstant_incrCount(InterpEnv* env);
void LocalConstant_decrCount(InterpEnv* env);

// Ends the run through env_failure with `text` (a host whose exit callback
// returns leaves nothing sensible to hand out: the process stops).
[[noreturn, gnu::cold]] void Locals_idFailure(InterpEnv* env, const char* text);

// Requires variableId < count.variables - base.variables.
inline TaggedValue* LocalVariable_getRelativeScopeValue(InterpEnv* env, uint32_t variableId) {
  const LocalVarsIndexes& idx = env->ctx->localVarsIndexes;
  if (variableId >= idx.count.variables - idx.base.variables) [[unlikely]] {
    Locals_idFailure(env,
                     "variableId < (env->ctx->localVarsIndexes.count.variables - "
                     "env->ctx->localVarsIndexes.base.variables)\n");
  }
  return &env->data->localVariableTable[idx.base.variables + variableId];
}

// Constant ids are absolute positions.
inline TaggedValue* LocalConstant_getValue(InterpEnv* env, uint32_t constantId) {
  if (constantId >= env->ctx->localVarsIndexes.count.constants) [[unlikely]] {
    Locals_idFailure(env, "constantId < env->ctx->localVarsIndexes.count.constants\n");
  }
  return &env->data->localConstantTable[constantId];
}

// (The name is spelled so in the system's interface.)
// Requires staticVarId < n_processStaticVariables - base.processStaticVariables.
inline TaggedValue* StaticVaraible_getRelativeScopeValue(InterpEnv* env, uint32_t staticVarId) {
  const uint32_t base = env->ctx->localVarsIndexes.base.processStaticVariables;
  if (base == NO_ID || staticVarId >= env->program->infoProg->n_processStaticVariables - base)
      [[unlikely]] {
    Locals_idFailure(env,
                     "staticVarId < (env->program->infoProg->n_processStaticVariables - "
                     "env->ctx->localVarsIndexes.base.processStaticVariables)\n");
  }
  return &env->program->processStaticVariableTable[base + staticVarId];
}

inline LocalVarsCounts Variable_getCurrentLocalVarCounts(const InterpEnv* env) {
  const auto& c = env->ctx->localVarsIndexes.count;
  return {c.variables, c.constants, c.variablesData};
}
// Requires every live count to be at least the saved one.
void Variable_restorePrevLocalVarCounts(InterpEnv* env, const LocalVarsCounts& saved);

inline LocalVarsIndexes Variable_getCurrentLocalVarIndexes(const InterpEnv* env) {
  return env->ctx->localVarsIndexes;
}
// Restores the bases (Variable_restorePrevLocalVarBases), then the counts.
void Variable_restorePrevLocalVarIndexes(InterpEnv* env, const LocalVarsIndexes& saved);
void Variable_restorePrevLocalVarBases(InterpEnv* env, const LocalVarsIndexes& saved);

// Makes the last nofArgs locals entries 0.. of the visible scope.
void Locals_hideNonArgs(InterpEnv* env, uint32_t nofArgs);
