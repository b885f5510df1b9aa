#include "ASTLib/rAST.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_assert.h"

std::unique_ptr<Program> Program_create() {
  auto program = std::make_unique<Program>();
  program->header = std::make_unique<ProgramHeader>();
  program->infoProg = std::make_unique<InfoProg>();
  program->dbg = std::make_unique<Dbg>();
  std::memset(program->header.get(), 0, sizeof(ProgramHeader));
  std::memset(program->infoProg.get(), 0, sizeof(InfoProg));
  program->infoProg->initFunctionId = NO_ID;
  return program;
}

const char* AST_opName(uint32_t op) {
  switch (op) {
#define KOVA_OP_NAME(name, value) \
  case value: return #name;
    KOVA_AST_OPS(KOVA_OP_NAME)
#undef KOVA_OP_NAME
  }
  return nullptr;
}

// ---------------------------------------------------------------- node access

AST_Node* AST_fromId(const Program* program, uint32_t id) {
  if (id == NO_ID) return nullptr;
  KOVA_ASSERT(id < program->infoProg->n_AST, "id < program->infoProg->n_AST");
  return &program->RAMprogram[id];
}

uint32_t AST_id(const Program* program, const AST_Node* node) {
  if (node == nullptr) return NO_ID;
  const AST_Node* first = program->RAMprogram.get();
  KOVA_ASSERT(node >= first, "node >= program->RAMprogram");
  KOVA_ASSERT(node < first + program->infoProg->n_AST,
              "node < program->RAMprogram + program->infoProg->n_AST");
  return static_cast<uint32_t>(node - first);
}

AST_Node* AST_left(const Program* program, const AST_Node* p) {
  KOVA_ASSERT(p != nullptr, "p != NULL");
  return AST_fromId(program, p->left);
}

AST_Node* AST_right(const Program* program, const AST_Node* p) {
  KOVA_ASSERT(p != nullptr, "p != NULL");
  return AST_fromId(program, p->right);
}

namespace {

// The accessors' op checks: a failure names the accessor.
void expectOp(const AST_Node* node, uint32_t op, const char* accessor) {
  if (node == nullptr || node->op != op) kova_assertFail(accessor, __FILE__, __LINE__, accessor);
}

void expectOneOf(const AST_Node* node, std::initializer_list<uint32_t> ops, const char* accessor) {
  if (node != nullptr) {
    for (uint32_t op : ops) {
      if (node->op == op) return;
    }
  }
  kova_assertFail(accessor, __FILE__, __LINE__, accessor);
}

}  // namespace

AST_Node* AST_getCar(const Program* program, const AST_Node* list) {
  expectOp(list, LIST, "AST_getCar");
  return AST_left(program, list);
}

AST_Node* AST_getCdr(const Program* program, const AST_Node* list) {
  expectOp(list, LIST, "AST_getCdr");
  return AST_right(program, list);
}

AST_Node* AST_getListNext(const Program* program, const AST_Node* list) {
  expectOp(list, LIST, "AST_getListNext");
  return AST_right(program, list);
}

AST_Node* AST_getListNthRoot(const Program* program, const AST_Node* list, uint32_t n) {
  expectOp(list, LIST, "AST_getListNthRoot");
  AST_Node* cell = const_cast<AST_Node*>(list);
  for (uint32_t i = 0; i < n && cell != nullptr; ++i) {
    cell = AST_right(program, cell);
    if (cell != nullptr && cell->op != LIST) return nullptr;
  }
  return cell;
}

AST_Node* AST_getListNth(const Program* program, const AST_Node* list, uint32_t n) {
  expectOp(list, LIST, "AST_getListNth");
  AST_Node* cell = AST_getListNthRoot(program, list, n);
  return cell == nullptr ? nullptr : AST_left(program, cell);
}

uint32_t AST_listSize(const Program* program, const AST_Node* list) {
  uint32_t n = 0;
  for (const AST_Node* cell = list; cell != nullptr && cell->op == LIST;
       cell = AST_right(program, cell)) {
    ++n;
  }
  return n;
}

AST_ListIterator ast_it_create(const Program* program, AST_Node* list) {
  return {program, list};
}

AST_Node* ast_it_current(const AST_ListIterator& it) {
  return AST_left(it.program, it.cell);
}

bool ast_it_hasNext(const AST_ListIterator& it) {
  return it.cell->right != NO_ID;
}

void ast_it_next(AST_ListIterator& it) {
  it.cell = AST_right(it.program, it.cell);
}

// ---------------------------------------------------------------- calls

