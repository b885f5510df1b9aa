#include "interpreterLib/interp_engine.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ASTLib/default_callback.h"
#include "ASTLib/kova_assert.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/files.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_compiled.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/read.h"
#include "interpreterLib/validate.h"

namespace {

constexpr const char* kKnownFieldType[] = {
#define KOVA_KNOWN_FIELD_TYPE(type, field) #type,
    KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_TYPE)
#undef KOVA_KNOWN_FIELD_TYPE
};
constexpr const char* kKnownFieldName[] = {
#define KOVA_KNOWN_FIELD_NAME(type, field) #field,
    KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_NAME)
#undef KOVA_KNOWN_FIELD_NAME
};

void forgetKnownFields(Context& ctx) {
  for (uint32_t i = 0; i < kKnownFieldCount; ++i) {
    ctx.knownFieldOffset[i] = NO_ID;
    ctx.knownFieldType[i] = NO_ID;
  }
}

// Walks a structure type's field list; `visit(fieldNode)` returns true to stop.
template <class Visit>
void forEachField(const Program* program, uint32_t typeId, Visit visit) {
  if (typeId >= program->infoProg->n_type) return;
  for (const AST_Node* cell = AST_fromId(program, program->typeTable[typeId].fields);
       cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
    const AST_Node* field = AST_left(program, cell);
    if (field != nullptr && field->op == FIELD_STATEMENT && visit(field)) return;
  }
}

bool fieldIsNamed(const Program* program, const AST_Node* field, const char* name) {
  return std::strcmp(Symbol_getName(program, AST_getStructFieldSymId(program, field)), name) == 0;
}

// The host's stack size; an unlimited one counts as 64 MiB.
size_t hostStackBytes() {
  constexpr size_t kUnlimited = size_t{64} << 20;
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return std::min<size_t>(limit.rlim_cur, kUnlimited);
}

}  // namespace

std::unique_ptr<InterpEnv> interp_create() {
  auto env = std::make_unique<InterpEnv>();
  env->program = Program_create();
  env->ctx = std::make_unique<Context>();
  env->data = std::make_unique<Data>();
  env->data->localVariableTable =
      MEM_ALLOC(TaggedValue, kMaxLocalVariables, "env->data->localVariableTable");
  env->data->localConstantTable =
      MEM_ALLOC(TaggedValue, kMaxLocalConstants, "env->data->localConstantTable");
  env->data->localVariableDataTable =
      MEM_ALLOC(ValueCell, kMaxLocalData, "env->data->localVariableDataTable");
  env->ctx->startPid = 0;
  env->ctx->compiledEval = compiled_defaultEnabled();
  env->ctx->stackBudget = hostStackBytes() / 4 * 3;
  forgetKnownFields(*env->ctx);
  interpStack_init(env.get());
  InterpEnv* e = env.get();
  env_on_syncio_input(e, nullptr);
  env_on_syncio(e, nullptr);
  env_on_get_local_time(e, nullptr);
  env_on_get_absolute_time(e, nullptr);
  env_on_exit(e, nullptr);
  env_on_assert(e, nullptr);
  env_on_print(e, nullptr);
  env_on_delay(e, nullptr);
  env_on_random(e, nullptr);
  env_on_random_seed(e, nullptr);
  interpreter_on_invalid_op(e, nullptr);
  return env;
}

void context_init(InterpEnv* env) {
  KOVA_ASSERT(env != nullptr && env->ctx != nullptr, "env != NULL && env->ctx != NULL");
  Context& ctx = *env->ctx;
  ctx.localTime = 0;
  ctx.absoluteTime = 0;
  ctx.localVarsIndexes = {};
  forgetKnownFields(ctx);
}

