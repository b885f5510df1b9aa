#include "interpreterLib/iterator.h"

#include "ASTLib/kova_assert.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"

namespace {

// Copies the element at logical position `from` onto position `to`; false
// when the buffer refused to give it (already reported).
bool moveElement(InterpEnv* env, TaggedValue buffer, uint32_t from, uint32_t to) {
  const TaggedValue element = buffer_getIndexValue(env, buffer, from);
  if (element.value == nullptr) return false;
  buffer_setIndexValue(env, buffer, to, element.value);
  return true;
}

}  // namespace

TaggedValue* iterator_declare(InterpEnv* env, const AST_Node* iteratorDecl, uint32_t* iteratorId,
                              TaggedValue* buffer) {
  KOVA_ASSERT(env != nullptr, "env != ((void *)0)");
  KOVA_ASSERT(iteratorDecl != nullptr, "iteratorDecl != ((void *)0)");
  KOVA_ASSERT(iteratorId != nullptr, "iteratorId != ((void *)0)");
  KOVA_ASSERT(buffer != nullptr, "buffer != ((void *)0)");
  KOVA_ASSERT(iteratorDecl->op == ITERATOR_DECL_OP, "iteratorDecl->op == ITERATOR_DECL_OP");
  const Program* program = env->program.get();
  const LocalVarsIndexes& indexes = env->ctx->localVarsIndexes;
  *iteratorId = indexes.count.variables - indexes.base.variables;
  *buffer = expr_execute(env, AST_right(program, iteratorDecl));
  const uint32_t typeId = AST_getVarDeclTypeId(program, iteratorDecl);
  KOVA_ASSERT(Type_getStorageSize(program, typeId) >= kIteratorCells,
              "Type_getStorageSize(env->program, iteratorTypeId) >= 3");
  TaggedValue* iterator = LocalVariable_declare(env, typeId);
  Context& ctx = *env->ctx;
  const uint32_t serial = ++ctx.iteratorSerial;
  iterator->value[2].u64 = uint64_t{serial} << 32 | ctx.liveIterators.size();
  ctx.liveIterators.push_back({buffer, serial});
  iterator_setIndex(*iterator, 0);
  iterator_setNextIndex(*iterator, iterator_has_next(env, *iterator) ? 1 : NO_ID);
  return iterator;
}

bool iterator_has_next(InterpEnv* env, TaggedValue iterator) {
  const TaggedValue* buffer = iterator_getBuffer(env, iterator);
  if (buffer == nullptr) return false;
  const Program* program = env->program.get();
  if (buffer->typeId >= program->infoProg->n_type) [[unlikely]] {
    ENV_CHECK(env, false, "buffer->typeId < env->program->infoProg->n_type");
    return false;
  }
  const uint32_t size = channel_isChannel(env, *buffer) ? channel_count(env, *buffer)
                                                        : program->typeTable[buffer->typeId].size;
  return iterator_getIndex(iterator) != size - 1;
}

TaggedValue iterator_current(InterpEnv* env, TaggedValue iterator) {
  const TaggedValue* buffer = iterator_getBuffer(env, iterator);
  const uint32_t index = iterator_getIndex(iterator);
  if (buffer == nullptr || index == NO_ID) {
    interp_failure(env, "Invalid iterator\n");
    return kEmptyValue;
  }
  return buffer_getIndexValue(env, *buffer, index);
}

TaggedValue iterator_index(InterpEnv* env, TaggedValue iterator) {
  if (iterator_getBuffer(env, iterator) == nullptr) {
    interp_failure(env, "Invalid iterator\n");
    return kEmptyValue;
  }
  return interpStack_pushSize(env, iterator_getIndex(iterator));
}

TaggedValue iterator_isLast(InterpEnv* env, TaggedValue iterator) {
  return interpStack_pushBoolean(env, !iterator_has_next(env, iterator));
}

void iterator_remove(InterpEnv* env, TaggedValue iterator) {
  const TaggedValue* held = iterator_getBuffer(env, iterator);
  if (held == nullptr) {
    interp_failure(env, "Invalid iterator\n");
    return;
  }
  const TaggedValue buffer = *held;
  if (!channel_isChannel(env, buffer)) {
    interp_failure(env, "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n");
    return;
  }
  const TypeRecord& type = env->program->typeTable[buffer.typeId];
  if (type.bufferType != QUEUE_BUFFER && type.bufferType != STACK_BUFFER) {
    interp_failure(env, "Unsupported buffer type %u", type.bufferType);
    return;
  }
  const uint32_t size = channel_count(env, buffer);
  const uint32_t index = iterator_getIndex(iterator);
  // No current element: removed already (the channel may be empty now), or
  // taken by the body in some other way.
  if (index >= size) {
    interp_failure(env, "Invalid iterator\n");
    return;
  }
  if (size >= 2) {
    if (type.bufferType == QUEUE_BUFFER) {
      for (uint32_t k = index + 1; k < size; ++k) {
        if (!moveElement(env, buffer, k, k - 1)) return;
      }
      const uint64_t slots = uint64_t{type.size} + 1;
      const uint64_t inId = channel_getInId(env, buffer);
      channel_setInId(env, buffer, static_cast<uint32_t>((inId + type.size) % slots));
    } else {
      for (uint32_t k = index; k-- > 0;) {
        if (!moveElement(env, buffer, k, k + 1)) return;
      }
      stack_remove(env, buffer);
    }
    if (iterator_getNextIndex(iterator) == NO_ID) {
      iterator_setIndex(iterator, NO_ID);
    } else {
      // The loop goes on with the element that slid into this place.
      iterator_setNextIndex(iterator, index);
    }
  } else {
    channel_clear(env, buffer);
    iterator_setIndex(iterator, NO_ID);
    iterator_setNextIndex(iterator, NO_ID);
  }
  ENV_CHECK(env, channel_count(env, buffer) == size - 1,
            "channel_count(env, buffer) == (size - 1)");
}
