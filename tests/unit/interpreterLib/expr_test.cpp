// Expression evaluation: literals, references, assignments, arrays, casts,
// short-circuit logic, host callbacks, exits and the evaluation stack.
#include <gtest/gtest.h>

#include <bit>
#include <tuple>
#include <utility>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

std::vector<std::pair<uint32_t, uint64_t>> gChanges;
uint32_t gChangeResult = 0;
uint32_t gReads = 0;

uint32_t recordChange(InterpEnv*, uint32_t globalId, uint32_t kind, TaggedValue v) {
  gChanges.emplace_back(globalId * 10 + kind, v.value->u64);
  return gChangeResult;
}

uint32_t countRead(InterpEnv*, uint32_t) {
  ++gReads;
  return 0;
}

struct ExprTest : InterpFixture {
  void SetUp() override {
    gChanges.clear();
    gChangeResult = 0;
    gReads = 0;
  }
};

}  // namespace

// Literals, casts and type references: each node's type and cell (time
// units, conversions, short circuits and enumeration literals: the golden
// runs statements and numbers).
TEST_F(ExprTest, Values) {
  const uint32_t v = b.global("v", TypeSInt32, {300});
  const uint32_t color = b.enumType("Color", {"RED", "GREEN"});
  const std::tuple<N, uint32_t, uint64_t> cases[] = {
      {b.integer(-1), TypeInt, ~0ull},
      {b.f32(2.5f), TypeF32, std::bit_cast<uint32_t>(2.5f)},
      {b.f64(-1.25), TypeF64, std::bit_cast<uint64_t>(-1.25)},
      {b.cast(TypeUInt8, b.gvar(v)), TypeUInt8, 44},  // a cast copies bits
      {b.typeRef(color), TypeType, color},
  };
  load();
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& [n, type, bits] = cases[k];
    SCOPED_TRACE(k);
    const TaggedValue r = eval(n);
    const uint64_t cell = type == TypeUInt8 ? r.value->u8 : r.value->u64;  // casts keep the rest
    EXPECT_EQ(std::pair(r.typeId, cell), std::pair(type, bits));
    EXPECT_EQ(r.globalId, NO_ID);
  }
  EXPECT_TRUE(host->invalidOps.empty());
  interpStack_reset(env.get());
  eval(std::get<0>(cases[3]));
  EXPECT_EQ(env->ctx->stack_used, 2u);  // a forced-type push of one cell takes two
}

// Assignments, element ones included, go through the change callback, which
// may take them over; elements keep their array's global id.
TEST_F(ExprTest, AssignmentsGoThroughTheChangeCallback) {
  const uint32_t x = b.global("x", TypeUInt16, {3});
  const uint32_t arr = b.global("a", b.arrayType(TypeUInt32, 3));
  N assign = b.assign(b.gvar(x), b.integer(9));
  N assign11 = b.assign(b.gvar(x), b.integer(11));
  N element = b.assign(b.index(b.gvar(arr), b.integer(2)), b.integer(77));
  N read = b.index(b.gvar(arr), b.integer(2));
  load();
  env_on_any_variable_change(env.get(), recordChange);
  env_on_any_variable_read(env.get(), countRead);
  exec(assign);
  exec(element);
  EXPECT_EQ(globalU64(x), 9u);
  EXPECT_EQ(gChanges, (std::vector<std::pair<uint32_t, uint64_t>>{{x * 10 + kVarAssign, 9},
                                                                  {arr * 10 + kVarAssign, 77}}));
  const TaggedValue r = eval(read);
  EXPECT_EQ(std::tuple(r.globalId, r.typeId, r.value->u32),
            std::tuple(arr, uint32_t{TypeUInt32}, 77u));
  EXPECT_EQ(gReads, 3u);  // once for each assignment's target, once for the read
  gChangeResult = 1;      // the host takes the assignment over
  exec(assign11);
  EXPECT_EQ(globalU64(x), 9u);
}

// A 64-bit negative index is a front-end bug (negative and past-the-end
// indexes: the golden runs negative_index and bounds).
TEST_F(ExprTest, SixtyFourBitNegativeIndexIsAnInternalError) {
  const uint32_t arr = b.global("a", b.arrayType(TypeUInt8, 5));
  const uint32_t i64 = b.global("i64", TypeSInt64, {~0ull});
  N neg64 = b.index(b.gvar(arr), b.gvar(i64));
  load();
  EXPECT_THROW(eval(neg64), HostAssert);
}

// Exit codes are taken modulo 256 (code 3 and assertion texts: the golden runs).
TEST_F(ExprTest, UnknownOpsExitAndAssert) {
  const uint32_t big = b.global("big", TypeSInt32, {300});
  N bogus = b.node(64, 0u);
  N statement = b.node(WHILE_OP, 0u);
  N exit300 = b.call(kCallExit, TypeStatement, none, {b.gvar(big), b.integer(4)});
  N passing = b.assertThat(b.boolean(true), "m", 8, "true");
  load();
  EXPECT_EQ(expectFailure([&] { eval(bogus); }), "unknown operator/statement (64)\n");
  EXPECT_EQ(expectFailure([&] { eval(statement); }), "unknown operator/statement (75)\n");
  EXPECT_EQ(expectFailure([&] { exec(exit300); }, 44), "");
  exec(passing);
}

TEST_F(ExprTest, TimeCallsAndAdjustment) {
  N now = b.call(kCallTime, TypeTime64, none);
  N adjust = b.call(kCallAdjustTime, TypeStatement, b.typeRef(TypeTime64), {b.ms(2)});
  N sleep = b.call(kCallSleep, TypeStatement, none, {b.ms(5)});
  load();
  exec(sleep);
  EXPECT_EQ(eval(now).value->u64, 5000000000ull);
  env->ctx->sched_now = env_getLocalTime(env.get());
  exec(adjust);
  EXPECT_EQ(eval(now).value->u64, 3000000000ull);
  EXPECT_EQ(env->ctx->sched_now, 3000000000ull);
}
