// The in-memory form of a compiled Kova program.
//
// A `Program` is a fixed information record, one flat array of 24-byte AST
// nodes addressed by 32-bit ids (node 0 is the ROOT; the null id is NO_ID),
// and flat tables indexed by small ids. Names and source lines live apart in
// `dbg`. Records have the exact byte layout of the program file, which is a
// memory image of them. The interpreter only reads the model, except that the
// console appends nodes for typed statements into the spare slots.
//
// Lists are chains of LIST nodes: left = element (car), right = next cell
// (cdr) or NO_ID. An empty list is a missing node.
//
// Accessors check their invariant (id in range, expected op) with
// KOVA_ASSERT: a violation is a bug, not a user error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ASTLib/ast_ops.h"
#include "ASTLib/kova_typing.h"
#include "ASTLib/memory.h"

// ---------------------------------------------------------------- records

struct ProgramHeader {
  char magic[16];  // "Zebu_KOVA_AST", NUL, zero bytes
  uint32_t version;
  uint32_t headerSize;
};
static_assert(sizeof(ProgramHeader) == 24);

inline constexpr char kProgramMagic[] = "Zebu_KOVA_AST";
inline constexpr uint32_t kProgramVersion = 1;
inline constexpr uint32_t kProgramHeaderSize = 24;

struct InfoProg {
  char modelName[128];
  uint32_t n_symbols;
  uint32_t n_type;
  uint32_t n_strings;        // entries of stringTableIndex
  uint32_t stringTableSize;  // bytes of stringTable
  uint32_t n_AST;            // nodes in use
  uint32_t max_ast_size;     // nodes allocated
  uint32_t n_functions;
  uint32_t n_globalVariables;
  uint32_t n_globalConstants;
  uint32_t n_processStaticVariables;
  uint32_t n_processDefinitions;
  uint32_t n_processInstances;
  uint32_t n_globalProcessInstances;
  uint32_t size_globalVariableData;         // cells
  uint32_t size_processStaticVariableData;  // cells
  uint32_t size_constantData;               // cells
  uint32_t initFunctionId;                  // NO_ID when the program has no "init"
  uint32_t symbolStorageSize;               // bytes of dbg->symbolTable
};
static_assert(sizeof(InfoProg) == 200);

// A node's 8-byte payload. Word 0 carries the node's principal id (type id,
// constant-data index, variable or symbol id, state id, call code...);
// literals use all 8 bytes (a boolean only its first byte).
union NodeValue {
  struct {
    union {
      uint32_t type;
      uint32_t string;
      uint32_t index;
    };
    uint32_t custom;  // second word: a call's custom index
  } id;
  uint64_t u64;
  int64_t s64;
  float f32;
  double f64;
  uint8_t boolean;
};
static_assert(sizeof(NodeValue) == 8);

struct AST_Node {
  uint32_t op;
  uint32_t align;  // always 0 in nodes made by the program
  NodeValue value;
  uint32_t left;
  uint32_t right;
};
static_assert(sizeof(AST_Node) == 24);

enum BufferKind : uint32_t {
  NONE_BUFFER = 0,
  ARRAY_BUFFER = 1,
  QUEUE_BUFFER = 2,
  STACK_BUFFER = 3,
  OTHER_CHANNEL_BUFFER = 4,  // a channel for channel_isChannel, no operation
  STRING_BUFFER = 5,         // TypeString and abstract channel parameters
};

inline constexpr uint32_t kUnsizedBuffer = 0xFFFFFFFFu;

struct TypeRecord {
  uint32_t baseType;
  uint32_t size;         // element count / capacity; kUnsizedBuffer = unsized
  uint32_t storageSize;  // cells of one value
  uint32_t bufferType;   // BufferKind
  uint32_t fields;       // node id: field list of a structure, literal list of an enumeration
};
static_assert(sizeof(TypeRecord) == 20);

