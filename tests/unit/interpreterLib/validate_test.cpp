// The program validator: sound programs pass, each kind of damage is refused
// with a line naming what is wrong and where, and the nesting limit holds on
// both sides.
#include "interpreterLib/validate.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "interpreterLib/interp_engine.h"
#include "parserLib/write.h"
#include "tests/support/sample_program.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

std::string refusal(const Program& program) {
  char why[256];
  return validate_program(&program, why, sizeof why) ? "" : why;
}

using Sample = SampleProgram;

struct Case {
  const char* name;
  std::function<void(Program&, const Sample&)> damage;
  const char* expected;
};

AST_Node& at(Program& p, N n) {
  return p.RAMprogram[n.id];
}

uint32_t typeNamed(const Program& p, const std::string& name) {
  for (uint32_t t = 0; t < p.infoProg->n_type; ++t) {
    if (Type_getName(&p, t) == name) return t;
  }
  return NO_ID;
}

}  // namespace

TEST(Validate, SoundProgramPasses) {
  Sample s;
  auto program = s.b.build();
  EXPECT_EQ(refusal(*program), "");
}

TEST(Validate, EachDamageIsRefusedWithWhereAndWhat) {
  const Case cases[] = {
      {"child past the nodes",
       [](Program& p, const Sample& s) { at(p, s.sum).right = p.infoProg->n_AST; },
       "child id past"},
      {"unknown op", [](Program& p, const Sample& s) { at(p, s.sum).op = 64; },
       "unknown op code 64"},
      {"node its own child", [](Program& p, const Sample& s) { at(p, s.sum).left = s.sum.id; },
       "leads back to it"},
      {"symbol offset past the table",
       [](Program& p, const Sample&) {
         p.dbg->symbolTableIndex[3] = p.infoProg->symbolStorageSize;
       },
       "symbol index: entry 3"},
      {"symbol table without its last NUL",
       [](Program& p, const Sample&) {
         p.dbg->symbolTable[p.infoProg->symbolStorageSize - 1] = 'x';
       },
       "does not end with a NUL"},
      {"type named by no symbol",
       [](Program& p, const Sample&) { p.dbg->typeSymbolId[2] = p.infoProg->n_symbols; },
       "type names: record 2"},
      {"base type out of range",
       [](Program& p, const Sample& s) { p.typeTable[s.rec].baseType = p.infoProg->n_type; },
       "base type"},
      {"structure containing itself",
       [](Program& p, const Sample& s) {
         p.RAMprogram[p.RAMprogram[p.typeTable[s.rec].fields].left].value.id.type = s.rec;
       },
       "contains itself"},
      {"storage below the fields",
       [](Program& p, const Sample& s) { p.typeTable[s.rec].storageSize = 1; },
       "storage size 1 below the 2 cells"},
      {"operator without its right operand",
       [](Program& p, const Sample& s) { at(p, s.sum).right = NO_ID; }, "no right operand"},
      {"operator of a structure type",
       [](Program& p, const Sample& s) { at(p, s.sum).value.id.type = s.rec; }, "not primitive"},
      {"global variable out of range",
       [](Program& p, const Sample& s) {
         p.RAMprogram[p.RAMprogram[at(p, s.sum).left].left].value.id.index =
             p.infoProg->n_globalVariables;
       },
       "global variable"},
      {"unknown call code",
       [](Program& p, const Sample& s) { p.RAMprogram[at(p, s.call).left].value.id.index = 999; },
       "unknown call code 999"},
      {"built-in call short of its arguments",
       [](Program& p, const Sample& s) {
         p.RAMprogram[at(p, s.call).right].right = NO_ID;  // max of one value
       },
       "with 1 of its 2 arguments"},
      {"value taken from a call that has none",
       [](Program& p, const Sample& s) {
         p.RAMprogram[at(p, s.call).left].value.id.index = kCallPrintln;
       },
       "does not have"},
      {"function out of range",
       [](Program& p, const Sample&) { p.infoProg->initFunctionId = p.infoProg->n_functions; },
       "init function"},
      {"named block without its own variable",
       [](Program& p, const Sample& s) { p.RAMprogram[at(p, s.named).left].left = NO_ID; },
       "own variable"},
      {"definition without states",
       [](Program& p, const Sample& s) { p.processDefinitionTable[s.child].states = NO_ID; },
       "process definition 0: no state"},
      {"transition to a node that is no state",
       [](Program& p, const Sample& s) {
         const AST_Node& states = p.RAMprogram[p.processDefinitionTable[s.parent].states];
         const AST_Node& dcl = p.RAMprogram[p.RAMprogram[states.left].right];
         const AST_Node& transition = p.RAMprogram[p.RAMprogram[dcl.right].left];
         p.RAMprogram[transition.left].value.id.index = 0;
       },
       "reached state"},
      {"state named by no symbol",
       [](Program& p, const Sample& s) {
         const AST_Node& states = p.RAMprogram[p.processDefinitionTable[s.child].states];
         p.RAMprogram[states.left].value.id.index = p.infoProg->n_symbols;
       },
       "state symbol"},
      {"definition that is its own sub-process",
       [](Program& p, const Sample& s) {
         const AST_Node& subs = p.RAMprogram[p.processDefinitionTable[s.parent].subProcesses];
         p.RAMprogram[p.RAMprogram[subs.left].left].value.id.index = s.parent;
       },
       "its own sub-process"},
      {"static block past the statics",
       [](Program& p, const Sample&) {
         p.processInstanceTable[1].staticBase = p.infoProg->n_processStaticVariables;
       },
       "process instance 1: static block past"},
      {"instance numbered out of order",
       [](Program& p, const Sample&) { p.processGlobalInstanceTable[0].instanceIndex = 1; },
       "top-level instance 0: instance 1"},
      {"system too small for its instances",
       [](Program& p, const Sample&) {
         const uint32_t instance = typeNamed(p, "Process_Instance");
         for (uint32_t t = 0; t < p.infoProg->n_type; ++t) {
           if (p.typeTable[t].baseType == instance) p.typeTable[t].size = 0;
         }
       },
       "cannot hold the 2 top-level instances"},
      {"predefined field missing",
       [](Program& p, const Sample&) {
         // Renames Process_Instance's "wcet" after its "bcet".
         const uint32_t type = typeNamed(p, "Process_Instance");
         const AST_Node& second = p.RAMprogram[p.RAMprogram[p.typeTable[type].fields].right];
         const AST_Node& third = p.RAMprogram[second.right];
         p.RAMprogram[p.RAMprogram[second.left].left].value.id.index =
             p.RAMprogram[p.RAMprogram[third.left].left].value.id.index;
       },
       "(Process_Instance): no field wcet"},
      {"constant past the constant data",
       [](Program& p, const Sample& s) {
         p.globalConstantTable[s.k].value = &p.constantDataTable[p.infoProg->size_constantData - 1];
         p.globalConstantTable[s.k].typeId = s.rec;
       },
       "lies past the constant data"},
  };
  for (const Case& c : cases) {
    Sample s;
    auto program = s.b.build();
    c.damage(*program, s);
    EXPECT_NE(refusal(*program).find(c.expected), std::string::npos)
        << c.name << ": " << refusal(*program);
  }
}

