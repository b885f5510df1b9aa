// The console's statement compiler entry point.
#include "zebu_interpreter/interactive.h"

// The source front end that compiles console statements is not part of this
// build yet: every text is reported as not compiled, so typed statements and
// run arguments are refused with the console's own messages.
const AST_Node* console_compile(InterpEnv*, const char*) {
  return nullptr;
}