namespace {

// Initial field values of one instance, then of its sub-process instances,
// depth-first; `instanceCounter` numbers them as the front end did.
void default_process(InterpEnv* env, TaggedValue instance, uint32_t definitionId,
                     uint32_t& instanceCounter) {
  const Program* program = env->program.get();
  const auto set = [&](KnownField f, uint64_t v) {
    TaggedValue field = interp_knownField(env, instance, f);
    field.value->u64 = v;
  };
  const ProcessDefinitionRecord& def = program->processDefinitionTable[definitionId];
  const AST_Node* firstState = AST_getListFirst(program, AST_fromId(program, def.states));
  const uint64_t now = env->ctx->get_local_time_callback(env);
  set(kField_Process_Instance_duration, 0);
  set(kField_Process_Instance_initializing, 1);
  set(kField_Process_Instance_bcet, 0);
  set(kField_Process_Instance_current_activation, now);
  set(kField_Process_Instance_execution_time, 0);
  set(kField_Process_Instance_offset, 0);
  set(kField_Process_Instance_period, 0);
  set(kField_Process_Instance_priority, 0);
  set(kField_Process_Instance_jitter, 0);
  set(kField_Process_Instance_deadline, 0x7FFFFFFFFFFFFFFFull);
  set(kField_Process_Instance_wcet, 0);
  set(kField_Process_Instance_previous_activation, now);
  set(kField_Process_Instance_pid, uint64_t{instanceCounter} + env->ctx->startPid);
  set(kField_Process_Instance_process_state,
      firstState != nullptr ? AST_getStateId(program, firstState) : 0);
  set(kField_Process_Instance_continue, 0);
  set(kField_Process_Instance_state_ptr, AST_id(program, firstState));
  const uint32_t self = instanceCounter++;
  set(kField_Process_Instance_instance_id, self);
  value_clear(env, interp_knownField(env, instance, kField_Process_Instance_next_activations));

  // Sub-process instances live in the first entries of this instance's statics.
  const uint32_t staticBase = program->processInstanceTable[self].staticBase;
  const AST_Node* subs = AST_fromId(program, def.subProcesses);
  for (uint32_t j = 0; j < def.n_subProcesses; ++j) {
    const AST_Node* sub = AST_getListNth(program, subs, j);
    default_process(env, program->processStaticVariableTable[staticBase + j],
                    AST_getProcessInstanceDefinition(program, sub), instanceCounter);
  }
}

}  // namespace

void context_init_program(InterpEnv* env) {
  Program* program = env->program.get();
  Context& ctx = *env->ctx;
  const InfoProg& info = *program->infoProg;
  forgetKnownFields(ctx);
  ctx.processInstanceTypeId = interp_getTypeID(env, "Process_Instance");
  ctx.callDepth = 0;

  // The system: FIFO by default, one processes entry per top-level instance.
  const TaggedValue system = system_getValue(env);
  if (system.value != nullptr) {
    const TaggedValue policy = interp_knownField(env, system, kField_System_sched_policy);
    policy.value->u64 = interp_getEnum(env, policy.typeId, "FIFO");
    const TaggedValue processes = interp_knownField(env, system, kField_System_processes);
    channel_clear(env, processes);
    const uint32_t slots = program->typeTable[processes.typeId].size + 1;
    channel_setInId(env, processes,
                    (channel_getInId(env, processes) + info.n_globalProcessInstances) % slots);
    uint32_t instanceCounter = 0;
    for (uint32_t i = 0; i < info.n_globalProcessInstances; ++i) {
      default_process(env, buffer_getIndexValue(env, processes, i),
                      program->processGlobalInstanceTable[i].definitionId, instanceCounter);
    }
    // A top-level instance variable and its processes entry are one storage.
    const uint32_t instanceType = interp_getTypeID(env, "Process_Instance");
    uint32_t k = 0;
    for (uint32_t g = 0; g < info.n_globalVariables && k < info.n_globalProcessInstances; ++g) {
      if (program->globalVariableTable[g].typeId == instanceType) {
        program->globalVariableTable[g].value = buffer_getIndexValue(env, processes, k++).value;
      }
    }
  }

  ctx.fsm_changed_callback =
      MEM_ALLOC(FsmChangedCallback, info.n_processInstances, "env->ctx->fsm_changed_callback");
  ctx.process_activation_callback = MEM_ALLOC(ProcessActivationCallback, info.n_processInstances,
                                              "env->ctx->process_activation_callback");
  ctx.var_change_callback =
      MEM_ALLOC(VarChangeCallback, info.n_globalVariables, "env->ctx->var_change_callback");
  ctx.var_read_callback =
      MEM_ALLOC(VarReadCallback, info.n_globalVariables, "env->ctx->var_read_callback");
  for (uint32_t i = 0; i < info.n_processInstances; ++i) {
    ctx.fsm_changed_callback[i] = defaultCallback_fsmChanged;
    ctx.process_activation_callback[i] = defaultCallback_processActivation;
  }
  for (uint32_t i = 0; i < info.n_globalVariables; ++i) {
    ctx.var_change_callback[i] = defaultCallback_varChange;
    ctx.var_read_callback[i] = defaultCallback_varRead;
  }
  compiled_reset(env);
  ctx.quietCache = -1;
}

namespace {

// Nothing is initialised from a program that the validator refuses.
int validateAndInit(InterpEnv* env, int readResult) {
  if (readResult != 0) return readResult;
  char why[256];
  if (!validate_program(env->program.get(), why, sizeof why)) {
    interp_failure(env, "invalid Kova AST file !\n%s\n", why);
    return kLoadInvalidProgram;
  }
  context_init(env);
  context_init_program(env);
  return 0;
}

}  // namespace

