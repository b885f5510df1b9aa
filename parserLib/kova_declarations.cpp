// Whole-program declarations: the two passes over a program's files.
#include <algorithm>
#include <cstring>
#include <string>

#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_expression.h"
#include "parserLib/def_statement.h"
#include "parserLib/def_type.h"
#include "parserLib/def_variable.h"
#include "parserLib/diagnostics.h"
#include "parserLib/parser_private.h"

namespace kova_parser {

namespace {

const char* name(const ParserEnv* penv, uint32_t symbol) {
  return Symbol_getName(penv->program, symbol);
}

uint32_t symbolOf(const AST_Node* node) {
  return node != nullptr ? node->value.id.index : NO_ID;
}

uint32_t findGlobal(const Program* p, uint32_t symbol) {
  for (uint32_t i = 0; i < p->infoProg->n_globalVariables; ++i) {
    if (p->dbg->globalVariableSymbolId[i] == symbol) return i;
  }
  return NO_ID;
}

uint32_t findConstant(const ParserEnv* penv, uint32_t symbol) {
  const Program* p = penv->program;
  for (uint32_t i = 0; i < p->infoProg->n_globalConstants; ++i) {
    if (p->dbg->globalConstantSymbolId[i] == symbol && !penv->pctx.hiddenConstants.contains(i)) {
      return i;
    }
  }
  return NO_ID;
}

uint32_t findFunction(const Program* p, uint32_t symbol) {
  for (uint32_t i = 0; i < p->infoProg->n_functions; ++i) {
    if (p->dbg->functionSymbolId[i] == symbol) return i;
  }
  return NO_ID;
}

uint32_t findDefinition(const Program* p, uint32_t symbol) {
  for (uint32_t i = 0; i < p->infoProg->n_processDefinitions; ++i) {
    if (p->dbg->processDefinitionSymbolId[i] == symbol) return i;
  }
  return NO_ID;
}

uint32_t findTypeNamed(const Program* p, const char* text) {
  for (uint32_t i = 0; i < p->infoProg->n_type; ++i) {
    if (std::strcmp(Type_getName(p, i), text) == 0) return i;
  }
  return NO_ID;
}

bool isChannelKind(uint32_t kind) {
  return kind == QUEUE_BUFFER || kind == STACK_BUFFER || kind == OTHER_CHANNEL_BUFFER ||
         kind == STRING_BUFFER;
}

// Literal types (Natural, Signed_Integer, time, Float) and the abstract types
// without storage name no variable: the interpreter has no value of them.
bool isVariableType(const ParserEnv* penv, uint32_t type) {
  if (type == NO_ID) return false;
  if (type == TypeInt || type == TypeSInt || type == TypeTime || type == TypeFloat) return false;
  return Type_getStorageSize(penv->program, type) > 0;
}

bool checkVariableType(ParserEnv* penv, uint32_t type) {
  if (type == NO_ID) return false;
  if (isVariableType(penv, type)) return true;
  diag::not_a_variable_type(penv, Type_getName(penv->program, type));
  return false;
}

// The cells of a declaration's constant initial value (empty: cleared).
std::vector<ValueCell> initialCells(ParserEnv* penv, AST_Node* declaration, bool* ok) {
  *ok = true;
  const Program* p = penv->program;
  const uint32_t type = AST_getVarDeclTypeId(p, declaration);
  AST_Node* init = AST_getVarDeclInitializer(p, declaration);
  if (init == nullptr) return {};
  if (init->op != INITIALIZER_OP) init = defVar_makeInitializer(penv, init, type);
  if (init == nullptr) {
    *ok = false;
    return {};
  }
  const uint32_t first = init->value.id.index;
  const uint32_t count = Type_getStorageSize(p, type);
  std::vector<ValueCell> cells(count);
  for (uint32_t i = 0; i < count && first + i < p->infoProg->size_constantData; ++i) {
    cells[i] = p->constantDataTable[first + i];
  }
  return cells;
}

}  // namespace

// ---------------------------------------------------------------- first pass

// program -> { top_level }
void Parser::program(WholeProgram& whole) {
  while (tok_.kind != TOK_END && penv_->pctx.errorCount < kMaxReportedErrors) {
    topLevel(whole);
    if (failed_) synchronize(true);
  }
}

// top_level -> include | variable_declaration | enum | struct | function | processdef
//            | instance | annotation
void Parser::topLevel(WholeProgram& whole) {
  switch (tok_.kind) {
    case TOK_INCLUDE: return includeDeclaration(whole);
    case TOK_VAR:
    case TOK_CONST: return globalDeclaration(whole);
    case TOK_ENUM: return enumDeclaration(whole);
    case TOK_STRUCT: return structDeclaration(whole);
    case TOK_PROCESSDEF: return processDefinition(whole);
    case TOK_PROCESS: return instanceDeclaration(whole);
    case TOK_AT: return topAnnotation(whole);
    case TOK_IDENT:
      if (peek().kind == TOK_LPAREN) return functionDeclaration(whole);
      [[fallthrough]];
    default: syntaxError();
  }
}

// include -> 'include' STRING ';'
void Parser::includeDeclaration(WholeProgram& whole) {
  advance();
  check(TOK_STRING);
  if (failed_) return;
  const Token nameToken = tok_;
  advance();
  if (!checkNext(TOK_SEMICOLON)) return;
  const std::string included = nameToken.text.substr(1, nameToken.text.size() - 2);
  const SourceFile* from = currentFile(whole);
  const SourceFile* file =
      from != nullptr && whole.openInclude ? whole.openInclude(*from, included) : nullptr;
  locate(nameToken);
  if (file == nullptr) {
    diag::include_not_found(penv_, included.c_str());
    return;
  }
  if (std::find(whole.includeStack.begin(), whole.includeStack.end(), file->path) !=
      whole.includeStack.end()) {
    diag::include_cycle(penv_, file->path.c_str());
    return;
  }
  // The included file's declarations form their own list.
  ParserContext& c = penv_->pctx;
  const std::string outerFile = c.fileName;
  const std::string_view outerSource = c.source;
  const std::string outerLineText = c.lineText;
  AST_Node* outerDefinitions = whole.definitions;
  AST_Node* outerLast = whole.lastDefinition;
  whole.definitions = whole.lastDefinition = nullptr;
  whole.includeStack.push_back(file->path);
  c.fileName = file->path;
  c.source = file->text;
  {
    Parser inner(penv_, file->text, 0, 1);
    inner.program(whole);
  }
  whole.includeStack.pop_back();
  AST_Node* included_list = whole.definitions;
  whole.definitions = outerDefinitions;
  whole.lastDefinition = outerLast;
  c.fileName = outerFile;
  c.source = outerSource;
  c.lineText = outerLineText;
  locate(last_);
  AST_Node* label = parser_makeNodeWord(
      penv_, INDEX_NODE, parser_internString(penv_, included.c_str()), nullptr, nullptr);
  AST_Node* node = parser_makeNodeWord(penv_, INCLUDE_OP, 0, included_list, label);
  assembly_appendDefinition(penv_, whole, node);
}

// enum -> 'enum' IDENT '{' IDENT { ',' IDENT } '}' ';'
void Parser::enumDeclaration(WholeProgram&) {
  advance();
  check(TOK_IDENT);
  if (failed_) return;
  const Token nameToken = tok_;
  const uint32_t symbol = symbolOf(takeNode());
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LBRACE)) return;
  AST_Node* literals = nullptr;
  std::vector<uint32_t> seen;
  do {
    check(TOK_IDENT);
    if (failed_) return;
    const Token literal = tok_;
    AST_Node* sym = takeNode();
    if (std::find(seen.begin(), seen.end(), symbolOf(sym)) != seen.end()) {
      locate(literal);
      diag::enumeration_literal_listed_twice(penv_, name(penv_, symbolOf(sym)));
    }
    seen.push_back(symbolOf(sym));
    literals = parser_appendList(penv_, literals, sym);
  } while (testNext(TOK_COMMA));
  if (!checkMatch(TOK_RBRACE, TOK_LBRACE, openLine) || !checkNext(TOK_SEMICOLON)) return;
  if (findTypeNamed(penv_->program, name(penv_, symbol)) != NO_ID) {
    locate(nameToken);
    diag::type_already_defined(penv_, name(penv_, symbol));
    return;
  }
  parser_addType(penv_, {TypeEnum, 0, 1, NONE_BUFFER, AST_id(penv_->program, literals)},
                 name(penv_, symbol));
}

