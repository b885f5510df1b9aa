#include "ASTLib/kova_typing.h"

#include <cmath>
#include <cstddef>

#include "ASTLib/kova_assert.h"
#include "ASTLib/rAST.h"

// clang-format off
const char* const kBuiltinTypeNames[kBuiltinTypeCount] = {
    "Natural", "Signed_Integer", "uint8", "int8", "uint16", "int16",
    "uint32", "int32", "uint64", "int64", "time64", "duration64",
    "time", "bool", "Float", "float32", "float64", "Primitive",
    "Statement", "Named_Block", "State", "Iterator", "Type", "Structure",
    "Enumeration", "<void>", "Any", "<input/output>", "uint8[]", "Array",
    "<sized array>", "<unsized array>", "Channel", "<sized channel>", "<unsized channel>", "<base>",
};
// clang-format on

namespace {

ValueFaultHandler valueFaultHandler = nullptr;

// False after reporting a value the read cannot take.
bool valueHolds(bool holds, const char* text, const char* file, unsigned line,
                const char* function) {
  if (holds) [[likely]]
    return true;
  if (valueFaultHandler == nullptr) kova_assertFail(text, file, line, function);
  valueFaultHandler(text);
  return false;
}

}  // namespace

#define VALUE_CHECK(cond, text) valueHolds((cond), (text), __FILE__, __LINE__, __func__)

void kova_onValueFault(ValueFaultHandler handler) {
  valueFaultHandler = handler;
}

namespace {

constexpr size_t kIntTypeCount = TypeTime + 1;

// Signed types count their value bits without the sign.
constexpr uint32_t kPrecisionTable[kIntTypeCount] = {64, 63, 8,  7,  16, 15, 32,
                                                     31, 64, 63, 64, 63, 64};

constexpr uint64_t kMask8 = 0xFFu;
constexpr uint64_t kMask16 = 0xFFFFu;
constexpr uint64_t kMask32 = 0xFFFFFFFFu;
constexpr uint64_t kMask64 = 0xFFFFFFFFFFFFFFFFu;
constexpr uint64_t integerTypeMaskTable[kIntTypeCount] = {
    kMask64, kMask64, kMask8,  kMask8,  kMask16, kMask16, kMask32,
    kMask32, kMask64, kMask64, kMask64, kMask64, kMask64};

template <class F>
struct FloatRange {
  F min;
  F max;
};

// Each target's range rounded into the float format without exceeding it, so
// that every value inside the bounds converts without overflow.
constexpr FloatRange<float> kF32Extremums[] = {
    {0.0f, 18446742974197923840.0f},                    // Natural
    {-9223372036854775808.0f, 9223371487098961920.0f},  // Signed_Integer
    {0.0f, 255.0f},                                     // uint8
    {-128.0f, 127.0f},                                  // int8
    {0.0f, 65535.0f},                                   // uint16
    {-32768.0f, 32767.0f},                              // int16
    {0.0f, 4294967040.0f},                              // uint32
    {-2147483648.0f, 2147483520.0f},                    // int32
    {0.0f, 18446742974197923840.0f},                    // uint64
    {-9223372036854775808.0f, 9223371487098961920.0f},  // int64
    {0.0f, 18446742974197923840.0f},                    // time64
};

constexpr FloatRange<double> kF64Extremums[] = {
    {0.0, 18446744073709549568.0},                    // Natural
    {-9223372036854775808.0, 9223372036854774784.0},  // Signed_Integer
    {0.0, 255.0},                                     // uint8
    {-128.0, 127.0},                                  // int8
    {0.0, 65535.0},                                   // uint16
    {-32768.0, 32767.0},                              // int16
    {0.0, 4294967295.0},                              // uint32
    {-2147483648.0, 2147483647.0},                    // int32
    {0.0, 18446744073709549568.0},                    // uint64
    {-9223372036854775808.0, 9223372036854774784.0},  // int64
    {0.0, 18446744073709549568.0},                    // time64
};

template <class F>
uint64_t floatToInteger(F value, FloatRange<F> range, uint32_t intTypeId) {
  // Both bound tests are false for NaN; give it a defined result.
  if (std::isnan(value)) return 0;
  if (value > range.max) return integerTypeLast(intTypeId);
  if (value < range.min) return integerTypeFirst(intTypeId);
  // Inside the bounds the cast cannot overflow its 64-bit type.
  if (isUnsignedIntType(intTypeId)) return static_cast<uint64_t>(value);
  return static_cast<uint64_t>(static_cast<int64_t>(value)) & integerTypeMask(intTypeId);
}

}  // namespace

// ---------------------------------------------------------------- predicates and bounds

