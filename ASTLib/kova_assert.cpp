#include "ASTLib/kova_assert.h"

#include <cstdio>
#include <cstdlib>

void kova_assertFail(const char* text, const char* file, unsigned line, const char* function) {
  std::fflush(stdout);
  std::fprintf(stderr, "kova: %s:%u: %s: Assertion `%s' failed.\n", file, line, function, text);
  std::abort();
}
