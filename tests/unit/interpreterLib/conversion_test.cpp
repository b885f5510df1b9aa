// Conversion (`as`), the numeric built-in methods and the FIRST / LAST constants
// where a program file can reach what a source cannot.
#include "interpreterLib/conversion.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/numeric_builtins.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

class Conversion : public ::testing::Test {
 protected:
  // Converts a value held in a cell of its own, outside the stack.
  TaggedValue convert(uint32_t fromType, uint64_t bits, uint32_t toType) {
    source_.u64 = bits;
    return expr_conversion(env_.get(), toType, {&source_, fromType, NO_ID});
  }

  // A list of literals; every list must exist before the program is built.
  template <class T>
  N args(std::initializer_list<T> values) {
    std::vector<N> nodes;
    for (T v : values)
      nodes.push_back(std::is_same_v<T, float>    ? b_.f32(v)
                      : std::is_same_v<T, double> ? b_.f64(v)
                                                  : b_.integer(static_cast<int64_t>(v)));
    return b_.list(nodes);
  }
  const AST_Node* at(N n) { return AST_fromId(env_->program.get(), n.id); }

  std::unique_ptr<InterpEnv> env_ = interp_create();
  TestHost host_{env_.get()};
  ValueCell source_{};
  ProgramBuilder b_;
};

// Which values are kept and which saturate: the golden run numbers.
TEST_F(Conversion, TheResultIsPushedOnTheStack) {
  const TaggedValue r = convert(TypeSInt32, 300, TypeUInt8);
  EXPECT_EQ(typed(r), Cell(TypeUInt8, 255));
  EXPECT_EQ(r.value, &env_->ctx->stack[env_->ctx->stack_used - 1]);
}

TEST_F(Conversion, RefusedTargetsAndSources) {
  const uint32_t color = b_.enumType("Color", {"red", "green"});
  env_->program = b_.build();
  for (const uint32_t to : {uint32_t{TypeTime}, uint32_t{TypeFloat}, uint32_t{TypeStructure}}) {
    SCOPED_TRACE(kBuiltinTypeNames[to]);
    EXPECT_EQ(expectFailure([&] { convert(TypeUInt8, 1, to); }), "unsupported type conversion\n");
  }
  EXPECT_EQ(failedAssert([&] { convert(TypeUInt8, 1, TypeSInt); }).expression,
            "(toTypeId != TypeInt) && (toTypeId != TypeSInt)");
  EXPECT_EQ(failedAssert([&] { convert(color, 1, TypeUInt8); }).expression,
            "false && \"kIcrNotPrimType should not happen\"");
}

// The methods' results and the FIRST / LAST values: the golden run
// numbers. Here, what only a program file can hold: an argument wider than
// its type, arguments of the wrong type or none, a constant of another call.
TEST_F(Conversion, NumericBuiltinsReadArgumentsAtTheirWidth) {
  const N wide = args({511, 254}), f64Arg = args({1.0}), f32Arg = args({1.0f});
  env_->program = b_.build();
  EXPECT_EQ(typed(uInt8_max(env_.get(), at(wide))), Cell(TypeUInt8, 255));  // 511 reads as 255
  EXPECT_EQ(failedAssert([&] { uInt8_max(env_.get(), at(none)); }).expression,
            "ast_it_notEnd(argsIt)");
  EXPECT_EQ(failedAssert([&] { f32_cos(env_.get(), at(f64Arg)); }).expression,
            "val.typeId == TypeF32");
  EXPECT_EQ(failedAssert([&] { f64_sin(env_.get(), at(f32Arg)); }).expression,
            "val.typeId == TypeF64");
  EXPECT_THROW(type_constant(env_.get(), kCallUInt8Max), HostAssert);
}

}  // namespace
