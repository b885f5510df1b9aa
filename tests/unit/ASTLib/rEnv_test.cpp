// Callback registration and the drifting time base.
#include "ASTLib/rEnv.h"

#include <gtest/gtest.h>

#include "ASTLib/default_callback.h"
#include "interpreterLib/interp_engine.h"

namespace {

struct DriftFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  int64_t ppm = 0;
  void SetUp() override { env->ctx->ppm = &ppm; }
};

void record(InterpEnv*, uint8_t) {}

}  // namespace

TEST(TimeBase, DivRoundClosest) {
  struct Case {
    int64_t n, d, expected;
  };
  for (const Case& c : {Case{7, 2, 4}, Case{-7, 2, -4}, Case{5, -2, -3}, Case{-5, -2, 3},
                        Case{6, 4, 2}, Case{5, 4, 1}, Case{9, -1, -9}, Case{0, 3, 0}}) {
    EXPECT_EQ(divRoundClosest(c.n, c.d), c.expected) << c.n << "/" << c.d;
  }
}

TEST_F(DriftFixture, DurationConversions) {
  struct Case {
    int64_t ppm, duration, absolute, remainder, local;
  };
  for (const Case& c : {Case{0, 999999999, 999999999, 0, 999999999},
                        Case{100, 1000000000000, 999900009999, -100, 1000100000000}}) {
    SCOPED_TRACE(c.ppm);
    ppm = c.ppm;
    int64_t remainder = 123;
    EXPECT_EQ(local_to_absolute_duration(env.get(), c.duration, 0, &remainder), c.absolute);
    EXPECT_EQ(remainder, c.remainder);
    EXPECT_EQ(absolute_to_local_duration(env.get(), c.duration), c.local);
  }
}

TEST_F(DriftFixture, SmallStepsAddUpLikeOneStep) {
  ppm = 100;
  for (int i = 0; i < 10; ++i) env_addTime(env.get(), 1000001);
  EXPECT_EQ(env->ctx->localTime, 10000010u);
  EXPECT_EQ(env->ctx->absoluteTime, 9999010u);
  EXPECT_EQ(env->ctx->driftRemainder, -99000);

  auto once = interp_create();
  once->ctx->ppm = &ppm;
  env_addTime(once.get(), 10000010);
  EXPECT_EQ(once->ctx->absoluteTime, 9999010u);
  EXPECT_EQ(once->ctx->driftRemainder, -99000);
}

TEST_F(DriftFixture, LocalTimeIncludesTheOffset) {
  env_addTime(env.get(), 500);
  env->ctx->localTimeOffset = -200;
  EXPECT_EQ(env_getLocalTime(env.get()), 300u);
  EXPECT_EQ(env_getAbsoluteTime(env.get()), 500u);
  env->ctx->delay_callback(env.get(), 100);  // the default delay keeps simulated time
  EXPECT_EQ(env_getLocalTime(env.get()), 400u);
}

// kova checks the print, exit, local time, sync and delay defaults at start-up.
TEST(Callbacks, DefaultsAndPrintRegistration) {
  auto env = interp_create();
  const Context& c = *env->ctx;
  EXPECT_EQ(c.assert_callback, &defaultCallback_assert);
  EXPECT_EQ(c.get_absolute_time_callback, &env_getAbsoluteTime);
  EXPECT_EQ(c.random_callback, &defaultCallback_random);
  EXPECT_EQ(c.invalid_op_callback, &defaultCallback_invalidOp);
  // Without a loaded program every per-slot registration is refused.
  EXPECT_EQ(env_on_variable_change(env.get(), 0, nullptr), 0);
  EXPECT_EQ(env_on_state_changed(env.get(), 0, nullptr), 0);
  // Registering a print callback turns printing on; none turns it off.
  env_on_print(env.get(), record);
  EXPECT_TRUE(c.print_enabled);
  EXPECT_EQ(c.print_callback, &record);
  env_on_print(env.get(), nullptr);
  EXPECT_FALSE(c.print_enabled);
  EXPECT_EQ(c.print_callback, &defaultCallback_print);
}
