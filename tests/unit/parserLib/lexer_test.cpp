// The lexer: token kinds, longest match, literal leaves, lines and comments,
// diagnostics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ASTLib/rAST.h"
#include "parserLib/kova_lex.h"
#include "tests/support/test_host.h"

using namespace std::string_literals;
using kova_test::StdoutCapture;

namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

std::unique_ptr<ParserEnv> makeEnv(uint32_t nodes = 4000) {
  auto penv = parser_initTables();
  penv->pctx.exitOnError = false;
  penv->pctx.line = 1;
  AST_createTree(penv->program, nodes);
  AST_createLineIndex(penv->program, nodes);
  return penv;
}

std::vector<Token> scanAll(ParserEnv* penv, std::string_view text) {
  KovaLexer lexer(penv, text);
  std::vector<Token> tokens;
  // Every token consumes at least one character.
  for (size_t i = 0; i <= text.size(); ++i) {
    Token token = lexer.next();
    if (token.kind == TOK_END) return tokens;
    tokens.push_back(std::move(token));
  }
  ADD_FAILURE() << "no end of input";
  return tokens;
}

uint64_t picosecondsPer(uint32_t op) {
  switch (op) {
    case PS_OP: return 1;
    case NS_OP: return 1000;
    case US_OP: return 1000000;
    case MS_OP: return 1000000000;
    case S_OP: return 1000000000000;
    default: return 0;
  }
}

// The duration a time literal's expression stands for; false when it holds
// anything but unit parts joined by time additions.
bool picoseconds(const Program* program, const AST_Node* node, uint64_t& total) {
  if (node == nullptr) return false;
  if (node->op == PLUS_OP) {
    uint64_t left = 0;
    uint64_t right = 0;
    if (node->value.id.type != TypeTime) return false;
    if (!picoseconds(program, AST_left(program, node), left)) return false;
    if (!picoseconds(program, AST_right(program, node), right)) return false;
    total = left + right;
    return true;
  }
  if (picosecondsPer(node->op) == 0 || node->left != NO_ID) return false;
  total = node->value.u64 * picosecondsPer(node->op);
  return true;
}

// The characters of a string literal's uint8 queue; "?" when its cells are
// not laid out as in index, out index, characters, zero.
std::string stringOf(const Program* program, const AST_Node* node) {
  const ValueCell* cells = &program->constantDataTable[node->value.id.index];
  const uint32_t end = program->infoProg->size_constantData - node->value.id.index;
  std::string text;
  for (uint32_t i = 2; i < end && cells[i].u64 != 0; ++i)
    text.push_back(static_cast<char>(cells[i].u8));
  const bool laidOut =
      cells[0].index == text.size() + 2 && cells[1].index == 2 && text.size() + 2 < end;
  return laidOut ? text : "?";
}

// "kind value", e.g. "int 31", "id x", "tok 274"; "@n" follows a token that
// is not on line 1, "-" stands for a missing node.
std::string describe(const ParserEnv& penv, const Token& t) {
  const Program* program = penv.program;
  const AST_Node* n = t.node;
  std::string d;
  const auto expectOp = [&](uint32_t op, const char* kind) {
    d = kind;
    if (n == nullptr) d += " -";
    return n != nullptr && n->op == op;
  };
  switch (t.kind) {
    case TOK_INTEGER:
      if (expectOp(INTEGER_OP, "int")) d += " " + std::to_string(n->value.u64);
      break;
    case TOK_IDENT:
      if (expectOp(SYM, "id")) d += " "s + Symbol_getName(program, n->value.id.index);
      break;
    case TOK_FLOAT:
      if (expectOp(FLOAT_OP, "float")) {
        const AST_Node* index = AST_left(program, n);
        d += index != nullptr && index->op == INDEX_NODE
                 ? " " + penv.pctx.numerics.at(index->value.id.index)
                 : " ?";
      }
      break;
    case TOK_BOOLEAN:
      if (expectOp(BOOLEAN_OP, "bool")) d += " " + std::to_string(n->value.boolean);
      break;
    case TOK_STRING:
      if (expectOp(STRING_OP, "str")) d += " " + stringOf(program, n);
      break;
    case TOK_FREQ_LITERAL:
      if (expectOp(PS_OP, "freq")) d += " " + std::to_string(n->value.u64);
      break;
    case TOK_TIME_LITERAL: {
      uint64_t total = 0;
      d = "time " + (picoseconds(program, n, total) ? std::to_string(total) : "?"s);
      break;
    }
    case TOK_BREAK:
    case TOK_CONTINUE:
      d = "tok " + std::to_string(t.kind);
      if (n != nullptr && n->op == SYM) d += " "s + Symbol_getName(program, n->value.id.index);
      break;
    default: d = "tok " + std::to_string(t.kind) + (n != nullptr ? " +node" : "");
  }
  if (t.line != 1) d += "@" + std::to_string(t.line);
  return d;
}

