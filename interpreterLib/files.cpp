#include "interpreterLib/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"

namespace {

// fgets reads at most this many bytes less one per synchronisation.
constexpr int kLineBufferSize = 1024;

struct FileRecord {
  std::FILE* file;      // null while the record is free
  uint32_t variableId;  // NO_ID while the record is free
  bool raw;
  bool write;
};

// The bindings outlive any single call into the interpreter, and there is one
// interpreter per process.
MemArray<FileRecord> output_files_varID;
uint32_t file_count = 0;
uint32_t max_files = 0;
uint32_t max_filename = 0;

// Binding details are for the developer's debug builds only.
void files_debug(const char*, ...) __attribute__((format(printf, 1, 2)));
void files_debug(const char*, ...) {}

// The first 32 bits of a global constant's value; 0 when it is missing.
uint32_t constantU32(InterpEnv* env, const char* name) {
  const uint32_t id = interp_getConstantID(env, name);
  if (id == NO_ID) return 0;
  const TaggedValue constant = env->program->globalConstantTable[id];
  return constant.value != nullptr ? constant.value->u32 : 0;
}

const TypeRecord* typeOf(InterpEnv* env, uint32_t typeId) {
  if (typeId >= env->program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, "typeId < env->program->infoProg->n_type");
    return nullptr;
  }
  return &env->program->typeTable[typeId];
}

// The bound global, or the empty value (reported) for an id out of range.
TaggedValue boundVariable(InterpEnv* env, uint32_t variableId) {
  if (variableId >= env->program->infoProg->n_globalVariables) [[unlikely]] {
    ENV_CHECK(env, false, "variableId < env->program->infoProg->n_globalVariables");
    return kEmptyValue;
  }
  return env->program->globalVariableTable[variableId];
}

bool isCollection(InterpEnv* env, TaggedValue val) {
  const bool ok = val.value != nullptr && val.typeId < env->program->infoProg->n_type &&
                  TaggedValue_isOfCollectionType(env->program.get(), val);
  ENV_CHECK(env, ok, "TaggedValue_isOfCollectionType(env, val)");
  return ok;
}

// Visits a structure's fields in order with their cells, within the
// structure's own storage.
template <class Visit>
void forEachField(InterpEnv* env, TaggedValue structure, Visit visit) {
  const Program* program = env->program.get();
  const TypeRecord* type = typeOf(env, structure.typeId);
  if (type == nullptr) return;
  uint32_t offset = 0;
  for (const AST_Node* cell = AST_fromId(program, type->fields);
       cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
    const AST_Node* field = AST_left(program, cell);
    if (field == nullptr || field->op != FIELD_STATEMENT) continue;
    const uint32_t fieldType = AST_getStructFieldTypeId(program, field);
    const TypeRecord* fieldRecord = typeOf(env, fieldType);
    if (fieldRecord == nullptr || fieldRecord->storageSize > type->storageSize - offset) return;
    if (!visit(TaggedValue{structure.value + offset, fieldType, structure.globalId})) return;
    offset += fieldRecord->storageSize;
  }
}

// The value seen as its base type, so that named primitive types convert
// like the primitive itself.
TaggedValue asBase(TaggedValue value, uint32_t base) {
  return TaggedValue{value.value, base, value.globalId};
}

// ---------------------------------------------------------------- reading

// Structure tokens: the first ends at ",", the following ones at "," or a
// newline. One tokenizer serves a whole line, nested structures included.
class LineTokens {
 public:
  explicit LineTokens(char* text) : text_(text) {}
  // The next token, null when none is left.
  char* next() {
    if (text_ == nullptr) return std::strtok(nullptr, ",\n");
    char* first = std::strtok(text_, ",");
    text_ = nullptr;
    return first;
  }

 private:
  char* text_;
};

void storeEnum(InterpEnv* env, const char* text, TaggedValue value) {
  const Program* program = env->program.get();
  const AST_Node* literals = AST_fromId(program, program->typeTable[value.typeId].fields);
  if (literals == nullptr || literals->op != LIST) return;
  uint32_t literal = interp_getEnum(env, value.typeId, text);
  if (literal == NO_ID) literal = AST_getEnumValue(program, AST_left(program, literals));
  value.value->u64 = literal;
}

