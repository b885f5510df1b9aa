// Assembling a whole program: what a program file holds besides code.
//
// This is the one place that knows the layouts the interpreter reads:
//   - the 36 built-in types every program starts with (Named_Block and State
//     being structures of three times) and node 0, the ROOT;
//   - the cleared contents of a value (empty queues and stacks hold their
//     two index cells, structures clear field by field);
//   - global variables over their initial data, each pointing at its first
//     cell; the k-th global of type Process_Instance is the k-th top-level
//     instance;
//   - process instances numbered depth-first: a top-level instance, then its
//     sub-process instances in list order, each followed by its own; each
//     instance's static block (first the Process_Instance values of its
//     sub-processes, then its own statics) follows its parent's;
//   - the global process instance records, and System.processes sized to the
//     number of top-level instances;
//   - the shapes of a process declaration (six-element body list), a state
//     (its State variable and STATE_DCL), an `on` / `after` transition and a
//     top-level instance (arguments, timing, trigger).
// The compiler fills a `WholeProgram` as it parses; `assembly_finish` lays
// the tables out. The test program builder uses the same routines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ASTLib/rAST.h"
#include "parserLib/parser_data.h"

// Node space reserved while a whole program is compiled (nodes are never
// moved while the parser holds them); the finished program keeps what it
// used plus the console's spare nodes.
inline constexpr uint32_t kCompileNodeCapacity = 1u << 21;

// A program with node 0 (the ROOT) and the built-in types, its node space
// and line table sized for compiling.
std::unique_ptr<Program> assembly_createProgram(uint32_t nodeCapacity = kCompileNodeCapacity);

// The cleared contents of a value of the type, as cells.
std::vector<ValueCell> assembly_clearedCells(const Program* program, uint32_t typeId);

// ---- shapes of declarations

// A state's State variable, named like the state (declared before its block
// and its transitions are compiled: both see it).
AST_Node* assembly_makeStateVariable(ParserEnv* penv, uint32_t nameSymbol);
// A NAMED_STATE_STATEMENT: its State variable, then the STATE_DCL of its
// block and transitions (either may be null).
AST_Node* assembly_makeState(ParserEnv* penv, uint32_t nameSymbol, AST_Node* stateVariable,
                             AST_Node* block, AST_Node* transitions);
// An `on` (delay null) or `after` transition; its target is set with
// assembly_setTransitionTarget once the state is known.
AST_Node* assembly_makeTransition(ParserEnv* penv, AST_Node* condition, AST_Node* delay,
                                  AST_Node* statement);
void assembly_setTransitionTarget(AST_Node* transition, const ParserEnv* penv,
                                  const AST_Node* state);
// The PROCESS_DECLARATION and its record from its six parts (any may be null).
struct ProcessParts {
  AST_Node* params = nullptr;
  AST_Node* statics = nullptr;
  AST_Node* subProcesses = nullptr;
  AST_Node* locals = nullptr;
  AST_Node* common = nullptr;
  AST_Node* states = nullptr;
  AST_Node* finallyBlock = nullptr;
  uint32_t n_subProcesses = 0;
  uint32_t n_staticEntries = 0;
};
AST_Node* assembly_makeProcessDeclaration(ParserEnv* penv, const ProcessParts& parts,
                                          ProcessDefinitionRecord* record);
// A sub-process entry of a definition's list.
AST_Node* assembly_makeSubProcess(ParserEnv* penv, uint32_t definitionId, uint32_t definitionSymbol,
                                  uint32_t nameSymbol);
// A top-level PROCESS_INSTANCE_NODE: definition, then the list (arguments,
// timing [period, offset], trigger); timing is absent without a period.
AST_Node* assembly_makeInstance(ParserEnv* penv, uint32_t definitionId, uint32_t definitionSymbol,
                                AST_Node* args, AST_Node* period, AST_Node* offset,
                                AST_Node* trigger);

// ---- the program being assembled

// A source file of the program (kept for the second pass and for carets).
struct SourceFile {
  std::string path;  // as it is named in diagnostics
  std::string text;
};