// struct -> 'struct' IDENT '{' { field } '}' ';'
// field  -> type ':' IDENT [ '[' expression ']' ] ';' | buffer_kind '<' type '>' ':' IDENT '['
// expression ']' ';'
void Parser::structDeclaration(WholeProgram&) {
  advance();
  check(TOK_IDENT);
  if (failed_) return;
  const Token nameToken = tok_;
  const uint32_t symbol = symbolOf(takeNode());
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LBRACE)) return;
  AST_Node* fields = nullptr;
  uint32_t storage = 0;
  bool ok = true;
  std::vector<uint32_t> seen;
  while (!failed_ && tok_.kind != TOK_RBRACE && tok_.kind != TOK_END) {
    uint32_t kind = NONE_BUFFER;
    if (tok_.kind == TOK_QUEUE || tok_.kind == TOK_STACK || tok_.kind == TOK_CHANNEL) {
      kind = tok_.kind == TOK_QUEUE   ? QUEUE_BUFFER
             : tok_.kind == TOK_STACK ? STACK_BUFFER
                                      : STRING_BUFFER;
      advance();
      if (!checkNext(TOK_LT)) return;
    }
    check(TOK_IDENT);
    if (failed_) return;
    uint32_t type = defType_lookup(penv_, takeNode());
    if (kind != NONE_BUFFER && !checkNext(TOK_GT)) return;
    if (!checkNext(TOK_COLON)) return;
    // `continue` names a field of Process_Instance.
    if (tok_.kind != TOK_CONTINUE) check(TOK_IDENT);
    if (failed_) return;
    const Token fieldToken = tok_;
    const uint32_t fieldSymbol = symbolOf(takeNode());
    AST_Node* size = nullptr;
    if (testNext(TOK_LBRACKET)) {
      const size_t bracketLine = last_.line;
      size = expression().node;
      if (!checkMatch(TOK_RBRACKET, TOK_LBRACKET, bracketLine)) return;
      type = size != nullptr ? defBuff_makeType(penv_, kind, type, size) : NO_ID;
    } else if (kind != NONE_BUFFER) {
      diag::channel_size_not_specified(penv_);
      type = NO_ID;
    }
    if (!checkNext(TOK_SEMICOLON)) return;
    if (std::find(seen.begin(), seen.end(), fieldSymbol) != seen.end()) {
      locate(fieldToken);
      diag::field_declared_twice(penv_, name(penv_, fieldSymbol));
      ok = false;
    }
    seen.push_back(fieldSymbol);
    if (!checkVariableType(penv_, type)) {
      ok = false;
      continue;
    }
    AST_Node* sym = parser_makeNodeWord(penv_, SYM, fieldSymbol, nullptr, nullptr);
    fields = parser_appendList(penv_, fields,
                               parser_makeNodeWord(penv_, FIELD_STATEMENT, type, sym, nullptr));
    storage += Type_getStorageSize(penv_->program, type);
  }
  if (!checkMatch(TOK_RBRACE, TOK_LBRACE, openLine) || !checkNext(TOK_SEMICOLON) || !ok) return;
  locate(nameToken);
  if (findTypeNamed(penv_->program, name(penv_, symbol)) != NO_ID) {
    diag::type_already_defined(penv_, name(penv_, symbol));
    return;
  }
  if (fields == nullptr) {
    diag::structure_no_field(penv_, name(penv_, symbol));
    return;
  }
  parser_addType(penv_, {TypeStructure, 0, storage, NONE_BUFFER, AST_id(penv_->program, fields)},
                 name(penv_, symbol));
}