// A value without fields from its text.
void readScalar(InterpEnv* env, const char* text, TaggedValue value) {
  const TypeRecord* type = typeOf(env, value.typeId);
  if (type == nullptr || type->bufferType != NONE_BUFFER) return;
  ValueCell& cell = *value.value;
  switch (type->baseType) {
    case TypeInt:
    case TypeUInt64:
    case TypeTime64: cell.u64 = std::strtoull(text, nullptr, 0); return;
    case TypeSInt:
    case TypeSInt64: cell.s64 = std::strtoll(text, nullptr, 0); return;
    // Narrow values are kept zero-extended in their cell.
    case TypeUInt8: cell.u64 = static_cast<uint8_t>(std::strtoul(text, nullptr, 0)); return;
    case TypeUInt16: cell.u64 = static_cast<uint16_t>(std::strtoul(text, nullptr, 0)); return;
    case TypeUInt32: cell.u64 = static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); return;
    case TypeSInt8: cell.u64 = static_cast<uint8_t>(std::strtol(text, nullptr, 0)); return;
    case TypeSInt16: cell.u64 = static_cast<uint16_t>(std::strtol(text, nullptr, 0)); return;
    case TypeSInt32: cell.u64 = static_cast<uint32_t>(std::strtol(text, nullptr, 0)); return;
    case TypeBoolean: cell.u64 = std::strcmp(text, "true") == 0 ? 1 : 0; return;
    case TypeEnum: storeEnum(env, text, value); return;
    case TypeF32:
      cell.u64 = 0;
      cell.f32 = std::strtof(text, nullptr);
      return;
    case TypeF64: cell.f64 = std::strtod(text, nullptr); return;
    default: return;
  }
}

bool isStructure(const TypeRecord* type) {
  return type != nullptr && type->bufferType == NONE_BUFFER && type->baseType == TypeStructure;
}

// False once the tokens have run out.
bool readStructure(InterpEnv* env, LineTokens& tokens, TaggedValue structure) {
  bool more = true;
  forEachField(env, structure, [&](TaggedValue field) {
    if (isStructure(typeOf(env, field.typeId))) {
      more = readStructure(env, tokens, field);
      return more;
    }
    const char* token = tokens.next();
    if (token == nullptr || *token == '\0') {
      more = false;
      return false;
    }
    readScalar(env, token, field);
    return true;
  });
  return more;
}

// ---------------------------------------------------------------- one binding

void writeChannel(InterpEnv* env, std::FILE* file, TaggedValue channel, bool raw) {
  // A channel never holds more than its capacity: the bound keeps a channel
  // whose index cells do not move from looping for ever.
  const uint32_t capacity = env->program->typeTable[channel.typeId].size;
  bool wroteBytes = false;
  for (uint32_t n = 0; n <= capacity && !is_channel_empty(env, channel); ++n) {
    const TaggedValue element = channel_pop(env, nullptr, channel);
    if (element.value == nullptr) break;
    if (raw) {
      const TypeRecord* type = typeOf(env, element.typeId);
      if (type == nullptr) break;
      std::fputc(TaggedValue_asUInt8(asBase(element, type->baseType), CONV_EXACT), file);
      wroteBytes = true;
    } else {
      Value_write_to_file(env, element, file, true);
    }
  }
  if (wroteBytes) {
    std::fputs("\n", file);
    std::fflush(file);
  }
}

void readRawLine(InterpEnv* env, std::FILE* file, TaggedValue channel) {
  char line[kLineBufferSize];
  if (std::fgets(line, sizeof line, file) == nullptr) return;
  const TypeRecord& type = env->program->typeTable[channel.typeId];
  ENV_CHECK(env, type.bufferType == QUEUE_BUFFER,
            "env->program->typeTable[val.typeId].bufferType ==QUEUE_BUFFER");
  if (type.bufferType != QUEUE_BUFFER) return;
  const uint32_t width = buffer_getCellStorageSize(env, channel);
  if (width == 0) return;
  // One element's worth of cells, so that a wider element type is never read
  // past the byte's cell.
  std::vector<ValueCell> element(width);
  const size_t count = std::min<size_t>(std::strlen(line), type.size);
  for (size_t i = 0; i < count; ++i) {
    element[0].u64 = 0;
    element[0].u8 = static_cast<uint8_t>(line[i]);
    channel_push(env, nullptr, channel, element.data());
  }
}

