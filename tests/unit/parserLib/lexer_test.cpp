// The lexer: token kinds, longest match, literal leaves, lines and comments,
// diagnostics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "ASTLib/rAST.h"
#include "parserLib/kova_lex.h"
#include "tests/support/test_host.h"

using namespace std::string_literals;
using kova_test::StdoutCapture;

namespace {

std::unique_ptr<ParserEnv> makeEnv(uint32_t nodes = 4000) {
  auto penv = parser_initTables();
  penv->pctx.line = 1;
  AST_createTree(penv->program, nodes);
  AST_createLineIndex(penv->program, nodes);
  return penv;
}

// A string literal's characters up to its in index, "?" when its cells are
// not laid out as in index, out index, characters, zero.
std::string stringOf(const Program* program, const AST_Node* node) {
  const ValueCell* cells = &program->constantDataTable[node->value.id.index];
  const uint32_t end = program->infoProg->size_constantData - node->value.id.index;
  std::string text;
  for (uint32_t i = 2; i < std::min(cells[0].index, end); ++i) text.push_back(char(cells[i].u8));
  return cells[1].index == 2 && text.size() + 2 < end && cells[text.size() + 2].u64 == 0
             ? '"' + text + '"'
             : "?";
}

// A leaf as written ("-" for no node); unit parts as "5ms", time additions
// as "(a+b)".
std::string leaf(const ParserEnv& penv, const AST_Node* n) {
  static const std::map<uint32_t, const char*> kUnits = {
      {PS_OP, "ps"}, {NS_OP, "ns"}, {US_OP, "us"}, {MS_OP, "ms"}, {S_OP, "s"}};
  const Program* p = penv.program;
  if (n == nullptr) return "-";
  switch (n->op) {
    case INTEGER_OP: return std::to_string(n->value.u64);
    case BOOLEAN_OP: return n->value.boolean ? "true" : "false";
    case SYM: return Symbol_getName(p, n->value.id.index);
    case STRING_OP: return stringOf(p, n);
    case FLOAT_OP: return penv.pctx.numerics.at(AST_left(p, n)->value.id.index);
    case PLUS_OP:
      return "(" + leaf(penv, AST_left(p, n)) + (n->value.id.type == TypeTime ? "+" : "?") +
             leaf(penv, AST_right(p, n)) + ")";
  }
  const auto unit = kUnits.find(n->op);
  return unit == kUnits.end() ? "?" : std::to_string(n->value.u64) + unit->second;
}

// "int 31", "id x", "time (1s+5ms)", "tok 274"...; "@n" follows a token not
// on line 1.
std::string describe(const ParserEnv& penv, const Token& t) {
  static const std::map<int, std::string> kLabels = {
      {TOK_INTEGER, "int"},  {TOK_IDENT, "id"},          {TOK_FLOAT, "float"},
      {TOK_BOOLEAN, "bool"}, {TOK_FREQ_LITERAL, "freq"}, {TOK_TIME_LITERAL, "time"},
      {TOK_STRING, "str"}};
  const auto label = kLabels.find(t.kind);
  std::string d = label != kLabels.end()
                      ? label->second + " " + leaf(penv, t.node)
                      : "tok " + std::to_string(t.kind) + (t.node ? " " + leaf(penv, t.node) : "");
  return t.line == 1 ? d : d + "@" + std::to_string(t.line);
}

struct Scan {
  std::vector<std::string> described, texts, lineTexts;  // the current line's after each token
  std::vector<std::pair<size_t, size_t>> places;         // line and column
  std::string output;
};

// Stops after one token more than the text has characters (each takes one).
Scan scan(ParserEnv* penv, std::string_view text, bool skipping = false) {
  KovaLexer lexer(penv, text);
  lexer.setSkipping(skipping);
  Scan s;
  StdoutCapture capture;
  for (Token t = lexer.next(); t.kind != TOK_END && s.texts.size() <= text.size();
       t = lexer.next()) {
    s.described.push_back(describe(*penv, t));
    s.lineTexts.push_back(penv->pctx.lineText);
    s.texts.push_back(t.text);
    s.places.emplace_back(t.line, t.column);
  }
  s.output = capture.text();
  return s;
}

const auto error = [](size_t line, const std::string& message) {
  return "[ERROR] Line " + std::to_string(line) + ": " + message;
};
std::string unitWarning(int part, const char* unit, const char* previous) {
  return "[WARNING] Line 1: the time literal n\xC2\xB0"s + std::to_string(part) +
         " in time literal expression has the same or an higher time unit (" + unit +
         ") than the previous one (" + previous + ")\n";
}
std::string times(const std::string& text, int n) {
  return n > 0 ? text + times(text, n - 1) : "";
}
const std::string kUnknown = error(1, "unknown token!\n");
const std::string kRange =
    error(1, "hertz frequency out of range (5.421010862427523e-08 to 1e+12 only)\n");
const std::string kLong = "Max line length exceeded!\n";
const std::string y499(499, 'y'), y500(500, 'y'), y600(600, 'y');

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> tokens;
  std::string output = "";
  uint32_t status = 0;
  std::vector<std::string> comments = {};
};

