#include "interpreterLib/interp_engine.h"

#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_stack.h"

std::unique_ptr<InterpEnv> interp_create() {
  auto env = std::make_unique<InterpEnv>();
  env->program = Program_create();
  env->ctx = std::make_unique<Context>();
  env->data = std::make_unique<Data>();
  env->data->localVariableTable =
      MEM_ALLOC(TaggedValue, kMaxLocalVariables, "env->data->localVariableTable");
  env->data->localConstantTable =
      MEM_ALLOC(TaggedValue, kMaxLocalConstants, "env->data->localConstantTable");
  env->data->localVariableDataTable =
      MEM_ALLOC(ValueCell, kMaxLocalData, "env->data->localVariableDataTable");
  env->ctx->startPid = 0;
  interpStack_init(env.get());
  InterpEnv* e = env.get();
  env_on_syncio_input(e, nullptr);
  env_on_syncio(e, nullptr);
  env_on_get_local_time(e, nullptr);
  env_on_get_absolute_time(e, nullptr);
  env_on_exit(e, nullptr);
  env_on_assert(e, nullptr);
  env_on_print(e, nullptr);
  env_on_delay(e, nullptr);
  env_on_random(e, nullptr);
  env_on_random_seed(e, nullptr);
  interpreter_on_invalid_op(e, nullptr);
  return env;
}
