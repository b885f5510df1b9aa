// Statements and expressions, and the console entry.
#include "parserLib/kova_grammar.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_expression.h"
#include "parserLib/def_statement.h"
#include "parserLib/def_type.h"
#include "parserLib/def_variable.h"
#include "parserLib/diagnostics.h"
#include "parserLib/parser_private.h"

namespace kova_parser {

Parser::Parser(ParserEnv* penv, std::string_view text)
    : penv_(penv), text_(text), lexer_(penv, text) {
  advance();
}

Parser::Parser(ParserEnv* penv, std::string_view text, size_t offset, size_t line)
    : penv_(penv), text_(text), lexer_(penv, text, offset, line), line_(line) {
  advance();
}

// ---------------------------------------------------------------- helpers

// Diagnostics name the last token consumed, not the one the scanner has
// reached while looking ahead.
void Parser::advance() {
  if (tok_.line != 0) {
    line_ = tok_.line;
    last_ = tok_;
  }
  if (hasPeek_) {
    tok_ = std::move(peek_);
    hasPeek_ = false;
  } else {
    tok_ = lexer_.next();
  }
  penv_->pctx.line = line_;
  penv_->pctx.column = last_.column;
}

const Token& Parser::peek() {
  if (!hasPeek_) {
    peek_ = lexer_.next();
    hasPeek_ = true;
    penv_->pctx.line = line_;
    penv_->pctx.column = last_.column;
  }
  return peek_;
}

void Parser::locate(const Token& token) {
  penv_->pctx.line = token.line;
  penv_->pctx.column = token.column;
}

Parser::Nesting::Nesting(Parser* parser) : parser_(parser) {
  if (++parser_->depth_ > kMaxNesting && !parser_->failed_) {
    parser_->failed_ = true;
    diag::nested_too_deeply(parser_->penv_, kMaxNesting);
  }
}

Parser::Nesting::~Nesting() {
  --parser_->depth_;
}

void Parser::syntaxError() {
  if (failed_) return;
  failed_ = true;
  if (tok_.kind != TOK_END) locate(tok_);
  diag::syntax_error(penv_, "syntax error", tok_.text.c_str(), penv_->pctx.lineText.c_str());
}

bool Parser::testNext(int kind) {
  if (tok_.kind != kind) return false;
  advance();
  return true;
}

void Parser::check(int kind) {
  if (tok_.kind != kind) syntaxError();
}

// Consumes the token or reports the syntax error; the token is consumed
// only when it matches.
bool Parser::checkNext(int kind) {
  if (failed_) return false;
  if (tok_.kind != kind) {
    syntaxError();
    return false;
  }
  advance();
  return true;
}

bool Parser::checkMatch(int close, int open, size_t openLine) {
  if (failed_) return false;
  if (tok_.kind == close) {
    advance();
    return true;
  }
  if (!penv_->pctx.wholeProgram) {
    syntaxError();
    return false;
  }
  failed_ = true;
  const char* closeText = close == TOK_RBRACE ? "}" : close == TOK_RPAREN ? ")" : "]";
  const char* openText = open == TOK_LBRACE ? "{" : open == TOK_LPAREN ? "(" : "[";
  if (tok_.kind != TOK_END) locate(tok_);
  diag::unclosed_bracket(penv_, closeText, openText, openLine,
                         tok_.kind == TOK_END ? "end of file" : tok_.text.c_str());
  return false;
}

AST_Node* Parser::takeNode() {
  AST_Node* node = tok_.node;
  advance();
  return node;
}

void Parser::synchronize(bool topLevel) {
  lexer_.setSkipping(true);
  int depth = 0;
  while (tok_.kind != TOK_END) {
    const int kind = tok_.kind;
    if (depth == 0) {
      if (kind == TOK_SEMICOLON) {
        advance();
        break;
      }
      if (kind == TOK_RBRACE) {
        if (topLevel) advance();
        break;
      }
      if (topLevel && (kind == TOK_PROCESSDEF || kind == TOK_PROCESS || kind == TOK_ENUM ||
                       kind == TOK_STRUCT || kind == TOK_INCLUDE || kind == TOK_AT ||
                       kind == TOK_VAR || kind == TOK_CONST)) {
        break;
      }
    }
    if (kind == TOK_LBRACE) ++depth;
    if (kind == TOK_RBRACE) {
      --depth;
      if (depth == 0) {
        // A skipped '{ ... }' ends the broken construct.
        advance();
        break;
      }
    }
    advance();
  }
  // The token after the skipped text was scanned without its node.
  lexer_.setSkipping(false);
  if (tok_.kind != TOK_END && tok_.node == nullptr) {
    KovaLexer again(penv_, text_, tok_.offset, tok_.line);
    tok_ = again.next();
    hasPeek_ = false;
    lexer_ = std::move(again);
  }
  failed_ = false;
}

bool Parser::skipBraces() {
  const Token open = tok_;
  lexer_.setSkipping(true);
  int depth = 0;
  bool closed = false;
  while (tok_.kind != TOK_END) {
    if (tok_.kind == TOK_LBRACE) ++depth;
    if (tok_.kind == TOK_RBRACE && --depth == 0) {
      closed = true;
      break;
    }
    advance();
  }
  lexer_.setSkipping(false);
  if (!closed) {
    locate(open);
    failed_ = true;
    diag::unclosed_brace(penv_, open.line);
    return false;
  }
  // The closing brace is consumed by a fresh scanner so that the next token
  // gets its node.
  KovaLexer again(penv_, text_, tok_.offset + 1, tok_.line);
  last_ = tok_;
  line_ = tok_.line;
  lexer_ = std::move(again);
  hasPeek_ = false;
  tok_ = lexer_.next();
  return true;
}

bool Parser::startsStatement() {
  switch (tok_.kind) {
    case TOK_LBRACE:
    case TOK_IF:
    case TOK_WHILE:
    case TOK_FOR:
    case TOK_LOOP:
    case TOK_BREAK:
    case TOK_CONTINUE:
    case TOK_AT: return true;
    case TOK_IDENT: return peek().kind == TOK_COLON;
    default: return false;
  }
}

// ---------------------------------------------------------------- console entry

// input -> '$' statement | '$' expression
AST_Node* Parser::input() {
  checkNext(TOK_DOLLAR);
  AST_Node* result = nullptr;
  if (startsStatement()) {
    result = statement();
  } else {
    result = simpleStatementOrExpression(true);
  }
  if (!failed_ && tok_.kind != TOK_END) syntaxError();
  return failed_ ? nullptr : result;
}

// ---------------------------------------------------------------- statements

// statement -> simple_statement | body | jump
AST_Node* Parser::statement() {
  switch (tok_.kind) {
    case TOK_BREAK:
    case TOK_CONTINUE: return jump();
    case TOK_IF: return ifStatement();
    case TOK_WHILE: return whileStatement();
    case TOK_FOR: return forStatement();
    case TOK_LOOP: return loopStatement();
    case TOK_LBRACE:
    case TOK_AT: return body();
    case TOK_IDENT:
      if (peek().kind == TOK_COLON) return body();
      return simpleStatementOrExpression(false);
    default: return simpleStatementOrExpression(false);
  }
}

// jump -> 'break' ';' | 'continue' ';'
AST_Node* Parser::jump() {
  const uint32_t op = tok_.kind == TOK_BREAK ? BREAK_OP : CONTINUE_OP;
  advance();
  if (!checkNext(TOK_SEMICOLON)) return nullptr;
  return parser_makeNodeWord(penv_, op, 0, nullptr, nullptr);
}

// body -> label block | annotation | block
AST_Node* Parser::body() {
  if (tok_.kind == TOK_AT) return annotation();
  if (tok_.kind == TOK_IDENT && peek().kind == TOK_COLON) {
    // label -> IDENT ':'
    AST_Node* label = takeNode();
    advance();  // ':'
    AST_Node* decl = defVar_makeAndDeclareNamedBlockDefinition(penv_, label);
    AST_Node* blk = block();
    if (decl != nullptr) defVar_closeScope(penv_);
    return makeNamedBlock(penv_, decl, blk);
  }
  return block();
}

// annotation -> '@' annotation_path block ; annotation_path -> IDENT (':' IDENT)*
AST_Node* Parser::annotation() {
  checkNext(TOK_AT);
  std::vector<uint32_t> path;
  do {
    check(TOK_IDENT);
    if (failed_) return nullptr;
    if (tok_.node != nullptr) path.push_back(tok_.node->value.id.index);
    advance();
  } while (testNext(TOK_COLON));
  AST_Node* blk = block();
  return defineAnnotation(penv_, path, blk);
}

// block -> '{' local_declarations? statements? '}'
AST_Node* Parser::block() {
  const Nesting level(this);
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LBRACE)) return nullptr;
  defVar_openScope(penv_);
  AST_Node* result = blockContents(openLine);
  defVar_closeScope(penv_);
  return result;
}

