// The grammar of console input: "$" followed by one statement or one
// expression, compiled against the running program.
//
// A recursive-descent parser over the tokens of kova_lex; each parse function
// sits under the production it parses. Operators bind, loosest first: or,
// and, |, ^, &, equality chains (a == b == c), relational chains
// (a < b <= c), shifts, + -, * / mod, unary - not ~, postfix [] . () and
// unit conversions. The semantic routines (def_*) check names and types and
// build the nodes; the first syntax error ends the parse.
//
// The whole-program declarations (types, globals, functions, processes,
// instances, includes) enter through `parseDeclaration` hooks of the same
// parser when a compiler needs them: nothing here assumes a loaded program
// beyond the `Program` the environment extends.
#pragma once

#include "parserLib/parser_data.h"

// The post symbols of unit conversions, interned once per environment.
void parser_initPostSymbols(ParserEnv* penv);
