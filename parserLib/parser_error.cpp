#include "parserLib/parser_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

void report(const ParserEnv* penv, const char* kind, const char* format, va_list args) {
  std::fputs(kind, stdout);
  if (!penv->pctx.fileName.empty()) std::printf(" %s:", penv->pctx.fileName.c_str());
  if (penv->pctx.line != 0) std::printf(" Line %zu:", penv->pctx.line);
  std::fputc(' ', stdout);
  std::vfprintf(stdout, format, args);
}

}  // namespace

void parser_error(ParserEnv* penv, uint32_t code, const char* format, ...) {
  // What the parser finds after text that ends inside a comment (no closing
  // token, an empty one) follows from that one cause: it is reported once.
  if (penv->pctx.status == kUnclosedCommentError) return;
  va_list args;
  va_start(args, format);
  report(penv, "[ERROR]", format, args);
  va_end(args);
  penv->pctx.status = code;
  if (penv->pctx.exitOnError) {
    std::fflush(stdout);
    std::exit(static_cast<int>(code));
  }
}

void parser_warning(ParserEnv* penv, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(penv, "[WARNING]", format, args);
  va_end(args);
  if (penv->pctx.warningsAsErrors) {
    std::fflush(stdout);
    std::exit(1);
  }
}
