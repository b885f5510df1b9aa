#include "parserLib/def_type.h"

#include <cmath>
#include <cstdlib>

#include "parserLib/diagnostics.h"

namespace {

// ---------------------------------------------------------------- safe access
//
// Typing runs on whatever the console's grammar built, so every id read from
// a node is checked before it is followed: an absent or out-of-range child is
// no node, an out-of-range type id is no type.

uint32_t typeCount(const Program* program) {
  return program != nullptr && program->infoProg ? program->infoProg->n_type : 0;
}

const TypeRecord* typeRecord(const Program* program, uint32_t t) {
  return t < typeCount(program) ? &program->typeTable[t] : nullptr;
}

uint32_t validType(const Program* program, uint32_t t) {
  return t < typeCount(program) ? t : NO_ID;
}

AST_Node* childNode(const Program* program, uint32_t id) {
  if (id == NO_ID || id >= program->infoProg->n_AST) return nullptr;
  return AST_fromId(program, id);
}

const char* typeName(const Program* program, uint32_t t) {
  if (t < typeCount(program) && program->dbg &&
      program->dbg->typeSymbolId[t] < program->infoProg->n_symbols)
    return Type_getName(program, t);
  if (t < kBuiltinTypeCount) return kBuiltinTypeNames[t];
  return "?";
}

bool isSizedFloat(uint32_t t) {
  return t == TypeF32 || t == TypeF64;
}

// Kinds 2, 3 and 5 (queue, stack and the abstract `channel` of parameters and
// strings) are the channels the language can name.
bool isChannelKind(uint32_t kind) {
  return kind == QUEUE_BUFFER || kind == STACK_BUFFER || kind == STRING_BUFFER;
}

bool isUnsized(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  return r != nullptr && r->size == kUnsizedBuffer;
}

uint32_t elementType(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  return r != nullptr ? validType(program, r->baseType) : NO_ID;
}

bool isStructure(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  return r != nullptr && t != TypeStructure && r->baseType == TypeStructure &&
         r->bufferType == NONE_BUFFER;
}

// An iterator type is recognised by its shape: not a buffer itself, but based
// on a buffer type (the buffer it walks).
bool isIteratorType(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  if (r == nullptr || r->bufferType != NONE_BUFFER || r->baseType == t) return false;
  return defType_bufferKind(program, r->baseType) != NONE_BUFFER;
}

bool isComparison(uint32_t op) {
  return op == CEQ_OP || op == CNE_OP || op == CGE_OP || op == CLE_OP || op == GT_OP || op == LT_OP;
}

bool isArithmetic(uint32_t op) {
  return op == PLUS_OP || op == MINUS_OP || op == MULT_OP || op == DIV_OP || op == MODULO_OP;
}

bool isTimeOrLiteral(uint32_t t) {
  return t == TypeTime64 || t == TypeTime;
}
bool isDurationOrLiteral(uint32_t t) {
  return t == TypeDuration64 || t == TypeTime;
}

bool compatibleWith(uint32_t t, uint32_t integer) {
  return defType_resultantIntegerType(t, integer) != NO_ID;
}

// Arithmetic on times: a point in time scales by unsigned counts, a duration
// by signed ones, and the ratio of two times is a plain count.
uint32_t resultantTimeArithmetic(uint32_t op, uint32_t a, uint32_t b) {
  if (op == DIV_OP && isTimeOrLiteral(a) && isTimeOrLiteral(b)) return TypeUInt64;
  if (op == DIV_OP && isDurationOrLiteral(a) && isDurationOrLiteral(b)) return TypeSInt64;
  if (isTimeOrLiteral(a) && compatibleWith(b, TypeUInt64)) return a;
  if (isDurationOrLiteral(a) && compatibleWith(b, TypeSInt64)) return TypeDuration64;
  if (op == MULT_OP) {
    if (compatibleWith(a, TypeUInt64) && isTimeOrLiteral(b)) return b;
    if (compatibleWith(a, TypeSInt64) && isDurationOrLiteral(b)) return TypeDuration64;
  }
  return NO_ID;
}

void reportUntypedFloat(ParserEnv* penv) {
  const Program* p = penv->program;
  diag::untyped_float_literal(penv, typeName(p, TypeF32), typeName(p, TypeF64));
}

// ---------------------------------------------------------------- float literals

// Rewrites the Float literals below `e`; true when one was found, so that the
// operations on the way up take the fixed type too.
bool rewriteFloat(ParserEnv* penv, AST_Node* e, uint32_t floatType) {
  if (e == nullptr) return false;
  const Program* program = penv->program;
  switch (e->op) {
    case FLOAT_OP: {
      const AST_Node* index = childNode(program, e->left);
      if (index == nullptr || index->op != INDEX_NODE) return false;
      const uint32_t k = index->value.id.index;
      if (k >= penv->pctx.numerics.size()) return false;
      const char* text = penv->pctx.numerics[k].c_str();
      NodeValue value{};
      bool overflow;
      if (floatType == TypeF32) {
        value.f32 = std::strtof(text, nullptr);
        overflow = std::isinf(value.f32);
        e->op = FLOAT32_OP;
      } else {
        value.f64 = std::strtod(text, nullptr);
        overflow = std::isinf(value.f64);
        e->op = FLOAT64_OP;
      }
      e->value = value;
      if (overflow) diag::float_literal_range(penv, text, typeName(program, floatType));
      return true;
    }
    case NEG_OP: {
      if (!rewriteFloat(penv, childNode(program, e->left), floatType)) return false;
      e->value.id.type = floatType;
      penv->pctx.typeCache.erase(
          static_cast<uint32_t>((reinterpret_cast<uintptr_t>(e) -
                                 reinterpret_cast<uintptr_t>(program->RAMprogram.get())) /
                                sizeof(AST_Node)));
      return true;
    }
    case PLUS_OP:
    case MINUS_OP:
    case MULT_OP:
    case DIV_OP:
    case MODULO_OP: {
      const bool left = rewriteFloat(penv, childNode(program, e->left), floatType);
      const bool right = rewriteFloat(penv, childNode(program, e->right), floatType);
      if (!left && !right) return false;
      e->value.id.type = floatType;
      penv->pctx.typeCache.erase(
          static_cast<uint32_t>((reinterpret_cast<uintptr_t>(e) -
                                 reinterpret_cast<uintptr_t>(program->RAMprogram.get())) /
                                sizeof(AST_Node)));
      return true;
    }
    case LIST:
      // A braced single value: {1.5}.
      if (childNode(program, e->right) != nullptr) return false;
      return rewriteFloat(penv, childNode(program, e->left), floatType);
    default: return false;
  }
}

// ---------------------------------------------------------------- evaluation

uint32_t evaluateBinary(ParserEnv* penv, AST_Node* e) {
  const Program* p = penv->program;
  const uint32_t op = e->op;
  AST_Node* left = childNode(p, e->left);
  AST_Node* right = childNode(p, e->right);
  uint32_t lt = defType_evaluate(penv, left);
  if (lt == NO_ID) return NO_ID;
  uint32_t rt = defType_evaluate(penv, right);
  if (rt == NO_ID) return NO_ID;

  if (isComparison(op) || isArithmetic(op)) {
    if (lt == TypeFloat && rt == TypeFloat && isComparison(op)) {
      // The result is a bool: nothing outside can fix the literals' type.
      reportUntypedFloat(penv);
      return NO_ID;
    }
    if (lt == TypeFloat && isSizedFloat(rt)) {
      defExpr_evalAsFloat(penv, left, rt);
      lt = rt;
    } else if (rt == TypeFloat && isSizedFloat(lt)) {
      defExpr_evalAsFloat(penv, right, lt);
      rt = lt;
    }
  }

  const uint32_t r = defType_resultantType(op, lt, rt);
  const char* ln = typeName(p, lt);
  const char* rn = typeName(p, rt);
  switch (op) {
    case AND_OP:
    case OR_OP:
      if (r == TypeBoolean) return TypeBoolean;
      diag::logical_operands_not_bool(penv, typeName(p, TypeBoolean), ln, rn);
      return NO_ID;
    case BIT_AND_OP:
    case BIT_OR_OP:
    case BIT_XOR_OP:
      if (defType_isInteger(r)) return r;
      diag::bitwise_operands(penv, ln, rn);
      return NO_ID;
    case SHIFT_LEFT_OP:
    case SHIFT_RIGHT_OP:
      if (defType_isInteger(lt) && defType_couldBeUnsigned(rt)) return lt;
      diag::shift_operands(penv, ln, rn);
      return NO_ID;
    case CEQ_OP:
    case CNE_OP:
      if (defType_isInteger(r) || r == TypeBoolean || defType_isEnum(p, r) || defType_isTime(r))
        return TypeBoolean;
      diag::equality_operands(penv, typeName(p, TypeTime64), typeName(p, TypeDuration64),
                              typeName(p, TypeBoolean), ln, rn);
      return NO_ID;
    case CGE_OP:
    case CLE_OP:
    case GT_OP:
    case LT_OP:
      if (defType_isQuantity(r)) return TypeBoolean;
      diag::comparison_operands(penv, typeName(p, TypeF32), typeName(p, TypeF64),
                                typeName(p, TypeTime), ln, rn);
      return NO_ID;
    case DIV_OP:
    case MULT_OP:
      if (defType_isQuantity(r)) return r;
      if (!defType_isTime(lt) && !defType_isTime(rt)) {
        diag::multiplication_operands(penv, typeName(p, TypeF32), typeName(p, TypeF64), ln, rn);
      } else if (op == DIV_OP) {
        const char* t64 = typeName(p, TypeTime64);
        const char* u64 = typeName(p, TypeUInt64);
        diag::time_division(penv, t64, t64, u64, t64, t64, t64, u64);
      } else {
        diag::time_multiplication(penv, typeName(p, TypeTime), typeName(p, TypeUInt64));
      }
      return NO_ID;
    case MINUS_OP:
    case PLUS_OP:
      if (defType_isQuantity(r)) return r;
      diag::addition_operands(penv, typeName(p, TypeF32), typeName(p, TypeF64),
                              typeName(p, TypeTime64), typeName(p, TypeDuration64), ln, rn);
      return NO_ID;
    case MODULO_OP:
      if (defType_isExactQuantity(r)) return r;
      diag::modulo_operands(penv, typeName(p, TypeTime64), ln, rn);
      return NO_ID;
    default: return NO_ID;
  }
}

uint32_t evaluateUnary(ParserEnv* penv, AST_Node* e) {
  const Program* p = penv->program;
  const uint32_t t = defType_evaluate(penv, childNode(p, e->left));
  if (t == NO_ID) return NO_ID;
  switch (e->op) {
    case BIT_NOT_OP: {
      const uint32_t r = defType_resultantIntegerType(t, TypeInt);
      if (r != NO_ID) return r;
      diag::bitwise_operand(penv, typeName(p, t));
      return NO_ID;
    }
    case NEG_OP: {
      const uint32_t r = defExpr_canBeItsOpposite(t);
      if (r != NO_ID) return r;
      diag::negation_operand(penv, typeName(p, t), typeName(p, TypeF32), typeName(p, TypeF64));
      return NO_ID;
    }
    case NOT_OP:
      if (t == TypeBoolean) return TypeBoolean;
      diag::negation_operand_not_bool(penv, typeName(p, TypeBoolean), typeName(p, t));
      return NO_ID;
    default: return NO_ID;
  }
}

uint32_t evaluateArrayElement(ParserEnv* penv, AST_Node* e) {
  const Program* p = penv->program;
  const uint32_t buffer = defType_evaluate(penv, childNode(p, e->left));
  if (buffer == NO_ID) return NO_ID;
  if (defType_bufferKind(p, buffer) == ARRAY_BUFFER) return elementType(p, buffer);
  return buffer;
}

}  // namespace