AST_Node* Parser::blockContents(size_t openLine) {
  const bool recover = penv_->pctx.wholeProgram;
  AST_Node* declarations = nullptr;
  bool ok = true;
  while (!failed_ && (tok_.kind == TOK_VAR || tok_.kind == TOK_CONST || tok_.kind == TOK_STATIC)) {
    AST_Node* decl = localDeclaration();
    if (decl == nullptr) ok = false;
    if (failed_ && recover) synchronize(false);
    defVar_declareLocal(penv_, decl);
    // Local constants of whole programs live in the constant table.
    if (decl != nullptr && !(penv_->pctx.wholeProgram && (decl->op == CONSTANT_DECL_OP ||
                                                          decl->op == CONSTANT_ARRAY_DECL_OP))) {
      declarations = parser_appendList(penv_, declarations, decl);
    }
  }
  AST_Node* statements = nullptr;
  while (!failed_ && tok_.kind != TOK_RBRACE && tok_.kind != TOK_END) {
    if (recover && penv_->pctx.errorCount >= kMaxReportedErrors) break;
    AST_Node* s = statement();
    if (s == nullptr) ok = false;
    if (failed_ && recover) synchronize(false);
    statements = parser_appendList(penv_, statements, s);
  }
  checkMatch(TOK_RBRACE, TOK_LBRACE, openLine);
  if (!ok || failed_) return nullptr;
  return defStmt_makeBlock(penv_, declarations, statements);
}

