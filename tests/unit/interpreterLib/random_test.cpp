// Random draws against scripted random words: the formulas, the bounds, the
// draw order and the failure reports.
#include "interpreterLib/random.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint64_t kHalf = uint64_t{1} << 63;      // uniform_0_1 = 0.5
constexpr uint64_t kQuarter = uint64_t{1} << 62;   // 0.25
constexpr uint64_t kThreeQuarters = 3 * kQuarter;  // 0.75
constexpr uint64_t kMaxWord = ~uint64_t{0};        // rounds to 1.0
const double kSqrtTwoOverE = std::sqrt(2.0 / std::exp(1.0));

struct RandomFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  TestHost host{env.get()};

  InterpEnv* e() { return env.get(); }
  TaggedValue arg(uint32_t typeId, uint64_t bits) {
    return interpStack_pushSingleAnyValue(e(), typeId, bits);
  }
  TaggedValue f32(float v) { return interpStack_pushF32(e(), v); }
  TaggedValue f64(double v) { return interpStack_pushF64(e(), v); }
  void script(std::vector<uint64_t> words) {
    host.randomWords = std::move(words);
    host.randomDraws = 0;
  }
};

using UniformDraw = TaggedValue (*)(InterpEnv*, TaggedValue, TaggedValue);

TEST_F(RandomFixture, UniformIntegers) {
  struct Case {
    UniformDraw draw;
    uint32_t type;  // of the result, and of the bounds unless boundType is set
    uint64_t a, b, word;
    uint64_t expected;  // the whole result cell
    size_t draws;
    uint32_t boundType = NO_ID;
  };
  const uint64_t m128 = static_cast<uint64_t>(int64_t{-128});
  const uint64_t m1000 = static_cast<uint64_t>(int64_t{-1000});
  const uint64_t m10 = static_cast<uint64_t>(int64_t{-10});
  const uint64_t i64min = uint64_t{1} << 63;
  const Case cases[] = {
      // b <= a gives a without a draw, compared in the type's signedness.
      {uInt8_randomUniform, TypeUInt8, 5, 5, 77, 5, 0},
      {uInt8_randomUniform, TypeUInt8, 9, 3, 77, 9, 0},
      {sInt8_randomUniform, TypeSInt8, 5, 0xFD, 77, 5, 0},
      {uInt64_randomUniform, TypeUInt64, 1, 0, 3, 1, 0},
      // a + word mod (span + 1), wrapped to the width.
      {uInt8_randomUniform, TypeUInt8, 10, 20, 1000, 20, 1},
      {uInt8_randomUniform, TypeUInt8, 3, 250, 248 + 247, 250, 1},
      {uInt8_randomUniform, TypeUInt8, 1, 4, 6, 3, 1, TypeUInt32},
      {sInt8_randomUniform, TypeSInt8, m128, 127, 0, 0x80, 1},
      {sInt8_randomUniform, TypeSInt8, m128, 127, 255, 0x7F, 1},
      {sInt8_randomUniform, TypeSInt8, m128, 127, 261, 0x85, 1},
      {uInt16_randomUniform, TypeUInt16, 0, 0xFFFF, 0x12345, 0x2345, 1},
      {sInt16_randomUniform, TypeSInt16, m1000, 1000, 5000, 0xFFFE, 1},
      {uInt32_randomUniform, TypeUInt32, 1, 0xFFFFFFFF, 0xFFFFFFFF, 1, 1},
      {uInt32_randomUniform, TypeUInt32, 1, 0xFFFFFFFF, 0x100000000, 2, 1},
      {sInt32_randomUniform, TypeSInt32, 0x80000000, 0x7FFFFFFF, 0xABFFFFFFFF, 0x7FFFFFFF, 1},
      {uInt64_randomUniform, TypeUInt64, 5, kMaxWord, kMaxWord, 9, 1},
      {sInt64_randomUniform, TypeSInt64, m10, 10, 45, static_cast<uint64_t>(int64_t{-7}), 1},
      // A 64-bit full span returns a + word.
      {uInt64_randomUniform, TypeUInt64, 0, kMaxWord, 0xDEADBEEFCAFEF00D, 0xDEADBEEFCAFEF00D, 1},
      {sInt64_randomUniform, TypeSInt64, i64min, i64min - 1, 0, i64min, 1},
      {sInt64_randomUniform, TypeSInt64, i64min, i64min - 1, kMaxWord, i64min - 1, 1},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    script({c.word});
    const uint32_t boundType = c.boundType != NO_ID ? c.boundType : c.type;
    const TaggedValue lo = arg(boundType, c.a & integerTypeMask(boundType));
    const TaggedValue hi = arg(boundType, c.b & integerTypeMask(boundType));
    const TaggedValue r = c.draw(e(), lo, hi);
    EXPECT_EQ(r.typeId, c.type);
    EXPECT_EQ(r.globalId, NO_ID);
    EXPECT_EQ(r.value->u64, c.expected);
    EXPECT_EQ(host.randomDraws, c.draws);
  }
}

