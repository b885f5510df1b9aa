// The callbacks every new environment starts with: they do nothing (or keep
// simulated time), so an environment without a host runs silently.
#pragma once

#include <cstdint>

#include "ASTLib/rENV.h"

void defaultCallback_print(InterpEnv* env, uint8_t c);
void defaultCallback_exit(InterpEnv* env, uint32_t line, uint8_t status);
void defaultCallback_assert(InterpEnv* env, uint32_t condition, const char* file, uint32_t line,
                            const char* function, const char* expression);
void defaultCallback_syncio(InterpEnv* env);
void defaultCallback_delay(InterpEnv* env, uint64_t duration);  // env_addTime
uint64_t defaultCallback_random(InterpEnv* env);                // 0
void defaultCallback_random_seed(uint64_t seed);
void defaultCallback_invalidOp(InterpEnv* env, const AST_Node* node, uint32_t kind);
uint32_t defaultCallback_varChange(InterpEnv* env, uint32_t globalId, uint32_t kind,
                                   TaggedValue newValue);  // 0: interpreter assigns
uint32_t defaultCallback_varRead(InterpEnv* env, uint32_t globalId);
void defaultCallback_fsmChanged(InterpEnv* env, TaggedValue instance, uint32_t kind,
                                uint32_t value);
void defaultCallback_processActivation(InterpEnv* env, TaggedValue instance, uint32_t event);
