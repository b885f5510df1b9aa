// Every fixed capacity on both sides: the last value that fits is used
// without a word, the first past it is refused with its message.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <string>

#include "ASTLib/kova_locals.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/validate.h"
#include "parserLib/parser_data.h"
#include "tests/support/interp_fixture.h"
#include "tests/unit/zebu_interpreter/bus_fixture.h"
#include "zebu_interpreter/boards/linuxmbed/can.h"
#include "zebu_interpreter/boards/linuxmbed/serial.h"
#include "zebu_interpreter/scenario.h"
#include "zebu_interpreter/udp.h"

using namespace kova_test;

namespace {

struct CapacityTest : InterpFixture {
  using InterpFixture::env;
  uint32_t four = b.arrayType(TypeUInt64, 4);
  uint32_t flag = b.global("flag", TypeBoolean);

  // Runs `f` and returns what it printed; a run ended by the failure path
  // returns its message, prefixed by "ended: ".
  template <class F>
  std::string outcome(F f) {
    StdoutCapture out;
    try {
      f();
    } catch (const HostExit&) {
      return "ended: " + out.text();
    }
    return out.text();
  }

  // Compiles one console line with `used` spare nodes already taken;
  // returns the diagnostics.
  std::string compile(const std::string& line, uint32_t used = 0) {
    StdoutCapture out;
    const ParserTableMark mark = parser_markTables(env->program.get());
    auto penv = parser_initTables();
    parser_loadProgram(penv.get(), env.get());
    env->program->infoProg->n_AST += used;
    parser_parseString(penv.get(), ("$ " + line).c_str());
    parser_freeEnv(std::move(penv));
    const uint32_t taken = env->program->infoProg->n_AST - mark.n_AST - used;
    parser_restoreTables(env->program.get(), mark);
    lastLineNodes = taken;
    return out.text();
  }
  uint32_t lastLineNodes = 0;

  // The spare nodes a console line may take after loading.
  uint32_t spareNodes() const {
    return env->program->infoProg->max_ast_size - env->program->infoProg->n_AST;
  }

  auto& counts() { return env->ctx->localVarsIndexes.count; }
};

struct Capacity {
  const char* name;
  uint32_t lastFit;
  const char* refusal;  // what the first value past the capacity prints
  // Uses n units of the capacity; returns what was printed.
  std::function<std::string(CapacityTest&, uint32_t n)> attempt;
};

std::string scenarioLines(const std::string& line) {
  const std::string path = tempPath("capacity_scenario.txt");
  std::ofstream(path) << line << "\nnext\n";
  static bool named = false;
  if (!named) prepareScenarioFile(path.c_str());
  named = true;
  if (!openScenario()) return "cannot open " + path;
  char buffer[kScenarioLineSize];
  std::string reads;
  while (readScenarioLine(buffer)) reads += std::to_string(std::string(buffer).size()) + " ";
  closeScenario();
  return reads;
}

}  // namespace

