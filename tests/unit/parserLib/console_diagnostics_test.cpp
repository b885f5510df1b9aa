// What a console user is told about a line that does not compile, and what
// compiles: input line -> exact diagnostics, and compiled lines run.
#include <gtest/gtest.h>

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "parserLib/parser_data.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

struct ConsoleFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;

  void SetUp() override {
    ProgramBuilder b({.modelName = "diag"});
    const uint32_t color = b.enumType("Color", {"RED", "GREEN"});
    const uint32_t point = b.structType("Point", {{"x", TypeSInt32}, {"c", color}});
    b.global("speed", TypeUInt32, {7});
    b.global("u16", TypeUInt16);
    b.global("s16", TypeSInt16);
    b.global("i64", TypeSInt64);
    b.global("u64", TypeUInt64);
    b.global("f32", TypeF32);
    b.global("d", TypeDuration64);
    b.global("p", point);
    b.global("a", b.arrayType(TypeUInt8, 10));
    b.global("b2", b.arrayType(TypeUInt8, 10));
    b.global("q", b.queueType(TypeUInt8, 4));
    b.constant("x", TypeUInt32, {1});
    b.function(
        "twice", {{Dir::In, TypeUInt32, "a"}, {Dir::Out, TypeUInt32, "r"}},
        b.block({b.assign(b.local(1), b.op(MULT_OP, TypeUInt32, b.local(0), b.integer(2)))}));
    b.function("both", {{Dir::In, TypeUInt32, "a"}, {Dir::In, TypeUInt32, "b"}}, b.block({}));
    host = std::make_unique<TestHost>(env.get());
    interp_load_from_program(env.get(), b.build());
    interp_init(env.get());
  }

  // Compiles "$ line"; returns the status and what was printed.
  std::pair<int, std::string> compile(const std::string& line, uint32_t* root = nullptr) {
    StdoutCapture out;
    auto penv = parser_initTables();
    parser_loadProgram(penv.get(), env.get());
    const int status = parser_parseString(penv.get(), ("$ " + line).c_str());
    if (root != nullptr) *root = penv->pctx.result;
    parser_freeEnv(std::move(penv));
    return {status, out.text()};
  }

  uint64_t global(const char* name) {
    return env->program->globalVariableTable[interp_getVariableID(env.get(), name)].value->u64;
  }
  // Compiles a line that must compile and runs it.
  void run(const std::string& line) {
    uint32_t root = NO_ID;
    const auto [status, text] = compile(line, &root);
    ASSERT_EQ(status, 0) << line << "\n" << text;
    statement_execute(env.get(), &env->program->RAMprogram[root]);
  }
};

}  // namespace