int interp_load(InterpEnv* env, const char* path) {
  return validateAndInit(env,
                         readBinary_AST(env, env->program.get(), env->program->dbg.get(), path));
}

int interp_load_stream(InterpEnv* env, FILE* stream) {
  return validateAndInit(
      env, readBinary_ASTStream(env, env->program.get(), env->program->dbg.get(), stream));
}

int interp_load_from_program(InterpEnv* env, std::unique_ptr<Program> program) {
  KOVA_ASSERT(env != nullptr && program != nullptr, "env != NULL && program != NULL");
  context_init(env);
  env->program = std::move(program);
  context_init_program(env);
  return 0;
}

void interp_stop(std::unique_ptr<InterpEnv> env) {
  files_close();
  KOVA_ASSERT(env != nullptr && env->program != nullptr, "env->program != NULL");
  env.reset();
}

void interp_set_realtime(InterpEnv* env, bool on) {
  if (env->ctx->initialized) {
    interp_failure(env, "Can not change realtime mode after interpreter initialization\n");
    return;
  }
  env->ctx->realtime = on;
}

bool interp_get_realtime(const InterpEnv* env) {
  return env->ctx->realtime;
}

void interp_set_start_pid(InterpEnv* env, uint32_t pid) {
  env->ctx->startPid = pid;
}

// ---------------------------------------------------------------- look-ups

uint32_t interp_getTypeID(const InterpEnv* env, const char* name) {
  const Program* program = env->program.get();
  for (uint32_t i = 0; i < program->infoProg->n_type; ++i) {
    if (std::strcmp(Type_getName(program, i), name) == 0) return i;
  }
  return NO_ID;
}

uint32_t interp_getStructFieldTypeID(const InterpEnv* env, const char* typeName,
                                     const char* fieldName) {
  const Program* program = env->program.get();
  uint32_t found = NO_ID;
  forEachField(program, interp_getTypeID(env, typeName), [&](const AST_Node* field) {
    if (!fieldIsNamed(program, field, fieldName)) return false;
    found = AST_getStructFieldTypeId(program, field);
    return true;
  });
  return found;
}

uint32_t interp_getStructFieldOffset(const InterpEnv* env, const char* typeName,
                                     const char* fieldName) {
  const Program* program = env->program.get();
  uint32_t offset = 0;
  forEachField(program, interp_getTypeID(env, typeName), [&](const AST_Node* field) {
    if (fieldIsNamed(program, field, fieldName)) return true;
    offset += Type_getStorageSize(program, AST_getStructFieldTypeId(program, field));
    return false;
  });
  return offset;
}

uint32_t interp_knownFieldOffset(InterpEnv* env, KnownField field) {
  uint32_t& cached = env->ctx->knownFieldOffset[field];
  if (cached == NO_ID) {
    cached = interp_getStructFieldOffset(env, kKnownFieldType[field], kKnownFieldName[field]);
  }
  return cached;
}

uint32_t interp_knownFieldType(InterpEnv* env, KnownField field) {
  uint32_t& cached = env->ctx->knownFieldType[field];
  if (cached == NO_ID) {
    cached = interp_getStructFieldTypeID(env, kKnownFieldType[field], kKnownFieldName[field]);
  }
  return cached;
}

TaggedValue interp_knownField(InterpEnv* env, TaggedValue structure, KnownField field) {
  return field_get(env, structure, interp_knownFieldType(env, field),
                   interp_knownFieldOffset(env, field));
}

namespace {
template <class SymbolOf>
uint32_t findByName(const Program* program, uint32_t count, SymbolOf symbolOf, const char* name) {
  for (uint32_t i = 0; i < count; ++i) {
    if (std::strcmp(Symbol_getName(program, symbolOf(i)), name) == 0) return i;
  }
  return NO_ID;
}
}  // namespace

uint32_t interp_getVariableID(const InterpEnv* env, const char* name) {
  const Program* p = env->program.get();
  return findByName(
      p, p->infoProg->n_globalVariables,
      [p](uint32_t i) { return p->dbg->globalVariableSymbolId[i]; }, name);
}

uint32_t interp_getConstantID(const InterpEnv* env, const char* name) {
  const Program* p = env->program.get();
  return findByName(
      p, p->infoProg->n_globalConstants,
      [p](uint32_t i) { return p->dbg->globalConstantSymbolId[i]; }, name);
}

uint32_t interp_getTaskID(const InterpEnv* env, const char* name) {
  const Program* p = env->program.get();
  return findByName(
      p, p->infoProg->n_processInstances,
      [p](uint32_t i) { return p->dbg->processInstanceSymbolId[i]; }, name);
}

