// Where the console's lines come from.
//
// On a terminal (standard input is a TTY) with libedit found at build time:
// line editing, history kept in ~/.kova_history, and Tab completion of
// command words and of the program's variable, constant, function, instance
// and built-in call names. On a terminal without libedit, and for piped
// input, lines are read as they come, at most kConsoleLineSize - 1
// characters at a time (a longer line arrives in pieces, each its own command
// line), so piped sessions behave exactly as before.
//
// Waiting for a line is cut short by a stop request (SIGINT): the reader
// then reports kInterrupted and leaves the request for the caller to clear or
// act on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ASTLib/rENV.h"

inline constexpr size_t kConsoleLineSize = 2048;

enum class ConsoleRead { kLine, kEnd, kInterrupted };

// True when standard input is a terminal (decided once).
bool console_isTerminal();
// Prompts and reads the next line (with its line feed when it had one).
// `env` gives the names Tab completes.
ConsoleRead console_readLine(InterpEnv* env, const char* prompt, std::string* line);
// The candidates Tab offers for `prefix`: sorted, without repeats.
std::vector<std::string> console_completions(InterpEnv* env, const std::string& prefix);