void readTextLine(InterpEnv* env, std::FILE* file, TaggedValue channel) {
  const uint32_t width = buffer_getCellStorageSize(env, channel);
  if (width == 0) return;
  std::vector<ValueCell> cells(width);
  const TaggedValue temporary{cells.data(), env->program->typeTable[channel.typeId].baseType,
                              NO_ID};
  value_clear(env, temporary);
  char line[kLineBufferSize];
  if (std::fgets(line, sizeof line, file) != nullptr) line_read_value(env, line, temporary);
  channel_push(env, nullptr, channel, cells.data());
}

}  // namespace

// ---------------------------------------------------------------- table

void files_init(InterpEnv* env) {
  files_close();
  if (interp_getTypeID(env, "Kova_File") == NO_ID) return;
  max_files = constantU32(env, "KOVA_MAX_FILE");
  max_filename = constantU32(env, "KOVA_MAX_FILENAME");
  output_files_varID = MEM_ALLOC(FileRecord, max_files, "output_files_varID");
  for (uint32_t i = 0; i < max_files; ++i) {
    output_files_varID[i] = FileRecord{nullptr, NO_ID, true, true};
  }
}

void files_close() {
  for (uint32_t i = 0; i < file_count; ++i) {
    KOVA_ASSERT(output_files_varID[i].file != nullptr, "output_files_varID[i].file != ((void *)0)");
    std::fclose(output_files_varID[i].file);
  }
  output_files_varID.reset();
  file_count = 0;
  max_files = 0;
  max_filename = 0;
}

void file_variable_setup(InterpEnv* env, TaggedValue file, uint32_t variableId) {
  if (file_count >= max_files) {
    std::printf("not enough files \n");
    return;
  }
  const TaggedValue variable = boundVariable(env, variableId);
  if (variable.value == nullptr) return;
  const TaggedValue name = interp_knownField(env, file, kField_Kova_File_name);
  const TaggedValue access = interp_knownField(env, file, kField_Kova_File_access);
  const TaggedValue format = interp_knownField(env, file, kField_Kova_File_format);
  const TypeRecord* nameType = typeOf(env, name.typeId);
  if (nameType == nullptr || typeOf(env, access.typeId) == nullptr ||
      typeOf(env, format.typeId) == nullptr) {
    return;
  }
  // The copy stops at the name's own size; the path is then cut to the
  // program's limit, terminating NUL included.
  ENV_CHECK(env, nameType->size <= nameType->storageSize, "name.size <= name.storageSize");
  if (nameType->size > nameType->storageSize) return;
  std::vector<char> path(std::max(nameType->size, max_filename) + 1, '\0');
  interp_get_value_string(env, name, path.data());
  path[max_filename > 0 ? max_filename - 1 : 0] = '\0';
  files_debug("  => a file %s\n", path.data());

  const bool write = access.value->u64 == interp_getEnum(env, access.typeId, "WRITE");
  std::FILE* stream = std::fopen(path.data(), write ? "w" : "r");
  if (stream == nullptr) {
    const int error = errno;
    memory_checkErrno(error, __FILE__, __func__, __LINE__, "FILE");
    std::printf("Error with file %s: %s", path.data(), std::strerror(error));
    return;
  }
  const bool raw = format.value->u64 != interp_getEnum(env, format.typeId, "CSV");
  output_files_varID[file_count++] = FileRecord{stream, variableId, raw, write};

  const TypeRecord& type = env->program->typeTable[variable.typeId];
  const bool uint8Queue = type.bufferType == QUEUE_BUFFER &&
                          type.baseType < env->program->infoProg->n_type &&
                          env->program->typeTable[type.baseType].baseType == TypeUInt8;
  if (raw && !uint8Queue) std::printf("only uint8 queue raw buffer type is supported \n");
}

void sync_files(InterpEnv* env) {
  for (uint32_t i = 0; i < file_count; ++i) {
    const FileRecord& record = output_files_varID[i];
    if (record.write) {
      FileOutput_write_to_file(env, record.file, record.variableId, record.raw, record.write);
    }
  }
}

