#include "parserLib/def_variable.h"

#include <algorithm>
#include <string>
#include <vector>

#include "interpreterLib/interp.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "parserLib/def_expression.h"
#include "parserLib/def_type.h"
#include "parserLib/diagnostics.h"

namespace {

const char* symbolName(const ParserEnv* penv, uint32_t symbol) {
  return Symbol_getName(penv->program, symbol);
}

const char* typeName(const ParserEnv* penv, uint32_t typeId) {
  return typeId < penv->program->infoProg->n_type ? Type_getName(penv->program, typeId) : "?";
}

bool isGlobalName(const ParserEnv* penv, uint32_t symbol) {
  const Program* p = penv->program;
  for (uint32_t i = 0; i < p->infoProg->n_globalVariables; ++i) {
    if (p->dbg->globalVariableSymbolId[i] == symbol) return true;
  }
  for (uint32_t i = 0; i < p->infoProg->n_globalConstants; ++i) {
    if (p->dbg->globalConstantSymbolId[i] == symbol && !penv->pctx.hiddenConstants.contains(i)) {
      return true;
    }
  }
  return false;
}

// The value of a constant expression, computed now by the interpreter, as
// `cells` cells (a scalar fills its first cell).
bool constantCells(ParserEnv* penv, AST_Node* expression, uint32_t typeId,
                   std::vector<ValueCell>& out) {
  if (!defExpr_isConst(penv, expression)) {
    diag::non_constant_initializer(penv);
    return false;
  }
  if (defExpr_matchExpectedType(penv, expression, typeId) == NO_ID) {
    diag::wrong_value_type(penv, typeName(penv, typeId),
                           typeName(penv, defType_evaluate(penv, expression)));
    return false;
  }
  if (penv->ienv == nullptr) return false;
  InterpEnv* env = penv->ienv;
  const StackMark mark = interpStack_enterCall(env);
  const TaggedValue v = expr_execute(env, expression);
  const auto isInteger = [](uint32_t t) { return t <= TypeSInt64; };
  if (isInteger(typeId) && typeId >= TypeUInt8 && v.value != nullptr && isInteger(v.typeId)) {
    // An integer constant must fit the type it initialises.
    uint32_t result = 0;
    const uint64_t converted = primTypeToInteger(v, typeId, &result);
    if ((result & ~CONV_VALUE_KEPT) != 0) {
      interpStack_leaveCall(env, mark);
      diag::constant_out_of_range(penv, typeName(penv, typeId));
      return false;
    }
    ValueCell cell = kZeroCell;
    cell.u64 = converted;
    out.push_back(cell);
    interpStack_leaveCall(env, mark);
    return true;
  }
  const uint32_t storage = std::max<uint32_t>(1, Type_getStorageSize(penv->program, typeId));
  for (uint32_t i = 0; i < storage; ++i) {
    ValueCell cell = kZeroCell;
    if (v.value != nullptr &&
        i < std::max<uint32_t>(1, Type_getStorageSize(penv->program, v.typeId))) {
      cell = v.value[i];
    }
    out.push_back(cell);
  }
  interpStack_leaveCall(env, mark);
  return true;
}

bool layoutInitializer(ParserEnv* penv, AST_Node* item, uint32_t typeId,
                       std::vector<ValueCell>& out);

// Lays out the listed elements of a buffer; `count` is how many there were.
bool layoutElements(ParserEnv* penv, AST_Node* list, const TypeRecord& type,
                    std::vector<ValueCell>& out, uint32_t* count) {
  const Program* program = penv->program;
  for (AST_Node* cell = list; cell != nullptr; cell = AST_right(program, cell), ++*count) {
    if (*count >= type.size) {
      diag::index_out_of_bounds(penv, type.size - 1);
      return false;
    }
    if (!layoutInitializer(penv, AST_left(program, cell), type.baseType, out)) return false;
  }
  return true;
}

// Lays out a braced list (or a single expression) of a value of `typeId`.
bool layoutInitializer(ParserEnv* penv, AST_Node* item, uint32_t typeId,
                       std::vector<ValueCell>& out) {
  const Program* program = penv->program;
  if (typeId >= program->infoProg->n_type) return false;
  const TypeRecord type = program->typeTable[typeId];
  const bool braced = item != nullptr && item->op == LIST;
  if (!braced) {
    if (item == nullptr) return false;
    return constantCells(penv, item, typeId, out);
  }
  const uint32_t elementCells =
      type.bufferType != NONE_BUFFER ? Type_getStorageSize(program, type.baseType) : 0;
  if (type.bufferType == ARRAY_BUFFER) {
    uint32_t n = 0;
    if (!layoutElements(penv, item, type, out, &n)) return false;
    out.resize(out.size() + size_t{type.size - n} * elementCells);
    return true;
  }
  if (type.bufferType == QUEUE_BUFFER || type.bufferType == STACK_BUFFER) {
    const size_t start = out.size();
    out.resize(start + 2);
    uint32_t n = 0;
    if (!layoutElements(penv, item, type, out, &n)) return false;
    out[start].index = 2 + n * elementCells;
    // A queue's oldest element is in slot 0; a stack's top is its last one.
    if (type.bufferType == QUEUE_BUFFER) {
      out[start + 1].index = 2;
    } else {
      out[start + 1].index = n > 0 ? 2 + (n - 1) * elementCells : 1;
    }
    out.resize(out.size() + size_t{type.size + 1 - n} * elementCells);
    return true;
  }
  if (type.baseType == TypeStructure) {
    AST_Node* cell = item;
    for (const AST_Node* field = AST_fromId(program, type.fields);
         field != nullptr && field->op == LIST; field = AST_right(program, field)) {
      const uint32_t fieldType = AST_getStructFieldTypeId(program, AST_left(program, field));
      if (cell == nullptr) {
        out.resize(out.size() + Type_getStorageSize(program, fieldType));
        continue;
      }
      if (!layoutInitializer(penv, AST_left(program, cell), fieldType, out)) return false;
      cell = AST_right(program, cell);
    }
    return true;
  }
  // A scalar written in braces.
  if (item->right == NO_ID) {
    diag::braces_around_initializer(penv);
    return layoutInitializer(penv, AST_left(program, item), typeId, out);
  }
  diag::wrong_value_type(penv, typeName(penv, typeId), "initializer list");
  return false;
}

}  // namespace

