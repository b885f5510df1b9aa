#include "ASTLib/kova_typing.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <type_traits>

#include "ASTLib/memory.h"
#include "ASTLib/rAST.h"

namespace {

constexpr uint64_t kAllOnes = 0xFFFFFFFFFFFFFFFFu;
constexpr uint64_t kTop64 = 0x8000000000000000u;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The cell contents of an integer written at its own width into a cleared cell.
template <class T>
constexpr uint64_t bits(T v) {
  return static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(v));
}

ValueCell cellWithBits(uint64_t pattern) {
  ValueCell cell{};
  cell.u64 = pattern;
  return cell;
}

TEST(KovaTyping, IntegerTypeTable) {
  struct Row {
    uint32_t id;
    uint32_t precision;
    uint64_t mask;
    uint64_t first;
    uint64_t last;
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
    EXPECT_NE(isUnsignedIntType(r.id), isSignedIntType(r.id));
    EXPECT_EQ(kova_isSignedInteger(r.id), r.id % 2 == 1 && r.id != TypeDuration64);
  }
  EXPECT_EQ(precision(TypeTime), 64u);
  EXPECT_EQ(integerTypeMask(TypeTime), kAllOnes);
  EXPECT_TRUE(isUnsignedIntType(TypeTime));
  EXPECT_EQ(integerTypeMask(TypeBoolean), 0u);
  EXPECT_FALSE(kova_isSignedInteger(TypeBoolean));
  EXPECT_FALSE(isIntType(TypeBoolean));

  // Every row named, and no name given twice.
  std::set<std::string> names;
  for (const char* name : kBuiltinTypeNames) {
    ASSERT_NE(name, nullptr);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kBuiltinTypeCount));
  EXPECT_STREQ(kBuiltinTypeNames[TypeDuration64], "duration64");
  EXPECT_STREQ(kBuiltinTypeNames[TypeString], "uint8[]");
  EXPECT_STREQ(kBuiltinTypeNames[TypeBase], "<base>");
}

TEST(KovaTyping, ConversionToInteger) {
  struct Row {
    uint32_t from;
    uint64_t cell;
    uint32_t to;
    uint64_t result;
    uint32_t flag;
  };
  const Row rows[] = {
      {TypeSInt8, bits<int8_t>(-1), TypeUInt32, 0xFFFFFFFF, kIcrNegativeToWiderUnsigned},
      {TypeSInt32, bits<int32_t>(-1), TypeUInt32, 0xFFFFFFFF, kIcrNegativeToWiderUnsigned},
      {TypeSInt64, bits<int64_t>(-1), TypeUInt64, kAllOnes, kIcrNegativeToWiderUnsigned},
      {TypeSInt16, bits<int16_t>(-1), TypeUInt8, 0xFF, kIcrNegativeToUnsigned},
      {TypeSInt16, bits<int16_t>(-128), TypeUInt8, 0x80, kIcrNegativeToUnsigned},
      {TypeSInt16, bits<int16_t>(-129), TypeUInt8, 0x7F, kIcrBelowMin},
      {TypeSInt16, bits<int16_t>(-300), TypeUInt8, 0xD4, kIcrBelowMin},
      {TypeSInt16, bits<int16_t>(-128), TypeSInt8, 0x80, kIcrNarrowedInRange},
      {TypeSInt16, bits<int16_t>(-129), TypeSInt8, 0x7F, kIcrBelowMin},
      {TypeSInt32, bits<int32_t>(INT32_MIN), TypeSInt8, 0x00, kIcrBelowMin},
      {TypeSInt8, bits<int8_t>(-1), TypeSInt64, kAllOnes, kIcrWidened},
      {TypeSInt8, bits<int8_t>(-2), TypeSInt, kAllOnes - 1, kIcrWidened},
      {TypeDuration64, bits<int64_t>(-5), TypeSInt64, bits<int64_t>(-5), kIcrSamePrecision},
      {TypeSInt8, 5, TypeUInt16, 5, kIcrNarrowedInRange},
      {TypeSInt64, kTop64 - 1, TypeUInt64, kTop64 - 1, kIcrNarrowedInRange},
      {TypeSInt64, kTop64 - 1, TypeSInt32, 0xFFFFFFFF, kIcrAboveMax},
      {TypeUInt16, 300, TypeSInt8, 0x2C, kIcrAboveMax},
      {TypeUInt8, 200, TypeSInt16, 200, kIcrWidened},
      {TypeUInt32, 5, TypeSInt32, 5, kIcrNarrowedInRange},
      {TypeSInt32, 5, TypeSInt, 5, kIcrWidened},
      {TypeUInt8, 255, TypeSInt8, 0xFF, kIcrAboveMax},
      {TypeUInt64, kTop64, TypeSInt64, kTop64, kIcrAboveMax},
      {TypeUInt64, kAllOnes, TypeUInt8, 0xFF, kIcrAboveMax},
      {TypeTime64, 1234, TypeUInt64, 1234, kIcrSamePrecision},
      {TypeTime, 7, TypeSInt8, 7, kIcrNarrowedInRange},
      // Bytes above the source width do not take part.
      {TypeUInt32, 0xDEADBEEF00000005u, TypeUInt64, 5, kIcrWidened},
      {TypeSInt16, 0xFFFFFFFF0000FFFFu, TypeSInt32, 0xFFFFFFFF, kIcrWidened},
      {TypeSInt16, 0xFFFFFFFF00000001u, TypeUInt8, 1, kIcrNarrowedInRange},
      // Non-integer sources.
      {TypeBoolean, 1, TypeUInt8, 1, kIcrFromNonInteger},
      {TypeBoolean, 0, TypeSInt64, 0, kIcrFromNonInteger},
      {TypeEnum, 0x1234567890u, TypeSInt32, 0x1234567890u, kIcrNotPrimType},
      {TypeFloat, 0xABCDEF0123456789u, TypeUInt8, 0xABCDEF0123456789u, kIcrNotPrimType},
      {TypeString, 42, TypeUInt64, 42, kIcrNotPrimType},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(kBuiltinTypeNames[r.from]) + " " + std::to_string(r.cell) + " -> " +
                 kBuiltinTypeNames[r.to]);
    ValueCell cell = cellWithBits(r.cell);
    uint32_t flag = 0;
    EXPECT_EQ(primTypeToInteger({&cell, r.from, NO_ID}, r.to, &flag), r.result);
    EXPECT_EQ(flag, r.flag);
  }
}

