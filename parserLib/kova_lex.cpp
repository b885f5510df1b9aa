#include "parserLib/kova_lex.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "parserLib/diagnostics.h"

namespace {

// The current-line buffer holds 500 bytes, its terminator included: a rest
// of line of 500 characters or more does not fit and is truncated.
constexpr size_t kLineTextCapacity = 500;
constexpr size_t kLineTextMax = kLineTextCapacity - 1;

struct Keyword {
  std::string_view name;
  int kind;
};

// true and false are matched here too: a keyword beats an identifier of the
// same length.
constexpr auto kKeywords = std::to_array<Keyword>({
    {"include", TOK_INCLUDE}, {"out", TOK_OUT},
    {"in", TOK_IN},           {"const", TOK_CONST},
    {"enum", TOK_ENUM},       {"struct", TOK_STRUCT},
    {"var", TOK_VAR},         {"channel", TOK_CHANNEL},
    {"queue", TOK_QUEUE},     {"stack", TOK_STACK},
    {"for", TOK_FOR},         {"if", TOK_IF},
    {"else", TOK_ELSE},       {"while", TOK_WHILE},
    {"process", TOK_PROCESS}, {"processdef", TOK_PROCESSDEF},
    {"to", TOK_TO},           {"on", TOK_ON},
    {"after", TOK_AFTER},     {"state", TOK_STATE},
    {"static", TOK_STATIC},   {"common", TOK_COMMON},
    {"finally", TOK_FINALLY}, {"mod", TOK_MOD},
    {"loop", TOK_LOOP},       {"over", TOK_OVER},
    {"break", TOK_BREAK},     {"continue", TOK_CONTINUE},
    {"with", TOK_WITH},       {"and", TOK_AND},
    {"or", TOK_OR},           {"not", TOK_NOT},
    {"__LINE__", TOK_LINE},   {"Hz", TOK_HZ},
    {"true", TOK_BOOLEAN},    {"false", TOK_BOOLEAN},
});

struct Operator {
  std::string_view text;
  int kind;
};

// Two-character operators come first so that they win over their prefixes.
constexpr auto kOperators = std::to_array<Operator>({
    {"<<", TOK_SHL},   {">>", TOK_SHR},      {"==", TOK_EQ},       {"!=", TOK_NE},
    {"<=", TOK_LE},    {">=", TOK_GE},       {"&", TOK_AMPERSAND}, {"|", TOK_BAR},
    {"~", TOK_TILDE},  {"^", TOK_CARET},     {"=", TOK_ASSIGN},    {"<", TOK_LT},
    {">", TOK_GT},     {"(", TOK_LPAREN},    {")", TOK_RPAREN},    {"{", TOK_LBRACE},
    {"}", TOK_RBRACE}, {"[", TOK_LBRACKET},  {"]", TOK_RBRACKET},  {".", TOK_DOT},
    {",", TOK_COMMA},  {"+", TOK_PLUS},      {"-", TOK_MINUS},     {"*", TOK_STAR},
    {"/", TOK_SLASH},  {";", TOK_SEMICOLON}, {":", TOK_COLON},     {"@", TOK_AT},
    {"$", TOK_DOLLAR},
});

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isIdentStart(char c) {
  return isLetter(c) || c == '_';
}
bool isIdentChar(char c) {
  return isIdentStart(c) || isDigit(c);
}

char at(std::string_view s, size_t p) {
  return p < s.size() ? s[p] : '\0';
}

size_t runOf(std::string_view s, size_t p, bool (*accept)(char)) {
  size_t q = p;
  while (q < s.size() && accept(s[q])) ++q;
  return q - p;
}

size_t digitsAt(std::string_view s, size_t p) {
  return runOf(s, p, isDigit);
}
size_t spacesAt(std::string_view s, size_t p) {
  return runOf(s, p, [](char c) { return c == ' '; });
}

// The length of the time unit that starts at p, 0 when none does. No unit
// is a prefix of another, so the first that matches is the only one.
size_t timeUnitAt(std::string_view s, size_t p) {
  const std::string_view rest = s.substr(p);
  for (std::string_view unit : {"ps", "ns", "us", "\xC2\xB5s", "ms", "s"}) {
    if (rest.starts_with(unit)) return unit.size();
  }
  return 0;
}

// Lengths of the longest match of each numeric rule at p (0: no match).

// ([0-9]+ ' '* unit ' '*)+
size_t timeLiteralLength(std::string_view s, size_t p) {
  size_t end = p;
  for (size_t q = p;;) {
    const size_t digits = digitsAt(s, q);
    if (digits == 0) break;
    size_t r = q + digits;
    r += spacesAt(s, r);
    const size_t unit = timeUnitAt(s, r);
    if (unit == 0) break;
    r += unit;
    r += spacesAt(s, r);
    end = q = r;
  }
  return end - p;
}

// [0-9]+ ('.' [0-9]+)? ' '* "Hz"
size_t frequencyLiteralLength(std::string_view s, size_t p) {
  size_t q = p + digitsAt(s, p);
  if (at(s, q) == '.' && isDigit(at(s, q + 1))) q += 1 + digitsAt(s, q + 1);
  q += spacesAt(s, q);
  return s.substr(q).starts_with("Hz") ? q + 2 - p : 0;
}

// [0-9]+ '.' [0-9]+ | [0-9]+ ('.' [0-9]+)? [eE] [+-]? [0-9]+
size_t floatLiteralLength(std::string_view s, size_t p) {
  size_t q = p + digitsAt(s, p);
  size_t length = 0;
  if (at(s, q) == '.' && isDigit(at(s, q + 1))) {
    q += 1 + digitsAt(s, q + 1);
    length = q - p;
  }
  if (at(s, q) == 'e' || at(s, q) == 'E') {
    size_t r = q + 1;
    if (at(s, r) == '+' || at(s, r) == '-') ++r;
    const size_t exponent = digitsAt(s, r);
    if (exponent != 0) length = r + exponent - p;
  }
  return length;
}

// A literal too large for 64 bits saturates at 2^64 - 1, as strtoull does.
uint64_t readUnsigned(std::string_view digits, int base) {
  uint64_t value = 0;
  if (std::from_chars(digits.data(), digits.data() + digits.size(), value, base).ec ==
      std::errc::result_out_of_range) {
    value = std::numeric_limits<uint64_t>::max();
  }
  return value;
}

AST_Node* makeBoolean(ParserEnv* penv, bool value) {
  NodeValue v{};
  v.boolean = value ? 1 : 0;
  return parser_makeNode(penv, BOOLEAN_OP, v, nullptr, nullptr);
}

void parser_new_coment(ParserEnv* penv) {
  penv->pctx.comments.emplace_back();
}

void parser_close_coment(ParserEnv* penv) {
  const auto index = static_cast<uint32_t>(penv->pctx.comments.size() - 1);
  parser_makeNodeWord(penv, COMMENT_OP, index, nullptr, nullptr);
}

}  // namespace

