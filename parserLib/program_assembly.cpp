#include "parserLib/program_assembly.h"

#include <algorithm>
#include <cstring>

#include "ASTLib/rENV.h"
#include "parserLib/parser_error.h"

namespace {

AST_Node* list(ParserEnv* penv, std::initializer_list<AST_Node*> elements) {
  AST_Node* result = nullptr;
  for (AST_Node* e : elements) {
    AST_Node* cell = parser_makeList(penv, e);
    if (cell == nullptr) return nullptr;
    if (result == nullptr) {
      result = cell;
    } else {
      AST_Node* last = result;
      while (last->right != NO_ID) last = AST_right(penv->program, last);
      last->right = AST_id(penv->program, cell);
    }
  }
  return result;
}

uint32_t storageOf(const Program* program, uint32_t typeId) {
  return Type_getStorageSize(program, typeId);
}

// The field types of a structure, in order.
std::vector<uint32_t> fieldTypes(const Program* program, uint32_t typeId) {
  std::vector<uint32_t> types;
  for (const AST_Node* cell = AST_fromId(program, Type_getFields(program, typeId));
       cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
    types.push_back(AST_getStructFieldTypeId(program, AST_left(program, cell)));
  }
  return types;
}

uint32_t findTypeNamed(const Program* program, const char* name) {
  for (uint32_t i = 0; i < program->infoProg->n_type; ++i) {
    if (std::strcmp(Type_getName(program, i), name) == 0) return i;
  }
  return NO_ID;
}

// A queue or a stack keeps one spare slot and two index cells.
uint32_t channelStorage(uint32_t elementCells, uint32_t capacity) {
  return elementCells * (capacity + 1) + 2;
}

}  // namespace

std::unique_ptr<Program> assembly_createProgram(uint32_t nodeCapacity) {
  auto program = Program_create();
  AST_createTree(program.get(), nodeCapacity);
  AST_createLineIndex(program.get(), nodeCapacity);
  program->infoProg->initFunctionId = NO_ID;
  ParserEnv penv;
  penv.program = program.get();
  program->root = parser_makeNodeWord(&penv, ROOT, 0, nullptr, nullptr);
  for (uint32_t id = 0; id < kBuiltinTypeCount; ++id) {
    TypeRecord record{id, 0, id < TypePrimitive ? 1u : 0u, NONE_BUFFER, 0};
    if (id == TypeString) record = {TypeUInt8, kUnsizedBuffer, 0, STRING_BUFFER, 0};
    if (id == TypeNamedBlock || id == TypeState) {
      // Named blocks and states are structures of three times.
      AST_Node* fields = nullptr;
      for (const char* name : {"execution_time", "wcet", "bcet"}) {
        AST_Node* sym =
            parser_makeNodeWord(&penv, SYM, parser_internSymbol(&penv, name), nullptr, nullptr);
        fields = parser_appendList(
            &penv, fields, parser_makeNodeWord(&penv, FIELD_STATEMENT, TypeTime64, sym, nullptr));
      }
      record = {TypeStructure, 0, 3, NONE_BUFFER, AST_id(program.get(), fields)};
    }
    parser_addType(&penv, record, kBuiltinTypeNames[id]);
  }
  return program;
}

std::vector<ValueCell> assembly_clearedCells(const Program* program, uint32_t typeId) {
  const TypeRecord& t = program->typeTable[typeId];
  std::vector<ValueCell> cells(t.storageSize, kZeroCell);
  if (t.bufferType == QUEUE_BUFFER || t.bufferType == STACK_BUFFER) {
    if (cells.size() >= 2) {
      cells[0].u64 = 2;
      cells[1].u64 = t.bufferType == QUEUE_BUFFER ? 2 : 1;
    }
  } else if (t.bufferType == NONE_BUFFER && t.baseType == TypeStructure) {
    size_t at = 0;
    for (uint32_t field : fieldTypes(program, typeId)) {
      const auto sub = assembly_clearedCells(program, field);
      for (size_t i = 0; i < sub.size() && at + i < cells.size(); ++i) cells[at + i] = sub[i];
      at += sub.size();
    }
  }
  return cells;
}

// ---------------------------------------------------------------- shapes

AST_Node* assembly_makeState(ParserEnv* penv, uint32_t nameSymbol, AST_Node* stateVariable,
                             AST_Node* block, AST_Node* transitions) {
  AST_Node* decls = parser_makeList(penv, stateVariable);
  AST_Node* dcl = parser_makeNodeWord(penv, STATE_DCL, 0, block, transitions);
  if (decls == nullptr || dcl == nullptr) return nullptr;
  return parser_makeNodeWord(penv, NAMED_STATE_STATEMENT, nameSymbol, decls, dcl);
}

