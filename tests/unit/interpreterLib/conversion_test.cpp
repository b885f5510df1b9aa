// Value conversion (`as`), the numeric built-in methods and the FIRST / LAST
// type constants.
#include "interpreterLib/conversion.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/numeric_builtins.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint64_t kOnes = ~uint64_t{0};
constexpr uint64_t kMin64 = uint64_t{1} << 63;

uint64_t f32Bits(float v) {
  return std::bit_cast<uint32_t>(v);
}
uint64_t f64Bits(double v) {
  return std::bit_cast<uint64_t>(v);
}

class Conversion : public ::testing::Test {
 protected:
  // Converts a value held in a cell of its own, outside the stack.
  TaggedValue convert(uint32_t fromType, uint64_t bits, uint32_t toType) {
    source_.u64 = bits;
    return expr_conversion(env_.get(), toType, {&source_, fromType, NO_ID});
  }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  ValueCell source_{};
};

TEST_F(Conversion, KeepsTheValueOrSaturates) {
  struct Case {
    uint32_t from;
    uint64_t bits;
    uint32_t to;
    uint64_t expected;  // the whole result cell
  };
  const Case cases[] = {
      {TypeSInt32, 300, TypeUInt8, 255},
      {TypeSInt32, 0xFFFFFFFB, TypeUInt8, 0},        // -5
      {TypeSInt32, 0xFFFFFF38, TypeSInt8, 0x80},     // -200
      {TypeUInt64, kMin64, TypeSInt64, kMin64 - 1},  // 2^63
      {TypeSInt8, 0xFF, TypeUInt64, 0},              // -1, not all ones
      {TypeSInt8, 0xFF, TypeUInt32, 0},              // negative to a wider unsigned
      {TypeSInt16, 0xFFFF, TypeUInt8, 0},            // negative to a narrower unsigned
      {TypeSInt16, 0xFED4, TypeUInt8, 0},            // -300
      {TypeUInt16, 300, TypeSInt8, 127},
      {TypeSInt64, kMin64, TypeSInt32, 0x80000000},
      {TypeSInt8, 0xFF, TypeSInt16, 0xFFFF},  // -1 widened stays -1
      {TypeUInt8, 200, TypeSInt16, 200},
      {TypeSInt8, 5, TypeUInt16, 5},
      {TypeInt, 7, TypeUInt8, 7},  // literal types as sources
      {TypeSInt, static_cast<uint64_t>(-3), TypeSInt8, 0xFD},
      {TypeDuration64, kOnes, TypeTime64, 0},
      {TypeUInt64, 5, TypeDuration64, 5},
      {TypeTime64, kOnes, TypeSInt64, kMin64 - 1},
      {TypeF64, f64Bits(1e20), TypeSInt32, 0x7FFFFFFF},
      {TypeF64, f64Bits(-1e20), TypeSInt32, 0x80000000},
      {TypeF32, f32Bits(-3.7f), TypeSInt16, 0xFFFD},
      {TypeF32, f32Bits(1e10f), TypeUInt32, 0xFFFFFFFF},
      {TypeF64, f64Bits(-2.5), TypeUInt8, 0},
      {TypeF64, f64Bits(std::numeric_limits<double>::quiet_NaN()), TypeSInt32, 0},
      {TypeBoolean, 1, TypeUInt8, 1},
      {TypeBoolean, 0, TypeSInt64, 0},
      {TypeBoolean, 1, TypeF32, f32Bits(1.0f)},
      {TypeBoolean, 0, TypeF64, f64Bits(0.0)},
      {TypeSInt16, 0xFFFE, TypeBoolean, 1},
      {TypeUInt8, 0x100, TypeBoolean, 0},  // bytes above the width are not the value
      {TypeF64, f64Bits(0.0), TypeBoolean, 0},
      {TypeF32, f32Bits(-0.5f), TypeBoolean, 1},
      {TypeBoolean, 1, TypeBoolean, 1},
      {TypeSInt32, 0xFFFFFFFF, TypeF64, f64Bits(-1.0)},
      {TypeUInt64, kOnes, TypeF32, f32Bits(18446744073709551616.0f)},
      {TypeF64, f64Bits(0.1), TypeF32, f32Bits(0.1f)},
      {TypeF32, f32Bits(0.1f), TypeF64, f64Bits(static_cast<double>(0.1f))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(kBuiltinTypeNames[c.from]) + " " + std::to_string(c.bits) + " as " +
                 kBuiltinTypeNames[c.to]);
    const uint32_t used = env_->ctx->stack_used;
    const TaggedValue r = convert(c.from, c.bits, c.to);
    EXPECT_EQ(r.typeId, c.to);
    EXPECT_EQ(r.globalId, NO_ID);
    EXPECT_EQ(r.value, &env_->ctx->stack[used]);
    EXPECT_EQ(env_->ctx->stack_used, used + 1);
    EXPECT_EQ(r.value->u64, c.expected);
  }
}