struct FunctionRecord {
  uint32_t params;  // node id of the parameter list
  uint32_t body;    // node id of the body
};
static_assert(sizeof(FunctionRecord) == 8);

struct ProcessDefinitionRecord {
  uint32_t params;
  uint32_t staticVars;
  uint32_t subProcesses;
  uint32_t localVars;
  uint32_t commonBlock;
  uint32_t states;  // first element is the initial state
  uint32_t finallyBlock;
  uint32_t n_subProcesses;
  uint32_t n_staticEntries;  // own statics and, recursively, the sub-processes'
};
static_assert(sizeof(ProcessDefinitionRecord) == 36);

struct GlobalProcessInstanceRecord {
  uint32_t instanceIndex;  // index in processInstanceTable
  uint32_t frontEnd1;      // written by the front end, never read here
  uint32_t frontEnd2;
  uint32_t args;              // node id of the argument list
  uint32_t trigger;           // node id of the activation condition or NO_ID
  uint32_t timingAnnotation;  // node id of its PROCESS_ANNOTATION or NO_ID
  uint32_t staticBase;        // first entry in processStaticVariableTable
  uint32_t definitionId;
};
static_assert(sizeof(GlobalProcessInstanceRecord) == 32);

struct ProcessInstanceRecord {
  uint32_t definitionId;
  uint32_t staticBase;  // NO_ID when its definition owns no static entries
};
static_assert(sizeof(ProcessInstanceRecord) == 8);

// ---------------------------------------------------------------- program

struct Dbg {
  MemArray<uint32_t> symbolTableIndex;               // n_symbols
  MemArray<uint32_t> processDefinitionSymbolId;      // n_processDefinitions
  MemArray<uint32_t> globalProcessInstanceSymbolId;  // n_globalProcessInstances
  MemArray<uint32_t> globalVariableSymbolId;         // n_globalVariables
  MemArray<uint32_t> globalConstantSymbolId;         // n_globalConstants
  MemArray<uint32_t> processStaticVariableSymbolId;  // n_processStaticVariables
  MemArray<uint32_t> typeSymbolId;                   // n_type
  MemArray<uint32_t> functionSymbolId;               // n_functions
  MemArray<uint32_t> processInstanceSymbolId;        // n_processInstances
  MemArray<char> symbolTable;                        // symbolStorageSize bytes
  MemArray<uint32_t> nodeLine;                       // max_ast_size
};

struct Program {
  std::unique_ptr<ProgramHeader> header;
  std::unique_ptr<InfoProg> infoProg;
  MemArray<AST_Node> RAMprogram;
  AST_Node* root = nullptr;
  MemArray<FunctionRecord> functionTable;
  MemArray<TypeRecord> typeTable;
  MemArray<GlobalProcessInstanceRecord> processGlobalInstanceTable;
  MemArray<ProcessInstanceRecord> processInstanceTable;
  MemArray<ProcessDefinitionRecord> processDefinitionTable;
  MemArray<ValueCell> globalVariableDataInitTable;
  MemArray<ValueCell> processStaticVariableDataInitTable;
  MemArray<ValueCell> constantDataTable;
  MemArray<TaggedValue> globalVariableTable;
  MemArray<TaggedValue> processStaticVariableTable;
  MemArray<TaggedValue> globalConstantTable;
  MemArray<char> stringTable;
  MemArray<uint32_t> stringTableIndex;
  std::unique_ptr<Dbg> dbg;
};

// An empty program: header, zeroed information record and debug record.
std::unique_ptr<Program> Program_create();

// ---------------------------------------------------------------- node access

AST_Node* AST_fromId(const Program* program, uint32_t id);  // NO_ID gives null
// The same without the bound check, for the interpreter's hot paths: the
// programs it runs have been checked when they were loaded or compiled.
inline const AST_Node* AST_child(const Program* program, uint32_t id) {
  return id == NO_ID ? nullptr : &program->RAMprogram[id];
}
uint32_t AST_id(const Program* program, const AST_Node* node);  // null gives NO_ID
AST_Node* AST_left(const Program* program, const AST_Node* p);
AST_Node* AST_right(const Program* program, const AST_Node* p);