// local_declaration -> variable_declaration | 'static' variable_declaration
AST_Node* Parser::localDeclaration() {
  if (testNext(TOK_STATIC)) {
    diag::static_not_allowed(penv_);
    variableDeclaration();
    return nullptr;
  }
  return variableDeclaration();
}

// [ buffer_kind '<' ]: the kind of buffer a declaration opens with, or
// NONE_BUFFER. False after a syntax error.
bool Parser::bufferKind(uint32_t& kind) {
  if (tok_.kind != TOK_QUEUE && tok_.kind != TOK_STACK && tok_.kind != TOK_CHANNEL) return true;
  kind = tok_.kind == TOK_QUEUE   ? QUEUE_BUFFER
         : tok_.kind == TOK_STACK ? STACK_BUFFER
                                  : STRING_BUFFER;
  advance();
  return checkNext(TOK_LT);
}

// variable_declaration -> ('var' | 'const') type ':' IDENT ['[' expression ']'] ['=' initializer]
// ';'
//                       | ('var' | 'const') buffer_kind '<' type '>' ':' IDENT '[' expression ']'
//                         ['=' initializer] ';'
Parser::VarDeclParts Parser::variableDeclarationParts() {
  VarDeclParts d;
  d.constant = tok_.kind == TOK_CONST;
  advance();
  if (!bufferKind(d.kind)) return d;
  check(TOK_IDENT);
  if (failed_) return d;
  d.type = defType_lookup(penv_, takeNode());
  if (d.kind != NONE_BUFFER && !checkNext(TOK_GT)) return d;
  if (!checkNext(TOK_COLON)) return d;
  check(TOK_IDENT);
  if (failed_) return d;
  d.name = takeNode();
  if (testNext(TOK_LBRACKET)) {
    const size_t openLine = last_.line;
    d.sized = true;
    d.size = expression().node;
    if (!checkMatch(TOK_RBRACKET, TOK_LBRACKET, openLine)) return d;
  }
  d.initialized = testNext(TOK_ASSIGN);
  if (d.initialized) d.init = initializer();
  if (failed_ || !checkNext(TOK_SEMICOLON)) return d;
  const char* nameText =
      d.name != nullptr ? Symbol_getName(penv_->program, d.name->value.id.index) : "";
  if (d.constant && !d.initialized) {
    diag::constant_needs_initializer(penv_, nameText);
    return d;
  }
  if (d.kind != NONE_BUFFER && !d.sized) {
    diag::channel_size_not_specified(penv_);
    return d;
  }
  if (d.kind != NONE_BUFFER && d.constant) {
    diag::constant_channel(penv_);
    return d;
  }
  if (d.initialized && d.init == nullptr) return d;
  d.ok = true;
  return d;
}

