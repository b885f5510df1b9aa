#include "interpreterLib/buffer.h"

#include <cstddef>

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/operator_functions.h"
#include "interpreterLib/random.h"

// A failed consistency check, reported in the name of the public operation.
#define BUFFER_CHECK_FAILED(env, function, text) \
  (env)->ctx->assert_callback((env), 0u, __FILE__, __LINE__, (function), (text))

namespace {

constexpr const char* kChannelTypeText = "channel.typeId < env->program->infoProg->n_type";
constexpr const char* kBufferTypeText = "buffer.typeId < env->program->infoProg->n_type";
constexpr const char* kQueueTypeText = "queue.typeId < env->program->infoProg->n_type";
constexpr const char* kStackTypeText = "stack.typeId < env->program->infoProg->n_type";
constexpr const char* kVarTypeText = "var.typeId < env->program->infoProg->n_type";
constexpr const char* kNoTopText = "channel.value[1].index >= 2";

// A buffer seen through its type row and, for queues and stacks, its index
// cells read as slot ids.
struct Ring {
  ValueCell* cells;
  uint32_t kind;
  uint32_t capacity;
  uint32_t storage;
  uint32_t width;  // cells of one element
  uint32_t elementType;
  uint32_t inId;
  uint32_t outId;  // NO_ID: a stack without a top

  uint32_t slots() const { return capacity + 1; }
  ValueCell* slot(uint32_t id) const { return cells + 2 + static_cast<size_t>(id) * width; }
  TaggedValue ref(uint32_t id, uint32_t globalId) const {
    return {slot(id), elementType, globalId};
  }

  // Logical position i: from the oldest element of a queue, from the top of
  // a stack. A stack position must be at most outId.
  uint32_t slotAt(uint32_t i) const {
    if (kind == QUEUE_BUFFER) return static_cast<uint32_t>((uint64_t{outId} + i) % slots());
    return outId - i;
  }

  uint32_t count() const {
    if (kind == STACK_BUFFER) return inId;
    return inId >= outId ? inId - outId : capacity - outId + inId + 1;
  }
  bool empty() const { return kind == STACK_BUFFER ? inId == 0 : inId == outId; }
  bool full() const {
    if (kind == STACK_BUFFER) return inId == capacity;
    return outId != 0 ? inId + 1 == outId : inId == capacity;
  }

  void storeIn() const {
    cells[0].u64 = 0;
    cells[0].index = 2 + inId * width;
  }
  void storeOut() const {
    cells[1].u64 = 0;
    cells[1].index = outId == NO_ID ? 1 : 2 + outId * width;
  }

  void copyInto(uint32_t id, const ValueCell* source) const {
    ValueCell* to = slot(id);
    for (uint32_t c = 0; c < width; ++c) to[c] = source[c];
  }

  void queueAdd(const ValueCell* source) {
    copyInto(inId, source);
    inId = (inId + 1) % slots();
    storeIn();
  }
  void queueRemove() {
    outId = (outId + 1) % slots();
    storeOut();
  }
  void stackAdd(const ValueCell* source) {
    copyInto(inId, source);
    outId = inId;  // the top sits just below the in slot
    ++inId;
    storeIn();
    storeOut();
  }
  void stackRemove() {
    outId = outId != 0 ? outId - 1 : NO_ID;
    --inId;
    storeIn();
    storeOut();
  }
};

// The type row, element width and cell pointer of a buffer; false after
// reporting a type id (named as in `typeText`) or element type out of range,
// or a buffer without storage.
bool shapeOf(InterpEnv* env, TaggedValue buffer, const char* function, const char* typeText,
             Ring* ring) {
  const Program* program = env->program.get();
  const uint32_t nType = program->infoProg->n_type;
  if (buffer.typeId >= nType) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, typeText);
    return false;
  }
  const TypeRecord& type = program->typeTable[buffer.typeId];
  if (type.baseType >= nType) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function,
                        "Type_getBaseType(env->program, buffer.typeId) < "
                        "env->program->infoProg->n_type");
    return false;
  }
  if (buffer.value == nullptr) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, "buffer.value != ((void *)0)");
    return false;
  }
  *ring = {buffer.value,
           type.bufferType,
           type.size,
           type.storageSize,
           program->typeTable[type.baseType].storageSize,
           type.baseType,
           0,
           0};
  return true;
}

