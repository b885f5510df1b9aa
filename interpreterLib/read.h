// Reading a binary program file into a Program.
//
// The file is a memory image: 24-byte header, the 200-byte information record,
// then 25 sections each padded to a multiple of 8 bytes from the start of the
// file. Before allocating anything the reader checks that the file is long
// enough for every count of the information record, so a hostile count can
// neither exhaust memory nor make a read run past the file; a type id that
// would index past the type table is refused as well.
//
// Failures go through interp_failure ("could not read input code file !\n",
// "invalid Kova AST file !\n", "using old Kova AST file, parse required\n");
// if the exit callback returns, the reader returns the failed step's number:
// 1 opening, 2 header, 3 magic or version, 4 information record, 5 to 29 the
// sections 1 to 25. The file is closed on every path.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ASTLib/rENV.h"

// Returns 0 on success, else the number of the step that failed.
int readBinary_AST(InterpEnv* env, Program* program, Dbg* dbg, const char* path);

// The same from a stream open for reading at its start; the caller closes it.
int readBinary_ASTStream(InterpEnv* env, Program* program, Dbg* dbg, FILE* stream);

// Reads count records of size bytes; a short read reports
// "invalid Kova AST file !\n" and gives 0, else 1.
int freadAndCheck(InterpEnv* env, void* buffer, size_t size, size_t count, FILE* stream);

// Skips forward to the next multiple of 8 from the start of the file.
void read_align(FILE* stream);
