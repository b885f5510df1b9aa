#include "ASTLib/kova_typing.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "ASTLib/rAST.h"
#include "tests/support/program_builder.h"

namespace {

constexpr uint64_t kAllOnes = 0xFFFFFFFFFFFFFFFFu;
constexpr uint64_t kTop64 = 0x8000000000000000u;

// The cell contents of an integer written at its own width into a cleared cell.
template <class T>
constexpr uint64_t bits(T v) {
  return static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(v));
}

// A float's cell: a float32's bits in the low word, a float64's in all of it.
constexpr auto f32 = [](float v) -> uint64_t { return std::bit_cast<uint32_t>(v); };
constexpr auto f64 = [](double v) { return std::bit_cast<uint64_t>(v); };

// A value in a cell of its own; the cells outlive the test.
TaggedValue tv(uint32_t type, uint64_t pattern) {
  static std::deque<ValueCell> cells;
  cells.emplace_back().u64 = pattern;
  return {&cells.back(), type, NO_ID};
}

TEST(KovaTyping, IntegerTypeTable) {
  struct Row {
    uint32_t id, precision;
    uint64_t mask, first, last;
  };
  const Row rows[] = {
      {TypeInt, 64, kAllOnes, 0, kAllOnes},
      {TypeSInt, 63, kAllOnes, kTop64, kTop64 - 1},
      {TypeUInt8, 8, 0xFF, 0, 0xFF},
      {TypeSInt8, 7, 0xFF, 0x80, 0x7F},
      {TypeUInt16, 16, 0xFFFF, 0, 0xFFFF},
      {TypeSInt16, 15, 0xFFFF, 0x8000, 0x7FFF},
      {TypeUInt32, 32, 0xFFFFFFFF, 0, 0xFFFFFFFF},
      {TypeSInt32, 31, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF},
      {TypeUInt64, 64, kAllOnes, 0, kAllOnes},
      {TypeSInt64, 63, kAllOnes, kTop64, kTop64 - 1},
      {TypeTime64, 64, kAllOnes, 0, kAllOnes},
      {TypeDuration64, 63, kAllOnes, kTop64, kTop64 - 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(kBuiltinTypeNames[r.id]);
    EXPECT_EQ(precision(r.id), r.precision);
    EXPECT_EQ(integerTypeMask(r.id), r.mask);
    EXPECT_EQ(integerTypeFirst(r.id), r.first);
    EXPECT_EQ(integerTypeLast(r.id), r.last);
    EXPECT_EQ(isSignedIntType(r.id), r.id % 2 == 1);
    EXPECT_EQ(kova_isSignedInteger(r.id), r.id % 2 == 1 && r.id != TypeDuration64);
  }
  EXPECT_EQ(precision(TypeTime), 64u);
  EXPECT_TRUE(isUnsignedIntType(TypeTime));
}

// Integers, and floats saturating at the tabled bounds.
TEST(KovaTyping, ConversionToInteger) {
  struct Row {
    uint64_t from, cell, to, result, flag;
  };
  const Row rows[] = {
      {TypeSInt8, bits<int8_t>(-1), TypeUInt32, 0xFFFFFFFF, kIcrNegativeToWiderUnsigned},
      {TypeSInt16, 0xDEAD0000FF80u, TypeUInt8, 0x80, kIcrNegativeToUnsigned},  // -128 + junk
      {TypeSInt16, bits<int16_t>(-128), TypeSInt8, 0x80, kIcrNarrowedInRange},
      {TypeSInt32, bits<int32_t>(INT32_MIN), TypeSInt8, 0x00, kIcrBelowMin},
      {TypeDuration64, bits<int64_t>(-5), TypeSInt64, bits<int64_t>(-5), kIcrSamePrecision},
      {TypeSInt8, 5, TypeUInt16, 5, kIcrNarrowedInRange},
      {TypeSInt64, kTop64 - 1, TypeSInt32, 0xFFFFFFFF, kIcrAboveMax},
      {TypeUInt16, 300, TypeSInt8, 0x2C, kIcrAboveMax},
      {TypeUInt8, 200, TypeSInt16, 200, kIcrWidened},
      {TypeUInt64, kTop64, TypeSInt64, kTop64, kIcrAboveMax},
      {TypeTime64, 1234, TypeUInt64, 1234, kIcrSamePrecision},
      {TypeTime, 7, TypeSInt8, 7, kIcrNarrowedInRange},
      {TypeBoolean, 1, TypeUInt8, 1, kIcrFromNonInteger},
      {TypeEnum, 0x1234567890u, TypeSInt32, 0x1234567890u, kIcrNotPrimType},
      {TypeF32, f32(4294967040.0f), TypeUInt32, 4294967040u, kIcrFromNonInteger},
      {TypeF32, f32(4294967296.0f), TypeUInt32, 0xFFFFFFFF, kIcrFromNonInteger},
      {TypeF64, f64(4294967296.0), TypeUInt32, 0xFFFFFFFF, kIcrFromNonInteger},
      {TypeF64, f64(2147483648.0), TypeSInt32, 0x7FFFFFFF, kIcrFromNonInteger},
      {TypeF64, f64(-1e30), TypeSInt32, 0x80000000, kIcrFromNonInteger},
      {TypeF64, f64(3.99), TypeSInt32, 3, kIcrFromNonInteger},
      {TypeF64, f64(-3.99), TypeSInt32, bits<int32_t>(-3), kIcrFromNonInteger},
      {TypeF64, f64(-128.5), TypeSInt8, 0x80, kIcrFromNonInteger},
      {TypeF64, f64(-1.0), TypeUInt32, 0, kIcrFromNonInteger},
      {TypeF64, f64(18446744073709549568.0), TypeUInt64, 0xFFFFFFFFFFFFF800u, kIcrFromNonInteger},
      {TypeF64, f64(18446744073709551616.0), TypeUInt64, kAllOnes, kIcrFromNonInteger},
      {TypeF32, f32(18446744073709551616.0f), TypeInt, kAllOnes, kIcrFromNonInteger},
      {TypeF64, f64(9223372036854774784.0), TypeSInt64, 0x7FFFFFFFFFFFFC00u, kIcrFromNonInteger},
      {TypeF64, f64(9223372036854775808.0), TypeSInt64, kTop64 - 1, kIcrFromNonInteger},
      {TypeF32, f32(9223372036854775808.0f), TypeSInt, kTop64 - 1, kIcrFromNonInteger},
      {TypeF64, f64(NAN), TypeSInt64, 0, kIcrFromNonInteger},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.from << " " << r.cell << " -> " << r.to);
    uint32_t flag = 0;
    EXPECT_EQ(primTypeToInteger(tv(r.from, r.cell), r.to, &flag), r.result);
    EXPECT_EQ(flag, r.flag);
  }
}

