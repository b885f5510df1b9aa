#include "interpreterLib/read.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "interpreterLib/interp_error.h"

namespace {

constexpr const char* kInvalidFile = "invalid Kova AST file !\n";
constexpr uint64_t kInfoEnd = sizeof(ProgramHeader) + sizeof(InfoProg);  // 224

struct FileCloser {
  void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

uint64_t align8(uint64_t offset) {
  return (offset + 7) & ~uint64_t{7};
}

// The byte count of each section, in file order.
std::array<uint64_t, 25> sectionSizes(const InfoProg& info) {
  return {
      uint64_t{info.n_AST} * sizeof(AST_Node),
      uint64_t{info.n_type} * sizeof(TypeRecord),
      uint64_t{info.size_constantData} * sizeof(ValueCell),
      uint64_t{info.n_strings} * 4,
      uint64_t{info.stringTableSize},
      uint64_t{info.n_functions} * sizeof(FunctionRecord),
      uint64_t{info.n_processDefinitions} * sizeof(ProcessDefinitionRecord),
      uint64_t{info.n_globalProcessInstances} * sizeof(GlobalProcessInstanceRecord),
      uint64_t{info.n_processInstances} * sizeof(ProcessInstanceRecord),
      uint64_t{info.n_globalConstants} * 8,
      uint64_t{info.n_globalVariables} * 4,
      uint64_t{info.size_globalVariableData} * sizeof(ValueCell),
      uint64_t{info.n_processStaticVariables} * 4,
      uint64_t{info.size_processStaticVariableData} * sizeof(ValueCell),
      uint64_t{info.n_processDefinitions} * 4,
      uint64_t{info.n_processInstances} * 4,
      uint64_t{info.n_globalProcessInstances} * 4,
      uint64_t{info.n_symbols} * 4,
      uint64_t{info.symbolStorageSize},
      uint64_t{info.n_globalVariables} * 4,
      uint64_t{info.n_globalConstants} * 4,
      uint64_t{info.n_type} * 4,
      uint64_t{info.n_functions} * 4,
      uint64_t{info.n_processStaticVariables} * 4,
      uint64_t{info.n_AST} * 4,
  };
}

// The step at which a file of `fileSize` bytes runs out of data, or 0 when it
// holds every section its counts demand.
int firstShortSection(const InfoProg& info, uint64_t fileSize) {
  uint64_t offset = kInfoEnd;
  const auto sizes = sectionSizes(info);
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (sizes[i] > fileSize || offset > fileSize - sizes[i]) return static_cast<int>(5 + i);
    offset = align8(offset + sizes[i]);
  }
  return 0;
}

uint64_t fileSizeOf(FILE* f) {
  const long here = std::ftell(f);
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

template <class T>
bool readTable(InterpEnv* env, FILE* f, T* table, size_t count) {
  if (count == 0) return true;
  const bool ok = freadAndCheck(env, table, sizeof(T), count, f) == 1;
  read_align(f);
  return ok;
}

template <class T>
void allocTable(MemArray<T>& table, size_t count, const char* label) {
  table = memory_allocArray<T>(count, __FILE__, "readBinary_AST", __LINE__, label);
}

struct IndexAndType {
  uint32_t cell;
  uint32_t typeId;
};

}  // namespace

int freadAndCheck(InterpEnv* env, void* buffer, size_t size, size_t count, FILE* stream) {
  if (std::fread(buffer, size, count, stream) != count) {
    interp_failure(env, "%s", kInvalidFile);
    return 0;
  }
  return 1;
}

void read_align(FILE* stream) {
  const long here = std::ftell(stream);
  if (here >= 0 && here % 8 != 0) std::fseek(stream, 8 - here % 8, SEEK_CUR);
}

int readBinary_AST(InterpEnv* env, Program* program, Dbg* dbg, const char* path) {
  // 1. open
  FilePtr file(std::fopen(path, "rb"));
  if (!file) {
    memory_checkErrno(errno, __FILE__, __func__, __LINE__, "FILE");
    interp_failure(env, "could not read input code file !\n");
    return 1;
  }
  return readBinary_ASTStream(env, program, dbg, file.get());
}

int readBinary_ASTStream(InterpEnv* env, Program* program, Dbg* dbg, FILE* f) {
  const uint64_t fileSize = fileSizeOf(f);

  // 2. header
  if (!freadAndCheck(env, program->header.get(), sizeof(ProgramHeader), 1, f)) return 2;
  read_align(f);

  // 3. magic, version, header size
  const ProgramHeader& header = *program->header;
  if (strnlen(header.magic, sizeof header.magic) == sizeof header.magic ||
      std::strcmp(header.magic, kProgramMagic) != 0) {
    interp_failure(env, "%s", kInvalidFile);
    return 3;
  }
  if (header.version != kProgramVersion || header.headerSize != kProgramHeaderSize) {
    interp_failure(env, "using old Kova AST file, parse required\n");
    return 3;
  }

  // 4. information record
  InfoProg& info = *program->infoProg;
  if (!freadAndCheck(env, &info, sizeof(InfoProg), 1, f)) return 4;
  read_align(f);
  if (const int step = firstShortSection(info, fileSize); step != 0) {
    interp_failure(env, "%s", kInvalidFile);
    return step;
  }

  // 5. node space with the console's spare slots
  const uint32_t fileNodes = info.n_AST;
  AST_createTree(program, fileNodes + kSpareNodes);
  dbg->nodeLine.reset();
  AST_createLineIndex(program, fileNodes + kSpareNodes);

  // 6. tables
  allocTable(program->constantDataTable, info.size_constantData, "constantDataTable");
  allocTable(program->typeTable, info.n_type, "typeTable");
  allocTable(program->stringTableIndex, info.n_strings, "stringTableIndex");
  allocTable(program->stringTable, info.stringTableSize, "stringTable");
  allocTable(program->functionTable, info.n_functions, "functionTable");
  allocTable(program->globalVariableTable, info.n_globalVariables, "globalVariableTable");
  allocTable(program->globalConstantTable, info.n_globalConstants, "globalConstantTable");
  allocTable(program->globalVariableDataInitTable, info.size_globalVariableData,
             "globalVariableDataInitTable");
  allocTable(program->processStaticVariableTable, info.n_processStaticVariables,
             "processStaticVariableTable");
  allocTable(program->processStaticVariableDataInitTable, info.size_processStaticVariableData,
             "processStaticVariableDataInitTable");
  allocTable(program->processDefinitionTable, info.n_processDefinitions, "processDefinitionTable");
  allocTable(program->processInstanceTable, info.n_processInstances, "processInstanceTable");
  allocTable(program->processGlobalInstanceTable, info.n_globalProcessInstances,
             "processGlobalInstanceTable");
  allocTable(dbg->symbolTableIndex, info.n_symbols, "dbg->symbolTableIndex");
  allocTable(dbg->symbolTable, info.symbolStorageSize, "dbg->symbolTable");
  allocTable(dbg->processDefinitionSymbolId, info.n_processDefinitions,
             "dbg->processDefinitionSymbolId");
  allocTable(dbg->processInstanceSymbolId, info.n_processInstances, "dbg->processInstanceSymbolId");
  allocTable(dbg->globalProcessInstanceSymbolId, info.n_globalProcessInstances,
             "dbg->globalProcessInstanceSymbolId");
  allocTable(dbg->globalVariableSymbolId, info.n_globalVariables, "dbg->globalVariableSymbolId");
  allocTable(dbg->globalConstantSymbolId, info.n_globalConstants, "dbg->globalConstantSymbolId");
  allocTable(dbg->typeSymbolId, info.n_type, "dbg->typeSymbolId");
  allocTable(dbg->functionSymbolId, info.n_functions, "dbg->functionSymbolId");
  allocTable(dbg->processStaticVariableSymbolId, info.n_processStaticVariables,
             "dbg->processStaticVariableSymbolId");

  // 7. nodes, appended one by one
  info.n_AST = 0;
  for (uint32_t i = 0; i < fileNodes; ++i) {
    AST_Node node;
    if (!freadAndCheck(env, &node, sizeof node, 1, f)) return 5;
    AST_AddNode(program, node);
  }
  program->root = AST_fromId(program, fileNodes > 0 ? 0 : NO_ID);
  read_align(f);

  // 8. sections 2 to 9
  if (!readTable(env, f, program->typeTable.get(), info.n_type)) return 6;
  if (!readTable(env, f, program->constantDataTable.get(), info.size_constantData)) return 7;
  if (!readTable(env, f, program->stringTableIndex.get(), info.n_strings)) return 8;
  if (!readTable(env, f, program->stringTable.get(), info.stringTableSize)) return 9;
  if (!readTable(env, f, program->functionTable.get(), info.n_functions)) return 10;
  if (!readTable(env, f, program->processDefinitionTable.get(), info.n_processDefinitions)) {
    return 11;
  }
  if (!readTable(env, f, program->processGlobalInstanceTable.get(),
                 info.n_globalProcessInstances)) {
    return 12;
  }
  if (!readTable(env, f, program->processInstanceTable.get(), info.n_processInstances)) return 13;

  // 9. global constants point into the constant data
  for (uint32_t i = 0; i < info.n_globalConstants; ++i) {
    IndexAndType record;
    if (!freadAndCheck(env, &record, sizeof record, 1, f)) return 14;
    if (record.cell >= info.size_constantData && info.size_constantData != 0) {
      interp_failure(env, "%s", kInvalidFile);
      return 14;
    }
    ValueCell* cell =
        info.size_constantData != 0 ? &program->constantDataTable[record.cell] : nullptr;
    program->globalConstantTable[i] = {cell, record.typeId, NO_ID};
  }
  read_align(f);

  // 10-12. variables point into their initial data, laid out by storage size
  const auto placeVariables = [&](TaggedValue* table, uint32_t count, ValueCell* data,
                                  uint32_t cells, bool global) -> bool {
    uint64_t cursor = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t typeId;
      if (!freadAndCheck(env, &typeId, sizeof typeId, 1, f)) return false;
      if (typeId >= info.n_type) {
        interp_failure(env, "%s", kInvalidFile);
        return false;
      }
      const uint32_t storage = program->typeTable[typeId].storageSize;
      if (cursor + storage > cells) {  // the variable would lie past its data
        interp_failure(env, "%s", kInvalidFile);
        return false;
      }
      table[i] = {data != nullptr ? data + cursor : nullptr, typeId, global ? i : NO_ID};
      cursor += storage;
    }
    read_align(f);
    return true;
  };
  if (!placeVariables(program->globalVariableTable.get(), info.n_globalVariables,
                      program->globalVariableDataInitTable.get(), info.size_globalVariableData,
                      true)) {
    return 15;
  }
  if (!readTable(env, f, program->globalVariableDataInitTable.get(),
                 info.size_globalVariableData)) {
    return 16;
  }
  if (!placeVariables(program->processStaticVariableTable.get(), info.n_processStaticVariables,
                      program->processStaticVariableDataInitTable.get(),
                      info.size_processStaticVariableData, false)) {
    return 17;
  }

