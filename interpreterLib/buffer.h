// Buffers: arrays, and the two bounded channels, queue (first in, first out)
// and stack (last in, first out).
//
// A buffer is a run of 8-byte cells addressed by a TaggedValue whose type row
// gives the kind (`bufferType`), the capacity (`size`) and the element type
// (`baseType`); an element takes the element type's `storageSize` cells.
//   array:   element i at cell i * width.
//   channel: cell 0 holds the in index, cell 1 the out index (cell offsets,
//            32-bit, in the low word), then `size` + 1 slots from cell 2.
//            An index is 2 + slot id * width; a stack with no top has the
//            out index 1. The queue is a ring: empty when in = out, full
//            when one more push would make them equal. The stack fills slots
//            0 .. in - 1 and its top is slot in - 1.
//   string:  `TypeString` only; cell 0 is 2 + length, cell 1 is 2, the
//            characters follow one per cell.
// Logical positions (indexing, iteration, sorted insertion) count from the
// oldest element of a queue and from the top of a stack.
//
// An element reference points at the element's first cell, carries the
// element type and the buffer's global id, so a change through it is reported
// as a change of that global.
//
// Failures:
//   - full and empty channels go to the host's invalid-operation callback with
//     kinds 4 to 7, and the operation then does nothing (push, sorted insert)
//     or gives the empty value (pop, last_peek, peek of an empty stack);
//   - an array index past the capacity and kinds without the operation end
//     the run through interp_failure;
//   - type ids out of range and index cells that do not name a slot of the
//     buffer are reported through the host's assert callback, after which
//     the operation touches nothing.
// Whatever a host callback does, nothing is read or written outside the
// buffer's cells.
#pragma once

#include <cstdint>

#include "ASTLib/rEnv.h"

// ---------------------------------------------------------------- shape

// Cells of one element (the element type's storage size); 0 when the
// buffer's type id, or its element type id, is out of range (reported).
inline uint32_t buffer_getCellStorageSize(InterpEnv* env, TaggedValue buffer) {
  const Program* program = env->program.get();
  const uint32_t nType = program->infoProg->n_type;
  if (buffer.typeId >= nType) [[unlikely]] {
    ENV_CHECK(env, false, "buffer.typeId < env->program->infoProg->n_type");
    return 0;
  }
  const uint32_t element = program->typeTable[buffer.typeId].baseType;
  if (element >= nType) [[unlikely]] {
    ENV_CHECK(env, false,
              "Type_getBaseType(env->program, buffer.typeId) < "
              "env->program->infoProg->n_type");
    return 0;
  }
  return program->typeTable[element].storageSize;
}

// Queues, stacks, the kind without operations (4) and strings; false for a
// type id out of range (reported).
inline bool channel_isChannel(InterpEnv* env, TaggedValue buffer) {
  if (buffer.typeId >= env->program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, "buffer.typeId < env->program->infoProg->n_type");
    return false;
  }
  const uint32_t kind = env->program->typeTable[buffer.typeId].bufferType;
  return kind >= QUEUE_BUFFER && kind <= STRING_BUFFER;
}

// ---------------------------------------------------------------- index cells

// Slot ids from the index cells. An index that is not 2 + a multiple of the
// element width is reported and gives 0.
uint32_t channel_getInId(InterpEnv* env, TaggedValue channel);
uint32_t channel_getOutId(InterpEnv* env, TaggedValue channel);
// Write 2 + id * width into the in index cell (the whole cell, upper word 0).
void channel_setInId(InterpEnv* env, TaggedValue channel, uint32_t id);

// The first cell of the in slot / out slot. A missing slot (index below 2:
// the top of an empty stack, or index cells never set) or an index outside
// the buffer is reported and gives null.
ValueCell* channel_getIn(InterpEnv* env, TaggedValue channel);
ValueCell* channel_getOut(InterpEnv* env, TaggedValue channel);

// References to the element at out, and to the queue's newest element (the
// slot before in, cyclically); the empty value when there is no such slot.
TaggedValue channel_get(InterpEnv* env, TaggedValue channel);
TaggedValue channel_getlast(InterpEnv* env, TaggedValue channel);

// ---------------------------------------------------------------- primitives
// Callers check fullness and emptiness first; a channel whose index cells do
// not name its slots is reported and left as it is. A queue added to when
// full wraps to empty; a full stack refuses (reported), since its in index
// would leave the ring.