AST_Node* Parser::makeDeclaration(const VarDeclParts& d) {
  if (!d.ok) return nullptr;
  if (d.sized)
    return defBuff_makeDefinition(penv_, d.constant, d.kind, d.type, d.name, d.size, d.init);
  return defVar_makeDefinition(penv_, d.constant, d.type, d.name, d.init);
}

AST_Node* Parser::variableDeclaration() {
  const VarDeclParts parts = variableDeclarationParts();
  AST_Node* decl = makeDeclaration(parts);
  if (decl == nullptr && parts.ok && !parts.sized && penv_->pctx.wholeProgram &&
      parts.type != NO_ID) {
    // Declared all the same (its error is reported): its uses are not
    // reported again. The program is not made anyway.
    decl = defVar_makeDefinition(penv_, false, parts.type, parts.name, nullptr);
  }
  return decl;
}

// initializer -> frequency | expression | '{' '}' | '{' init_list '}'
// init_list -> init_element (',' init_element)* ;
// init_element -> frequency | expression | '{' [init_list] '}'
AST_Node* Parser::initializer() {
  const Nesting level(this);
  if (failed_) return nullptr;
  if (tok_.kind == TOK_FREQ_LITERAL) return takeNode();
  const size_t openLine = tok_.line;
  if (!testNext(TOK_LBRACE)) return expression().node;
  AST_Node* list = nullptr;
  bool ok = true;
  if (tok_.kind != TOK_RBRACE) {
    do {
      AST_Node* element = initializer();
      if (element == nullptr) ok = false;
      list = parser_appendList(penv_, list, element);
    } while (!failed_ && testNext(TOK_COMMA));
  }
  checkMatch(TOK_RBRACE, TOK_LBRACE, openLine);
  if (!ok || failed_) return nullptr;
  if (list == nullptr) list = parser_makeList(penv_, nullptr);  // '{' '}'
  return list;
}

// if_statement -> 'if' '(' expression ')' block ['else' (block | if_statement)]
AST_Node* Parser::ifStatement() {
  advance();
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LPAREN)) return nullptr;
  AST_Node* condition = expression().node;
  if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return nullptr;
  AST_Node* thenBlock = block();
  AST_Node* elsePart = nullptr;
  bool hasElse = false;
  if (testNext(TOK_ELSE)) {
    hasElse = true;
    elsePart = tok_.kind == TOK_IF ? ifStatement() : block();
  }
  if (failed_ || (hasElse && elsePart == nullptr)) return nullptr;
  return defStmt_makeIf(penv_, condition, thenBlock, elsePart);
}

// while_statement -> 'while' '(' expression ')' block
AST_Node* Parser::whileStatement() {
  advance();
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LPAREN)) return nullptr;
  AST_Node* condition = expression().node;
  if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return nullptr;
  AST_Node* blk = block();
  if (failed_) return nullptr;
  return defStmt_makeWhile(penv_, condition, blk);
}

// for_statement -> 'for' '(' assignment ';' expression ';' assignment ')' body
AST_Node* Parser::forStatement() {
  advance();
  const size_t openLine = tok_.line;
  if (!checkNext(TOK_LPAREN)) return nullptr;
  AST_Node* init = assignment();
  if (!checkNext(TOK_SEMICOLON)) return nullptr;
  AST_Node* condition = expression().node;
  if (!checkNext(TOK_SEMICOLON)) return nullptr;
  AST_Node* step = assignment();
  if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return nullptr;
  AST_Node* b = body();
  if (failed_) return nullptr;
  return defStmt_makeFor(penv_, init, condition, step, b);
}

