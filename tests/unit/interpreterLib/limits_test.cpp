// Run-time limits that a program which passed validation can still reach:
// each ends the run with its message, the last value that fits still runs.
#include <gtest/gtest.h>

#include <string>

#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/run_control.h"
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

TEST_F(LimitsTest, CallDepthOnBothSides) {
  load();
  callDown(kMaxCallDepth - 1);  // kMaxCallDepth calls nested, the last that fits
  EXPECT_EQ(env->ctx->callDepth, 0u);
  EXPECT_EQ(expectFailure([&] { callDown(kMaxCallDepth); }), "Stack overflow\n");
}

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

// A period past kMaxTime would wrap the next activation into the past and
// the scheduler would serve the same instant for ever, whatever the limit.
TEST(SchedulerLimits, PeriodOnBothSides) {
  for (const uint64_t period : {kMaxTime, kMaxTime + 1}) {
    ProgramBuilder b;
    const uint32_t runs = b.global("runs", TypeUInt32);
    const uint32_t p = b.process(
        "P",
        {.states = {{"s", b.block({b.assign(b.gvar(runs), b.op(PLUS_OP, TypeUInt32, b.gvar(runs),
                                                               b.integer(1)))})}}});
    b.instance("p", p, {.period = b.ps(period)});
    auto env = interp_create();
    TestHost host(env.get());
    ASSERT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    int status = -1;
    std::string text;
    {
      StdoutCapture out;
      try {
        interp_init(env.get());
        interp_run_until(env.get(), 200'000'000'000ull);  // 200 ms
        status = 0;
      } catch (const HostExit& e) {
        status = e.status;
      }
      text = out.text();
    }
    EXPECT_EQ(status, period == kMaxTime ? 0 : 1) << period;
    EXPECT_EQ(text, period == kMaxTime ? "" : "Time overflow\n") << period;
    // The next activation is placed before the due one runs.
    EXPECT_EQ(env->program->globalVariableTable[runs].value->u32, period == kMaxTime ? 1u : 0u)
        << period;
  }
}
