// Statements, local scopes at run time, user functions and the environment
// set-up of a loaded program.
#include <gtest/gtest.h>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/run_control.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

struct StatementTest : InterpFixture {
  uint32_t x = b.global("x", TypeUInt32);
  uint32_t y = b.global("y", TypeUInt32);
  N incr(uint32_t g, int64_t by = 1) {
    return b.assign(b.gvar(g), b.op(PLUS_OP, TypeUInt32, b.gvar(g), b.integer(by)));
  }
  N less(N l, int64_t v) { return b.op(LT_OP, TypeUInt32, l, b.integer(v)); }
  uint32_t localCount() const { return env->ctx->localVarsIndexes.count.variables; }
};

}  // namespace

// A declaration of a type the program does not have is reported through
// the assertion callback, which ends the run.
TEST_F(StatementTest, ALocalOfNoTypeIsReported) {
  N decl = b.varDecl(TypeUInt64, "a");
  N blk = b.block({}, {decl});
  load();
  env->program->RAMprogram[decl.id].value.id.type = env->program->infoProg->n_type;
  EXPECT_EQ(failedAssert([&] { exec(blk); }).function, "variable_declareLocals");
}

// A program file may give a loop a single statement as its body, which
// the compiler never does.
TEST_F(StatementTest, LoopBodyOfOneStatement) {
  N loop = b.while_(less(b.gvar(x), 3), incr(x));
  load();
  EXPECT_EQ(exec(loop), 0u);
  EXPECT_EQ(globalU64(x), 3u);
  EXPECT_EQ(localCount(), 0u);
}

TEST_F(StatementTest, ExtraArgumentsAreNotEvaluated) {
  const uint32_t f = b.function("g", {{Dir::In, TypeUInt32, "a"}}, b.block({}));
  const uint32_t touch = b.function("touch", {{Dir::Out, TypeUInt32, "r"}},
                                    b.block({incr(x), b.assign(b.local(0), b.integer(0))}));
  N call = b.callFunction(f, {b.integer(1), b.callFunctionValue(touch, TypeUInt32, {})});
  load();
  exec(call);
  EXPECT_EQ(globalU64(x), 0u);
}

TEST_F(StatementTest, NestedCallsKeepTheCallersOperands) {
  // x = 1000 + (2 + double(20)), where double's body runs several statements.
  const uint32_t twice = b.function(
      "double", {{Dir::In, TypeUInt32, "a"}, {Dir::Out, TypeUInt32, "r"}},
      b.block({b.assign(b.gvar(y), b.integer(9)), b.assign(b.gvar(y), b.integer(8)),
               b.assign(b.local(1), b.op(MULT_OP, TypeUInt32, b.local(0), b.integer(2)))}));
  N stmt = b.assign(b.gvar(x), b.op(PLUS_OP, TypeUInt32, b.integer(1000),
                                    b.op(PLUS_OP, TypeUInt32, b.integer(2),
                                         b.callFunctionValue(twice, TypeUInt32, {b.integer(20)}))));
  load();
  exec(stmt);
  EXPECT_EQ(globalU64(x), 1042u);
  EXPECT_EQ(env->ctx->stack_used, 0u);
  EXPECT_EQ(env->ctx->stack_floor, 0u);
}

TEST_F(StatementTest, FunctionsWithEvaluatedValues) {
  b.function("finally", {}, b.block({incr(x, 5)}));
  const uint32_t g = b.function("finally", {{Dir::In, TypeUInt32, "a"}},
                                b.block({b.assign(b.gvar(x), b.local(0))}));
  load();
  const uint32_t argSpec[] = {TypeUInt32, 0};
  EXPECT_EQ(interp_getFunctionID(env.get(), "finally", 1, argSpec), g);  // the last of the name
  StdoutCapture out;
  EXPECT_EQ(interp_getFunctionID(env.get(), "finally", 0, nullptr), NO_ID);
  const uint32_t wrongDirection[] = {TypeUInt32, 1};
  EXPECT_EQ(interp_getFunctionID(env.get(), "finally", 1, wrongDirection), NO_ID);
  const uint32_t wrongType[] = {TypeUInt8, 0};
  EXPECT_EQ(interp_getFunctionID(env.get(), "finally", 1, wrongType), NO_ID);
  EXPECT_EQ(out.text(),
            "Function (finally) requires 1 parameters\n"
            "Wrong direction for parameter 1 of Function (finally)\n"
            "Type mismatch for parameter 1 of Function (finally)\nExpected uint32 found uint8 \n ");
  ValueCell cell{};
  cell.u64 = 33;
  const TaggedValue arg{&cell, TypeUInt32, NO_ID};
  interp_callFunction(env.get(), g, &arg);
  EXPECT_EQ(globalU64(x), 33u);
}