namespace {

const AST_Node* callIndexNode(const Program* program, const AST_Node* call, const char* accessor) {
  expectOp(call, CALL_OP, accessor);
  const AST_Node* index = AST_left(program, call);
  expectOp(index, INDEX_NODE, accessor);
  return index;
}

uint32_t customId(const Program* program, const AST_Node* call, const char* accessor) {
  const AST_Node* index = callIndexNode(program, call, accessor);
  const AST_Node* custom = AST_right(program, index);
  if (custom == nullptr) return index->value.id.custom;
  expectOp(custom, INDEX_NODE, accessor);
  return custom->value.id.index;
}

}  // namespace

uint32_t AST_getCallCode(const Program* program, const AST_Node* call) {
  return callIndexNode(program, call, "AST_getCallCode")->value.id.index;
}

AST_Node* AST_getCallObj(const Program* program, const AST_Node* call) {
  return AST_left(program, callIndexNode(program, call, "AST_getCallObj"));
}

AST_Node* AST_getCallArgs(const Program* program, const AST_Node* call) {
  expectOp(call, CALL_OP, "AST_getCallArgs");
  return AST_right(program, call);
}

uint32_t AST_getCustomFuncId(const Program* program, const AST_Node* call) {
  return customId(program, call, "AST_getCustomFuncId");
}

uint32_t AST_getCustomFldOffsetId(const Program* program, const AST_Node* call) {
  return customId(program, call, "AST_getCustomFldOffsetId");
}

uint32_t AST_getCallSubProcId(const Program* program, const AST_Node* call) {
  return customId(program, call, "AST_getCallSubProcId");
}

// ---------------------------------------------------------------- states

uint32_t AST_getStateId(const Program*, const AST_Node* namedState) {
  expectOp(namedState, NAMED_STATE_STATEMENT, "AST_getStateId");
  return namedState->value.id.index;
}

AST_Node* AST_getStateVarDecl(const Program* program, const AST_Node* namedState) {
  expectOp(namedState, NAMED_STATE_STATEMENT, "AST_getStateVarDecl");
  return AST_left(program, namedState);
}

AST_Node* AST_getStateDecl(const Program* program, const AST_Node* namedState) {
  expectOp(namedState, NAMED_STATE_STATEMENT, "AST_getStateDecl");
  return AST_right(program, namedState);
}

AST_Node* AST_getStateBlock(const Program* program, const AST_Node* stateDcl) {
  expectOp(stateDcl, STATE_DCL, "AST_getStateBlock");
  return AST_left(program, stateDcl);
}

AST_Node* AST_getStateTransitions(const Program* program, const AST_Node* stateDcl) {
  expectOp(stateDcl, STATE_DCL, "AST_getStateTransitions");
  return AST_right(program, stateDcl);
}

AST_Node* AST_getTransitionCondition(const Program* program, const AST_Node* onTransition) {
  expectOp(onTransition, ON_OP, "AST_getTransitionCondition");
  return AST_left(program, AST_left(program, onTransition));
}

AST_Node* AST_getTransitionReachedASTState(const Program* program, const AST_Node* transition) {
  expectOneOf(transition, {ON_OP, AFTER_OP}, "AST_getTransitionReachedASTState");
  return AST_fromId(program, AST_left(program, transition)->value.id.index);
}

AST_Node* AST_getTransitionStatement(const Program* program, const AST_Node* transition) {
  expectOneOf(transition, {ON_OP, AFTER_OP}, "AST_getTransitionStatement");
  return AST_right(program, transition);
}

AST_Node* AST_getAfterTransitionDelay(const Program* program, const AST_Node* afterTransition) {
  expectOp(afterTransition, AFTER_OP, "AST_getAfterTransitionDelay");
  return AST_left(program, AST_left(program, afterTransition));
}

AST_Node* AST_getAfterTransitionCondition(const Program* program, const AST_Node* afterTransition) {
  expectOp(afterTransition, AFTER_OP, "AST_getAfterTransitionCondition");
  return AST_right(program, AST_left(program, afterTransition));
}

// ---------------------------------------------------------------- processes

namespace {

AST_Node* listElementOrNull(const Program* program, const AST_Node* list, uint32_t n) {
  return list == nullptr ? nullptr : AST_getListNth(program, list, n);
}

AST_Node* instanceDescription(const Program* program, const AST_Node* instance, uint32_t n,
                              const char* accessor) {
  expectOp(instance, PROCESS_INSTANCE_NODE, accessor);
  return listElementOrNull(program, AST_right(program, instance), n);
}

AST_Node* processDefPart(const Program* program, const AST_Node* def, uint32_t n,
                         const char* accessor) {
  expectOp(def, PROCESS_DECLARATION, accessor);
  return listElementOrNull(program, AST_right(program, def), n);
}

}  // namespace

