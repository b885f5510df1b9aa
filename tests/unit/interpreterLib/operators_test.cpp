// Operator functions on what a source cannot write: literal types, wide cells,
// faults and operators a type does not have.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <utility>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/interp_fixture.h"

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

// Results within each type's width, signed and unsigned shifts and
// comparisons, float precision: the golden run numbers. Here, the literal
// types, cells holding bytes above the width (only a program file has
// them), and the faults.
TEST_F(Operators, LiteralTypesWideCellsAndFaults) {
  check({
      {TypeInt, PLUS_OP, kOnes, 1, 0},
      {TypeSInt, MINUS_OP, kMin64, 1, kMin64 - 1},
      {TypeTime, MINUS_OP, 0, 1, kOnes},
      {TypeSInt, GT_OP, 0, kOnes, 1},
      {TypeInt, GT_OP, 0, kOnes, 0},
      {TypeUInt16, PLUS_OP, 0x12340001, 1, 2},  // bytes above the width are ignored
      {TypeSInt32, PLUS_OP, kOnes, 0, 0xFFFFFFFF},
      {TypeUInt8, CEQ_OP, 0x101, 0x001, 1},
      {TypeUInt16, CNE_OP, 0x10001, 0x00001, 0},
      {TypeBoolean, CEQ_OP, 0x100, 0, 1},  // only the first byte counts
      {TypeBoolean, NOT_OP, 0x100, 0, 1},
      {TypeSInt8, BIT_NOT_OP, 0, 0, 0xFF},  // within the width, never sign-extended
      // Faults report their kind; the result stands if the callback returns.
      {TypeUInt16, DIV_OP, 7, 0, 0, kInvalidOpDivisionByZero},
      {TypeUInt16, MODULO_OP, 7, 0, 0, kInvalidOpModuloZero},
      {TypeUInt8, DIV_OP, 9, 0x100, 0, kInvalidOpDivisionByZero},  // zero at the width
      {TypeSInt16, DIV_OP, 0x8000, 0xFFFF, 0x8000, kInvalidOpDivideMinByMinusOne},
      {TypeSInt16, MODULO_OP, 0x8000, 0xFFFF, 0, kInvalidOpModuloMinByMinusOne},
      {TypeF32, DIV_OP, f32(1.0f), f32(-0.0f), f32(0.0f), kInvalidOpDivisionByZero},
      {TypeF64, DIV_OP, f64(-3.0), f64(0.0), f64(0.0), kInvalidOpDivisionByZero},
  });
}

TEST_F(Operators, UnsupportedOperators) {
  struct Bad {
    uint32_t type, op;
    const char* output;
  };
  for (const Bad& c : {Bad{TypeF64, CEQ_OP, "unknown float operator\n"},
                       Bad{TypeF32, MODULO_OP, "unknown float operator\n"},
                       Bad{TypeBoolean, PLUS_OP, "unknown boolean operator\n"}}) {
    SCOPED_TRACE(std::string(kBuiltinTypeNames[c.type]) + " " + AST_opName(c.op));
    EXPECT_EQ(expectFailure([&] { apply(c.type, c.op, 1, 1); }), c.output);
  }
  EXPECT_THROW(apply(TypeUInt8, NOT_OP, 1, 1), HostAssert);  // an internal error
}

// The names themselves are shown by the golden runs.
TEST(InvalidOpNames, AnUnknownKindStillHasAName) {
  EXPECT_NE(InvalidOp_getName(kInvalidOpCount), nullptr);
}

}  // namespace
