#include "parserLib/parser_data.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "parserLib/diagnostics.h"

std::unique_ptr<ParserEnv> parser_initTables() {
  auto penv = std::make_unique<ParserEnv>();
  penv->own = Program_create();
  penv->program = penv->own.get();
  return penv;
}

void parser_freeEnv(std::unique_ptr<ParserEnv> penv) {
  penv.reset();
}

ParserTableMark parser_markTables(const Program* program) {
  const InfoProg& info = *program->infoProg;
  return {info.n_AST,          info.n_symbols,         info.symbolStorageSize,
          info.n_type,         info.size_constantData, info.n_strings,
          info.stringTableSize};
}

void parser_restoreTables(Program* program, const ParserTableMark& mark) {
  InfoProg& info = *program->infoProg;
  // Only counts move back: the storage stays, so nothing that still points
  // into it is left dangling.
  info.n_AST = mark.n_AST;
  info.n_symbols = mark.n_symbols;
  info.symbolStorageSize = mark.symbolStorageSize;
  info.n_type = mark.n_type;
  info.size_constantData = mark.size_constantData;
  info.n_strings = mark.n_strings;
  info.stringTableSize = mark.stringTableSize;
}

namespace {

// Makes room for `added` elements after the first `count`. After a restore
// the storage may hold more than the count; what lies past it is dropped.
template <class T>
void ensureCapacity(MemArray<T>& table, uint32_t count, uint32_t added, const char* label) {
  const size_t elements = size_t{count} + added;
  T* grown = static_cast<T*>(std::realloc(table.get(), elements * sizeof(T) + 1));
  if (grown == nullptr) memory_allocFailure(__FILE__, "ensureCapacity", __LINE__, label);
  (void)table.release();
  std::memset(static_cast<void*>(grown + count), 0, size_t{added} * sizeof(T));
  table.reset(grown);
}

}  // namespace

uint32_t parser_internSymbol(ParserEnv* penv, const char* name) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  Dbg& dbg = *program->dbg;
  for (uint32_t i = 0; i < info.n_symbols; ++i) {
    if (std::strcmp(&dbg.symbolTable[dbg.symbolTableIndex[i]], name) == 0) return i;
  }
  const auto length = static_cast<uint32_t>(std::strlen(name)) + 1;
  ensureCapacity(dbg.symbolTableIndex, info.n_symbols, 1, "dbg->symbolTableIndex");
  ensureCapacity(dbg.symbolTable, info.symbolStorageSize, length, "dbg->symbolTable");
  std::memcpy(&dbg.symbolTable[info.symbolStorageSize], name, length);
  dbg.symbolTableIndex[info.n_symbols] = info.symbolStorageSize;
  info.symbolStorageSize += length;
  return info.n_symbols++;
}

uint32_t parser_addType(ParserEnv* penv, const TypeRecord& record, const char* name) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  const uint32_t symbol = parser_internSymbol(penv, name);
  ensureCapacity(program->typeTable, info.n_type, 1, "typeTable");
  ensureCapacity(program->dbg->typeSymbolId, info.n_type, 1, "dbg->typeSymbolId");
  program->typeTable[info.n_type] = record;
  program->dbg->typeSymbolId[info.n_type] = symbol;
  return info.n_type++;
}

uint32_t parser_addConstantData(ParserEnv* penv, const ValueCell* cells, uint32_t count) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  const auto oldBase = reinterpret_cast<uintptr_t>(program->constantDataTable.get());
  const uintptr_t oldEnd = oldBase + uintptr_t{info.size_constantData} * sizeof(ValueCell);
  ensureCapacity(program->constantDataTable, info.size_constantData, count, "constantDataTable");
  ValueCell* base = program->constantDataTable.get();
  // Constants point into the constant data: move them with it.
  const auto rebase = [&](TaggedValue& v) {
    const auto at = reinterpret_cast<uintptr_t>(v.value);
    if (v.value != nullptr && at >= oldBase && at < oldEnd) {
      v.value = base + (at - oldBase) / sizeof(ValueCell);
    }
  };
  for (uint32_t i = 0; i < info.n_globalConstants; ++i) rebase(program->globalConstantTable[i]);
  if (penv->ienv != nullptr) {
    const uint32_t constants = penv->ienv->ctx->localVarsIndexes.count.constants;
    for (uint32_t i = 0; i < constants; ++i) rebase(penv->ienv->data->localConstantTable[i]);
  }
  const uint32_t first = info.size_constantData;
  for (uint32_t i = 0; i < count; ++i) base[first + i] = cells[i];
  info.size_constantData += count;
  return first;
}

