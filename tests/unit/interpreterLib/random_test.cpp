// Random draws from scripted words: uniform integers, booleans, indexes and
// floats, Gauss, exponential and Pareto samples, enumeration choices, seeding.
#include "interpreterLib/random.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <array>
#include <bit>
#include <cmath>
#include <utility>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

constexpr uint64_t kHalf = uint64_t{1} << 63;      // uniform_0_1 = 0.5
constexpr uint64_t kQuarter = uint64_t{1} << 62;   // 0.25
constexpr uint64_t kThreeQuarters = 3 * kQuarter;  // 0.75
constexpr uint64_t kMaxWord = ~uint64_t{0};        // rounds to 1.0
const double kSqrtTwoOverE = std::sqrt(2.0 / std::exp(1.0));

const auto f32Cell = [](float v) { return Cell{TypeF32, std::bit_cast<uint32_t>(v)}; };
const auto f64Cell = [](double v) { return Cell{TypeF64, std::bit_cast<uint64_t>(v)}; };

struct RandomFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  TestHost host{env.get()};
  ProgramBuilder b;

  InterpEnv* e() { return env.get(); }
  TaggedValue arg(uint32_t type, uint64_t bits) {
    return interpStack_pushSingleAnyValue(e(), type, bits);
  }
  TaggedValue f32(float v) { return interpStack_pushF32(e(), v); }
  void script(std::vector<uint64_t> words) {
    host.randomWords = std::move(words);
    host.randomDraws = 0;
  }
};

TEST_F(RandomFixture, UniformIntegers) {
  struct Case {
    TaggedValue (*draw)(InterpEnv*, TaggedValue, TaggedValue);
    uint32_t type;                         // of the result and of the bounds
    uint64_t a, b, word, expected, draws;  // bounds as cells; the whole result cell
  };
  const uint64_t i64min = uint64_t{1} << 63;
  const Case cases[] = {
      // b <= a gives a without a draw, compared in the type's signedness.
      {uInt8_randomUniform, TypeUInt8, 5, 5, 77, 5, 0},
      {uInt8_randomUniform, TypeUInt8, 9, 3, 77, 9, 0},
      {sInt8_randomUniform, TypeSInt8, 5, 0xFD, 77, 5, 0},
      // a + word mod (span + 1), wrapped to the width.
      {uInt8_randomUniform, TypeUInt8, 1, 4, 6, 3, 1},
      {sInt8_randomUniform, TypeSInt8, 0x80, 0x7F, 261, 0x85, 1},
      {sInt16_randomUniform, TypeSInt16, 0xFC18, 1000, 5000, 0xFFFE, 1},
      {uInt32_randomUniform, TypeUInt32, 1, 0xFFFFFFFF, 0x100000000, 2, 1},
      {sInt32_randomUniform, TypeSInt32, 0x80000000, 0x7FFFFFFF, 0xABFFFFFFFF, 0x7FFFFFFF, 1},
      // A 64-bit full span returns a + word.
      {uInt64_randomUniform, TypeUInt64, 0, kMaxWord, 0xDEADBEEFCAFEF00D, 0xDEADBEEFCAFEF00D, 1},
      {sInt64_randomUniform, TypeSInt64, i64min, i64min - 1, kMaxWord, i64min - 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << kBuiltinTypeNames[c.type] << " " << c.a << ".." << c.b);
    script({c.word});
    EXPECT_EQ(typed(c.draw(e(), arg(c.type, c.a), arg(c.type, c.b))), Cell(c.type, c.expected));
    EXPECT_EQ(host.randomDraws, c.draws);
  }
  // Bounds of another type are read keeping their value.
  const TaggedValue small = arg(TypeUInt16, 1), nine = arg(TypeUInt16, 9),
                    large = arg(TypeUInt16, 300);
  EXPECT_EQ(typed(uInt8_randomUniform(e(), nine, small)), Cell(TypeUInt8, 9));
  EXPECT_DEATH(uInt8_randomUniform(e(), large, small), "primTypeToUInt8");
  EXPECT_DEATH(uInt8_randomUniform(e(), small, large), "primTypeToUInt8");
}