TEST(KovaTyping, FloatToIntegerSaturatesAtTheTabledBounds) {
  struct Row {
    bool single;  // float32 source, else float64
    double value;
    uint32_t to;
    uint64_t result;
  };
  const Row rows[] = {
      {true, 4294967040.0, TypeUInt32, 4294967040u},
      {true, 4294967296.0, TypeUInt32, 0xFFFFFFFF},
      {false, 4294967295.0, TypeUInt32, 0xFFFFFFFF},
      {false, 4294967296.0, TypeUInt32, 0xFFFFFFFF},
      {true, 2147483520.0, TypeSInt32, 2147483520},
      {false, 2147483647.0, TypeSInt32, 0x7FFFFFFF},
      {false, 2147483648.0, TypeSInt32, 0x7FFFFFFF},
      {false, -2147483649.0, TypeSInt32, 0x80000000},
      {true, 2147483648.0, TypeSInt32, 0x7FFFFFFF},
      {false, 1e30, TypeSInt32, 0x7FFFFFFF},
      {false, -1e30, TypeSInt32, 0x80000000},
      {true, 1e30, TypeSInt32, 0x7FFFFFFF},
      {true, -1e30, TypeSInt32, 0x80000000},
      {false, 3.99, TypeSInt32, 3},
      {false, -3.99, TypeSInt32, bits<int32_t>(-3)},
      {true, -3.99, TypeSInt64, bits<int64_t>(-3)},
      {false, 127.9, TypeSInt8, 127},
      {false, 128.0, TypeSInt8, 127},
      {false, -127.9, TypeSInt8, bits<int8_t>(-127)},
      {false, -128.5, TypeSInt8, 0x80},
      {false, 255.9, TypeUInt8, 255},
      {false, -0.5, TypeUInt8, 0},
      {false, -1.0, TypeUInt32, 0},
      {false, 65535.0, TypeUInt16, 65535},
      {false, -32768.0, TypeSInt16, 0x8000},
      {false, 18446744073709549568.0, TypeUInt64, 0xFFFFFFFFFFFFF800u},
      {false, 18446744073709551616.0, TypeUInt64, kAllOnes},
      {true, 18446742974197923840.0, TypeTime64, 0xFFFFFF0000000000u},
      {true, 18446744073709551616.0, TypeInt, kAllOnes},
      {false, 9223372036854774784.0, TypeSInt64, 0x7FFFFFFFFFFFFC00u},
      {false, 9223372036854775808.0, TypeSInt64, kTop64 - 1},
      {true, 9223371487098961920.0, TypeSInt, 0x7FFFFF8000000000u},
      {true, 9223372036854775808.0, TypeSInt, kTop64 - 1},
      {false, -9223372036854775808.0, TypeSInt64, kTop64},
      {true, 1e10, TypeInt, 10000000000u},
      {false, kInf, TypeUInt64, kAllOnes},
      {false, -kInf, TypeSInt64, kTop64},
      {true, -kInf, TypeUInt8, 0},
      {false, kNaN, TypeSInt32, 0},
      {true, kNaN, TypeUInt64, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << (r.single ? "float32 " : "float64 ") << r.value << " -> "
                                    << kBuiltinTypeNames[r.to]);
    ValueCell cell{};
    if (r.single) {
      cell.f32 = static_cast<float>(r.value);
      EXPECT_EQ(f32ToInteger(cell.f32, r.to), r.result);
    } else {
      cell.f64 = r.value;
      EXPECT_EQ(f64ToInteger(cell.f64, r.to), r.result);
    }
    uint32_t flag = 0;
    EXPECT_EQ(primTypeToInteger({&cell, r.single ? TypeF32 : TypeF64, NO_ID}, r.to, &flag),
              r.result);
    EXPECT_EQ(flag, kIcrFromNonInteger);
  }
}

