// Allocation of the program's and the interpreter's tables.
//
// Every table is zero-filled storage obtained here, so that exhaustion ends
// the process the same way everywhere: "Memory error\n" on standard output and
// exit status 10. `memory_installNewHandler` routes `std::bad_alloc` (standard
// containers) to the same end. Tables are owned through `MemArray`, which
// frees them with the allocator that made them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

inline constexpr int kMemoryErrorStatus = 10;

// Zero-filled storage for count x size bytes; count 0 gives null. The three
// names and `line` identify the requester for the debug output.
void* memory_alloc(size_t count, size_t size, const char* fileName, const char* functionName,
                   unsigned line, const char* variableName);

// Resizes `var` from oldCount to newCount elements; the added elements are
// zero-filled. oldCount 0 requires `var` null and allocates; newCount 0 frees
// and gives null.
void* memory_realloc(void* var, size_t oldCount, size_t newCount, size_t size, const char* fileName,
                     const char* functionName, unsigned line, const char* variableName);

[[noreturn]] void memory_allocFailure(const char* fileName, const char* functionName, unsigned line,
                                      const char* variableName);

// For a library call that failed with `error` (an errno value): ENOMEM ends
// the process like memory_alloc does; any other error is the caller's.
void memory_checkErrno(int error, const char* fileName, const char* functionName, unsigned line,
                       const char* variableName);

// Makes operator new failures end like memory_alloc failures.
void memory_installNewHandler();

struct MemoryFree {
  void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using MemArray = std::unique_ptr<T[], MemoryFree>;

// Typed front ends of the two functions above.
template <class T>
MemArray<T> memory_allocArray(size_t count, const char* fileName, const char* functionName,
                              unsigned line, const char* variableName) {
  return MemArray<T>(
      static_cast<T*>(memory_alloc(count, sizeof(T), fileName, functionName, line, variableName)));
}

template <class T>
void memory_reallocArray(MemArray<T>& array, size_t oldCount, size_t newCount, const char* fileName,
                         const char* functionName, unsigned line, const char* variableName) {
  T* old = array.release();
  array.reset(static_cast<T*>(memory_realloc(old, oldCount, newCount, sizeof(T), fileName,
                                             functionName, line, variableName)));
}

// MEM_ALLOC(T, count, "label"): the usual call with the caller's location.
#define MEM_ALLOC(T, count, label) \
  memory_allocArray<T>((count), __FILE__, __func__, __LINE__, label)
#define MEM_REALLOC(array, oldCount, newCount, label) \
  memory_reallocArray((array), (oldCount), (newCount), __FILE__, __func__, __LINE__, label)