uint32_t parser_internString(ParserEnv* penv, const char* text) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  for (uint32_t i = 0; i < info.n_strings; ++i) {
    if (std::strcmp(&program->stringTable[program->stringTableIndex[i]], text) == 0) return i;
  }
  const auto length = static_cast<uint32_t>(std::strlen(text)) + 1;
  ensureCapacity(program->stringTableIndex, info.n_strings, 1, "stringTableIndex");
  ensureCapacity(program->stringTable, info.stringTableSize, length, "stringTable");
  std::memcpy(&program->stringTable[info.stringTableSize], text, length);
  program->stringTableIndex[info.n_strings] = info.stringTableSize;
  info.stringTableSize += length;
  return info.n_strings++;
}

uint32_t parser_addGlobalVariable(ParserEnv* penv, uint32_t symbol, uint32_t typeId) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  ensureCapacity(program->globalVariableTable, info.n_globalVariables, 1, "globalVariableTable");
  ensureCapacity(program->dbg->globalVariableSymbolId, info.n_globalVariables, 1,
                 "dbg->globalVariableSymbolId");
  program->globalVariableTable[info.n_globalVariables] = {nullptr, typeId, info.n_globalVariables};
  program->dbg->globalVariableSymbolId[info.n_globalVariables] = symbol;
  return info.n_globalVariables++;
}

uint32_t parser_addGlobalConstant(ParserEnv* penv, uint32_t symbol, uint32_t typeId,
                                  uint32_t firstCell) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  ensureCapacity(program->globalConstantTable, info.n_globalConstants, 1, "globalConstantTable");
  ensureCapacity(program->dbg->globalConstantSymbolId, info.n_globalConstants, 1,
                 "dbg->globalConstantSymbolId");
  ValueCell* cell =
      firstCell < info.size_constantData ? &program->constantDataTable[firstCell] : nullptr;
  program->globalConstantTable[info.n_globalConstants] = {cell, typeId, NO_ID};
  program->dbg->globalConstantSymbolId[info.n_globalConstants] = symbol;
  return info.n_globalConstants++;
}

uint32_t parser_addFunction(ParserEnv* penv, uint32_t symbol, const FunctionRecord& record) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  ensureCapacity(program->functionTable, info.n_functions, 1, "functionTable");
  ensureCapacity(program->dbg->functionSymbolId, info.n_functions, 1, "dbg->functionSymbolId");
  program->functionTable[info.n_functions] = record;
  program->dbg->functionSymbolId[info.n_functions] = symbol;
  return info.n_functions++;
}

uint32_t parser_addProcessDefinition(ParserEnv* penv, uint32_t symbol,
                                     const ProcessDefinitionRecord& record) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  ensureCapacity(program->processDefinitionTable, info.n_processDefinitions, 1,
                 "processDefinitionTable");
  ensureCapacity(program->dbg->processDefinitionSymbolId, info.n_processDefinitions, 1,
                 "dbg->processDefinitionSymbolId");
  program->processDefinitionTable[info.n_processDefinitions] = record;
  program->dbg->processDefinitionSymbolId[info.n_processDefinitions] = symbol;
  return info.n_processDefinitions++;
}

AST_Node* parser_makeNode(ParserEnv* penv, uint32_t op, NodeValue value, const AST_Node* left,
                          const AST_Node* right) {
  Program* program = penv->program;
  const InfoProg& info = *program->infoProg;
  // One node short of the space's end is the last that makeNode accepts.
  if (info.n_AST + 1 >= info.max_ast_size) {
    if (!penv->pctx.nodeBudgetExceeded) {
      penv->pctx.nodeBudgetExceeded = true;
      if (penv->pctx.wholeProgram) {
        diag::program_too_large(penv, info.max_ast_size);
      } else {
        diag::statement_too_large(penv, info.max_ast_size - penv->pctx.parseStartNodes);
      }
    }
    return nullptr;
  }
  return AST_makeNodeVal(program, op, value, left, right, static_cast<uint32_t>(penv->pctx.line));
}

AST_Node* parser_makeNodeWord(ParserEnv* penv, uint32_t op, uint32_t word, const AST_Node* left,
                              const AST_Node* right) {
  NodeValue value{};
  value.id.index = word;
  return parser_makeNode(penv, op, value, left, right);
}

AST_Node* parser_makeList(ParserEnv* penv, const AST_Node* element) {
  return parser_makeNodeWord(penv, LIST, 0, element, nullptr);
}

AST_Node* parser_appendList(ParserEnv* penv, AST_Node* list, const AST_Node* element) {
  AST_Node* cell = parser_makeList(penv, element);
  if (list == nullptr) return cell;
  if (cell == nullptr) return list;
  AST_Node* last = list;
  while (last->right != NO_ID) last = AST_right(penv->program, last);
  last->right = AST_id(penv->program, cell);
  return list;
}