std::string error(size_t line, const std::string& message) {
  return "[ERROR] Line " + std::to_string(line) + ": " + message;
}
std::string unitWarning(int part, const char* unit, const char* previous) {
  return "[WARNING] Line 1: the time literal n\xC2\xB0"s + std::to_string(part) +
         " in time literal expression has the same or an higher time unit (" + unit +
         ") than the previous one (" + previous + ")\n";
}
std::string repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}
const std::string kUnknown = error(1, "unknown token!\n");
const std::string kRange =
    error(1, "hertz frequency out of range (5.421010862427523e-08 to 1e+12 only)\n");

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> tokens;
  std::string output = "";
  uint32_t status = 0;
  std::vector<std::string> comments = {};
};

const std::string y499(499, 'y');
const std::string y500(500, 'y');
const std::string y600(600, 'y');

// Token kinds are the grammar's numbers.
// clang-format off
const Case kCases[] = {
    {"keywords",
     "include out in const enum struct var channel queue stack for if else while process "
     "processdef to on after state static common finally mod loop over break continue with and "
     "or not __LINE__ Hz",
     {"tok 328", "tok 302", "tok 301", "tok 303", "tok 268", "tok 298", "tok 263", "tok 273",
      "tok 299", "tok 300", "tok 267", "tok 264", "tok 265", "tok 266", "tok 272", "tok 308",
      "tok 270", "tok 269", "tok 304", "tok 271", "tok 305", "tok 306", "tok 307", "tok 309",
      "tok 310", "tok 311", "tok 314 break", "tok 313 continue", "tok 312", "tok 281", "tok 282",
      "tok 283", "tok 321", "tok 327"}},
    {"keyword prefixes and extensions are identifiers",
     "iff ifx _if If in_ __LINE__x Hzz true false truex",
     {"id iff", "id ifx", "id _if", "id If", "id in_", "id __LINE__x", "id Hzz", "bool 1", "bool 0",
      "id truex"}},
    {"operators", "& | ~ ^ << >> = == != <= >= < > ( ) { } [ ] . , + - * / ; : @ $",
     {"tok 315", "tok 316", "tok 318", "tok 317", "tok 319", "tok 320", "tok 280", "tok 274",
      "tok 275", "tok 277", "tok 279", "tok 276", "tok 278", "tok 284", "tok 285", "tok 286",
      "tok 287", "tok 288", "tok 289", "tok 291", "tok 290", "tok 294", "tok 295", "tok 296",
      "tok 297", "tok 292", "tok 293", "tok 323", "tok 324"}},
    {"two-character operators first", "<<=>>===<>!=",
     {"tok 319", "tok 280", "tok 320", "tok 274", "tok 280", "tok 276", "tok 278", "tok 275"}},
    {"no line comment", "a//b", {"id a", "tok 297", "tok 297", "id b"}},
    {"hex needs a lower-case x", "0X1F 0x1F 0xff 0x 0xg",
     {"int 0", "id X1F", "int 31", "int 255", "int 0", "id x", "int 0", "id xg"}},
    {"floats need digits after the point", "1. 1.5 1e5 2.5E-3 7e+2 1.e5 1e 3.x",
     {"int 1", "tok 291", "float 1.5", "float 1e5", "float 2.5E-3", "float 7e+2", "int 1",
      "tok 291", "id e5", "int 1", "id e", "int 3", "tok 291", "id x"}},
    {"integers saturate at 64 bits",
     "18446744073709551615 18446744073709551616 0xFFFFFFFFFFFFFFFF 0x10000000000000000",
     {"int " + std::to_string(kMax64), "int " + std::to_string(kMax64),
      "int " + std::to_string(kMax64), "int " + std::to_string(kMax64)}},
    {"time literal of two parts", "1 s 500 ms", {"time 1500000000000"}},
    {"every unit", "1s 2ms 3us 4ns 5ps", {"time 1002003004005"}},
    {"micro sign", "7\xC2\xB5s 8 \xC2\xB5s", {"time 15000000"},
     unitWarning(2, "\xC2\xB5s", "\xC2\xB5s")},
    {"hours are not a unit", "1 h", {"int 1", "id h"}},
    {"longest match splits words", "1sec 1 ms5",
     {"time 1000000000000", "id ec", "time 1000000000", "int 5"}},
    {"tabs do not join parts", "1\ts 1 s\t2 s",
     {"int 1", "id s", "time 1000000000000", "time 2000000000000"}},
    {"increasing units warn", "1ms2s", {"time 2001000000000"}, unitWarning(2, "s", "ms")},
    {"the reference unit stays after a warning", "1ms 2s 3ms", {"time 2004000000000"},
     unitWarning(2, "s", "ms") + unitWarning(3, "ms", "ms")},
    {"us and micro sign are the same unit", "2us 3\xC2\xB5s", {"time 5000000"},
     unitWarning(2, "\xC2\xB5s", "us")},
    {"frequencies", "50Hz 50 Hz 2.5Hz 3Hz 6Hz 1000000000000Hz",
     {"freq 20000000000", "freq 20000000000", "freq 400000000000", "freq 333333333333",
      "freq 166666666667", "freq 1"}},
    {"zero hertz", "0Hz 0.000 Hz", {"freq -", "freq -"},
     repeat(error(1, "a hertz frequency must be strictly greater than 0\n"), 2), 177},
    {"frequency out of range",
     "0.00000001Hz 2000000000000Hz 1" + std::string(400, '0') + "Hz 0." + std::string(400, '0') +
         "1Hz",
     {"freq -", "freq -", "freq -", "freq -"}, repeat(kRange, 4), 183},
    {"Hz alone and after a point", "x Hz 50.Hz 1e5Hz",
     {"id x", "tok 327", "int 50", "tok 291", "tok 327", "float 1e5", "tok 327"}},
    {"strings keep escapes", R"("a\n" "" "say \"hi\"")",
     {R"(str a\n)", "str ", R"(str say \"hi\")"}},
    {"strings span lines without counting them", "\"a\nb\" c", {"str a\nb", "id c"}},
    {"unclosed string", "x \"abc", {"id x"}, kUnknown, 300},
    {"unknown characters", "a ! b \f\v#%`\x80\xff?\\' \0c"s, {"id a", "id b", "id c"},
     repeat(kUnknown, 12), 300},
    {"comment", "a /* c1 */ b", {"id a", "id b"}, "", 0, {" c1 "}},
    {"comment with a line feed", "/* x\ny */ z", {"id z@2"}, "", 0, {" x\ny "}},
    {"comment with CR LF", "/* x\r\ny */ z", {"id z@2"}, "", 0, {" x\r\ny "}},
    {"comment with a lone CR", "/* a\rb */ c", {"id c"}, "", 0, {" a\rb "}},
    {"comments do not nest", "/**/ /* a /* b */ c */", {"id c", "tok 296", "tok 297"}, "", 0,
     {"", " a /* b "}},
    {"unclosed comment", "x /* open", {"id x"}, error(1, "Unclosed comment\n"), 888, {" open"}},
    {"line breaks", "a\nb\rc\r\nd", {"id a", "id b@2", "id c@3", "id d@5"}},
    {"600-character line", "a\n" + y600 + "\nb", {"id a", "id " + y600 + "@2", "id b@3"},
     error(2, "Max line length exceeded!\n"), 51},
    {"499 characters fit", "a\n" + y499 + "\nb", {"id a", "id " + y499 + "@2", "id b@3"}},
    {"500 characters do not", "a\r" + y500, {"id a", "id " + y500 + "@2"},
     error(2, "Max line length exceeded!\n"), 51},
};
// clang-format on

}  // namespace