void defVar_openScope(ParserEnv* penv) {
  penv->pctx.scopeMarks.push_back(penv->pctx.localVars.size());
  penv->pctx.constScopeMarks.push_back(penv->pctx.localConsts.size());
}

void defVar_closeScope(ParserEnv* penv) {
  ParserContext& c = penv->pctx;
  if (c.scopeMarks.empty()) return;
  c.localVars.resize(c.scopeMarks.back());
  c.localConsts.resize(c.constScopeMarks.back());
  c.scopeMarks.pop_back();
  c.constScopeMarks.pop_back();
}

const ParserLocal* defVar_findLocal(const ParserEnv* penv, uint32_t symbol) {
  const auto& v = penv->pctx.localVars;
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    if (it->symbol == symbol) return &*it;
  }
  return nullptr;
}

const ParserLocal* defVar_findLocalConstant(const ParserEnv* penv, uint32_t symbol) {
  const auto& v = penv->pctx.localConsts;
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    if (it->symbol == symbol) return &*it;
  }
  return nullptr;
}

uint32_t defType_lookup(ParserEnv* penv, AST_Node* name) {
  if (name == nullptr) return NO_ID;
  const Program* program = penv->program;
  const uint32_t symbol = name->value.id.index;
  for (uint32_t i = 0; i < program->infoProg->n_type; ++i) {
    if (program->dbg->typeSymbolId[i] == symbol) return i;
  }
  diag::unknown_type(penv, symbolName(penv, symbol));
  return NO_ID;
}