// A global: the same forms as a local; its initial value is constant.
void Parser::globalDeclaration(WholeProgram& whole) {
  const Token start = tok_;
  const VarDeclParts parts = variableDeclarationParts();
  if (!parts.ok) return;
  const Token nameToken = last_;
  AST_Node* decl = makeDeclaration(parts);
  if (decl == nullptr && !parts.sized && parts.type != NO_ID && parts.name != nullptr) {
    // Declared all the same (its error is reported): its uses are not
    // reported again. The program is not made anyway.
    decl = defVar_makeDefinition(penv_, false, parts.type, parts.name, nullptr);
  }
  if (decl == nullptr) return;
  const uint32_t symbol = AST_getVarDeclSymId(penv_->program, decl);
  const uint32_t type = AST_getVarDeclTypeId(penv_->program, decl);
  locate(start);
  if (findGlobal(penv_->program, symbol) != NO_ID || findConstant(penv_, symbol) != NO_ID) {
    diag::duplicate_global(penv_, name(penv_, symbol));
    return;
  }
  if (!checkVariableType(penv_, type)) return;
  if (type == findTypeNamed(penv_->program, "Process_Instance")) {
    diag::process_instance_global(penv_);
    return;
  }
  bool ok = true;
  std::vector<ValueCell> cells = initialCells(penv_, decl, &ok);
  (void)ok;  // a failed initial value is reported; the name is declared all the same
  (void)nameToken;
  if (parts.constant) {
    if (cells.empty()) cells = assembly_clearedCells(penv_->program, type);
    assembly_addConstant(penv_, symbol, type, cells);
  } else {
    assembly_addGlobal(penv_, whole, symbol, type, std::move(cells));
  }
}

// param -> ('in' | 'out') type ':' IDENT ['[' [expression] ']']
//        | ('in' | 'out') buffer_kind '<' type '>' ':' IDENT
AST_Node* Parser::parameter() {
  const bool out = tok_.kind == TOK_OUT;
  if (!out && tok_.kind != TOK_IN) {
    syntaxError();
    return nullptr;
  }
  advance();
  uint32_t kind = NONE_BUFFER;
  if (!bufferKind(kind)) return nullptr;
  check(TOK_IDENT);
  if (failed_) return nullptr;
  uint32_t type = defType_lookup(penv_, takeNode());
  if (kind != NONE_BUFFER && !checkNext(TOK_GT)) return nullptr;
  if (!checkNext(TOK_COLON)) return nullptr;
  check(TOK_IDENT);
  if (failed_) return nullptr;
  AST_Node* sym = takeNode();
  if (kind == NONE_BUFFER && testNext(TOK_LBRACKET)) {
    const size_t openLine = last_.line;
    if (tok_.kind == TOK_RBRACKET) {
      // T[]: an array of any size.
      if (type != NO_ID) {
        const std::string text = std::string(Type_getName(penv_->program, type)) + "[]";
        type = parser_addType(penv_, {type, kUnsizedBuffer, 0, ARRAY_BUFFER, 0}, text.c_str());
      }
    } else {
      AST_Node* size = expression().node;
      type = size != nullptr ? defBuff_makeType(penv_, NONE_BUFFER, type, size) : NO_ID;
    }
    if (!checkMatch(TOK_RBRACKET, TOK_LBRACKET, openLine)) return nullptr;
  } else if (kind != NONE_BUFFER && type != NO_ID) {
    // A channel parameter takes any channel of its element type.
    const char* word = kind == QUEUE_BUFFER ? "queue" : kind == STACK_BUFFER ? "stack" : "channel";
    const std::string text = std::string(word) + "<" + Type_getName(penv_->program, type) + ">";
    if (!isVariableType(penv_, type)) {
      checkVariableType(penv_, type);
      return nullptr;
    }
    type = parser_addType(penv_, {type, kUnsizedBuffer, 0, kind, 0}, text.c_str());
  } else if (!checkVariableType(penv_, type)) {
    return nullptr;
  }
  if (type == NO_ID) return nullptr;
  const uint32_t bufferKind = defType_bufferKind(penv_->program, type);
  const bool channel = isChannelKind(bufferKind);
  const uint32_t op = out ? (channel ? OUT_CHANNEL_PARAM_OP : OUT_PARAM_OP)
                          : (channel ? IN_CHANNEL_PARAM_OP : IN_PARAM_OP);
  return parser_makeNodeWord(penv_, op, type, sym, nullptr);
}