TEST(Lexer, TokenSequences) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto penv = makeEnv();
    std::vector<std::string> described;
    std::string output;
    {
      StdoutCapture capture;
      for (const Token& t : scanAll(penv.get(), c.input)) described.push_back(describe(*penv, t));
      output = capture.text();
    }
    EXPECT_EQ(described, c.tokens);
    EXPECT_EQ(output, c.output);
    EXPECT_EQ(penv->pctx.status, c.status);
    EXPECT_EQ(penv->pctx.comments, c.comments);
  }
}

TEST(Lexer, TimeLiteralPartsAreJoinedLeftToRight) {
  auto penv = makeEnv();
  const Program* p = penv->program;
  StdoutCapture quiet;
  const std::vector<Token> tokens = scanAll(penv.get(), "1 s 500 ms 1ms 2s 3ms");
  ASSERT_EQ(tokens.size(), 1u);
  // ((1 s + 500 ms) + 1 ms) + ...: each new part is the right operand.
  const AST_Node* sum = tokens[0].node;
  std::vector<std::pair<uint32_t, uint64_t>> parts;
  ASSERT_NE(sum, nullptr);
  while (sum->op == PLUS_OP) {
    EXPECT_EQ(sum->value.id.type, TypeTime);
    const AST_Node* right = AST_right(p, sum);
    ASSERT_NE(right, nullptr);
    parts.insert(parts.begin(), {right->op, right->value.u64});
    sum = AST_left(p, sum);
    ASSERT_NE(sum, nullptr);
  }
  parts.insert(parts.begin(), {sum->op, sum->value.u64});
  const std::vector<std::pair<uint32_t, uint64_t>> expected{
      {61, 1}, {50, 500}, {50, 1}, {61, 2}, {50, 3}};
  EXPECT_EQ(parts, expected);
}

