#include "interpreterLib/interp_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "ASTLib/rEnv.h"
#include "interpreterLib/interp_expr.h"

namespace {

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

void interp_failure(InterpEnv* env, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = vformat(format, args);
  va_end(args);
  env_failure(env, message.c_str());
}

void interp_debug(InterpEnv*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

const char* InterpEnv_getStringAtIndex(const InterpEnv* env, uint32_t index) {
  return Program_getStringAtIndex(env->program.get(), index);
}

void interp_exit(InterpEnv* env, uint32_t line, const AST_Node* codeExpression) {
  const uint8_t code = TaggedValue_asUInt8(expr_execute(env, codeExpression), CONV_ANY_INTEGER);
  ENV_CHECK(env, env->ctx->exit_callback != nullptr, "env->ctx->exit_callback != NULL");
  env->ctx->exit_callback(env, line, code);
}

void interp_assert(InterpEnv* env, uint32_t line, const AST_Node* conditionExpression,
                   const AST_Node* fileNode, const AST_Node* expressionNode) {
  if (TaggedValue_asBoolean(expr_execute(env, conditionExpression), CONV_EXACT)) return;
  ENV_CHECK(env, env->ctx->assert_callback != nullptr, "env->ctx->assert_callback!= NULL");
  const char* file = InterpEnv_getStringAtIndex(env, fileNode->value.id.index);
  const char* expression = InterpEnv_getStringAtIndex(env, expressionNode->value.id.index);
  env->ctx->assert_callback(env, 0, file, line, "", expression);
}
