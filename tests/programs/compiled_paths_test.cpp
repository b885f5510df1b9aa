// The compiled evaluator's reach. A statement or an expression that the
// compiled path should run but hands to the walker still gives the right
// output (the walker does the same, only slower), so the golden runs cannot
// see it; the evaluator's counts can. Each program runs through the library
// with the compiled path forced on (these tests also run under
// KOVA_EVAL=walk), and the statements compiled and the hand-overs to the
// walker compiled are compared with the table. A change that moves them on
// purpose (the compiled path covering more, the compiler shaping code
// differently) brings the table up to date.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "ASTLib/ast_ops.h"
#include "interpreterLib/interp_compiled.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
#include "parserLib/compiler.h"
#include "tests/support/interp_fixture.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

struct Outcome {
  std::string printed;
  CompiledStats stats;
};

// Runs the source for 50 simulated milliseconds or until it ends.
Outcome runSource(const std::string& path, bool compiled) {
  CompileOptions options;
  options.libraryDirs = kova_defaultLibraryDirs();
  CompileResult result = kova_compileFile(path, options);
  if (result.program == nullptr) {
    ADD_FAILURE() << path << " does not compile";
    return {};
  }
  auto env = interp_create();
  EXPECT_EQ(interp_load_from_program(env.get(), std::move(result.program)), 0);
  compiled_setEnabled(env.get(), compiled);
  EXPECT_EQ(compiled_isEnabled(env.get()), compiled);
  TestHost host(env.get());
  try {
    interp_init(env.get());
    interp_run_until(env.get(), 50'000'000'000ull);
  } catch (const HostExit&) {
  }
  return {host.printed, compiled_stats(env.get())};
}

TEST(CompiledPaths, ProgramsRunCompiledAsFarAsTheCompiledFormReaches) {
  struct Case {
    const char* program;  // under tests/programs, or bench/
    uint32_t compiled;
    uint32_t walked;
  };
  // Most hand-overs are built-in calls (IO.println as a statement counts
  // twice: the call and its statement).
  const Case cases[] = {
      {"evaluator/argument_data.kova", 2, 2},
      {"evaluator/argument_depth.kova", 1, 6},
      {"evaluator/assign_out.kova", 3, 2},
      {"evaluator/bounds.kova", 1, 2},
      {"evaluator/call_depth.kova", 2, 2},
      {"evaluator/calls.kova", 5, 9},
      {"evaluator/conditions.kova", 5, 44},
      {"evaluator/division.kova", 1, 4},
      {"evaluator/frame_limit.kova", 1, 6},
      {"evaluator/held_arguments.kova", 2, 2},
      {"evaluator/frame_limit_more_locals.kova", 1, 6},
      {"evaluator/global_operands.kova", 1, 10},
      {"evaluator/global_operands_traced.kova", 1, 10},
      {"evaluator/held_cells.kova", 2, 6},
      {"evaluator/if_depth.kova", 1, 8},
      {"evaluator/local_data.kova", 2, 3},
      {"evaluator/loops.kova", 1, 2},
      {"evaluator/negative_index.kova", 1, 4},
      {"evaluator/operators.kova", 2, 24},
      {"evaluator/out_limit.kova", 2, 2},
      {"evaluator/result_data.kova", 1, 7},
      {"evaluator/result_depth.kova", 1, 6},
      {"evaluator/scalar_calls.kova", 8, 14},
      {"evaluator/stack_depth.kova", 2, 6},
      {"evaluator/traced.kova", 3, 3},
      {"evaluator/while_depth.kova", 1, 8},
      {"../../bench/fib.kova", 1, 4},
      {"../../bench/loop_globals.kova", 1, 2},
      {"../../bench/loop_locals.kova", 1, 2},
      {"charge.kova", 3, 7},
      {"durations.kova", 3, 8},
      {"fsm.kova", 3, 0},
      {"parameters.kova", 2, 12},
      {"subprocesses.kova", 3, 14},
      {"triggers.kova", 9, 27},
  };
  for (const Case& c : cases) {
    const CompiledStats stats = runSource(std::string(KOVA_PROGRAMS "/") + c.program, true).stats;
    EXPECT_EQ(stats.compiled, c.compiled) << c.program;
    EXPECT_EQ(stats.walked, c.walked) << c.program;
  }
}

TEST(CompiledPaths, SwitchedOffTheWalkerRunsEverythingTheSame) {
  for (const char* program : {"evaluator/calls.kova", "evaluator/loops.kova"}) {
    const std::string path = std::string(KOVA_PROGRAMS "/") + program;
    const Outcome compiled = runSource(path, true);
    const Outcome walked = runSource(path, false);
    EXPECT_EQ(walked.printed, compiled.printed) << program;
    EXPECT_NE(compiled.stats.compiled, 0u) << program;
    EXPECT_EQ(walked.stats.compiled, 0u) << program;
    EXPECT_EQ(walked.stats.walked, 0u) << program;
  }
}

// The compiler folds a source's local constants into global ones; a program
// file may still read them where they are, by their ids.
class CompiledLocalConstants : public InterpFixture {};

TEST_F(CompiledLocalConstants, EachIsReadByItsOwnId) {
  const uint64_t values[] = {7, 900, 65000};
  std::vector<N> constants;
  std::vector<N> reads;
  std::vector<uint32_t> globals;
  for (uint32_t i = 0; i < std::size(values); ++i) {
    // Appended, not concatenated: GCC 12 at -O3 reports a false overlap.
    std::string name = "k";
    name += std::to_string(i);
    std::string global = "g";
    global += name;
    constants.push_back(b.constDecl(TypeUInt32, name, {values[i]}));
    globals.push_back(b.global(global, TypeUInt32));
    reads.push_back(
        b.assign(b.gvar(globals[i]), b.node(LOCAL_CONSTANT_OP, TypeUInt32, b.node(INDEX_NODE, i))));
  }
  // And as an operand: k2 - k1.
  const uint32_t difference = b.global("difference", TypeUInt32);
  reads.push_back(b.assign(
      b.gvar(difference),
      b.op(MINUS_OP, TypeUInt32, b.node(LOCAL_CONSTANT_OP, TypeUInt32, b.node(INDEX_NODE, 2u)),
           b.node(LOCAL_CONSTANT_OP, TypeUInt32, b.node(INDEX_NODE, 1u)))));
  N block = b.block(reads, constants);
  load();
  compiled_setEnabled(env.get(), true);
  exec(block);
  for (uint32_t i = 0; i < std::size(values); ++i) EXPECT_EQ(globalU64(globals[i]), values[i]);
  EXPECT_EQ(globalU64(difference), values[2] - values[1]);
  EXPECT_EQ(compiled_stats(env.get()).compiled, 1u);
  EXPECT_EQ(compiled_stats(env.get()).walked, 0u);
}

}  // namespace