enum class DeferredKind { FunctionBody, ProcessBody, Instance, Annotation };

// A part of a file that the first pass skipped: it may use functions,
// process definitions and instances declared after it.
struct DeferredItem {
  DeferredKind kind;
  const SourceFile* file;
  size_t offset;  // of its first token
  size_t line;
  uint32_t index;              // function id, process definition id or instance number
  AST_Node* cell = nullptr;    // the definitions-list cell the result goes into
  std::vector<uint32_t> path;  // an annotation's path
};

struct StaticDecl {
  uint32_t symbol;
  uint32_t type;
  std::vector<ValueCell> init;
};

struct SubProcessDecl {
  uint32_t symbol;
  uint32_t definition;
};

// Where a declaration was written, for diagnostics made after its text.
struct SourceLocation {
  const SourceFile* file = nullptr;
  size_t line = 0;
  size_t column = 0;
};

struct ProcessDraft {
  uint32_t symbol = NO_ID;
  bool hasBody = false;
  SourceLocation at;
  std::vector<StaticDecl> statics;
  std::vector<SubProcessDecl> subs;
};

struct InstanceDecl {
  uint32_t symbol;
  uint32_t definitionSymbol;
  uint32_t definition = NO_ID;  // known once every definition is
  uint32_t globalId;
  AST_Node* node = nullptr;  // PROCESS_INSTANCE_NODE
  AST_Node* args = nullptr;
  AST_Node* trigger = nullptr;
  AST_Node* annotation = nullptr;  // its PROCESS_ANNOTATION
  SourceLocation at;
};

struct WholeProgram {
  std::vector<std::unique_ptr<SourceFile>> files;
  std::vector<DeferredItem> deferred;
  size_t nextDeferred = 0;              // the first item the second pass has not compiled
  std::vector<ProcessDraft> processes;  // by definition id
  std::vector<InstanceDecl> instances;
  std::vector<std::vector<ValueCell>> globalInit;  // by global id
  std::vector<bool> functionHasBody;               // by function id
  std::vector<SourceLocation> functionAt;          // by function id
  AST_Node* definitions = nullptr;                 // the list of the file being compiled
  AST_Node* lastDefinition = nullptr;
  // Opens an included file: its path as named in diagnostics and its text,
  // or null when no folder holds it.
  std::function<const SourceFile*(const SourceFile& from, const std::string& name)> openInclude;
  std::vector<std::string> includeStack;  // paths of the files being compiled
};

// A new cell at the end of the definitions list of the file being compiled.
AST_Node* assembly_appendDefinition(ParserEnv* penv, WholeProgram& whole, AST_Node* element);

// Adds a global variable (its initial cells; empty: cleared). Returns its id.
uint32_t assembly_addGlobal(ParserEnv* penv, WholeProgram& whole, uint32_t symbol, uint32_t typeId,
                            std::vector<ValueCell> init);
// Adds a global constant over cells of the constant data. Returns its id.
uint32_t assembly_addConstant(ParserEnv* penv, uint32_t symbol, uint32_t typeId,
                              const std::vector<ValueCell>& cells);
uint32_t assembly_addFunction(ParserEnv* penv, uint32_t symbol, AST_Node* params, AST_Node* body);
uint32_t assembly_addProcessDefinition(ParserEnv* penv, uint32_t symbol,
                                       const ProcessDefinitionRecord& record);

// System.processes holds one entry per top-level instance. Sized once every
// instance is known and before any code is compiled: the offsets of the
// fields after it depend on its size.
void assembly_sizeProcesses(Program* program, uint32_t instances);

// Lays the tables out once everything is compiled: System.processes sized to
// the instances, global data and value pointers, instances depth-first with
// their static blocks, the global instance records, the init function, the
// ROOT's definitions, and a node space of what was used plus the console's
// spare nodes. The model name is `modelName`, cut to 128 bytes.
void assembly_finish(ParserEnv* penv, WholeProgram& whole, const std::string& modelName);
