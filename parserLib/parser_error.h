// Diagnostics of the front end, on standard output:
//   "[ERROR]" or "[WARNING]", " %s:" with the file name when one is known,
//   " Line %zu:" with the line when it is known, a blank, then the message.
// An error stores its code as the front end's status and, in exit-on-error
// mode, ends the process with that code; the console turns that mode off.
#pragma once

#include <cstdint>

#include "parserLib/parser_data.h"

// The text ended inside a block comment; nothing is reported after it.
inline constexpr uint32_t kUnclosedCommentError = 888;

void parser_error(ParserEnv* penv, uint32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void parser_warning(ParserEnv* penv, const char* format, ...) __attribute__((format(printf, 2, 3)));
