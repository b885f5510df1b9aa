// Operator functions: integer widths and wrap-around, shift counts, signed and
// unsigned comparison, division faults, float and boolean operators.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint64_t kOnes = ~uint64_t{0};
constexpr uint64_t kMin64 = uint64_t{1} << 63;
constexpr uint32_t kNoKind = NO_ID;

uint64_t f32Bits(float v) {
  return std::bit_cast<uint32_t>(v);
}
uint64_t f64Bits(double v) {
  return std::bit_cast<uint64_t>(v);
}

struct Case {
  uint32_t type;
  uint32_t op;
  uint64_t left;
  uint64_t right;
  uint64_t expected;
};

// Operands as numbers of their own kind (raw cells or doubles).
template <class T>
std::string describe(uint32_t type, uint32_t op, T left, T right) {
  return std::string(kBuiltinTypeNames[type]) + " " + AST_opName(op) + " " + std::to_string(left) +
         ", " + std::to_string(right);
}

class Operators : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramBuilder b;
    nodeId_ = b.node(PLUS_OP, 0u).id;
    env_->program = b.build();
    node_ = AST_fromId(env_->program.get(), nodeId_);
    expr_operatorsInit(env_.get());
  }

  // Applies `op` through the dispatch table entry of `typeId`.
  uint64_t apply(uint32_t typeId, uint32_t op, uint64_t left, uint64_t right) {
    node_->op = op;
    OperatorFunction f = env_->ctx->execute_operator[typeId];
    EXPECT_NE(f, nullptr) << kBuiltinTypeNames[typeId];
    return f != nullptr ? f(env_.get(), node_, left, right) : 0;
  }

  void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(describe(c.type, c.op, c.left, c.right));
      EXPECT_EQ(apply(c.type, c.op, c.left, c.right), c.expected);
    }
  }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  uint32_t nodeId_ = NO_ID;
  AST_Node* node_ = nullptr;
};

TEST_F(Operators, IntegerArithmeticWrapsAtTheOperatorWidth) {
  check({
      {TypeSInt8, PLUS_OP, 127, 1, 0x80},
      {TypeUInt8, MINUS_OP, 0, 1, 0xFF},
      {TypeUInt32, MULT_OP, 65536, 65536, 0},
      {TypeUInt16, MULT_OP, 0xFFFF, 0xFFFF, 1},
      {TypeSInt64, MULT_OP, kMin64, kOnes, kMin64},
      {TypeInt, PLUS_OP, kOnes, 1, 0},
      {TypeSInt, MINUS_OP, kMin64, 1, kMin64 - 1},
      {TypeDuration64, MULT_OP, kOnes, kOnes, 1},
      {TypeTime64, PLUS_OP, kOnes, 2, 1},
      {TypeTime, MINUS_OP, 0, 1, kOnes},
      // Bytes above the width are ignored on the way in.
      {TypeUInt16, PLUS_OP, 0x12340001, 1, 2},
      {TypeSInt8, PLUS_OP, 0xFFFFFF80, 0, 0x80},
      {TypeSInt32, PLUS_OP, 0xFFFFFFFFFFFFFFFF, 0, 0xFFFFFFFF},
      // Negation wraps on every type.
      {TypeSInt16, NEG_OP, 0x8000, 0, 0x8000},
      {TypeUInt8, NEG_OP, 1, 0, 0xFF},
      {TypeSInt32, NEG_OP, 5, 0, 0xFFFFFFFB},
      {TypeUInt64, NEG_OP, 1, 0, kOnes},
      // Bitwise results stay within the width, never sign-extended.
      {TypeSInt8, BIT_NOT_OP, 0, 0, 0xFF},
      {TypeUInt8, BIT_NOT_OP, 0x0F, 0, 0xF0},
      {TypeUInt32, BIT_NOT_OP, 0, 0, 0xFFFFFFFF},
      {TypeSInt16, BIT_AND_OP, 0xFFF0, 0x0FFF, 0x0FF0},
      {TypeUInt16, BIT_OR_OP, 0xF000, 0x000F, 0xF00F},
      {TypeSInt64, BIT_XOR_OP, kOnes, 1, kOnes - 1},
      // Quotient toward zero, remainder with the dividend's sign.
      {TypeSInt32, DIV_OP, 0xFFFFFFF9, 2, 0xFFFFFFFD},
      {TypeSInt32, MODULO_OP, 0xFFFFFFF9, 2, 0xFFFFFFFF},
      {TypeSInt8, MODULO_OP, 7, 0xFE, 1},
      {TypeUInt8, DIV_OP, 0xF9, 2, 0x7C},
      {TypeUInt64, DIV_OP, kOnes, 2, kOnes >> 1},
      {TypeSInt64, DIV_OP, kOnes, 2, 0},
      {TypeUInt16, MODULO_OP, 7, 2, 1},
  });
  EXPECT_TRUE(host_.invalidOps.empty());
}

