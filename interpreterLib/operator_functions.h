// The operators of the language, one function per primitive operator type.
//
// The evaluator dispatches an operator node through `env->ctx->execute_operator`,
// indexed by the operator type id stored in the node, and hands the function
// both operands as raw 8-byte cells. The function applies the node's op at its
// own width and returns the result in 8 bytes whose unused high bytes are zero
// (a comparison returns 0 or 1). Integer arithmetic wraps; the only conditions
// reported are a zero divisor and the most negative value divided by -1, both
// through the host's invalid-operation callback. When that callback returns,
// a zero divisor gives 0 and a divisor of -1 gives the wrapped negation
// (division) or 0 (remainder).
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#include "ASTLib/ast_ops.h"
#include "ASTLib/rENV.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_error.h"

// The kinds passed to `invalid_op_callback`, with their names. The buffer
// operations report kinds 4 to 7.
#define KOVA_INVALID_OPS(X)                                            \
  X(kInvalidOpDivisionByZero, 0, "division by zero")                   \
  X(kInvalidOpModuloZero, 1, "modulo zero")                            \
  X(kInvalidOpDivideMinByMinusOne, 2, "first divided by negative one") \
  X(kInvalidOpModuloMinByMinusOne, 3, "first modulo negative one")     \
  X(kInvalidOpQueueFull, 4, "queue full")                              \
  X(kInvalidOpQueueEmpty, 5, "queue empty")                            \
  X(kInvalidOpStackFull, 6, "stack full")                              \
  X(kInvalidOpStackEmpty, 7, "stack empty")

enum InvalidOpKind : uint32_t {
#define KOVA_INVALID_OP_ENUM(name, value, text) name = value,
  KOVA_INVALID_OPS(KOVA_INVALID_OP_ENUM)
#undef KOVA_INVALID_OP_ENUM
      kInvalidOpCount
};

// The kind's name; "unknown invalid operation" for a value that names none.
const char* InvalidOp_getName(uint32_t kind);

// Integer operators. A non-operator op is reported through the assert
// callback and gives 0.
uint64_t expr_uInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt8Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt16Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_uInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_sInt64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// `==`, `!=` and logical not (on the left operand). Any other op fails with
// "unknown boolean operator\n" and gives 0.
uint64_t expr_booleanOperator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// IEEE arithmetic and ordering. Division by either zero reports kind 0 and
// gives 0.0. Equality and any other op fail with "unknown float operator\n"
// and give 0: floats are never compared for equality at run time.
uint64_t expr_f32Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);
uint64_t expr_f64Operator(InterpEnv* env, const AST_Node* node, uint64_t left, uint64_t right);

// Allocates and fills the 17-entry dispatch table; the `Float` literal type
// has no operator (null entry).
void expr_operatorsInit(InterpEnv* env);

// Logical not of a bool, pushed on the evaluation stack as a bool.
TaggedValue expr_not(InterpEnv* env, const AST_Node* node, TaggedValue operand);