// Whether the type's storage holds the index cells and every slot of the
// ring; reported otherwise (unsized channel types have no storage).
bool holdsRing(InterpEnv* env, const Ring& ring, const char* function) {
  const uint64_t needed = 2 + (uint64_t{ring.capacity} + 1) * ring.width;
  if (ring.width == 0 || ring.capacity == kUnsizedBuffer || ring.storage < needed) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function,
                        "Type_getStorageSize(env->program, channel.typeId) >= 2 + (size + 1) * "
                        "buffer_getCellStorageSize(env, channel)");
    return false;
  }
  return true;
}

struct IndexTexts {
  const char* atLeastTwo;
  const char* multiple;
  const char* inRing;
};
constexpr IndexTexts kInTexts{
    "channel.value->index >= 2",
    "((channel.value->index - 2) % buffer_getCellStorageSize(env, channel)) == 0",
    "channel_getInId(env, channel) <= Type_getSize(env->program, channel.typeId)"};
constexpr IndexTexts kOutTexts{
    kNoTopText, "((channel.value[1].index - 2) % buffer_getCellStorageSize(env, channel)) == 0",
    "channel_getOutId(env, channel) <= Type_getSize(env->program, channel.typeId)"};

bool slotId(InterpEnv* env, const Ring& ring, uint32_t index, const IndexTexts& texts,
            const char* function, uint32_t* id) {
  if (index < 2) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, texts.atLeastTwo);
    return false;
  }
  if ((index - 2) % ring.width != 0) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, texts.multiple);
    return false;
  }
  *id = (index - 2) / ring.width;
  if (*id > ring.capacity) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, texts.inRing);
    return false;
  }
  return true;
}

// shapeOf, and for a queue or stack also the slot ids of its index cells,
// each naming a slot of the ring (a stack's out index may be 1: no top, and
// its top must sit just below its in slot). Every later slot access stays in
// the buffer. False after reporting.
bool ringOf(InterpEnv* env, TaggedValue channel, const char* function, const char* typeText,
            Ring* ring) {
  if (!shapeOf(env, channel, function, typeText, ring)) return false;
  if (ring->kind != QUEUE_BUFFER && ring->kind != STACK_BUFFER) return true;
  if (!holdsRing(env, *ring, function)) return false;
  if (!slotId(env, *ring, channel.value[0].index, kInTexts, function, &ring->inId)) return false;
  if (ring->kind == STACK_BUFFER && channel.value[1].index == 1) {
    ring->outId = NO_ID;
  } else if (!slotId(env, *ring, channel.value[1].index, kOutTexts, function, &ring->outId)) {
    return false;
  }
  if (ring->kind == STACK_BUFFER && ring->outId + 1 != ring->inId) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function,
                        "channel_getOutId(env, channel) + 1 == channel_getInId(env, channel)");
    return false;
  }
  return true;
}

// A queue or stack, reported otherwise (for the primitives).
bool channelRing(InterpEnv* env, TaggedValue channel, const char* function, const char* typeText,
                 Ring* ring) {
  if (!ringOf(env, channel, function, typeText, ring)) return false;
  if (ring->kind != QUEUE_BUFFER && ring->kind != STACK_BUFFER) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function,
                        "(QUEUE_BUFFER == Type_getBufferType(env->program, channel.typeId)) || "
                        "(STACK_BUFFER == Type_getBufferType(env->program, channel.typeId))");
    return false;
  }
  return true;
}

void reportInvalidOp(InterpEnv* env, const AST_Node* node, uint32_t kind) {
  const InvalidOpCallback callback = env->ctx->invalid_op_callback;
  if (callback == nullptr) [[unlikely]] {
    ENV_CHECK(env, false, "env->ctx->invalid_op_callback != ((void *)0)");
    return;
  }
  callback(env, node, kind);
}

// The invalid operation of a push on a full channel or a pop on an empty one.
uint32_t fullFault(const Ring& ring) {
  return ring.kind == QUEUE_BUFFER ? kInvalidOpQueueFull : kInvalidOpStackFull;
}
uint32_t emptyFault(const Ring& ring) {
  return ring.kind == QUEUE_BUFFER ? kInvalidOpQueueEmpty : kInvalidOpStackEmpty;
}