// Token kinds are the grammar's numbers.
// clang-format off
const Case kCases[] = {
    {"keywords; their prefixes and extensions are identifiers",
     "include out in const enum struct var channel queue stack for if else while process "
     "processdef to on after state static common finally mod loop over break continue with and "
     "or not __LINE__ Hz true false iff _if If in_ __LINE__x Hzz truex",
     {"tok 328", "tok 302", "tok 301", "tok 303", "tok 268", "tok 298", "tok 263", "tok 273",
      "tok 299", "tok 300", "tok 267", "tok 264", "tok 265", "tok 266", "tok 272", "tok 308",
      "tok 270", "tok 269", "tok 304", "tok 271", "tok 305", "tok 306", "tok 307", "tok 309",
      "tok 310", "tok 311", "tok 314 break", "tok 313 continue", "tok 312", "tok 281", "tok 282",
      "tok 283", "tok 321", "tok 327", "bool true", "bool false", "id iff", "id _if", "id If",
      "id in_", "id __LINE__x", "id Hzz", "id truex"}},
    {"operators, two-character ones first; no line comment",
     "& | ~ ^ << >> = == != <= >= < > ( ) { } [ ] . , + - * / ; : @ $ <<=>>===<>!= //",
     {"tok 315", "tok 316", "tok 318", "tok 317", "tok 319", "tok 320", "tok 280", "tok 274",
      "tok 275", "tok 277", "tok 279", "tok 276", "tok 278", "tok 284", "tok 285", "tok 286",
      "tok 287", "tok 288", "tok 289", "tok 291", "tok 290", "tok 294", "tok 295", "tok 296",
      "tok 297", "tok 292", "tok 293", "tok 323", "tok 324", "tok 319", "tok 280", "tok 320",
      "tok 274", "tok 280", "tok 276", "tok 278", "tok 275", "tok 297", "tok 297"}},
    {"hex needs a lower-case x", "0X1F 0x1F 0xff 0x 0xg",
     {"int 0", "id X1F", "int 31", "int 255", "int 0", "id x", "int 0", "id xg"}},
    {"floats need digits after the point", "1. 1.5 2.5E-3 7e+2 1.e5 1e 3.x",
     {"int 1", "tok 291", "float 1.5", "float 2.5E-3", "float 7e+2", "int 1", "tok 291", "id e5",
      "int 1", "id e", "int 3", "tok 291", "id x"}},
    {"integers saturate at 64 bits", "18446744073709551616 0x10000000000000000",
     {"int 18446744073709551615", "int 18446744073709551615"}},
    {"two parts, 1500000000000 ps", "1 s 500 ms", {"time (1s+500ms)"}},
    {"every unit, joined left to right", "1s 2ms 3us 4ns 5ps",
     {"time ((((1s+2ms)+3us)+4ns)+5ps)"}},
    {"us and the micro sign are one unit", "2us 3 \xC2\xB5s", {"time (2us+3us)"},
     unitWarning(2, "\xC2\xB5s", "us")},
    {"longest match splits words; hours and tabs end literals", "1sec 1 ms5 1 h 1\ts 1 s\t2 s",
     {"time 1s", "id ec", "time 1ms", "int 5", "int 1", "id h", "int 1", "id s", "time 1s",
      "time 2s"}},
    {"increasing units warn, the reference unit stays", "1ms2s 3ms", {"time ((1ms+2s)+3ms)"},
     unitWarning(2, "s", "ms") + unitWarning(3, "ms", "ms")},
    {"frequencies", "50Hz 50 Hz 2.5Hz 3Hz 6Hz 1000000000000Hz",
     {"freq 20000000000ps", "freq 20000000000ps", "freq 400000000000ps", "freq 333333333333ps",
      "freq 166666666667ps", "freq 1ps"}},
    {"zero hertz", "0Hz 0.000 Hz", {"freq -", "freq -"},
     times(error(1, "a hertz frequency must be strictly greater than 0\n"), 2), 177},
    {"frequency range: one cycle per 2^64 ps and up to 1e12 Hz",
     "0.00000005421010862427523Hz 0.0000000542101086242752Hz 2000000000000Hz 1" +
         std::string(400, '0') + "Hz",
     {"freq 18446744073709549568ps", "freq -", "freq -", "freq -"}, times(kRange, 3), 183},
    {"Hz alone and after a point", "x Hz 50.Hz 1e5Hz",
     {"id x", "tok 327", "int 50", "tok 291", "tok 327", "float 1e5", "tok 327"}},
    {"strings keep escapes and span lines uncounted", R"("a\n" "" "say \"hi\"" "x)" "\ny\" c",
     {R"(str "a\n")", R"(str "")", R"(str "say \"hi\"")", "str \"x\ny\"", "id c"}},
    {"unknown characters; nothing after an unclosed quote", "a ! \f\v\x80\\ \0b \"abc x"s,
     {"id a", "id b"}, times(kUnknown, 7), 300},
    {"comments and their line breaks", "a /* x\ny */ b /* c\rd */ c /* e\r\nf */ d",
     {"id a", "id b@2", "id c@2", "id d@3"}, "", 0, {" x\ny ", " c\rd ", " e\r\nf "}},
    {"comments do not nest", "/**/ /* a /* b */ c */", {"id c", "tok 296", "tok 297"}, "", 0,
     {"", " a /* b "}},
    {"unclosed comment, reported where the input ends", "a\n b /* never\n closed",
     {"id a", "id b@2"}, error(3, "Unclosed comment\n"), 888, {" never\n closed"}},
    {"line breaks", "a\nb\rc\r\nd", {"id a", "id b@2", "id c@3", "id d@5"}},
    {"long lines: 600 and 500 characters are reported, 499 fit",
     "a\n" + y600 + "\nb\n" + y499 + "\n" + y500,
     {"id a", "id " + y600 + "@2", "id b@3", "id " + y499 + "@4", "id " + y500 + "@5"},
     error(2, kLong) + error(5, kLong), 51},
};
// clang-format on

}  // namespace