// Messages the typing and call checks print on their own are tested with them;
// these are the parser's, and how they reach the console. A warning alone
// does not refuse the line.
TEST_F(ConsoleFixture, LinesAndTheirDiagnostics) {
  struct Case {
    const char* line;
    const char* diagnostics;
  };
  const Case cases[] = {
      {"x = 5;", "[ERROR] Line 1: assignment left symbol is read-only mode\n"},
      {"a = b2;", "[ERROR] Line 1: entire assignment on buffer forbidden\n"},
      {"a[10] = 1;", "[ERROR] Line 1: index value is out of array bounds (0 to 9)\n"},
      {"nosuch(1);",
       "[ERROR] Line 1: undefined function or local process instance call \"nosuch\"\n"},
      {"twice(1, speed, 3);",
       "[ERROR] Line 1: wrong function \"twice\" parameters number (2 parameter(s) expected, but "
       "3 found)\n"},
      {"p.z", "[ERROR] Line 1: Field \"z\" do not exist in structure \"Point\"\n"},
      {"(5) min", "[ERROR] Line 1: unknown post symbol \"min\"\n"},
      {"1 == 2 != 3",
       "[ERROR] Line 1: Multiple (in)equality expression must use the same operator (== or !=)\n"},
      {"q.push(1)", "[ERROR] Line 1: expect ';' after statement\n"},
      {"speed + 1;", "[ERROR] Line 1: syntax error before \";\" in this line:\n$ speed + 1;\n"},
      {"speed ! 2",
       "[ERROR] Line 1: unknown token!\n"
       "[ERROR] Line 1: syntax error before \"2\" in this line:\n$ speed ! 2\n"},
      {"0Hz",
       "[ERROR] Line 1: a hertz frequency must be strictly greater than 0\n"
       "[ERROR] Line 1: Frequency cannot be used in conventional expression\n"},
      {"IO.println(\"%u %d\", speed);",  // the call check runs on console lines
       "[ERROR] Line 1: Print formats expects at least 2 parameters, only 1 found\n"},
      {"speed.nothing", "[ERROR] Line 1: unknown field \"nothing\" for type \"uint32\"\n"},
      {"1 < speed > 0",
       "[WARNING] Line 1: '<' and '<=' should not be used in a '>' and '>=' multiple comparison "
       "expression\n"},
      // Which text depends on the link that turns the chain's direction.
      {"9 > speed >= 1 < 3",
       "[WARNING] Line 1: '>' and '>=' should not be used in a '<' and '<=' multiple comparison "
       "expression\n"},
      {"1 <= speed >= 0",
       "[WARNING] Line 1: '<' and '<=' should not be used in a '>' and '>=' multiple comparison "
       "expression\n"},
      {"1 < speed <= 9 < 10", ""},
      {"9 > speed >= 1", ""},
      {"1 != speed == 2",
       "[ERROR] Line 1: Multiple (in)equality expression must use the same operator (== or !=)\n"},
      {"1 == speed == 1", ""},
      {"a[i64] = 1;",
       "[ERROR] Line 1: 64 bits integer type variables are forbidden as array index\n"},
      {"a[u64] = 1;",
       "[ERROR] Line 1: 64 bits integer type variables are forbidden as array index\n"},
      {"a[s16] = 1;", "[WARNING] Line 1: signed integer variable as array index\n"},
      {"a[u16] = 1;", ""},
      {"a[9] = 1;", ""},
      // A duration literal is a constant: the index is checked as one.
      {"a[uint32.cast((12) ns)] = 1;",
       "[ERROR] Line 1: index value is out of array bounds (0 to 9)\n"},
      {"a[uint32.cast((12) us)] = 1;",
       "[ERROR] Line 1: index value is out of array bounds (0 to 9)\n"},
      {"d = (speed) us;", ""},
      {"p = {3, Color.GREEN};", ""},  // a structure takes a list of its fields
      // A float literal takes the other operand's type before any check.
      {"f32 & 1.5",
       "[ERROR] Line 1: only same integer types allowed in bitwise operation (float32 and "
       "float32 found)\n"},
      {"1.5 | f32",
       "[ERROR] Line 1: only same integer types allowed in bitwise operation (float32 and "
       "float32 found)\n"},
      // Only a missing last `out` argument makes a call a value.
      {"speed = both(1);",
       "[ERROR] Line 1: wrong function \"both\" parameters number (2 parameter(s) expected, but "
       "1 found)\n"},
      {"speed = twice(1);", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto [status, text] = compile(c.line);
    EXPECT_EQ(status != 0, std::string(c.diagnostics).starts_with("[ERROR]"));
    EXPECT_EQ(text, c.diagnostics);
  }
}

TEST_F(ConsoleFixture, CompiledLinesRunInTheProgram) {
  const ParserTableMark mark = parser_markTables(env->program.get());
  run("{ var uint32 : i = 0; while (i < 3) { i = i + 1; speed = twice(i); } }");
  EXPECT_EQ(global("speed"), 6u);
  run("p.c = Color.GREEN;");
  run("for (u16 = 0; u16 < 4; u16 = u16 + 1) { q.push(uint8.as(u16 * 10)); }");
  run("loop over q with it { if (it.current == 20) { it.remove_current(); } }");
  run("IO.println(\"%u %u %u\", q.count(), q.peek(), q.last_peek());");
  EXPECT_EQ(host->printed, "3 0 30\n");
  parser_restoreTables(env->program.get(), mark);
  EXPECT_EQ(env->program->infoProg->n_AST, mark.n_AST);
}

TEST_F(ConsoleFixture, OverlongLinesAreRefusedNotFatal) {
  // Each term takes nodes; past the spare node space the line is refused.
  std::string line = "speed = 1";
  for (int i = 0; i < 800; ++i) line += " + 1";
  line += ";";
  const ParserTableMark mark = parser_markTables(env->program.get());
  const auto [status, text] = compile(line);
  parser_restoreTables(env->program.get(), mark);
  EXPECT_NE(status, 0);
  EXPECT_NE(text.find("statement too large"), std::string::npos) << text;
  EXPECT_EQ(global("speed"), 7u);
  run("speed = 8;");  // the program is usable afterwards
  EXPECT_EQ(global("speed"), 8u);
}