// ---------------------------------------------------------------- type classes

bool defType_isInteger(uint32_t t) {
  return t <= TypeSInt64;
}
bool defType_isUnsignedInteger(uint32_t t) {
  return t >= TypeUInt8 && t <= TypeSInt64 && t % 2 == 0;
}
bool defType_isSignedInteger(uint32_t t) {
  return t >= TypeSInt && t <= TypeSInt64 && t % 2 == 1;
}
bool defType_couldBeUnsigned(uint32_t t) {
  return t == TypeInt || defType_isUnsignedInteger(t);
}
bool defType_couldBeSigned(uint32_t t) {
  return t == TypeInt || defType_isSignedInteger(t);
}
bool defType_isTime(uint32_t t) {
  return t >= TypeTime64 && t <= TypeTime;
}
bool defType_isFloat(uint32_t t) {
  return t >= TypeFloat && t <= TypeF64;
}
bool defType_isNumerical(uint32_t t) {
  return defType_isInteger(t) || defType_isFloat(t);
}
bool defType_isQuantity(uint32_t t) {
  return defType_isNumerical(t) || defType_isTime(t);
}
bool defType_isExactQuantity(uint32_t t) {
  return defType_isInteger(t) || defType_isTime(t);
}
bool defType_isPrimitive(uint32_t t) {
  return t < TypePrimitive;
}

