#include "interpreterLib/interp_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "ASTLib/rEnv.h"

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