// parameters -> '(' [ param { ',' param } ] ')'
AST_Node* Parser::parameters() {
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LPAREN)) return nullptr;
  AST_Node* list = nullptr;
  std::vector<uint32_t> seen;
  bool ok = true;
  if (tok_.kind != TOK_RPAREN) {
    do {
      const Token at = tok_;
      AST_Node* p = parameter();
      if (failed_) return nullptr;
      if (p == nullptr) {
        ok = false;
        continue;
      }
      const uint32_t symbol = AST_getVarDeclSymId(penv_->program, p);
      if (std::find(seen.begin(), seen.end(), symbol) != seen.end()) {
        locate(at);
        diag::parameter_declared_twice(penv_, name(penv_, symbol));
        ok = false;
      }
      seen.push_back(symbol);
      list = parser_appendList(penv_, list, p);
    } while (testNext(TOK_COMMA));
  }
  if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return nullptr;
  if (!ok) penv_->pctx.status = penv_->pctx.status == 0 ? 118 : penv_->pctx.status;
  return list;
}

namespace {

// Two parameter lists declare the same parameters.
bool sameParameters(const Program* p, const AST_Node* a, const AST_Node* b) {
  for (; a != nullptr && b != nullptr; a = AST_right(p, a), b = AST_right(p, b)) {
    const AST_Node* x = AST_left(p, a);
    const AST_Node* y = AST_left(p, b);
    if (x->op != y->op) return false;
    const uint32_t tx = x->value.id.type;
    const uint32_t ty = y->value.id.type;
    if (tx != ty && std::strcmp(Type_getName(p, tx), Type_getName(p, ty)) != 0) return false;
  }
  return a == nullptr && b == nullptr;
}

}  // namespace

// The source file being parsed, among the program's files.
const SourceFile* Parser::currentFile(const WholeProgram& whole) const {
  const SourceFile* file = nullptr;
  for (const auto& f : whole.files) {
    if (f->path == penv_->pctx.fileName) file = f.get();
  }
  return file;
}

// IDENT '(' [ param { ',' param } ] ')' ( '{' | ';' ): what a function and a
// process definition share. False when parsing cannot go on.
bool Parser::signature(Signature& sig) {
  sig.nameToken = tok_;
  sig.symbol = symbolOf(takeNode());
  const size_t errorsBefore = penv_->pctx.errorCount;
  sig.params = parameters();
  if (failed_) return false;
  sig.hasBody = tok_.kind == TOK_LBRACE;
  if (!sig.hasBody && !checkNext(TOK_SEMICOLON)) return false;
  locate(sig.nameToken);
  sig.name = name(penv_, sig.symbol);
  sig.ok = penv_->pctx.errorCount == errorsBefore;
  return true;
}

// function -> IDENT '(' [ param { ',' param } ] ')' ( block | ';' )
void Parser::functionDeclaration(WholeProgram& whole) {
  Signature sig;
  if (!signature(sig)) return;
  const Token& nameToken = sig.nameToken;
  const uint32_t symbol = sig.symbol;
  AST_Node* params = sig.params;
  const bool hasBody = sig.hasBody;
  const char* text = sig.name.c_str();
  bool ok = sig.ok;
  if (lookupFunctionProtos(penv_, symbol) != nullptr) {
    diag::builtin_function_name(penv_, text);
    ok = false;
  } else if (std::strcmp(text, "init") == 0 && params != nullptr) {
    diag::init_takes_no_parameter(penv_);
    ok = false;
  }
  uint32_t id = findFunction(penv_->program, symbol);
  if (ok && id != NO_ID) {
    const AST_Node* earlier = AST_fromId(penv_->program, penv_->program->functionTable[id].params);
    if (hasBody && whole.functionHasBody[id]) {
      diag::function_already_defined(penv_, text);
      ok = false;
    } else if (!sameParameters(penv_->program, earlier, params)) {
      diag::function_declarations_differ(penv_, text);
      ok = false;
    }
  }
  if (ok && id == NO_ID) {
    id = assembly_addFunction(penv_, symbol, params, nullptr);
    whole.functionHasBody.push_back(false);
    whole.functionAt.push_back({nullptr, nameToken.line, nameToken.column});
    whole.functionAt.back().file = currentFile(whole);
  }
  if (!hasBody) {
    if (ok) {
      assembly_appendDefinition(penv_, whole,
                                parser_makeNodeWord(penv_, FUNCTION_PROTOTYPE, 0, params, nullptr));
    }
    return;
  }
  const Token open = tok_;
  if (!skipBraces() || !ok) return;
  whole.functionHasBody[id] = true;
  AST_Node* decl = parser_makeNodeWord(penv_, FUNCTION_DECLARATION, 0, params, nullptr);
  assembly_appendDefinition(penv_, whole, decl);
  const SourceFile* file = currentFile(whole);
  DeferredItem item{DeferredKind::FunctionBody, file, open.offset, open.line, id, decl, {}};
  whole.deferred.push_back(std::move(item));
}

// processdef -> 'processdef' IDENT '(' [ param { ',' param } ] ')' ( ';' | '{' body '}' )
void Parser::processDefinition(WholeProgram& whole) {
  advance();
  check(TOK_IDENT);
  if (failed_) return;
  Signature sig;
  if (!signature(sig)) return;
  const Token& nameToken = sig.nameToken;
  const uint32_t symbol = sig.symbol;
  AST_Node* params = sig.params;
  const bool hasBody = sig.hasBody;
  const char* text = sig.name.c_str();
  bool ok = sig.ok;
  uint32_t id = findDefinition(penv_->program, symbol);
  if (ok && id != NO_ID) {
    const AST_Node* earlier =
        AST_fromId(penv_->program, penv_->program->processDefinitionTable[id].params);
    if (hasBody && whole.processes[id].hasBody) {
      diag::process_definition_already_defined(penv_, text);
      ok = false;
    } else if (!sameParameters(penv_->program, earlier, params)) {
      diag::process_declarations_differ(penv_, text);
      ok = false;
    }
  }
  const SourceFile* file = currentFile(whole);
  if (ok && id == NO_ID) {
    ProcessDefinitionRecord record{};
    record.params = AST_id(penv_->program, params);
    record.staticVars = record.subProcesses = record.localVars = record.commonBlock =
        record.states = record.finallyBlock = NO_ID;
    id = assembly_addProcessDefinition(penv_, symbol, record);
    ProcessDraft draft;
    draft.symbol = symbol;
    draft.at = {file, nameToken.line, nameToken.column};
    whole.processes.push_back(std::move(draft));
  }
  if (!hasBody) {
    if (ok) {
      assembly_appendDefinition(penv_, whole,
                                parser_makeNodeWord(penv_, PROCESS_PROTOTYPE, 0, params, nullptr));
    }
    return;
  }
  const Token open = tok_;
  if (!skipBraces() || !ok) return;
  whole.processes[id].hasBody = true;
  AST_Node* cell = assembly_appendDefinition(penv_, whole, nullptr);
  whole.deferred.push_back({DeferredKind::ProcessBody, file, open.offset, open.line, id, cell, {}});
}