// Orders elements by their first cell as the element type reads it.
bool greaterThan(const ValueCell& a, const ValueCell& b, uint32_t elementType) {
  switch (elementType) {
    case TypeSInt8: return a.s8 > b.s8;
    case TypeSInt16: return a.s16 > b.s16;
    case TypeSInt32: return a.s32 > b.s32;
    case TypeSInt:
    case TypeSInt64: return a.s64 > b.s64;
    default: return a.u64 > b.u64;
  }
}

// Sorted insertion into a ring with room for one more element. Each cell
// offset is rotated on its own through one saved cell, so a source that is
// itself an element of the channel is read before it moves.
void ringInsertSorted(Ring& ring, const ValueCell* source) {
  const uint32_t count = ring.count();
  uint32_t p = 0;
  while (p < count && !greaterThan(ring.slot(ring.slotAt(p))[0], source[0], ring.elementType)) ++p;

  if (ring.kind == QUEUE_BUFFER) {
    for (uint32_t c = 0; c < ring.width; ++c) {
      const ValueCell saved = source[c];
      for (uint32_t j = count; j > p; --j)
        ring.slot(ring.slotAt(j))[c] = ring.slot(ring.slotAt(j - 1))[c];
      ring.slot(ring.slotAt(p))[c] = saved;
    }
    ring.inId = (ring.inId + 1) % ring.slots();
    ring.storeIn();
    return;
  }
  // Stack: the new element goes on top, then the p smaller ones rise above it.
  const uint32_t top = ring.inId;
  for (uint32_t c = 0; c < ring.width; ++c) {
    const ValueCell saved = source[c];
    ring.slot(top)[c] = saved;
    for (uint32_t j = 0; j < p; ++j) ring.slot(top - j)[c] = ring.slot(top - j - 1)[c];
    ring.slot(top - p)[c] = saved;
  }
  ring.outId = top;
  ++ring.inId;
  ring.storeIn();
  ring.storeOut();
}

// The element at logical position i, or the empty value when no cells lie
// behind that position.
TaggedValue elementAt(InterpEnv* env, TaggedValue buffer, uint32_t i, const char* function) {
  Ring ring;
  if (!ringOf(env, buffer, function, kBufferTypeText, &ring)) return kEmptyValue;
  switch (ring.kind) {
    case ARRAY_BUFFER: return array_get(env, buffer, i);
    case QUEUE_BUFFER: return ring.ref(ring.slotAt(i), buffer.globalId);
    case STACK_BUFFER:
      if (ring.outId == NO_ID || i > ring.outId) [[unlikely]] {
        BUFFER_CHECK_FAILED(env, function, "i < channel_count(env, buffer)");
        return kEmptyValue;
      }
      return ring.ref(ring.slotAt(i), buffer.globalId);
    case STRING_BUFFER:
      if (buffer.typeId != TypeString) [[unlikely]] {
        BUFFER_CHECK_FAILED(env, function, "buffer.typeId == TypeString");
        return kEmptyValue;
      }
      if (uint64_t{i} + 2 >= buffer.value[0].index) [[unlikely]] {
        BUFFER_CHECK_FAILED(env, function, "(i + 2) < buffer.value->index");
        return kEmptyValue;
      }
      return {buffer.value + 2 + static_cast<size_t>(i), ring.elementType, buffer.globalId};
    default: interp_failure(env, "Unsupported buffer type %u", ring.kind); return kEmptyValue;
  }
}

uint32_t idFromIndex(InterpEnv* env, TaggedValue channel, uint32_t cell, const char* text,
                     const char* function) {
  if (channel.value == nullptr) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, "channel.value != ((void *)0)");
    return 0;
  }
  const uint32_t width = buffer_getCellStorageSize(env, channel);
  const uint32_t index = channel.value[cell].index;
  if (width == 0 || (index - 2) % width != 0) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, function, text);
    return 0;
  }
  return (index - 2) / width;
}

void indexFromId(InterpEnv* env, TaggedValue channel, uint32_t cell, uint32_t id) {
  const uint32_t width = buffer_getCellStorageSize(env, channel);
  if (width == 0 || channel.value == nullptr) [[unlikely]]
    return;
  channel.value[cell].u64 = 0;
  channel.value[cell].index = 2 + id * width;
}

}  // namespace

