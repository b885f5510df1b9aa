// Diagnostics of the front end, handed to the environment's sink (by
// default the console's format on standard output, see DiagnosticSink).
// An error stores its code as the front end's status and is counted; a
// warning counts as an error when warnings are errors. Nothing here ends
// the process: callers stop on the status.
#pragma once

#include <cstdint>

#include "parserLib/parser_data.h"

// The text ended inside a block comment; nothing is reported after it.
inline constexpr uint32_t kUnclosedCommentError = 888;

void parser_error(ParserEnv* penv, uint32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void parser_warning(ParserEnv* penv, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The default sink's text of a diagnostic, without the message's own newline.
void parser_printConsoleDiagnostic(const Diagnostic& d);
