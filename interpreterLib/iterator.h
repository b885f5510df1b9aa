// Iterators: the variable of a loop over an array, a queue or a stack.
//
// An iterator is a local of three cells:
//   0  index of the current element, in the buffer's logical order (the
//      oldest element of a queue, the top of a stack first); NO_ID: none;
//   1  the index the loop moves to after the body; NO_ID: none;
//   2  the address of the loop's TaggedValue of the iterated buffer.
// The buffer expression is evaluated once, when the loop starts, and the
// loop keeps its TaggedValue alive until it ends; the iterator reads the
// buffer through it, so it sees the channel's later changes, and elements
// keep the buffer's global id.
//
// Removing the current element of a channel shifts the following elements
// back by one and sets the next index onto the element that took its place;
// the loop reads the count again before every iteration. A current element
// that no longer exists gives "Invalid iterator\n"; removal from an array
// is refused. Both end the run through interp_failure.
#pragma once

#include <cstdint>
#include <cstring>

#include "ASTLib/rENV.h"

inline constexpr uint32_t kIteratorCells = 3;

// ---------------------------------------------------------------- cells

inline uint32_t iterator_getIndex(TaggedValue iterator) {
  return iterator.value[0].index;
}
inline void iterator_setIndex(TaggedValue iterator, uint32_t index) {
  iterator.value[0].u64 = 0;
  iterator.value[0].index = index;
}
inline void iterator_incrementIndex(TaggedValue iterator) {
  iterator_setIndex(iterator, iterator_getIndex(iterator) + 1);
}
inline uint32_t iterator_getNextIndex(TaggedValue iterator) {
  return iterator.value[1].index;
}
inline void iterator_setNextIndex(TaggedValue iterator, uint32_t index) {
  iterator.value[1].u64 = 0;
  iterator.value[1].index = index;
}
// The buffer of a running loop the iterator's third cell names, or null
// (also for a value too small to be an iterator).
inline TaggedValue* iterator_getBuffer(const InterpEnv* env, TaggedValue iterator) {
  const Program* program = env->program.get();
  if (iterator.value == nullptr || iterator.typeId >= program->infoProg->n_type ||
      program->typeTable[iterator.typeId].storageSize < kIteratorCells) {
    return nullptr;
  }
  const uint64_t handle = iterator.value[2].u64;
  const uint64_t place = handle & 0xFFFFFFFFu;
  const std::vector<Context::LiveIterator>& live = env->ctx->liveIterators;
  if (place >= live.size() || live[place].serial != handle >> 32) return nullptr;
  return live[place].buffer;
}

// ---------------------------------------------------------------- operations

// Declares the iterator of an ITERATOR_DECL_OP node (value word 0: the
// iterator type; right child: the buffer expression). *iteratorId receives
// the iterator's id in the visible scope, *buffer the evaluated buffer, which
// the caller keeps alive for the whole loop. The iterator starts at index 0,
// its next index 1, or NO_ID when the buffer holds one element. Null
// arguments and an iterator type narrower than three cells stop the process.
TaggedValue* iterator_declare(InterpEnv* env, const AST_Node* iteratorDecl, uint32_t* iteratorId,
                              TaggedValue* buffer);
// The loops over buffers at the moment of a declaration, and their end.
inline size_t iterator_liveLoops(const InterpEnv* env) {
  return env->ctx->liveIterators.size();
}
inline void iterator_endLoop(InterpEnv* env, size_t liveBefore) {
  env->ctx->liveIterators.resize(liveBefore);
}

// Whether the index is not that of the last element (channel: the current
// count; array: its size). False for an iterator without a buffer.
bool iterator_has_next(InterpEnv* env, TaggedValue iterator);

// Reference to the current element; without one, "Invalid iterator\n" and
// the empty value.
TaggedValue iterator_current(InterpEnv* env, TaggedValue iterator);

// The index, pushed as a size value.
TaggedValue iterator_index(InterpEnv* env, TaggedValue iterator);

// Whether the current element is the last, pushed as a bool.
TaggedValue iterator_isLast(InterpEnv* env, TaggedValue iterator);

// Removes the current element of a queue or stack; the others keep their
// order. Arrays: "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n"; other kinds:
// "Unsupported buffer type %u"; no current element (also a second removal
// after the channel became empty): "Invalid iterator\n".
void iterator_remove(InterpEnv* env, TaggedValue iterator);