uint32_t precision(uint32_t typeId) {
  KOVA_ASSERT(typeId < kIntTypeCount, "unknown precision");
  return kPrecisionTable[typeId];
}

bool isUnsignedIntType(uint32_t intTypeId) {
  KOVA_ASSERT(isIntType(intTypeId), "isIntType(intTypeId)");
  return (intTypeId & 1u) == 0;
}

bool isSignedIntType(uint32_t intTypeId) {
  KOVA_ASSERT(isIntType(intTypeId), "isIntType(intTypeId)");
  return (intTypeId & 1u) != 0;
}

// Durations are signed in conversions, but the buffer code and the front end
// only treat the plain signed integers as such.
bool kova_isSignedInteger(uint32_t typeId) {
  return typeId == TypeSInt || typeId == TypeSInt8 || typeId == TypeSInt16 ||
         typeId == TypeSInt32 || typeId == TypeSInt64;
}

uint64_t integerTypeMask(uint32_t typeId) {
  return typeId < kIntTypeCount ? integerTypeMaskTable[typeId] : 0;
}

uint64_t integerTypeFirst(uint32_t typeId) {
  KOVA_ASSERT(typeId <= TypeDuration64, "typeId <= TypeDuration64");
  return isUnsignedIntType(typeId) ? 0 : (integerTypeMask(typeId) >> 1) + 1;
}

uint64_t integerTypeLast(uint32_t typeId) {
  KOVA_ASSERT(typeId <= TypeDuration64, "typeId <= TypeDuration64");
  const uint64_t mask = integerTypeMask(typeId);
  return isUnsignedIntType(typeId) ? mask : mask >> 1;
}

// ---------------------------------------------------------------- integer conversions

uint32_t convResFromIntType(uint32_t fromType, uint32_t toType) {
  const uint32_t fromPrecision = precision(fromType);
  const uint32_t toPrecision = precision(toType);
  if (fromPrecision == toPrecision) return kIcrSamePrecision;
  if (fromPrecision > toPrecision) return kIcrNarrowedInRange;
  if (isUnsignedIntType(fromType)) return kIcrWidened;
  // Signed precisions are odd, unsigned even: an even sum means a signed target.
  if ((fromPrecision + toPrecision) % 2 == 0) return kIcrWidened;
  return kIcrNarrowedInRange;
}

uint64_t fromUnsignedInt(uint64_t value, uint32_t fromType, uint32_t toType, uint32_t* convRes) {
  KOVA_ASSERT(convRes != nullptr, "convRes != ((void *)0)");
  const uint64_t v = value & integerTypeMask(fromType);
  *convRes = v <= integerTypeLast(toType) ? convResFromIntType(fromType, toType) : kIcrAboveMax;
  return v & integerTypeMask(toType);
}

uint64_t fromSignedInt(uint64_t value, uint32_t fromType, uint32_t toType, uint32_t* convRes) {
  KOVA_ASSERT(convRes != nullptr, "convRes != ((void *)0)");
  const uint64_t fromMask = integerTypeMask(fromType);
  const uint64_t toMask = integerTypeMask(toType);
  const uint64_t v = value & fromMask;
  if (v <= integerTypeLast(fromType)) {
    *convRes = v <= integerTypeLast(toType) ? convResFromIntType(fromType, toType) : kIcrAboveMax;
    return v & toMask;
  }
  const uint64_t magnitudeMinusOne = ~value & fromMask;
  if (isUnsignedIntType(toType)) {
    if (magnitudeMinusOne <= toMask >> 1) {
      *convRes = precision(fromType) < precision(toType) ? kIcrNegativeToWiderUnsigned
                                                         : kIcrNegativeToUnsigned;
    } else {
      *convRes = kIcrBelowMin;
    }
  } else {
    *convRes = magnitudeMinusOne <= integerTypeLast(toType) ? convResFromIntType(fromType, toType)
                                                            : kIcrBelowMin;
  }
  // Sign-extends into a wider target, truncates into a narrower one.
  return (toMask & ~fromMask) | (v & toMask);
}

uint64_t f32ToInteger(float value, uint32_t intTypeId) {
  const auto& extremums = kF32Extremums;
  KOVA_ASSERT(isIntType(intTypeId), "isIntType(intTypeId)");
  KOVA_ASSERT((sizeof(extremums) / sizeof(extremums[0])) > intTypeId,
              "(sizeof(extremums) / sizeof(extremums[0])) > intTypeId");
  return floatToInteger(value, extremums[intTypeId], intTypeId);
}