// The operators themselves, written once for the table above and for the
// compiled evaluator, which calls them with a constant op (the switch folds).
namespace kova_ops {

// One rule set for every integer width. All arithmetic is done on unsigned
// values, so that wrap-around is defined; `U` is the unsigned type of the
// operator's width and the signed view is taken only to compare, to divide
// and to shift right.
template <class U, bool Signed>
[[gnu::always_inline]] inline uint64_t integerOperator(InterpEnv* env, const AST_Node* node,
                                                       uint32_t op, uint64_t left, uint64_t right) {
  static_assert(std::is_unsigned_v<U>);
  using S = std::make_signed_t<U>;
  // Narrow operands are shifted as 32-bit values, then truncated.
  using Wide = std::conditional_t<(sizeof(U) < 8), uint32_t, uint64_t>;
  using SWide = std::make_signed_t<Wide>;
  constexpr uint32_t kShiftWidth = sizeof(Wide) * 8;

  const U a = static_cast<U>(left);
  const U b = static_cast<U>(right);
  const auto result = [](uint64_t r) -> uint64_t { return static_cast<U>(r); };
  const auto truth = [](bool t) -> uint64_t { return t ? 1u : 0u; };
  const auto less = [](U x, U y) {
    if constexpr (Signed) return static_cast<S>(x) < static_cast<S>(y);
    return x < y;
  };
  const auto widen = [](U x) -> Wide {
    if constexpr (Signed) return static_cast<Wide>(static_cast<SWide>(static_cast<S>(x)));
    return static_cast<Wide>(x);
  };

  switch (op) {
    case PLUS_OP: return result(uint64_t{a} + b);
    case MINUS_OP: return result(uint64_t{a} - b);
    case MULT_OP: return result(uint64_t{a} * b);
    case NEG_OP: return result(uint64_t{0} - a);
    case BIT_AND_OP: return result(a & b);
    case BIT_OR_OP: return result(a | b);
    case BIT_XOR_OP: return result(a ^ b);
    case BIT_NOT_OP: return result(~uint64_t{a});
    case SHIFT_LEFT_OP: {
      const uint32_t count = static_cast<uint8_t>(right);
      return count < kShiftWidth ? result(widen(a) << count) : 0;
    }
    case SHIFT_RIGHT_OP: {
      const uint32_t count = static_cast<uint8_t>(right);
      if constexpr (Signed) {
        const auto w = static_cast<SWide>(widen(a));
        if (count >= kShiftWidth) return w < 0 ? result(~uint64_t{0}) : 0;
        return result(static_cast<Wide>(w >> count));
      }
      return count < kShiftWidth ? result(widen(a) >> count) : 0;
    }
    case CEQ_OP: return truth(a == b);
    case CNE_OP: return truth(a != b);
    case LT_OP: return truth(less(a, b));
    case GT_OP: return truth(less(b, a));
    case CLE_OP: return truth(!less(b, a));
    case CGE_OP: return truth(!less(a, b));
    case DIV_OP:
    case MODULO_OP: {
      const bool div = op == DIV_OP;
      if (b == 0) {
        env->ctx->invalid_op_callback(env, node,
                                      div ? kInvalidOpDivisionByZero : kInvalidOpModuloZero);
        return 0;
      }
      if constexpr (Signed) {
        // x / -1 is the one quotient that overflows; computing it as a
        // negation keeps it defined whatever the callback does.
        if (b == static_cast<U>(~U{0})) {
          constexpr U kMin = static_cast<U>(U{1} << (sizeof(U) * 8 - 1));
          if (a == kMin) {
            env->ctx->invalid_op_callback(
                env, node, div ? kInvalidOpDivideMinByMinusOne : kInvalidOpModuloMinByMinusOne);
          }
          return div ? result(uint64_t{0} - a) : 0;
        }
        const S sa = static_cast<S>(a);
        const S sb = static_cast<S>(b);
        return result(static_cast<U>(div ? sa / sb : sa % sb));
      }
      return result(div ? a / b : a % b);
    }
    default: ENV_CHECK(env, false, "false && \"unknown integer operator\""); return 0;
  }
}

template <class F>
inline F floatFromCell(uint64_t bits) {
  if constexpr (sizeof(F) == 4) {
    return std::bit_cast<float>(static_cast<uint32_t>(bits));
  } else {
    return std::bit_cast<double>(bits);
  }
}

template <class F>
inline uint64_t floatToCell(F v) {
  if constexpr (sizeof(F) == 4) {
    return std::bit_cast<uint32_t>(v);
  } else {
    return std::bit_cast<uint64_t>(v);
  }
}

template <class F>
[[gnu::always_inline]] inline uint64_t floatOperator(InterpEnv* env, const AST_Node* node,
                                                     uint32_t op, uint64_t left, uint64_t right) {
  const F a = floatFromCell<F>(left);
  const F b = floatFromCell<F>(right);
  switch (op) {
    case PLUS_OP: return floatToCell<F>(a + b);
    case MINUS_OP: return floatToCell<F>(a - b);
    case MULT_OP: return floatToCell<F>(a * b);
    case NEG_OP: return floatToCell<F>(-a);
    case LT_OP: return a < b ? 1 : 0;
    case GT_OP: return a > b ? 1 : 0;
    case CLE_OP: return a <= b ? 1 : 0;
    case CGE_OP: return a >= b ? 1 : 0;
    case DIV_OP:
      if (b == F{0}) {
        env->ctx->invalid_op_callback(env, node, kInvalidOpDivisionByZero);
        return floatToCell<F>(F{0});
      }
      return floatToCell<F>(a / b);
    default: interp_failure(env, "unknown float operator\n"); return 0;
  }
}

[[gnu::always_inline]] inline uint64_t booleanOperator(InterpEnv* env, uint32_t op, uint64_t left,
                                                       uint64_t right) {
  const auto a = static_cast<uint8_t>(left);
  const auto b = static_cast<uint8_t>(right);
  switch (op) {
    case CEQ_OP: return a == b ? 1 : 0;
    case CNE_OP: return a != b ? 1 : 0;
    case NOT_OP: return a == 0 ? 1 : 0;
    default: interp_failure(env, "unknown boolean operator\n"); return 0;
  }
}

}  // namespace kova_ops