uint32_t AST_getProcessInstanceDefinition(const Program* program, const AST_Node* instance) {
  expectOp(instance, PROCESS_INSTANCE_NODE, "AST_getProcessInstanceDefinition");
  return AST_left(program, instance)->value.id.index;
}

AST_Node* AST_getProcessInstanceParams(const Program* program, const AST_Node* instance) {
  return instanceDescription(program, instance, 0, "AST_getProcessInstanceParams");
}

AST_Node* AST_getProcessInstanceTiming(const Program* program, const AST_Node* instance) {
  return instanceDescription(program, instance, 1, "AST_getProcessInstanceTiming");
}

AST_Node* AST_getProcessInstanceTimingPeriod(const Program* program, const AST_Node* instance) {
  return listElementOrNull(program, AST_getProcessInstanceTiming(program, instance), 0);
}

AST_Node* AST_getProcessInstanceTimingOffset(const Program* program, const AST_Node* instance) {
  return listElementOrNull(program, AST_getProcessInstanceTiming(program, instance), 1);
}

AST_Node* AST_getProcessInstanceTrigger(const Program* program, const AST_Node* instance) {
  return instanceDescription(program, instance, 2, "AST_getProcessInstanceTrigger");
}

AST_Node* AST_getProcessDefStaticVars(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 0, "AST_getProcessDefStaticVars");
}

AST_Node* AST_getProcessDefSubprocesses(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 1, "AST_getProcessDefSubprocesses");
}

AST_Node* AST_getProcessDefLocalVars(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 2, "AST_getProcessDefLocalVars");
}

AST_Node* AST_getProcessDefCommonBlock(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 3, "AST_getProcessDefCommonBlock");
}

AST_Node* AST_getProcessDefStates(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 4, "AST_getProcessDefStates");
}

AST_Node* AST_getProcessDefFinallyBlock(const Program* program, const AST_Node* def) {
  return processDefPart(program, def, 5, "AST_getProcessDefFinallyBlock");
}

// ---------------------------------------------------------------- types and declarations

uint32_t AST_getTypeTypeId(const Program* program, const AST_Node* typeNode) {
  expectOp(typeNode, TYPE_OP, "AST_getTypeTypeId");
  const AST_Node* named = AST_left(program, typeNode);
  return named != nullptr ? named->value.id.index : typeNode->value.id.type;
}

uint32_t AST_getStructFieldSymId(const Program* program, const AST_Node* field) {
  expectOp(field, FIELD_STATEMENT, "AST_getStructFieldSymId");
  return AST_left(program, field)->value.id.index;
}

uint32_t AST_getStructFieldTypeId(const Program*, const AST_Node* field) {
  expectOp(field, FIELD_STATEMENT, "AST_getStructFieldTypeId");
  return field->value.id.type;
}

uint32_t AST_getEnumValue(const Program* program, const AST_Node* literal) {
  expectOneOf(literal, {ENUM_OP, SYM}, "AST_getEnumValue");
  if (literal->op == SYM) return literal->value.id.index;
  return AST_left(program, literal)->value.id.index;
}

AST_Node* AST_getAnnotationScope(const Program* program, const AST_Node* annotation) {
  expectOneOf(annotation,
              {TIME_ANNOTATION, USER_ANNOTATION, PROCESS_ANNOTATION, HARDWARE_ANNOTATION},
              "AST_getAnnotationScope");
  return AST_left(program, annotation);
}

AST_Node* AST_getGlobalDefinitions(const Program* program) {
  expectOp(program->root, ROOT, "AST_getGlobalDefinitions");
  return AST_left(program, program->root);
}

uint32_t AST_getVarDeclTypeId(const Program*, const AST_Node* decl) {
  KOVA_ASSERT(decl != nullptr, "decl != NULL");
  return decl->value.id.type;
}

