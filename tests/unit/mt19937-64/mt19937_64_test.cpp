#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/random.h"
#include "mt19937-64/mt19937-64.h"
#include "tests/support/program_builder.h"

namespace {

std::vector<uint64_t> draw(size_t n) {
  std::vector<uint64_t> words(n);
  for (uint64_t& w : words) w = genrand64_int64();
  return words;
}

// Must run first in this executable: it observes the never-seeded state.
TEST(Mt19937_64, UnseededStartsFromSeed5489AndReseedingRepeats) {
  const std::vector<uint64_t> unseeded = draw(10000);
  EXPECT_EQ(unseeded.back(), 9981545732273789042u);
  init_genrand64(5489);
  EXPECT_EQ(draw(10000), unseeded);
  init_genrand64(42);
  EXPECT_NE(draw(10000), unseeded);
}

TEST(Mt19937_64, SeededDrawsRepeatReachEveryInt8AndKeepParetoAboveItsScale) {
  kova_test::ProgramBuilder b;
  const uint32_t alpha = b.list({b.f32(2.0f)}).id, scaled = b.list({b.f32(3.0f), b.f32(2.0f)}).id;
  const std::unique_ptr<InterpEnv> env = interp_create();
  InterpEnv* e = env.get();
  e->program = b.build();
  e->ctx->random_callback = [](InterpEnv*) { return genrand64_int64(); };
  e->ctx->random_seed_callback = init_genrand64;
  const auto run = [&] {
    random_seed(e, 42);
    std::vector<int> values;
    for (int i = 0; i < 5000; ++i) {
      const TaggedValue lo = interpStack_pushSInt8(e, -128), hi = interpStack_pushSInt8(e, 127);
      values.push_back(sInt8_randomUniform(e, lo, hi).value->s8);
      EXPECT_GE(random_pareto_f32(e, AST_fromId(e->program.get(), alpha)).value->f32, 1.0f);
      EXPECT_GE(random_pareto_f32(e, AST_fromId(e->program.get(), scaled)).value->f32, 3.0f);
      interpStack_reset(e);
    }
    return values;
  };
  const std::vector<int> first = run();
  EXPECT_EQ(std::set<int>(first.begin(), first.end()).size(), 256u);
  EXPECT_EQ(run(), first);
}

}  // namespace