AST_Node* assembly_makeStateVariable(ParserEnv* penv, uint32_t nameSymbol) {
  AST_Node* sym = parser_makeNodeWord(penv, SYM, nameSymbol, nullptr, nullptr);
  return sym != nullptr ? parser_makeNodeWord(penv, VARIABLE_DECL_OP, TypeState, sym, nullptr)
                        : nullptr;
}

AST_Node* assembly_makeTransition(ParserEnv* penv, AST_Node* condition, AST_Node* delay,
                                  AST_Node* statement) {
  AST_Node* pair = delay != nullptr
                       ? parser_makeNodeWord(penv, INDEX_NODE, NO_ID, delay, condition)
                       : parser_makeNodeWord(penv, INDEX_NODE, NO_ID, condition, nullptr);
  if (pair == nullptr) return nullptr;
  return parser_makeNodeWord(penv, delay != nullptr ? AFTER_OP : ON_OP, 0, pair, statement);
}

void assembly_setTransitionTarget(AST_Node* transition, const ParserEnv* penv,
                                  const AST_Node* state) {
  AST_left(penv->program, transition)->value.id.index = AST_id(penv->program, state);
}

AST_Node* assembly_makeProcessDeclaration(ParserEnv* penv, const ProcessParts& parts,
                                          ProcessDefinitionRecord* record) {
  AST_Node* body = list(penv, {parts.statics, parts.subProcesses, parts.locals, parts.common,
                               parts.states, parts.finallyBlock});
  if (body == nullptr) return nullptr;
  const Program* p = penv->program;
  *record = {AST_id(p, parts.params),       AST_id(p, parts.statics), AST_id(p, parts.subProcesses),
             AST_id(p, parts.locals),       AST_id(p, parts.common),  AST_id(p, parts.states),
             AST_id(p, parts.finallyBlock), parts.n_subProcesses,     parts.n_staticEntries};
  return parser_makeNodeWord(penv, PROCESS_DECLARATION, 0, parts.params, body);
}

AST_Node* assembly_makeSubProcess(ParserEnv* penv, uint32_t definitionId, uint32_t definitionSymbol,
                                  uint32_t nameSymbol) {
  AST_Node* defSym = parser_makeNodeWord(penv, SYM, definitionSymbol, nullptr, nullptr);
  AST_Node* def = parser_makeNodeWord(penv, INDEX_NODE, definitionId, defSym, nullptr);
  AST_Node* name = parser_makeNodeWord(penv, SYM, nameSymbol, nullptr, nullptr);
  if (def == nullptr || name == nullptr) return nullptr;
  return parser_makeNodeWord(penv, PROCESS_INSTANCE_NODE, 0, def, name);
}

AST_Node* assembly_makeInstance(ParserEnv* penv, uint32_t definitionId, uint32_t definitionSymbol,
                                AST_Node* args, AST_Node* period, AST_Node* offset,
                                AST_Node* trigger) {
  AST_Node* defSym = parser_makeNodeWord(penv, SYM, definitionSymbol, nullptr, nullptr);
  AST_Node* def = parser_makeNodeWord(penv, INDEX_NODE, definitionId, defSym, nullptr);
  AST_Node* timing = period != nullptr ? list(penv, {period, offset}) : nullptr;
  AST_Node* parts = list(penv, {args, timing, trigger});
  if (def == nullptr || parts == nullptr) return nullptr;
  return parser_makeNodeWord(penv, PROCESS_INSTANCE_NODE, 0, def, parts);
}

// ---------------------------------------------------------------- tables

AST_Node* assembly_appendDefinition(ParserEnv* penv, WholeProgram& whole, AST_Node* element) {
  AST_Node* cell = parser_makeList(penv, element);
  if (cell == nullptr) return nullptr;
  if (whole.definitions == nullptr) {
    whole.definitions = cell;
  } else {
    whole.lastDefinition->right = AST_id(penv->program, cell);
  }
  whole.lastDefinition = cell;
  return cell;
}

uint32_t assembly_addGlobal(ParserEnv* penv, WholeProgram& whole, uint32_t symbol, uint32_t typeId,
                            std::vector<ValueCell> init) {
  const uint32_t id = parser_addGlobalVariable(penv, symbol, typeId);
  whole.globalInit.resize(id + 1);
  whole.globalInit[id] = std::move(init);
  return id;
}

