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
  uint32_t record = b.structType("Record", {{"a", TypeUInt8}, {"q", b.queueType(TypeUInt8, 2)}});
  uint32_t g = b.global("g", TypeUInt32, {41});
  N constant = b.constDecl(TypeUInt16, "k", {1234});
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
  // Restoring counts above the live ones is a bug.
  EXPECT_DEATH(Variable_restorePrevLocalVarCounts(env.get(), LocalVarsCounts{1, 0, 1}),
               "count.variables >=");
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
  LocalConstant_define(env.get(), AST_fromId(env->program.get(), constant.id));
  TaggedValue* k = LocalConstant_getValue(env.get(), 0);
  EXPECT_EQ(k->typeId, uint32_t{TypeUInt16});
  EXPECT_EQ(k->value->u16, 1234);
  EXPECT_EQ(k->globalId, NO_ID);
  LocalConstant_decrCount(env.get());
  EXPECT_DEATH(LocalConstant_decrCount(env.get()), "constants > 0");
}
