// Process activations: one step (or several, while `continue` is set) of an
// instance's state machine.
//
// A step announces the initial state on the instance's very first step, or
// else evaluates the current state's transitions (first enabled wins), then
// runs the common block, the state's block and the finally block. In
// simulated mode the execution times the code assigned are charged to the
// clock: the transition scope's and the state's `execution_time`, named
// blocks, then the instance's own `execution_time`.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

// Runs one activation of `instance` (a Process_Instance value) as an instance
// of the definition; staticBase is its first static entry or NO_ID.
void process_executeCall(InterpEnv* env, uint32_t processDefinitionId, uint32_t staticBase,
                         const AST_Node* args, TaggedValue instance);

// Evaluates the transitions of a state; returns 1 when one fired.
uint32_t executeNamedStateTransitions(InterpEnv* env, const AST_Node* stateStmt,
                                      TaggedValue instance);
// Runs a state's block with its timing.
void executeNamedState(InterpEnv* env, const AST_Node* stateStmt);

// Call code 5: the sub-process instance `subIndex` of the running instance,
// run to completion inside the caller's step.
TaggedValue process_subProcessCall(InterpEnv* env, uint32_t subIndex, const AST_Node* args);
