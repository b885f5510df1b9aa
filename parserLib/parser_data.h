// The front end's environment: the program being extended, the interpreter
// that runs it, and the parser context.
//
// The console compiles each line it is given against the running program:
// `parser_initTables` makes a fresh front-end environment, `parser_loadProgram`
// attaches the interpreter's program (the front end then adds nodes, symbols,
// types and constant data to it), `parser_parseString` compiles one text, and
// `parser_freeEnv` releases the front end without touching the program. The
// console sets the node count and the other tables back once it has executed
// what was compiled (`parser_markTables` / `parser_restoreTables`), so the
// next line's nodes overwrite this line's.
//
// The console's budget is the program's spare node space: a line that needs
// more nodes is refused with a diagnostic instead of ending the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ASTLib/rENV.h"

// The diagnostic codes of the front end (0 is a warning).
inline constexpr uint32_t kParseFailed = static_cast<uint32_t>(-1);

// Access rights of an expression.
enum AccessRights : uint32_t {
  kAccessNone = 0,
  kAccessRead = 1,
  kAccessWrite = 2,
  kAccessReadWrite = 3
};

// A local of the scopes being compiled.
struct ParserLocal {
  uint32_t symbol;
  uint32_t typeId;
  uint32_t index;        // local id relative to the running scope's base
  uint32_t declaration;  // node id of the declaring node
  uint32_t access;       // AccessRights
  bool iterator;
  uint32_t definition = NO_ID;  // a sub-process instance's process definition
};

struct ParserEnv;

// One diagnostic, handed to the environment's sink once its text is made.
struct Diagnostic {
  bool error = true;
  uint32_t code = 0;      // 0 for a warning
  std::string_view file;  // empty: not known
  size_t line = 0;        // 0: not known
  size_t column = 0;      // 1-based column of the token it is about; 0: not known
  std::string_view message;
};
// Where diagnostics go. Without one, the console's format is printed on
// standard output: "[ERROR]" or "[WARNING]", " %s:" with the file name when
// one is known, " Line %zu:" with the line when it is known, a blank, the message.
using DiagnosticSink = std::function<void(const ParserEnv&, const Diagnostic&)>;

// Whole programs stop reporting after this many errors.
inline constexpr size_t kMaxReportedErrors = 50;

struct ParserContext {
  std::string fileName;     // empty: not known
  std::string lineText;     // the current source line (at most 500 characters)
  size_t line = 0;          // 0: not known
  size_t column = 0;        // of the token diagnostics are about; 0: not known
  std::string_view source;  // the whole text being compiled (for carets)
  uint32_t result = NO_ID;  // node id of the console line's statement or expression
  uint32_t status = 0;      // the last error code
  size_t errorCount = 0;
  bool warningsAsErrors = false;
  DiagnosticSink sink;
  // Compiling a whole program (not a console line against a running one).
  bool wholeProgram = false;
  std::string enclosing;  // the function or process being compiled (assertion reports)
  std::vector<std::string> comments;
  std::vector<std::string> numerics;  // texts of float literals, by index
  // Scopes of locals and constants: each opened block pushes a mark.
  std::vector<ParserLocal> localVars;
  std::vector<ParserLocal> localConsts;
  std::vector<size_t> scopeMarks;       // localVars size at each open scope
  std::vector<size_t> constScopeMarks;  // localConsts size at each open scope
  uint32_t firstLocalIndex = 0;         // local id of the first console local
  uint32_t firstLocalConstant = 0;
  uint32_t parseStartNodes = 0;  // node count when the parse started
  bool nodeBudgetExceeded = false;
  // The static variables of the process being compiled (index relative to
  // its static block); the first `subProcessCount` are its sub-process
  // instances.
  std::vector<ParserLocal> staticVars;
  uint32_t subProcessCount = 0;
  // Whole programs keep local constants in the global constant table (their
  // value is known when compiling), hidden from global name look-ups.
  std::unordered_set<uint32_t> hiddenConstants;
  // `state NAME` in a whole program: checked once every state is known.
  struct StateReference {
    uint32_t symbol;
    std::string fileName;
    size_t line;
    size_t column;
  };
  std::vector<StateReference> stateReferences;
  // The types of the operations already typed, by node id: a long chain of
  // operations is typed once, not once per link.
  std::unordered_map<uint32_t, uint32_t> typeCache;
};

struct ParserEnv {
  Program* program = nullptr;    // the program being extended (not owned once loaded)
  InterpEnv* ienv = nullptr;     // the interpreter running it
  std::unique_ptr<Program> own;  // the empty program of a fresh environment
  ParserContext pctx;
};

// A fresh front-end environment with an empty program of its own.
std::unique_ptr<ParserEnv> parser_initTables();
// Attaches the interpreter's program and environment; sets up the built-in
// call tables and post symbols.
void parser_loadProgram(ParserEnv* penv, InterpEnv* ienv);
// Compiles one text; -1 when the parse failed, otherwise the last status code
// (0 when no error was reported). The compiled root is pctx.result. The
// nodes made stay counted until the caller sets the tables back.
int parser_parseString(ParserEnv* penv, const char* text);
// Releases the front end; the attached program stays with the interpreter.
void parser_freeEnv(std::unique_ptr<ParserEnv> penv);

// What a console line may add to the program, to be set back once what it
// compiled has run (its nodes must stay valid until then).
struct ParserTableMark {
  uint32_t n_AST;
  uint32_t n_symbols;
  uint32_t symbolStorageSize;
  uint32_t n_type;
  uint32_t size_constantData;
  uint32_t n_strings;
  uint32_t stringTableSize;
};
ParserTableMark parser_markTables(const Program* program);
void parser_restoreTables(Program* program, const ParserTableMark& mark);

// ---- growing the program's tables (the front end's only way to add to them)

// The id of a symbol with that name, added when new.
uint32_t parser_internSymbol(ParserEnv* penv, const char* name);
// A new type; its name symbol is interned. Returns the type id.
uint32_t parser_addType(ParserEnv* penv, const TypeRecord& record, const char* name);
// Appends cells to the constant data; returns the index of the first. Value
// pointers into the constant data (global and local constants) follow it.
uint32_t parser_addConstantData(ParserEnv* penv, const ValueCell* cells, uint32_t count);
// The index of a string in the string table, added when new.
uint32_t parser_internString(ParserEnv* penv, const char* text);
// Entries of the whole program's tables (their data is laid out when the
// program is finished). Each returns the new entry's id.
uint32_t parser_addGlobalVariable(ParserEnv* penv, uint32_t symbol, uint32_t typeId);
uint32_t parser_addGlobalConstant(ParserEnv* penv, uint32_t symbol, uint32_t typeId,
                                  uint32_t firstCell);
uint32_t parser_addFunction(ParserEnv* penv, uint32_t symbol, const FunctionRecord& record);
uint32_t parser_addProcessDefinition(ParserEnv* penv, uint32_t symbol,
                                     const ProcessDefinitionRecord& record);

// A node in the program, counted against the line's budget. When the budget
// is exhausted the node is not made: the error is reported once and null is
// returned, so callers must accept null children.
AST_Node* parser_makeNode(ParserEnv* penv, uint32_t op, NodeValue value, const AST_Node* left,
                          const AST_Node* right);
AST_Node* parser_makeNodeWord(ParserEnv* penv, uint32_t op, uint32_t word, const AST_Node* left,
                              const AST_Node* right);
// A list of one element, and the append of an element to a list (null list: a new one).
AST_Node* parser_makeList(ParserEnv* penv, const AST_Node* element);
AST_Node* parser_appendList(ParserEnv* penv, AST_Node* list, const AST_Node* element);