// loop_statement -> 'loop' 'over' postfix 'with' IDENT block
AST_Node* Parser::loopStatement() {
  advance();
  if (!checkNext(TOK_OVER)) return nullptr;
  AST_Node* buffer = postfix().node;
  if (!checkNext(TOK_WITH)) return nullptr;
  check(TOK_IDENT);
  if (failed_) return nullptr;
  AST_Node* name = takeNode();
  AST_Node* decl = defIter_makeDeclaration(penv_, buffer, name);
  AST_Node* blk = block();
  if (decl != nullptr) defVar_closeScope(penv_);
  if (failed_) return nullptr;
  return defStmt_makeLoopOver(penv_, decl, blk);
}

// assignment -> unary '=' expression | unary '=' initializer
AST_Node* Parser::assignment() {
  Expr target = expression();
  if (failed_) return nullptr;
  if (target.shape == Shape::Other || !checkNext(TOK_ASSIGN)) {
    syntaxError();
    return nullptr;
  }
  AST_Node* value = initializer();
  if (failed_) return nullptr;
  return defExpr_makeAssignment(penv_, target.node, value);
}

// simple_statement -> assignment ';' | call ';' | assignment (error) | call (error)
// and, at the top of a console line, an expression.
AST_Node* Parser::simpleStatementOrExpression(bool topLevel) {
  const Expr e = expression();
  if (failed_) return nullptr;
  // A construct that already failed is reported once: no ';' complaint.
  const bool reported = e.node == nullptr && penv_->pctx.status != 0;
  if (tok_.kind == TOK_ASSIGN) {
    if (e.shape == Shape::Other) {
      syntaxError();
      return nullptr;
    }
    advance();
    AST_Node* value = initializer();
    if (failed_) return nullptr;
    AST_Node* node = defExpr_makeAssignment(penv_, e.node, value);
    if (!testNext(TOK_SEMICOLON)) {
      if (reported) return nullptr;
      if (tok_.kind == TOK_END) {
        diag::missing_semicolon_after_assignment(penv_);
        return nullptr;
      }
      syntaxError();
      return nullptr;
    }
    return node;
  }
  if (e.shape == Shape::Call) {
    if (!testNext(TOK_SEMICOLON)) {
      if (reported) return nullptr;
      if (tok_.kind == TOK_END) {
        diag::missing_semicolon_after_statement(penv_);
        return nullptr;
      }
      syntaxError();
      return nullptr;
    }
    return e.node;
  }
  if (!topLevel || tok_.kind != TOK_END) {
    syntaxError();
    return nullptr;
  }
  return e.node;
}

// ---------------------------------------------------------------- expressions

namespace {

struct BinaryOperator {
  int token;
  uint32_t op;
};

// The regular binary levels, loosest first. The levels between `^` and the
// shifts (`&`, equality and relational chains) are written by hand: their
// operands are not the next level's.
struct BinaryLevel {
  std::array<BinaryOperator, 3> operators;
  bool logical;  // typed as a logical operation
};
constexpr size_t kLevelBeforeBitAnd = 3;
constexpr std::array<BinaryLevel, 7> kBinaryLevels{{
    {{{{TOK_OR, OR_OP}}}, true},
    {{{{TOK_AND, AND_OP}}}, true},
    {{{{TOK_BAR, BIT_OR_OP}}}, false},
    {{{{TOK_CARET, BIT_XOR_OP}}}, false},
    {{{{TOK_SHL, SHIFT_LEFT_OP}, {TOK_SHR, SHIFT_RIGHT_OP}}}, false},
    {{{{TOK_PLUS, PLUS_OP}, {TOK_MINUS, MINUS_OP}}}, false},
    {{{{TOK_STAR, MULT_OP}, {TOK_SLASH, DIV_OP}, {TOK_MOD, MODULO_OP}}}, false},
}};
constexpr size_t kFirstLevelAfterChains = 4;

uint32_t levelOp(const BinaryLevel& level, int token) {
  for (const BinaryOperator& o : level.operators) {
    if (o.token == token && o.token != 0) return o.op;
  }
  return NO_ID;
}

uint32_t equalityOp(int kind) {
  return kind == TOK_EQ ? CEQ_OP : kind == TOK_NE ? CNE_OP : NO_ID;
}

uint32_t relationalOp(int kind) {
  switch (kind) {
    case TOK_LT: return LT_OP;
    case TOK_GT: return GT_OP;
    case TOK_GE: return CGE_OP;
    case TOK_LE: return CLE_OP;
    default: return NO_ID;
  }
}

}  // namespace

