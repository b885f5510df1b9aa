// Semantic routines of expressions: names, operations, assignments,
// elements, fields and user function calls. Each checks its operands, reports
// what is wrong with the front end's diagnostics and builds the typed node;
// a failed check yields no node (null), and constructs over a null operand
// yield null in turn, so a line with an error is never executed.
#pragma once

#include <cstdint>

#include "parserLib/parser_data.h"

// A name used as a value: local, local constant, static, global, global
// constant, type name, the IO object; else error 143.
AST_Node* defVar_makeAccess(ParserEnv* penv, AST_Node* symbol);

// Operations (op codes of the operators).
AST_Node* defExpr_makeArithmeticOp(ParserEnv* penv, uint32_t op, AST_Node* left, AST_Node* right);
AST_Node* defExpr_makeLogicalOp(ParserEnv* penv, uint32_t op, AST_Node* left, AST_Node* right);
AST_Node* defExpr_makeUnaryOp(ParserEnv* penv, uint32_t op, AST_Node* operand);
// Chains a == b == c and a < b <= c into conjunctions of comparisons.
AST_Node* defExpr_makeMultipleEqualityExpression(ParserEnv* penv, AST_Node* chain, uint32_t op,
                                                 AST_Node* right);
AST_Node* defExpr_makeMultipleRelationalExpression(ParserEnv* penv, AST_Node* chain, uint32_t op,
                                                   AST_Node* right);
// (e) unit: e as a duration in that unit; error 216 for another post symbol.
AST_Node* defExpr_makeUnitConversion(ParserEnv* penv, AST_Node* expression, AST_Node* unit);

AST_Node* defExpr_makeAssignment(ParserEnv* penv, AST_Node* target, AST_Node* value);
AST_Node* defBuff_makeArrayCall(ParserEnv* penv, AST_Node* array, AST_Node* index);
// x.f without arguments: an enumeration literal, a built-in field or a
// structure field.
AST_Node* defExpr_makeFieldCall(ParserEnv* penv, AST_Node* object, AST_Node* fieldSymbol);
// f(args): a user function, a local sub-process instance or a cast.
// `leftCurrying` marks x.f(args) written with method syntax (x is already
// the first argument).
AST_Node* make_function_call(ParserEnv* penv, AST_Node* nameSymbol, AST_Node* args,
                             bool leftCurrying);

// Arguments against a parameter list: types, out arguments writable, count.
// A function call missing exactly its last out parameter sets *valueForm
// (the call yields that parameter). False after the diagnostic.
enum class CallKind { Function, SubProcess, Instance };
bool defCall_checkArguments(ParserEnv* penv, const char* name, const AST_Node* params,
                            AST_Node* args, CallKind kind, bool* valueForm);

// Properties the checks rely on.
bool defExpr_isConst(ParserEnv* penv, const AST_Node* expression);
uint32_t defExpr_getAccessRights(ParserEnv* penv, const AST_Node* expression);
bool defExpr_isReadable(ParserEnv* penv, const AST_Node* expression);
bool defExpr_isWritable(ParserEnv* penv, const AST_Node* expression);
