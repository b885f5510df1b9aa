// The interpreter environment's life: creation, loading, destruction.
#pragma once

#include <memory>

#include "ASTLib/rENV.h"

// A new environment: empty program, zeroed context and data, the three local
// tables, the evaluation stack and every default callback.
std::unique_ptr<InterpEnv> interp_create();
