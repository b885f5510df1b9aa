// Proof that a program read from a file is fit to run.
//
// The reader only checks that the file holds what its counts announce. The
// evaluator, the scheduler and the loader then walk the tree and the tables
// without checking ids on their hot paths. `validate_program` runs between
// the two and proves, once, everything those walkers rely on: node ids and
// lists, op codes, the ids each op carries against their tables, the child
// shapes each op is walked with, type records (storage sizes, fields,
// no type containing itself), symbol and string offsets, data tables large
// enough for every variable and constant, the instance and static layouts
// of the process definitions, and the predefined structures.
//
// What can only be known while running (local variable ids, values a
// program writes into its own process instances) stays checked where it is
// used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ASTLib/rAST.h"

// The deepest chain of child nodes the evaluator may recurse through (list
// cells that follow one another are walked in a loop and do not count).
inline constexpr uint32_t kMaxNestingDepth = 1000;

// True when the program is fit to run; otherwise false, with one line in
// `why` (NUL-terminated, without a newline) saying what is wrong and where:
// a section, a record or a node id.
bool validate_program(const Program* program, char* why, size_t size);
