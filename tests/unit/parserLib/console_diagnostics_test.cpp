// Console lines compiled into a loaded program: they run in it, and the
// tables they grew are restored; a line past the spare nodes is refused.
// (Each refused line's exact diagnostics: the golden run console_lines.)
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
    b.global("speed", TypeUInt32, {7});
    b.global("u16", TypeUInt16);
    b.global("p", b.structType("Point", {{"x", TypeSInt32}, {"c", color}}));
    b.global("q", b.queueType(TypeUInt8, 4));
    b.function(
        "twice", {{Dir::In, TypeUInt32, "a"}, {Dir::Out, TypeUInt32, "r"}},
        b.block({b.assign(b.local(1), b.op(MULT_OP, TypeUInt32, b.local(0), b.integer(2)))}));
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