TEST_F(RandomFixture, IntegerBoundsMustKeepTheirValue) {
  const TaggedValue small = arg(TypeUInt16, 1);
  const TaggedValue large = arg(TypeUInt16, 300);
  EXPECT_DEATH(uInt8_randomUniform(e(), large, small), "primTypeToUInt8");
  EXPECT_DEATH(uInt8_randomUniform(e(), small, large), "primTypeToUInt8");
}

TEST(RandomDefaults, DefaultCallbackDrawsZeroWords) {
  auto env = interp_create();
  const TaggedValue lo = interpStack_pushUInt32(env.get(), 3);
  const TaggedValue hi = interpStack_pushUInt32(env.get(), 9);
  EXPECT_EQ(uInt32_randomUniform(env.get(), lo, hi).value->u32, 3u);
  EXPECT_EQ(bool_randomUniform(env.get()).value->u64, 0u);
}

TEST_F(RandomFixture, BooleanIsBitZero) {
  script({2, 3, 0xFFFFFFFFFFFFFFFE});
  for (const bool expected : {false, true, false}) {
    const TaggedValue r = bool_randomUniform(e());
    EXPECT_EQ(r.typeId, TypeBoolean);
    EXPECT_EQ(r.value->u64, expected ? 1u : 0u);
  }
}

TEST_F(RandomFixture, IndexDraws) {
  struct Case {
    uint32_t min, max;
    uint64_t word;
    uint32_t expected;
    size_t draws;
  };
  for (const Case& c : {Case{0, 10, 0x100000007, 7, 1}, Case{0, 10, 0x50000000D, 3, 1},
                        Case{100, 103, 0xFFFFFFFF, 100, 1}, Case{20, 30, 19, 29, 1},
                        Case{5, 5, 1, 5, 0}, Case{7, 3, 1, 7, 0}}) {
    script({c.word});
    EXPECT_EQ(random_uniformSize(e(), c.min, c.max), c.expected) << c.min << ".." << c.max;
    EXPECT_EQ(host.randomDraws, c.draws);
  }
}

TEST_F(RandomFixture, UniformFloats) {
  script({0, kHalf, kMaxWord});
  EXPECT_EQ(uniform_0_1(e()), 0.0);
  EXPECT_EQ(uniform_0_1(e()), 0.5);
  EXPECT_EQ(uniform_0_1(e()), 1.0);

  script({kQuarter, kThreeQuarters});
  const TaggedValue a = f32(2.0f), b = f32(4.0f);
  const TaggedValue r32 = random_uniform_f32(e(), a, b);
  EXPECT_EQ(r32.typeId, TypeF32);
  EXPECT_EQ(r32.value->f32, 2.5f);
  const TaggedValue c = f64(-1.0), d = f64(1.0);
  const TaggedValue r64 = random_uniform_f64(e(), c, d);
  EXPECT_EQ(r64.typeId, TypeF64);
  EXPECT_EQ(r64.value->f64, 0.5);
}

TEST_F(RandomFixture, FloatArgumentsMustHaveTheDrawsType) {
  const TaggedValue a = f64(2.0), b = f64(4.0);
  EXPECT_DEATH(random_uniform_f32(e(), a, b), "expectedConvResult != \\(0x0001\\)");
}

TEST_F(RandomFixture, GaussDrawsUThenVAndRetriesRejections) {
  struct Case {
    float mean, sigma;
    double expected;
    size_t draws;
    std::vector<uint64_t> words;
  };
  // u = 0.5 accepts v = (2 × 0.75 − 1) × sqrt(2/e), giving n = sqrt(2/e); a v
  // from 1 − 2^-10 is rejected. Swapping u and v changes every result.
  const uint64_t nearOne = kMaxWord << 54;
  const double minusInf = -std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {10.0f, 2.0f, 10.0 + 2.0 * kSqrtTwoOverE, 2, {kHalf, kThreeQuarters}},
      {10.0f, 0.0f, 10.0, 2, {kHalf, kThreeQuarters}},
      {-1.0f, 1.0f, kSqrtTwoOverE - 1.0, 4, {kHalf, nearOne, kHalf, kThreeQuarters}},
      // u = 0 makes the test NaN, which accepts: n = -sqrt(2/e) / 0.
      {0.0f, 1.0f, minusInf, 2, {0, 0, kHalf, kThreeQuarters}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    script(c.words);
    const TaggedValue mean = f32(c.mean), sigma = f32(c.sigma);
    const TaggedValue r = random_gauss_f32(e(), mean, sigma);
    EXPECT_EQ(r.typeId, TypeF32);
    EXPECT_FLOAT_EQ(r.value->f32, static_cast<float>(c.expected));
    EXPECT_EQ(host.randomDraws, c.draws);
  }
}

