#include "ASTLib/kova_locals.h"

#include <cstdlib>

#include "ASTLib/rEnv.h"

namespace {

// A full table ends the run. A host whose exit callback returns leaves no
// entry to hand out, so the process stops here rather than write past a table.
[[noreturn]] void localsOverflow(InterpEnv* env, const char* message) {
  env_failure(env, message);
  std::abort();
}

}  // namespace

void Locals_idFailure(InterpEnv* env, const char* text) {
  localsOverflow(env, text);
}

TaggedValue* LocalVariable_declare(InterpEnv* env, uint32_t typeId) {
  auto& count = env->ctx->localVarsIndexes.count;
  if (count.variables >= kMaxLocalVariables || count.variablesData >= kMaxLocalData) {
    localsOverflow(env, "Local variables stack overflow\n");
  }
  const uint32_t storage = Type_getStorageSize(env->program.get(), typeId);
  if (storage >= kMaxLocalData || count.variablesData >= kMaxLocalData - storage) {
    localsOverflow(env, "Local variables data stack overflow\n");
  }
  TaggedValue* entry = &env->data->localVariableTable[count.variables];
  *entry = {&env->data->localVariableDataTable[count.variablesData], typeId, NO_ID};
  ++count.variables;
  count.variablesData += storage;
  return entry;
}

TaggedValue* LocalVariable_reference(InterpEnv* env, const TaggedValue* ref) {
  auto& count = env->ctx->localVarsIndexes.count;
  if (count.variables >= kMaxLocalVariables)
    localsOverflow(env, "Local variables stack overflow\n");
  TaggedValue* entry = &env->data->localVariableTable[count.variables];
  *entry = *ref;
  ++count.variables;
  return entry;
}

uint32_t LocalConstant_allocValue(InterpEnv* env, uint32_t typeId) {
  auto& count = env->ctx->localVarsIndexes.count;
  if (count.constants >= kMaxLocalConstants) {
    localsOverflow(env, "Local variables stack overflow\n");
  }
  env->data->localConstantTable[count.constants] = {nullptr, typeId, NO_ID};
  return count.constants++;
}

void LocalConstant_refAnyValues(InterpEnv* env, uint32_t index, uint32_t initId) {
  KOVA_ASSERT(index < env->ctx->localVarsIndexes.count.constants,
              "index < env->ctx->localVarsIndexes.count.constants");
  KOVA_ASSERT(initId < env->program->infoProg->size_constantData,
              "initId < env->program->infoProg->size_constantData");
  env->data->localConstantTable[index].value = &env->program->constantDataTable[initId];
}

void LocalConstant_define(InterpEnv* env, const AST_Node* declaration) {
  const Program* program = env->program.get();
  const uint32_t index = LocalConstant_allocValue(env, AST_getVarDeclTypeId(program, declaration));
  const AST_Node* init = AST_getVarDeclInitializer(program, declaration);
  KOVA_ASSERT(init != nullptr, "constant declaration has an initializer");
  LocalConstant_refAnyValues(env, index, init->value.id.index);
}

void LocalConstant_incrCount(InterpEnv* env) {
  auto& count = env->ctx->localVarsIndexes.count;
  if (count.constants >= kMaxLocalConstants) {
    localsOverflow(env, "Local variables stack overflow\n");
  }
  ++count.constants;
}

void LocalConstant_decrCount(InterpEnv* env) {
  auto& count = env->ctx->localVarsIndexes.count;
  KOVA_ASSERT(count.constants > 0, "env->ctx->localVarsIndexes.count.constants > 0");
  --count.constants;
}

void Variable_restorePrevLocalVarCounts(InterpEnv* env, const LocalVarsCounts& saved) {
  auto& count = env->ctx->localVarsIndexes.count;
  KOVA_ASSERT(count.variables >= saved.variables,
              "env->ctx->localVarsIndexes.count.variables >= saved.variables");
  KOVA_ASSERT(count.constants >= saved.constants,
              "env->ctx->localVarsIndexes.count.constants >= saved.constants");
  KOVA_ASSERT(count.variablesData >= saved.variablesData,
              "env->ctx->localVarsIndexes.count.variablesData >= saved.variablesData");
  count.variables = saved.variables;
  count.constants = saved.constants;
  count.variablesData = saved.variablesData;
}

void Variable_restorePrevLocalVarBases(InterpEnv* env, const LocalVarsIndexes& saved) {
  auto& base = env->ctx->localVarsIndexes.base;
  KOVA_ASSERT(base.variables >= saved.base.variables,
              "env->ctx->localVarsIndexes.base.variables >= saved.base.variables");
  KOVA_ASSERT(saved.base.processStaticVariables == NO_ID ||
                  saved.base.processStaticVariables <= base.processStaticVariables,
              "saved.base.processStaticVariables == NO_ID || saved.base.processStaticVariables "
              "<= env->ctx->localVarsIndexes.base.processStaticVariables");
  base = saved.base;
}

void Variable_restorePrevLocalVarIndexes(InterpEnv* env, const LocalVarsIndexes& saved) {
  Variable_restorePrevLocalVarBases(env, saved);
  Variable_restorePrevLocalVarCounts(
      env, {saved.count.variables, saved.count.constants, saved.count.variablesData});
}

void Locals_hideNonArgs(InterpEnv* env, uint32_t nofArgs) {
  auto& idx = env->ctx->localVarsIndexes;
  KOVA_ASSERT(idx.count.variables >= nofArgs,
              "env->ctx->localVarsIndexes.count.variables >= nofArgs");
  idx.base.variables = idx.count.variables - nofArgs;
}