// Writes through a slot followed by guard bytes, which must stay untouched.
template <class T>
void expectStoredAtWidth(uint32_t (*convert)(TaggedValue, T*), TaggedValue from, T expected,
                         uint32_t expectedFlag) {
  struct Slot {
    T value;
    uint8_t guard[8];
  } slot;
  std::memset(&slot, 0xA5, sizeof slot);
  EXPECT_EQ(convert(from, &slot.value), expectedFlag);
  EXPECT_EQ(slot.value, expected);
  for (uint8_t byte : slot.guard) EXPECT_EQ(byte, 0xA5);
}

TEST(KovaTyping, WrappersStoreAtTargetWidth) {
  ValueCell cell = cellWithBits(bits<int16_t>(-300));
  const TaggedValue v{&cell, TypeSInt16, NO_ID};
  expectStoredAtWidth<uint8_t>(primTypeToUInt8, v, 0xD4, kIcrBelowMin);
  expectStoredAtWidth<int8_t>(primTypeToSInt8, v, -44, kIcrBelowMin);
  expectStoredAtWidth<uint16_t>(primTypeToUInt16, v, 0xFED4, kIcrNegativeToWiderUnsigned);
  expectStoredAtWidth<int16_t>(primTypeToSInt16, v, -300, kIcrSamePrecision);
  expectStoredAtWidth<uint32_t>(primTypeToUInt32, v, 0xFFFFFED4, kIcrNegativeToWiderUnsigned);
  expectStoredAtWidth<int32_t>(primTypeToSInt32, v, -300, kIcrWidened);
  expectStoredAtWidth<uint64_t>(primTypeToUInt64, v, 0xFFFFFFFFFFFFFED4u,
                                kIcrNegativeToWiderUnsigned);
  expectStoredAtWidth<int64_t>(primTypeToSInt64, v, -300, kIcrWidened);
  expectStoredAtWidth<uint32_t>(primTypeToSize, v, 0xFFFFFED4, kIcrNegativeToWiderUnsigned);
}

