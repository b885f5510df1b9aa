#include "ASTLib/default_callback.h"

#include "ASTLib/rEnv.h"

void defaultCallback_print(InterpEnv*, uint8_t) {}

void defaultCallback_exit(InterpEnv*, uint32_t, uint8_t) {}

void defaultCallback_assert(InterpEnv*, uint32_t, const char*, uint32_t, const char*, const char*) {
}

void defaultCallback_syncio(InterpEnv*) {}

void defaultCallback_delay(InterpEnv* env, uint64_t duration) {
  env_addTime(env, duration);
}

uint64_t defaultCallback_random(InterpEnv*) {
  return 0;
}

void defaultCallback_random_seed(uint64_t) {}

void defaultCallback_invalidOp(InterpEnv*, const AST_Node*, uint32_t) {}

uint32_t defaultCallback_varChange(InterpEnv*, uint32_t, uint32_t, TaggedValue) {
  return 0;
}

uint32_t defaultCallback_varRead(InterpEnv*, uint32_t) {
  return 0;
}

void defaultCallback_fsmChanged(InterpEnv*, TaggedValue, uint32_t, uint32_t) {}

void defaultCallback_processActivation(InterpEnv*, TaggedValue, uint32_t) {}
