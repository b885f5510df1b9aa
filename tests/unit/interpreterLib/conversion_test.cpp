// Conversion (`as`), the numeric built-in methods and the FIRST / LAST constants.
#include "interpreterLib/conversion.h"

#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
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
using Cell = std::pair<uint32_t, uint64_t>;  // a result's type and its whole cell
const auto typed = [](TaggedValue v) { return Cell{v.typeId, v.value->u64}; };
const auto f32 = [](float v) -> uint64_t { return std::bit_cast<uint32_t>(v); };
const auto f64 = [](double v) { return std::bit_cast<uint64_t>(v); };

// The expression of the internal check that `call` fails.
template <class F>
std::string failedCheck(F call) {
  try {
    call();
  } catch (const HostAssert& a) {
    return a.expression;
  }
  return "no check failed";
}

class Conversion : public ::testing::Test {
 protected:
  // Converts a value held in a cell of its own, outside the stack.
  TaggedValue convert(uint32_t fromType, uint64_t bits, uint32_t toType) {
    source_.u64 = bits;
    return expr_conversion(env_.get(), toType, {&source_, fromType, NO_ID});
  }

  // A list of literals; every list must exist before the program is built.
  template <class T>
  N args(std::initializer_list<T> values) {
    std::vector<N> nodes;
    for (T v : values)
      nodes.push_back(std::is_same_v<T, float>    ? b_.f32(v)
                      : std::is_same_v<T, double> ? b_.f64(v)
                                                  : b_.integer(static_cast<int64_t>(v)));
    return b_.list(nodes);
  }
  const AST_Node* at(N n) { return AST_fromId(env_->program.get(), n.id); }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  ValueCell source_{};
  ProgramBuilder b_;
};

TEST_F(Conversion, KeepsTheValueOrSaturates) {
  struct Case {
    uint64_t from, bits, to, expected;  // the whole result cell
  };
  const Case cases[] = {
      {TypeSInt32, 300, TypeUInt8, 255},
      {TypeSInt32, 0xFFFFFFFB, TypeUInt8, 0},        // -5
      {TypeSInt32, 0xFFFFFF38, TypeSInt8, 0x80},     // -200
      {TypeUInt64, kMin64, TypeSInt64, kMin64 - 1},  // 2^63
      {TypeSInt8, 0xFF, TypeUInt64, 0},              // -1, not all ones
      {TypeSInt16, 0xFFFF, TypeUInt8, 0},            // though its pattern would fit
      {TypeSInt8, 0xFF, TypeSInt16, 0xFFFF},         // -1 widened stays -1, in 16 bits
      {TypeDuration64, kOnes, TypeTime64, 0},
      {TypeF64, f64(1e20), TypeSInt32, 0x7FFFFFFF},
      {TypeF32, f32(-3.7f), TypeSInt16, 0xFFFD},
      {TypeF32, f32(1e10f), TypeUInt32, 0xFFFFFFFF},
      {TypeBoolean, 1, TypeF32, f32(1.0f)},
      {TypeSInt16, 0xFFFE, TypeBoolean, 1},
      {TypeF64, f64(0.0), TypeBoolean, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " " << c.bits << " as " << c.to);
    const TaggedValue r = convert(c.from, c.bits, c.to);
    EXPECT_EQ(typed(r), Cell(c.to, c.expected));
    EXPECT_EQ(r.value, &env_->ctx->stack[env_->ctx->stack_used - 1]);  // pushed on the stack
  }
}

TEST_F(Conversion, RefusedTargetsAndSources) {
  const uint32_t color = b_.enumType("Color", {"red", "green"});
  env_->program = b_.build();
  for (const uint32_t to : {uint32_t{TypeTime}, uint32_t{TypeFloat}, uint32_t{TypeStructure}}) {
    SCOPED_TRACE(kBuiltinTypeNames[to]);
    StdoutCapture out;
    EXPECT_THROW(convert(TypeUInt8, 1, to), HostExit);
    EXPECT_EQ(out.text(), "unsupported type conversion\n");
  }
  EXPECT_EQ(failedCheck([&] { convert(TypeUInt8, 1, TypeSInt); }),
            "(toTypeId != TypeInt) && (toTypeId != TypeSInt)");
  EXPECT_EQ(failedCheck([&] { convert(color, 1, TypeUInt8); }),
            "false && \"kIcrNotPrimType should not happen\"");
}