// Only declared enumerations: the built-in bound `Enumeration` has no values.
bool defType_isEnum(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  return r != nullptr && t >= kBuiltinTypeCount && r->baseType == TypeEnum &&
         r->bufferType == NONE_BUFFER;
}

uint32_t defType_bufferKind(const Program* program, uint32_t t) {
  const TypeRecord* r = typeRecord(program, t);
  return r != nullptr ? r->bufferType : NONE_BUFFER;
}

// ---------------------------------------------------------------- resultant types

uint32_t defType_resultantIntegerType(uint32_t a, uint32_t b) {
  if (!defType_isInteger(a) || !defType_isInteger(b)) return NO_ID;
  if ((defType_isUnsignedInteger(a) && defType_isSignedInteger(b)) ||
      (defType_isSignedInteger(a) && defType_isUnsignedInteger(b)))
    return NO_ID;
  if (a == b) return a;
  if (a == TypeInt) return b;
  if (b == TypeInt) return a;
  if (defType_couldBeSigned(a) && b == TypeSInt) return a;
  if (a == TypeSInt && defType_couldBeSigned(b)) return b;
  return NO_ID;
}

uint32_t defType_resultantFloatType(uint32_t a, uint32_t b) {
  if (!defType_isFloat(a) || !defType_isFloat(b)) return NO_ID;
  if (a == b) return a;
  if (a == TypeFloat) return b;
  if (b == TypeFloat) return a;
  return NO_ID;
}

