// Typed run-time values and the primitive conversions between them.
//
// All storage of the interpreter is made of 8-byte cells (`ValueCell`); a
// value is handed around as a `TaggedValue`: a pointer to its first cell, its
// type id and the id of the global variable it belongs to. A narrow value sits
// in the low-order bytes of its cell and whoever writes a fresh cell clears it
// first, so the upper bytes read as zero.
//
// The integer conversions never fail: they always produce a bit pattern and
// report, as one flag (`kIcr...`), what happened to the value. Callers test
// that flag against a mask of the outcomes they accept; the guarded reads
// (`TaggedValue_as...`) stop the process on an outcome the caller excluded.
#pragma once

#include <cstdint>

struct Program;
struct TypeRecord;

inline constexpr uint32_t NO_ID = 0xFFFFFFFFu;

// Built-in type ids: the first 36 rows of every program's type table.
enum BuiltinTypeId : uint32_t {
  TypeInt = 0,   // "Natural": integer literal
  TypeSInt = 1,  // "Signed_Integer": negated integer literal
  TypeUInt8 = 2,
  TypeSInt8 = 3,
  TypeUInt16 = 4,
  TypeSInt16 = 5,
  TypeUInt32 = 6,
  TypeSInt32 = 7,
  TypeUInt64 = 8,
  TypeSInt64 = 9,
  TypeTime64 = 10,
  TypeDuration64 = 11,
  TypeTime = 12,  // time literal
  TypeBoolean = 13,
  TypeFloat = 14,  // float literal
  TypeF32 = 15,
  TypeF64 = 16,
  TypePrimitive = 17,  // ids below are primitive
  TypeStatement = 18,
  TypeNamedBlock = 19,
  TypeState = 20,
  TypeIterator = 21,
  TypeType = 22,
  TypeStructure = 23,
  TypeEnum = 24,
  TypeVoid = 25,
  TypeAny = 26,
  TypeInputOutput = 27,
  TypeString = 28,
  TypeArray = 29,
  TypeSizedArray = 30,
  TypeUnsizedArray = 31,
  TypeChannel = 32,
  TypeSizedChannel = 33,
  TypeUnsizedChannel = 34,
  TypeBase = 35,
  kBuiltinTypeCount = 36,
};

// The names the built-in types carry in every program's type table.
extern const char* const kBuiltinTypeNames[kBuiltinTypeCount];

union ValueCell {
  uint8_t u8;
  int8_t s8;
  uint16_t u16;
  int16_t s16;
  uint32_t u32;
  int32_t s32;
  uint64_t u64;
  int64_t s64;
  uint8_t boolean;  // 0 or 1
  float f32;
  double f64;
  uint32_t index;  // buffer read/write positions
};
static_assert(sizeof(ValueCell) == 8);
// `ValueCell{}` sets only the first member (one byte); a cleared cell is this.
inline constexpr ValueCell kZeroCell{.u64 = 0};

struct TaggedValue {
  ValueCell* value;
  uint32_t typeId;
  uint32_t globalId;  // NO_ID unless `value` points into a global variable
};

// A value whose type a guarded read (TaggedValue_as*, primTypeToInteger)
// cannot take. The compiler never lets one through; a hostile program file
// can. With a handler installed (the interpreter installs one for the
// program it runs) the handler ends the run in order and, should it return,
// the read gives 0; without one it is an assertion failure.
using ValueFaultHandler = void (*)(const char* text);
void kova_onValueFault(ValueFaultHandler handler);

// What statements and calls without a result return.
inline constexpr TaggedValue kEmptyValue{nullptr, TypeVoid, NO_ID};

// Integer conversion result flags: exactly one is set by a conversion.
enum IntConvResult : uint32_t {
  kIcrSamePrecision = 0x001,
  kIcrWidened = 0x002,
  kIcrNegativeToWiderUnsigned = 0x004,
  kIcrNarrowedInRange = 0x008,
  kIcrNegativeToUnsigned = 0x010,
  kIcrAboveMax = 0x020,
  kIcrBelowMin = 0x040,
  kIcrFromNonInteger = 0x080,
  kIcrNotPrimType = 0x100,
};

