// Expression evaluation: literals, references, assignments, arrays, casts,
// short-circuit logic, host callbacks and the evaluation stack.
#include <gtest/gtest.h>

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

TEST_F(ExprTest, LiteralsAndTimeUnits) {
  N two_s = b.s(2), one_ms = b.ms(1), us = b.us(3), ns = b.ns(4), ps = b.ps(5);
  N scaled = b.timeOf(MS_OP, b.integer(7));
  N f = b.f32(2.5f), d = b.f64(-1.25), t = b.boolean(true), i = b.integer(-1);
  load();
  struct Case {
    N node;
    uint32_t type;
    uint64_t bits;
  };
  for (const Case& c :
       {Case{two_s, TypeTime, 2000000000000ull}, Case{one_ms, TypeTime, 1000000000ull},
        Case{us, TypeTime, 3000000ull}, Case{ns, TypeTime, 4000ull}, Case{ps, TypeTime, 5ull},
        Case{scaled, TypeTime, 7000000000ull}, Case{t, TypeBoolean, 1}, Case{i, TypeInt, ~0ull}}) {
    const TaggedValue v = eval(c.node);
    EXPECT_EQ(v.typeId, c.type);
    EXPECT_EQ(v.value->u64, c.bits);
    EXPECT_EQ(v.globalId, NO_ID);
  }
  EXPECT_EQ(eval(f).value->f32, 2.5f);
  EXPECT_EQ(eval(d).value->f64, -1.25);
}

TEST_F(ExprTest, AssignmentGoesThroughTheChangeCallback) {
  const uint32_t x = b.global("x", TypeUInt16, {3});
  N assign = b.assign(b.gvar(x), b.integer(9));
  N assign11 = b.assign(b.gvar(x), b.integer(11));
  load();
  env_on_any_variable_change(env.get(), recordChange);
  exec(assign);
  EXPECT_EQ(globalU64(x), 9u);
  ASSERT_EQ(gChanges.size(), 1u);
  EXPECT_EQ(gChanges[0], std::make_pair(x * 10 + kVarAssign, uint64_t{9}));
  gChangeResult = 1;  // the host takes the assignment over
  exec(assign11);
  EXPECT_EQ(globalU64(x), 9u);
}

TEST_F(ExprTest, RightSideIsEvaluatedBeforeTheTarget) {
  const uint32_t arr = b.global("a", b.arrayType(TypeUInt8, 2));
  const uint32_t g = b.global("g", TypeUInt32);
  // f sets g to 1 and gives 5: a[g] = f() must store into a[1].
  const uint32_t f =
      b.function("f", {{Dir::Out, TypeUInt8, "r"}},
                 b.block({b.assign(b.gvar(g), b.integer(1)), b.assign(b.local(0), b.integer(5))}));
  N stmt = b.assign(b.index(b.gvar(arr), b.gvar(g)), b.callFunctionValue(f, TypeUInt8, {}));
  load();
  exec(stmt);
  EXPECT_EQ(global(arr).value[0].u64, 0u);
  EXPECT_EQ(global(arr).value[1].u64, 5u);
}

TEST_F(ExprTest, ElementsKeepTheirArraysGlobalId) {
  const uint32_t arr = b.global("a", b.arrayType(TypeUInt32, 3));
  N stmt = b.assign(b.index(b.gvar(arr), b.integer(2)), b.integer(77));
  N read = b.index(b.gvar(arr), b.integer(2));
  load();
  env_on_any_variable_change(env.get(), recordChange);
  env_on_any_variable_read(env.get(), countRead);
  exec(stmt);
  EXPECT_EQ(gChanges, (std::vector<std::pair<uint32_t, uint64_t>>{{arr * 10, 77}}));
  const TaggedValue v = eval(read);
  EXPECT_EQ(v.globalId, arr);
  EXPECT_EQ(v.typeId, uint32_t{TypeUInt32});
  EXPECT_EQ(v.value->u32, 77u);
  EXPECT_EQ(gReads, 2u);  // once for the assignment's target, once for the read
}

TEST_F(ExprTest, ArrayIndexFaults) {
  const uint32_t arr = b.global("a", b.arrayType(TypeUInt8, 5));
  const uint32_t i8 = b.global("i8", TypeSInt8, {0xFF});
  const uint32_t i32 = b.global("i32", TypeSInt32, {0xFFFFFFFF});
  const uint32_t i64 = b.global("i64", TypeSInt64, {~0ull});
  N neg8 = b.index(b.gvar(arr), b.gvar(i8));
  N neg32 = b.index(b.gvar(arr), b.gvar(i32));
  N neg64 = b.index(b.gvar(arr), b.gvar(i64));
  N past = b.index(b.gvar(arr), b.integer(5));
  load();
  EXPECT_EQ(expectFailure([&] { eval(neg8); }), "Negative array index\n");
  EXPECT_EQ(expectFailure([&] { eval(neg32); }), "Negative array index\n");
  EXPECT_EQ(expectFailure([&] { eval(past); }), "Array index out of bounds (5)\n");
  EXPECT_THROW(eval(neg64), HostAssert);  // a 64-bit negative index is a front-end bug
}