// instance -> 'process' IDENT ':' IDENT [ '[' expression [ ',' expression ] ']' ]
//             '(' [ expression { ',' expression } ] ')' [ 'on' '(' expression ')' ] ';'
void Parser::instanceDeclaration(WholeProgram& whole) {
  advance();
  check(TOK_IDENT);
  if (failed_) return;
  const uint32_t definition = symbolOf(takeNode());
  if (!checkNext(TOK_COLON)) return;
  check(TOK_IDENT);
  if (failed_) return;
  const Token nameToken = tok_;
  const uint32_t symbol = symbolOf(takeNode());
  const Token rest = tok_;
  if (rest.kind != TOK_LBRACKET && rest.kind != TOK_LPAREN) {
    syntaxError();
    return;
  }
  // The rest is compiled with the bodies: its expressions may call any function.
  lexer_.setSkipping(true);
  int depth = 0;
  while (tok_.kind != TOK_END && !(depth == 0 && tok_.kind == TOK_SEMICOLON)) {
    if (tok_.kind == TOK_LPAREN || tok_.kind == TOK_LBRACKET || tok_.kind == TOK_LBRACE) ++depth;
    if (tok_.kind == TOK_RPAREN || tok_.kind == TOK_RBRACKET || tok_.kind == TOK_RBRACE) --depth;
    advance();
  }
  lexer_.setSkipping(false);
  if (tok_.kind != TOK_SEMICOLON) {
    syntaxError();
    return;
  }
  // Scanned again with nodes from just after the ';'.
  KovaLexer again(penv_, text_, tok_.offset + 1, tok_.line);
  last_ = tok_;
  line_ = tok_.line;
  lexer_ = std::move(again);
  hasPeek_ = false;
  tok_ = lexer_.next();

  locate(nameToken);
  if (findGlobal(penv_->program, symbol) != NO_ID || findConstant(penv_, symbol) != NO_ID) {
    diag::duplicate_global(penv_, name(penv_, symbol));
    return;
  }
  const uint32_t instanceType = findTypeNamed(penv_->program, "Process_Instance");
  if (instanceType == NO_ID) {
    diag::unknown_type(penv_, "Process_Instance");
    return;
  }
  const SourceFile* file = currentFile(whole);
  InstanceDecl decl{};
  decl.symbol = symbol;
  decl.definitionSymbol = definition;
  decl.globalId = assembly_addGlobal(penv_, whole, symbol, instanceType, {});
  decl.at = {file, nameToken.line, nameToken.column};
  const auto number = static_cast<uint32_t>(whole.instances.size());
  whole.instances.push_back(decl);
  AST_Node* cell = assembly_appendDefinition(penv_, whole, nullptr);
  whole.deferred.push_back(
      {DeferredKind::Instance, file, rest.offset, rest.line, number, cell, {}});
}

// annotation -> '@' IDENT { ':' IDENT } block
void Parser::topAnnotation(WholeProgram& whole) {
  advance();
  std::vector<uint32_t> path;
  do {
    check(TOK_IDENT);
    if (failed_) return;
    path.push_back(symbolOf(tok_.node));
    advance();
  } while (testNext(TOK_COLON));
  check(TOK_LBRACE);
  if (failed_) return;
  const Token open = tok_;
  if (!skipBraces()) return;
  const SourceFile* file = currentFile(whole);
  AST_Node* cell = assembly_appendDefinition(penv_, whole, nullptr);
  DeferredItem item{DeferredKind::Annotation, file, open.offset, open.line, 0, cell, path};
  whole.deferred.push_back(std::move(item));
}

// ---------------------------------------------------------------- second pass

namespace {

// Every body starts from an empty scope.
void resetScopes(ParserEnv* penv) {
  ParserContext& c = penv->pctx;
  c.localVars.clear();
  c.localConsts.clear();
  c.scopeMarks.clear();
  c.constScopeMarks.clear();
  c.staticVars.clear();
  c.subProcessCount = 0;
  c.firstLocalIndex = 0;
  c.firstLocalConstant = 0;
  c.enclosing.clear();
}

}  // namespace

void Parser::deferred(WholeProgram& whole, const DeferredItem& item) {
  resetScopes(penv_);
  switch (item.kind) {
    case DeferredKind::FunctionBody: functionBody(whole, item); break;
    case DeferredKind::ProcessBody: processBody(whole, item); break;
    case DeferredKind::Instance: instanceParts(whole, item); break;
    case DeferredKind::Annotation: annotationBody(whole, item); break;
  }
  resetScopes(penv_);
}