// expression -> or_expression
Expr Parser::expression() {
  const Nesting level(this);
  if (failed_) return {};
  return binary(0);
}

// level -> next_level (operator next_level)*, for each row of kBinaryLevels
Expr Parser::binary(size_t level) {
  const auto next = [&]() -> Expr {
    if (level == kLevelBeforeBitAnd) return bitandExpression();
    if (level + 1 == kBinaryLevels.size()) return unary();
    return binary(level + 1);
  };
  const BinaryLevel& row = kBinaryLevels[level];
  Expr left = next();
  for (uint32_t op = levelOp(row, tok_.kind); !failed_ && op != NO_ID;
       op = levelOp(row, tok_.kind)) {
    advance();
    const Expr right = next();
    left = row.logical ? combine(left, right,
                                 [&](AST_Node* l, AST_Node* r) {
                                   return defExpr_makeLogicalOp(penv_, op, l, r);
                                 })
                       : arithmetic(op, left, right);
  }
  return left;
}

// bitand_expression -> equality_chain ('&' equality)*
Expr Parser::bitandExpression() {
  Expr left = equalityChain();
  while (!failed_ && tok_.kind == TOK_AMPERSAND) {
    advance();
    left = arithmetic(BIT_AND_OP, left, equality());
  }
  return left;
}

// equality_chain -> relational_chain (('==' | '!=') relational_chain)*
Expr Parser::equalityChain() {
  Expr left = relationalChain();
  bool chained = false;
  while (!failed_ && equalityOp(tok_.kind) != NO_ID) {
    const uint32_t op = equalityOp(tok_.kind);
    advance();
    const Expr right = relationalChain();
    left = combine(left, right, [&](AST_Node* l, AST_Node* r) {
      return chained ? defExpr_makeMultipleEqualityExpression(penv_, l, op, r)
                     : defExpr_makeLogicalOp(penv_, op, l, r);
    });
    chained = true;
  }
  return left;
}

// equality -> relational_chain [('==' | '!=') relational_chain]
Expr Parser::equality() {
  Expr left = relationalChain();
  if (!failed_ && equalityOp(tok_.kind) != NO_ID) {
    const uint32_t op = equalityOp(tok_.kind);
    advance();
    left = combine(left, relationalChain(), [&](AST_Node* l, AST_Node* r) {
      return defExpr_makeLogicalOp(penv_, op, l, r);
    });
  }
  return left;
}

// relational_chain -> shift_expression (relational_operator shift_expression)*
Expr Parser::relationalChain() {
  Expr left = binary(kFirstLevelAfterChains);
  bool chained = false;
  while (!failed_ && relationalOp(tok_.kind) != NO_ID) {
    const uint32_t op = relationalOp(tok_.kind);
    advance();
    left = combine(left, binary(kFirstLevelAfterChains), [&](AST_Node* l, AST_Node* r) {
      return chained ? defExpr_makeMultipleRelationalExpression(penv_, l, op, r)
                     : defExpr_makeLogicalOp(penv_, op, l, r);
    });
    chained = true;
  }
  return left;
}

// unary -> postfix | '-' unary | 'not' unary | '~' unary | 'state' IDENT
Expr Parser::unary() {
  const Nesting level(this);
  if (failed_) return {};
  uint32_t op = NO_ID;
  switch (tok_.kind) {
    case TOK_MINUS: op = NEG_OP; break;
    case TOK_NOT: op = NOT_OP; break;
    case TOK_TILDE: op = BIT_NOT_OP; break;
    case TOK_STATE: return stateReference();
    default: return postfix();
  }
  advance();
  const Expr operand = unary();
  if (failed_) return {};
  return {operand.node != nullptr ? defExpr_makeUnaryOp(penv_, op, operand.node) : nullptr,
          Shape::Unary};
}