// Masks of accepted outcomes.
inline constexpr uint32_t CONV_EXACT = 0x0001;        // already of that width
inline constexpr uint32_t CONV_WIDEN = 0x0003;        // same precision or widening
inline constexpr uint32_t CONV_VALUE_KEPT = 0x000B;   // value unchanged
inline constexpr uint32_t CONV_SAFE_2COMPL = 0x000F;  // unchanged or two's complement kept
inline constexpr uint32_t CONV_ANY_INTEGER = 0x007F;  // any integer outcome
inline constexpr uint32_t CONV_ANY_PRIM = 0x00FF;     // anything but a non-primitive source

// Type predicates and bounds.
uint32_t precision(uint32_t typeId);  // value bits; id >= 13 is "unknown precision"
inline bool isIntType(uint32_t typeId) {
  return typeId < 13;
}
bool isUnsignedIntType(uint32_t typeId);     // even id; requires an integer id
bool isSignedIntType(uint32_t typeId);       // odd id; requires an integer id
bool kova_isSignedInteger(uint32_t typeId);  // ids 1, 3, 5, 7, 9 only
uint64_t integerTypeMask(uint32_t typeId);   // 0 above id 12
uint64_t integerTypeFirst(uint32_t typeId);  // requires id <= TypeDuration64
uint64_t integerTypeLast(uint32_t typeId);   // requires id <= TypeDuration64

// Integer conversions (see the flag meanings above).
uint32_t convResFromIntType(uint32_t fromType, uint32_t toType);
uint64_t fromUnsignedInt(uint64_t value, uint32_t fromType, uint32_t toType, uint32_t* convRes);
uint64_t fromSignedInt(uint64_t value, uint32_t fromType, uint32_t toType, uint32_t* convRes);
uint64_t f32ToInteger(float value, uint32_t toType);   // target 0..10, saturating
uint64_t f64ToInteger(double value, uint32_t toType);  // target 0..10, saturating
uint64_t primTypeToInteger(TaggedValue from, uint32_t toType, uint32_t* convRes);

// Conversions written at the target width through `to`; they return the flag.
uint32_t primTypeToUInt8(TaggedValue from, uint8_t* to);
uint32_t primTypeToSInt8(TaggedValue from, int8_t* to);
uint32_t primTypeToUInt16(TaggedValue from, uint16_t* to);
uint32_t primTypeToSInt16(TaggedValue from, int16_t* to);
uint32_t primTypeToUInt32(TaggedValue from, uint32_t* to);
uint32_t primTypeToSInt32(TaggedValue from, int32_t* to);
uint32_t primTypeToUInt64(TaggedValue from, uint64_t* to);
uint32_t primTypeToSInt64(TaggedValue from, int64_t* to);
inline uint32_t primTypeToSize(TaggedValue from, uint32_t* to) {
  return primTypeToUInt32(from, to);
}

// Guarded reads: the conversion outcome must intersect `expectedConvRes`,
// otherwise the process stops on an assertion.
uint8_t TaggedValue_asUInt8(TaggedValue val, uint32_t expectedConvRes);
int8_t TaggedValue_asSInt8(TaggedValue val, uint32_t expectedConvRes);
uint16_t TaggedValue_asUInt16(TaggedValue val, uint32_t expectedConvRes);
int16_t TaggedValue_asSInt16(TaggedValue val, uint32_t expectedConvRes);
uint32_t TaggedValue_asUInt32(TaggedValue val, uint32_t expectedConvRes);
int32_t TaggedValue_asSInt32(TaggedValue val, uint32_t expectedConvRes);
uint64_t TaggedValue_asUInt64(TaggedValue val, uint32_t expectedConvRes);
int64_t TaggedValue_asSInt64(TaggedValue val, uint32_t expectedConvRes);
// `expected` is CONV_EXACT (the value must be of that very type) or
// CONV_ANY_PRIM (convert from any primitive).
bool TaggedValue_asBoolean(TaggedValue val, uint32_t expectedConvResult);
float TaggedValue_asF32(TaggedValue val, uint32_t expectedConvResult);
double TaggedValue_asF64(TaggedValue val, uint32_t expectedConvResult);

// Type-table look-ups on a value.
uint32_t TaggedValue_getBaseType(const Program* program, TaggedValue val);
const TypeRecord* TaggedValue_getType(const Program* program, TaggedValue val);
bool TaggedValue_isOfCollectionType(const Program* program, TaggedValue val);
// "true"/"false" for a boolean base type, the literal's name (or "NULL" for 0)
// for an enumeration base type, null otherwise.
const char* TaggedValue_toString(const Program* program, TaggedValue val);