void Parser::declareParameters(const AST_Node* params) {
  const Program* p = penv_->program;
  for (const AST_Node* cell = params; cell != nullptr; cell = AST_right(p, cell)) {
    AST_Node* param = AST_left(p, cell);
    defVar_declareLocal(penv_, param);
    // An `in` channel is the caller's: nothing may be pushed into it.
    if (param->op == IN_CHANNEL_PARAM_OP) penv_->pctx.localVars.back().access = kAccessRead;
  }
}

void Parser::functionBody(WholeProgram&, const DeferredItem& item) {
  Program* program = penv_->program;
  FunctionRecord& record = program->functionTable[item.index];
  penv_->pctx.enclosing = Function_getName(program, item.index);
  defVar_openScope(penv_);
  declareParameters(AST_fromId(program, record.params));
  AST_Node* body = block();
  defVar_closeScope(penv_);
  if (body == nullptr) return;
  parser_checkBuiltinTree(penv_, body);
  record.body = AST_id(program, body);
  item.cell->right = record.body;
}

// processdef body -> '{' { 'static' variable_declaration } { 'process' IDENT ':' IDENT ';' }
//                    { variable_declaration } [ 'common' block ] state { state }
//                    [ 'finally' block ] '}'
void Parser::processBody(WholeProgram& whole, const DeferredItem& item) {
  Program* program = penv_->program;
  ProcessDraft& draft = whole.processes[item.index];
  const uint32_t instanceType = findTypeNamed(program, "Process_Instance");
  penv_->pctx.enclosing = name(penv_, draft.symbol);
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LBRACE)) return;
  ProcessParts parts;
  parts.params = AST_fromId(program, program->processDefinitionTable[item.index].params);
  bool ok = true;

  // Statics: their values live with the instance, so they are constants here.
  std::vector<AST_Node*> staticDecls;
  std::vector<uint32_t> names;
  const auto fresh = [&](uint32_t symbol, const Token& at) {
    if (std::find(names.begin(), names.end(), symbol) == names.end()) {
      names.push_back(symbol);
      return true;
    }
    locate(at);
    diag::name_declared_twice_in_process(penv_, name(penv_, symbol), name(penv_, draft.symbol));
    return false;
  };
  while (!failed_ && testNext(TOK_STATIC)) {
    const Token at = tok_;
    if (tok_.kind != TOK_VAR) {
      syntaxError();
      break;
    }
    const VarDeclParts d = variableDeclarationParts();
    AST_Node* decl = makeDeclaration(d);
    if (decl == nullptr) {
      ok = false;
      continue;
    }
    const uint32_t type = AST_getVarDeclTypeId(program, decl);
    const uint32_t symbol = AST_getVarDeclSymId(program, decl);
    bool cellsOk = true;
    std::vector<ValueCell> cells = initialCells(penv_, decl, &cellsOk);
    locate(at);
    if (!cellsOk || !checkVariableType(penv_, type) || !fresh(symbol, at)) {
      ok = false;
      continue;
    }
    draft.statics.push_back({symbol, type, std::move(cells)});
    const bool buffer = defType_bufferKind(program, type) != NONE_BUFFER;
    AST_Node* sym = parser_makeNodeWord(penv_, SYM, symbol, nullptr, nullptr);
    staticDecls.push_back(
        parser_makeNodeWord(penv_, buffer ? STATIC_BUFFER_DECL_OP : STATIC_VARIABLE_DECL_OP, type,
                            buffer ? parser_makeList(penv_, sym) : sym, nullptr));
  }
  // Sub-process instances: definition ':' name.
  while (!failed_ && tok_.kind == TOK_PROCESS) {
    advance();
    check(TOK_IDENT);
    if (failed_) break;
    const Token defToken = tok_;
    const uint32_t defSymbol = symbolOf(takeNode());
    if (!checkNext(TOK_COLON)) break;
    check(TOK_IDENT);
    if (failed_) break;
    const Token at = tok_;
    const uint32_t symbol = symbolOf(takeNode());
    if (!checkNext(TOK_SEMICOLON)) break;
    const uint32_t def = findDefinition(program, defSymbol);
    if (def == NO_ID || !whole.processes[def].hasBody) {
      locate(defToken);
      if (def == NO_ID) {
        diag::unknown_process_definition(penv_, name(penv_, defSymbol));
      } else {
        diag::process_definition_no_body(penv_, name(penv_, defSymbol));
      }
      ok = false;
      continue;
    }
    if (!fresh(symbol, at)) {
      ok = false;
      continue;
    }
    draft.subs.push_back({symbol, def});
    parts.subProcesses = parser_appendList(penv_, parts.subProcesses,
                                           assembly_makeSubProcess(penv_, def, defSymbol, symbol));
  }
  if (failed_) return;
  for (AST_Node* d : staticDecls) parts.statics = parser_appendList(penv_, parts.statics, d);
  parts.n_subProcesses = static_cast<uint32_t>(draft.subs.size());
  parts.n_staticEntries = static_cast<uint32_t>(draft.subs.size() + draft.statics.size());

  // The scope: sub-processes and statics, then parameters, self and locals.
  ParserContext& c = penv_->pctx;
  uint32_t index = 0;
  for (const SubProcessDecl& sub : draft.subs) {
    ParserLocal local{sub.symbol, instanceType, index++, NO_ID, kAccessReadWrite, false};
    local.definition = sub.definition;
    c.staticVars.push_back(local);
  }
  c.subProcessCount = parts.n_subProcesses;
  for (const StaticDecl& s : draft.statics) {
    c.staticVars.push_back({s.symbol, s.type, index++, NO_ID, kAccessReadWrite, false});
  }
  defVar_openScope(penv_);
  declareParameters(parts.params);
  AST_Node* selfSym =
      parser_makeNodeWord(penv_, SYM, parser_internSymbol(penv_, "self"), nullptr, nullptr);
  defVar_declareLocal(penv_,
                      parser_makeNodeWord(penv_, VARIABLE_DECL_OP, instanceType, selfSym, nullptr));
  while (!failed_ && (tok_.kind == TOK_VAR || tok_.kind == TOK_CONST)) {
    AST_Node* decl = variableDeclaration();
    if (decl == nullptr) {
      ok = false;
      continue;
    }
    defVar_declareLocal(penv_, decl);
    if (decl->op != CONSTANT_DECL_OP && decl->op != CONSTANT_ARRAY_DECL_OP) {
      parts.locals = parser_appendList(penv_, parts.locals, decl);
    }
  }
  if (!failed_ && testNext(TOK_COMMON)) {
    parts.common = block();
    ok = ok && parts.common != nullptr;
  }
  // States, then the transitions' targets: any state of this definition.
  struct Pending {
    AST_Node* transition;
    uint32_t target;
    Token at;
  };
  std::vector<std::pair<uint32_t, AST_Node*>> states;
  std::vector<Pending> pending;
  if (!failed_ && tok_.kind != TOK_STATE) syntaxError();
  while (!failed_ && tok_.kind == TOK_STATE) {
    advance();
    check(TOK_IDENT);
    if (failed_) break;
    const Token at = tok_;
    const uint32_t stateSymbol = symbolOf(takeNode());
    AST_Node* variable = assembly_makeStateVariable(penv_, stateSymbol);
    defVar_openScope(penv_);
    // A state is often named like something global: no shadowing warning.
    if (variable != nullptr) {
      c.localVars.push_back({stateSymbol, TypeState,
                             c.firstLocalIndex + static_cast<uint32_t>(c.localVars.size()),
                             AST_id(program, variable), kAccessReadWrite, false});
    }
    AST_Node* blk = block();
    AST_Node* transitions = nullptr;
    bool stateOk = blk != nullptr;
    while (!failed_ && (tok_.kind == TOK_ON || tok_.kind == TOK_AFTER)) {
      const bool isAfter = tok_.kind == TOK_AFTER;
      advance();
      size_t parenLine = tok_.line;
      if (!checkNext(TOK_LPAREN)) break;
      AST_Node* first = expression().node;
      if (!checkMatch(TOK_RPAREN, TOK_LPAREN, parenLine)) break;
      AST_Node* guard = nullptr;
      bool guarded = false;
      if (isAfter && testNext(TOK_IF)) {
        guarded = true;
        parenLine = tok_.line;
        if (!checkNext(TOK_LPAREN)) break;
        guard = expression().node;
        if (!checkMatch(TOK_RPAREN, TOK_LPAREN, parenLine)) break;
      }
      if (!checkNext(TOK_TO)) break;
      check(TOK_IDENT);
      if (failed_) break;
      const Token targetToken = tok_;
      const uint32_t target = symbolOf(takeNode());
      AST_Node* statement = nullptr;
      bool statementOk = true;
      if (tok_.kind == TOK_LBRACE) {
        statement = block();
        statementOk = statement != nullptr;
      } else if (!checkNext(TOK_SEMICOLON)) {
        break;
      }
      // Conditions are booleans; delays durations the clock can count.
      bool typed = first != nullptr && statementOk && (!guarded || guard != nullptr);
      const auto expect = [&](AST_Node* e, uint32_t type, const char* what) {
        if (e == nullptr || defExpr_matchExpectedType(penv_, e, type) != NO_ID) return;
        const uint32_t found = defType_evaluate(penv_, e);
        if (found != NO_ID) {
          diag::transition_value_type(penv_, what, Type_getName(program, type),
                                      Type_getName(program, found));
        }
        typed = false;
      };
      if (typed) {
        expect(first, isAfter ? TypeTime64 : TypeBoolean,
               isAfter ? "an after transition's delay" : "a transition's condition");
        expect(guard, TypeBoolean, "a transition's condition");
      }
      if (!typed) {
        stateOk = false;
        continue;
      }
      AST_Node* transition = isAfter ? assembly_makeTransition(penv_, guard, first, statement)
                                     : assembly_makeTransition(penv_, first, nullptr, statement);
      transitions = parser_appendList(penv_, transitions, transition);
      pending.push_back({transition, target, targetToken});
    }
    defVar_closeScope(penv_);
    for (const auto& [symbol, node] : states) {
      if (symbol == stateSymbol) {
        locate(at);
        diag::state_declared_twice(penv_, name(penv_, symbol));
        stateOk = false;
      }
    }
    if (!stateOk) {
      ok = false;
      continue;
    }
    AST_Node* state = assembly_makeState(penv_, stateSymbol, variable, blk, transitions);
    states.emplace_back(stateSymbol, state);
    parts.states = parser_appendList(penv_, parts.states, state);
  }
  if (!failed_ && testNext(TOK_FINALLY)) {
    parts.finallyBlock = block();
    ok = ok && parts.finallyBlock != nullptr;
  }
  checkMatch(TOK_RBRACE, TOK_LBRACE, openLine);
  defVar_closeScope(penv_);
  for (const Pending& p : pending) {
    const auto found = std::find_if(states.begin(), states.end(),
                                    [&](const auto& s) { return s.first == p.target; });
    if (found == states.end()) {
      if (ok) {
        locate(p.at);
        diag::unknown_state_process(penv_, name(penv_, p.target), name(penv_, draft.symbol));
      }
      ok = false;
      continue;
    }
    assembly_setTransitionTarget(p.transition, penv_, found->second);
  }
  if (failed_ || !ok) return;
  ProcessDefinitionRecord& record = program->processDefinitionTable[item.index];
  AST_Node* declaration = assembly_makeProcessDeclaration(penv_, parts, &record);
  if (declaration == nullptr) return;
  parser_checkBuiltinTree(penv_, declaration);
  item.cell->left = AST_id(program, declaration);
}