KovaLexer::KovaLexer(ParserEnv* penv, std::string_view text)
    : penv_(penv), text_(text), line_(penv->pctx.line) {}

KovaLexer::KovaLexer(ParserEnv* penv, std::string_view text, size_t offset, size_t line)
    : penv_(penv), text_(text), pos_(std::min(offset, text.size())), line_(line) {
  const size_t lineBegin = text_.find_last_of("\r\n", pos_ == 0 ? 0 : pos_ - 1);
  lineStart_ = pos_ == 0 || lineBegin == std::string_view::npos ? 0 : lineBegin + 1;
  const size_t lineEnd = std::min(text_.find('\n', lineStart_), text_.size());
  penv_->pctx.lineText.assign(
      text_.substr(lineStart_, std::min(lineEnd - lineStart_, kLineTextMax)));
  penv_->pctx.line = line;
}

bool KovaLexer::reporting() {
  if (skipping_) return false;
  penv_->pctx.line = line_;
  penv_->pctx.column = pos_ - lineStart_ + 1;
  return true;
}

Token KovaLexer::next() {
  for (;;) {
    // The nodes and diagnostics made for a token name its line.
    penv_->pctx.line = line_;
    penv_->pctx.column = pos_ - lineStart_ + 1;
    if (inComment_) {
      if (!scanComment()) return make(TOK_END, 0, nullptr);
      continue;
    }
    if (pos_ >= text_.size()) return make(TOK_END, 0, nullptr);
    const char c = text_[pos_];
    if (c == ' ' || c == '\t') {
      ++pos_;
    } else if (c == '\n' || c == '\r') {
      lineBreak();
    } else if (c == '/' && at(text_, pos_ + 1) == '*') {
      pos_ += 2;
      if (!skipping_) parser_new_coment(penv_);
      inComment_ = true;
    } else if (isDigit(c)) {
      return number();
    } else if (isIdentStart(c)) {
      return word();
    } else if (c == '"') {
      Token token;
      if (stringLiteral(token)) return token;
    } else {
      for (const Operator& op : kOperators) {
        if (text_.substr(pos_).starts_with(op.text)) return make(op.kind, op.text.size(), nullptr);
      }
      // Form feed, vertical tab, '!', '%' and any byte no rule starts with.
      if (reporting()) diag::unknown_token(penv_);
      ++pos_;
    }
  }
}

Token KovaLexer::make(int kind, size_t length, AST_Node* node) {
  Token token{
      kind, node, line_, pos_ - lineStart_ + 1, pos_, std::string(text_.substr(pos_, length))};
  pos_ += length;
  return token;
}