// ---------------------------------------------------------------- index cells

uint32_t channel_getInId(InterpEnv* env, TaggedValue channel) {
  return idFromIndex(env, channel, 0, kInTexts.multiple, __func__);
}

uint32_t channel_getOutId(InterpEnv* env, TaggedValue channel) {
  return idFromIndex(env, channel, 1, kOutTexts.multiple, __func__);
}

void channel_setInId(InterpEnv* env, TaggedValue channel, uint32_t id) {
  indexFromId(env, channel, 0, id);
}

ValueCell* channel_getIn(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!channelRing(env, channel, __func__, kChannelTypeText, &ring)) return nullptr;
  return ring.slot(ring.inId);
}

ValueCell* channel_getOut(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!channelRing(env, channel, __func__, kChannelTypeText, &ring)) return nullptr;
  if (ring.outId == NO_ID) {
    BUFFER_CHECK_FAILED(env, __func__, kNoTopText);
    return nullptr;
  }
  return ring.slot(ring.outId);
}

TaggedValue channel_get(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!channelRing(env, channel, __func__, kChannelTypeText, &ring)) return kEmptyValue;
  if (ring.outId == NO_ID) {
    BUFFER_CHECK_FAILED(env, __func__, kNoTopText);
    return kEmptyValue;
  }
  return ring.ref(ring.outId, channel.globalId);
}

TaggedValue channel_getlast(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!channelRing(env, channel, __func__, kChannelTypeText, &ring)) return kEmptyValue;
  return ring.ref((ring.inId + ring.capacity) % ring.slots(), channel.globalId);
}

// ---------------------------------------------------------------- primitives

void queue_add(InterpEnv* env, TaggedValue queue, const ValueCell* source) {
  Ring ring;
  if (channelRing(env, queue, __func__, kQueueTypeText, &ring)) ring.queueAdd(source);
}

void queue_remove(InterpEnv* env, TaggedValue queue) {
  Ring ring;
  if (channelRing(env, queue, __func__, kQueueTypeText, &ring)) ring.queueRemove();
}

void stack_add(InterpEnv* env, TaggedValue stack, const ValueCell* source) {
  Ring ring;
  if (!channelRing(env, stack, __func__, kStackTypeText, &ring)) return;
  if (ring.inId == ring.capacity) [[unlikely]] {
    // The slot would exist, but no later operation could read the stack.
    BUFFER_CHECK_FAILED(env, __func__, "!stack_isFull(env, stack)");
    return;
  }
  ring.stackAdd(source);
}

void stack_remove(InterpEnv* env, TaggedValue stack) {
  Ring ring;
  if (!channelRing(env, stack, __func__, kStackTypeText, &ring)) return;
  if (ring.outId == NO_ID) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, __func__, kNoTopText);
    return;
  }
  ring.stackRemove();
}

void insert_sorted(InterpEnv* env, TaggedValue channel, const ValueCell* source) {
  Ring ring;
  if (!channelRing(env, channel, __func__, kChannelTypeText, &ring)) return;
  if (ring.kind == STACK_BUFFER && ring.full()) [[unlikely]] {
    BUFFER_CHECK_FAILED(env, __func__, "!stack_isFull(env, channel)");
    return;
  }
  ringInsertSorted(ring, source);
}

bool queue_isFull(InterpEnv* env, TaggedValue queue) {
  Ring ring;
  return !channelRing(env, queue, __func__, kQueueTypeText, &ring) || ring.full();
}

bool queue_isEmpty(InterpEnv* env, TaggedValue queue) {
  Ring ring;
  return !channelRing(env, queue, __func__, kQueueTypeText, &ring) || ring.empty();
}

bool stack_isFull(InterpEnv* env, TaggedValue stack) {
  Ring ring;
  return !channelRing(env, stack, __func__, kStackTypeText, &ring) || ring.full();
}

bool stack_isEmpty(InterpEnv* env, TaggedValue stack) {
  Ring ring;
  return !channelRing(env, stack, __func__, kStackTypeText, &ring) || ring.empty();
}

// ---------------------------------------------------------------- elements

