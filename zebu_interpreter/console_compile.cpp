// The console's statement compiler: one fresh front end per text.
#include "parserLib/parser_data.h"
#include "zebu_interpreter/interactive.h"

const AST_Node* console_compile(InterpEnv* env, const char* text) {
  std::unique_ptr<ParserEnv> penv = parser_initTables();
  parser_loadProgram(penv.get(), env);
  const int status = parser_parseString(penv.get(), text);
  const uint32_t root = penv->pctx.result;
  parser_freeEnv(std::move(penv));
  if (status != 0 || root == NO_ID) return nullptr;
  return &env->program->RAMprogram[root];
}