// The environment's own callbacks: every word is 0 and a failed check returns.
TEST(RandomDefaults, ZeroWordsAndReturningChecks) {
  ProgramBuilder b;
  auto env = interp_create();
  InterpEnv* e = env.get();
  e->program = b.build();
  const TaggedValue lo = interpStack_pushUInt32(e, 3), hi = interpStack_pushUInt32(e, 9);
  EXPECT_EQ(typed(uInt32_randomUniform(e, lo, hi)), Cell(TypeUInt32, 3));
  EXPECT_EQ(typed(bool_randomUniform(e)), Cell(TypeBoolean, 0));
  EXPECT_EQ(typed(random_choiceUniformEnum(e, e->program->infoProg->n_type + 5)),
            Cell(TypeUInt32, 0));
  EXPECT_EQ(typed(random_choiceUniformEnum(e, TypeF32)), Cell(TypeUInt32, 0));
}

TEST_F(RandomFixture, BooleanIndexAndFloatDraws) {
  script({2, 3});
  EXPECT_EQ(typed(bool_randomUniform(e())), Cell(TypeBoolean, 0));
  EXPECT_EQ(typed(bool_randomUniform(e())), Cell(TypeBoolean, 1));
  // Only the low 32 bits of the word count: 0x100000007 mod 10 would be 3.
  using Row = std::array<uint64_t, 5>;  // min, max, word, expected, draws
  for (const auto& [min, max, word, expected, draws] :
       {Row{0, 10, 0x100000007, 7, 1}, {20, 30, 19, 29, 1}, {5, 5, 1, 5, 0}, {7, 3, 1, 7, 0}}) {
    script({word});
    EXPECT_EQ(random_uniformSize(e(), min, max), expected) << min << ".." << max;
    EXPECT_EQ(host.randomDraws, draws);
  }
  script({0, kHalf, kMaxWord, kQuarter, kThreeQuarters});
  EXPECT_EQ(uniform_0_1(e()), 0.0);
  EXPECT_EQ(uniform_0_1(e()), 0.5);
  EXPECT_EQ(uniform_0_1(e()), 1.0);
  EXPECT_EQ(typed(random_uniform_f32(e(), f32(2.0f), f32(4.0f))), f32Cell(2.5f));
  const TaggedValue c = interpStack_pushF64(e(), -1.0), d = interpStack_pushF64(e(), 1.0);
  EXPECT_EQ(typed(random_uniform_f64(e(), c, d)), f64Cell(0.5));
  EXPECT_DEATH(random_uniform_f32(e(), c, d), "expectedConvResult != \\(0x0001\\)");
}

TEST_F(RandomFixture, GaussDrawsUThenVAndRetriesRejections) {
  const auto gauss = [&](float mean, float sigma, std::vector<uint64_t> words, size_t draws) {
    script(std::move(words));
    const TaggedValue r = random_gauss_f32(e(), f32(mean), f32(sigma));
    EXPECT_EQ(r.typeId, TypeF32);
    EXPECT_EQ(host.randomDraws, draws);
    return r.value->f32;
  };
  EXPECT_EQ(gauss(10.0f, 0.0f, {kHalf, kThreeQuarters}, 2), 10.0f);
  // u = 0.5 accepts v = (2 × 0.75 − 1) × sqrt(2/e), giving n = sqrt(2/e); a v
  // from 1 − 2^-10 is rejected. Swapping u and v changes the result.
  const std::vector<uint64_t> rejectedFirst = {kHalf, kMaxWord << 54, kHalf, kThreeQuarters};
  EXPECT_FLOAT_EQ(gauss(-1.0f, 2.0f, rejectedFirst, 4), 2.0 * kSqrtTwoOverE - 1.0);
  // u = 0 makes the test NaN, which accepts: n = -sqrt(2/e) / 0.
  EXPECT_EQ(gauss(0.0f, 1.0f, {0, 0, kHalf, kThreeQuarters}, 2), -INFINITY);
}

TEST_F(RandomFixture, Exponential) {
  script({kMaxWord, kMaxWord, kHalf});  // 1.0 is drawn again
  EXPECT_EQ(typed(random_exponential_f32(e(), f32(2.0f))), f32Cell(std::log(0.5) / -2.0));
  EXPECT_EQ(host.randomDraws, 3u);
  // With lambda 0: ln(1) / -0 is invalid, ln(0.5) / -0 divides by zero.
  for (const auto& [word, message] :
       {std::pair{uint64_t{0}, "Invalid range while random_exponential.\n"},
        std::pair{kHalf, "Division by zero while random_exponential.\n"}}) {
    script({word});
    EXPECT_EQ(expectFailure([&] { random_exponential_f32(e(), f32(0.0f)); }), message);
  }
}

