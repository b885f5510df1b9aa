// Local declarations and their scopes, as the console compiles them.
//
// Locals get the ids they will have at run time: a console line runs in the
// scope the interpreter is in when it is compiled, so the first local of the
// line takes the next free id of that scope, and blocks stack their locals
// above their parents'. Constants point into the constant data, where their
// value is computed at compile time.
#pragma once

#include <cstdint>

#include "parserLib/parser_data.h"

// Scopes: a block opens one and closes it at its closing brace.
void defVar_openScope(ParserEnv* penv);
void defVar_closeScope(ParserEnv* penv);

// The local of that name in the open scopes (innermost first), or null.
const ParserLocal* defVar_findLocal(const ParserEnv* penv, uint32_t symbol);
const ParserLocal* defVar_findLocalConstant(const ParserEnv* penv, uint32_t symbol);

// The declaration node of `var T : name [= init];` or `const T : name = init;`
// (a buffer type gives the buffer declaration shape); null after an error.
AST_Node* defVar_makeDefinition(ParserEnv* penv, bool constant, uint32_t typeId, AST_Node* name,
                                AST_Node* initializer);
// `var T : name[size]` and `var queue<T> : name[size]`: a new buffer type of
// that kind, element type and size, then the declaration.
// The type of `T[size]` or `queue<T>[size]` (error 179 or 187 when it
// cannot be one); NO_ID after an error.
uint32_t defBuff_makeType(ParserEnv* penv, uint32_t kind, uint32_t element, AST_Node* size);
AST_Node* defBuff_makeDefinition(ParserEnv* penv, bool constant, uint32_t kind, uint32_t element,
                                 AST_Node* name, AST_Node* size, AST_Node* initializer);
// Makes a declaration visible in the current scope (warnings for a name
// already declared in this scope or shadowing a global).
void defVar_declareLocal(ParserEnv* penv, AST_Node* declaration);

// A braced initializer `{a, {b, c}}` of a value of type `typeId`, as cells in
// the constant data: an INITIALIZER_OP node; null after an error.
AST_Node* defVar_makeInitializer(ParserEnv* penv, AST_Node* list, uint32_t typeId);

// The Named_Block local of a labelled block, declared in a new scope that
// the block's own scope nests in.
AST_Node* defVar_makeAndDeclareNamedBlockDefinition(ParserEnv* penv, AST_Node* label);
// The iterator local of `loop over b with it` over the buffer expression.
AST_Node* defIter_makeDeclaration(ParserEnv* penv, AST_Node* buffer, AST_Node* name);

// A type name (error "type \"%s\" do not exist\n" when unknown).
uint32_t defType_lookup(ParserEnv* penv, AST_Node* name);