TEST_F(CapacityTest, LastThatFitsAndFirstPast) {
  load();
  const Capacity capacities[] = {
      {"evaluation stack, one-cell values", kStackCells - 1, "ended: Stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           interpStack_reset(t.env.get());
           for (uint32_t i = 0; i < n; ++i) interpStack_pushUInt32(t.env.get(), i);
         });
       }},
      // A copy of n - 1 cells takes one more.
      {"evaluation stack, a copy", kStackCells - 1, "ended: Stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           interpStack_reset(t.env.get());
           interpStack_reserve(t.env.get(), n - 1);
         });
       }},
      {"local variables", kMaxLocalVariables, "ended: Local variables stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           t.counts() = {};
           t.counts().variables = n - 1;
           LocalVariable_declare(t.env.get(), TypeUInt8);
         });
       }},
      {"local references", kMaxLocalVariables, "ended: Local variables stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           t.counts() = {};
           t.counts().variables = n - 1;
           LocalVariable_reference(t.env.get(), &t.env->program->globalVariableTable[t.flag]);
         });
       }},
      // The last local is four cells wide.
      {"local data cells", kMaxLocalData - 1, "ended: Local variables data stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           t.counts() = {};
           t.counts().variablesData = n - 4;
           LocalVariable_declare(t.env.get(), t.four);
         });
       }},
      {"local constants", kMaxLocalConstants, "ended: Local variables stack overflow\n",
       [](CapacityTest& t, uint32_t n) {
         return t.outcome([&] {
           t.counts() = {};
           t.counts().constants = n - 1;
           LocalConstant_allocValue(t.env.get(), TypeUInt8);
         });
       }},
      // The node space keeps one node in reserve. (The message counts the
      // nodes left when the line started, here what the test took first.)
      {"spare nodes of a console line", kSpareNodes - 1, "[ERROR] Line 1: statement too large",
       [](CapacityTest& t, uint32_t n) {
         t.compile("flag = true;");
         const std::string text = t.compile("flag = true;", n - t.lastLineNodes);
         return text.substr(0, text.find(" for the"));
       }},
      // `not` k times over a literal nests k + 2 levels: the expression, one
      // unary level per `not` and one for the literal.
      {"nesting of a console line", 200,
       "[ERROR] Line 1: statement nested too deeply (more than 200 levels)\n",
       [](CapacityTest& t, uint32_t n) {
         std::string line;
         for (uint32_t i = 0; i + 2 < n; ++i) line += "not ";
         return t.compile(line + "true");
       }},
      {"nesting of a program file", kMaxNestingDepth, "nesting deeper than 1000 nodes",
       [](CapacityTest&, uint32_t n) {
         ProgramBuilder b;
         N chain = b.integer(1);
         for (uint32_t i = 1; i < n; ++i) chain = b.op(NEG_OP, TypeSInt32, chain);
         auto program = b.build();
         char why[256];
         if (validate_program(program.get(), why, sizeof why)) return std::string();
         return std::string(why).substr(std::string(why).find(": ") + 2);
       }},
      // Counting its line feed; a longer line is read in two pieces.
      {"scenario line", kScenarioLineSize - 1, "2047 1 5 ",
       [](CapacityTest&, uint32_t n) {
         const std::string reads = scenarioLines(std::string(n - 2, ' ') + ';');
         return reads == std::to_string(n) + " 5 " ? std::string() : reads;
       }},
  };
  for (const Capacity& c : capacities) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.attempt(*this, c.lastFit), "");
    EXPECT_EQ(c.attempt(*this, c.lastFit + 1), c.refusal);
  }
  EXPECT_EQ(spareNodes(), kSpareNodes);
}

// The port tables: each port that fits is bound, the first past is refused.
// (Annotated ports are bound before the names.)
TEST_F(BusTest, PortTablesLastThatFitsAndFirstPast) {
  b = ProgramBuilder({.udpTypes = true});
  const uint32_t bytes = b.queueType(TypeUInt8, 4), can = frames(2), udp = messages(2);
  for (uint32_t i = 0; i <= kUdpPortCount; ++i)
    annotate(b.global("tx" + std::to_string(i), udp), 7000 + i, "HW_OUTPUT");
  std::string printed = "not enough sockets \n";
  const std::string noRoom = ": at most 5 inputs and 5 outputs\n";
  for (int i = 0; i <= 5; ++i) {
    const std::string n = std::to_string(i);
    b.global("ttyS" + n + "_out", bytes);
    b.global("can_can" + n + "_in", can);
    printed +=
        i < 5 ? "  => a serial write_only /dev/ttyS" + n + "\n  => a CAN read_only can" + n + "\n"
              : "  => no room for the serial /dev/ttyS5" + noRoom +
                    "  => no room for the CAN can5" + noRoom;
  }
  // A pair needs an output entry too, though the inputs have room.
  b.global("ttyP_in", bytes);
  b.global("ttyP_out", bytes);
  printed += "  => no room for the serial /dev/ttyP" + noRoom +
             "  => no room for the serial /dev/ttyP" + noRoom;
  EXPECT_EQ(start(), printed);
  EXPECT_EQ((std::array{output_serials_size, input_serials_size, input_cans_size, socket_num}),
            (std::array{5u, 0u, 5u, kUdpPortCount}));
  // Opening takes four calls for a serial port, three for CAN, two for UDP.
  EXPECT_EQ(bound.size(), 5 * 4 + 5 * 3 + kUdpPortCount * 2);
}