TEST_F(Conversion, NumericBuiltins) {
  const N first3 = args({3, -4, 3}), f64Arg = args({1.0}), f32Arg = args({1.0f});
  const std::tuple<TaggedValue (*)(InterpEnv*, const AST_Node*), N, Cell> cases[] = {
      // max and min compare at the type's width; a tie keeps the earlier argument.
      {sInt8_max, first3, {TypeSInt8, 3}},
      {sInt8_min, first3, {TypeSInt8, 0xFC}},
      {uInt8_max, args({511, 254}), {TypeUInt8, 255}},  // 511 reads as 255
      {sInt16_min, args({5, -32768}), {TypeSInt16, 0x8000}},
      {sInt32_max, args({-9, -3}), {TypeSInt32, 0xFFFFFFFD}},
      {sInt64_min, args<int64_t>({0, INT64_MIN}), {TypeSInt64, kMin64}},
      {uInt64_max, args({5, -1}), {TypeUInt64, kOnes}},
      {f32_max, args({-0.0f, 0.0f}), {TypeF32, f32(-0.0f)}},
      {f64_max, args({1.5, 2.5, 2.0}), {TypeF64, f64(2.5)}},
      {f64_min, args({0.0, -0.0}), {TypeF64, f64(0.0)}},
      // abs reads the argument as two's complement.
      {uInt8_abs, args({-56}), {TypeUInt8, 56}},
      {uInt8_abs, args({-128}), {TypeUInt8, 128}},
      {uInt64_abs, args<int64_t>({INT64_MIN}), {TypeUInt64, kMin64}},
      // A negative zero from cos, sin or atan becomes +0.0, but abs keeps it.
      {f64_sin, args({-0.0}), {TypeF64, f64(0.0)}},
      {f32_atan, args({-0.0f}), {TypeF32, f32(0.0f)}},
      {f32_abs, args({-0.0f}), {TypeF32, f32(-0.0f)}},
      {f64_sqrt, args({2.25}), {TypeF64, f64(1.5)}},
      {f32_pow, args({2.0f, 10.0f}), {TypeF32, f32(1024.0f)}},
      {f32_log, args({1.0f}), {TypeF32, f32(0.0f)}},
  };
  env_->program = b_.build();
  size_t row = 0;
  for (const auto& [fn, list, expected] : cases)
    EXPECT_EQ(typed(fn(env_.get(), at(list))), expected) << "row " << row++;
  EXPECT_EQ(failedCheck([&] { uInt8_max(env_.get(), at(none)); }), "ast_it_notEnd(argsIt)");
  EXPECT_EQ(failedCheck([&] { f32_cos(env_.get(), at(f64Arg)); }), "val.typeId == TypeF32");
  EXPECT_EQ(failedCheck([&] { f64_sin(env_.get(), at(f32Arg)); }), "val.typeId == TypeF64");
}

TEST_F(Conversion, TypeConstantsFirstAndLast) {
  struct Case {
    uint32_t first, last, type;
    uint64_t firstValue, lastValue;
  };
  const Case cases[] = {
      {kCallUInt8First, kCallUInt8Last, TypeUInt8, 0, 0xFF},
      {kCallSInt8First, kCallSInt8Last, TypeSInt8, 0x80, 0x7F},
      {kCallSInt32First, kCallSInt32Last, TypeSInt32, 0x80000000, 0x7FFFFFFF},
      {kCallTime64First, kCallTime64Last, TypeUInt64, 0, kOnes},
      {kCallDuration64First, kCallDuration64Last, TypeSInt64, kMin64, kMin64 - 1},
      // The most negative finite value, not the smallest positive one.
      {kCallF32First, kCallF32Last, TypeF32, 0xFF7FFFFF, 0x7F7FFFFF},
      {kCallF64First, kCallF64Last, TypeF64, 0xFFEFFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(CallCode_getName(c.first));
    EXPECT_EQ(typed(type_constant(env_.get(), c.first)), Cell(c.type, c.firstValue));
    EXPECT_EQ(typed(type_constant(env_.get(), c.last)), Cell(c.type, c.lastValue));
  }
  EXPECT_THROW(type_constant(env_.get(), kCallUInt8Max), HostAssert);
}

}  // namespace