TEST(Lexer, LiteralDataAndCommentsAccumulate) {
  auto penv = makeEnv();
  const std::vector<Token> tokens = scanAll(penv.get(), R"("ab" /* one */ "" 2.50 /**/ "c")");
  ASSERT_EQ(tokens.size(), 4u);
  // length + 3 cells each: 5, 3 and 4.
  EXPECT_EQ(tokens[0].node->value.id.index, 0u);
  EXPECT_EQ(tokens[1].node->value.id.index, 5u);
  EXPECT_EQ(tokens[3].node->value.id.index, 8u);
  EXPECT_EQ(penv->program->infoProg->size_constantData, 12u);
  EXPECT_EQ(penv->pctx.numerics, std::vector<std::string>{"2.50"});
  // A comment node holds its comment's index.
  std::vector<uint32_t> comments;
  for (uint32_t id = 0; id < penv->program->infoProg->n_AST; ++id) {
    const AST_Node* node = AST_fromId(penv->program, id);
    if (node->op == COMMENT_OP) comments.push_back(node->value.id.index);
  }
  EXPECT_EQ(comments, (std::vector<uint32_t>{0, 1}));
}

TEST(Lexer, TokenTextIsTheMatchedText) {
  auto penv = makeEnv();
  std::vector<std::string> texts;
  for (const Token& t : scanAll(penv.get(), "x <= \"a b\" 1 s  50 Hz 0x1f"))
    texts.push_back(t.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"x", "<=", "\"a b\"", "1 s  ", "50 Hz", "0x1f"}));
}

