#include "parserLib/parser_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::string format(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

void report(ParserEnv* penv, bool error, uint32_t code, const char* fmt, va_list args) {
  const std::string message = format(fmt, args);
  const ParserContext& c = penv->pctx;
  const Diagnostic d{error, code, c.fileName, c.line, c.column, message};
  if (c.sink) {
    c.sink(*penv, d);
  } else {
    parser_printConsoleDiagnostic(d);
  }
}

}  // namespace

void parser_printConsoleDiagnostic(const Diagnostic& d) {
  std::fputs(d.error ? "[ERROR]" : "[WARNING]", stdout);
  if (!d.file.empty()) std::printf(" %.*s:", static_cast<int>(d.file.size()), d.file.data());
  if (d.line != 0) std::printf(" Line %zu:", d.line);
  std::fputc(' ', stdout);
  std::fwrite(d.message.data(), 1, d.message.size(), stdout);
}

void parser_error(ParserEnv* penv, uint32_t code, const char* fmt, ...) {
  // What the parser finds after text that ends inside a comment (no closing
  // token, an empty one) follows from that one cause: it is reported once.
  if (penv->pctx.status == kUnclosedCommentError) return;
  // A whole program stops reporting after its first errors (the parse stops
  // soon after too).
  if (!penv->pctx.wholeProgram || penv->pctx.errorCount < kMaxReportedErrors) {
    va_list args;
    va_start(args, fmt);
    report(penv, true, code, fmt, args);
    va_end(args);
  }
  penv->pctx.status = code;
  ++penv->pctx.errorCount;
}

void parser_warning(ParserEnv* penv, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  report(penv, false, 0, fmt, args);
  va_end(args);
  if (penv->pctx.warningsAsErrors) {
    penv->pctx.status = 1;
    ++penv->pctx.errorCount;
  }
}