// A long statement list is walked in a loop: its length is no nesting.
TEST(Validate, LongListsAreNoNesting) {
  ProgramBuilder b;
  const uint32_t g = b.global("g", TypeUInt32);
  std::vector<N> statements(3 * kMaxNestingDepth, N{});
  for (N& n : statements) n = b.assign(b.gvar(g), b.integer(1));
  b.function("long", {}, b.block(statements));
  EXPECT_EQ(refusal(*b.build()), "");
}

// Loading refuses with the reader's message and the reason on the next line,
// before anything is initialised.
TEST(Validate, LoadingRefusesAfterTheReadersMessage) {
  Sample s;
  auto program = s.b.build();
  at(*program, s.sum).right = NO_ID;
  const std::string path = tempPath("damaged.ast");
  ASSERT_EQ(write_storeProgramBinary(program.get(), path.c_str()), 0);
  auto env = interp_create();
  TestHost host(env.get());
  StdoutCapture out;
  EXPECT_THROW(interp_load(env.get(), path.c_str()), HostExit);
  EXPECT_EQ(out.text(), "invalid Kova AST file !\nnode " + std::to_string(s.sum.id) +
                            " (PLUS_OP): no right operand\n");
  EXPECT_EQ(env->ctx->fsm_changed_callback, nullptr);
}