TEST_F(RandomFixture, Exponential) {
  struct Case {
    std::vector<uint64_t> words;
    float lambda;
    double expected;
    size_t draws;
  };
  for (const Case& c :
       {Case{{kHalf}, 2.0f, std::log(2.0) / 2.0, 1},
        Case{{kThreeQuarters}, 0.5f, 2.0 * std::log(4.0), 1}, Case{{0}, 3.0f, 0.0, 1},
        Case{{kMaxWord, kMaxWord, kHalf}, 1.0f, std::log(2.0), 3}}) {
    script(c.words);
    const TaggedValue lambda = f32(c.lambda);
    const TaggedValue r = random_exponential_f32(e(), lambda);
    EXPECT_EQ(r.typeId, TypeF32);
    EXPECT_FLOAT_EQ(r.value->f32, static_cast<float>(c.expected)) << c.lambda;
    EXPECT_EQ(host.randomDraws, c.draws);
  }
}

TEST_F(RandomFixture, ExponentialFailures) {
  struct Case {
    uint64_t word;
    const char* message;
  };
  // With lambda 0: ln(1) / -0 is invalid, ln(0.5) / -0 divides by zero.
  for (const Case& c : {Case{0, "Invalid range while random_exponential.\n"},
                        Case{kHalf, "Division by zero while random_exponential.\n"}}) {
    script({c.word});
    const TaggedValue lambda = f32(0.0f);
    StdoutCapture out;
    try {
      random_exponential_f32(e(), lambda);
      ADD_FAILURE() << "no failure for " << c.message;
    } catch (const HostExit& exit) {
      EXPECT_EQ(exit.line, 0u);
      EXPECT_EQ(exit.status, 1);
    }
    EXPECT_EQ(out.text(), c.message);
  }
}

TEST_F(RandomFixture, Seeding) {
  random_seed(e(), 42);
  random_seed(e(), 0xFFFFFFFFFFFFFFFF);
  EXPECT_EQ(host.seeds, (std::vector<uint64_t>{42, 0xFFFFFFFFFFFFFFFF}));

  host.seeds.clear();
  timeval before{}, after{};
  ASSERT_EQ(gettimeofday(&before, nullptr), 0);
  const TaggedValue r = random_seedTime(e());
  ASSERT_EQ(gettimeofday(&after, nullptr), 0);
  ASSERT_EQ(host.seeds.size(), 1u);
  EXPECT_EQ(r.typeId, TypeUInt64);
  EXPECT_EQ(r.value->u64, host.seeds[0]);
  const uint64_t seconds = host.seeds[0] >> 32;
  EXPECT_GE(seconds, static_cast<uint64_t>(before.tv_sec));
  EXPECT_LE(seconds, static_cast<uint64_t>(after.tv_sec));
  EXPECT_LT(host.seeds[0] & 0xFFFFFFFF, 1000000u);
  EXPECT_EQ(host.randomDraws, 0u);
}

struct EnumFixture : RandomFixture {
  ProgramBuilder b;
  uint32_t color = b.enumType("Color", {"RED", "GREEN", "BLUE"});
  void SetUp() override { env->program = b.build(); }
};

TEST_F(EnumFixture, ChoiceUsesTheLow32BitsOverTheLiterals) {
  struct Case {
    uint64_t word;
    const char* literal;
  };
  // 0x100000002 mod 3 is 0 over 64 bits, 2 over its low 32 bits.
  for (const Case& c : {Case{0, "RED"}, Case{4, "GREEN"}, Case{0x100000002, "BLUE"}}) {
    script({c.word});
    const TaggedValue r = random_choiceUniformEnum(e(), color);
    EXPECT_EQ(r.typeId, TypeUInt32);
    EXPECT_EQ(r.value->u64, b.enumValue(color, c.literal)) << c.literal;
    EXPECT_EQ(host.randomDraws, 1u);
  }
}

TEST_F(EnumFixture, ChoiceChecksTheType) {
  struct Case {
    uint32_t type;
    const char* expression;
  };
  const uint32_t n = env->program->infoProg->n_type;
  for (const Case& c : {Case{n, "enumType < env->program->infoProg->n_type"},
                        Case{TypeUInt8, "env->program->typeTable[enumType].fields != 0"}}) {
    script({1});
    try {
      random_choiceUniformEnum(e(), c.type);
      ADD_FAILURE() << "no assertion for type " << c.type;
    } catch (const HostAssert& a) {
      EXPECT_EQ(a.expression, c.expression);
    }
    EXPECT_EQ(host.randomDraws, 0u);
  }
}

