// Value conversion, the `as` method on a primitive type name.
//
// Unlike a cast, which keeps the bits and changes the tag, a conversion keeps
// the value as far as the target type can hold it: integers out of range
// saturate at the target's FIRST or LAST, floats are truncated toward zero
// and saturate, booleans become 0 or 1 and numbers become booleans by
// comparison with zero. The classification comes from the primitive
// conversions of the typing library; this module decides what each outcome
// becomes.
//
// `expr_conversion(env, toTypeId, value)` is declared with the evaluator's
// interface (interp_expr.h). It pushes one cell tagged `toTypeId`. Targets are
// the sized integer types, time64, duration64, bool, float32 and float64; any
// other fails with "unsupported type conversion\n". The literal types Natural
// and Signed_Integer as targets, or a non-primitive source for an integer
// target, are internal errors.
#pragma once

#include "interpreterLib/interp_expr.h"
