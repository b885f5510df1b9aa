#include "parserLib/def_statement.h"

#include <cstring>

#include "parserLib/def_type.h"
#include "parserLib/diagnostics.h"

namespace {

// Conditions must be booleans: the interpreter reads them as such.
bool isCondition(ParserEnv* penv, AST_Node* condition) {
  if (condition == nullptr) return false;
  const uint32_t type = defType_evaluate(penv, condition);
  if (type == NO_ID) return false;
  if (type != TypeBoolean) {
    diag::condition_not_bool(
        penv, Type_getName(penv->program, TypeBoolean),
        type < penv->program->infoProg->n_type ? Type_getName(penv->program, type) : "?");
    return false;
  }
  return true;
}

}  // namespace

AST_Node* defStmt_makeBlock(ParserEnv* penv, AST_Node* declarations, AST_Node* statements) {
  return parser_makeNodeWord(penv, BLOCK_OP, 0, declarations, statements);
}

AST_Node* defStmt_makeIf(ParserEnv* penv, AST_Node* condition, AST_Node* thenBlock,
                         AST_Node* elsePart) {
  if (!isCondition(penv, condition) || thenBlock == nullptr) return nullptr;
  // The branch list keeps a cell for a missing else.
  AST_Node* elseCell = parser_makeNodeWord(penv, LIST, 0, elsePart, nullptr);
  AST_Node* thenCell =
      elseCell != nullptr ? parser_makeNodeWord(penv, LIST, 0, thenBlock, elseCell) : nullptr;
  if (thenCell == nullptr) return nullptr;
  return parser_makeNodeWord(penv, IF_OP, 0, condition, thenCell);
}

AST_Node* defStmt_makeWhile(ParserEnv* penv, AST_Node* condition, AST_Node* body) {
  if (!isCondition(penv, condition) || body == nullptr) return nullptr;
  return parser_makeNodeWord(penv, WHILE_OP, 0, condition, body);
}

AST_Node* defStmt_makeFor(ParserEnv* penv, AST_Node* init, AST_Node* condition, AST_Node* step,
                          AST_Node* body) {
  if (init == nullptr || !isCondition(penv, condition) || step == nullptr || body == nullptr) {
    return nullptr;
  }
  AST_Node* parts = parser_makeList(penv, init);
  parts = parser_appendList(penv, parts, condition);
  parts = parser_appendList(penv, parts, step);
  if (parts == nullptr || AST_listSize(penv->program, parts) != 3) return nullptr;
  return parser_makeNodeWord(penv, FOR_OP, 0, parts, body);
}

AST_Node* defStmt_makeLoopOver(ParserEnv* penv, AST_Node* iteratorDeclaration, AST_Node* body) {
  if (iteratorDeclaration == nullptr || body == nullptr) return nullptr;
  AST_Node* decl = parser_makeList(penv, iteratorDeclaration);
  if (decl == nullptr) return nullptr;
  return parser_makeNodeWord(penv, LOOPOVER_OP, 0, decl, body);
}

AST_Node* makeNamedBlock(ParserEnv* penv, AST_Node* declaration, AST_Node* block) {
  if (declaration == nullptr || block == nullptr) return nullptr;
  AST_Node* decls = parser_makeList(penv, declaration);
  AST_Node* body = parser_makeList(penv, block);
  if (decls == nullptr || body == nullptr) return nullptr;
  return parser_makeNodeWord(penv, NAMED_BLOCK_OP, 0, decls, body);
}

AST_Node* defineAnnotation(ParserEnv* penv, const std::vector<uint32_t>& path, AST_Node* block) {
  if (block == nullptr || path.empty()) return nullptr;
  const Program* program = penv->program;
  const auto is = [&](size_t i, const char* name) {
    return i < path.size() && std::strcmp(Symbol_getName(program, path[i]), name) == 0;
  };
  if (is(0, "kova") && is(1, "time")) {
    return parser_makeNodeWord(penv, TIME_ANNOTATION, NO_ID, block, nullptr);
  }
  if (is(0, "kova") && is(1, "hardware")) {
    uint32_t variable = NO_ID;
    if (path.size() > 2) {
      for (uint32_t i = 0; i < program->infoProg->n_globalVariables; ++i) {
        if (program->dbg->globalVariableSymbolId[i] == path[2]) variable = i;
      }
    }
    return parser_makeNodeWord(penv, HARDWARE_ANNOTATION, variable, block, nullptr);
  }
  return parser_makeNodeWord(penv, USER_ANNOTATION, 0, block, nullptr);
}