TEST_F(Conversion, RefusedTargetsAndSources) {
  ProgramBuilder b;
  const uint32_t color = b.enumType("Color", {"red", "green"});
  env_->program = b.build();

  for (const uint32_t to : {uint32_t{TypeTime}, uint32_t{TypeFloat}, uint32_t{TypeStructure}}) {
    SCOPED_TRACE(kBuiltinTypeNames[to]);
    StdoutCapture out;
    EXPECT_THROW(convert(TypeUInt8, 1, to), HostExit);
    EXPECT_EQ(out.text(), "unsupported type conversion\n");
  }
  for (const uint32_t to : {uint32_t{TypeInt}, uint32_t{TypeSInt}}) {
    try {
      convert(TypeUInt8, 1, to);
      ADD_FAILURE() << kBuiltinTypeNames[to] << " accepted as a target";
    } catch (const HostAssert& a) {
      EXPECT_EQ(a.expression, "(toTypeId != TypeInt) && (toTypeId != TypeSInt)");
    }
  }
  try {
    convert(color, 1, TypeUInt8);
    ADD_FAILURE() << "an enumeration converted to uint8";
  } catch (const HostAssert& a) {
    EXPECT_EQ(a.expression, "false && \"kIcrNotPrimType should not happen\"");
  }
}

using Builtin = TaggedValue (*)(InterpEnv*, const AST_Node*);

struct BuiltinCase {
  Builtin fn;
  N args;  // the argument list
  uint32_t type;
  uint64_t expected;  // the whole result cell
};

class NumericBuiltins : public ::testing::Test {
 protected:
  // Argument lists of literals; they must all exist before build().
  N ints(std::initializer_list<int64_t> values) {
    std::vector<N> nodes;
    for (int64_t v : values) nodes.push_back(b_.integer(v));
    return b_.list(nodes);
  }
  N f32s(std::initializer_list<float> values) {
    std::vector<N> nodes;
    for (float v : values) nodes.push_back(b_.f32(v));
    return b_.list(nodes);
  }
  N f64s(std::initializer_list<double> values) {
    std::vector<N> nodes;
    for (double v : values) nodes.push_back(b_.f64(v));
    return b_.list(nodes);
  }
  const AST_Node* at(N n) { return AST_fromId(env_->program.get(), n.id); }

  void run(const std::vector<BuiltinCase>& cases) {
    env_->program = b_.build();
    for (size_t i = 0; i < cases.size(); ++i) {
      const BuiltinCase& c = cases[i];
      SCOPED_TRACE("row " + std::to_string(i));
      const TaggedValue r = c.fn(env_.get(), at(c.args));
      EXPECT_EQ(r.typeId, c.type);
      EXPECT_EQ(r.globalId, NO_ID);
      ASSERT_NE(r.value, nullptr);
      EXPECT_EQ(r.value->u64, c.expected);
    }
  }

  // The expression text of the internal check that `fn` fails on `list`.
  std::string failedCheck(Builtin fn, N list) {
    try {
      fn(env_.get(), at(list));
    } catch (const HostAssert& a) {
      return a.expression;
    }
    return "no check failed";
  }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  ProgramBuilder b_;
};