// state_reference -> 'state' IDENT: the state's id, found among the
// program's process definitions.
Expr Parser::stateReference() {
  advance();
  check(TOK_IDENT);
  if (failed_) return {};
  AST_Node* name = takeNode();
  if (name == nullptr) return {};
  const Program* program = penv_->program;
  const uint32_t symbol = name->value.id.index;
  // A state's id is its name's symbol id; in a whole program the states of
  // definitions not compiled yet are checked at the end.
  if (penv_->pctx.wholeProgram) {
    penv_->pctx.stateReferences.push_back({symbol, penv_->pctx.fileName, last_.line, last_.column});
    NodeValue value{};
    value.u64 = symbol;
    AST_Node* literal = parser_makeNode(penv_, INTEGER_OP, value, nullptr, nullptr);
    return {literal != nullptr ? parser_makeNodeWord(penv_, CAST_OP, TypeUInt32, literal, nullptr)
                               : nullptr,
            Shape::Unary};
  }
  for (uint32_t d = 0; d < program->infoProg->n_processDefinitions; ++d) {
    for (const AST_Node* cell = AST_fromId(program, program->processDefinitionTable[d].states);
         cell != nullptr; cell = AST_right(program, cell)) {
      const AST_Node* state = AST_left(program, cell);
      if (state != nullptr && state->op == NAMED_STATE_STATEMENT &&
          state->value.id.index == symbol) {
        NodeValue value{};
        value.u64 = symbol;
        AST_Node* literal = parser_makeNode(penv_, INTEGER_OP, value, nullptr, nullptr);
        return {literal != nullptr
                    ? parser_makeNodeWord(penv_, CAST_OP, TypeUInt32, literal, nullptr)
                    : nullptr,
                Shape::Unary};
      }
    }
  }
  diag::undefined_identifier(penv_, Symbol_getName(program, symbol));
  return {};
}

// postfix -> primary | postfix '[' expression ']' | postfix '.' IDENT ['(' arguments ')']
//          | postfix '.' 'continue' | '(' expression ')' IDENT | TIME_LITERAL
Expr Parser::postfix() {
  Expr e = primary();
  while (!failed_) {
    if (testNext(TOK_LBRACKET)) {
      const size_t openLine = last_.line;
      const Expr index = expression();
      if (!checkMatch(TOK_RBRACKET, TOK_LBRACKET, openLine)) return {};
      e = {e.node != nullptr && index.node != nullptr
               ? defBuff_makeArrayCall(penv_, e.node, index.node)
               : nullptr,
           Shape::Unary};
      continue;
    }
    if (testNext(TOK_DOT)) {
      if (tok_.kind != TOK_IDENT && tok_.kind != TOK_CONTINUE) {
        syntaxError();
        return {};
      }
      AST_Node* name = takeNode();
      if (testNext(TOK_LPAREN)) {
        const size_t openLine = last_.line;
        AST_Node* args = nullptr;
        const bool ok = arguments(&args);
        if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return {};
        e = {ok && e.node != nullptr ? builtinMtd_makeCall(penv_, e.node, name, args) : nullptr,
             Shape::Call};
      } else {
        e = {e.node != nullptr ? defExpr_makeFieldCall(penv_, e.node, name) : nullptr,
             Shape::Unary};
      }
      continue;
    }
    break;
  }
  return e;
}

// arguments -> empty | expression (',' expression)*
bool Parser::arguments(AST_Node** list) {
  bool ok = true;
  if (tok_.kind == TOK_RPAREN) return true;
  do {
    AST_Node* arg = expression().node;
    if (arg == nullptr) ok = false;
    *list = parser_appendList(penv_, *list, arg);
  } while (!failed_ && testNext(TOK_COMMA));
  return ok;
}