void queue_add(InterpEnv* env, TaggedValue queue, const ValueCell* source);
void queue_remove(InterpEnv* env, TaggedValue queue);
void stack_add(InterpEnv* env, TaggedValue stack, const ValueCell* source);
// An empty stack has nothing to drop: reported, unchanged.
void stack_remove(InterpEnv* env, TaggedValue stack);
// Inserts after every element not greater than the new one, so that a queue
// ascends from its oldest element and a stack from its top. Elements compare
// by their first cell: signed at the element's width for the signed integer
// types, otherwise as an unsigned 64-bit word. The source may be an element
// of the same channel.
void insert_sorted(InterpEnv* env, TaggedValue channel, const ValueCell* source);
// A channel that cannot be read is reported as full and as empty, so that
// nothing is added to it or taken from it.
bool queue_isFull(InterpEnv* env, TaggedValue queue);
bool queue_isEmpty(InterpEnv* env, TaggedValue queue);
bool stack_isFull(InterpEnv* env, TaggedValue stack);
bool stack_isEmpty(InterpEnv* env, TaggedValue stack);

// ---------------------------------------------------------------- elements

// Element `index` of an array; past the capacity: "Array index out of bounds
// (%u)\n" and the empty value.
TaggedValue array_get(InterpEnv* env, TaggedValue var, uint32_t index);
// Element at logical position i (array, queue, stack, `TypeString`); i is not
// checked against the count, but a position with no cells behind it (past an
// array, below the bottom of a stack, past a string) gives the empty value.
TaggedValue buffer_getIndexValue(InterpEnv* env, TaggedValue buffer, uint32_t i);
// Copies one element's cells from `source` into logical position i.
void buffer_setIndexValue(InterpEnv* env, TaggedValue buffer, uint32_t i, const ValueCell* source);

// ---------------------------------------------------------------- operations
// `node` is the call, for the source line of an invalid operation.

// Queue full: kind 4, stack full: kind 6, then nothing is added. Other kinds:
// "Unsupported buffer type %d".
void channel_push(InterpEnv* env, const AST_Node* node, TaggedValue channel,
                  const ValueCell* source);
void channel_insert_sorted(InterpEnv* env, const AST_Node* node, TaggedValue channel,
                           const ValueCell* source);
// The oldest element of a queue, the top of a stack, removed; the reference
// names the vacated slot and holds the element until that slot is written
// again. Empty: kind 5 or 7 and the empty value.
TaggedValue channel_pop(InterpEnv* env, const AST_Node* node, TaggedValue channel);
// The element pop would give, left in place. Empty (either kind): kind 5; a
// queue still gives its out slot, a stack the empty value.
TaggedValue channel_peek(InterpEnv* env, const AST_Node* node, TaggedValue channel);
// The newest element. Empty: kind 5 or 7 and the empty value. Other kinds:
// "Unsupported buffer type %d\n".
TaggedValue channel_lastpeek(InterpEnv* env, const AST_Node* node, TaggedValue channel);
// Back to the cleared state; element cells zeroed.
void channel_clear(InterpEnv* env, TaggedValue channel);
// Number of elements; 0 after a failure ("Unsupported channel buffer type %u"
// for a string kind other than TypeString, "Unsupported buffer type %u").
uint32_t channel_count(InterpEnv* env, TaggedValue channel);
// Pushes the capacity as a size value.
TaggedValue channel_size(InterpEnv* env, TaggedValue channel);
// Other kinds than queue and stack: "Unsupported buffer type %d\n", then a
// failed check, then true.
bool is_channel_empty(InterpEnv* env, TaggedValue channel);
bool is_channel_full(InterpEnv* env, TaggedValue channel);
// The same, pushed as a bool.
TaggedValue channel_isEmpty(InterpEnv* env, TaggedValue channel);
TaggedValue channel_isFull(InterpEnv* env, TaggedValue channel);

// A uniformly chosen element of the queue or stack (or array) that the
// expression evaluates to. An empty channel ends the run with "choice_uniform()
// called on empty channel" (naming a global channel) and gives the empty value.
TaggedValue channel_choiceUniform(InterpEnv* env, const AST_Node* expression);
TaggedValue array_choiceUniform(InterpEnv* env, const AST_Node* expression);
