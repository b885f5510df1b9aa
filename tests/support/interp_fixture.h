// An environment running a builder program, for tests of the evaluator:
// build the program with `b`, then `load()`, then evaluate or execute nodes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "interpreterLib/interp_engine.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

namespace kova_test {

// Runs `f`, expecting the run to end through the exit callback with
// `status`; returns what was printed on standard output meanwhile.
template <class F>
std::string expectFailure(F f, uint8_t status = 1) {
  StdoutCapture out;
  try {
    f();
    ADD_FAILURE() << "the run did not end";
  } catch (const HostExit& e) {
    EXPECT_EQ(e.status, status);
  }
  return out.text();
}

// The internal check that `f` fails (its expression empty when none does).
template <class F>
HostAssert failedAssert(F f) {
  try {
    f();
  } catch (const HostAssert& a) {
    return a;
  }
  return {};
}

// A result's type and its whole cell.
using Cell = std::pair<uint32_t, uint64_t>;
inline Cell typed(TaggedValue v) {
  return {v.typeId, v.value->u64};
}

class InterpFixture : public testing::Test {
 protected:
  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;

  // Loads what `b` holds and installs the recording host.
  void load();
  const AST_Node* node(N n) const { return AST_fromId(env->program.get(), n.id); }
  TaggedValue eval(N n);
  uint32_t exec(N n);
  TaggedValue global(uint32_t id) const { return env->program->globalVariableTable[id]; }
  uint64_t globalU64(uint32_t id) const { return global(id).value->u64; }
};

}  // namespace kova_test