TEST_F(Operators, ShiftCountsUseTheLowByteAndTheShiftWidth) {
  check({
      {TypeSInt8, SHIFT_RIGHT_OP, 0xFF, 3, 0xFF},
      {TypeUInt8, SHIFT_RIGHT_OP, 255, 3, 31},
      {TypeSInt32, SHIFT_LEFT_OP, 1, 31, 0x80000000},
      {TypeSInt64, SHIFT_RIGHT_OP, static_cast<uint64_t>(-8), 70, kOnes},
      // Narrow types shift at 32 bits, then truncate.
      {TypeUInt8, SHIFT_LEFT_OP, 1, 7, 0x80},
      {TypeUInt8, SHIFT_LEFT_OP, 1, 8, 0},
      {TypeUInt8, SHIFT_LEFT_OP, 1, 300, 0},   // low byte 44
      {TypeUInt8, SHIFT_LEFT_OP, 1, 260, 16},  // low byte 4
      {TypeUInt8, SHIFT_LEFT_OP, 0x81, 1, 0x02},
      {TypeUInt8, SHIFT_RIGHT_OP, 0x80, 7, 1},
      {TypeUInt8, SHIFT_RIGHT_OP, 0x80, 10, 0},
      {TypeSInt8, SHIFT_RIGHT_OP, 0x80, 10, 0xFF},
      {TypeSInt8, SHIFT_RIGHT_OP, 0x80, 40, 0xFF},
      {TypeSInt8, SHIFT_RIGHT_OP, 0x40, 40, 0},
      {TypeSInt8, SHIFT_LEFT_OP, 0xFF, 3, 0xF8},
      {TypeSInt16, SHIFT_RIGHT_OP, 0xFFFE, 1, 0xFFFF},
      {TypeUInt16, SHIFT_RIGHT_OP, 0x8000, 15, 1},
      {TypeUInt32, SHIFT_LEFT_OP, 1, 256, 1},  // low byte 0
      {TypeUInt32, SHIFT_LEFT_OP, 1, 32, 0},
      {TypeSInt32, SHIFT_RIGHT_OP, 0x80000000, 31, 0xFFFFFFFF},
      {TypeSInt32, SHIFT_RIGHT_OP, 0x80000000, 32, 0xFFFFFFFF},
      {TypeSInt32, SHIFT_RIGHT_OP, 0x7FFFFFFF, 255, 0},
      {TypeUInt32, SHIFT_RIGHT_OP, 0x80000000, 31, 1},
      {TypeUInt32, SHIFT_RIGHT_OP, 0x80000000, 256 + 31, 1},
      {TypeSInt64, SHIFT_RIGHT_OP, kMin64, 512, kMin64},
      // 64-bit types shift at 64 bits.
      {TypeUInt64, SHIFT_LEFT_OP, 1, 63, kMin64},
      {TypeUInt64, SHIFT_LEFT_OP, 1, 64, 0},
      {TypeUInt64, SHIFT_LEFT_OP, 1, 257, 2},
      {TypeUInt64, SHIFT_RIGHT_OP, kMin64, 63, 1},
      {TypeSInt64, SHIFT_RIGHT_OP, kMin64, 63, kOnes},
      {TypeSInt64, SHIFT_RIGHT_OP, kMin64, 64, kOnes},
      {TypeSInt64, SHIFT_RIGHT_OP, 5, 64, 0},
      {TypeDuration64, SHIFT_RIGHT_OP, kOnes, 1, kOnes},
      {TypeTime64, SHIFT_RIGHT_OP, kOnes, 1, kOnes >> 1},
  });
}

TEST_F(Operators, ComparisonsFollowSignedness) {
  check({
      {TypeUInt8, LT_OP, 0x80, 0x7F, 0},
      {TypeSInt8, LT_OP, 0x80, 0x7F, 1},
      {TypeUInt32, GT_OP, 0xFFFFFFFF, 0, 1},
      {TypeSInt32, GT_OP, 0xFFFFFFFF, 0, 0},
      {TypeSInt16, GT_OP, 0xFFFF, 0xFFFE, 1},
      {TypeSInt64, CLE_OP, kMin64, kMin64 - 1, 1},
      {TypeUInt64, CLE_OP, kMin64, kMin64 - 1, 0},
      {TypeUInt16, CGE_OP, 5, 5, 1},
      {TypeSInt16, CGE_OP, 0xFFFF, 0, 0},
      {TypeUInt8, CLE_OP, 5, 5, 1},
      {TypeUInt8, CEQ_OP, 0x101, 0x001, 1},
      {TypeUInt16, CNE_OP, 0x10001, 0x00001, 0},
      {TypeSInt32, CNE_OP, 1, 2, 1},
      {TypeDuration64, LT_OP, kOnes, 0, 1},
      {TypeTime64, LT_OP, kOnes, 0, 0},
      {TypeSInt, GT_OP, 0, kOnes, 1},
      {TypeInt, GT_OP, 0, kOnes, 0},
  });
}