uint64_t f64ToInteger(double value, uint32_t intTypeId) {
  const auto& extremums = kF64Extremums;
  KOVA_ASSERT(isIntType(intTypeId), "isIntType(intTypeId)");
  KOVA_ASSERT((sizeof(extremums) / sizeof(extremums[0])) > intTypeId,
              "(sizeof(extremums) / sizeof(extremums[0])) > intTypeId");
  return floatToInteger(value, extremums[intTypeId], intTypeId);
}

uint64_t primTypeToInteger(TaggedValue from, uint32_t toType, uint32_t* convRes) {
  KOVA_ASSERT(convRes != nullptr, "convRes != ((void *)0)");
  if (!VALUE_CHECK(from.value != nullptr, "from.value != ((void *)0)")) {
    *convRes = kIcrNotPrimType;
    return 0;
  }
  KOVA_ASSERT(isIntType(toType), "target type is supposed to be an integer type");
  const uint32_t typeId = from.typeId;
  if (typeId <= TypeTime && (typeId & 1u) == 0) {
    return fromUnsignedInt(from.value->u64, typeId, toType, convRes);
  }
  if (typeId <= TypeDuration64) return fromSignedInt(from.value->u64, typeId, toType, convRes);
  switch (typeId) {
    case TypeBoolean: *convRes = kIcrFromNonInteger; return from.value->boolean;
    case TypeF32: *convRes = kIcrFromNonInteger; return f32ToInteger(from.value->f32, toType);
    case TypeF64: *convRes = kIcrFromNonInteger; return f64ToInteger(from.value->f64, toType);
    default:
      // Enumerations and the like: hand the raw cell on and let the caller judge.
      *convRes = kIcrNotPrimType;
      return from.value->u64;
  }
}

// Each stores only the target's width, so narrow destinations can be packed.
uint32_t primTypeToUInt8(TaggedValue from, uint8_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<uint8_t>(primTypeToInteger(from, TypeUInt8, &convRes));
  return convRes;
}

uint32_t primTypeToSInt8(TaggedValue from, int8_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<int8_t>(primTypeToInteger(from, TypeSInt8, &convRes));
  return convRes;
}

uint32_t primTypeToUInt16(TaggedValue from, uint16_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<uint16_t>(primTypeToInteger(from, TypeUInt16, &convRes));
  return convRes;
}

uint32_t primTypeToSInt16(TaggedValue from, int16_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<int16_t>(primTypeToInteger(from, TypeSInt16, &convRes));
  return convRes;
}

uint32_t primTypeToUInt32(TaggedValue from, uint32_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<uint32_t>(primTypeToInteger(from, TypeUInt32, &convRes));
  return convRes;
}

uint32_t primTypeToSInt32(TaggedValue from, int32_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<int32_t>(primTypeToInteger(from, TypeSInt32, &convRes));
  return convRes;
}

uint32_t primTypeToUInt64(TaggedValue from, uint64_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = primTypeToInteger(from, TypeUInt64, &convRes);
  return convRes;
}

uint32_t primTypeToSInt64(TaggedValue from, int64_t* to) {
  KOVA_ASSERT(to != nullptr, "to != ((void *)0)");
  uint32_t convRes = kIcrNotPrimType;
  *to = static_cast<int64_t>(primTypeToInteger(from, TypeSInt64, &convRes));
  return convRes;
}

// ---------------------------------------------------------------- guarded reads