// The rest of an instance: [ period [, offset] ] ( arguments ) [ on ( condition ) ] ;
void Parser::instanceParts(WholeProgram& whole, const DeferredItem& item) {
  Program* program = penv_->program;
  InstanceDecl& decl = whole.instances[item.index];
  // A copy: compiling the expressions below may move the symbol table.
  const std::string instanceName = name(penv_, decl.symbol);
  AST_Node* period = nullptr;
  AST_Node* offset = nullptr;
  bool ok = true;
  const auto expectType = [&](AST_Node* e, uint32_t type, const char* what) {
    if (e == nullptr) {
      ok = false;
      return;
    }
    if (defExpr_matchExpectedType(penv_, e, type) != NO_ID) return;
    const uint32_t found = defType_evaluate(penv_, e);
    if (found != NO_ID) {
      diag::instance_value_type(penv_, what, instanceName.c_str(), Type_getName(program, type),
                                Type_getName(program, found));
    }
    ok = false;
  };
  if (testNext(TOK_LBRACKET)) {
    const size_t openLine = last_.line;
    period = expression().node;
    expectType(period, TypeTime64, "the period");
    if (testNext(TOK_COMMA)) {
      offset = expression().node;
      expectType(offset, TypeTime64, "the offset");
    }
    if (!checkMatch(TOK_RBRACKET, TOK_LBRACKET, openLine)) return;
  }
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LPAREN)) return;
  AST_Node* args = nullptr;
  if (!arguments(&args)) ok = false;
  if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return;
  AST_Node* trigger = nullptr;
  if (testNext(TOK_ON)) {
    const size_t parenLine = tok_.line;
    if (!checkNext(TOK_LPAREN)) return;
    trigger = expression().node;
    expectType(trigger, TypeBoolean, "the activation condition");
    if (!checkMatch(TOK_RPAREN, TOK_LPAREN, parenLine)) return;
  }
  if (!checkNext(TOK_SEMICOLON)) return;
  decl.definition = findDefinition(program, decl.definitionSymbol);
  penv_->pctx.line = decl.at.line;
  penv_->pctx.column = decl.at.column;
  if (decl.definition == NO_ID) {
    diag::unknown_process_definition(penv_, name(penv_, decl.definitionSymbol));
    return;
  }
  if (!whole.processes[decl.definition].hasBody) {
    diag::process_definition_no_body(penv_, name(penv_, decl.definitionSymbol));
    decl.definition = NO_ID;
    return;
  }
  const AST_Node* params =
      AST_fromId(program, program->processDefinitionTable[decl.definition].params);
  if (!ok || !defCall_checkArguments(penv_, instanceName.c_str(), params, args, CallKind::Instance,
                                     nullptr)) {
    decl.definition = NO_ID;
    return;
  }
  decl.node = assembly_makeInstance(penv_, decl.definition, decl.definitionSymbol, args, period,
                                    offset, trigger);
  decl.args = args;
  decl.trigger = trigger;
  if (decl.node == nullptr) return;
  parser_checkBuiltinTree(penv_, decl.node);
  item.cell->left = AST_id(program, decl.node);
}