TEST_F(Operators, DivisionFaultsReportTheirKindAndGiveTheDocumentedResult) {
  struct Fault {
    uint32_t type;
    uint32_t op;
    uint64_t left;
    uint64_t right;
    uint32_t kind;  // kNoKind: no report
    uint64_t expected;
  };
  const Fault cases[] = {
      {TypeUInt16, DIV_OP, 7, 0, kInvalidOpDivisionByZero, 0},
      {TypeUInt16, MODULO_OP, 7, 0, kInvalidOpModuloZero, 0},
      {TypeSInt32, DIV_OP, 0, 0, kInvalidOpDivisionByZero, 0},
      {TypeSInt64, DIV_OP, kMin64, 0, kInvalidOpDivisionByZero, 0},  // zero checked first
      {TypeUInt8, DIV_OP, 9, 0x100, kInvalidOpDivisionByZero, 0},    // zero at the width
      {TypeSInt16, DIV_OP, 0x8000, 0xFFFF, kInvalidOpDivideMinByMinusOne, 0x8000},
      {TypeSInt16, MODULO_OP, 0x8000, 0xFFFF, kInvalidOpModuloMinByMinusOne, 0},
      {TypeSInt8, DIV_OP, 0x80, 0xFF, kInvalidOpDivideMinByMinusOne, 0x80},
      {TypeSInt32, DIV_OP, 0x80000000, 0xFFFFFFFF, kInvalidOpDivideMinByMinusOne, 0x80000000},
      {TypeSInt64, DIV_OP, kMin64, kOnes, kInvalidOpDivideMinByMinusOne, kMin64},
      {TypeSInt64, MODULO_OP, kMin64, kOnes, kInvalidOpModuloMinByMinusOne, 0},
      {TypeDuration64, MODULO_OP, kMin64, kOnes, kInvalidOpModuloMinByMinusOne, 0},
      {TypeSInt16, DIV_OP, 5, 0xFFFF, kNoKind, 0xFFFB},
      {TypeSInt16, MODULO_OP, 5, 0xFFFF, kNoKind, 0},
      // Unsigned types have no -1: all ones is just a large divisor.
      {TypeUInt8, DIV_OP, 0x80, 0xFF, kNoKind, 0},
      {TypeInt, DIV_OP, kOnes, kOnes, kNoKind, 1},
  };
  for (const Fault& c : cases) {
    SCOPED_TRACE(describe(c.type, c.op, c.left, c.right));
    host_.invalidOps.clear();
    EXPECT_EQ(apply(c.type, c.op, c.left, c.right), c.expected);
    if (c.kind == kNoKind) {
      EXPECT_TRUE(host_.invalidOps.empty());
    } else {
      ASSERT_EQ(host_.invalidOps.size(), 1u);
      EXPECT_EQ(host_.invalidOps[0].kind, c.kind);
      EXPECT_EQ(host_.invalidOps[0].nodeId, nodeId_);
    }
  }
}