// Writes through a slot followed by guard bytes, which must stay untouched.
template <class T>
void expectStored(uint32_t (*convert)(TaggedValue, T*), T expected, uint32_t flag) {
  struct {
    T value;
    uint8_t guard[8];
  } slot;
  std::memset(&slot, 0xA5, sizeof slot);
  EXPECT_EQ(convert(tv(TypeSInt16, bits<int16_t>(-300)), &slot.value), flag);
  EXPECT_EQ(slot.value, expected);
  for (uint8_t byte : slot.guard) EXPECT_EQ(byte, 0xA5);
}

TEST(KovaTyping, WrappersStoreAtTargetWidth) {
  expectStored<uint8_t>(primTypeToUInt8, 0xD4, kIcrBelowMin);
  expectStored<int8_t>(primTypeToSInt8, -44, kIcrBelowMin);
  expectStored<uint16_t>(primTypeToUInt16, 0xFED4, kIcrNegativeToWiderUnsigned);
  expectStored<int16_t>(primTypeToSInt16, -300, kIcrSamePrecision);
  expectStored<uint32_t>(primTypeToUInt32, 0xFFFFFED4, kIcrNegativeToWiderUnsigned);
  expectStored<int32_t>(primTypeToSInt32, -300, kIcrWidened);
  expectStored<uint64_t>(primTypeToUInt64, 0xFFFFFFFFFFFFFED4u, kIcrNegativeToWiderUnsigned);
  expectStored<int64_t>(primTypeToSInt64, -300, kIcrWidened);
  expectStored<uint32_t>(primTypeToSize, 0xFFFFFED4, kIcrNegativeToWiderUnsigned);
}