uint32_t assembly_addConstant(ParserEnv* penv, uint32_t symbol, uint32_t typeId,
                              const std::vector<ValueCell>& cells) {
  const uint32_t first =
      parser_addConstantData(penv, cells.data(), static_cast<uint32_t>(cells.size()));
  return parser_addGlobalConstant(penv, symbol, typeId, first);
}

uint32_t assembly_addFunction(ParserEnv* penv, uint32_t symbol, AST_Node* params, AST_Node* body) {
  return parser_addFunction(penv, symbol,
                            {AST_id(penv->program, params), AST_id(penv->program, body)});
}

uint32_t assembly_addProcessDefinition(ParserEnv* penv, uint32_t symbol,
                                       const ProcessDefinitionRecord& record) {
  return parser_addProcessDefinition(penv, symbol, record);
}

namespace {

template <class T>
MemArray<T> table(size_t count, const char* label) {
  return memory_allocArray<T>(count, __FILE__, "assembly_finish", __LINE__, label);
}

}  // namespace

void assembly_sizeProcesses(Program* program, uint32_t instances) {
  const uint32_t system = findTypeNamed(program, "System");
  if (system == NO_ID) return;
  uint32_t storage = 0;
  uint32_t index = 0;
  for (const AST_Node* cell = AST_fromId(program, Type_getFields(program, system));
       cell != nullptr && cell->op == LIST; cell = AST_right(program, cell), ++index) {
    const AST_Node* field = AST_left(program, cell);
    const uint32_t type = AST_getStructFieldTypeId(program, field);
    TypeRecord& t = program->typeTable[type];
    if (std::strcmp(Symbol_getName(program, AST_getStructFieldSymId(program, field)),
                    "processes") == 0 &&
        t.bufferType == QUEUE_BUFFER) {
      t.size = instances;
      t.storageSize = channelStorage(storageOf(program, t.baseType), instances);
    }
    storage += t.storageSize;
  }
  program->typeTable[system].storageSize = storage;
}

namespace {

template <class T>
void shrink(MemArray<T>& array, uint32_t used, uint32_t capacity, const char* label) {
  MemArray<T> smaller = table<T>(capacity, label);
  std::copy(array.get(), array.get() + used, smaller.get());
  array = std::move(smaller);
}

}  // namespace