TEST(Lexer, TokenSequences) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto penv = makeEnv();
    const Scan s = scan(penv.get(), c.input);
    EXPECT_EQ(s.described, c.tokens);
    EXPECT_EQ(s.output, c.output);
    EXPECT_EQ(penv->pctx.status, c.status);
    EXPECT_EQ(penv->pctx.comments, c.comments);
  }
}

TEST(Lexer, StringCellsAndCommentNodesAccumulateWhileNodesLast) {
  auto penv = makeEnv();
  scan(penv.get(), R"("ab" /* one */ "" /**/ "c")");
  EXPECT_EQ(penv->program->infoProg->size_constantData, 12u);  // length + 3 cells each
  std::vector<uint32_t> comments;                              // the indices comment nodes hold
  for (uint32_t id = 0; id < penv->program->infoProg->n_AST; ++id) {
    const AST_Node* node = AST_fromId(penv->program, id);
    if (node->op == COMMENT_OP) comments.push_back(node->value.id.index);
  }
  EXPECT_EQ(comments, (std::vector<uint32_t>{0, 1}));
  // An exhausted node budget gives tokens without nodes.
  auto small = makeEnv(3);
  const Scan s = scan(small.get(), "x 1.5 1s2ms \"abc\" 50Hz true /* c */ 7");
  EXPECT_EQ(s.described, (std::vector<std::string>{"id x", "float -", "time -", "str -", "freq -",
                                                   "bool -", "int -"}));
  EXPECT_EQ(s.output.find("[ERROR]"), s.output.rfind("[ERROR]"));  // reported once
  EXPECT_EQ(small->program->infoProg->size_constantData, 0u);      // no string without its node
  EXPECT_EQ(small->pctx.status, 666u);
}