uint32_t defType_resultantTimeType(uint32_t a, uint32_t b) {
  if (!defType_isTime(a) || !defType_isTime(b)) return NO_ID;
  if (a == b) return a;
  if (a == TypeTime) return b;
  if (b == TypeTime) return a;
  return NO_ID;
}

uint32_t defType_resultantType(uint32_t op, uint32_t a, uint32_t b) {
  if (const uint32_t r = defType_resultantIntegerType(a, b); r != NO_ID) return r;
  if ((defType_isTime(a) || defType_isTime(b)) && (op == MULT_OP || op == DIV_OP))
    return resultantTimeArithmetic(op, a, b);
  if (const uint32_t r = defType_resultantFloatType(a, b); r != NO_ID) return r;
  if (const uint32_t r = defType_resultantTimeType(a, b); r != NO_ID) return r;
  return a == b ? a : NO_ID;
}

uint32_t defType_deduceOperationOperatorType(const Program* program, uint32_t op, uint32_t a,
                                             uint32_t b) {
  if (op == NEG_OP) {
    if (a == TypeInt) return TypeSInt;
    if (a == TypeTime) return TypeDuration64;
    return a;
  }
  if (op == NOT_OP || op == BIT_NOT_OP || b == NO_ID) return a;
  if (defType_isPrimitive(a) && defType_isPrimitive(b)) {
    if (a == b || op == SHIFT_LEFT_OP || op == SHIFT_RIGHT_OP) return a;
    return defType_resultantType(op, a, b);
  }
  // Enumeration values are compared as their uint32 ordinals.
  if (defType_isEnum(program, a) && defType_isEnum(program, b)) return TypeUInt32;
  return NO_ID;
}

uint32_t defType_getIntegerOppositeSignednessType(uint32_t t) {
  if (!defType_isInteger(t)) return NO_ID;
  return t % 2 == 0 ? t + 1 : t - 1;
}