AST_Node* defVar_makeInitializer(ParserEnv* penv, AST_Node* list, uint32_t typeId) {
  std::vector<ValueCell> cells;
  if (!layoutInitializer(penv, list, typeId, cells)) return nullptr;
  const uint32_t first =
      parser_addConstantData(penv, cells.data(), static_cast<uint32_t>(cells.size()));
  AST_Node* type = parser_makeNodeWord(penv, INDEX_NODE, typeId, nullptr, nullptr);
  return parser_makeNodeWord(penv, INITIALIZER_OP, first, nullptr, type);
}

AST_Node* defVar_makeDefinition(ParserEnv* penv, bool constant, uint32_t typeId, AST_Node* name,
                                AST_Node* initializer) {
  if (typeId == NO_ID || name == nullptr) return nullptr;
  const bool buffer = defType_bufferKind(penv->program, typeId) != NONE_BUFFER;
  AST_Node* init = initializer;
  if (constant) {
    if (initializer == nullptr) return nullptr;
    init = defVar_makeInitializer(penv, initializer, typeId);
    if (init == nullptr) return nullptr;
  } else if (initializer != nullptr) {
    if (initializer->op == LIST || buffer) {
      init = defVar_makeInitializer(penv, initializer, typeId);
      if (init == nullptr) return nullptr;
    } else if (defExpr_matchExpectedType(penv, initializer, typeId) == NO_ID) {
      diag::wrong_value_type(penv, typeName(penv, typeId),
                             typeName(penv, defType_evaluate(penv, initializer)));
      return nullptr;
    }
  }
  const uint32_t op = constant ? (buffer ? CONSTANT_ARRAY_DECL_OP : CONSTANT_DECL_OP)
                               : (buffer ? VARIABLE_BUFFER_DECL_OP : VARIABLE_DECL_OP);
  const AST_Node* left = buffer ? parser_makeList(penv, name) : name;
  if (left == nullptr) return nullptr;
  return parser_makeNodeWord(penv, op, typeId, left, init);
}

uint32_t defBuff_makeType(ParserEnv* penv, uint32_t kind, uint32_t element, AST_Node* size) {
  if (element == NO_ID || size == nullptr) return NO_ID;
  if (kind == STRING_BUFFER) {
    diag::abstract_channel_buffer(penv);
    return NO_ID;
  }
  std::vector<ValueCell> count;
  if (!constantCells(penv, size, TypeUInt32, count)) return NO_ID;
  const uint32_t n = count[0].u32;
  const uint32_t elementCells = Type_getStorageSize(penv->program, element);
  TypeRecord record{element, n, 0, kind == NONE_BUFFER ? uint32_t{ARRAY_BUFFER} : kind, 0};
  const uint64_t cells = record.bufferType == ARRAY_BUFFER
                             ? uint64_t{n} * elementCells
                             : uint64_t{elementCells} * (n + 1ull) + 2;
  if (n == 0 || cells >= kMaxLocalData || elementCells == 0) {
    diag::not_a_buffer_type(penv, typeName(penv, element));
    return NO_ID;
  }
  record.storageSize = static_cast<uint32_t>(cells);
  const char* kindName = record.bufferType == ARRAY_BUFFER   ? ""
                         : record.bufferType == QUEUE_BUFFER ? "queue "
                                                             : "stack ";
  const std::string typeText =
      std::string(kindName) + typeName(penv, element) + "[" + std::to_string(n) + "]";
  return parser_addType(penv, record, typeText.c_str());
}

AST_Node* defBuff_makeDefinition(ParserEnv* penv, bool constant, uint32_t kind, uint32_t element,
                                 AST_Node* name, AST_Node* size, AST_Node* initializer) {
  if (element == NO_ID || name == nullptr || size == nullptr) return nullptr;
  const uint32_t typeId = defBuff_makeType(penv, kind, element, size);
  if (typeId == NO_ID) return nullptr;
  return defVar_makeDefinition(penv, constant, typeId, name, initializer);
}

