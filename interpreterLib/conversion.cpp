#include "interpreterLib/conversion.h"

#include "ASTLib/rAST.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_stack.h"

namespace {

// Diagnostics of conversions are for the developer's debug builds only; the
// interpreter's output never shows them.
void display_debug(const char*, ...) __attribute__((format(printf, 1, 2)));
void display_debug(const char*, ...) {}

// A name for the debug text that never trips the type table's own checks.
const char* typeName(const InterpEnv* env, uint32_t typeId) {
  const Program* program = env->program.get();
  if (typeId < program->infoProg->n_type) return Type_getName(program, typeId);
  return typeId < kBuiltinTypeCount ? kBuiltinTypeNames[typeId] : "<unknown>";
}

}  // namespace

TaggedValue expr_conversion(InterpEnv* env, uint32_t toTypeId, TaggedValue value) {
  ENV_CHECK(env, (toTypeId != TypeInt) && (toTypeId != TypeSInt),
            "(toTypeId != TypeInt) && (toTypeId != TypeSInt)");
  ValueCell* cell = interpStack_cell(env);
  const TaggedValue result{cell, toTypeId, NO_ID};

  uint32_t convRes = kIcrSamePrecision;
  switch (toTypeId) {
    case TypeUInt8: convRes = primTypeToUInt8(value, &cell->u8); break;
    case TypeSInt8: convRes = primTypeToSInt8(value, &cell->s8); break;
    case TypeUInt16: convRes = primTypeToUInt16(value, &cell->u16); break;
    case TypeSInt16: convRes = primTypeToSInt16(value, &cell->s16); break;
    case TypeUInt32: convRes = primTypeToUInt32(value, &cell->u32); break;
    case TypeSInt32: convRes = primTypeToSInt32(value, &cell->s32); break;
    case TypeUInt64:
    case TypeTime64: convRes = primTypeToUInt64(value, &cell->u64); break;
    case TypeSInt64:
    case TypeDuration64: convRes = primTypeToSInt64(value, &cell->s64); break;
    case TypeBoolean:
      cell->boolean = TaggedValue_asBoolean(value, CONV_ANY_PRIM) ? 1 : 0;
      return result;
    case TypeF32: cell->f32 = TaggedValue_asF32(value, CONV_ANY_PRIM); return result;
    case TypeF64: cell->f64 = TaggedValue_asF64(value, CONV_ANY_PRIM); return result;
    default:
      display_debug("Conversion from %s to %s\n", typeName(env, value.typeId),
                    typeName(env, toTypeId));
      interp_failure(env, "unsupported type conversion\n");
      return result;
  }

  switch (convRes) {
    case kIcrAboveMax:
      display_debug("Warning: integer type maximum value overflow occurred\n");
      cell->u64 = integerTypeLast(toTypeId);
      break;
    // A negative value has no unsigned counterpart: it saturates at 0, even
    // when its two's complement pattern would fit the target.
    case kIcrBelowMin:
    case kIcrNegativeToUnsigned:
    case kIcrNegativeToWiderUnsigned:
      display_debug("Warning: integer type minimum value overflow occurred\n");
      cell->u64 = integerTypeFirst(toTypeId);
      break;
    case kIcrNotPrimType:
      ENV_CHECK(env, false, "false && \"kIcrNotPrimType should not happen\"");
      break;
    default: break;  // the converted value stands
  }
  return result;
}
