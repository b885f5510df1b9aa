// The driver's generator, and the draws of the random module fed by it: a
// seed fixes every value that follows.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/random.h"
#include "mt19937-64/mt19937-64.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

std::vector<uint64_t> draw(size_t n) {
  std::vector<uint64_t> words(n);
  for (uint64_t& w : words) w = genrand64_int64();
  return words;
}

// Must run first in this executable: it observes the never-seeded state.
TEST(Mt19937_64, UnseededStartsFromSeed5489) {
  const std::vector<uint64_t> unseeded = draw(10000);
  EXPECT_EQ(unseeded.back(), 9981545732273789042u);
  init_genrand64(5489);
  EXPECT_EQ(draw(10000), unseeded);
}

TEST(Mt19937_64, ReseedingRepeatsTheSequence) {
  init_genrand64(42);
  const std::vector<uint64_t> first = draw(1000);
  init_genrand64(42);
  EXPECT_EQ(draw(1000), first);
  init_genrand64(43);
  EXPECT_NE(draw(1000), first);
  EXPECT_EQ(std::set<uint64_t>(first.begin(), first.end()).size(), first.size());
}

uint64_t hostWord(InterpEnv*) {
  return genrand64_int64();
}

// An environment wired to the generator, as the driver does it.
struct GeneratorFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  void SetUp() override {
    env->ctx->random_callback = hostWord;
    env->ctx->random_seed_callback = init_genrand64;
  }
  InterpEnv* e() { return env.get(); }
  void reset() { interpStack_reset(e()); }
};

// One of each draw, as raw cells.
std::vector<uint64_t> mixedDraws(InterpEnv* env) {
  std::vector<uint64_t> cells;
  for (int i = 0; i < 50; ++i) {
    const TaggedValue lo = interpStack_pushSInt16(env, -300);
    const TaggedValue hi = interpStack_pushSInt16(env, 300);
    cells.push_back(sInt16_randomUniform(env, lo, hi).value->u64);
    cells.push_back(bool_randomUniform(env).value->u64);
    const TaggedValue mean = interpStack_pushF32(env, 1.0f);
    const TaggedValue sigma = interpStack_pushF32(env, 3.0f);
    cells.push_back(random_gauss_f32(env, mean, sigma).value->u64);
    const TaggedValue lambda = interpStack_pushF32(env, 2.0f);
    cells.push_back(random_exponential_f32(env, lambda).value->u64);
    cells.push_back(random_uniformSize(env, 0, 17));
    interpStack_reset(env);
  }
  return cells;
}

TEST_F(GeneratorFixture, SeedRepeatsTheDraws) {
  random_seed(e(), 42);
  const std::vector<uint64_t> first = mixedDraws(e());
  random_seed(e(), 42);
  EXPECT_EQ(mixedDraws(e()), first);
  random_seed(e(), 7);
  EXPECT_NE(mixedDraws(e()), first);
}

TEST_F(GeneratorFixture, SignedByteDrawsReachEveryValue) {
  random_seed(e(), 1);
  std::set<int> seen;
  for (int i = 0; i < 5000; ++i) {
    const TaggedValue lo = interpStack_pushSInt8(e(), -128);
    const TaggedValue hi = interpStack_pushSInt8(e(), 127);
    seen.insert(sInt8_randomUniform(e(), lo, hi).value->s8);
    reset();
  }
  EXPECT_EQ(seen.size(), 256u);
}

TEST_F(GeneratorFixture, DistributionsKeepTheirShape) {
  random_seed(e(), 2024);
  constexpr int kDraws = 20000;
  double sum = 0.0;
  for (int i = 0; i < kDraws; ++i) {
    const TaggedValue lambda = interpStack_pushF32(e(), 4.0f);
    sum += random_exponential_f32(e(), lambda).value->f32;
    const TaggedValue mean = interpStack_pushF32(e(), 10.0f);
    const TaggedValue flat = interpStack_pushF32(e(), 0.0f);
    EXPECT_EQ(random_gauss_f32(e(), mean, flat).value->f32, 10.0f);
    reset();
  }
  EXPECT_NEAR(sum / kDraws, 0.25, 0.01);
}

TEST_F(GeneratorFixture, ParetoNeverBelowItsScale) {
  ProgramBuilder b;
  const N alphaOnly = b.list({b.f32(2.0f)});
  const N scaled = b.list({b.f32(3.0f), b.f32(2.0f)});
  const N scaled64 = b.list({b.f64(3.0), b.f64(2.0)});
  env->program = b.build();
  const Program* p = env->program.get();
  random_seed(e(), 99);
  for (int i = 0; i < 2000; ++i) {
    EXPECT_GE(random_pareto_f32(e(), AST_fromId(p, alphaOnly.id)).value->f32, 1.0f);
    EXPECT_GE(random_pareto_f32(e(), AST_fromId(p, scaled.id)).value->f32, 3.0f);
    EXPECT_GE(random_pareto_f64(e(), AST_fromId(p, scaled64.id)).value->f64, 3.0);
    reset();
  }
}

}  // namespace
