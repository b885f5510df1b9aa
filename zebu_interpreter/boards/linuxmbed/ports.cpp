#include "zebu_interpreter/boards/linuxmbed/ports.h"

#include <algorithm>
#include <string>

#include "ASTLib/rAST.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"

uint32_t port_elementCells(InterpEnv* env, TaggedValue channel) {
  const Program* program = env->program.get();
  if (channel.value == nullptr || channel.typeId >= program->infoProg->n_type) return 0;
  const TypeRecord& type = program->typeTable[channel.typeId];
  if (type.bufferType != QUEUE_BUFFER && type.bufferType != STACK_BUFFER) return 0;
  if (type.baseType >= program->infoProg->n_type) return 0;
  return program->typeTable[type.baseType].storageSize;
}

uint32_t port_channelElementCells(InterpEnv* env, uint32_t varIndex) {
  return port_elementCells(env, port_channel(env, varIndex));
}

bool port_isByteChannel(InterpEnv* env, TaggedValue channel) {
  return port_elementCells(env, channel) == 1;
}

TaggedValue port_channel(InterpEnv* env, uint32_t varIndex) {
  if (varIndex >= env->program->infoProg->n_globalVariables) return kEmptyValue;
  return env->program->globalVariableTable[varIndex];
}

void port_pushByte(InterpEnv* env, uint32_t varIndex, uint8_t byte) {
  ValueCell cell = kZeroCell;
  cell.u64 = byte;
  interp_setValue(env, varIndex, 1, TaggedValue{&cell, TypeUInt8, NO_ID});
}

uint32_t search_opposite_variable(InterpEnv* env, const char* name, size_t roleStart) {
  std::string partner(name, std::min(roleStart, std::char_traits<char>::length(name)));
  partner += name[roleStart] == 'i' ? "out" : "in";
  return interp_getVariableID(env, partner.c_str());
}

const char* port_modeName(PortMode mode) {
  switch (mode) {
    case PortMode::kReadOnly: return "read_only";
    case PortMode::kWriteOnly: return "write_only";
    case PortMode::kReadWrite: return "read-write";
  }
  return "";
}

PortBinding port_binding(InterpEnv* env, const char* name, size_t roleStart, uint32_t varIndex) {
  const bool input = name[roleStart] == 'i';
  const uint32_t partner = search_opposite_variable(env, name, roleStart);
  if (partner != NO_ID) {
    return input ? PortBinding{PortMode::kReadWrite, varIndex, partner}
                 : PortBinding{PortMode::kReadWrite, partner, varIndex};
  }
  return input ? PortBinding{PortMode::kReadOnly, varIndex, NO_ID}
               : PortBinding{PortMode::kWriteOnly, NO_ID, varIndex};
}

std::string port_subMatch(const char* name, int start, int end) {
  return std::string(name + start, std::min<size_t>(end - start, kPortNameLength));
}