TEST(EngineLookups, FieldOffsetsAndTypes) {
  ProgramBuilder b;
  const uint32_t rec =
      b.structType("Rec", {{"a", TypeUInt8}, {"b", b.arrayType(TypeUInt8, 2)}, {"c", TypeUInt32}});
  auto env = interp_create();
  interp_load_from_program(env.get(), b.build());
  EXPECT_EQ(interp_getStructFieldOffset(env.get(), "Rec", "c"), 3u);
  EXPECT_EQ(interp_getStructFieldOffset(env.get(), "Rec", "zz"), 4u);  // the full size
  EXPECT_EQ(interp_getStructFieldOffset(env.get(), "Nope", "c"), 0u);
  EXPECT_EQ(interp_getStructFieldTypeID(env.get(), "Rec", "c"), uint32_t{TypeUInt32});
  EXPECT_EQ(interp_getStructFieldTypeID(env.get(), "Rec", "zz"), NO_ID);
  EXPECT_EQ(interp_getTypeID(env.get(), "Rec"), rec);
  EXPECT_EQ(interp_getVariableID(env.get(), "system"), 0u);
  EXPECT_EQ(interp_getVariableID(env.get(), "nothing"), NO_ID);
}

TEST(EngineLoad, InstancesGetTheirInitialValues) {
  ProgramBuilder b;
  const uint32_t leaf = b.process("Leaf", {.states = {{"l0", none}}});
  const uint32_t node = b.process("Node", {.statics = {{"n", TypeUInt8, {4}}},
                                           .subs = {{"s1", leaf}, {"s2", leaf}},
                                           .states = {{"first", none}, {"second", none}}});
  b.instance("top", node);
  b.instance("other", leaf);
  auto env = interp_create();
  interp_set_start_pid(env.get(), 100);
  interp_load_from_program(env.get(), b.build());
  InterpEnv* e = env.get();
  const Program* p = e->program.get();
  const TaggedValue system = system_getValue(e);
  const TaggedValue processes = interp_knownField(e, system, kField_System_processes);
  ASSERT_EQ(channel_count(e, processes), 2u);
  // Instances are numbered depth-first: top, s1, s2, other.
  const auto id = [&](TaggedValue inst) {
    return interp_knownField(e, inst, kField_Process_Instance_instance_id).value->u32;
  };
  const TaggedValue t = buffer_getIndexValue(e, processes, 0);
  EXPECT_EQ(id(t), 0u);
  EXPECT_EQ(id(buffer_getIndexValue(e, processes, 1)), 3u);
  EXPECT_EQ(id(p->processStaticVariableTable[0]), 1u);
  EXPECT_EQ(id(p->processStaticVariableTable[1]), 2u);
  EXPECT_EQ(interp_knownField(e, t, kField_Process_Instance_pid).value->u32, 100u);
  EXPECT_EQ(interp_knownField(e, t, kField_Process_Instance_deadline).value->u64,
            0x7FFFFFFFFFFFFFFFull);
  EXPECT_EQ(interp_knownField(e, t, kField_Process_Instance_initializing).value->boolean, 1);
  const uint32_t statePtr = interp_knownField(e, t, kField_Process_Instance_state_ptr).value->u32;
  EXPECT_STREQ(Symbol_getName(p, AST_getStateId(p, AST_fromId(p, statePtr))), "first");
  EXPECT_TRUE(
      is_channel_empty(e, interp_knownField(e, t, kField_Process_Instance_next_activations)));
  // The instance variables are their processes entries.
  EXPECT_EQ(p->globalVariableTable[b.globalId("top")].value, t.value);
  EXPECT_EQ(p->globalVariableTable[b.globalId("other")].value,
            buffer_getIndexValue(e, processes, 1).value);
  EXPECT_EQ(p->processStaticVariableTable[2].value->u64, 4u);  // own static after the subs
  EXPECT_STREQ(TaggedValue_toString(p, interp_knownField(e, system, kField_System_sched_policy)),
               "FIFO");
}

// An `after` whose program file holds no delay waits for nothing: the
// triggered instance, due again at the same instant, leaves `a` at its
// second step. (Were it waiting, `a` would stop the trigger at its third.)
TEST(ProcessStep, AnAfterWithoutDelayFiresAtOnce) {
  ProgramBuilder b;
  const uint32_t go = b.global("go", TypeBoolean, {1});
  const uint32_t steps = b.global("steps", TypeUInt32);
  const N count = b.assign(b.gvar(steps), b.op(PLUS_OP, TypeUInt32, b.gvar(steps), b.integer(1)));
  const N stop = b.assign(b.gvar(go), b.boolean(false));
  const uint32_t p = b.process(
      "P", {.states = {{"a",
                        b.block({count, b.if_(b.op(GT_OP, TypeUInt32, b.gvar(steps), b.integer(2)),
                                              b.block({stop}))}),
                        {after(b.ms(0), "b")}},
                       {"b", b.block({count, stop})}}});
  b.instance("p", p, {.trigger = b.gvar(go)});
  auto program = b.build();
  for (uint32_t i = 0; i < program->infoProg->n_AST; ++i) {
    AST_Node& node = program->RAMprogram[i];
    if (node.op == AFTER_OP) program->RAMprogram[node.left].left = NO_ID;  // the delay
  }
  auto env = interp_create();
  TestHost host(env.get());
  ASSERT_EQ(interp_load_from_program(env.get(), std::move(program)), 0);
  interp_init(env.get());
  interp_run_until(env.get(), 1'000'000'000ull);  // 1 ms
  EXPECT_EQ(env->program->globalVariableTable[steps].value->u32, 2u);
  EXPECT_EQ(env->program->globalVariableTable[go].value->u8, 0u);
}
