// Writing a Program as a binary program file (the reader's inverse).
//
// Header, information record, then the 25 sections, each followed by zero
// bytes up to the next multiple of 8. Global constants are written as their
// cell index in the constant data (0 when they have no value) and their type
// id; global and static variables as their type ids only, since their data
// sections follow. Messages go to standard output.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ASTLib/rAST.h"

// Returns 0, or the system error number when opening or closing fails.
int write_storeProgramBinary(Program* program, const char* path);

// Creates or truncates the output file; on failure reports
// "can not create output code file! %s\n" with the system's error text.
FILE* write_flushOutput(const char* path);

// Writes zero bytes until the file length is a multiple of 8.
int write_align(FILE* stream);

// Writes count records of size bytes; a short write reports
// "error while writing progam's binary file\n" and gives 0, else 1.
int fwriteAndCheck(const void* buffer, size_t size, size_t count, FILE* stream);