TEST_F(NumericBuiltins, MaxAndMinCompareAtTheTypeWidthAndKeepTheEarliest) {
  const N first3 = ints({3, -4, 3});
  run({
      {sInt8_max, first3, TypeSInt8, 3},
      {sInt8_min, first3, TypeSInt8, 0xFC},
      {uInt8_max, ints({200, 100}), TypeUInt8, 200},
      {uInt8_min, ints({200, 100, 255}), TypeUInt8, 100},
      {uInt8_max, ints({511, 254}), TypeUInt8, 255},  // 511 reads as 255
      {sInt16_max, ints({-1, -2}), TypeSInt16, 0xFFFF},
      {uInt16_max, ints({65535, 1}), TypeUInt16, 0xFFFF},
      {sInt16_min, ints({5, -32768}), TypeSInt16, 0x8000},
      {sInt32_min, ints({-5, 7}), TypeSInt32, 0xFFFFFFFB},
      {uInt32_min, ints({4294967295, 2}), TypeUInt32, 2},
      {uInt32_max, ints({7}), TypeUInt32, 7},
      {sInt32_max, ints({-9, -3}), TypeSInt32, 0xFFFFFFFD},
      {sInt64_max, ints({-9, -3}), TypeSInt64, static_cast<uint64_t>(-3)},
      {sInt64_min, ints({0, INT64_MIN}), TypeSInt64, kMin64},
      {uInt64_max, ints({5, -1}), TypeUInt64, kOnes},
      {uInt64_min, ints({-1, 5}), TypeUInt64, 5},
      {f32_min, f32s({2.5f, -1.0f}), TypeF32, f32Bits(-1.0f)},
      {f32_max, f32s({-0.0f, 0.0f}), TypeF32, f32Bits(-0.0f)},  // a tie keeps the first
      {f32_max, f32s({0.0f, -0.0f}), TypeF32, f32Bits(0.0f)},
      {f64_max, f64s({1.5, 2.5, 2.0}), TypeF64, f64Bits(2.5)},
      {f64_min, f64s({0.0, -0.0}), TypeF64, f64Bits(0.0)},
      {f64_min, f64s({3, -1e300}), TypeF64, f64Bits(-1e300)},
  });
  EXPECT_EQ(failedCheck(uInt8_max, none), "ast_it_notEnd(argsIt)");
  EXPECT_EQ(failedCheck(f64_min, none), "ast_it_notEnd(argsIt)");
}