uint8_t TaggedValue_asUInt8(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  uint8_t res = 0;
  if (!VALUE_CHECK(primTypeToUInt8(val, &res) & expectedConvRes,
                   "primTypeToUInt8(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

int8_t TaggedValue_asSInt8(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  int8_t res = 0;
  if (!VALUE_CHECK(primTypeToSInt8(val, &res) & expectedConvRes,
                   "primTypeToSInt8(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

uint16_t TaggedValue_asUInt16(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  uint16_t res = 0;
  if (!VALUE_CHECK(primTypeToUInt16(val, &res) & expectedConvRes,
                   "primTypeToUInt16(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

int16_t TaggedValue_asSInt16(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  int16_t res = 0;
  if (!VALUE_CHECK(primTypeToSInt16(val, &res) & expectedConvRes,
                   "primTypeToSInt16(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

uint32_t TaggedValue_asUInt32(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  uint32_t res = 0;
  if (!VALUE_CHECK(primTypeToUInt32(val, &res) & expectedConvRes,
                   "primTypeToUInt32(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

int32_t TaggedValue_asSInt32(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  int32_t res = 0;
  if (!VALUE_CHECK(primTypeToSInt32(val, &res) & expectedConvRes,
                   "primTypeToSInt32(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

uint64_t TaggedValue_asUInt64(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  uint64_t res = 0;
  if (!VALUE_CHECK(primTypeToUInt64(val, &res) & expectedConvRes,
                   "primTypeToUInt64(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

int64_t TaggedValue_asSInt64(TaggedValue val, uint32_t expectedConvRes) {
  KOVA_ASSERT(expectedConvRes != 0, "expectedConvRes != 0");
  int64_t res = 0;
  if (!VALUE_CHECK(primTypeToSInt64(val, &res) & expectedConvRes,
                   "primTypeToSInt64(val, &res) & expectedConvRes")) {
    return 0;
  }
  return res;
}

bool TaggedValue_asBoolean(TaggedValue val, uint32_t expectedConvResult) {
  KOVA_ASSERT((expectedConvResult == CONV_EXACT) || (expectedConvResult == CONV_ANY_PRIM),
              "(expectedConvResult == (0x0001)) || (expectedConvResult == (0x00FF))");
  if (val.typeId == TypeBoolean) return val.value->boolean != 0;
  if (!VALUE_CHECK(expectedConvResult != CONV_EXACT, "expectedConvResult != (0x0001)")) {
    return false;
  }
  if (val.typeId == TypeF32) return val.value->f32 != 0.0f;
  if (val.typeId == TypeF64) return val.value->f64 != 0.0;
  // Any integer, negative ones included, is true when non-zero.
  return TaggedValue_asUInt64(val, CONV_SAFE_2COMPL) != 0;
}

float TaggedValue_asF32(TaggedValue val, uint32_t expectedConvResult) {
  KOVA_ASSERT((expectedConvResult == CONV_EXACT) || (expectedConvResult == CONV_ANY_PRIM),
              "(expectedConvResult == (0x0001)) || (expectedConvResult == (0x00FF))");
  if (val.typeId == TypeF32) return val.value->f32;
  if (!VALUE_CHECK(expectedConvResult != CONV_EXACT, "expectedConvResult != (0x0001)")) return 0;
  if (val.typeId == TypeBoolean) return val.value->boolean != 0 ? 1.0f : 0.0f;
  if (val.typeId == TypeF64) return static_cast<float>(val.value->f64);
  const bool integer = isIntType(val.typeId);
  if (integer && isSignedIntType(val.typeId)) {
    return static_cast<float>(TaggedValue_asSInt64(val, CONV_WIDEN));
  }
  if (!VALUE_CHECK(integer && isUnsignedIntType(val.typeId), "isUnsignedIntType(val.typeId)")) {
    return 0;
  }
  return static_cast<float>(TaggedValue_asUInt64(val, CONV_WIDEN));
}

double TaggedValue_asF64(TaggedValue val, uint32_t expectedConvResult) {
  KOVA_ASSERT((expectedConvResult == CONV_EXACT) || (expectedConvResult == CONV_ANY_PRIM),
              "(expectedConvResult == (0x0001)) || (expectedConvResult == (0x00FF))");
  if (val.typeId == TypeF64) return val.value->f64;
  if (!VALUE_CHECK(expectedConvResult != CONV_EXACT, "expectedConvResult != (0x0001)")) return 0;
  if (val.typeId == TypeBoolean) return val.value->boolean != 0 ? 1.0 : 0.0;
  if (val.typeId == TypeF32) return static_cast<double>(val.value->f32);
  const bool integer = isIntType(val.typeId);
  if (integer && isSignedIntType(val.typeId)) {
    return static_cast<double>(TaggedValue_asSInt64(val, CONV_WIDEN));
  }
  if (!VALUE_CHECK(integer && isUnsignedIntType(val.typeId), "isUnsignedIntType(val.typeId)")) {
    return 0;
  }
  return static_cast<double>(TaggedValue_asUInt64(val, CONV_WIDEN));
}

// ---------------------------------------------------------------- type-table look-ups

uint32_t TaggedValue_getBaseType(const Program* program, TaggedValue val) {
  return program->typeTable[val.typeId].baseType;
}

const TypeRecord* TaggedValue_getType(const Program* program, TaggedValue val) {
  return &program->typeTable[val.typeId];
}

bool TaggedValue_isOfCollectionType(const Program* program, TaggedValue val) {
  return program->typeTable[val.typeId].bufferType != NONE_BUFFER;
}

const char* TaggedValue_toString(const Program* program, TaggedValue val) {
  switch (TaggedValue_getBaseType(program, val)) {
    case TypeBoolean: return val.value->boolean == 1 ? "true" : "false";
    case TypeEnum: {
      // An enumeration value is its literal's symbol id; 0 marks no literal.
      const char* name = Symbol_enumLiteralName(program, val.value->u32);
      return name == nullptr ? "NULL" : name;
    }
    default: return nullptr;
  }
}