uint32_t interp_getFunctionID(InterpEnv* env, const char* name, uint32_t argCount,
                              const uint32_t* argSpec) {
  const Program* program = env->program.get();
  uint32_t funcId = NO_ID;
  for (uint32_t i = 0; i < program->infoProg->n_functions; ++i) {
    if (std::strcmp(Function_getName(program, i), name) == 0) funcId = i;  // the last wins
  }
  if (funcId == NO_ID) return NO_ID;
  const AST_Node* params = AST_fromId(program, program->functionTable[funcId].params);
  if (AST_listSize(program, params) != argCount) {
    interp_debug(env, "Function (%s) requires %d parameters\n", name,
                 static_cast<int>(AST_listSize(program, params)));
    return NO_ID;
  }
  uint32_t i = 0;
  for (const AST_Node* cell = params; cell != nullptr; cell = AST_right(program, cell), ++i) {
    const AST_Node* param = AST_left(program, cell);
    const uint32_t direction = argSpec[2 * i + 1];
    const bool out = param->op == OUT_PARAM_OP || param->op == OUT_CHANNEL_PARAM_OP;
    const bool in = param->op == IN_PARAM_OP || param->op == IN_CHANNEL_PARAM_OP;
    if (!((out && direction == 1) || (in && direction == 0))) {
      interp_debug(env, "Wrong direction for parameter %d of Function (%s)\n",
                   static_cast<int>(i + 1), name);
      return NO_ID;
    }
    const uint32_t expected = AST_getVarDeclTypeId(program, param);
    if (expected != argSpec[2 * i]) {
      interp_debug(env, "Type mismatch for parameter %d of Function (%s)\nExpected %s found %s \n ",
                   static_cast<int>(i + 1), name, Type_getName(program, expected),
                   Type_getName(program, argSpec[2 * i]));
      return NO_ID;
    }
  }
  return funcId;
}

uint32_t interp_getMethodID(InterpEnv* env, uint32_t typeId, const char* method, uint32_t argCount,
                            const uint32_t* argSpec) {
  char name[1024];
  std::snprintf(name, sizeof name, "%s_%s", Type_getName(env->program.get(), typeId), method);
  return interp_getFunctionID(env, name, argCount, argSpec);
}

uint32_t interp_getEnum(InterpEnv* env, uint32_t enumTypeId, const char* literal) {
  ENV_CHECK(env, env != nullptr, "env != NULL");
  ENV_CHECK(env, enumTypeId != NO_ID, "enumTypeID != NO_ID");
  ENV_CHECK(env, literal != nullptr, "enumName != NULL");
  const Program* program = env->program.get();
  if (enumTypeId >= program->infoProg->n_type || literal == nullptr) return NO_ID;
  for (const AST_Node* cell = AST_fromId(program, program->typeTable[enumTypeId].fields);
       cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
    const uint32_t value = AST_getEnumValue(program, AST_left(program, cell));
    if (std::strcmp(Symbol_getName(program, value), literal) == 0) return value;
  }
  return NO_ID;
}

TaggedValue system_getValue(InterpEnv* env) {
  const uint32_t id = interp_getVariableID(env, "system");
  return id == NO_ID ? kEmptyValue : env->program->globalVariableTable[id];
}

// ---------------------------------------------------------------- values and calls

int interp_setValue(InterpEnv* env, uint32_t globalId, uint32_t mode, TaggedValue value) {
  if (globalId >= env->program->infoProg->n_globalVariables) return 1;
  const TaggedValue variable = env->program->globalVariableTable[globalId];
  if (mode == 0) {
    value_set(env, variable, value.value, value.typeId);
  } else {
    channel_push(env, nullptr, variable, value.value);
  }
  return 0;
}

uint32_t interp_get_value_string(InterpEnv* env, TaggedValue source, char* buffer) {
  ENV_CHECK(env, buffer != nullptr, "buffer != ((void *)0)");
  const Program* program = env->program.get();
  ENV_CHECK(env, source.typeId < program->infoProg->n_type,
            "source.typeId < env->program->infoProg->n_type");
  if (buffer == nullptr || source.typeId >= program->infoProg->n_type) return 0;
  const uint32_t size = program->typeTable[source.typeId].size;
  for (uint32_t i = 0; i < size; ++i) {
    buffer[i] = static_cast<char>(source.value[i].u8);
    if (buffer[i] == '\0') break;
  }
  return size;
}

int interp_callFunction(InterpEnv* env, uint32_t funcId, const TaggedValue* values) {
  ENV_CHECK(env, env != nullptr, "env != NULL");
  ENV_CHECK(env, funcId != NO_ID, "funcID != NO_ID");
  function_executeCallwValues(env, funcId, values);
  return 0;
}
