// Operator functions: integer widths and wrap-around, shift counts, signed and
// unsigned comparison, division faults, float and boolean operators.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint64_t kOnes = ~uint64_t{0};
constexpr uint64_t kMin64 = uint64_t{1} << 63;
constexpr uint32_t kNoKind = NO_ID;
const auto f32 = [](float v) -> uint64_t { return std::bit_cast<uint32_t>(v); };
const auto f64 = [](double v) { return std::bit_cast<uint64_t>(v); };

struct Case {
  uint32_t type, op;
  uint64_t left, right, expected;  // raw cells
  uint32_t kind = kNoKind;         // the invalid operation reported, if any
};

class Operators : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramBuilder b;
    nodeId_ = b.node(PLUS_OP, 0u).id;
    env_->program = b.build();
    node_ = AST_fromId(env_->program.get(), nodeId_);
    expr_operatorsInit(env_.get());
  }

  // Applies `op` through the dispatch table entry of `type`.
  uint64_t apply(uint32_t type, uint32_t op, uint64_t left, uint64_t right) {
    node_->op = op;
    return env_->ctx->execute_operator[type](env_.get(), node_, left, right);
  }

  void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << kBuiltinTypeNames[c.type] << " " << AST_opName(c.op) << " "
                                      << c.left << ", " << c.right);
      host_.invalidOps.clear();
      EXPECT_EQ(apply(c.type, c.op, c.left, c.right), c.expected);
      ASSERT_EQ(host_.invalidOps.size(), c.kind == kNoKind ? 0u : 1u);
      for (const InvalidOp& r : host_.invalidOps) {
        EXPECT_EQ(std::pair(r.nodeId, r.kind), std::pair(nodeId_, c.kind));
      }
    }
  }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  uint32_t nodeId_ = NO_ID;
  AST_Node* node_ = nullptr;
};

TEST_F(Operators, IntegerArithmeticWrapsAtTheWidthAndDivisionFaultsReport) {
  check({
      {TypeSInt8, PLUS_OP, 127, 1, 0x80},
      {TypeUInt8, MINUS_OP, 0, 1, 0xFF},
      {TypeUInt16, MULT_OP, 0xFFFF, 0xFFFF, 1},
      {TypeSInt64, MULT_OP, kMin64, kOnes, kMin64},
      {TypeInt, PLUS_OP, kOnes, 1, 0},
      {TypeSInt, MINUS_OP, kMin64, 1, kMin64 - 1},
      {TypeTime, MINUS_OP, 0, 1, kOnes},
      {TypeUInt16, PLUS_OP, 0x12340001, 1, 2},  // bytes above the width are ignored
      {TypeSInt32, PLUS_OP, kOnes, 0, 0xFFFFFFFF},
      {TypeSInt16, NEG_OP, 0x8000, 0, 0x8000},
      // Bitwise results stay within the width, never sign-extended.
      {TypeSInt8, BIT_NOT_OP, 0, 0, 0xFF},
      {TypeSInt16, BIT_AND_OP, 0xFFF0, 0x0FFF, 0x0FF0},
      {TypeUInt16, BIT_OR_OP, 0xF000, 0x000F, 0xF00F},
      {TypeSInt64, BIT_XOR_OP, kOnes, 1, kOnes - 1},
      // Quotient toward zero, remainder with the dividend's sign.
      {TypeSInt32, DIV_OP, 0xFFFFFFF9, 2, 0xFFFFFFFD},
      {TypeSInt32, MODULO_OP, 0xFFFFFFF9, 2, 0xFFFFFFFF},
      {TypeUInt8, DIV_OP, 0xF9, 2, 0x7C},
      {TypeSInt16, DIV_OP, 5, 0xFFFF, 0xFFFB},
      {TypeUInt8, DIV_OP, 0x80, 0xFF, 0},  // unsigned: all ones is no -1
      // Faults report their kind; the result stands if the callback returns.
      {TypeUInt16, DIV_OP, 7, 0, 0, kInvalidOpDivisionByZero},
      {TypeUInt16, MODULO_OP, 7, 0, 0, kInvalidOpModuloZero},
      {TypeUInt8, DIV_OP, 9, 0x100, 0, kInvalidOpDivisionByZero},  // zero at the width
      {TypeSInt16, DIV_OP, 0x8000, 0xFFFF, 0x8000, kInvalidOpDivideMinByMinusOne},
      {TypeSInt16, MODULO_OP, 0x8000, 0xFFFF, 0, kInvalidOpModuloMinByMinusOne},
  });
}