TEST(Lexer, CurrentLineTextFollowsLineBreaks) {
  auto penv = makeEnv();
  // A carriage return belongs to the rest of the line that a line feed
  // starts; it then starts a line of its own.
  const std::string text = "$ a\n  second line\n" + y600 + "\rlast\n";
  KovaLexer lexer(penv.get(), text);
  std::vector<std::string> seen;
  std::string output;
  {
    StdoutCapture capture;
    for (Token t = lexer.next(); t.kind != TOK_END; t = lexer.next()) {
      if (t.kind != TOK_DOLLAR) seen.push_back(penv->pctx.lineText);
    }
    output = capture.text();
  }
  // The first line follows no break: its text is the caller's.
  const std::vector<std::string> expected{"", "  second line", "  second line", y499, "last"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(output, error(3, "Max line length exceeded!\n"));
  EXPECT_EQ(penv->pctx.lineText, "");
  EXPECT_EQ(penv->pctx.line, 5u);
}

TEST(Lexer, LowestFrequencyIsOneCyclePerTwoTo64Picoseconds) {
  auto penv = makeEnv();
  StdoutCapture quiet;
  const std::vector<Token> tokens =
      scanAll(penv.get(), "0.00000005421010862427523Hz 0.0000000542101086242752Hz");
  ASSERT_EQ(tokens.size(), 2u);
  ASSERT_NE(tokens[0].node, nullptr);
  EXPECT_GT(tokens[0].node->value.u64, kMax64 - 10000);  // about 2^64
  EXPECT_EQ(tokens[1].node, nullptr);
  EXPECT_EQ(penv->pctx.status, 183u);
}

TEST(Lexer, ExhaustedNodeBudgetGivesTokensWithoutNodes) {
  auto penv = makeEnv(3);
  std::vector<int> kinds;
  std::string output;
  {
    StdoutCapture capture;
    for (const Token& t : scanAll(penv.get(), "x 1.5 1s2ms \"abc\" 50Hz true /* c */ 7")) {
      kinds.push_back(t.kind);
      if (kinds.size() > 1) {
        EXPECT_EQ(t.node, nullptr) << t.text;
      }
    }
    output = capture.text();
  }
  EXPECT_EQ(kinds, (std::vector<int>{TOK_IDENT, TOK_FLOAT, TOK_TIME_LITERAL, TOK_STRING,
                                     TOK_FREQ_LITERAL, TOK_BOOLEAN, TOK_INTEGER}));
  EXPECT_EQ(output.find("[ERROR]"), output.rfind("[ERROR]"));  // reported once
  EXPECT_EQ(penv->program->infoProg->size_constantData, 0u);   // no string without its node
  EXPECT_EQ(penv->pctx.status, 666u);
}

TEST(Lexer, UnclosedCommentEndsAFileWithStatus1) {
  auto penv = makeEnv();
  penv->pctx.exitOnError = true;
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        scanAll(penv.get(), "a /* never closed");
      },
      testing::ExitedWithCode(1), "\\[ERROR\\] Line 1: Unclosed comment\n");
}

TEST(Lexer, HostileInputsEndWithoutFault) {
  std::string allBytes;
  for (int c = 0; c < 256; ++c) allBytes.push_back(static_cast<char>(c));
  std::string manyParts;
  for (int i = 0; i < 1000; ++i) manyParts += "1 s ";
  const std::string inputs[] = {
      std::string(20000, '\r'),
      allBytes + allBytes,
      std::string(5000, '9') + "Hz " + std::string(5000, '9') + "." + std::string(5000, '9') + "e" +
          std::string(5000, '9'),
      "0x" + std::string(5000, 'f') + " " + std::string(5000, '7') + " s",
      std::string(10001, '"'),
      "\"\\" + std::string(5000, 'a'),
      "/*" + std::string(5000, '*'),
      manyParts,
      std::string(20000, '1') + std::string(20000, ' ') + "x",
  };
  for (const std::string& input : inputs) {
    auto penv = makeEnv(1000);
    StdoutCapture quiet;
    KovaLexer lexer(penv.get(), input);
    size_t tokens = 0;
    while (lexer.next().kind != TOK_END) ASSERT_LE(++tokens, input.size());
    EXPECT_LE(penv->pctx.lineText.size(), 500u);
  }
}
