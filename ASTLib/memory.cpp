#include "ASTLib/memory.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "ASTLib/kova_assert.h"

namespace {

// The debug channel: kept so that callers state what failed, prints nothing.
void memory_debug(const char* fileName, const char* functionName, unsigned line,
                  const char* variableName) {
  (void)fileName;
  (void)functionName;
  (void)line;
  (void)variableName;
}

[[noreturn]] void onNewFailure() {
  memory_allocFailure("operator new", "new", 0, "object");
}

}  // namespace

void* memory_alloc(size_t count, size_t size, const char* fileName, const char* functionName,
                   unsigned line, const char* variableName) {
  KOVA_ASSERT(fileName != nullptr, "fileName != NULL");
  KOVA_ASSERT(functionName != nullptr, "functionName != NULL");
  KOVA_ASSERT(variableName != nullptr, "variableName != NULL");
  KOVA_ASSERT(size > 0, "size > 0");
  if (count == 0) return nullptr;
  if (count > SIZE_MAX / size) memory_allocFailure(fileName, functionName, line, variableName);
  void* p = std::calloc(count, size);
  if (p == nullptr) memory_allocFailure(fileName, functionName, line, variableName);
  return p;
}

void* memory_realloc(void* var, size_t oldCount, size_t newCount, size_t size, const char* fileName,
                     const char* functionName, unsigned line, const char* variableName) {
  if (oldCount == 0) {
    KOVA_ASSERT(var == nullptr, "var == NULL");
    return memory_alloc(newCount, size, fileName, functionName, line, variableName);
  }
  KOVA_ASSERT(var != nullptr, "var != NULL");
  if (newCount == 0) {
    std::free(var);
    return nullptr;
  }
  if (newCount > SIZE_MAX / size) memory_allocFailure(fileName, functionName, line, variableName);
  void* p = std::realloc(var, newCount * size);
  if (p == nullptr) memory_allocFailure(fileName, functionName, line, variableName);
  if (newCount > oldCount) {
    std::memset(static_cast<char*>(p) + oldCount * size, 0, (newCount - oldCount) * size);
  }
  return p;
}

void memory_allocFailure(const char* fileName, const char* functionName, unsigned line,
                         const char* variableName) {
  std::fputs("Memory error\n", stdout);
  memory_debug(fileName, functionName, line, variableName);
  std::fflush(stdout);
  std::exit(kMemoryErrorStatus);
}

void memory_checkErrno(int error, const char* fileName, const char* functionName, unsigned line,
                       const char* variableName) {
  if (error == ENOMEM) memory_allocFailure(fileName, functionName, line, variableName);
}

void memory_installNewHandler() {
  std::set_new_handler(onNewFailure);
}
