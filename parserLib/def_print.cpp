// The print-format check: a literal format's conversions against the values
// that follow it. A format held in a variable is known only at run time, so
// only its type is checked.
#include <string>
#include <vector>

#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_type.h"
#include "parserLib/diagnostics.h"

namespace {

AST_Node* nodeAt(const Program* program, uint32_t id) {
  if (id == NO_ID || id >= program->infoProg->n_AST) return nullptr;
  return &program->RAMprogram[id];
}

const char* typeName(const Program* program, uint32_t t) {
  const InfoProg& info = *program->infoProg;
  if (t >= info.n_type) return "?";
  const uint32_t symbol = program->dbg->typeSymbolId[t];
  if (symbol >= info.n_symbols) return "?";
  const uint32_t offset = program->dbg->symbolTableIndex[symbol];
  return offset < info.symbolStorageSize ? &program->dbg->symbolTable[offset] : "?";
}

uint32_t elementType(const Program* program, uint32_t t) {
  return t < program->infoProg->n_type ? program->typeTable[t].baseType : NO_ID;
}

// A string literal's characters: after the in and out index cells, up to the
// in index or a zero cell.
std::string literalText(const Program* program, const AST_Node* literal) {
  const uint64_t size = program->infoProg->size_constantData;
  const uint64_t first = literal->value.id.index;
  std::string text;
  if (first >= size) return text;
  const ValueCell* cells = &program->constantDataTable[first];
  const uint64_t end = cells[0].u64;
  for (uint64_t i = 2; i < end && first + i < size && cells[i].u8 != 0; ++i) {
    text.push_back(static_cast<char>(cells[i].u8));
  }
  return text;
}

bool isUInt8Buffer(const Program* program, uint32_t t) {
  return defType_bufferKind(program, t) != NONE_BUFFER && elementType(program, t) == TypeUInt8;
}

bool isUInt8Text(const Program* program, uint32_t t) {
  const uint32_t kind = defType_bufferKind(program, t);
  if (elementType(program, t) != TypeUInt8) return false;
  if (kind == ARRAY_BUFFER) return program->typeTable[t].size != kUnsizedBuffer;
  return kind != NONE_BUFFER;
}

// Whether a value of type t fits the conversion; reports the mismatch.
bool checkConversion(ParserEnv* penv, char conversion, int parameter, uint32_t t) {
  const Program* program = penv->program;
  const auto expected = [&](uint32_t named) {
    diag::print_argument_type(penv, parameter, typeName(program, named), typeName(program, t));
    return false;
  };
  switch (conversion) {
    case 'f': return defType_isFloat(t) || expected(TypeFloat);
    case 't': return defType_isTime(t) || expected(TypeTime);
    case 'u': return defType_isInteger(t) || defType_isEnum(program, t) || expected(TypeInt);
    case 'd':
    case 'i': return defType_couldBeSigned(t) || expected(TypeSInt);
    case 'x':
    case 'c':
      if (defType_isInteger(t)) return true;
      diag::print_argument_integer(penv, parameter, typeName(program, t));
      return false;
    case 'b': return t == TypeBoolean || expected(TypeBoolean);
    case 's':
      if (isUInt8Text(program, t)) return true;
      diag::print_argument_string(penv, parameter);
      return false;
    default: return false;
  }
}

bool isConversion(char c) {
  switch (c) {
    case 'f':
    case 't':
    case 'u':
    case 'd':
    case 'i':
    case 'x':
    case 'c':
    case 'b':
    case 's': return true;
    default: return false;
  }
}

}  // namespace

bool defFunc_checkPrintCall(ParserEnv* penv, AST_Node* args) {
  const Program* program = penv->program;
  if (args == nullptr || args->op != LIST) return true;
  AST_Node* format = nodeAt(program, args->left);
  if (format == nullptr) return true;
  if (format->op != STRING_OP) {
    const uint32_t t = defType_evaluate(penv, format);
    if (t == NO_ID) return false;
    if (isUInt8Buffer(program, t)) return true;
    diag::print_format_argument(penv);
    return false;
  }

  std::vector<AST_Node*> values;
  const AST_Node* cell = nodeAt(program, args->right);
  for (uint32_t guard = 0; cell != nullptr && cell->op == LIST; ++guard) {
    if (guard >= program->infoProg->n_AST) return false;
    values.push_back(nodeAt(program, cell->left));
    cell = nodeAt(program, cell->right);
  }
  const int found = static_cast<int>(values.size());

  const std::string text = literalText(program, format);
  int used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
      continue;
    }
    if (text[i] != '%') continue;
    if (++i >= text.size()) {
      diag::print_trailing_percent(penv);
      return false;
    }
    const char conversion = text[i];
    if (conversion == '%') continue;
    if (!isConversion(conversion)) {
      diag::print_unknown_conversion(penv, conversion);
      return false;
    }
    if (++used > found) {
      diag::print_missing_arguments(penv, used, found);
      return false;
    }
    AST_Node* value = values[static_cast<size_t>(used - 1)];
    if (value == nullptr) return false;
    const uint32_t t = defType_evaluate(penv, value);
    if (t == NO_ID || !checkConversion(penv, conversion, used, t)) return false;
  }
  if (used < found) {
    diag::print_extra_arguments(penv);
    return false;
  }
  return true;
}