// What a syntax error shows: the token's text and its line's.
TEST(Lexer, TokenAndLineTexts) {
  auto penv = makeEnv();
  const Scan s = scan(penv.get(), "x <=\n\"a b\" 1 s  50 Hz 0x1f\n" + y600 + "\rlast\n");
  EXPECT_EQ(s.texts, (std::vector<std::string>{"x", "<=", "\"a b\"", "1 s  ", "50 Hz", "0x1f", y600,
                                               "last"}));
  // The first line follows no break: its text is the caller's. A carriage
  // return belongs to the rest of the line a line feed starts, then starts a
  // line of its own; a long line is cut to 499 characters.
  const std::string second = "\"a b\" 1 s  50 Hz 0x1f";
  EXPECT_EQ(s.lineTexts,
            (std::vector<std::string>{"", "", second, second, second, second, y499, "last"}));
  EXPECT_EQ(s.output, error(3, kLong));
  EXPECT_EQ(penv->pctx.lineText, "");
  EXPECT_EQ(penv->pctx.line, 5u);
}

// Tokens know where they start; a scanner started inside a text counts its
// lines from there; a skipping scanner makes no node and reports nothing.
TEST(Lexer, ColumnsRestartsAndSkipping) {
  auto penv = makeEnv();
  const std::string text = "x = 1;\n  y\t= !2;\n";
  size_t reportedColumn = 0;
  penv->pctx.sink = [&](const ParserEnv&, const Diagnostic& d) { reportedColumn = d.column; };
  EXPECT_EQ(scan(penv.get(), text).places,
            (std::vector<std::pair<size_t, size_t>>{
                {1, 1}, {1, 3}, {1, 5}, {1, 6}, {2, 3}, {2, 5}, {2, 8}, {2, 9}}));
  penv->pctx.sink = nullptr;
  EXPECT_EQ(reportedColumn, 7u);  // the '!'

  KovaLexer restarted(penv.get(), text, text.find('y'), 2);
  const Token y = restarted.next();
  EXPECT_EQ(describe(*penv, y), "id y@2");
  EXPECT_EQ(y.column, 3u);
  EXPECT_EQ(penv->pctx.lineText, "  y\t= !2;");

  auto fresh = makeEnv();
  const Scan skipped = scan(fresh.get(), "a 1 \"s\" 2.5 ! /* c */ 1ms 0Hz", true);
  EXPECT_EQ(skipped.described,
            (std::vector<std::string>{"id -", "int -", "str -", "float -", "time -", "freq -"}));
  EXPECT_EQ(skipped.output, "");
  EXPECT_EQ(fresh->pctx.status, 0u);
  EXPECT_EQ(fresh->program->infoProg->n_AST, 0u);
}

TEST(Lexer, HostileInputsEndWithoutFault) {
  std::string allBytes;
  for (int c = 0; c < 512; ++c) allBytes.push_back(static_cast<char>(c));
  const std::string nines(5000, '9');
  // clang-format off
  const std::string inputs[] = {
      std::string(20000, '\r'), allBytes, std::string(10001, '"'), "\"\\" + std::string(5000, 'a'),
      "/*" + std::string(5000, '*'), times("1 s ", 1000),
      nines + "Hz " + nines + "." + nines + "e" + nines,
      "0x" + std::string(5000, 'f') + " " + std::string(5000, '7') + " s",
      std::string(20000, '1') + std::string(20000, ' ') + "x"};
  // clang-format on
  for (const std::string& input : inputs) {
    auto penv = makeEnv(1000);
    EXPECT_LE(scan(penv.get(), input).texts.size(), input.size());
    EXPECT_LE(penv->pctx.lineText.size(), 500u);
  }
}