uint32_t defExpr_canBeItsOpposite(uint32_t t) {
  if (defType_couldBeUnsigned(t)) return defType_getIntegerOppositeSignednessType(t);
  if (defType_isSignedInteger(t) || defType_isFloat(t)) return t;
  if (t == TypeTime || t == TypeDuration64) return TypeDuration64;
  return NO_ID;
}

// ---------------------------------------------------------------- expressions

uint32_t defType_evaluate(ParserEnv* penv, AST_Node* expression) {
  if (penv == nullptr || penv->program == nullptr || expression == nullptr) return NO_ID;
  const Program* p = penv->program;
  switch (expression->op) {
    case AND_OP:
    case OR_OP:
    case BIT_AND_OP:
    case BIT_OR_OP:
    case BIT_XOR_OP:
    case SHIFT_LEFT_OP:
    case SHIFT_RIGHT_OP:
    case CEQ_OP:
    case CNE_OP:
    case CGE_OP:
    case CLE_OP:
    case GT_OP:
    case LT_OP:
    case DIV_OP:
    case MULT_OP:
    case MINUS_OP:
    case PLUS_OP:
    case MODULO_OP:
    case BIT_NOT_OP:
    case NEG_OP:
    case NOT_OP: {
      // Operations are typed when they are built and typed again by every
      // operation built over them: the cache keeps a chain linear.
      // Only nodes of the program are cached (tests type trees of their own).
      const auto first = reinterpret_cast<uintptr_t>(p->RAMprogram.get());
      const auto at = reinterpret_cast<uintptr_t>(expression);
      const uint32_t id = at >= first && (at - first) / sizeof(AST_Node) < p->infoProg->n_AST
                              ? static_cast<uint32_t>((at - first) / sizeof(AST_Node))
                              : NO_ID;
      auto& cache = penv->pctx.typeCache;
      if (const auto hit = cache.find(id); hit != cache.end()) return hit->second;
      const uint32_t t =
          expression->right == NO_ID && (expression->op == BIT_NOT_OP || expression->op == NEG_OP ||
                                         expression->op == NOT_OP)
              ? evaluateUnary(penv, expression)
              : evaluateBinary(penv, expression);
      if (t != NO_ID && id != NO_ID) cache.emplace(id, t);
      return t;
    }
    case BOOLEAN_OP: return validType(p, TypeBoolean);
    case FLOAT_OP: return validType(p, TypeFloat);
    case FLOAT32_OP: return validType(p, TypeF32);
    case FLOAT64_OP: return validType(p, TypeF64);
    case INTEGER_OP: return validType(p, TypeInt);
    case MS_OP:
    case S_OP:
    case US_OP:
    case NS_OP:
    case PS_OP: return validType(p, TypeTime);
    case STRING_OP: return validType(p, TypeString);
    case ARRAY_INDEX_OP: return evaluateArrayElement(penv, expression);
    case LIST: {
      // Several values only make sense as an aggregate initializer, which
      // is typed against its declaration, not here.
      if (childNode(p, expression->right) != nullptr) return NO_ID;
      const uint32_t t = defType_evaluate(penv, childNode(p, expression->left));
      if (t != NO_ID) diag::braces_around_initializer(penv);
      return t;
    }
    case INITIALIZER_OP: {
      const AST_Node* typed = childNode(p, expression->right);
      return typed != nullptr ? validType(p, typed->value.id.type) : NO_ID;
    }
    case CALL_OP:
    case CAST_OP:
    case ENUM_OP:
    case GLOBAL_CONSTANT_OP:
    case GLOBAL_VARIABLE_OP:
    case IN_CHANNEL_PARAM_OP:
    case IN_PARAM_OP:
    case IO_OP:
    case LOCAL_CONSTANT_OP:
    case LOCAL_VAR:
    case OUT_CHANNEL_PARAM_OP:
    case OUT_PARAM_OP:
    case STATIC_VARIABLE_OP:
    case TYPE_OP: return validType(p, expression->value.id.type);
    default: return NO_ID;
  }
}

void defExpr_evalAsFloat(ParserEnv* penv, AST_Node* expression, uint32_t floatType) {
  if (penv == nullptr || penv->program == nullptr || !isSizedFloat(floatType)) return;
  rewriteFloat(penv, expression, floatType);
}

