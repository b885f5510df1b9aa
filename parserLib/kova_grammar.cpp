#include "parserLib/kova_grammar.h"

#include <string>
#include <vector>

#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_expression.h"
#include "parserLib/def_statement.h"
#include "parserLib/def_type.h"
#include "parserLib/def_variable.h"
#include "parserLib/kova_lex.h"
#include "parserLib/parser_error.h"

namespace {

// What the outermost construct of a parsed expression was: an assignment may
// only follow a unary, and a call needs ';' to stand as a statement.
enum class Shape { Unary, Call, Other };

struct Expr {
  AST_Node* node = nullptr;
  Shape shape = Shape::Other;
};

// Nesting deeper than this is refused: the parser recurses once per level
// and must not run out of stack on a line of opening brackets.
constexpr int kMaxNesting = 200;

class Parser {
 public:
  Parser(ParserEnv* penv, std::string_view text) : penv_(penv), lexer_(penv, text) { advance(); }

  // input -> '$' statement | '$' expression
  AST_Node* input() {
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

  bool failed() const { return failed_; }

 private:
  // ---------------------------------------------------------------- helpers

  // Diagnostics name the line of the last token consumed, not the line the
  // scanner has reached while looking ahead.
  void advance() {
    line_ = tok_.line != 0 ? tok_.line : line_;
    if (hasPeek_) {
      tok_ = std::move(peek_);
      hasPeek_ = false;
    } else {
      tok_ = lexer_.next();
    }
    penv_->pctx.line = line_;
  }

  const Token& peek() {
    if (!hasPeek_) {
      peek_ = lexer_.next();
      hasPeek_ = true;
      penv_->pctx.line = line_;
    }
    return peek_;
  }

  // Counts one level of nesting for its lifetime.
  class Nesting {
   public:
    explicit Nesting(Parser* parser) : parser_(parser) {
      if (++parser_->depth_ > kMaxNesting && !parser_->failed_) {
        parser_->failed_ = true;
        parser_error(parser_->penv_, 301, "statement nested too deeply (more than %d levels)\n",
                     kMaxNesting);
      }
    }
    ~Nesting() { --parser_->depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Parser* parser_;
  };

  void syntaxError() {
    if (failed_) return;
    failed_ = true;
    if (tok_.kind != TOK_END) penv_->pctx.line = tok_.line;
    parser_error(penv_, 301, "%s before \"%s\" in this line:\n%s\n", "syntax error",
                 tok_.text.c_str(), penv_->pctx.lineText.c_str());
  }

  bool testNext(int kind) {
    if (tok_.kind != kind) return false;
    advance();
    return true;
  }

  void check(int kind) {
    if (tok_.kind != kind) syntaxError();
  }

  // Consumes the token or reports the syntax error; the token is consumed
  // only when it matches.
  bool checkNext(int kind) {
    if (failed_) return false;
    if (tok_.kind != kind) {
      syntaxError();
      return false;
    }
    advance();
    return true;
  }

  AST_Node* takeNode() {
    AST_Node* node = tok_.node;
    advance();
    return node;
  }

  bool startsStatement() {
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

  // ---------------------------------------------------------------- statements

  // statement -> simple_statement | body | jump
  AST_Node* statement() {
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
  AST_Node* jump() {
    const uint32_t op = tok_.kind == TOK_BREAK ? BREAK_OP : CONTINUE_OP;
    advance();
    if (!checkNext(TOK_SEMICOLON)) return nullptr;
    return parser_makeNodeWord(penv_, op, 0, nullptr, nullptr);
  }

  // body -> label block | annotation | block
  AST_Node* body() {
    if (tok_.kind == TOK_AT) return annotation();
    if (tok_.kind == TOK_IDENT && peek().kind == TOK_COLON) {
      // label -> IDENT ':'
      AST_Node* label = takeNode();
      advance();  // ':'
      AST_Node* decl = defVar_makeAndDeclareNamedBlockDefinition(penv_, label);
      AST_Node* blk = block();
      defVar_closeScope(penv_);
      return makeNamedBlock(penv_, decl, blk);
    }
    return block();
  }

  // annotation -> '@' annotation_path block ; annotation_path -> IDENT (':' IDENT)*
  AST_Node* annotation() {
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
  AST_Node* block() {
    const Nesting level(this);
    if (!checkNext(TOK_LBRACE)) return nullptr;
    defVar_openScope(penv_);
    AST_Node* declarations = nullptr;
    bool ok = true;
    while (!failed_ &&
           (tok_.kind == TOK_VAR || tok_.kind == TOK_CONST || tok_.kind == TOK_STATIC)) {
      AST_Node* decl = localDeclaration();
      if (decl == nullptr) ok = false;
      defVar_declareLocal(penv_, decl);
      declarations = parser_appendList(penv_, declarations, decl);
    }
    AST_Node* statements = nullptr;
    while (!failed_ && tok_.kind != TOK_RBRACE && tok_.kind != TOK_END) {
      AST_Node* s = statement();
      if (s == nullptr) ok = false;
      statements = parser_appendList(penv_, statements, s);
    }
    checkNext(TOK_RBRACE);
    defVar_closeScope(penv_);
    if (!ok || failed_) return nullptr;
    return defStmt_makeBlock(penv_, declarations, statements);
  }

  // local_declaration -> variable_declaration | 'static' variable_declaration
  AST_Node* localDeclaration() {
    if (testNext(TOK_STATIC)) {
      parser_error(penv_, 301, "static declaration not allowed in this scope");
      variableDeclaration();
      return nullptr;
    }
    return variableDeclaration();
  }

  // variable_declaration -> ('var' | 'const') type ':' IDENT ['[' expression ']'] ['=' initializer]
  // ';'
  //                       | ('var' | 'const') buffer_kind '<' type '>' ':' IDENT '[' expression ']'
  //                       ['=' initializer] ';'
  AST_Node* variableDeclaration() {
    const bool constant = tok_.kind == TOK_CONST;
    advance();
    uint32_t kind = NONE_BUFFER;
    if (tok_.kind == TOK_QUEUE || tok_.kind == TOK_STACK || tok_.kind == TOK_CHANNEL) {
      kind = tok_.kind == TOK_QUEUE   ? QUEUE_BUFFER
             : tok_.kind == TOK_STACK ? STACK_BUFFER
                                      : STRING_BUFFER;
      advance();
      if (!checkNext(TOK_LT)) return nullptr;
    }
    check(TOK_IDENT);
    if (failed_) return nullptr;
    const uint32_t type = defType_lookup(penv_, takeNode());
    if (kind != NONE_BUFFER && !checkNext(TOK_GT)) return nullptr;
    if (!checkNext(TOK_COLON)) return nullptr;
    check(TOK_IDENT);
    if (failed_) return nullptr;
    AST_Node* name = takeNode();
    AST_Node* size = nullptr;
    bool sized = false;
    if (testNext(TOK_LBRACKET)) {
      sized = true;
      size = expression().node;
      if (!checkNext(TOK_RBRACKET)) return nullptr;
    }
    AST_Node* init = nullptr;
    const bool initialized = testNext(TOK_ASSIGN);
    if (initialized) init = initializer();
    if (failed_ || !checkNext(TOK_SEMICOLON)) return nullptr;
    const char* nameText =
        name != nullptr ? Symbol_getName(penv_->program, name->value.id.index) : "";
    if (constant && !initialized) {
      parser_error(penv_, 301, "constant \"%s\" declaration needs an initialization\n", nameText);
      return nullptr;
    }
    if (kind != NONE_BUFFER && !sized) {
      parser_error(penv_, 301, "channel size not specified\n");
      return nullptr;
    }
    if (kind != NONE_BUFFER && constant) {
      parser_error(penv_, 301, "constant channel not allowed\n");
      return nullptr;
    }
    if (initialized && init == nullptr) return nullptr;
    if (sized) return defBuff_makeDefinition(penv_, constant, kind, type, name, size, init);
    return defVar_makeDefinition(penv_, constant, type, name, init);
  }

  // initializer -> frequency | expression | '{' '}' | '{' init_list '}'
  // init_list -> init_element (',' init_element)* ; init_element -> frequency | expression | '{'
  // [init_list] '}'
  AST_Node* initializer() {
    const Nesting level(this);
    if (failed_) return nullptr;
    if (tok_.kind == TOK_FREQ_LITERAL) return takeNode();
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
    checkNext(TOK_RBRACE);
    if (!ok || failed_) return nullptr;
    if (list == nullptr) list = parser_makeList(penv_, nullptr);  // '{' '}'
    return list;
  }

  // if_statement -> 'if' '(' expression ')' block ['else' (block | if_statement)]
  AST_Node* ifStatement() {
    advance();
    if (!checkNext(TOK_LPAREN)) return nullptr;
    AST_Node* condition = expression().node;
    if (!checkNext(TOK_RPAREN)) return nullptr;
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
  AST_Node* whileStatement() {
    advance();
    if (!checkNext(TOK_LPAREN)) return nullptr;
    AST_Node* condition = expression().node;
    if (!checkNext(TOK_RPAREN)) return nullptr;
    AST_Node* blk = block();
    if (failed_) return nullptr;
    return defStmt_makeWhile(penv_, condition, blk);
  }

  // for_statement -> 'for' '(' assignment ';' expression ';' assignment ')' body
  AST_Node* forStatement() {
    advance();
    if (!checkNext(TOK_LPAREN)) return nullptr;
    AST_Node* init = assignment();
    if (!checkNext(TOK_SEMICOLON)) return nullptr;
    AST_Node* condition = expression().node;
    if (!checkNext(TOK_SEMICOLON)) return nullptr;
    AST_Node* step = assignment();
    if (!checkNext(TOK_RPAREN)) return nullptr;
    AST_Node* b = body();
    if (failed_) return nullptr;
    return defStmt_makeFor(penv_, init, condition, step, b);
  }

  // loop_statement -> 'loop' 'over' postfix 'with' IDENT block
  AST_Node* loopStatement() {
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
  AST_Node* assignment() {
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
  AST_Node* simpleStatementOrExpression(bool topLevel) {
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
          parser_error(penv_, 301, "expect ';' after assignment\n");
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
          parser_error(penv_, 301, "expect ';' after statement\n");
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

  // expression -> or_expression
  Expr expression() {
    const Nesting level(this);
    if (failed_) return {};
    return orExpression();
  }

  // or_expression -> and_expression ('or' and_expression)*
  Expr orExpression() {
    Expr left = andExpression();
    while (!failed_ && tok_.kind == TOK_OR) {
      advance();
      left = combine(left, andExpression(), [&](AST_Node* l, AST_Node* r) {
        return defExpr_makeLogicalOp(penv_, OR_OP, l, r);
      });
    }
    return left;
  }

  // and_expression -> bitor_expression ('and' bitor_expression)*
  Expr andExpression() {
    Expr left = bitorExpression();
    while (!failed_ && tok_.kind == TOK_AND) {
      advance();
      left = combine(left, bitorExpression(), [&](AST_Node* l, AST_Node* r) {
        return defExpr_makeLogicalOp(penv_, AND_OP, l, r);
      });
    }
    return left;
  }

  // bitor_expression -> bitxor_expression ('|' bitxor_expression)*
  Expr bitorExpression() {
    Expr left = bitxorExpression();
    while (!failed_ && tok_.kind == TOK_BAR) {
      advance();
      left = arithmetic(BIT_OR_OP, left, bitxorExpression());
    }
    return left;
  }

  // bitxor_expression -> bitand_expression ('^' bitand_expression)*
  Expr bitxorExpression() {
    Expr left = bitandExpression();
    while (!failed_ && tok_.kind == TOK_CARET) {
      advance();
      left = arithmetic(BIT_XOR_OP, left, bitandExpression());
    }
    return left;
  }

  // bitand_expression -> equality_chain ('&' equality)*
  Expr bitandExpression() {
    Expr left = equalityChain();
    while (!failed_ && tok_.kind == TOK_AMPERSAND) {
      advance();
      left = arithmetic(BIT_AND_OP, left, equality());
    }
    return left;
  }

  static uint32_t equalityOp(int kind) {
    return kind == TOK_EQ ? CEQ_OP : kind == TOK_NE ? CNE_OP : NO_ID;
  }

  static uint32_t relationalOp(int kind) {
    switch (kind) {
      case TOK_LT: return LT_OP;
      case TOK_GT: return GT_OP;
      case TOK_GE: return CGE_OP;
      case TOK_LE: return CLE_OP;
      default: return NO_ID;
    }
  }

  // equality_chain -> relational_chain (('==' | '!=') relational_chain)*
  Expr equalityChain() {
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
  Expr equality() {
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
  Expr relationalChain() {
    Expr left = shiftExpression();
    bool chained = false;
    while (!failed_ && relationalOp(tok_.kind) != NO_ID) {
      const uint32_t op = relationalOp(tok_.kind);
      advance();
      left = combine(left, shiftExpression(), [&](AST_Node* l, AST_Node* r) {
        return chained ? defExpr_makeMultipleRelationalExpression(penv_, l, op, r)
                       : defExpr_makeLogicalOp(penv_, op, l, r);
      });
      chained = true;
    }
    return left;
  }

  // shift_expression -> additive (('<<' | '>>') additive)*
  Expr shiftExpression() {
    Expr left = additive();
    while (!failed_ && (tok_.kind == TOK_SHL || tok_.kind == TOK_SHR)) {
      const uint32_t op = tok_.kind == TOK_SHL ? SHIFT_LEFT_OP : SHIFT_RIGHT_OP;
      advance();
      left = arithmetic(op, left, additive());
    }
    return left;
  }

  // additive -> multiplicative (('+' | '-') multiplicative)*
  Expr additive() {
    Expr left = multiplicative();
    while (!failed_ && (tok_.kind == TOK_PLUS || tok_.kind == TOK_MINUS)) {
      const uint32_t op = tok_.kind == TOK_PLUS ? PLUS_OP : MINUS_OP;
      advance();
      left = arithmetic(op, left, multiplicative());
    }
    return left;
  }

  // multiplicative -> unary (('*' | '/' | 'mod') unary)*
  Expr multiplicative() {
    Expr left = unary();
    while (!failed_ && (tok_.kind == TOK_STAR || tok_.kind == TOK_SLASH || tok_.kind == TOK_MOD)) {
      const uint32_t op = tok_.kind == TOK_STAR    ? MULT_OP
                          : tok_.kind == TOK_SLASH ? DIV_OP
                                                   : MODULO_OP;
      advance();
      left = arithmetic(op, left, unary());
    }
    return left;
  }

  // unary -> postfix | '-' unary | 'not' unary | '~' unary | 'state' IDENT
  Expr unary() {
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
  Expr stateReference() {
    advance();
    check(TOK_IDENT);
    if (failed_) return {};
    AST_Node* name = takeNode();
    if (name == nullptr) return {};
    const Program* program = penv_->program;
    const uint32_t symbol = name->value.id.index;
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
    parser_error(penv_, 143, "undefined data identifier \"%s\"\n", Symbol_getName(program, symbol));
    return {};
  }

  // postfix -> primary | postfix '[' expression ']' | postfix '.' IDENT ['(' arguments ')']
  //          | postfix '.' 'continue' | '(' expression ')' IDENT | TIME_LITERAL
  Expr postfix() {
    Expr e = primary();
    while (!failed_) {
      if (testNext(TOK_LBRACKET)) {
        const Expr index = expression();
        if (!checkNext(TOK_RBRACKET)) return {};
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
          AST_Node* args = nullptr;
          const bool ok = arguments(&args);
          if (!checkNext(TOK_RPAREN)) return {};
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
  bool arguments(AST_Node** list) {
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
  Expr primary() {
    switch (tok_.kind) {
      case TOK_IDENT: {
        AST_Node* name = takeNode();
        if (testNext(TOK_LPAREN)) {
          AST_Node* args = nullptr;
          const bool ok = arguments(&args);
          if (!checkNext(TOK_RPAREN)) return {};
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
        parser_error(penv_, 301, "Frequency cannot be used in conventional expression\n");
        return {};
      case TOK_LPAREN: {
        advance();
        const Expr inner = expression();
        if (!checkNext(TOK_RPAREN)) return {};
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
  AST_Node* call(AST_Node* name, AST_Node* args) {
    if (name == nullptr) return nullptr;
    if (lookupFunctionProtos(penv_, name->value.id.index) != nullptr) {
      return builtinFunc_makeCall(penv_, name, args);
    }
    return make_function_call(penv_, name, args, false);
  }

  template <class Make>
  Expr combine(const Expr& left, const Expr& right, Make make) {
    if (failed_) return {};
    if (left.node == nullptr || right.node == nullptr) return {nullptr, Shape::Other};
    return {make(left.node, right.node), Shape::Other};
  }

  Expr arithmetic(uint32_t op, const Expr& left, const Expr& right) {
    return combine(left, right, [&](AST_Node* l, AST_Node* r) {
      return defExpr_makeArithmeticOp(penv_, op, l, r);
    });
  }

  ParserEnv* penv_;
  KovaLexer lexer_;
  Token tok_;
  Token peek_;
  bool hasPeek_ = false;
  bool failed_ = false;
  size_t line_ = 1;
  int depth_ = 0;
};

}  // namespace

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
  c.lineText = std::string(source.substr(0, std::min(source.find_first_of("\r\n"), size_t{500})));
  Parser parser(penv, source);
  AST_Node* root = parser.input();
  if (root != nullptr && c.status == 0) parser_checkBuiltinTree(penv, root);
  if (parser.failed()) return -1;
  if (root == nullptr && c.status == 0) return -1;
  c.result = AST_id(penv->program, root);
  return static_cast<int>(c.status);
}