TEST_F(Operators, ShiftCountsUseTheLowByteAndComparisonsFollowSignedness) {
  check({
      {TypeSInt8, SHIFT_RIGHT_OP, 0xFF, 3, 0xFF},
      {TypeUInt8, SHIFT_RIGHT_OP, 255, 3, 31},
      {TypeSInt32, SHIFT_LEFT_OP, 1, 31, 0x80000000},
      {TypeSInt64, SHIFT_RIGHT_OP, static_cast<uint64_t>(-8), 70, kOnes},
      // Narrow types shift at 32 bits, then truncate.
      {TypeUInt8, SHIFT_LEFT_OP, 1, 8, 0},
      {TypeUInt8, SHIFT_LEFT_OP, 1, 260, 16},  // low byte 4
      {TypeSInt8, SHIFT_RIGHT_OP, 0x80, 40, 0xFF},
      {TypeUInt32, SHIFT_LEFT_OP, 1, 256, 1},  // low byte 0
      {TypeUInt32, SHIFT_LEFT_OP, 1, 32, 0},
      {TypeSInt32, SHIFT_RIGHT_OP, 0x80000000, 32, 0xFFFFFFFF},
      {TypeSInt32, SHIFT_RIGHT_OP, 0x7FFFFFFF, 255, 0},
      // 64-bit types shift at 64 bits.
      {TypeUInt64, SHIFT_LEFT_OP, 1, 64, 0},
      {TypeUInt64, SHIFT_RIGHT_OP, kMin64, 63, 1},
      // Comparisons.
      {TypeUInt8, LT_OP, 0x80, 0x7F, 0},
      {TypeSInt8, LT_OP, 0x80, 0x7F, 1},
      {TypeUInt32, GT_OP, 0xFFFFFFFF, 0, 1},
      {TypeSInt32, GT_OP, 0xFFFFFFFF, 0, 0},
      {TypeSInt64, CLE_OP, kMin64, kMin64 - 1, 1},
      {TypeUInt64, CLE_OP, kMin64, kMin64 - 1, 0},
      {TypeUInt8, CLE_OP, 5, 5, 1},
      {TypeUInt16, CGE_OP, 5, 5, 1},
      {TypeSInt16, CGE_OP, 0xFFFF, 0, 0},
      {TypeUInt8, CEQ_OP, 0x101, 0x001, 1},
      {TypeUInt16, CNE_OP, 0x10001, 0x00001, 0},
      {TypeDuration64, LT_OP, kOnes, 0, 1},
      {TypeTime64, LT_OP, kOnes, 0, 0},
      {TypeSInt, GT_OP, 0, kOnes, 1},
      {TypeInt, GT_OP, 0, kOnes, 0},
  });
}

TEST_F(Operators, FloatOperatorsComputeInTheirOwnPrecision) {
  check({
      {TypeF32, DIV_OP, f32(1.0f), f32(-0.0f), f32(0.0f), kInvalidOpDivisionByZero},
      {TypeF64, DIV_OP, f64(-3.0), f64(0.0), f64(0.0), kInvalidOpDivisionByZero},
      {TypeF64, DIV_OP, f64(7.0), f64(2.0), f64(3.5)},
      {TypeF32, PLUS_OP, f32(16777216.0f), f32(1.0f), f32(16777216.0f)},
      {TypeF64, PLUS_OP, f64(16777216.0), f64(1.0), f64(16777217.0)},
      {TypeF32, MINUS_OP, f32(1.5f), f32(4.0f), f32(-2.5f)},
      {TypeF64, MULT_OP, f64(1.5), f64(-4.0), f64(-6.0)},
      {TypeF64, NEG_OP, f64(0.0), 0, f64(-0.0)},
      {TypeF32, LT_OP, f32(-1.0f), f32(0.5f), 1},
      {TypeF64, GT_OP, f64(-1.0), f64(0.5), 0},
      {TypeF64, CLE_OP, f64(0.5), f64(0.5), 1},
      {TypeF32, CGE_OP, f32(-0.0f), f32(0.0f), 1},
      {TypeF32, CGE_OP, f32(NAN), f32(NAN), 0},
  });
}

TEST_F(Operators, BooleanOperatorsAndUnsupportedOperators) {
  check({
      {TypeBoolean, CEQ_OP, 0x100, 0, 1},  // only the first byte counts
      {TypeBoolean, CEQ_OP, 0, 1, 0},
      {TypeBoolean, CNE_OP, 1, 0, 1},
      {TypeBoolean, NOT_OP, 1, 0, 0},
      {TypeBoolean, NOT_OP, 0x100, 0, 1},
  });

  struct Bad {
    uint32_t type, op;
    const char* output;
  };
  for (const Bad& c : {Bad{TypeF64, CEQ_OP, "unknown float operator\n"},
                       Bad{TypeF32, MODULO_OP, "unknown float operator\n"},
                       Bad{TypeBoolean, PLUS_OP, "unknown boolean operator\n"}}) {
    SCOPED_TRACE(std::string(kBuiltinTypeNames[c.type]) + " " + AST_opName(c.op));
    StdoutCapture out;
    EXPECT_THROW(apply(c.type, c.op, 1, 1), HostExit);
    EXPECT_EQ(out.text(), c.output);
  }
  EXPECT_THROW(apply(TypeUInt8, NOT_OP, 1, 1), HostAssert);  // an internal error
}

// The names themselves are shown by the golden runs.
TEST(InvalidOpNames, AnUnknownKindStillHasAName) {
  EXPECT_NE(InvalidOp_getName(kInvalidOpCount), nullptr);
}

}  // namespace