// ---------------------------------------------------------------- expected types

namespace {

bool elementMatches(const Program* program, uint32_t actual, uint32_t expected) {
  const uint32_t a = elementType(program, actual);
  const uint32_t e = elementType(program, expected);
  return a != NO_ID && e != NO_ID && defType_isDerivedFrom(program, a, e);
}

// A parameter typed as an unsized channel takes any channel of its element
// type, whatever its kind and capacity.
bool defType_matchUnsizedChannel(const Program* program, uint32_t actual, uint32_t expected) {
  return isChannelKind(defType_bufferKind(program, actual)) &&
         elementMatches(program, actual, expected);
}

bool defType_matchUnsizedArray(const Program* program, uint32_t actual, uint32_t expected) {
  return defType_bufferKind(program, actual) == ARRAY_BUFFER &&
         elementMatches(program, actual, expected);
}

}  // namespace

uint32_t defExpr_matchExpectedType(ParserEnv* penv, AST_Node* expression, uint32_t expected) {
  if (penv == nullptr || penv->program == nullptr) return NO_ID;
  const Program* p = penv->program;
  const uint32_t t = defType_evaluate(penv, expression);
  if (t == NO_ID || t == TypeVoid || validType(p, expected) == NO_ID) return NO_ID;
  if (t == expected) return t;

  switch (expected) {
    case TypeAny:
    case TypePrimitive:
      if (t == TypeFloat) {
        // Nothing would ever fix which float the literal is.
        reportUntypedFloat(penv);
        return NO_ID;
      }
      [[fallthrough]];
    case TypeEnum:
    case TypeStructure:
    case TypeIterator:
    case TypeArray:
    case TypeSizedArray:
    case TypeUnsizedArray:
    case TypeChannel:
    case TypeSizedChannel:
    case TypeUnsizedChannel: return defType_isDerivedFrom(p, t, expected) ? t : NO_ID;
    default: break;
  }

  const uint32_t kind = defType_bufferKind(p, expected);
  if (isUnsized(p, expected)) {
    if (isChannelKind(kind)) return defType_matchUnsizedChannel(p, t, expected) ? t : NO_ID;
    if (kind == ARRAY_BUFFER) return defType_matchUnsizedArray(p, t, expected) ? t : NO_ID;
  }

  if (const uint32_t r = defType_resultantIntegerType(t, expected); r != NO_ID) return r;
  if (const uint32_t r = defType_resultantTimeType(t, expected); r != NO_ID) return r;
  if (const uint32_t r = defType_resultantFloatType(t, expected); r != NO_ID) {
    if (t == TypeFloat && isSizedFloat(r)) defExpr_evalAsFloat(penv, expression, r);
    return r;
  }
  return NO_ID;
}

// Derivation follows the categories the built-in tables name: every type
// derives from Any, primitives from Primitive, declared enumerations and
// structures from Enumeration and Structure, iterator types from Iterator,
// arrays from Array and, by their size, <sized array> or <unsized array>
// (channels likewise); the sized and unsized bounds derive from their kind.
bool defType_isDerivedFrom(const Program* program, uint32_t t, uint32_t base) {
  const TypeRecord* r = typeRecord(program, t);
  if (r == nullptr || typeRecord(program, base) == nullptr) return false;
  if (t == base) return true;
  const bool array = r->bufferType == ARRAY_BUFFER;
  const bool channel = isChannelKind(r->bufferType);
  const bool unsized = r->size == kUnsizedBuffer;
  switch (base) {
    case TypeAny: return true;
    case TypePrimitive: return defType_isPrimitive(t);
    case TypeEnum: return defType_isEnum(program, t);
    case TypeStructure: return isStructure(program, t);
    case TypeIterator: return isIteratorType(program, t);
    case TypeArray: return array || t == TypeSizedArray || t == TypeUnsizedArray;
    case TypeSizedArray: return array && !unsized;
    case TypeUnsizedArray: return array && unsized;
    case TypeChannel: return channel || t == TypeSizedChannel || t == TypeUnsizedChannel;
    case TypeSizedChannel: return channel && !unsized;
    case TypeUnsizedChannel: return channel && unsized;
    default: return false;
  }
}