TaggedValue array_get(InterpEnv* env, TaggedValue var, uint32_t index) {
  Ring shape;
  if (!shapeOf(env, var, __func__, kVarTypeText, &shape)) return kEmptyValue;
  // Types without storage (strings, unsized arrays) have no element to give.
  if (index >= shape.capacity || (uint64_t{index} + 1) * shape.width > shape.storage) [[unlikely]] {
    interp_failure(env, "Array index out of bounds (%u)\n", index);
    return kEmptyValue;
  }
  return {var.value + static_cast<size_t>(index) * shape.width, shape.elementType, var.globalId};
}

TaggedValue buffer_getIndexValue(InterpEnv* env, TaggedValue buffer, uint32_t i) {
  return elementAt(env, buffer, i, __func__);
}

void buffer_setIndexValue(InterpEnv* env, TaggedValue buffer, uint32_t i, const ValueCell* source) {
  const TaggedValue element = elementAt(env, buffer, i, __func__);
  if (element.value == nullptr) return;
  const uint32_t width = env->program->typeTable[element.typeId].storageSize;
  for (uint32_t c = 0; c < width; ++c) element.value[c] = source[c];
}

// ---------------------------------------------------------------- operations

void channel_push(InterpEnv* env, const AST_Node* node, TaggedValue channel,
                  const ValueCell* source) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER:
      if (ring.full()) return reportInvalidOp(env, node, fullFault(ring));
      return ring.kind == QUEUE_BUFFER ? ring.queueAdd(source) : ring.stackAdd(source);
    default: interp_failure(env, "Unsupported buffer type %d", static_cast<int>(ring.kind));
  }
}

void channel_insert_sorted(InterpEnv* env, const AST_Node* node, TaggedValue channel,
                           const ValueCell* source) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER:
      if (ring.full()) return reportInvalidOp(env, node, fullFault(ring));
      return ringInsertSorted(ring, source);
    default: interp_failure(env, "Unsupported buffer type %d", static_cast<int>(ring.kind));
  }
}

TaggedValue channel_pop(InterpEnv* env, const AST_Node* node, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return kEmptyValue;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER: {
      if (ring.empty()) {
        reportInvalidOp(env, node, emptyFault(ring));
        return kEmptyValue;
      }
      const TaggedValue element = ring.ref(ring.outId, channel.globalId);
      if (ring.kind == QUEUE_BUFFER) {
        ring.queueRemove();
      } else {
        ring.stackRemove();
      }
      return element;
    }
    default:
      interp_failure(env, "Unsupported buffer type %d", static_cast<int>(ring.kind));
      return kEmptyValue;
  }
}

TaggedValue channel_peek(InterpEnv* env, const AST_Node* node, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return kEmptyValue;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER:
      if (ring.empty()) reportInvalidOp(env, node, kInvalidOpQueueEmpty);
      // An empty queue still shows its out slot; an empty stack has no top.
      if (ring.outId == NO_ID) {
        BUFFER_CHECK_FAILED(env, __func__, kNoTopText);
        return kEmptyValue;
      }
      return ring.ref(ring.outId, channel.globalId);
    default:
      interp_failure(env, "Unsupported buffer type %d", static_cast<int>(ring.kind));
      return kEmptyValue;
  }
}

TaggedValue channel_lastpeek(InterpEnv* env, const AST_Node* node, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return kEmptyValue;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER: {
      if (ring.empty()) {
        reportInvalidOp(env, node, emptyFault(ring));
        return kEmptyValue;
      }
      // A queue's newest element sits just before its in slot; a stack's on top.
      const uint32_t newest =
          ring.kind == QUEUE_BUFFER ? (ring.inId + ring.capacity) % ring.slots() : ring.outId;
      return ring.ref(newest, channel.globalId);
    }
    default:
      interp_failure(env, "Unsupported buffer type %d\n", static_cast<int>(ring.kind));
      return kEmptyValue;
  }
}

void channel_clear(InterpEnv* env, TaggedValue channel) {
  if (!channel_isChannel(env, channel)) {
    ENV_CHECK(env, false, "channel_isChannel(env, channel)");
    return;
  }
  Ring ring;
  if (!shapeOf(env, channel, __func__, kChannelTypeText, &ring)) return;
  // Clearing writes both index cells, so the ring must exist even when the
  // index cells are not yet valid.
  if ((ring.kind == QUEUE_BUFFER || ring.kind == STACK_BUFFER) && !holdsRing(env, ring, __func__))
    return;
  value_clear(env, channel);
}

