// The op codes of AST nodes, written once.
//
// KOVA_AST_OPS(X) expands X(name, value) for every op code the interpreter or
// the model accessors name; the values are those of the program file and must
// never change. Gaps (20 comment, 41 the IO object, 42 iterator declaration,
// 64, 78) are ops that no part of the interpreter executes; the ones it meets
// still have names so that dumps and messages can show them.
#pragma once

#include <cstdint>

#define KOVA_AST_OPS(X)          \
  X(AFTER_OP, 1)                 \
  X(AND_OP, 2)                   \
  X(BIT_AND_OP, 3)               \
  X(SHIFT_LEFT_OP, 4)            \
  X(BIT_NOT_OP, 5)               \
  X(BIT_OR_OP, 6)                \
  X(SHIFT_RIGHT_OP, 7)           \
  X(BIT_XOR_OP, 8)               \
  X(BLOCK_OP, 9)                 \
  X(BLOCK_OP_10, 10)             \
  X(BLOCK_OP_11, 11)             \
  X(BOOLEAN_OP, 12)              \
  X(BREAK_OP, 13)                \
  X(CALL_OP, 14)                 \
  X(CAST_OP, 15)                 \
  X(CEQ_OP, 16)                  \
  X(CGE_OP, 17)                  \
  X(CLE_OP, 18)                  \
  X(CNE_OP, 19)                  \
  X(COMMENT_OP, 20)              \
  X(CONSTANT_ARRAY_DECL_OP, 21)  \
  X(CONSTANT_DECL_OP, 22)        \
  X(CONTINUE_OP, 23)             \
  X(DIV_OP, 24)                  \
  X(ENUM_OP, 25)                 \
  X(ASSIGN_OP, 26)               \
  X(FIELD_STATEMENT, 27)         \
  X(FLOAT_OP, 28)                \
  X(FLOAT32_OP, 29)              \
  X(FLOAT64_OP, 30)              \
  X(FOR_OP, 31)                  \
  X(ARRAY_INDEX_OP, 32)          \
  X(GLOBAL_CONSTANT_OP, 33)      \
  X(GLOBAL_VARIABLE_OP, 34)      \
  X(GT_OP, 35)                   \
  X(IF_OP, 36)                   \
  X(IN_CHANNEL_PARAM_OP, 37)     \
  X(INDEX_NODE, 38)              \
  X(IN_PARAM_OP, 39)             \
  X(INTEGER_OP, 40)              \
  X(IO_OP, 41)                   \
  X(ITERATOR_DECL_OP, 42)        \
  X(LIST, 43)                    \
  X(LOCAL_CONSTANT_OP, 44)       \
  X(LOCAL_VAR, 45)               \
  X(LOOPOVER_OP, 46)             \
  X(LT_OP, 47)                   \
  X(MINUS_OP, 48)                \
  X(MODULO_OP, 49)               \
  X(MS_OP, 50)                   \
  X(MULT_OP, 51)                 \
  X(NEG_OP, 52)                  \
  X(NOT_OP, 53)                  \
  X(ON_OP, 54)                   \
  X(OR_OP, 55)                   \
  X(OUT_CHANNEL_PARAM_OP, 56)    \
  X(OUT_PARAM_OP, 57)            \
  X(PLUS_OP, 58)                 \
  X(PROCESS_INSTANCE_NODE, 59)   \
  X(STATIC_VARIABLE_OP, 60)      \
  X(S_OP, 61)                    \
  X(STATE_DCL, 62)               \
  X(STRING_OP, 63)               \
  X(INITIALIZER_OP, 65)          \
  X(SYM, 66)                     \
  X(TYPE_OP, 67)                 \
  X(US_OP, 68)                   \
  X(NS_OP, 69)                   \
  X(PS_OP, 70)                   \
  X(VARIABLE_BUFFER_DECL_OP, 71) \
  X(VARIABLE_DECL_OP, 72)        \
  X(STATIC_VARIABLE_DECL_OP, 73) \
  X(STATIC_BUFFER_DECL_OP, 74)   \
  X(WHILE_OP, 75)                \
  X(TIME_ANNOTATION, 76)         \
  X(USER_ANNOTATION, 77)         \
  X(PROCESS_ANNOTATION, 79)      \
  X(HARDWARE_ANNOTATION, 80)     \
  X(NAMED_BLOCK_OP, 81)          \
  X(NAMED_STATE_STATEMENT, 82)   \
  X(ROOT, 83)                    \
  X(FUNCTION_DECLARATION, 84)    \
  X(FUNCTION_PROTOTYPE, 85)      \
  X(PROCESS_DECLARATION, 86)     \
  X(PROCESS_PROTOTYPE, 87)       \
  X(TYPE_DECLARATION, 88)        \
  X(GLOBAL_DECL_OP, 89)          \
  X(INCLUDE_OP, 90)

enum AST_Op : uint32_t {
#define KOVA_OP_ENUM(name, value) name = value,
  KOVA_AST_OPS(KOVA_OP_ENUM)
#undef KOVA_OP_ENUM
};

// The op's name, or null for a value that names no op.
const char* AST_opName(uint32_t op);

// The two-operand arithmetic and bitwise operators, and the comparisons: the
// families that the evaluators and the validator treat alike.
constexpr bool AST_isArithmeticOp(uint32_t op) {
  switch (op) {
    case BIT_AND_OP:
    case SHIFT_LEFT_OP:
    case BIT_OR_OP:
    case SHIFT_RIGHT_OP:
    case BIT_XOR_OP:
    case DIV_OP:
    case MINUS_OP:
    case MODULO_OP:
    case MULT_OP:
    case PLUS_OP: return true;
    default: return false;
  }
}

constexpr bool AST_isComparisonOp(uint32_t op) {
  switch (op) {
    case CEQ_OP:
    case CGE_OP:
    case CLE_OP:
    case CNE_OP:
    case GT_OP:
    case LT_OP: return true;
    default: return false;
  }
}