TEST(RandomDefaults, ChoiceOnABadTypeWithAReturningHostPushesZero) {
  ProgramBuilder b;
  auto env = interp_create();
  env->program = b.build();
  for (const uint32_t type : {env->program->infoProg->n_type + 5, uint32_t{TypeF32}}) {
    const TaggedValue r = random_choiceUniformEnum(env.get(), type);
    EXPECT_EQ(r.typeId, TypeUInt32);
    EXPECT_EQ(r.value->u64, 0u);
  }
}

// ---------------------------------------------------------------- Pareto

struct ParetoFixture : RandomFixture {
  ProgramBuilder b;
  const AST_Node* args(std::vector<N> elements) {
    const N list = b.list(elements);
    env->program = b.build();
    return AST_fromId(env->program.get(), list.id);
  }
};

using ParetoDraw = TaggedValue (*)(InterpEnv*, const AST_Node*);

TEST_F(ParetoFixture, Samples) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    ParetoDraw draw;
    uint32_t type;
    uint64_t word;
    double expected;  // compared at the result's precision
    std::vector<N> args;
  };
  const Case cases[] = {
      // Word 0 gives the scale: the lower bound.
      {random_pareto_f32, TypeF32, 0, 1.0, {b.f32(2.0f)}},
      {random_pareto_f32, TypeF32, 0, 3.0, {b.f32(3.0f), b.f32(2.0f)}},
      {random_pareto_f32, TypeF32, kHalf, 2.0, {b.f32(1.0f)}},
      {random_pareto_f32, TypeF32, kThreeQuarters, 6.0, {b.f32(3.0f), b.f32(2.0f)}},
      {random_pareto_f32, TypeF32, kMaxWord, inf, {b.f32(2.0f)}},
      {random_pareto_f64, TypeF64, kThreeQuarters, 6.0, {b.integer(3), b.f64(2.0)}},
      // 3071 + 1 over 2^64 is 1.5 × 2^-53: the base rounds to 1 − 2^-52, and
      // its 2^20th power to 1 − 2^-32; the word alone would halve the excess.
      {random_pareto_f64, TypeF64, 3071, 1.0 + std::ldexp(1.0, -32), {b.f64(std::ldexp(1, -20))}},
      {random_pareto_f64, TypeF64, kMaxWord, inf, {b.f64(1.0)}},
      // Unsigned results saturate at the type's maximum.
      {uInt8_random_pareto_f32, TypeUInt8, kThreeQuarters, 6.0, {b.integer(3), b.f32(2.0f)}},
      {uInt8_random_pareto_f32, TypeUInt8, kMaxWord, 255.0, {b.integer(3), b.f32(2.0f)}},
      {uInt16_random_pareto_f32, TypeUInt16, kHalf, 600.0, {b.integer(300), b.f32(1.0f)}},
      {uInt32_random_pareto_f32, TypeUInt32, kHalf, 28.0, {b.integer(7), b.f32(0.5f)}},
      {uInt64_random_pareto_f32, TypeUInt64, kHalf, 2000.0, {b.integer(1000), b.f32(1.0f)}},
      {uInt8_random_pareto_f64, TypeUInt8, kThreeQuarters, 20.0, {b.integer(5), b.f64(1.0)}},
      {uInt16_random_pareto_f64, TypeUInt16, kMaxWord, 65535.0, {b.integer(5), b.f64(1.0)}},
      {uInt32_random_pareto_f64, TypeUInt32, kThreeQuarters, 18.0, {b.integer(9), b.f64(2.0)}},
      {uInt64_random_pareto_f64, TypeUInt64, kHalf, 2000.0, {b.integer(1000), b.f64(1.0)}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    const AST_Node* list = args(c.args);
    script({c.word});
    const TaggedValue r = c.draw(e(), list);
    EXPECT_EQ(r.typeId, c.type);
    EXPECT_EQ(host.randomDraws, 1u);
    if (c.type == TypeF32) {
      EXPECT_FLOAT_EQ(r.value->f32, static_cast<float>(c.expected));
    } else if (c.type == TypeF64) {
      EXPECT_DOUBLE_EQ(r.value->f64, c.expected);
    } else {
      EXPECT_EQ(r.value->u64, static_cast<uint64_t>(c.expected));
    }
  }
}

TEST_F(ParetoFixture, NeedsAnArgument) {
  EXPECT_DEATH(random_pareto_f32(e(), nullptr), "AST_listSize\\(env->program,args\\) > 0");
  EXPECT_DEATH(random_pareto_f64(e(), nullptr), "AST_listSize\\(env->program,args\\) > 0");
}

}  // namespace
