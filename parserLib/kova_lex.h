// The lexer: Kova source text (a console line or a file) to the tokens of the
// grammar.
//
// A hand-written longest-match scanner: when a keyword (or true/false) and an
// identifier match the same text, the keyword wins; 1s is a time literal, iff
// an identifier, 1. the integer 1 and a dot. Literal and identifier tokens
// carry the leaf node the lexer made for them in the program (integers,
// floats, booleans, strings in constant data, time and frequency literals,
// interned symbols); a number too large for 64 bits saturates at 2^64 - 1,
// as strtoull does. Errors (unknown character, over-long line, bad
// frequency) are reported through the front end's diagnostics and scanning
// goes on. An unclosed comment or string ends the input.
//
// Tokens carry their line and column. A scanner may start anywhere in a
// text (a whole program's compiler comes back to the bodies it skipped), and
// it may skip: tokens then carry no node and the scanner reports nothing, so
// a region scanned twice makes its nodes and diagnostics once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "parserLib/parser_data.h"

// The token numbers the grammar sees; 0 is the end of input.
enum KovaToken : int {
  TOK_END = 0,
  TOK_INTEGER = 258,
  TOK_IDENT = 259,
  TOK_STRING = 260,
  TOK_FLOAT = 261,
  TOK_BOOLEAN = 262,
  TOK_VAR = 263,
  TOK_IF = 264,
  TOK_ELSE = 265,
  TOK_WHILE = 266,
  TOK_FOR = 267,
  TOK_ENUM = 268,
  TOK_ON = 269,
  TOK_TO = 270,
  TOK_STATE = 271,
  TOK_PROCESS = 272,
  TOK_CHANNEL = 273,
  TOK_EQ = 274,      // ==
  TOK_NE = 275,      // !=
  TOK_LT = 276,      // <
  TOK_LE = 277,      // <=
  TOK_GT = 278,      // >
  TOK_GE = 279,      // >=
  TOK_ASSIGN = 280,  // =
  TOK_AND = 281,
  TOK_OR = 282,
  TOK_NOT = 283,
  TOK_LPAREN = 284,
  TOK_RPAREN = 285,
  TOK_LBRACE = 286,
  TOK_RBRACE = 287,
  TOK_LBRACKET = 288,
  TOK_RBRACKET = 289,
  TOK_COMMA = 290,
  TOK_DOT = 291,
  TOK_SEMICOLON = 292,
  TOK_COLON = 293,
  TOK_PLUS = 294,
  TOK_MINUS = 295,
  TOK_STAR = 296,
  TOK_SLASH = 297,
  TOK_STRUCT = 298,
  TOK_QUEUE = 299,
  TOK_STACK = 300,
  TOK_IN = 301,
  TOK_OUT = 302,
  TOK_CONST = 303,
  TOK_AFTER = 304,
  TOK_STATIC = 305,
  TOK_COMMON = 306,
  TOK_FINALLY = 307,
  TOK_PROCESSDEF = 308,
  TOK_MOD = 309,
  TOK_LOOP = 310,
  TOK_OVER = 311,
  TOK_WITH = 312,
  TOK_CONTINUE = 313,
  TOK_BREAK = 314,
  TOK_AMPERSAND = 315,  // &
  TOK_BAR = 316,        // |
  TOK_CARET = 317,      // ^
  TOK_TILDE = 318,      // ~
  TOK_SHL = 319,        // <<
  TOK_SHR = 320,        // >>
  TOK_LINE = 321,       // __LINE__
  TOK_AT = 323,         // @
  TOK_DOLLAR = 324,     // $
  TOK_TIME_LITERAL = 325,
  TOK_FREQ_LITERAL = 326,
  TOK_HZ = 327,
  TOK_INCLUDE = 328,
};

struct Token {
  int kind = TOK_END;
  AST_Node* node = nullptr;  // literals, identifiers, break and continue (a symbol node)
  size_t line = 0;           // where the token starts
  size_t column = 0;         // 1-based, in bytes
  size_t offset = 0;         // in the text
  std::string text;          // the token's text as written
};

// A scanner over one text; the environment receives the line counter and the
// current line's text (for diagnostics) as scanning goes.
class KovaLexer {
 public:
  KovaLexer(ParserEnv* penv, std::string_view text);
  // A scanner over `text` that starts at `offset`, on source line `line`.
  KovaLexer(ParserEnv* penv, std::string_view text, size_t offset, size_t line);
  Token next();
  void setSkipping(bool skipping) { skipping_ = skipping; }

 private:
  // The token of that kind over the next `length` characters.
  Token make(int kind, size_t length, AST_Node* node);
  // A line feed or carriage return: counts the line and keeps the rest of
  // the following line as the current line's text.
  void lineBreak();
  // Inside a block comment, up to its end; false at end of input.
  bool scanComment();
  // At a digit: the longest of integer, float, time and frequency literals.
  Token number();
  // An identifier or a keyword.
  Token word();
  // At a quote; false (after the error) when the string is not closed.
  bool stringLiteral(Token& token);

  // Sets the diagnostics' location to the scanning position; false when
  // skipping (nothing is reported then).
  bool reporting();

  ParserEnv* penv_;
  std::string_view text_;
  size_t pos_ = 0;
  size_t line_;           // the current line
  size_t lineStart_ = 0;  // offset of the current line's first character
  bool inComment_ = false;
  bool skipping_ = false;
};

// ---- leaf nodes made for literals and identifiers

// A symbol node (op SYM) for the name, interned in the program's symbols.
AST_Node* defExpr_makeSymbol(ParserEnv* penv, std::string_view name);
// An integer literal node (op 40) holding the value.
AST_Node* defExpr_makeIntegerLiteral(ParserEnv* penv, uint64_t value);
// A generic float literal (op 28) whose left child holds the index of its
// text in the numerics buffer; typed later against its context.
AST_Node* defExpr_makeFloatLiteralNode(ParserEnv* penv, std::string_view text);
// A time literal: parts of decreasing units joined by additions.
AST_Node* defExpr_makeTimeLiteral(ParserEnv* penv, std::string_view text);
// A frequency literal: its period as a picosecond node (op 70).
AST_Node* defExpr_makeFrequencyLiteral(ParserEnv* penv, std::string_view text);
// A string literal (op 63) over a uint8 queue in constant data: in index
// (length + 2), out index (2), the characters, a zero cell.
AST_Node* defExpr_makeStr(ParserEnv* penv, std::string_view contents);