void sync_files_input(InterpEnv* env) {
  for (uint32_t i = 0; i < file_count; ++i) {
    const FileRecord& record = output_files_varID[i];
    if (!record.write) {
      FileOutput_read_from_file(env, record.file, record.variableId, record.raw, record.write);
    }
  }
}

// ---------------------------------------------------------------- transfers

void FileOutput_write_to_file(InterpEnv* env, std::FILE* file, uint32_t variableId, bool raw,
                              bool write) {
  ENV_CHECK(env, write, "write");
  const TaggedValue val = boundVariable(env, variableId);
  if (file == nullptr || !isCollection(env, val)) return;
  writeChannel(env, file, val, raw);
}

void FileOutput_read_from_file(InterpEnv* env, std::FILE* file, uint32_t variableId, bool raw,
                               bool write) {
  ENV_CHECK(env, !write, "!write");
  const TaggedValue val = boundVariable(env, variableId);
  if (file == nullptr || !isCollection(env, val)) return;
  if (is_channel_full(env, val)) return;
  if (raw) {
    readRawLine(env, file, val);
  } else {
    readTextLine(env, file, val);
  }
}

// ---------------------------------------------------------------- text form

void Value_write_to_file(InterpEnv* env, TaggedValue value, std::FILE* file, bool newline) {
  const TypeRecord* type = typeOf(env, value.typeId);
  if (type == nullptr || type->bufferType != NONE_BUFFER) return;
  Value_write_to_file_raw_text(env, value, file);
  if (newline) {
    std::fputs("\n", file);
    std::fflush(file);
  }
}

void Value_write_to_file_raw_text(InterpEnv* env, TaggedValue value, std::FILE* file) {
  const TypeRecord* type = typeOf(env, value.typeId);
  if (type == nullptr || type->bufferType != NONE_BUFFER) return;
  const uint32_t base = type->baseType;
  const TaggedValue v = asBase(value, base);
  switch (base) {
    case TypeInt:
    case TypeUInt64:
    case TypeTime64:
      std::fprintf(file, "%llu",
                   static_cast<unsigned long long>(TaggedValue_asUInt64(v, CONV_EXACT)));
      return;
    case TypeSInt:
    case TypeSInt64:
      std::fprintf(file, "%lld", static_cast<long long>(TaggedValue_asSInt64(v, CONV_EXACT)));
      return;
    case TypeUInt8: std::fprintf(file, "%u", TaggedValue_asUInt8(v, CONV_EXACT)); return;
    case TypeUInt16: std::fprintf(file, "%u", TaggedValue_asUInt16(v, CONV_EXACT)); return;
    case TypeUInt32: std::fprintf(file, "%u", TaggedValue_asUInt32(v, CONV_EXACT)); return;
    case TypeSInt8: std::fprintf(file, "%d", TaggedValue_asSInt8(v, CONV_EXACT)); return;
    case TypeSInt16: std::fprintf(file, "%d", TaggedValue_asSInt16(v, CONV_EXACT)); return;
    case TypeSInt32: std::fprintf(file, "%d", TaggedValue_asSInt32(v, CONV_EXACT)); return;
    case TypeBoolean:
    case TypeEnum: std::fputs(TaggedValue_toString(env->program.get(), value), file); return;
    case TypeF32:
      std::fprintf(file, "%f", static_cast<double>(TaggedValue_asF32(v, CONV_EXACT)));
      return;
    case TypeF64: std::fprintf(file, "%f", TaggedValue_asF64(v, CONV_EXACT)); return;
    case TypeStructure: {
      bool first = true;
      forEachField(env, value, [&](TaggedValue field) {
        if (!first) std::fputs(",", file);
        first = false;
        Value_write_to_file_raw_text(env, field, file);
        return true;
      });
      return;
    }
    default: return;
  }
}

void line_read_value(InterpEnv* env, char* text, TaggedValue variable) {
  if (text == nullptr || variable.value == nullptr) return;
  const size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
  if (isStructure(typeOf(env, variable.typeId))) {
    LineTokens tokens(text);
    readStructure(env, tokens, variable);
  } else {
    readScalar(env, text, variable);
  }
}