// A top-level annotation's block: @kova:time, @kova:time:INSTANCE,
// @kova:hardware[:VARIABLE] or any other domain (kept, never run).
void Parser::annotationBody(WholeProgram& whole, const DeferredItem& item) {
  Program* program = penv_->program;
  const std::vector<uint32_t>& path = item.path;
  const auto is = [&](size_t i, const char* text) {
    return i < path.size() && std::strcmp(name(penv_, path[i]), text) == 0;
  };
  const size_t line = tok_.line;
  const size_t column = tok_.column;
  AST_Node* blk = block();
  if (blk == nullptr) return;
  penv_->pctx.line = line;
  penv_->pctx.column = column;
  AST_Node* node = nullptr;
  if (is(0, "kova") && !is(1, "time") && !is(1, "hardware")) {
    diag::unknown_kova_annotation(penv_, path.size() > 1 ? name(penv_, path[1]) : "");
    return;
  }
  if (is(0, "kova") && path.size() > 3) {
    diag::annotation_names_at_most_one(penv_);
    return;
  }
  if (is(0, "kova") && path.size() == 3) {
    const uint32_t variable = findGlobal(program, path[2]);
    const bool time = is(1, "time");
    InstanceDecl* instance = nullptr;
    for (InstanceDecl& d : whole.instances) {
      if (d.symbol == path[2]) instance = &d;
    }
    if (variable == NO_ID || (time && instance == nullptr)) {
      if (time) {
        diag::unknown_process_instance(penv_, name(penv_, path[2]));
      } else {
        diag::unknown_global_variable(penv_, name(penv_, path[2]));
      }
      return;
    }
    if (time) {
      if (instance->annotation != nullptr) {
        diag::process_instance_already_timing_annotation(penv_, name(penv_, path[2]));
        return;
      }
      node = parser_makeNodeWord(penv_, PROCESS_ANNOTATION, variable, blk, nullptr);
      instance->annotation = node;
    } else {
      node = parser_makeNodeWord(penv_, HARDWARE_ANNOTATION, variable, blk, nullptr);
    }
  } else {
    node = defineAnnotation(penv_, path, blk);
  }
  if (node == nullptr) return;
  parser_checkBuiltinTree(penv_, node);
  item.cell->left = AST_id(program, node);
}

}  // namespace kova_parser