void assembly_finish(ParserEnv* penv, WholeProgram& whole, const std::string& modelName) {
  Program* program = penv->program;
  InfoProg& info = *program->infoProg;
  Dbg& dbg = *program->dbg;
  std::memset(info.modelName, 0, sizeof info.modelName);
  std::memcpy(info.modelName, modelName.data(), std::min(modelName.size(), sizeof info.modelName));

  assembly_sizeProcesses(program, static_cast<uint32_t>(whole.instances.size()));

  // Global variables over their initial data.
  std::vector<ValueCell> globalData;
  std::vector<uint32_t> firstCell;
  for (uint32_t i = 0; i < info.n_globalVariables; ++i) {
    const uint32_t type = program->globalVariableTable[i].typeId;
    std::vector<ValueCell> init =
        i < whole.globalInit.size() ? whole.globalInit[i] : std::vector<ValueCell>{};
    if (init.empty()) init = assembly_clearedCells(program, type);
    init.resize(storageOf(program, type));
    firstCell.push_back(static_cast<uint32_t>(globalData.size()));
    globalData.insert(globalData.end(), init.begin(), init.end());
  }
  info.size_globalVariableData = static_cast<uint32_t>(globalData.size());
  program->globalVariableDataInitTable = table<ValueCell>(globalData.size(), "globalVariableData");
  std::copy(globalData.begin(), globalData.end(), program->globalVariableDataInitTable.get());
  for (uint32_t i = 0; i < info.n_globalVariables; ++i) {
    program->globalVariableTable[i].value =
        globalData.empty() ? nullptr : &program->globalVariableDataInitTable[firstCell[i]];
  }

  // Process instances, depth-first, and their static blocks.
  const uint32_t instanceType = findTypeNamed(program, "Process_Instance");
  struct Row {
    uint32_t definition;
    uint32_t staticBase;
    uint32_t symbol;
  };
  std::vector<Row> rows;
  std::vector<uint32_t> staticTypes, staticSymbols;
  std::vector<ValueCell> staticData;
  const auto addInstance = [&](auto& self, uint32_t def, uint32_t symbol, int depth) -> uint32_t {
    const ProcessDraft& draft = whole.processes[def];
    const uint32_t entries = program->processDefinitionTable[def].n_staticEntries;
    const auto row = static_cast<uint32_t>(rows.size());
    rows.push_back({def, entries > 0 ? static_cast<uint32_t>(staticTypes.size()) : NO_ID, symbol});
    for (const SubProcessDecl& sub : draft.subs) {
      staticTypes.push_back(instanceType);
      staticSymbols.push_back(sub.symbol);
      const auto cells = assembly_clearedCells(program, instanceType);
      staticData.insert(staticData.end(), cells.begin(), cells.end());
    }
    for (const StaticDecl& v : draft.statics) {
      staticTypes.push_back(v.type);
      staticSymbols.push_back(v.symbol);
      auto cells = v.init.empty() ? assembly_clearedCells(program, v.type) : v.init;
      cells.resize(storageOf(program, v.type));
      staticData.insert(staticData.end(), cells.begin(), cells.end());
    }
    // Definitions that contain themselves are refused before this point.
    if (depth < 64) {
      for (const SubProcessDecl& sub : draft.subs)
        self(self, sub.definition, sub.symbol, depth + 1);
    }
    return row;
  };
  std::vector<GlobalProcessInstanceRecord> globalRecords;
  std::vector<uint32_t> globalSymbols;
  for (const InstanceDecl& top : whole.instances) {
    if (top.definition == NO_ID) continue;
    const uint32_t row = addInstance(addInstance, top.definition, top.symbol, 0);
    globalRecords.push_back({row, 0, 0, AST_id(program, top.args), AST_id(program, top.trigger),
                             AST_id(program, top.annotation), rows[row].staticBase,
                             top.definition});
    globalSymbols.push_back(top.symbol);
  }
  info.n_processInstances = static_cast<uint32_t>(rows.size());
  program->processInstanceTable = table<ProcessInstanceRecord>(rows.size(), "processInstanceTable");
  dbg.processInstanceSymbolId = table<uint32_t>(rows.size(), "processInstanceSymbolId");
  for (size_t i = 0; i < rows.size(); ++i) {
    program->processInstanceTable[i] = {rows[i].definition, rows[i].staticBase};
    dbg.processInstanceSymbolId[i] = rows[i].symbol;
  }
  info.n_globalProcessInstances = static_cast<uint32_t>(globalRecords.size());
  program->processGlobalInstanceTable =
      table<GlobalProcessInstanceRecord>(globalRecords.size(), "processGlobalInstanceTable");
  std::copy(globalRecords.begin(), globalRecords.end(), program->processGlobalInstanceTable.get());
  dbg.globalProcessInstanceSymbolId = table<uint32_t>(globalSymbols.size(), "globalInstSymbols");
  std::copy(globalSymbols.begin(), globalSymbols.end(), dbg.globalProcessInstanceSymbolId.get());

  info.n_processStaticVariables = static_cast<uint32_t>(staticTypes.size());
  info.size_processStaticVariableData = static_cast<uint32_t>(staticData.size());
  program->processStaticVariableDataInitTable =
      table<ValueCell>(staticData.size(), "processStaticVariableData");
  std::copy(staticData.begin(), staticData.end(),
            program->processStaticVariableDataInitTable.get());
  program->processStaticVariableTable =
      table<TaggedValue>(staticTypes.size(), "processStaticVariableTable");
  dbg.processStaticVariableSymbolId = table<uint32_t>(staticTypes.size(), "staticSymbols");
  uint32_t cursor = 0;
  for (size_t i = 0; i < staticTypes.size(); ++i) {
    program->processStaticVariableTable[i] = {&program->processStaticVariableDataInitTable[cursor],
                                              staticTypes[i], NO_ID};
    dbg.processStaticVariableSymbolId[i] = staticSymbols[i];
    cursor += storageOf(program, staticTypes[i]);
  }

  // The init function takes no argument.
  info.initFunctionId = NO_ID;
  for (uint32_t i = 0; i < info.n_functions; ++i) {
    if (std::strcmp(Function_getName(program, i), "init") == 0 &&
        program->functionTable[i].params == NO_ID) {
      info.initFunctionId = i;
    }
  }

  program->root->left = AST_id(program, whole.definitions);

  // The node space: what was used and the console's spare nodes.
  const uint32_t used = info.n_AST;
  shrink(program->RAMprogram, used, used + kSpareNodes, "RAMprogram");
  shrink(dbg.nodeLine, used, used + kSpareNodes, "nodeLine");
  info.max_ast_size = used + kSpareNodes;
  program->root = &program->RAMprogram[0];
}