void defVar_declareLocal(ParserEnv* penv, AST_Node* declaration) {
  if (declaration == nullptr) return;
  Program* program = penv->program;
  ParserContext& c = penv->pctx;
  const bool constant =
      declaration->op == CONSTANT_DECL_OP || declaration->op == CONSTANT_ARRAY_DECL_OP;
  const uint32_t symbol = AST_getVarDeclSymId(program, declaration);
  const auto& table = constant ? c.localConsts : c.localVars;
  const size_t mark = constant ? (c.constScopeMarks.empty() ? 0 : c.constScopeMarks.back())
                               : (c.scopeMarks.empty() ? 0 : c.scopeMarks.back());
  for (size_t i = mark; i < table.size(); ++i) {
    if (table[i].symbol == symbol) {
      if (constant) {
        diag::constant_already_defined(penv, symbolName(penv, symbol));
      } else {
        diag::variable_already_defined(penv, symbolName(penv, symbol));
      }
      break;
    }
  }
  if (isGlobalName(penv, symbol)) {
    const char* name = symbolName(penv, symbol);
    if (constant) {
      diag::constant_shadows_global(penv, name, name);
    } else {
      diag::variable_shadows_global(penv, name, name);
    }
  }
  ParserLocal local{};
  local.symbol = symbol;
  local.typeId = AST_getVarDeclTypeId(program, declaration);
  local.declaration = AST_id(program, declaration);
  local.iterator = declaration->op == ITERATOR_DECL_OP;
  local.access = constant ? kAccessRead : local.iterator ? kAccessNone : kAccessReadWrite;
  if (constant && c.wholeProgram) {
    const AST_Node* init = AST_getVarDeclInitializer(program, declaration);
    local.index = parser_addGlobalConstant(penv, symbol, local.typeId,
                                           init != nullptr ? init->value.id.index : NO_ID);
    c.hiddenConstants.insert(local.index);
    c.localConsts.push_back(local);
  } else if (constant) {
    local.index = c.firstLocalConstant + static_cast<uint32_t>(c.localConsts.size());
    c.localConsts.push_back(local);
  } else {
    local.index = c.firstLocalIndex + static_cast<uint32_t>(c.localVars.size());
    c.localVars.push_back(local);
  }
}

AST_Node* defVar_makeAndDeclareNamedBlockDefinition(ParserEnv* penv, AST_Node* label) {
  if (label == nullptr) return nullptr;
  AST_Node* decl = parser_makeNodeWord(penv, VARIABLE_DECL_OP, TypeNamedBlock, label, nullptr);
  defVar_openScope(penv);
  defVar_declareLocal(penv, decl);
  return decl;
}

AST_Node* defIter_makeDeclaration(ParserEnv* penv, AST_Node* buffer, AST_Node* name) {
  if (buffer == nullptr || name == nullptr) return nullptr;
  const uint32_t bufferType = defType_evaluate(penv, buffer);
  const uint32_t kind = defType_bufferKind(penv->program, bufferType);
  if (kind != ARRAY_BUFFER && kind != QUEUE_BUFFER && kind != STACK_BUFFER) {
    diag::not_an_array_type(penv, typeName(penv, bufferType));
    return nullptr;
  }
  const std::string text = std::string("Iterator<") + typeName(penv, bufferType) + ">";
  const uint32_t iteratorType =
      parser_addType(penv, {bufferType, 0, 3, NONE_BUFFER, 0}, text.c_str());
  AST_Node* decl = parser_makeNodeWord(penv, ITERATOR_DECL_OP, iteratorType, name, buffer);
  defVar_openScope(penv);
  defVar_declareLocal(penv, decl);
  return decl;
}
