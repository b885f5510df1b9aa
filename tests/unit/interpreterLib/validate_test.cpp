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
  const char* expected;  // part of the refusal, which says what is wrong
  std::function<void(Program&, const Sample&)> damage;
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

// The sound sample passes; each damage to it is refused.
TEST(Validate, EachDamageIsRefusedWithWhereAndWhat) {
  const Case cases[] = {
      {"child id past the", [](auto& p, auto& s) { at(p, s.sum).right = p.infoProg->n_AST; }},
      {"unknown op code 64", [](auto& p, auto& s) { at(p, s.sum).op = 64; }},
      {"a child leads back to it", [](auto& p, auto& s) { at(p, s.sum).left = s.sum.id; }},
      {"symbol index: entry 3 at offset",
       [](auto& p, auto&) { p.dbg->symbolTableIndex[3] = p.infoProg->symbolStorageSize; }},
      {"the table does not end with a NUL",
       [](auto& p, auto&) { p.dbg->symbolTable[p.infoProg->symbolStorageSize - 1] = 'x'; }},
      {"type names: record 2 names symbol",
       [](auto& p, auto&) { p.dbg->typeSymbolId[2] = p.infoProg->n_symbols; }},
      {"base type", [](auto& p, auto& s) { p.typeTable[s.rec].baseType = p.infoProg->n_type; }},
      {"contains itself",
       [](auto& p, auto& s) {
         p.RAMprogram[p.RAMprogram[p.typeTable[s.rec].fields].left].value.id.type = s.rec;
       }},
      {"storage size 1 below the 2 cells",
       [](auto& p, auto& s) { p.typeTable[s.rec].storageSize = 1; }},
      {"no right operand", [](auto& p, auto& s) { at(p, s.sum).right = NO_ID; }},
      {"is not primitive", [](auto& p, auto& s) { at(p, s.sum).value.id.type = s.rec; }},
      {"global variable",
       [](auto& p, auto& s) {
         p.RAMprogram[p.RAMprogram[at(p, s.sum).left].left].value.id.index =
             p.infoProg->n_globalVariables;
       }},
      {"unknown call code 999",
       [](auto& p, auto& s) { p.RAMprogram[at(p, s.call).left].value.id.index = 999; }},
      {"with 1 of its 2 arguments",
       [](auto& p, auto& s) {
         p.RAMprogram[at(p, s.call).right].right = NO_ID;  // max of one value
       }},
      {"used for a value it does not have",
       [](auto& p, auto& s) { p.RAMprogram[at(p, s.call).left].value.id.index = kCallPrintln; }},
      {"init function",
       [](auto& p, auto&) { p.infoProg->initFunctionId = p.infoProg->n_functions; }},
      {"its own variable is not declared first",
       [](auto& p, auto& s) { p.RAMprogram[at(p, s.named).left].left = NO_ID; }},
      {"process definition 0: no state",
       [](auto& p, auto& s) { p.processDefinitionTable[s.child].states = NO_ID; }},
      {"the reached state is not a state node",
       [](auto& p, auto& s) {
         const AST_Node& states = p.RAMprogram[p.processDefinitionTable[s.parent].states];
         const AST_Node& dcl = p.RAMprogram[p.RAMprogram[states.left].right];
         const AST_Node& transition = p.RAMprogram[p.RAMprogram[dcl.right].left];
         p.RAMprogram[transition.left].value.id.index = 0;
       }},
      {"state symbol",
       [](auto& p, auto& s) {
         const AST_Node& states = p.RAMprogram[p.processDefinitionTable[s.child].states];
         p.RAMprogram[states.left].value.id.index = p.infoProg->n_symbols;
       }},
      {"is its own sub-process",
       [](auto& p, auto& s) {
         const AST_Node& subs = p.RAMprogram[p.processDefinitionTable[s.parent].subProcesses];
         p.RAMprogram[p.RAMprogram[subs.left].left].value.id.index = s.parent;
       }},
      {"process instance 1: static block past the static variables",
       [](auto& p, auto&) {
         p.processInstanceTable[1].staticBase = p.infoProg->n_processStaticVariables;
       }},
      {"top-level instance 0: instance 1",
       [](auto& p, auto&) { p.processGlobalInstanceTable[0].instanceIndex = 1; }},
      {"cannot hold the 2 top-level instances",
       [](auto& p, auto&) {
         const uint32_t instance = typeNamed(p, "Process_Instance");
         for (uint32_t t = 0; t < p.infoProg->n_type; ++t) {
           if (p.typeTable[t].baseType == instance) p.typeTable[t].size = 0;
         }
       }},
      {"(Process_Instance): no field wcet",
       [](auto& p, auto&) {
         // Renames Process_Instance's "wcet" after its "bcet".
         const uint32_t type = typeNamed(p, "Process_Instance");
         const AST_Node& second = p.RAMprogram[p.RAMprogram[p.typeTable[type].fields].right];
         const AST_Node& third = p.RAMprogram[second.right];
         p.RAMprogram[p.RAMprogram[second.left].left].value.id.index =
             p.RAMprogram[p.RAMprogram[third.left].left].value.id.index;
       }},
      {"lies past the constant data",
       [](auto& p, auto& s) {
         p.globalConstantTable[s.k].value = &p.constantDataTable[p.infoProg->size_constantData - 1];
         p.globalConstantTable[s.k].typeId = s.rec;
       }},
  };
  for (const Case& c : cases) {
    Sample s;
    auto program = s.b.build();
    ASSERT_EQ(refusal(*program), "");
    c.damage(*program, s);
    EXPECT_NE(refusal(*program).find(c.expected), std::string::npos)
        << c.expected << ": " << refusal(*program);
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
