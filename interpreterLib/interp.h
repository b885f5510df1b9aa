// Statements, user function calls, and the primitives that move whole values.
//
// Statement results tell the enclosing loop what is pending: 0 completed,
// 1 a `continue`, 2 a `break`. Every block, loop body and call returns the
// local tables to the counts (calls: the full indexes) it found. The
// evaluation stack is reset at the end of every statement that
// `statement_execute` runs itself (not after blocks, `if`, `break`,
// `continue`); the reset goes back to the floor of the current call.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

enum StatementResult : uint32_t { kStmtDone = 0, kStmtContinue = 1, kStmtBreak = 2 };

// Runs the statement compiled when the compiled evaluator covers it
// (interp_compiled.h), else walks it.
uint32_t statement_execute(InterpEnv* env, const AST_Node* node);
// The tree walker's run of one statement; its sub-statements go through
// statement_execute.
uint32_t statement_walk(InterpEnv* env, const AST_Node* node);
uint32_t statement_block(InterpEnv* env, const AST_Node* declarations, const AST_Node* statements,
                         bool named);
uint32_t statement_if(InterpEnv* env, const AST_Node* condition, const AST_Node* thenStmt,
                      const AST_Node* elseStmt);
void statement_while(InterpEnv* env, const AST_Node* condition, const AST_Node* body);
void statement_for(InterpEnv* env, const AST_Node* init, const AST_Node* condition,
                   const AST_Node* step, const AST_Node* body);
void statement_loopover(InterpEnv* env, const AST_Node* node);

// Declares every local constant and variable of the list, in order: a
// variable is initialised from its initializer or cleared.
void variable_declareLocals(InterpEnv* env, const AST_Node* declarationList);
// Declares `self`, a reference to the instance's Process_Instance value.
TaggedValue* variableDeclareSelf(InterpEnv* env, TaggedValue instance);

// Copies storageSize cells of the destination's type from `source`; a
// structure initializer into a queue or stack leaves the spare slot out.
void value_set(InterpEnv* env, TaggedValue destination, const ValueCell* source,
               uint32_t sourceTypeId);
// Writes the cleared contents of a variable of any type (empty queues and
// stacks, recursively inside structures); returns the cell after the last.
ValueCell* value_clear(InterpEnv* env, TaggedValue variable);
// A structure's field: its cells from `offset` on, with the structure's global id.
TaggedValue field_get(InterpEnv* env, TaggedValue structure, uint32_t fieldTypeId, uint32_t offset);

// User functions: arguments as expressions, as expressions plus the caller's
// result variable (bound by reference after them), or as evaluated values.
void function_executeCall(InterpEnv* env, uint32_t funcId, const AST_Node* args);
void function_executeCallCurrying(InterpEnv* env, uint32_t funcId, const AST_Node* args,
                                  const TaggedValue* result);
void function_executeCallwValues(InterpEnv* env, uint32_t funcId, const TaggedValue* values);
// Bind arguments to parameters; return the number bound.
uint32_t function_executeArgs(InterpEnv* env, const AST_Node* params, const AST_Node* args);
uint32_t function_executeArgswValues(InterpEnv* env, const AST_Node* params,
                                     const TaggedValue* values);

// A duration expression's value in picoseconds (exact or widening); none: 0.
uint64_t time_durationToPs(InterpEnv* env, const AST_Node* expression);
