// Expression evaluation and call execution.
//
// `expr_execute` evaluates one node: literals are pushed on the evaluation
// stack, variables and constants are returned by reference to their storage
// (so the same result can be read or assigned), operators dispatch on the
// operator type stored in the node, calls go to `interp_executeCall`, which
// dispatches on the call code. Assignments and loops over buffers evaluate to
// the no-value result {null, TypeStatement}. Nothing here allocates.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

inline constexpr TaggedValue kNoValue{nullptr, TypeStatement, NO_ID};

// A null node gives the empty value (TypeVoid).
TaggedValue expr_execute(InterpEnv* env, const AST_Node* node);

TaggedValue interp_executeCall(InterpEnv* env, const AST_Node* call);

// Value conversion (the `as` method): the value kept as far as the target
// type holds it, saturating at its bounds; a new stack cell tagged toTypeId.
TaggedValue expr_conversion(InterpEnv* env, uint32_t toTypeId, TaggedValue value);

// A user structure's field (call code 4): the field must lie inside the
// object's type, else the run ends with "Field at cell %u outside its
// structure\n".
TaggedValue field_ofObject(InterpEnv* env, TaggedValue object, uint32_t fieldTypeId,
                           uint32_t offset);

// A condition's truth: the value must be a bool.
bool get_value_boolean(InterpEnv* env, TaggedValue value);

// Local and absolute time pushed as time64.
TaggedValue time_currentUInt64(InterpEnv* env);
TaggedValue time_absoluteUInt64(InterpEnv* env);