TEST(KovaTyping, GuardedReadsAcceptAllowedOutcomes) {
  const TaggedValue minusFive = tv(TypeSInt8, bits<int8_t>(-5));
  EXPECT_EQ(TaggedValue_asUInt64(tv(TypeSInt64, kAllOnes), CONV_SAFE_2COMPL), kAllOnes);
  EXPECT_EQ(TaggedValue_asUInt8(tv(TypeUInt16, 300), CONV_ANY_INTEGER), 0x2C);
  EXPECT_EQ(TaggedValue_asSInt16(tv(TypeUInt16, 300), CONV_VALUE_KEPT), 300);
  EXPECT_EQ(TaggedValue_asSInt32(minusFive, CONV_WIDEN), -5);
  EXPECT_EQ(TaggedValue_asSInt8(minusFive, CONV_EXACT), -5);
  EXPECT_EQ(TaggedValue_asUInt16(minusFive, CONV_SAFE_2COMPL), 0xFFFB);
  EXPECT_EQ(TaggedValue_asSInt64(tv(TypeUInt64, kTop64), CONV_ANY_INTEGER), INT64_MIN);
  EXPECT_EQ(TaggedValue_asUInt32(tv(TypeF64, f64(70000.7)), CONV_ANY_PRIM), 70000u);

  // As bool, float32 and float64; the float32 result is the float64 one rounded.
  struct Row {
    uint64_t type, cell;
    bool asBool;
    double asF64;
  };
  const Row rows[] = {
      {TypeBoolean, 1, true, 1.0},
      {TypeBoolean, 0, false, 0.0},
      {TypeF32, f32(0.1f), true, static_cast<double>(0.1f)},
      {TypeF32, f32(-0.0f), false, -0.0},
      {TypeF64, f64(0.1), true, 0.1},
      {TypeSInt8, bits<int8_t>(-1), true, -1.0},
      {TypeUInt8, 0x100, false, 0.0},  // bits above uint8 are not part of it
      {TypeUInt64, kAllOnes, true, 18446744073709551616.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << kBuiltinTypeNames[r.type] << " 0x" << std::hex << r.cell);
    const TaggedValue v = tv(r.type, r.cell);
    EXPECT_EQ(TaggedValue_asBoolean(v, CONV_ANY_PRIM), r.asBool);
    EXPECT_EQ(TaggedValue_asF32(v, CONV_ANY_PRIM), static_cast<float>(r.asF64));
    EXPECT_EQ(TaggedValue_asF64(v, CONV_ANY_PRIM), r.asF64);
    EXPECT_EQ(std::signbit(TaggedValue_asF64(v, CONV_ANY_PRIM)), std::signbit(r.asF64));
  }
  EXPECT_TRUE(TaggedValue_asBoolean(tv(TypeBoolean, 1), CONV_EXACT));
  EXPECT_EQ(TaggedValue_asF32(tv(TypeF32, f32(2.5f)), CONV_EXACT), 2.5f);
  EXPECT_EQ(TaggedValue_asF64(tv(TypeF64, f64(1e300)), CONV_EXACT), 1e300);
}

TEST(KovaTypingDeathTest, MisuseStopsOnItsAssertion) {
  const TaggedValue m1 = tv(TypeSInt64, kAllOnes), en = tv(TypeEnum, 0), u8 = tv(TypeUInt8, 0);
  const TaggedValue null{nullptr, TypeUInt8, NO_ID};
  uint32_t flag = 0;
  // A sample per kind of misuse: a non-integer type, a null pointer, a
  // non-integer target, no allowed outcome, an outcome not allowed.
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[] { precision(TypeBoolean); }, "precision: .*`unknown precision'"},
      {[] { integerTypeLast(TypeTime); }, "integerTypeLast: .*`typeId <= TypeDuration64'"},
      {[&] { primTypeToInteger(null, TypeUInt8, &flag); },
       "primTypeToInteger: .*`from.value != \\(\\(void \\*\\)0\\)'"},
      {[&] { primTypeToInteger(u8, TypeBoolean, &flag); },
       "primTypeToInteger: .*`target type is supposed to be an integer type'"},
      {[&] { TaggedValue_asUInt8(u8, 0); }, "TaggedValue_asUInt8: .*`expectedConvRes != 0'"},
      {[&] { TaggedValue_asUInt64(m1, CONV_VALUE_KEPT); },
       "TaggedValue_asUInt64: .*`primTypeToUInt64\\(val, &res\\) & expectedConvRes'"},
      {[&] { TaggedValue_asSInt32(en, CONV_ANY_PRIM); },
       "TaggedValue_asSInt32: .*`primTypeToSInt32\\(val, &res\\) & expectedConvRes'"},
      {[&] { TaggedValue_asBoolean(m1, CONV_WIDEN); },
       "TaggedValue_asBoolean: .*`\\(expectedConvResult == \\(0x0001\\)\\) \\|\\| "
       "\\(expectedConvResult == \\(0x00FF\\)\\)'"},
      {[&] { TaggedValue_asF64(en, CONV_ANY_PRIM); },
       "TaggedValue_asF64: .*`isUnsignedIntType\\(val.typeId\\)'"},
  };
  for (const auto& [call, report] : rows)
    EXPECT_DEATH(call(), std::string("ASTLib/kova_typing\\.cpp:[0-9]+: ") + report);
}

TEST(KovaTyping, TypeLookupsAndText) {
  kova_test::ProgramBuilder b;
  const uint32_t color = b.enumType("Color", {"red", "green"});
  const std::unique_ptr<Program> program = b.build();
  const std::pair<TaggedValue, const char*> rows[] = {
      {tv(TypeBoolean, 1), "true"},
      {tv(TypeBoolean, 2), "false"},
      {tv(color, b.enumValue(color, "green")), "green"},
      {tv(color, 0), "NULL"},
      {tv(color, 0xFFFFFFF0u), "NULL"},  // read from outside: names no symbol
      {tv(TypeUInt8, 1), nullptr},
  };
  for (const auto& [value, text] : rows)
    EXPECT_STREQ(TaggedValue_toString(program.get(), value), text);
}

}  // namespace