void KovaLexer::lineBreak() {
  // The rest of the following line, up to the next line feed (a carriage
  // return belongs to it); only as much as the buffer can hold is looked at,
  // so a long run of carriage returns stays linear.
  const size_t start = pos_ + 1;
  size_t length = 0;
  while (length < kLineTextCapacity && start + length < text_.size() &&
         text_[start + length] != '\n') {
    ++length;
  }
  penv_->pctx.lineText.assign(text_.substr(start, std::min(length, kLineTextMax)));
  penv_->pctx.line = ++line_;
  pos_ = start;
  lineStart_ = start;
  // Reported with the line it is about.
  if (length >= kLineTextCapacity && reporting()) diag::line_too_long(penv_);
}

bool KovaLexer::scanComment() {
  std::string scratch;
  std::string& comment = skipping_ ? scratch : penv_->pctx.comments.back();
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == '*' && at(text_, pos_ + 1) == '/') {
      pos_ += 2;
      inComment_ = false;
      if (!skipping_) parser_close_coment(penv_);
      return true;
    }
    if (c == '\n' || (c == '\r' && at(text_, pos_ + 1) == '\n')) {
      const size_t length = c == '\n' ? 1 : 2;
      comment.append(text_.substr(pos_, length));
      pos_ += length;
      lineStart_ = pos_;
      penv_->pctx.line = ++line_;
    } else {
      comment.push_back(c);
      ++pos_;
    }
  }
  inComment_ = false;
  if (reporting()) diag::unclosed_comment(penv_);
  return false;
}

Token KovaLexer::number() {
  const std::string_view rest = text_.substr(pos_);
  if (rest.starts_with("0x") && isHexDigit(at(rest, 2))) {
    // No other numeric rule can go past the "0x".
    const size_t length = 2 + runOf(rest, 2, isHexDigit);
    return make(TOK_INTEGER, length,
                skipping_ ? nullptr
                          : defExpr_makeIntegerLiteral(
                                penv_, readUnsigned(rest.substr(2, length - 2), 16)));
  }
  // The numeric rules never match the same length, so the longest is unique.
  const size_t integer = digitsAt(text_, pos_);
  const size_t floating = floatLiteralLength(text_, pos_);
  const size_t time = timeLiteralLength(text_, pos_);
  const size_t frequency = frequencyLiteralLength(text_, pos_);
  const size_t longest = std::max({integer, floating, time, frequency});
  const std::string_view matched = rest.substr(0, longest);
  if (skipping_) {
    const int kind = longest == time        ? TOK_TIME_LITERAL
                     : longest == frequency ? TOK_FREQ_LITERAL
                     : longest == floating  ? TOK_FLOAT
                                            : TOK_INTEGER;
    return make(kind, longest, nullptr);
  }
  if (longest == time) {
    return make(TOK_TIME_LITERAL, longest, defExpr_makeTimeLiteral(penv_, matched));
  }
  if (longest == frequency) {
    return make(TOK_FREQ_LITERAL, longest, defExpr_makeFrequencyLiteral(penv_, matched));
  }
  if (longest == floating) {
    return make(TOK_FLOAT, longest, defExpr_makeFloatLiteralNode(penv_, matched));
  }
  return make(TOK_INTEGER, longest, defExpr_makeIntegerLiteral(penv_, readUnsigned(matched, 10)));
}

Token KovaLexer::word() {
  const size_t length = runOf(text_, pos_, isIdentChar);
  const std::string_view name = text_.substr(pos_, length);
  for (const Keyword& keyword : kKeywords) {
    if (keyword.name != name) continue;
    if (skipping_) return make(keyword.kind, length, nullptr);
    AST_Node* node = nullptr;
    if (keyword.kind == TOK_BOOLEAN) node = makeBoolean(penv_, name == "true");
    // continue is also a field of Process_Instance, so both carry their name.
    if (keyword.kind == TOK_BREAK || keyword.kind == TOK_CONTINUE) {
      node = defExpr_makeSymbol(penv_, name);
    }
    return make(keyword.kind, length, node);
  }
  return make(TOK_IDENT, length, skipping_ ? nullptr : defExpr_makeSymbol(penv_, name));
}

bool KovaLexer::stringLiteral(Token& token) {
  // Up to the next quote that no backslash precedes; escapes stay as written.
  for (size_t q = pos_ + 1; q < text_.size(); ++q) {
    if (text_[q] == '"' && text_[q - 1] != '\\') {
      const std::string_view contents = text_.substr(pos_ + 1, q - pos_ - 1);
      token =
          make(TOK_STRING, q + 1 - pos_, skipping_ ? nullptr : defExpr_makeStr(penv_, contents));
      // A string may span lines; they are not counted (the string is one
      // token), but columns after it start from its last line.
      const size_t lastBreak = contents.find_last_of('\n');
      if (lastBreak != std::string_view::npos) lineStart_ = token.offset + 2 + lastBreak;
      return true;
    }
  }
  // No rule matches an unclosed quote: it is an unknown token, and nothing
  // after it can be trusted to be outside the string.
  if (reporting()) diag::unknown_token(penv_);
  pos_ = text_.size();
  return false;
}
