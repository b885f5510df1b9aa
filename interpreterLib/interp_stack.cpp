#include "interpreterLib/interp_stack.h"

#include <cstdlib>

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_error.h"

void interpStack_init(InterpEnv* env) {
  env->ctx->stack = MEM_ALLOC(ValueCell, kStackCells, "env->ctx->stack");
  env->ctx->stack_used = 0;
  env->ctx->stack_floor = 0;
}

ValueCell* interpStack_overflow(InterpEnv* env) {
  interp_failure(env, "Stack overflow\n");
  // The host carried on: recycle the stack rather than write past it.
  Context& ctx = *env->ctx;
  ctx.stack_floor = 0;
  ctx.stack_used = 1;
  ctx.stack[0].u64 = 0;
  return &ctx.stack[0];
}

ValueCell* interpStack_reserve(InterpEnv* env, uint32_t cells) {
  Context& ctx = *env->ctx;
  if (cells >= kStackCells || ctx.stack_used >= kStackCells - cells - 1) {
    interp_failure(env, "Stack overflow\n");
    if (cells >= kStackCells) std::abort();  // nothing sensible is left to hand out
    ctx.stack_floor = 0;
    ctx.stack_used = 0;
  }
  ValueCell* first = &ctx.stack[ctx.stack_used];
  ctx.stack_used += cells + 1;
  return first;
}

TaggedValue interpStack_pushForcedTypeValue(InterpEnv* env, uint32_t typeId, TaggedValue source) {
  const uint32_t storage = Type_getStorageSize(env->program.get(), typeId);
  ValueCell* first = interpStack_reserve(env, storage);
  for (uint32_t i = 0; i <= storage; ++i) first[i].u64 = 0;
  const TaggedValue copy{first, typeId, NO_ID};
  value_set(env, copy, source.value, source.typeId);
  return copy;
}