uint32_t AST_getVarDeclSymId(const Program* program, const AST_Node* decl) {
  KOVA_ASSERT(decl != nullptr, "decl != NULL");
  switch (decl->op) {
    case CONSTANT_DECL_OP:
    case IN_PARAM_OP:
    case OUT_PARAM_OP:
    case IN_CHANNEL_PARAM_OP:
    case OUT_CHANNEL_PARAM_OP:
    case VARIABLE_DECL_OP:
    case STATIC_VARIABLE_DECL_OP:
    case GLOBAL_DECL_OP:
    case CONSTANT_ARRAY_DECL_OP:
    case VARIABLE_BUFFER_DECL_OP:
    case STATIC_BUFFER_DECL_OP:
    case ITERATOR_DECL_OP: {
      const AST_Node* name = AST_left(program, decl);
      // Buffer declarations hold the name as the first element of a list.
      if (name != nullptr && name->op == LIST) name = AST_getCar(program, name);
      expectOp(name, SYM, "AST_getVarDeclSymId");
      return name->value.id.index;
    }
    default: kova_assertFail("not a value identifier declaration", __FILE__, __LINE__, __func__);
  }
}

AST_Node* AST_getVarDeclInitializer(const Program* program, const AST_Node* decl) {
  KOVA_ASSERT(decl != nullptr, "decl != NULL");
  return AST_right(program, decl);
}

AST_Node* AST_getFunctionArgs(const Program* program, const AST_Node* function) {
  expectOneOf(function, {FUNCTION_DECLARATION, FUNCTION_PROTOTYPE}, "AST_getFunctionArgs");
  return AST_left(program, function);
}

AST_Node* AST_getFunctionBody(const Program* program, const AST_Node* function) {
  expectOneOf(function, {FUNCTION_DECLARATION, FUNCTION_PROTOTYPE}, "AST_getFunctionBody");
  return AST_right(program, function);
}

AST_Node* AST_getProcessArgs(const Program* program, const AST_Node* process) {
  expectOneOf(process, {PROCESS_DECLARATION, PROCESS_PROTOTYPE}, "AST_getProcessArgs");
  return AST_left(program, process);
}

uint32_t AST_getTypeDeclSymId(const Program* program, const AST_Node* typeDecl) {
  expectOp(typeDecl, TYPE_DECLARATION, "AST_getTypeDeclSymId");
  return AST_left(program, typeDecl)->value.id.index;
}

AST_Node* AST_getTypeDeclFields(const Program* program, const AST_Node* typeDecl) {
  expectOp(typeDecl, TYPE_DECLARATION, "AST_getTypeDeclFields");
  return AST_right(program, typeDecl);
}

// ---------------------------------------------------------------- tables

const char* Symbol_getName(const Program* program, uint32_t symId) {
  KOVA_ASSERT(symId < program->infoProg->n_symbols, "symId < program->infoProg->n_symbols");
  const uint32_t offset = program->dbg->symbolTableIndex[symId];
  KOVA_ASSERT(offset < program->infoProg->symbolStorageSize,
              "program->dbg->symbolTableIndex[symId] < program->infoProg->symbolStorageSize");
  return &program->dbg->symbolTable[offset];
}

const char* Symbol_enumLiteralName(const Program* program, uint32_t value) {
  if (value == 0 || value >= program->infoProg->n_symbols) return nullptr;
  return Symbol_getName(program, value);
}

namespace {
const TypeRecord& typeRow(const Program* program, uint32_t typeId) {
  KOVA_ASSERT(typeId < program->infoProg->n_type, "typeId < program->infoProg->n_type");
  return program->typeTable[typeId];
}
}  // namespace

uint32_t Type_getSymId(const Program* program, uint32_t typeId) {
  KOVA_ASSERT(typeId < program->infoProg->n_type, "typeId < program->infoProg->n_type");
  return program->dbg->typeSymbolId[typeId];
}

const char* Type_getName(const Program* program, uint32_t typeId) {
  return Symbol_getName(program, Type_getSymId(program, typeId));
}

uint32_t Type_getBaseType(const Program* program, uint32_t typeId) {
  return typeRow(program, typeId).baseType;
}

uint32_t Type_getSize(const Program* program, uint32_t typeId) {
  return typeRow(program, typeId).size;
}

uint32_t Type_getStorageSize(const Program* program, uint32_t typeId) {
  return typeRow(program, typeId).storageSize;
}

uint32_t Type_getBufferType(const Program* program, uint32_t typeId) {
  return typeRow(program, typeId).bufferType;
}

uint32_t Type_getFields(const Program* program, uint32_t typeId) {
  return typeRow(program, typeId).fields;
}

const char* Program_getStringAtIndex(const Program* program, uint32_t index) {
  KOVA_ASSERT(index < program->infoProg->n_strings, "index < program->infoProg->n_strings");
  return &program->stringTable[program->stringTableIndex[index]];
}

const char* Function_getName(const Program* program, uint32_t funcId) {
  KOVA_ASSERT(funcId < program->infoProg->n_functions, "funcId < program->infoProg->n_functions");
  return Symbol_getName(program, program->dbg->functionSymbolId[funcId]);
}