AST_Node* AST_getCar(const Program* program, const AST_Node* list);
AST_Node* AST_getCdr(const Program* program, const AST_Node* list);
AST_Node* AST_getListNext(const Program* program, const AST_Node* list);
AST_Node* AST_getListNth(const Program* program, const AST_Node* list, uint32_t n);
AST_Node* AST_getListNthRoot(const Program* program, const AST_Node* list, uint32_t n);
inline AST_Node* AST_getListFirst(const Program* program, const AST_Node* list) {
  return AST_getListNth(program, list, 0);
}
uint32_t AST_listSize(const Program* program, const AST_Node* list);  // null list: 0

// List iterator: holds the current LIST cell.
struct AST_ListIterator {
  const Program* program;
  AST_Node* cell;
};
AST_ListIterator ast_it_create(const Program* program, AST_Node* list);
AST_Node* ast_it_current(const AST_ListIterator& it);
bool ast_it_hasNext(const AST_ListIterator& it);
void ast_it_next(AST_ListIterator& it);
inline bool ast_it_notEnd(const AST_ListIterator& it) {
  return it.cell != nullptr;
}

// Calls: CALL_OP -> INDEX_NODE (code, object) -> INDEX_NODE (custom id).
uint32_t AST_getCallCode(const Program* program, const AST_Node* call);
AST_Node* AST_getCallObj(const Program* program, const AST_Node* call);
AST_Node* AST_getCallArgs(const Program* program, const AST_Node* call);
// The custom id is in the right-child INDEX_NODE of the call's INDEX_NODE or,
// when that child is absent, in the call INDEX_NODE's second value word.
uint32_t AST_getCustomFuncId(const Program* program, const AST_Node* call);
uint32_t AST_getCustomFldOffsetId(const Program* program, const AST_Node* call);
uint32_t AST_getCallSubProcId(const Program* program, const AST_Node* call);

// States: NAMED_STATE_STATEMENT -> STATE_DCL (block, transitions).
uint32_t AST_getStateId(const Program* program, const AST_Node* namedState);
AST_Node* AST_getStateVarDecl(const Program* program, const AST_Node* namedState);
AST_Node* AST_getStateDecl(const Program* program, const AST_Node* namedState);  // the STATE_DCL
AST_Node* AST_getStateBlock(const Program* program, const AST_Node* stateDcl);
AST_Node* AST_getStateTransitions(const Program* program, const AST_Node* stateDcl);
AST_Node* AST_getTransitionCondition(const Program* program, const AST_Node* onTransition);
AST_Node* AST_getTransitionReachedASTState(const Program* program, const AST_Node* transition);
AST_Node* AST_getTransitionStatement(const Program* program, const AST_Node* transition);
AST_Node* AST_getAfterTransitionDelay(const Program* program, const AST_Node* afterTransition);
AST_Node* AST_getAfterTransitionCondition(const Program* program, const AST_Node* afterTransition);