  // 13. the rest
  if (!readTable(env, f, program->processStaticVariableDataInitTable.get(),
                 info.size_processStaticVariableData)) {
    return 18;
  }
  if (!readTable(env, f, dbg->processDefinitionSymbolId.get(), info.n_processDefinitions)) {
    return 19;
  }
  if (!readTable(env, f, dbg->processInstanceSymbolId.get(), info.n_processInstances)) return 20;
  if (!readTable(env, f, dbg->globalProcessInstanceSymbolId.get(), info.n_globalProcessInstances)) {
    return 21;
  }
  if (!readTable(env, f, dbg->symbolTableIndex.get(), info.n_symbols)) return 22;
  if (!readTable(env, f, dbg->symbolTable.get(), info.symbolStorageSize)) return 23;
  if (!readTable(env, f, dbg->globalVariableSymbolId.get(), info.n_globalVariables)) return 24;
  if (!readTable(env, f, dbg->globalConstantSymbolId.get(), info.n_globalConstants)) return 25;
  if (!readTable(env, f, dbg->typeSymbolId.get(), info.n_type)) return 26;
  if (!readTable(env, f, dbg->functionSymbolId.get(), info.n_functions)) return 27;
  if (!readTable(env, f, dbg->processStaticVariableSymbolId.get(), info.n_processStaticVariables)) {
    return 28;
  }
  if (!readTable(env, f, dbg->nodeLine.get(), fileNodes)) return 29;
  return 0;
}
