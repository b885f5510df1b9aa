// Expression typing.
//
// Every operation node gets two types: the type its value has
// (`defType_evaluate`) and the type its operator computes in
// (`defType_deduceOperationOperatorType`, stored in the node's value word,
// which picks the interpreter's operator family). Untyped literals (integer
// literals are Natural, negated ones Signed_Integer, float literals Float,
// time literals time) take the type of the other operand; float literals are
// rewritten in place to float32 or float64 once their context fixes it.
// Ill-typed expressions are reported with numbered diagnostics and have no
// type (NO_ID).
#pragma once

#include <cstdint>

#include "parserLib/parser_data.h"

// Type classes over the built-in ids.
bool defType_isInteger(uint32_t t);          // 0..9
bool defType_isUnsignedInteger(uint32_t t);  // 2, 4, 6, 8
bool defType_isSignedInteger(uint32_t t);    // 1, 3, 5, 7, 9
bool defType_couldBeUnsigned(uint32_t t);    // 0 or unsigned
bool defType_couldBeSigned(uint32_t t);      // 0 or signed
bool defType_isTime(uint32_t t);             // 10, 11, 12
bool defType_isFloat(uint32_t t);            // 14, 15, 16
bool defType_isNumerical(uint32_t t);
bool defType_isQuantity(uint32_t t);
bool defType_isExactQuantity(uint32_t t);
bool defType_isPrimitive(uint32_t t);  // below 17
bool defType_isEnum(const Program* program, uint32_t t);
// The type's buffer kind (0 when not a buffer).
uint32_t defType_bufferKind(const Program* program, uint32_t t);

// Resultant types; NO_ID when there is none.
uint32_t defType_resultantIntegerType(uint32_t a, uint32_t b);
uint32_t defType_resultantFloatType(uint32_t a, uint32_t b);
uint32_t defType_resultantTimeType(uint32_t a, uint32_t b);
uint32_t defType_resultantType(uint32_t op, uint32_t a, uint32_t b);
// The operator type of an operation node (b is NO_ID for unary operators).
uint32_t defType_deduceOperationOperatorType(const Program* program, uint32_t op, uint32_t a,
                                             uint32_t b);
// An even integer id becomes id + 1, an odd one id - 1; Natural becomes
// Signed_Integer.
uint32_t defType_getIntegerOppositeSignednessType(uint32_t t);
// The type of -x for an x of type t, or NO_ID when it cannot be negated.
uint32_t defExpr_canBeItsOpposite(uint32_t t);

// The type of an expression node, reporting what is ill-typed.
uint32_t defType_evaluate(ParserEnv* penv, AST_Node* expression);

// Fixes the float type of the literals of an expression (and of the
// operations containing them) to float32 or float64.
void defExpr_evalAsFloat(ParserEnv* penv, AST_Node* expression, uint32_t floatType);

// Whether the expression matches an expected type (arguments, assignments,
// initialisers): Any matches everything, Primitive every primitive,
// Enumeration every enumeration, the abstract buffer kinds their buffers,
// unsized buffer types buffers of a matching element type; otherwise the
// resultant integer, time or float type (a Float literal is then fixed to the
// expected float type), else equality. Returns the resultant type or NO_ID.
uint32_t defExpr_matchExpectedType(ParserEnv* penv, AST_Node* expression, uint32_t expected);

// Whether type t is the type `base` or derives from it (every primitive from
// Primitive, every type from Any, an enumeration from Enumeration, ...).
bool defType_isDerivedFrom(const Program* program, uint32_t t, uint32_t base);
