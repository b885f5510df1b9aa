// Semantic routines of statements: the nodes the interpreter runs for
// blocks, conditionals, loops, named blocks and annotations. A null part
// (after an error) yields null.
#pragma once

#include <vector>

#include "parserLib/parser_data.h"

AST_Node* defStmt_makeBlock(ParserEnv* penv, AST_Node* declarations, AST_Node* statements);
AST_Node* defStmt_makeIf(ParserEnv* penv, AST_Node* condition, AST_Node* thenBlock,
                         AST_Node* elsePart);
AST_Node* defStmt_makeWhile(ParserEnv* penv, AST_Node* condition, AST_Node* body);
AST_Node* defStmt_makeFor(ParserEnv* penv, AST_Node* init, AST_Node* condition, AST_Node* step,
                          AST_Node* body);
AST_Node* defStmt_makeLoopOver(ParserEnv* penv, AST_Node* iteratorDeclaration, AST_Node* body);
// A labelled block: the label's Named_Block declaration and the block.
AST_Node* makeNamedBlock(ParserEnv* penv, AST_Node* declaration, AST_Node* block);
// @domain:path block: `kova:time` runs its block, `kova:hardware[:var]` is a
// hardware annotation, any other domain is kept but never run.
AST_Node* defineAnnotation(ParserEnv* penv, const std::vector<uint32_t>& path, AST_Node* block);