TEST_F(Operators, FloatOperatorsComputeInTheirOwnPrecision) {
  struct FloatCase {
    uint32_t type;
    uint32_t op;
    double left;
    double right;
    uint64_t expected;  // result bits
    bool reportsDivision;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FloatCase cases[] = {
      {TypeF32, DIV_OP, 1.0, 0.0, f32Bits(0.0f), true},
      {TypeF32, DIV_OP, 1.0, -0.0, f32Bits(0.0f), true},
      {TypeF64, DIV_OP, -3.0, 0.0, f64Bits(0.0), true},
      {TypeF64, DIV_OP, 7.0, 2.0, f64Bits(3.5), false},
      {TypeF32, PLUS_OP, 16777216.0, 1.0, f32Bits(16777216.0f), false},
      {TypeF64, PLUS_OP, 16777216.0, 1.0, f64Bits(16777217.0), false},
      {TypeF32, MINUS_OP, 1.5, 4.0, f32Bits(-2.5f), false},
      {TypeF64, MULT_OP, 1.5, -4.0, f64Bits(-6.0), false},
      {TypeF64, NEG_OP, 0.0, 0.0, f64Bits(-0.0), false},
      {TypeF32, NEG_OP, 2.0, 0.0, f32Bits(-2.0f), false},
      {TypeF32, LT_OP, -1.0, 0.5, 1, false},
      {TypeF64, GT_OP, -1.0, 0.5, 0, false},
      {TypeF64, CLE_OP, 0.5, 0.5, 1, false},
      {TypeF32, CGE_OP, -0.0, 0.0, 1, false},
      {TypeF64, LT_OP, nan, 1.0, 0, false},
      {TypeF32, CGE_OP, nan, nan, 0, false},
  };
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(describe(c.type, c.op, c.left, c.right));
    host_.invalidOps.clear();
    const bool single = c.type == TypeF32;
    const uint64_t l = single ? f32Bits(static_cast<float>(c.left)) : f64Bits(c.left);
    const uint64_t r = single ? f32Bits(static_cast<float>(c.right)) : f64Bits(c.right);
    EXPECT_EQ(apply(c.type, c.op, l, r), c.expected);
    ASSERT_EQ(host_.invalidOps.size(), c.reportsDivision ? 1u : 0u);
    if (c.reportsDivision) {
      EXPECT_EQ(host_.invalidOps[0].kind, kInvalidOpDivisionByZero);
    }
  }
}

TEST_F(Operators, UnsupportedOperatorsFailOrAssert) {
  struct Bad {
    uint32_t type;
    uint32_t op;
    const char* output;  // null: an internal check instead of a failure
  };
  const Bad cases[] = {
      {TypeF64, CEQ_OP, "unknown float operator\n"},
      {TypeF32, CNE_OP, "unknown float operator\n"},
      {TypeF32, MODULO_OP, "unknown float operator\n"},
      {TypeF64, BIT_AND_OP, "unknown float operator\n"},
      {TypeBoolean, PLUS_OP, "unknown boolean operator\n"},
      {TypeBoolean, LT_OP, "unknown boolean operator\n"},
      {TypeUInt8, NOT_OP, nullptr},
      {TypeSInt64, AND_OP, nullptr},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(std::string(kBuiltinTypeNames[c.type]) + " " + AST_opName(c.op));
    if (c.output != nullptr) {
      StdoutCapture out;
      EXPECT_THROW(apply(c.type, c.op, 1, 1), HostExit);
      EXPECT_EQ(out.text(), c.output);
    } else {
      EXPECT_THROW(apply(c.type, c.op, 1, 1), HostAssert);
    }
  }
  EXPECT_EQ(env_->ctx->execute_operator[TypeFloat], nullptr);
}

TEST_F(Operators, BooleanOperatorsAndNot) {
  check({
      {TypeBoolean, CEQ_OP, 1, 1, 1},
      {TypeBoolean, CEQ_OP, 0, 1, 0},
      {TypeBoolean, CEQ_OP, 0x100, 0, 1},  // only the first byte counts
      {TypeBoolean, CNE_OP, 1, 0, 1},
      {TypeBoolean, CNE_OP, 0, 0, 0},
      {TypeBoolean, NOT_OP, 0, 0, 1},
      {TypeBoolean, NOT_OP, 1, 0, 0},
      {TypeBoolean, NOT_OP, 0x100, 0, 1},
  });

  for (const bool v : {false, true}) {
    const TaggedValue operand = interpStack_pushBoolean(env_.get(), v);
    const TaggedValue r = expr_not(env_.get(), node_, operand);
    EXPECT_EQ(r.typeId, TypeBoolean);
    EXPECT_EQ(r.globalId, NO_ID);
    EXPECT_EQ(r.value->u64, v ? 0u : 1u);
  }
  const TaggedValue notBool = interpStack_pushUInt8(env_.get(), 1);
  try {
    expr_not(env_.get(), node_, notBool);
    ADD_FAILURE() << "a uint8 operand passed the type check";
  } catch (const HostAssert& a) {
    EXPECT_EQ(a.expression, "val.typeId == TypeBoolean");
  }
}

TEST(InvalidOpNames, EveryKindHasItsName) {
  const char* const names[] = {"division by zero",
                               "modulo zero",
                               "first divided by negative one",
                               "first modulo negative one",
                               "queue full",
                               "queue empty",
                               "stack full",
                               "stack empty"};
  for (uint32_t kind = 0; kind < 8; ++kind) EXPECT_STREQ(InvalidOp_getName(kind), names[kind]);
  EXPECT_NE(InvalidOp_getName(8), nullptr);
  EXPECT_EQ(kInvalidOpStackEmpty, 7u);
}

}  // namespace
