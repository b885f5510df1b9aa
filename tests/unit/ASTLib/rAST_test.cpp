// The program model: node access, lists, construction limits, allocation.
#include "ASTLib/rAST.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/program_builder.h"

using namespace kova_test;

namespace {

// Death tests match standard error; the model reports on standard output.
void stdoutToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

std::unique_ptr<Program> treeOf(uint32_t maxNodes) {
  auto p = Program_create();
  AST_createTree(p.get(), maxNodes);
  AST_createLineIndex(p.get(), maxNodes);
  return p;
}

}  // namespace

TEST(ProgramModel, NodeLimitEndsWithStatus666) {
  // With max N, ids 0..N-2 fit; the next node ends the process.
  auto p = treeOf(3);
  AST_makeNode(p.get(), INTEGER_OP, 0, nullptr, nullptr, 0);
  AST_makeNode(p.get(), INTEGER_OP, 1, nullptr, nullptr, 0);  // id N-2 is the last that fits
  EXPECT_EQ(AST_get_tree_size(p.get()), 2u);
  EXPECT_EXIT(
      {
        stdoutToStderr();
        AST_makeNode(p.get(), INTEGER_OP, 2, nullptr, nullptr, 0);
      },
      testing::ExitedWithCode(kNodeSpaceExhaustedStatus & 0xFF),  // 666 as the OS reports it
      "Error: Memory model too small enlarge using -m option");
}

TEST(ProgramModel, NodesListsAndIterators) {
  auto p = treeOf(32);
  Program* pr = p.get();
  AST_Node* a = AST_makeNode(pr, INTEGER_OP, 10, nullptr, nullptr, 3);
  AST_Node* b = AST_makeNode(pr, INTEGER_OP, 20, nullptr, nullptr, 0);
  AST_Node* c = AST_makeNode(pr, INTEGER_OP, 30, nullptr, nullptr, 0);
  AST_Node* list = AST_makeNode(pr, LIST, 0, a, nullptr, 0);
  AST_addListLast(pr, list, b, 0);
  AST_addListLast(pr, list, c, 0);
  EXPECT_EQ(AST_fromId(pr, NO_ID), nullptr);
  EXPECT_EQ(AST_fromId(pr, 0), a);
  EXPECT_EQ(AST_id(pr, nullptr), NO_ID);
  EXPECT_EQ(AST_lineFromId(pr, 0), 3u);
  EXPECT_DEATH(AST_fromId(pr, AST_get_tree_size(pr)), "id < program->infoProg->n_AST");

  EXPECT_EQ(AST_listSize(pr, list), 3u);
  EXPECT_EQ(AST_listSize(pr, nullptr), 0u);
  EXPECT_EQ(AST_getListNth(pr, list, 2), c);
  EXPECT_EQ(AST_getListNth(pr, list, 3), nullptr);  // n elements: element n is absent
  EXPECT_EQ(AST_getListFirst(pr, list), a);
  EXPECT_EQ(AST_getCar(pr, AST_getListNthRoot(pr, list, 1)), b);

  std::vector<uint32_t> seen;
  for (auto it = ast_it_create(pr, list); ast_it_notEnd(it); ast_it_next(it)) {
    seen.push_back(ast_it_current(it)->value.id.index);
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_DEATH(AST_getCar(pr, a), "AST_getCar");
}

// A call's custom id from its index node's child or its second word;
// declarations' names, types and initializers.
TEST(ProgramModel, CallAndDeclarationShapes) {
  ProgramBuilder b;
  N viaChild = b.call(3, TypeStatement, none, {}, 7);
  N viaWord = b.call(3, TypeStatement, none, {});
  NodeValue v{};
  v.id.index = 4;
  v.id.custom = 9;
  b.at(N{b.at(viaWord).left}).value = v;
  const uint32_t q = b.queueType(TypeUInt8, 4);
  N scalar = b.varDecl(TypeUInt16, "x", b.integer(3));
  N buffer = b.varDecl(q, "q");
  N constant = b.constDecl(TypeUInt8, "k", {5});
  auto p = b.build();
  const Program* pr = p.get();
  EXPECT_EQ(AST_getCustomFuncId(pr, AST_fromId(pr, viaChild.id)), 7u);
  EXPECT_EQ(AST_getCallCode(pr, AST_fromId(pr, viaWord.id)), 4u);
  EXPECT_EQ(AST_getCustomFuncId(pr, AST_fromId(pr, viaWord.id)), 9u);
  EXPECT_STREQ(Symbol_getName(pr, AST_getVarDeclSymId(pr, AST_fromId(pr, scalar.id))), "x");
  EXPECT_STREQ(Symbol_getName(pr, AST_getVarDeclSymId(pr, AST_fromId(pr, buffer.id))), "q");
  EXPECT_EQ(AST_getVarDeclTypeId(pr, AST_fromId(pr, buffer.id)), q);
  EXPECT_EQ(AST_getVarDeclInitializer(pr, AST_fromId(pr, constant.id))->op,
            uint32_t{INITIALIZER_OP});
  EXPECT_DEATH(AST_getVarDeclSymId(pr, AST_getVarDeclInitializer(pr, AST_fromId(pr, scalar.id))),
               "not a value identifier declaration");
}

TEST(Memory, AllocationRules) {
  EXPECT_EQ(memory_alloc(0, 8, "f", "fn", 1, "v"), nullptr);
  auto* p = static_cast<uint32_t*>(memory_alloc(4, sizeof(uint32_t), "f", "fn", 1, "v"));
  p[3] = 7;
  p = static_cast<uint32_t*>(memory_realloc(p, 4, 6, sizeof(uint32_t), "f", "fn", 1, "v"));
  EXPECT_EQ(p[3], 7u);
  EXPECT_EQ(p[4], 0u);  // grown elements are zero
  EXPECT_EQ(p[5], 0u);
  EXPECT_EQ(memory_realloc(p, 6, 0, sizeof(uint32_t), "f", "fn", 1, "v"), nullptr);
  EXPECT_EXIT(
      {
        stdoutToStderr();
        memory_alloc(SIZE_MAX / 2, 16, "f", "fn", 1, "huge");
      },
      testing::ExitedWithCode(kMemoryErrorStatus), "Memory error");
}
