// Moving whole values: copy, clear, field access.
#include "ASTLib/rEnv.h"
#include "interpreterLib/interp.h"

void value_set(InterpEnv* env, TaggedValue destination, const ValueCell* source,
               uint32_t sourceTypeId) {
  const Program* program = env->program.get();
  const uint32_t nType = program->infoProg->n_type;
  if (sourceTypeId >= nType) {
    ENV_CHECK(env, false, "val.typeId < env->program->infoProg->n_type");
    return;
  }
  if (destination.typeId >= nType) {
    ENV_CHECK(env, false, "vDest.typeId < env->program->infoProg->n_type");
    return;
  }
  const TypeRecord& dest = program->typeTable[destination.typeId];
  uint32_t cells = dest.storageSize;
  // A structure initializer of a channel holds its index cells and `size`
  // slots; the spare slot is not part of it.
  if (sourceTypeId == TypeStructure &&
      (dest.bufferType == QUEUE_BUFFER || dest.bufferType == STACK_BUFFER)) {
    // A hostile file can give a channel less room than one element.
    const uint32_t spare = program->typeTable[dest.baseType].storageSize;
    cells = cells > spare ? cells - spare : 0;
  } else if (sourceTypeId != TypeStructure &&
             program->typeTable[sourceTypeId].storageSize < cells) {
    // Only a file that breaks the typing rules gets here; the cells the
    // source lacks are cleared rather than read from beyond it.
    const uint32_t have = program->typeTable[sourceTypeId].storageSize;
    for (uint32_t i = have; i < cells; ++i) destination.value[i].u64 = 0;
    cells = have;
  }
  ValueCell* to = destination.value;
  for (uint32_t i = 0; i < cells; ++i) to[i] = source[i];
}

ValueCell* value_clear(InterpEnv* env, TaggedValue variable) {
  const Program* program = env->program.get();
  const TypeRecord& type = program->typeTable[variable.typeId];
  ValueCell* cell = variable.value;
  if (type.bufferType == QUEUE_BUFFER || type.bufferType == STACK_BUFFER) {
    cell[0].u64 = 0;
    cell[0].index = 2;
    cell[1].u64 = 0;
    cell[1].index = type.bufferType == QUEUE_BUFFER ? 2 : 1;
    for (uint32_t i = 2; i < type.storageSize; ++i) cell[i].u64 = 0;
    return cell + type.storageSize;
  }
  if (type.bufferType == NONE_BUFFER && type.baseType == TypeStructure) {
    for (const AST_Node* fields = AST_fromId(program, type.fields); fields != nullptr;
         fields = AST_right(program, fields)) {
      const uint32_t fieldType = AST_getStructFieldTypeId(program, AST_left(program, fields));
      cell = value_clear(env, {cell, fieldType, variable.globalId});
    }
    return cell;
  }
  for (uint32_t i = 0; i < type.storageSize; ++i) cell[i].u64 = 0;
  return cell + type.storageSize;
}

TaggedValue field_get(InterpEnv*, TaggedValue structure, uint32_t fieldTypeId, uint32_t offset) {
  return {structure.value + offset, fieldTypeId, structure.globalId};
}
