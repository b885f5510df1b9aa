// The parser class shared by the grammar's two files (private to parserLib).
//
// One recursive-descent parser over the tokens of kova_lex serves both
// entries: a console line ('$' statement or expression, kova_grammar.cpp)
// and a whole program (declarations, kova_declarations.cpp). Each parse
// function sits under the production it parses and is built from four
// helpers: testNext (consume if it matches), check (report if it does not),
// checkNext (both) and checkMatch (a closing token, naming the line of the
// token it closes).
//
// Errors: a syntax error puts the parser in panic mode (`failed_`): nothing
// more is built or reported until it resynchronises. A console line never
// does (its first error ends it); a whole program resynchronises at the next
// ';' or '}' of a statement or declaration, or at a declaration keyword, so
// every error of a file is reported, each once. Semantic errors are reported
// by the def_* routines, whose constructs then yield null, and null operands
// are never reported again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parserLib/kova_lex.h"
#include "parserLib/parser_data.h"
#include "parserLib/program_assembly.h"

namespace kova_parser {

// What the outermost construct of a parsed expression was: an assignment may
// only follow a unary, and a call needs ';' to stand as a statement.
enum class Shape { Unary, Call, Other };

struct Expr {
  AST_Node* node = nullptr;
  Shape shape = Shape::Other;
};

// Nesting deeper than this is refused: the parser recurses once per level
// and must not run out of stack on a text of opening brackets.
inline constexpr int kMaxNesting = 200;

class Parser {
 public:
  Parser(ParserEnv* penv, std::string_view text);
  // A parser that starts at `offset` of `text`, on source line `line`.
  Parser(ParserEnv* penv, std::string_view text, size_t offset, size_t line);

  // input -> '$' statement | '$' expression
  AST_Node* input();

  // ---- whole programs (kova_declarations.cpp)
  // program -> { top_level }: the first pass over a file. Declares types,
  // globals and constants in order, registers functions, process
  // definitions and instances, and leaves their bodies (and every top-level
  // annotation) for the second pass.
  void program(WholeProgram& whole);
  // The second pass over one item the first pass left.
  void deferred(WholeProgram& whole, const DeferredItem& item);

  bool failed() const { return failed_; }

 private:
  // ---------------------------------------------------------------- helpers
  void advance();
  const Token& peek();
  void syntaxError();
  bool testNext(int kind);
  void check(int kind);
  bool checkNext(int kind);
  // A closing token for `open` (made at `openLine`): reported as the
  // console's syntax error, or in a whole program as the unclosed opening.
  bool checkMatch(int close, int open, size_t openLine);
  AST_Node* takeNode();
  // Whole programs: skips to the end of the broken statement or declaration
  // and leaves panic mode. `topLevel` also stops at a declaration keyword.
  void synchronize(bool topLevel);
  // Skips a balanced '{' ... '}' without building anything; false (after the
  // error) when it is never closed.
  bool skipBraces();
  bool bufferKind(uint32_t& kind);
  // Sets the diagnostics' location to a token.
  void locate(const Token& token);

  class Nesting {
   public:
    explicit Nesting(Parser* parser);
    ~Nesting();
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Parser* parser_;
  };

  // ---------------------------------------------------------------- statements
  bool startsStatement();
  AST_Node* statement();
  AST_Node* jump();
  AST_Node* body();
  AST_Node* annotation();
  AST_Node* block();
  // The declarations and statements of a block whose scope is already open.
  AST_Node* blockContents(size_t openLine);
  AST_Node* localDeclaration();
  AST_Node* variableDeclaration();
  // What a variable declaration says, before it is made into a node.
  struct VarDeclParts {
    bool constant = false;
    uint32_t kind = 0;  // BufferKind of queue/stack/channel, 0 otherwise
    uint32_t type = NO_ID;
    AST_Node* name = nullptr;
    AST_Node* size = nullptr;
    bool sized = false;
    AST_Node* init = nullptr;
    bool initialized = false;
    bool ok = false;
  };
  VarDeclParts variableDeclarationParts();
  AST_Node* makeDeclaration(const VarDeclParts& parts);
  AST_Node* initializer();
  AST_Node* ifStatement();
  AST_Node* whileStatement();
  AST_Node* forStatement();
  AST_Node* loopStatement();
  AST_Node* assignment();
  AST_Node* simpleStatementOrExpression(bool topLevel);

  // ---------------------------------------------------------------- expressions
  Expr expression();
  // The regular binary levels, loosest first, from one precedence table.
  Expr binary(size_t level);
  Expr bitandExpression();
  Expr equalityChain();
  Expr equality();
  Expr relationalChain();
  Expr unary();
  Expr stateReference();
  Expr postfix();
  bool arguments(AST_Node** list);
  Expr primary();
  AST_Node* call(AST_Node* name, AST_Node* args);
  template <class Make>
  Expr combine(const Expr& left, const Expr& right, Make make);
  Expr arithmetic(uint32_t op, const Expr& left, const Expr& right);

  // ---------------------------------------------------------------- declarations
  void topLevel(WholeProgram& whole);
  void includeDeclaration(WholeProgram& whole);
  void enumDeclaration(WholeProgram& whole);
  void structDeclaration(WholeProgram& whole);
  void globalDeclaration(WholeProgram& whole);
  struct Signature {
    Token nameToken;
    uint32_t symbol = 0;
    AST_Node* params = nullptr;
    bool hasBody = false;
    bool ok = false;
    std::string name;
  };
  bool signature(Signature& sig);
  const SourceFile* currentFile(const WholeProgram& whole) const;
  void functionDeclaration(WholeProgram& whole);
  void processDefinition(WholeProgram& whole);
  void instanceDeclaration(WholeProgram& whole);
  void topAnnotation(WholeProgram& whole);
  // param -> ('in' | 'out') type ':' IDENT ['[' [expression] ']'] | ... buffer_kind '<' type '>'
  // ':' IDENT
  AST_Node* parameters();
  AST_Node* parameter();
  // The second pass.
  void functionBody(WholeProgram& whole, const DeferredItem& item);
  void processBody(WholeProgram& whole, const DeferredItem& item);
  void instanceParts(WholeProgram& whole, const DeferredItem& item);
  void annotationBody(WholeProgram& whole, const DeferredItem& item);
  // Declares a body's parameters as its first locals.
  void declareParameters(const AST_Node* params);

  ParserEnv* penv_;
  std::string_view text_;
  KovaLexer lexer_;
  Token tok_;
  Token peek_;
  Token last_;  // the last token consumed
  bool hasPeek_ = false;
  bool failed_ = false;
  size_t line_ = 1;
  int depth_ = 0;
};

}  // namespace kova_parser