TEST(KovaTyping, GuardedReadsAcceptAllowedOutcomes) {
  ValueCell minusOne = cellWithBits(bits<int64_t>(-1));
  EXPECT_EQ(TaggedValue_asUInt64({&minusOne, TypeSInt64, NO_ID}, CONV_SAFE_2COMPL), kAllOnes);
  ValueCell u300 = cellWithBits(300);
  EXPECT_EQ(TaggedValue_asUInt8({&u300, TypeUInt16, NO_ID}, CONV_ANY_INTEGER), 0x2C);
  EXPECT_EQ(TaggedValue_asSInt16({&u300, TypeUInt16, NO_ID}, CONV_VALUE_KEPT), 300);
  ValueCell minusFive = cellWithBits(bits<int8_t>(-5));
  EXPECT_EQ(TaggedValue_asSInt32({&minusFive, TypeSInt8, NO_ID}, CONV_WIDEN), -5);
  EXPECT_EQ(TaggedValue_asSInt8({&minusFive, TypeSInt8, NO_ID}, CONV_EXACT), -5);
  EXPECT_EQ(TaggedValue_asUInt16({&minusFive, TypeSInt8, NO_ID}, CONV_SAFE_2COMPL), 0xFFFB);
  ValueCell top = cellWithBits(kTop64);
  EXPECT_EQ(TaggedValue_asSInt64({&top, TypeUInt64, NO_ID}, CONV_ANY_INTEGER), INT64_MIN);
  ValueCell f = {};
  f.f64 = 70000.7;
  EXPECT_EQ(TaggedValue_asUInt32({&f, TypeF64, NO_ID}, CONV_ANY_PRIM), 70000u);
}

TEST(KovaTyping, BooleanAndFloatReads) {
  struct Row {
    uint32_t type;
    uint64_t cell;
    bool asBool;
    float asF32;
    double asF64;
  };
  const Row rows[] = {
      {TypeBoolean, 1, true, 1.0f, 1.0},
      {TypeBoolean, 0, false, 0.0f, 0.0},
      {TypeF32, std::bit_cast<uint32_t>(0.1f), true, 0.1f, static_cast<double>(0.1f)},
      {TypeF32, std::bit_cast<uint32_t>(-0.0f), false, -0.0f, -0.0},
      {TypeF64, std::bit_cast<uint64_t>(0.1), true, 0.1f, 0.1},
      {TypeF64, std::bit_cast<uint64_t>(0.0), false, 0.0f, 0.0},
      {TypeSInt8, 0, false, 0.0f, 0.0},
      {TypeSInt8, bits<int8_t>(-1), true, -1.0f, -1.0},
      {TypeSInt64, bits<int64_t>(INT64_MIN), true, -9223372036854775808.0f, -9223372036854775808.0},
      {TypeDuration64, bits<int64_t>(-3), true, -3.0f, -3.0},
      {TypeUInt8, 0x100, false, 0.0f, 0.0},  // bits above uint8 are not part of it
      {TypeUInt32, 16777217, true, 16777216.0f, 16777217.0},
      {TypeUInt64, kAllOnes, true, 18446744073709551616.0f, 18446744073709551616.0},
      {TypeInt, (1ull << 53) + 1, true, 9007199254740992.0f, 9007199254740992.0},
      {TypeTime, 5, true, 5.0f, 5.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << kBuiltinTypeNames[r.type] << " 0x" << std::hex << r.cell);
    ValueCell cell = cellWithBits(r.cell);
    const TaggedValue v{&cell, r.type, NO_ID};
    EXPECT_EQ(TaggedValue_asBoolean(v, CONV_ANY_PRIM), r.asBool);
    EXPECT_EQ(TaggedValue_asF32(v, CONV_ANY_PRIM), r.asF32);
    EXPECT_EQ(TaggedValue_asF64(v, CONV_ANY_PRIM), r.asF64);
    EXPECT_EQ(std::signbit(TaggedValue_asF64(v, CONV_ANY_PRIM)), std::signbit(r.asF64));
  }
  ValueCell one = cellWithBits(1);
  EXPECT_TRUE(TaggedValue_asBoolean({&one, TypeBoolean, NO_ID}, CONV_EXACT));
  ValueCell f{};
  f.f32 = 2.5f;
  EXPECT_EQ(TaggedValue_asF32({&f, TypeF32, NO_ID}, CONV_EXACT), 2.5f);
  f.f64 = 1e300;
  EXPECT_EQ(TaggedValue_asF64({&f, TypeF64, NO_ID}, CONV_EXACT), 1e300);
  EXPECT_TRUE(std::isinf(TaggedValue_asF32({&f, TypeF64, NO_ID}, CONV_ANY_PRIM)));
}