uint32_t channel_count(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return 0;
  switch (ring.kind) {
    case QUEUE_BUFFER:
    case STACK_BUFFER: return ring.count();
    case STRING_BUFFER:
      if (channel.typeId != TypeString) {
        interp_failure(env, "Unsupported channel buffer type %u", channel.typeId);
        return 0;
      }
      return channel_getInId(env, channel) - channel_getOutId(env, channel);
    default: interp_failure(env, "Unsupported buffer type %u", ring.kind); return 0;
  }
}

TaggedValue channel_size(InterpEnv* env, TaggedValue channel) {
  if (channel.typeId >= env->program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, kChannelTypeText);
    return interpStack_pushSize(env, 0);
  }
  return interpStack_pushSize(env, env->program->typeTable[channel.typeId].size);
}

bool is_channel_empty(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return true;
  if (ring.kind == QUEUE_BUFFER || ring.kind == STACK_BUFFER) return ring.empty();
  interp_failure(env, "Unsupported buffer type %d\n", static_cast<int>(ring.kind));
  ENV_CHECK(env, false, "0");
  return true;
}

bool is_channel_full(InterpEnv* env, TaggedValue channel) {
  Ring ring;
  if (!ringOf(env, channel, __func__, kChannelTypeText, &ring)) return true;
  if (ring.kind == QUEUE_BUFFER || ring.kind == STACK_BUFFER) return ring.full();
  interp_failure(env, "Unsupported buffer type %d\n", static_cast<int>(ring.kind));
  ENV_CHECK(env, false, "0");
  return true;
}

TaggedValue channel_isEmpty(InterpEnv* env, TaggedValue channel) {
  return interpStack_pushBoolean(env, is_channel_empty(env, channel));
}

TaggedValue channel_isFull(InterpEnv* env, TaggedValue channel) {
  return interpStack_pushBoolean(env, is_channel_full(env, channel));
}

TaggedValue channel_choiceUniform(InterpEnv* env, const AST_Node* expression) {
  const TaggedValue var = expr_execute(env, expression);
  const Program* program = env->program.get();
  if (var.typeId >= program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, kVarTypeText);
    return kEmptyValue;
  }
  const uint32_t kind = program->typeTable[var.typeId].bufferType;
  if (kind != QUEUE_BUFFER && kind != STACK_BUFFER) [[unlikely]] {
    ENV_CHECK(env, false,
              "(QUEUE_BUFFER == Type_getBufferType(env->program, var.typeId)) || "
              "(STACK_BUFFER == Type_getBufferType(env->program, var.typeId))");
    return kEmptyValue;
  }
  const uint32_t count = channel_count(env, var);
  if (count == 0) {
    const char* name = nullptr;
    if (var.globalId != NO_ID) {
      const bool named =
          var.globalId < program->infoProg->n_globalVariables &&
          program->dbg->globalVariableSymbolId[var.globalId] < program->infoProg->n_symbols;
      ENV_CHECK(env, named,
                "env->program->dbg->globalVariableSymbolId[var.globalId] < "
                "env->program->infoProg->n_symbols");
      if (named) name = GlobalVariable_getName(program, var.globalId);
    }
    if (name != nullptr) {
      interp_failure(env, "choice_uniform() called on empty channel \"%s\"\n", name);
    } else {
      interp_failure(env, "choice_uniform() called on empty channel\n");
    }
    return kEmptyValue;
  }
  return buffer_getIndexValue(env, var, random_uniformSize(env, 0, count));
}

TaggedValue array_choiceUniform(InterpEnv* env, const AST_Node* expression) {
  const TaggedValue var = expr_execute(env, expression);
  const Program* program = env->program.get();
  if (var.typeId >= program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, kVarTypeText);
    return kEmptyValue;
  }
  const TypeRecord& type = program->typeTable[var.typeId];
  if (type.bufferType != ARRAY_BUFFER) [[unlikely]] {
    ENV_CHECK(env, false, "ARRAY_BUFFER == Type_getBufferType(env->program, var.typeId)");
    return kEmptyValue;
  }
  return array_get(env, var, random_uniformSize(env, 0, type.size));
}
