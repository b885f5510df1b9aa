// Golden runs of the ways a run ends, of the output options and of files.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "ASTLib/call_codes.h"
#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

// One instance, first activated at 5 ms, whose state runs `statements`.
ProgramBuilder oneShot(const char* model, std::vector<N> (*statements)(ProgramBuilder&)) {
  ProgramBuilder b({.modelName = model});
  const uint32_t p = b.process("P", {.states = {{"s", b.block(statements(b))}}});
  b.instance("p", p, {.period = b.ms(100), .offset = b.ms(5)});
  return b;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(Golden, ExitAssertionsAndInvalidOperationsEndTheRun) {
  using Statements = std::vector<N> (*)(ProgramBuilder&);
  const struct {
    Statements statements;
    int status;
    const char* end;  // after the quiet-mode line
  } cases[] = {
      {[](ProgramBuilder& b) {
         return std::vector<N>{b.exitWith(b.integer(3), 12), b.println("never")};
       },
       3, "EXIT AT LINE 12 (3) AT 5ms (5000000000)\n"},
      {[](ProgramBuilder& b) {
         return std::vector<N>{b.assertThat(b.boolean(false), "m.kova", 7, "x > 0")};
       },
       8, "m.kova:7: : Assertion 'x > 0' failed"},
      {[](ProgramBuilder& b) {
         N division = b.op(DIV_OP, TypeUInt8, b.integer(7), b.integer(0));
         b.setLine(division, 21);
         return std::vector<N>{b.println("%u", {division})};
       },
       1, "ends : division by zero at line 21\nEXIT (1) AT 5ms (5000000000)\n"},
      {[](ProgramBuilder& b) {
         const auto push = [&] {
           return b.call(kCallChnlPush, TypeStatement, b.gvar(b.globalId("q")), {b.integer(1)});
         };
         b.global("q", b.queueType(TypeUInt8, 1));
         const N full = push();
         b.setLine(full, 4);
         return std::vector<N>{push(), full};
       },
       1, "ends : queue full at line 4\nEXIT (1) AT 5ms (5000000000)\n"},
  };
  for (const auto& c : cases) {
    ProgramBuilder b = oneShot("ends", c.statements);
    const RunResult r = runKova(b, "-q -t 50");
    EXPECT_EQ(r.status, c.status) << c.end;
    EXPECT_EQ(r.out, std::string("setup \nQuiet mode enabled\n") + c.end);
  }
}

TEST(Golden, SilentRunsPrintNothingOfTheProgram) {
  ProgramBuilder b =
      oneShot("quiet", [](ProgramBuilder& b) { return std::vector<N>{b.println("hello")}; });
  EXPECT_EQ(runKova(b, "-z -t 10").out,
            "setup \nQuiet mode enabled\nEXIT (SUCCESS) AT 10ms (10000000000)\n");
  EXPECT_EQ(runKova(b, "-q -t 10").out,
            "setup \nQuiet mode enabled\n[0.005000000000:PRINTLN] hello\n"
            "EXIT (SUCCESS) AT 10ms (10000000000)\n");
}

TEST(Golden, StatisticsListEveryTopLevelInstance) {
  ProgramBuilder b({.modelName = "stats"});
  const uint32_t p = b.process("P", {.states = {{"s", none}}});
  b.instance("fast", p, {.period = b.ms(1)});
  b.instance("never", p, {.trigger = b.boolean(false)});
  const RunResult r = runKova(b, "-q -a -t 10");
  EXPECT_EQ(r.status, 0);
  const std::regex expected(
      "setup \nQuiet mode enabled\nEXIT \\(SUCCESS\\) AT 10ms \\(10000000000\\)\n"
      "@kova:time \\{\n  fast\\.wcet = [0-9a-z]+;\n  never\\.wcet = 0;\n\\}\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

TEST(Golden, FinalFunctionWritesToItsOutputFile) {
  ProgramBuilder b =
      oneShot("fin", [](ProgramBuilder& b) { return std::vector<N>{b.println("working")}; });
  const uint32_t n = b.global("n", TypeUInt32, {3});
  b.function("fin", {}, b.block({b.println("bye %u", {b.gvar(n)})}));
  const std::string output = tempPath("final.txt");
  std::remove(output.c_str());
  RunResult r = runKova(b, "-q -t 10 --finally-func fin --finally-output " + output);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n[0.005000000000:PRINTLN] working\n"
            "EXIT (SUCCESS) AT 10ms (10000000000)\n");
  EXPECT_EQ(readFile(output), "bye 3\n");

  r = runKova(b, "-q -t 10 --finally-func nope");
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n[0.005000000000:PRINTLN] working\n"
            "Final function nope without any argument not found!\n"
            "EXIT (SUCCESS) AT 10ms (10000000000)\n");
}

TEST(Golden, FilesAreWrittenAndReadAtEachSynchronisation) {
  ProgramBuilder b({.modelName = "files", .fileTypes = true});
  const uint32_t out = b.global("out", b.queueType(TypeSInt16, 4));
  const uint32_t in = b.global("in", b.queueType(TypeBoolean, 4));
  const uint32_t rawOut = b.global("raw_out", b.queueType(TypeUInt8, 4));
  const std::string outPath = tempPath("out.csv");
  const std::string inPath = tempPath("in.csv");
  const std::string rawPath = tempPath("raw.bin");
  std::ofstream(inPath) << "true\nfalse\n";
  const auto bind = [&](uint32_t variable, const std::string& path, bool write, bool csv) {
    auto [decl, fill] = b.fileDescriptor("f", 0, path, write, csv);
    b.hardwareAnnotation(variable, {decl}, fill);
  };
  bind(out, outPath, true, true);
  bind(in, inPath, false, true);
  bind(rawOut, rawPath, true, false);
  const auto push = [&](uint32_t q, int64_t v) {
    return b.call(kCallChnlPush, TypeStatement, b.gvar(q), {b.integer(v)});
  };
  N once = b.if_(b.op(CEQ_OP, TypeUInt64, b.call(kCallTime, TypeTime64, none), b.integer(0)),
                 b.block({push(out, -3), push(out, 7), push(rawOut, 'h'), push(rawOut, 'i')}));
  N show = b.if_(b.call(kCallChnlNotEmpty, TypeBoolean, b.gvar(in)),
                 b.block({b.println("%b", {b.call(kCallChnlPop, TypeBoolean, b.gvar(in))})}));
  const uint32_t p = b.process("P", {.states = {{"s", b.block({once, show})}}});
  b.instance("p", p, {.period = b.ms(10)});
  const RunResult r = runKova(b, "-q -t 35");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "setup \nQuiet mode enabled\n"
            "[0.000000000000:PRINTLN] true\n"
            "[0.010000000000:PRINTLN] false\n"
            "[0.020000000000:PRINTLN] false\n"  // past the end: the cleared value
            "[0.030000000000:PRINTLN] false\n"
            "EXIT (SUCCESS) AT 35ms (35000000000)\n");
  EXPECT_EQ(readFile(outPath), "-3\n7\n");
  EXPECT_EQ(readFile(rawPath), "hi\n");
}