// Process instances and definitions.
uint32_t AST_getProcessInstanceDefinition(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessInstanceParams(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessInstanceTiming(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessInstanceTimingPeriod(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessInstanceTimingOffset(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessInstanceTrigger(const Program* program, const AST_Node* instance);
AST_Node* AST_getProcessDefStaticVars(const Program* program, const AST_Node* def);
AST_Node* AST_getProcessDefSubprocesses(const Program* program, const AST_Node* def);
AST_Node* AST_getProcessDefLocalVars(const Program* program, const AST_Node* def);
AST_Node* AST_getProcessDefCommonBlock(const Program* program, const AST_Node* def);
AST_Node* AST_getProcessDefStates(const Program* program, const AST_Node* def);
AST_Node* AST_getProcessDefFinallyBlock(const Program* program, const AST_Node* def);

// Types, fields, enumerations, annotations, root.
uint32_t AST_getTypeTypeId(const Program* program, const AST_Node* typeNode);
uint32_t AST_getStructFieldSymId(const Program* program, const AST_Node* field);
uint32_t AST_getStructFieldTypeId(const Program* program, const AST_Node* field);
// An enumeration literal: an ENUM_OP expression (value in its left SYM) or an
// element of an enumeration's literal list (a SYM node).
uint32_t AST_getEnumValue(const Program* program, const AST_Node* literal);
AST_Node* AST_getAnnotationScope(const Program* program, const AST_Node* annotation);
AST_Node* AST_getGlobalDefinitions(const Program* program);

// Declarations.
uint32_t AST_getVarDeclTypeId(const Program* program, const AST_Node* decl);
uint32_t AST_getVarDeclSymId(const Program* program, const AST_Node* decl);
AST_Node* AST_getVarDeclInitializer(const Program* program, const AST_Node* decl);
AST_Node* AST_getFunctionArgs(const Program* program, const AST_Node* function);
AST_Node* AST_getFunctionBody(const Program* program, const AST_Node* function);
AST_Node* AST_getProcessArgs(const Program* program, const AST_Node* process);
uint32_t AST_getTypeDeclSymId(const Program* program, const AST_Node* typeDecl);
AST_Node* AST_getTypeDeclFields(const Program* program, const AST_Node* typeDecl);

// ---------------------------------------------------------------- tables

const char* Symbol_getName(const Program* program, uint32_t symId);
// The name of an enumeration value's literal, or null for 0 and for a value that
// names no symbol (data from a file or a device can hold anything).
const char* Symbol_enumLiteralName(const Program* program, uint32_t value);
uint32_t Type_getSymId(const Program* program, uint32_t typeId);
const char* Type_getName(const Program* program, uint32_t typeId);
uint32_t Type_getBaseType(const Program* program, uint32_t typeId);
uint32_t Type_getSize(const Program* program, uint32_t typeId);
uint32_t Type_getStorageSize(const Program* program, uint32_t typeId);
uint32_t Type_getBufferType(const Program* program, uint32_t typeId);
uint32_t Type_getFields(const Program* program, uint32_t typeId);
const char* Program_getStringAtIndex(const Program* program, uint32_t index);
const char* Function_getName(const Program* program, uint32_t funcId);
const char* Constant_getName(const Program* program, uint32_t constantId);
const char* GlobalVariable_getName(const Program* program, uint32_t globalId);

// ---------------------------------------------------------------- construction

// Allocates n zeroed nodes as RAMprogram; max_ast_size = n.
void AST_createTree(Program* program, uint32_t n);
// Allocates dbg->nodeLine with n entries (only once).
void AST_createLineIndex(Program* program, uint32_t n);

inline constexpr int kNodeSpaceExhaustedStatus = 666;

// Appends a copy of `node` as node n_AST and returns its id. When the count
// after the increment is not below max_ast_size the process ends with
// "Error: Memory model too small enlarge using -m option\n" and status 666.
uint32_t makeNode(Program* program, const AST_Node& node);
uint32_t AST_AddNode(Program* program, const AST_Node& node);  // a node read from a file
AST_Node* AST_makeNodeVal(Program* program, uint32_t op, NodeValue value, const AST_Node* left,
                          const AST_Node* right, uint32_t line);
AST_Node* AST_makeNode(Program* program, uint32_t op, uint32_t valueWord, const AST_Node* left,
                       const AST_Node* right, uint32_t line);
AST_Node* AST_makeBooleanNode(Program* program, bool value, uint32_t line);
// Links a new LIST cell holding `element` after the last cell of `list`.
void AST_addListLast(Program* program, AST_Node* list, const AST_Node* element, uint32_t line);
uint32_t AST_lineFromId(const Program* program, uint32_t id);
uint32_t AST_get_tree_size(const Program* program);
void AST_set_tree_size(Program* program, uint32_t n);