TEST(KovaTypingDeathTest, MisuseStopsOnItsAssertion) {
  ValueCell cell = cellWithBits(bits<int64_t>(-1));
  const TaggedValue minusOne{&cell, TypeSInt64, NO_ID};
  const TaggedValue asEnum{&cell, TypeEnum, NO_ID};
  const TaggedValue asU8{&cell, TypeUInt8, NO_ID};
  const TaggedValue nullValue{nullptr, TypeUInt8, NO_ID};
  uint32_t flag = 0;
  struct Row {
    const char* what;
    std::function<void()> call;
    const char* report;  // function name and assertion text
  };
  const Row rows[] = {
      {"precision of bool", [] { precision(TypeBoolean); }, "precision: .*`unknown precision'"},
      {"parity of bool", [] { isSignedIntType(TypeBoolean); },
       "isSignedIntType: .*`isIntType\\(intTypeId\\)'"},
      {"bounds of time", [] { integerTypeLast(TypeTime); },
       "integerTypeLast: .*`typeId <= TypeDuration64'"},
      {"no flag out", [] { fromSignedInt(1, TypeSInt8, TypeSInt16, nullptr); },
       "fromSignedInt: .*`convRes != \\(\\(void \\*\\)0\\)'"},
      {"no source", [&] { primTypeToInteger(nullValue, TypeUInt8, &flag); },
       "primTypeToInteger: .*`from.value != \\(\\(void \\*\\)0\\)'"},
      {"no target", [&] { primTypeToSInt32(minusOne, nullptr); },
       "primTypeToSInt32: .*`to != \\(\\(void \\*\\)0\\)'"},
      {"float to duration", [] { f64ToInteger(1.0, TypeDuration64); },
       "f64ToInteger: .*`\\(sizeof\\(extremums\\) / sizeof\\(extremums\\[0\\]\\)\\) > intTypeId'"},
      {"float to time", [] { f32ToInteger(1.0f, TypeTime); },
       "f32ToInteger: .*`\\(sizeof\\(extremums\\) / sizeof\\(extremums\\[0\\]\\)\\) > intTypeId'"},
      {"non-integer target", [&] { primTypeToInteger(asU8, TypeBoolean, &flag); },
       "primTypeToInteger: .*`target type is supposed to be an integer type'"},
      {"empty mask", [&] { TaggedValue_asUInt8(asU8, 0); },
       "TaggedValue_asUInt8: .*`expectedConvRes != 0'"},
      {"negative read as uint64 keeping the value",
       [&] { TaggedValue_asUInt64(minusOne, CONV_VALUE_KEPT); },
       "TaggedValue_asUInt64: .*`primTypeToUInt64\\(val, &res\\) & expectedConvRes'"},
      {"int64 narrowed to uint8", [&] { TaggedValue_asUInt8(minusOne, CONV_SAFE_2COMPL); },
       "TaggedValue_asUInt8: .*`primTypeToUInt8\\(val, &res\\) & expectedConvRes'"},
      {"enum read as int32", [&] { TaggedValue_asSInt32(asEnum, CONV_ANY_PRIM); },
       "TaggedValue_asSInt32: .*`primTypeToSInt32\\(val, &res\\) & expectedConvRes'"},
      {"int64 read exactly as int16", [&] { TaggedValue_asSInt16(minusOne, CONV_EXACT); },
       "TaggedValue_asSInt16: .*`primTypeToSInt16\\(val, &res\\) & expectedConvRes'"},
      {"bad boolean mask", [&] { TaggedValue_asBoolean(minusOne, CONV_WIDEN); },
       "TaggedValue_asBoolean: .*`\\(expectedConvResult == \\(0x0001\\)\\) \\|\\| "
       "\\(expectedConvResult == \\(0x00FF\\)\\)'"},
      {"integer read exactly as float32", [&] { TaggedValue_asF32(asU8, CONV_EXACT); },
       "TaggedValue_asF32: .*`expectedConvResult != \\(0x0001\\)'"},
      {"enum read as float64", [&] { TaggedValue_asF64(asEnum, CONV_ANY_PRIM); },
       "TaggedValue_asF64: .*`isUnsignedIntType\\(val.typeId\\)'"},
      {"enum read as bool", [&] { TaggedValue_asBoolean(asEnum, CONV_ANY_PRIM); },
       "TaggedValue_asUInt64: .*`primTypeToUInt64\\(val, &res\\) & expectedConvRes'"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_DEATH(r.call(), std::string("ASTLib/kova_typing\\.cpp:[0-9]+: ") + r.report);
  }
}

// Built-in rows whose base is themselves, then user types from id 36.
class TypeLookupTest : public testing::Test {
 protected:
  enum : uint32_t { kColor = kBuiltinTypeCount, kByteArray, kBoolQueue, kTypeCount };

  void SetUp() override {
    program_ = Program_create();
    program_->typeTable = MEM_ALLOC(TypeRecord, kTypeCount, "typeTable");
    for (uint32_t id = 0; id < kBuiltinTypeCount; ++id) program_->typeTable[id] = {id, 0, 1, 0, 0};
    program_->typeTable[TypeString] = {TypeUInt8, kUnsizedBuffer, 1, STRING_BUFFER, NO_ID};
    program_->typeTable[kColor] = {TypeEnum, 0, 1, NONE_BUFFER, NO_ID};
    program_->typeTable[kByteArray] = {TypeUInt8, 4, 4, ARRAY_BUFFER, NO_ID};
    program_->typeTable[kBoolQueue] = {TypeBoolean, 3, 5, QUEUE_BUFFER, NO_ID};
    program_->infoProg->n_type = kTypeCount;

    static constexpr char kSymbols[] = "\0red\0green";
    const uint32_t offsets[] = {0, 1, 5};
    program_->dbg->symbolTable = MEM_ALLOC(char, sizeof kSymbols, "symbolTable");
    std::memcpy(program_->dbg->symbolTable.get(), kSymbols, sizeof kSymbols);
    program_->dbg->symbolTableIndex = MEM_ALLOC(uint32_t, 3, "symbolTableIndex");
    std::memcpy(program_->dbg->symbolTableIndex.get(), offsets, sizeof offsets);
    program_->infoProg->n_symbols = 3;
    program_->infoProg->symbolStorageSize = sizeof kSymbols;
  }

  std::unique_ptr<Program> program_;
};

TEST_F(TypeLookupTest, BaseTypeRowAndCollection) {
  ValueCell cell{};
  const TaggedValue str{&cell, TypeString, NO_ID};
  EXPECT_EQ(TaggedValue_getBaseType(program_.get(), str), TypeUInt8);
  EXPECT_EQ(TaggedValue_getBaseType(program_.get(), {&cell, kColor, NO_ID}), TypeEnum);
  EXPECT_EQ(TaggedValue_getType(program_.get(), {&cell, kBoolQueue, NO_ID}),
            &program_->typeTable[kBoolQueue]);
  EXPECT_TRUE(TaggedValue_isOfCollectionType(program_.get(), str));
  EXPECT_TRUE(TaggedValue_isOfCollectionType(program_.get(), {&cell, kByteArray, NO_ID}));
  EXPECT_TRUE(TaggedValue_isOfCollectionType(program_.get(), {&cell, kBoolQueue, NO_ID}));
  EXPECT_FALSE(TaggedValue_isOfCollectionType(program_.get(), {&cell, kColor, NO_ID}));
  EXPECT_FALSE(TaggedValue_isOfCollectionType(program_.get(), {&cell, TypeUInt32, NO_ID}));
}

TEST_F(TypeLookupTest, ToString) {
  struct Row {
    uint32_t type;
    uint64_t cell;
    const char* text;  // null: no text
  };
  const Row rows[] = {
      {TypeBoolean, 1, "true"}, {TypeBoolean, 0, "false"}, {TypeBoolean, 2, "false"},
      {kColor, 1, "red"},       {kColor, 2, "green"},      {kColor, 0, "NULL"},
      {TypeUInt8, 1, nullptr},  {TypeF64, 0, nullptr},     {TypeString, 0, nullptr},
  };
  for (const Row& r : rows) {
    ValueCell cell = cellWithBits(r.cell);
    const char* text = TaggedValue_toString(program_.get(), {&cell, r.type, NO_ID});
    if (r.text == nullptr) {
      EXPECT_EQ(text, nullptr) << r.type;
    } else {
      EXPECT_STREQ(text, r.text) << r.type;
    }
  }
}

}  // namespace