const char* Constant_getName(const Program* program, uint32_t constantId) {
  KOVA_ASSERT(constantId < program->infoProg->n_globalConstants,
              "constantId < program->infoProg->n_globalConstants");
  return Symbol_getName(program, program->dbg->globalConstantSymbolId[constantId]);
}

const char* GlobalVariable_getName(const Program* program, uint32_t globalId) {
  KOVA_ASSERT(globalId < program->infoProg->n_globalVariables,
              "globalId < program->infoProg->n_globalVariables");
  return Symbol_getName(program, program->dbg->globalVariableSymbolId[globalId]);
}

// ---------------------------------------------------------------- construction

void AST_createTree(Program* program, uint32_t n) {
  program->RAMprogram = MEM_ALLOC(AST_Node, n, "program->RAMprogram");
  program->infoProg->max_ast_size = n;
  program->root = nullptr;
}

void AST_createLineIndex(Program* program, uint32_t n) {
  KOVA_ASSERT(program->dbg->nodeLine == nullptr, "line index already initialized");
  program->dbg->nodeLine = MEM_ALLOC(uint32_t, n, "program->dbg->nodeLine");
}

uint32_t makeNode(Program* program, const AST_Node& node) {
  InfoProg& info = *program->infoProg;
  const uint32_t id = info.n_AST;
  KOVA_ASSERT(id < NO_ID - 1, "program->infoProg->n_AST < 0xFFFFFFFF");
  info.n_AST = id + 1;
  if (info.n_AST >= info.max_ast_size) {
    std::fputs("Error: Memory model too small enlarge using -m option\n", stdout);
    std::fflush(stdout);
    std::exit(kNodeSpaceExhaustedStatus);
  }
  program->RAMprogram[id] = node;
  return id;
}

uint32_t AST_AddNode(Program* program, const AST_Node& node) {
  return makeNode(program, node);
}

AST_Node* AST_makeNodeVal(Program* program, uint32_t op, NodeValue value, const AST_Node* left,
                          const AST_Node* right, uint32_t line) {
  AST_Node node{};
  node.op = op;
  node.value = value;
  node.left = AST_id(program, left);
  node.right = AST_id(program, right);
  const uint32_t id = makeNode(program, node);
  if (program->dbg->nodeLine != nullptr) program->dbg->nodeLine[id] = line;
  return &program->RAMprogram[id];
}

AST_Node* AST_makeNode(Program* program, uint32_t op, uint32_t valueWord, const AST_Node* left,
                       const AST_Node* right, uint32_t line) {
  NodeValue value{};
  value.id.index = valueWord;
  return AST_makeNodeVal(program, op, value, left, right, line);
}

AST_Node* AST_makeBooleanNode(Program* program, bool value, uint32_t line) {
  NodeValue v{};
  v.boolean = value ? 1 : 0;
  return AST_makeNodeVal(program, BOOLEAN_OP, v, nullptr, nullptr, line);
}

void AST_addListLast(Program* program, AST_Node* list, const AST_Node* element, uint32_t line) {
  expectOp(list, LIST, "AST_addListLast");
  const uint32_t elementId = AST_id(program, element);
  uint32_t lastId = AST_id(program, list);
  while (program->RAMprogram[lastId].right != NO_ID) lastId = program->RAMprogram[lastId].right;
  NodeValue none{};
  // Ids, not pointers: nothing moves, but the new node is made before linking.
  AST_Node* cell = AST_makeNodeVal(program, LIST, none, nullptr, nullptr, line);
  cell->left = elementId;
  program->RAMprogram[lastId].right = AST_id(program, cell);
}

uint32_t AST_lineFromId(const Program* program, uint32_t id) {
  KOVA_ASSERT(id < program->infoProg->max_ast_size, "id < program->infoProg->max_ast_size");
  KOVA_ASSERT(program->dbg->nodeLine != nullptr, "program->dbg->nodeLine != NULL");
  return program->dbg->nodeLine[id];
}

uint32_t AST_get_tree_size(const Program* program) {
  return program->infoProg->n_AST;
}

void AST_set_tree_size(Program* program, uint32_t n) {
  program->infoProg->n_AST = n;
}

const char* CallCode_getName(uint32_t code) {
  switch (code) {
#define KOVA_CALL_NAME(name, value) \
  case value: return #name;
    KOVA_CALL_CODES(KOVA_CALL_NAME)
#undef KOVA_CALL_NAME
  }
  return nullptr;
}
