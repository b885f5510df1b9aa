// Run-time limits that a program which passed validation can still reach:
// each ends the run with its message, the last value that fits still runs
// (the call depth: the golden runs evaluator/call_depth and statements;
// periods: eval_period and eval_period_past).
#include <gtest/gtest.h>

#include <string>

#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

struct LimitsTest : InterpFixture {
  // down(): calls itself while the global counter, counted down, is above 0.
  uint32_t counter = b.global("counter", TypeUInt32);
  uint32_t down = [this] {
    const uint32_t self = 0;  // the first function of the program
    return b.function(
        "down", {},
        b.block({b.if_(b.op(GT_OP, TypeUInt32, b.gvar(counter), b.integer(0)),
                       b.block({b.assign(b.gvar(counter),
                                         b.op(MINUS_OP, TypeUInt32, b.gvar(counter), b.integer(1))),
                                b.callFunction(self, {})}))}));
  }();

  void callDown(uint32_t n) {
    env->program->globalVariableTable[counter].value->u32 = n;
    interp_callFunction(env.get(), down, nullptr);
  }
};

}  // namespace

// The host's stack is watched too: with no room granted, the first call runs
// and the one nested in it fails.
TEST_F(LimitsTest, HostStackBudget) {
  load();
  env->ctx->stackBudget = 0;
  callDown(0);
  EXPECT_EQ(expectFailure([&] { callDown(1); }), "Stack overflow\n");
}

TEST_F(LimitsTest, TimeOnBothSides) {
  load();
  env->ctx->localTime = kMaxTime - 10;
  env_addTime(env.get(), 10);
  EXPECT_EQ(env->ctx->localTime, kMaxTime);
  EXPECT_EQ(expectFailure([&] { env_addTime(env.get(), 1); }), "Time overflow\n");
  EXPECT_EQ(env->ctx->localTime, kMaxTime);
}