TEST_F(NumericBuiltins, AbsAndMathematicalFunctions) {
  const N minusOne = f64s({-1.0});
  const N nan = f64s({std::numeric_limits<double>::quiet_NaN()});
  const N f64Arg = f64s({1.0});
  const N f32Arg = f32s({1.0f});
  run({
      {uInt8_abs, ints({-56}), TypeUInt8, 56},
      {uInt8_abs, ints({5}), TypeUInt8, 5},
      {uInt8_abs, ints({-128}), TypeUInt8, 128},
      {uInt16_abs, ints({-32768}), TypeUInt16, 32768},
      {uInt32_abs, ints({-1}), TypeUInt32, 1},
      {uInt32_abs, ints({2147483647}), TypeUInt32, 2147483647},
      {uInt64_abs, ints({INT64_MIN}), TypeUInt64, kMin64},
      {uInt64_abs, ints({-7}), TypeUInt64, 7},
      {f64_sin, f64s({-0.0}), TypeF64, f64Bits(0.0)},
      {f32_sin, f32s({-0.0f}), TypeF32, f32Bits(0.0f)},
      {f64_atan, f64s({-0.0}), TypeF64, f64Bits(0.0)},
      {f32_atan, f32s({-0.0f}), TypeF32, f32Bits(0.0f)},
      {f64_cos, f64s({0.0}), TypeF64, f64Bits(1.0)},
      {f32_cos, f32s({0.0f}), TypeF32, f32Bits(1.0f)},
      {f32_abs, f32s({-2.5f}), TypeF32, f32Bits(2.5f)},
      {f32_abs, f32s({-0.0f}), TypeF32, f32Bits(-0.0f)},
      {f64_abs, f64s({-3.0}), TypeF64, f64Bits(3.0)},
      {f64_sqrt, f64s({2.25}), TypeF64, f64Bits(1.5)},
      {f32_sqrt, f32s({16.0f}), TypeF32, f32Bits(4.0f)},
      {f32_pow, f32s({2.0f, 10.0f}), TypeF32, f32Bits(1024.0f)},
      {f64_pow, f64s({9.0, 0.5}), TypeF64, f64Bits(3.0)},
      {f64_log, f64s({1.0}), TypeF64, f64Bits(0.0)},
      {f32_log, f32s({1.0f}), TypeF32, f32Bits(0.0f)},
  });

  // Any NaN will do, so these are checked by class.
  EXPECT_TRUE(std::isnan(f64_sqrt(env_.get(), at(minusOne)).value->f64));
  EXPECT_TRUE(std::isnan(f64_log(env_.get(), at(minusOne)).value->f64));
  EXPECT_TRUE(std::isnan(f64_abs(env_.get(), at(nan)).value->f64));

  EXPECT_EQ(failedCheck(f32_cos, f64Arg), "val.typeId == TypeF32");
  EXPECT_EQ(failedCheck(f32_sqrt, f64Arg), "val.typeId == TypeF32");
  EXPECT_EQ(failedCheck(f64_sin, f32Arg), "val.typeId == TypeF64");
  EXPECT_EQ(failedCheck(f64_atan, f32Arg), "val.typeId == TypeF64");
}

TEST(TypeConstants, FirstAndLastOfEveryType) {
  struct Case {
    uint32_t code;
    uint32_t type;
    uint64_t expected;
  };
  const Case cases[] = {
      {kCallUInt8First, TypeUInt8, 0},
      {kCallUInt8Last, TypeUInt8, 0xFF},
      {kCallSInt8First, TypeSInt8, 0x80},
      {kCallSInt8Last, TypeSInt8, 0x7F},
      {kCallUInt16First, TypeUInt16, 0},
      {kCallUInt16Last, TypeUInt16, 0xFFFF},
      {kCallSInt16First, TypeSInt16, 0x8000},
      {kCallSInt16Last, TypeSInt16, 0x7FFF},
      {kCallUInt32First, TypeUInt32, 0},
      {kCallUInt32Last, TypeUInt32, 0xFFFFFFFF},
      {kCallSInt32First, TypeSInt32, 0x80000000},
      {kCallSInt32Last, TypeSInt32, 0x7FFFFFFF},
      {kCallUInt64First, TypeUInt64, 0},
      {kCallUInt64Last, TypeUInt64, kOnes},
      {kCallSInt64First, TypeSInt64, kMin64},
      {kCallSInt64Last, TypeSInt64, kMin64 - 1},
      {kCallTime64First, TypeUInt64, 0},
      {kCallTime64Last, TypeUInt64, kOnes},
      {kCallDuration64First, TypeSInt64, kMin64},
      {kCallDuration64Last, TypeSInt64, kMin64 - 1},
      {kCallF32First, TypeF32, 0xFF7FFFFF},
      {kCallF32Last, TypeF32, 0x7F7FFFFF},
      {kCallF64First, TypeF64, 0xFFEFFFFFFFFFFFFF},
      {kCallF64Last, TypeF64, 0x7FEFFFFFFFFFFFFF},
  };
  auto env = interp_create();
  TestHost host(env.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(CallCode_getName(c.code));
    const TaggedValue r = type_constant(env.get(), c.code);
    EXPECT_EQ(r.typeId, c.type);
    ASSERT_NE(r.value, nullptr);
    EXPECT_EQ(r.value->u64, c.expected);
  }
  EXPECT_THROW(type_constant(env.get(), kCallUInt8Max), HostAssert);
}

}  // namespace