TEST_F(ExprTest, CastCopiesBitsWhereConversionKeepsValues) {
  const uint32_t v = b.global("v", TypeSInt32, {300});
  N cast = b.cast(TypeUInt8, b.gvar(v));
  N as = b.call(kCallAs, TypeUInt8, b.typeRef(TypeUInt8), {b.gvar(v)});
  N castMethod = b.call(kCallCast, TypeUInt8, b.typeRef(TypeUInt8), {b.gvar(v)});
  load();
  const TaggedValue c = eval(cast);
  EXPECT_EQ(c.typeId, uint32_t{TypeUInt8});
  EXPECT_EQ(c.value->u8, 44);
  EXPECT_EQ(env->ctx->stack_used, 2u);  // a forced-type push of one cell takes two
  EXPECT_EQ(eval(as).value->u8, 255);
  EXPECT_EQ(eval(castMethod).value->u8, 44);
}

TEST_F(ExprTest, ShortCircuitSkipsTheRightOperand) {
  // A right operand that divides by zero shows whether it was evaluated.
  N fault =
      b.op(CEQ_OP, TypeUInt8, b.op(DIV_OP, TypeUInt8, b.integer(1), b.integer(0)), b.integer(0));
  N andFalse = b.logic(AND_OP, b.boolean(false), fault);
  N orTrue = b.logic(OR_OP, b.boolean(true), fault);
  N andTrue = b.logic(AND_OP, b.boolean(true), b.boolean(false));
  N notTrue = b.logic(NOT_OP, b.boolean(true));
  load();
  EXPECT_EQ(eval(andFalse).value->boolean, 0);
  EXPECT_EQ(eval(orTrue).value->boolean, 1);
  EXPECT_TRUE(host->invalidOps.empty());
  EXPECT_EQ(eval(andTrue).value->boolean, 0);
  EXPECT_EQ(eval(notTrue).value->boolean, 0);
}

TEST_F(ExprTest, EnumerationLiteralsAndTypeReferences) {
  const uint32_t color = b.enumType("Color", {"RED", "GREEN"});
  N green = b.enumLit(color, "GREEN");
  N type = b.typeRef(color);
  load();
  const TaggedValue v = eval(green);
  EXPECT_EQ(v.typeId, color);
  EXPECT_STREQ(TaggedValue_toString(env->program.get(), v), "GREEN");
  const TaggedValue t = eval(type);
  EXPECT_EQ(t.typeId, uint32_t{TypeType});
  EXPECT_EQ(t.value->u32, color);
}

TEST_F(ExprTest, StackResetsAtStatementsAndOverflows) {
  const uint32_t x = b.global("x", TypeUInt64);
  N sum = b.integer(1);
  for (int i = 0; i < 1700; ++i) sum = b.op(PLUS_OP, TypeUInt64, sum, b.integer(1));
  N huge = b.assign(b.gvar(x), sum);
  N small = b.assign(b.gvar(x), b.op(PLUS_OP, TypeUInt64, b.integer(2), b.integer(3)));
  load();
  exec(small);
  EXPECT_EQ(env->ctx->stack_used, 0u);
  EXPECT_EQ(globalU64(x), 5u);
  EXPECT_EQ(expectFailure([&] { exec(huge); }), "Stack overflow\n");
}

TEST_F(ExprTest, UnknownOpFails) {
  N bogus = b.node(64, 0u);
  N statement = b.node(WHILE_OP, 0u);
  load();
  EXPECT_EQ(expectFailure([&] { eval(bogus); }), "unknown operator/statement (64)\n");
  EXPECT_EQ(expectFailure([&] { eval(statement); }), "unknown operator/statement (75)\n");
}

TEST_F(ExprTest, ExitAndAssert) {
  const uint32_t big = b.global("big", TypeSInt32, {300});
  N exit3 = b.exitWith(b.integer(3), 12);
  N exit300 = b.exitWith(b.gvar(big), 4);
  N failing = b.assertThat(b.boolean(false), "m", 7, "x > 0");
  N passing = b.assertThat(b.boolean(true), "m", 8, "true");
  load();
  try {
    exec(exit3);
    FAIL();
  } catch (const HostExit& e) {
    EXPECT_EQ(e.line, 12u);
    EXPECT_EQ(e.status, 3);
  }
  try {
    exec(exit300);
    FAIL();
  } catch (const HostExit& e) {
    EXPECT_EQ(e.status, 44);
  }
  exec(passing);
  try {
    exec(failing);
    FAIL();
  } catch (const HostAssert& a) {
    EXPECT_EQ(a.file, "m");
    EXPECT_EQ(a.line, 7u);
    EXPECT_EQ(a.function, "");
    EXPECT_EQ(a.expression, "x > 0");
  }
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