TEST_F(RandomFixture, Seeding) {
  random_seed(e(), 0xFFFFFFFFFFFFFFFF);
  timeval before{}, after{};
  gettimeofday(&before, nullptr);
  const TaggedValue r = random_seedTime(e());
  gettimeofday(&after, nullptr);
  EXPECT_EQ(r.typeId, TypeUInt64);
  EXPECT_EQ(host.seeds, (std::vector<uint64_t>{0xFFFFFFFFFFFFFFFF, r.value->u64}));
  EXPECT_GE(r.value->u64 >> 32, static_cast<uint64_t>(before.tv_sec));
  EXPECT_LE(r.value->u64 >> 32, static_cast<uint64_t>(after.tv_sec));
  EXPECT_LT(r.value->u64 & 0xFFFFFFFF, 1000000u);
}

TEST_F(RandomFixture, EnumChoiceUsesTheLow32BitsAndChecksTheType) {
  const uint32_t color = b.enumType("Color", {"RED", "GREEN", "BLUE"});
  env->program = b.build();
  // 0x100000002 mod 3 is 0 over 64 bits, 2 over its low 32 bits.
  script({4, 0x100000002});
  const auto literal = [&](const char* name) { return Cell(TypeUInt32, b.enumValue(color, name)); };
  EXPECT_EQ(typed(random_choiceUniformEnum(e(), color)), literal("GREEN"));
  EXPECT_EQ(typed(random_choiceUniformEnum(e(), color)), literal("BLUE"));
  for (const auto& row :
       {std::pair{env->program->infoProg->n_type, "enumType < env->program->infoProg->n_type"},
        std::pair{uint32_t{TypeUInt8}, "env->program->typeTable[enumType].fields != 0"}}) {
    // A lambda cannot capture a structured binding under every compiler.
    EXPECT_EQ(failedAssert([&] { random_choiceUniformEnum(e(), row.first); }).expression,
              row.second);
  }
  EXPECT_EQ(host.randomDraws, 2u);
}

TEST_F(RandomFixture, Pareto) {
  const N alpha2 = b.list({b.f32(2.0f)}), xm3 = b.list({b.f32(3.0f), b.f32(2.0f)});
  const N int3 = b.list({b.integer(3), b.f64(2.0)}), fine = b.list({b.f64(std::ldexp(1, -20))});
  const N u3 = b.list({b.integer(3), b.f32(2.0f)}), u1000 = b.list({b.integer(1000), b.f32(1.0f)});
  const N u9 = b.list({b.integer(9), b.f64(2.0)});
  env->program = b.build();
  const auto draw = [&](TaggedValue (*fn)(InterpEnv*, const AST_Node*), N args, uint64_t word) {
    script({word});
    const TaggedValue r = fn(e(), AST_fromId(env->program.get(), args.id));
    EXPECT_EQ(host.randomDraws, 1u);
    return typed(r);
  };
  // Word 0 gives the scale, the lower bound; a word rounding to 2^64 an infinite sample.
  EXPECT_EQ(draw(random_pareto_f32, alpha2, 0), f32Cell(1.0f));
  EXPECT_EQ(draw(random_pareto_f32, xm3, 0), f32Cell(3.0f));
  EXPECT_EQ(draw(random_pareto_f32, alpha2, kMaxWord), f32Cell(INFINITY));
  EXPECT_EQ(draw(random_pareto_f64, int3, kThreeQuarters), f64Cell(6.0));
  // 3071 + 1 over 2^64 is 1.5 × 2^-53: the base rounds to 1 − 2^-52, and
  // its 2^20th power to 1 − 2^-32; the word alone would halve the excess.
  EXPECT_EQ(draw(random_pareto_f64, fine, 3071), f64Cell(1.0 + std::ldexp(1.0, -32)));
  // Unsigned results saturate at the type's maximum.
  EXPECT_EQ(draw(uInt8_random_pareto_f32, u3, kMaxWord), Cell(TypeUInt8, 255));
  EXPECT_EQ(draw(uInt64_random_pareto_f32, u1000, kHalf), Cell(TypeUInt64, 2000));
  EXPECT_EQ(draw(uInt32_random_pareto_f64, u9, kThreeQuarters), Cell(TypeUInt32, 18));
  EXPECT_DEATH(random_pareto_f32(e(), nullptr), "AST_listSize\\(env->program,args\\) > 0");
}

}  // namespace