// primary -> IDENT '(' arguments ')' | IDENT | INTEGER | STRING | FLOAT | BOOLEAN
//          | '(' expression ')' | '__LINE__' | frequency (error)
Expr Parser::primary() {
  switch (tok_.kind) {
    case TOK_IDENT: {
      AST_Node* name = takeNode();
      if (testNext(TOK_LPAREN)) {
        const size_t openLine = last_.line;
        AST_Node* args = nullptr;
        const bool ok = arguments(&args);
        if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return {};
        return {ok ? call(name, args) : nullptr, Shape::Call};
      }
      return {defVar_makeAccess(penv_, name), Shape::Unary};
    }
    case TOK_INTEGER:
    case TOK_STRING:
    case TOK_FLOAT:
    case TOK_BOOLEAN:
    case TOK_TIME_LITERAL: return {takeNode(), Shape::Unary};
    case TOK_LINE: {
      const size_t line = tok_.line;
      advance();
      return {defExpr_makeIntegerLiteral(penv_, line), Shape::Unary};
    }
    case TOK_FREQ_LITERAL:
      advance();
      diag::frequency_in_expression(penv_);
      return {};
    case TOK_LPAREN: {
      const size_t openLine = tok_.line;
      advance();
      const Expr inner = expression();
      if (!checkMatch(TOK_RPAREN, TOK_LPAREN, openLine)) return {};
      if (tok_.kind == TOK_IDENT) {
        // (e) unit: a duration in that unit
        AST_Node* unit = takeNode();
        return {
            inner.node != nullptr ? defExpr_makeUnitConversion(penv_, inner.node, unit) : nullptr,
            Shape::Unary};
      }
      return {inner.node, Shape::Unary};
    }
    default: syntaxError(); return {};
  }
}

// A free call: a built-in function, else a user function, sub-process or cast.
AST_Node* Parser::call(AST_Node* name, AST_Node* args) {
  if (name == nullptr) return nullptr;
  if (lookupFunctionProtos(penv_, name->value.id.index) != nullptr) {
    return builtinFunc_makeCall(penv_, name, args);
  }
  return make_function_call(penv_, name, args, false);
}

template <class Make>
Expr Parser::combine(const Expr& left, const Expr& right, Make make) {
  if (failed_) return {};
  if (left.node == nullptr || right.node == nullptr) return {nullptr, Shape::Other};
  return {make(left.node, right.node), Shape::Other};
}

Expr Parser::arithmetic(uint32_t op, const Expr& left, const Expr& right) {
  return combine(left, right, [&](AST_Node* l, AST_Node* r) {
    return defExpr_makeArithmeticOp(penv_, op, l, r);
  });
}

}  // namespace kova_parser

void parser_initPostSymbols(ParserEnv* penv) {
  for (const char* unit : {"s", "ms", "us", "ns", "ps"}) parser_internSymbol(penv, unit);
}

void parser_loadProgram(ParserEnv* penv, InterpEnv* ienv) {
  penv->own.reset();
  penv->program = ienv->program.get();
  penv->ienv = ienv;
  const LocalVarsIndexes& idx = ienv->ctx->localVarsIndexes;
  penv->pctx.firstLocalIndex = idx.count.variables - idx.base.variables;
  penv->pctx.firstLocalConstant = idx.count.constants;
  parser_initPostSymbols(penv);
  parser_initBuiltinCalls(penv);
}

int parser_parseString(ParserEnv* penv, const char* text) {
  ParserContext& c = penv->pctx;
  c.result = NO_ID;
  c.status = 0;
  c.parseStartNodes = penv->program->infoProg->n_AST;
  c.nodeBudgetExceeded = false;
  c.line = 1;
  const std::string_view source(text);
  c.source = source;
  c.lineText = std::string(source.substr(0, std::min(source.find_first_of("\r\n"), size_t{500})));
  kova_parser::Parser parser(penv, source);
  AST_Node* root = parser.input();
  if (root != nullptr && c.status == 0) parser_checkBuiltinTree(penv, root);
  if (parser.failed()) return -1;
  if (root == nullptr && c.status == 0) return -1;
  c.result = AST_id(penv->program, root);
  return static_cast<int>(c.status);
}
