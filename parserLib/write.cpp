#include "parserLib/write.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

template <class T>
bool writeTable(const T* table, size_t count, FILE* f) {
  if (count > 0 && fwriteAndCheck(table, sizeof(T), count, f) == 0) return false;
  return write_align(f) == 1;
}

}  // namespace

FILE* write_flushOutput(const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) std::printf("can not create output code file! %s\n", std::strerror(errno));
  return f;
}

int fwriteAndCheck(const void* buffer, size_t size, size_t count, FILE* stream) {
  if (std::fwrite(buffer, size, count, stream) != count) {
    std::fputs("error while writing progam's binary file\n", stdout);
    return 0;
  }
  return 1;
}

int write_align(FILE* stream) {
  static constexpr char zeros[8] = {};
  const long here = std::ftell(stream);
  if (here < 0) return 0;
  const size_t pad = static_cast<size_t>((8 - here % 8) % 8);
  return pad == 0 ? 1 : fwriteAndCheck(zeros, 1, pad, stream);
}

int write_storeProgramBinary(Program* program, const char* path) {
  ProgramHeader& header = *program->header;
  std::memset(header.magic, 0, sizeof header.magic);
  std::memcpy(header.magic, kProgramMagic, sizeof kProgramMagic);
  header.version = kProgramVersion;
  header.headerSize = kProgramHeaderSize;

  FILE* f = write_flushOutput(path);
  if (f == nullptr) return errno != 0 ? errno : 1;

  const InfoProg& info = *program->infoProg;
  const Dbg& dbg = *program->dbg;
  std::vector<uint32_t> words;
  const auto typeIds = [&](const TaggedValue* table, uint32_t count) {
    words.assign(count, 0);
    for (uint32_t i = 0; i < count; ++i) words[i] = table[i].typeId;
    return writeTable(words.data(), words.size(), f);
  };

  bool ok =
      fwriteAndCheck(&header, sizeof header, 1, f) == 1 && write_align(f) == 1 &&
      writeTable(&info, 1, f) && writeTable(program->RAMprogram.get(), info.n_AST, f) &&
      writeTable(program->typeTable.get(), info.n_type, f) &&
      writeTable(program->constantDataTable.get(), info.size_constantData, f) &&
      writeTable(program->stringTableIndex.get(), info.n_strings, f) &&
      writeTable(program->stringTable.get(), info.stringTableSize, f) &&
      writeTable(program->functionTable.get(), info.n_functions, f) &&
      writeTable(program->processDefinitionTable.get(), info.n_processDefinitions, f) &&
      writeTable(program->processGlobalInstanceTable.get(), info.n_globalProcessInstances, f) &&
      writeTable(program->processInstanceTable.get(), info.n_processInstances, f);
  if (ok) {
    words.assign(uint64_t{info.n_globalConstants} * 2, 0);
    for (uint32_t i = 0; i < info.n_globalConstants; ++i) {
      const TaggedValue& c = program->globalConstantTable[i];
      words[2 * i] = c.value != nullptr
                         ? static_cast<uint32_t>(c.value - program->constantDataTable.get())
                         : 0;
      words[2 * i + 1] = c.typeId;
    }
    ok = writeTable(words.data(), words.size(), f);
  }
  ok = ok && typeIds(program->globalVariableTable.get(), info.n_globalVariables) &&
       writeTable(program->globalVariableDataInitTable.get(), info.size_globalVariableData, f) &&
       typeIds(program->processStaticVariableTable.get(), info.n_processStaticVariables) &&
       writeTable(program->processStaticVariableDataInitTable.get(),
                  info.size_processStaticVariableData, f) &&
       writeTable(dbg.processDefinitionSymbolId.get(), info.n_processDefinitions, f) &&
       writeTable(dbg.processInstanceSymbolId.get(), info.n_processInstances, f) &&
       writeTable(dbg.globalProcessInstanceSymbolId.get(), info.n_globalProcessInstances, f) &&
       writeTable(dbg.symbolTableIndex.get(), info.n_symbols, f) &&
       writeTable(dbg.symbolTable.get(), info.symbolStorageSize, f) &&
       writeTable(dbg.globalVariableSymbolId.get(), info.n_globalVariables, f) &&
       writeTable(dbg.globalConstantSymbolId.get(), info.n_globalConstants, f) &&
       writeTable(dbg.typeSymbolId.get(), info.n_type, f) &&
       writeTable(dbg.functionSymbolId.get(), info.n_functions, f) &&
       writeTable(dbg.processStaticVariableSymbolId.get(), info.n_processStaticVariables, f) &&
       (dbg.nodeLine != nullptr
            ? writeTable(dbg.nodeLine.get(), info.n_AST, f)
            : (words.assign(info.n_AST, 0), writeTable(words.data(), words.size(), f)));
  if (std::fclose(f) != 0) return errno != 0 ? errno : 1;
  return ok ? 0 : EIO;
}
