// Local scopes: counters as stacks, references, and the fixed limits.
#include "ASTLib/kova_locals.h"

#include <gtest/gtest.h>

#include "interpreterLib/interp_engine.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

struct LocalsFixture : testing::Test {
  ProgramBuilder b;
  uint32_t five = b.arrayType(TypeUInt64, 5);
  uint32_t four = b.arrayType(TypeUInt64, 4);
  uint32_t record = b.structType("Record", {{"a", TypeUInt8}, {"q", b.queueType(TypeUInt8, 2)}});
  uint32_t g = b.global("g", TypeUInt32, {41});
  std::unique_ptr<InterpEnv> env = interp_create();
  void SetUp() override { env->program = b.build(); }
  const LocalVarsIndexes& idx() { return env->ctx->localVarsIndexes; }
};

}  // namespace

TEST_F(LocalsFixture, BlockScopeRestoresEveryCount) {
  const LocalVarsCounts saved = Variable_getCurrentLocalVarCounts(env.get());
  for (int i = 0; i < 3; ++i) LocalVariable_declare(env.get(), TypeUInt64);
  TaggedValue* r = LocalVariable_declare(env.get(), record);
  EXPECT_EQ(r->value, &env->data->localVariableDataTable[3]);
  EXPECT_EQ(idx().count.variables, 4u);
  EXPECT_EQ(idx().count.variablesData, 3u + b.type(record).storageSize);
  Variable_restorePrevLocalVarCounts(env.get(), saved);
  EXPECT_EQ(idx().count.variables, 0u);
  EXPECT_EQ(idx().count.variablesData, 0u);
}

TEST_F(LocalsFixture, FunctionScopeSeesArgumentsFromZero) {
  LocalVariable_declare(env.get(), TypeUInt8);  // a caller's local
  const LocalVarsIndexes saved = Variable_getCurrentLocalVarIndexes(env.get());
  TaggedValue* a = LocalVariable_declare(env.get(), TypeUInt8);
  TaggedValue* bArg = LocalVariable_declare(env.get(), TypeUInt8);
  TaggedValue* result = LocalVariable_reference(env.get(), &env->program->globalVariableTable[g]);
  Locals_hideNonArgs(env.get(), 3);
  EXPECT_EQ(LocalVariable_getRelativeScopeValue(env.get(), 0), a);
  EXPECT_EQ(LocalVariable_getRelativeScopeValue(env.get(), 1), bArg);
  EXPECT_EQ(LocalVariable_getRelativeScopeValue(env.get(), 2), result);
  // A reference shares the global's storage and keeps its id.
  EXPECT_EQ(result->value, env->program->globalVariableTable[g].value);
  EXPECT_EQ(result->globalId, g);
  {
    // An id past the scope ends the run in order, naming the condition.
    TestHost host(env.get());
    StdoutCapture out;
    EXPECT_THROW(LocalVariable_getRelativeScopeValue(env.get(), 3), HostExit);
    EXPECT_THROW(LocalConstant_getValue(env.get(), 0), HostExit);
    EXPECT_THROW(StaticVaraible_getRelativeScopeValue(env.get(), 0), HostExit);
    EXPECT_EQ(out.text(),
              "variableId < (env->ctx->localVarsIndexes.count.variables - "
              "env->ctx->localVarsIndexes.base.variables)\n"
              "constantId < env->ctx->localVarsIndexes.count.constants\n"
              "staticVarId < (env->program->infoProg->n_processStaticVariables - "
              "env->ctx->localVarsIndexes.base.processStaticVariables)\n");
  }
  Variable_restorePrevLocalVarIndexes(env.get(), saved);
  EXPECT_EQ(idx().base.variables, 0u);
  EXPECT_EQ(idx().count.variables, 1u);
}

TEST_F(LocalsFixture, ConstantsPointIntoConstantData) {
  ProgramBuilder cb;
  N decl = cb.constDecl(TypeUInt16, "k", {1234});
  env->program = cb.build();
  LocalConstant_define(env.get(), AST_fromId(env->program.get(), decl.id));
  TaggedValue* k = LocalConstant_getValue(env.get(), 0);
  EXPECT_EQ(k->typeId, uint32_t{TypeUInt16});
  EXPECT_EQ(k->value->u16, 1234);
  EXPECT_EQ(k->globalId, NO_ID);
  LocalConstant_decrCount(env.get());
  EXPECT_DEATH(LocalConstant_decrCount(env.get()), "constants > 0");
}

// Each limit: the last entry or cell fits, the next one ends the run.
TEST_F(LocalsFixture, LimitsOnBothSides) {
  TestHost host(env.get());
  StdoutCapture out;
  env->ctx->localVarsIndexes.count.variablesData = 3195;
  LocalVariable_declare(env.get(), four);  // 3195 + 4 fits
  env->ctx->localVarsIndexes.count.variablesData = 3195;
  try {
    LocalVariable_declare(env.get(), five);
    FAIL() << "a 5-cell local at 3195 must be refused";
  } catch (const HostExit& e) {
    EXPECT_EQ(e.status, 1);
  }
  env->ctx->localVarsIndexes.count.variablesData = 0;
  env->ctx->localVarsIndexes.count.variables = kMaxLocalVariables - 1;
  LocalVariable_declare(env.get(), TypeUInt8);  // the last entry
  EXPECT_THROW(LocalVariable_declare(env.get(), TypeUInt8), HostExit);
  EXPECT_THROW(LocalVariable_reference(env.get(), &env->program->globalVariableTable[g]), HostExit);
  env->ctx->localVarsIndexes.count.constants = kMaxLocalConstants - 1;
  LocalConstant_allocValue(env.get(), TypeUInt8);
  EXPECT_THROW(LocalConstant_allocValue(env.get(), TypeUInt8), HostExit);
  EXPECT_EQ(out.text(),
            "Local variables data stack overflow\nLocal variables stack overflow\n"
            "Local variables stack overflow\nLocal variables stack overflow\n");
}

TEST_F(LocalsFixture, RestoringAboveTheLiveCountsIsABug) {
  LocalVarsCounts ahead{1, 0, 1};
  EXPECT_DEATH(Variable_restorePrevLocalVarCounts(env.get(), ahead), "count.variables >=");
}
