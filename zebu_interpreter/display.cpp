#include "zebu_interpreter/display.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/print_format.h"

void display_program(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

void display_simu(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

void display_debug(const char*, ...) {}

// Trace lines are mostly fixed text, names and numbers: written without a
// format string to parse, and without the stream lock (one thread).
void display_text(const char* text) {
  fputs_unlocked(text, stdout);
}

namespace {

// The decimal digits of v, ending at `end`; returns where they start.
char* digits(uint64_t v, char* end) {
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  return end;
}

}  // namespace

void display_u64(uint64_t value) {
  char text[24];
  char* const end = text + sizeof text;
  char* first = digits(value, end);
  fwrite_unlocked(first, 1, static_cast<size_t>(end - first), stdout);
}

void display_s64(int64_t value) {
  if (value >= 0) {
    display_u64(static_cast<uint64_t>(value));
    return;
  }
  putc_unlocked('-', stdout);
  display_u64(0 - static_cast<uint64_t>(value));
}

void display_char(uint8_t c) {
  putc_unlocked(c, stdout);
}

void display_string(InterpEnv*, const char* text) {
  display_program("%s", text);
}

void display_string_printer(void*, const char* text) {
  display_program("%s", text);
}

uint64_t time_ps_to_s(uint64_t ps) {
  return ps / 1000000000000ull;
}

uint64_t time_cut_sub_second(uint64_t ps) {
  return ps % 1000000000000ull;
}

// "%lld.%012lld" of the seconds and the picoseconds within the second.
void display_stamp(uint64_t ps) {
  char text[40];
  char* const end = text + sizeof text;
  char* first = digits(time_cut_sub_second(ps), end);
  while (end - first < 12) *--first = '0';
  *--first = '.';
  first = digits(time_ps_to_s(ps), first);
  fwrite_unlocked(first, 1, static_cast<size_t>(end - first), stdout);
}

void display_time(uint64_t value) {
  print_time_helper(nullptr, display_string_printer, value);
}

namespace {

void displayNamed(InterpEnv* env, TaggedValue value);

// `named`: the console's form, fields by name and ", " between elements.
void displayElements(InterpEnv* env, TaggedValue value, const TypeRecord& type, bool named) {
  const uint32_t cell = Type_getStorageSize(env->program.get(), type.baseType);
  const auto element = [&](uint32_t offset) {
    return TaggedValue{value.value + offset, type.baseType, value.globalId};
  };
  bool first = true;
  const auto show = [&](uint32_t offset) {
    if (!first) display_program(named ? ", " : ",");
    first = false;
    if (named) {
      displayNamed(env, element(offset));
    } else {
      display_value(env, element(offset));
    }
  };
  switch (type.bufferType) {
    case ARRAY_BUFFER: {
      // The first element is always written.
      uint32_t offset = 0;
      do {
        show(offset);
        offset += cell;
      } while (cell != 0 && offset < type.storageSize);
      break;
    }
    case STACK_BUFFER: {
      if (is_channel_empty(env, value)) break;
      const uint32_t count = channel_count(env, value);
      for (uint32_t i = 0; i < count; ++i) show(2 + i * cell);  // bottom first
      break;
    }
    case QUEUE_BUFFER: {
      if (is_channel_empty(env, value) || cell == 0) break;
      uint32_t offset = value.value[1].index;  // the oldest element
      const uint32_t in = value.value[0].index;
      do {
        show(offset);
        offset += cell;
        if (offset >= type.storageSize) offset = 2;
      } while (offset != in);
      break;
    }
    default: break;
  }
}

void displayStructure(InterpEnv* env, TaggedValue value, const TypeRecord& type, bool named) {
  const Program* program = env->program.get();
  display_program("{");
  uint32_t offset = 0;
  bool first = true;
  for (const AST_Node* cell = AST_fromId(program, type.fields); cell != nullptr && cell->op == LIST;
       cell = AST_right(program, cell)) {
    const AST_Node* field = AST_left(program, cell);
    const uint32_t fieldType = field->value.id.type;
    const TaggedValue fieldValue{value.value + offset, fieldType, value.globalId};
    if (named) {
      if (!first) display_program(", ");
      const AST_Node* symbol = AST_left(program, field);
      display_program("%s = ",
                      symbol != nullptr ? Symbol_getName(program, symbol->value.id.index) : "?");
      displayNamed(env, fieldValue);
    } else {
      if (!first) display_program(",");
      display_value(env, fieldValue);
    }
    first = false;
    offset += Type_getStorageSize(program, fieldType);
  }
  display_program("}");
}

void displayNamed(InterpEnv* env, TaggedValue value) {
  const Program* program = env->program.get();
  if (value.value == nullptr || value.typeId >= program->infoProg->n_type) return;
  const TypeRecord& type = program->typeTable[value.typeId];
  if (type.bufferType != NONE_BUFFER) {
    display_program("{");
    displayElements(env, value, type, true);
    display_program("}");
  } else if (type.baseType == TypeStructure) {
    displayStructure(env, value, type, true);
  } else if (value.typeId == TypeTime) {
    display_time(value.value->u64);
  } else {
    display_value(env, value);
  }
}

}  // namespace

void display_valueNamed(InterpEnv* env, TaggedValue value) {
  displayNamed(env, value);
}

void display_value(InterpEnv* env, TaggedValue value) {
  const Program* program = env->program.get();
  if (value.value == nullptr || value.typeId >= program->infoProg->n_type) return;
  const TypeRecord& type = program->typeTable[value.typeId];
  if (type.bufferType != NONE_BUFFER) {
    display_program("{");
    displayElements(env, value, type, false);
    display_program("}");
    return;
  }
  const ValueCell& c = *value.value;
  switch (type.baseType) {
    case TypeInt:
    case TypeUInt64: display_u64(c.u64); break;
    case TypeSInt:
    case TypeSInt64: display_s64(c.s64); break;
    case TypeUInt8: display_u64(c.u8); break;
    case TypeUInt16: display_u64(c.u16); break;
    case TypeUInt32: display_u64(c.u32); break;
    case TypeSInt8: display_s64(c.s8); break;
    case TypeSInt16: display_s64(c.s16); break;
    case TypeSInt32: display_s64(c.s32); break;
    case TypeTime64:
    case TypeDuration64: display_time(c.u64); break;
    case TypeBoolean: display_program("%s", c.boolean == 1 ? "true" : "false"); break;
    case TypeF32: display_program("%f", static_cast<double>(c.f32)); break;
    case TypeF64: display_program("%f", c.f64); break;
    case TypeStructure: displayStructure(env, value, type, false); break;
    case TypeEnum:
      if (const char* name = Symbol_enumLiteralName(program, c.u32)) {
        display_program("%s.%s", Type_getName(program, value.typeId), name);
      } else {
        display_program("NULL");
      }
      break;
    default: break;  // the literal and non-value types print nothing
  }
}

namespace {

void stateHead(InterpEnv* env, uint64_t t, uint32_t instanceId) {
  const Program* program = env->program.get();
  const uint32_t def = program->processInstanceTable[instanceId].definitionId;
  display_simu("[");
  display_stamp(t);
  display_simu(":STATE] process \"%s\", ",
               Symbol_getName(program, program->dbg->processDefinitionSymbolId[def]));
  display_simu("instance \"%s\", ",
               Symbol_getName(program, program->dbg->processInstanceSymbolId[instanceId]));
}

void displayStateAt(InterpEnv* env, TaggedValue instance, uint64_t t) {
  const Program* program = env->program.get();
  const uint32_t id =
      interp_knownField(env, instance, kField_Process_Instance_instance_id).value->u32;
  if (id >= program->infoProg->n_processInstances) return;
  stateHead(env, t, id);
  const uint32_t stateId =
      interp_knownField(env, instance, kField_Process_Instance_process_state).value->u32;
  display_simu("state \"%s\"\n", Symbol_getName(program, stateId));

  const ProcessInstanceRecord& row = program->processInstanceTable[id];
  const ProcessDefinitionRecord& def = program->processDefinitionTable[row.definitionId];
  const uint32_t instanceType = interp_getTypeID(env, "Process_Instance");
  const AST_Node* statics = AST_fromId(program, def.staticVars);
  // The block holds the sub-process instances first, then the own statics
  // in declaration order.
  for (uint32_t k = 0; k < def.n_staticEntries && row.staticBase != NO_ID; ++k) {
    const TaggedValue v = program->processStaticVariableTable[row.staticBase + k];
    if (v.typeId == instanceType) {
      displayStateAt(env, v, t);
      continue;
    }
    const AST_Node* decl = k >= def.n_subProcesses
                               ? AST_getListNth(program, statics, k - def.n_subProcesses)
                               : nullptr;
    stateHead(env, t, id);
    display_simu(
        "local \"%s\" = ",
        decl != nullptr ? Symbol_getName(program, AST_getVarDeclSymId(program, decl)) : "");
    display_value(env, v);
    display_simu("\n");
  }
}

}  // namespace

void display_state(InterpEnv* env, TaggedValue instance) {
  displayStateAt(env, instance, env->ctx->get_absolute_time_callback(env));
}
