#include "parserLib/def_expression.h"

#include <cstring>
#include <string>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_type.h"
#include "parserLib/def_variable.h"
#include "parserLib/diagnostics.h"

namespace {

const char* symbolName(const ParserEnv* penv, uint32_t symbol) {
  return Symbol_getName(penv->program, symbol);
}

const char* typeName(const ParserEnv* penv, uint32_t typeId) {
  return typeId < penv->program->infoProg->n_type ? Type_getName(penv->program, typeId) : "?";
}

AST_Node* indexNode(ParserEnv* penv, uint32_t id) {
  return parser_makeNodeWord(penv, INDEX_NODE, id, nullptr, nullptr);
}

// A reference node: op, type in its value word, the id in its left child.
AST_Node* reference(ParserEnv* penv, uint32_t op, uint32_t typeId, uint32_t id,
                    const AST_Node* declaration = nullptr) {
  AST_Node* index = indexNode(penv, id);
  if (index == nullptr) return nullptr;
  return parser_makeNodeWord(penv, op, typeId, index, declaration);
}

template <class SymbolOf>
uint32_t findGlobal(uint32_t count, SymbolOf symbolOf, uint32_t symbol) {
  for (uint32_t i = 0; i < count; ++i) {
    if (symbolOf(i) == symbol) return i;
  }
  return NO_ID;
}

uint32_t findType(const Program* program, uint32_t symbol) {
  for (uint32_t i = 0; i < program->infoProg->n_type; ++i) {
    if (program->dbg->typeSymbolId[i] == symbol) return i;
  }
  return NO_ID;
}

bool isComparison(uint32_t op) {
  return op == CEQ_OP || op == CNE_OP || op == LT_OP || op == GT_OP || op == CLE_OP || op == CGE_OP;
}

bool isAscending(uint32_t op) {
  return op == LT_OP || op == CLE_OP;
}

// Fixes a float literal operand to the other operand's float type.
void fixFloatOperands(ParserEnv* penv, AST_Node* left, AST_Node* right) {
  if (left == nullptr || right == nullptr) return;
  const uint32_t a = defType_evaluate(penv, left);
  const uint32_t b = defType_evaluate(penv, right);
  if (a == TypeFloat && (b == TypeF32 || b == TypeF64)) defExpr_evalAsFloat(penv, left, b);
  if (b == TypeFloat && (a == TypeF32 || a == TypeF64)) defExpr_evalAsFloat(penv, right, a);
}

// Builds a typed operation node; null when it does not type.
AST_Node* operation(ParserEnv* penv, uint32_t op, AST_Node* left, AST_Node* right) {
  if (left == nullptr || (right == nullptr && op != NEG_OP && op != NOT_OP && op != BIT_NOT_OP)) {
    return nullptr;
  }
  fixFloatOperands(penv, left, right);
  AST_Node* node = parser_makeNodeWord(penv, op, 0, left, right);
  if (node == nullptr) return nullptr;
  if (defType_evaluate(penv, node) == NO_ID) return nullptr;
  const uint32_t a = defType_evaluate(penv, left);
  const uint32_t b = right != nullptr ? defType_evaluate(penv, right) : NO_ID;
  const uint32_t operatorType = defType_deduceOperationOperatorType(penv->program, op, a, b);
  if (operatorType == NO_ID) return nullptr;
  node->value.id.type = operatorType;
  return node;
}

// The last comparison of a chain (a comparison, or conjunctions of them).
AST_Node* lastComparison(ParserEnv* penv, AST_Node* chain) {
  if (chain != nullptr && chain->op == AND_OP) return AST_right(penv->program, chain);
  return chain;
}

AST_Node* chainLink(ParserEnv* penv, AST_Node* chain, uint32_t op, AST_Node* right) {
  AST_Node* last = lastComparison(penv, chain);
  if (last == nullptr || right == nullptr || !isComparison(last->op)) return nullptr;
  AST_Node* middle = AST_right(penv->program, last);
  AST_Node* link = defExpr_makeLogicalOp(penv, op, middle, right);
  if (link == nullptr) return nullptr;
  return defExpr_makeLogicalOp(penv, AND_OP, chain, link);
}

}  // namespace

AST_Node* defVar_makeAccess(ParserEnv* penv, AST_Node* symbol) {
  if (symbol == nullptr) return nullptr;
  const Program* p = penv->program;
  const uint32_t sym = symbol->value.id.index;
  if (const ParserLocal* local = defVar_findLocal(penv, sym)) {
    return reference(penv, LOCAL_VAR, local->typeId, local->index,
                     AST_fromId(p, local->declaration));
  }
  if (const ParserLocal* local = defVar_findLocalConstant(penv, sym)) {
    return reference(penv, penv->pctx.wholeProgram ? GLOBAL_CONSTANT_OP : LOCAL_CONSTANT_OP,
                     local->typeId, local->index, AST_fromId(p, local->declaration));
  }
  for (auto it = penv->pctx.staticVars.rbegin(); it != penv->pctx.staticVars.rend(); ++it) {
    if (it->symbol == sym) return reference(penv, STATIC_VARIABLE_OP, it->typeId, it->index);
  }
  const uint32_t global = findGlobal(
      p->infoProg->n_globalVariables, [p](uint32_t i) { return p->dbg->globalVariableSymbolId[i]; },
      sym);
  if (global != NO_ID) {
    return reference(penv, GLOBAL_VARIABLE_OP, p->globalVariableTable[global].typeId, global);
  }
  const auto& hidden = penv->pctx.hiddenConstants;
  const uint32_t constant = findGlobal(
      p->infoProg->n_globalConstants,
      [p, &hidden](uint32_t i) {
        return hidden.contains(i) ? NO_ID : p->dbg->globalConstantSymbolId[i];
      },
      sym);
  if (constant != NO_ID) {
    return reference(penv, GLOBAL_CONSTANT_OP, p->globalConstantTable[constant].typeId, constant);
  }
  const uint32_t type = findType(p, sym);
  if (type != NO_ID) return reference(penv, TYPE_OP, TypeType, type);
  if (std::strcmp(symbolName(penv, sym), "IO") == 0) {
    return parser_makeNodeWord(penv, IO_OP, TypeInputOutput, nullptr, nullptr);
  }
  diag::undefined_identifier(penv, symbolName(penv, sym));
  return nullptr;
}

AST_Node* defExpr_makeArithmeticOp(ParserEnv* penv, uint32_t op, AST_Node* left, AST_Node* right) {
  return operation(penv, op, left, right);
}

AST_Node* defExpr_makeLogicalOp(ParserEnv* penv, uint32_t op, AST_Node* left, AST_Node* right) {
  return operation(penv, op, left, right);
}

AST_Node* defExpr_makeUnaryOp(ParserEnv* penv, uint32_t op, AST_Node* operand) {
  return operation(penv, op, operand, nullptr);
}

AST_Node* defExpr_makeMultipleEqualityExpression(ParserEnv* penv, AST_Node* chain, uint32_t op,
                                                 AST_Node* right) {
  AST_Node* last = lastComparison(penv, chain);
  if (last != nullptr && last->op != op) {
    diag::mixed_equality_chain(penv);
    return nullptr;
  }
  return chainLink(penv, chain, op, right);
}

AST_Node* defExpr_makeMultipleRelationalExpression(ParserEnv* penv, AST_Node* chain, uint32_t op,
                                                   AST_Node* right) {
  AST_Node* first = chain;
  while (first != nullptr && first->op == AND_OP) first = AST_left(penv->program, first);
  if (first != nullptr && isComparison(first->op) && isAscending(first->op) != isAscending(op)) {
    if (isAscending(op)) {
      diag::descending_in_ascending_chain(penv);
    } else {
      diag::ascending_in_descending_chain(penv);
    }
  }
  return chainLink(penv, chain, op, right);
}

AST_Node* defExpr_makeUnitConversion(ParserEnv* penv, AST_Node* expression, AST_Node* unit) {
  if (expression == nullptr || unit == nullptr) return nullptr;
  const char* name = symbolName(penv, unit->value.id.index);
  struct Unit {
    const char* name;
    uint32_t op;
  };
  static constexpr Unit kUnits[] = {
      {"s", S_OP}, {"ms", MS_OP}, {"us", US_OP}, {"ns", NS_OP}, {"ps", PS_OP}};
  for (const Unit& u : kUnits) {
    if (std::strcmp(u.name, name) != 0) continue;
    if (expression->op == INTEGER_OP) {
      NodeValue value{};
      value.u64 = expression->value.u64;
      return parser_makeNode(penv, u.op, value, nullptr, nullptr);
    }
    const uint32_t type = defType_evaluate(penv, expression);
    if (type == NO_ID) return nullptr;
    if (!defType_isInteger(type)) {
      diag::integer_expected(penv, typeName(penv, type));
      return nullptr;
    }
    // Picoseconds need no scaling: the value is taken as a time.
    if (u.op == PS_OP) return parser_makeNodeWord(penv, CAST_OP, TypeTime, expression, nullptr);
    return parser_makeNodeWord(penv, u.op, 0, expression, nullptr);
  }
  diag::unknown_post_symbol(penv, name);
  return nullptr;
}

AST_Node* defExpr_makeAssignment(ParserEnv* penv, AST_Node* target, AST_Node* value) {
  if (target == nullptr || value == nullptr) return nullptr;
  if (!defExpr_isWritable(penv, target)) {
    diag::read_only_target(penv);
    return nullptr;
  }
  const uint32_t targetType = defType_evaluate(penv, target);
  if (targetType == NO_ID) return nullptr;
  if (value->op == LIST) {
    value = defVar_makeInitializer(penv, value, targetType);
    if (value == nullptr) return nullptr;
  }
  if (defType_bufferKind(penv->program, targetType) != NONE_BUFFER) {
    diag::whole_buffer_assignment(penv);
    return nullptr;
  }
  if (value->op != INITIALIZER_OP && defExpr_matchExpectedType(penv, value, targetType) == NO_ID) {
    diag::wrong_value_type(penv, typeName(penv, targetType),
                           typeName(penv, defType_evaluate(penv, value)));
    return nullptr;
  }
  return parser_makeNodeWord(penv, ASSIGN_OP, 0, target, value);
}

AST_Node* defBuff_makeArrayCall(ParserEnv* penv, AST_Node* array, AST_Node* index) {
  if (array == nullptr || index == nullptr) return nullptr;
  const Program* program = penv->program;
  const uint32_t arrayType = defType_evaluate(penv, array);
  if (arrayType == NO_ID) return nullptr;
  if (defType_bufferKind(program, arrayType) != ARRAY_BUFFER) {
    diag::not_an_array_type(penv, typeName(penv, arrayType));
    return nullptr;
  }
  const uint32_t indexType = defType_evaluate(penv, index);
  if (indexType == NO_ID) return nullptr;
  if (!defType_isInteger(indexType)) {
    diag::integer_expected(penv, typeName(penv, indexType));
    return nullptr;
  }
  const uint32_t size = program->typeTable[arrayType].size;
  if (defExpr_isConst(penv, index) && penv->ienv != nullptr) {
    const StackMark mark = interpStack_enterCall(penv->ienv);
    uint64_t value = 0;
    primTypeToUInt64(expr_execute(penv->ienv, index), &value);
    interpStack_leaveCall(penv->ienv, mark);
    if (value >= size) {
      diag::index_out_of_bounds(penv, size - 1);
      return nullptr;
    }
  } else if (indexType == TypeUInt64 || indexType == TypeSInt64) {
    diag::wide_index_variable(penv);
    return nullptr;
  } else if (defType_isSignedInteger(indexType)) {
    diag::signed_index_variable(penv);
  }
  return parser_makeNodeWord(penv, ARRAY_INDEX_OP, program->typeTable[arrayType].baseType, array,
                             index);
}

AST_Node* defExpr_makeFieldCall(ParserEnv* penv, AST_Node* object, AST_Node* fieldSymbol) {
  if (object == nullptr || fieldSymbol == nullptr) return nullptr;
  const Program* program = penv->program;
  const uint32_t field = fieldSymbol->value.id.index;
  if (object->op == TYPE_OP) {
    const uint32_t named = AST_getTypeTypeId(program, object);
    if (defType_isEnum(program, named)) {
      AST_Node* sym = parser_makeNodeWord(penv, SYM, field, nullptr, nullptr);
      if (sym == nullptr) return nullptr;
      return parser_makeNodeWord(penv, ENUM_OP, named, sym, object);
    }
    return builtinFld_makeCall(penv, object, fieldSymbol);
  }
  const uint32_t type = defType_evaluate(penv, object);
  if (type == NO_ID) return nullptr;
  const TypeRecord& record = program->typeTable[type];
  if (record.bufferType == NONE_BUFFER && record.baseType == TypeStructure) {
    uint32_t offset = 0;
    for (const AST_Node* cell = AST_fromId(program, record.fields);
         cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
      const AST_Node* f = AST_left(program, cell);
      const uint32_t fieldType = AST_getStructFieldTypeId(program, f);
      if (AST_getStructFieldSymId(program, f) == field) {
        AST_Node* custom = indexNode(penv, offset);
        AST_Node* index = custom != nullptr ? parser_makeNodeWord(penv, INDEX_NODE,
                                                                  kCallFieldCustom, object, custom)
                                            : nullptr;
        if (index == nullptr) return nullptr;
        return parser_makeNodeWord(penv, CALL_OP, fieldType, index, nullptr);
      }
      offset += Type_getStorageSize(program, fieldType);
    }
    diag::unknown_field(penv, symbolName(penv, field), typeName(penv, type));
    return nullptr;
  }
  return builtinFld_makeCall(penv, object, fieldSymbol);
}

AST_Node* make_function_call(ParserEnv* penv, AST_Node* nameSymbol, AST_Node* args,
                             bool leftCurrying) {
  if (nameSymbol == nullptr) return nullptr;
  const Program* program = penv->program;
  const uint32_t sym = nameSymbol->value.id.index;
  const char* name = symbolName(penv, sym);
  const ParserContext& c = penv->pctx;
  for (const ParserLocal& sub : c.staticVars) {
    if (sub.symbol != sym || sub.index >= c.subProcessCount || leftCurrying) continue;
    const AST_Node* params =
        AST_fromId(program, program->processDefinitionTable[sub.definition].params);
    if (!defCall_checkArguments(penv, name, params, args, CallKind::SubProcess, nullptr)) {
      return nullptr;
    }
    AST_Node* custom = indexNode(penv, sub.index);
    AST_Node* index = custom != nullptr
                          ? parser_makeNodeWord(penv, INDEX_NODE, kCallSubProcess, nullptr, custom)
                          : nullptr;
    if (index == nullptr) return nullptr;
    return parser_makeNodeWord(penv, CALL_OP, TypeStatement, index, args);
  }
  uint32_t funcId = NO_ID;
  for (uint32_t i = 0; i < program->infoProg->n_functions; ++i) {
    if (program->dbg->functionSymbolId[i] == sym) funcId = i;
  }
  if (funcId == NO_ID) {
    const uint32_t type = findType(program, sym);
    if (type == NO_ID) {
      diag::undefined_function(penv, name);
      return nullptr;
    }
    if (AST_listSize(program, args) != 1) {
      diag::cast_argument_count(penv);
      return nullptr;
    }
    return parser_makeNodeWord(penv, CAST_OP, type, AST_left(program, args), nullptr);
  }
  const AST_Node* params = AST_fromId(program, program->functionTable[funcId].params);
  bool valueForm = false;
  if (!defCall_checkArguments(penv, name, params, args, CallKind::Function, &valueForm)) {
    return nullptr;
  }
  uint32_t code = leftCurrying ? kCallFunctionLeftCurrying : kCallFunctionCustom;
  uint32_t type = TypeStatement;
  if (valueForm) {
    code = leftCurrying ? kCallFunctionLeftRightCurrying : kCallFunctionRightCurrying;
    type = AST_getVarDeclTypeId(
        program,
        AST_left(program, AST_getListNthRoot(program, params, AST_listSize(program, params) - 1)));
  }
  AST_Node* custom = indexNode(penv, funcId);
  AST_Node* index =
      custom != nullptr ? parser_makeNodeWord(penv, INDEX_NODE, code, nullptr, custom) : nullptr;
  if (index == nullptr) return nullptr;
  return parser_makeNodeWord(penv, CALL_OP, type, index, args);
}

bool defCall_checkArguments(ParserEnv* penv, const char* name, const AST_Node* params,
                            AST_Node* args, CallKind kind, bool* valueForm) {
  const Program* program = penv->program;
  const size_t expected = AST_listSize(program, params);
  const size_t given = AST_listSize(program, args);
  AST_Node* arg = args;
  const AST_Node* param = params;
  for (; arg != nullptr && param != nullptr;
       arg = AST_right(program, arg), param = AST_right(program, param)) {
    AST_Node* value = AST_left(program, arg);
    const AST_Node* decl = AST_left(program, param);
    const uint32_t paramType = AST_getVarDeclTypeId(program, decl);
    if (value == nullptr || defExpr_matchExpectedType(penv, value, paramType) == NO_ID) {
      diag::wrong_argument_type(penv, name, symbolName(penv, AST_getVarDeclSymId(program, decl)),
                                typeName(penv, paramType),
                                typeName(penv, defType_evaluate(penv, value)));
      return false;
    }
    if (decl->op == OUT_PARAM_OP && !defExpr_isWritable(penv, value)) {
      diag::out_argument_not_writable(penv);
      return false;
    }
  }
  const bool lastOutMissing = given + 1 == expected && param != nullptr &&
                              AST_right(program, param) == nullptr &&
                              AST_left(program, param)->op == OUT_PARAM_OP;
  if (kind == CallKind::Function && lastOutMissing) {
    *valueForm = true;
    return true;
  }
  if (given == expected) return true;
  switch (kind) {
    case CallKind::Function: diag::wrong_argument_count(penv, name, expected, given); break;
    case CallKind::SubProcess: diag::wrong_subprocess_argument_count(penv, name); break;
    case CallKind::Instance:
      diag::wrong_instance_argument_count(penv, name, expected, given);
      break;
  }
  return false;
}

// ---------------------------------------------------------------- properties

bool defExpr_isConst(ParserEnv* penv, const AST_Node* e) {
  if (e == nullptr) return false;
  const Program* program = penv->program;
  switch (e->op) {
    case BOOLEAN_OP:
    case FLOAT_OP:
    case FLOAT32_OP:
    case FLOAT64_OP:
    case INTEGER_OP:
    case STRING_OP:
    case PS_OP:
    case GLOBAL_CONSTANT_OP:
    case LOCAL_CONSTANT_OP:
    case ENUM_OP:
    case TYPE_OP:
    case INITIALIZER_OP: return true;
    case MS_OP:
    case S_OP:
    case US_OP:
    case NS_OP: return e->left == NO_ID || defExpr_isConst(penv, AST_left(program, e));
    case CALL_OP: return defCall_isConst(penv, e);
    case CAST_OP: return defExpr_isConst(penv, AST_left(program, e));
    case LIST:
      for (const AST_Node* cell = e; cell != nullptr; cell = AST_right(program, cell)) {
        if (!defExpr_isConst(penv, AST_left(program, cell))) return false;
      }
      return true;
    case ARRAY_INDEX_OP:
    case AND_OP:
    case OR_OP:
    case BIT_AND_OP:
    case SHIFT_LEFT_OP:
    case BIT_OR_OP:
    case SHIFT_RIGHT_OP:
    case BIT_XOR_OP:
    case CEQ_OP:
    case CGE_OP:
    case CLE_OP:
    case CNE_OP:
    case DIV_OP:
    case GT_OP:
    case LT_OP:
    case MINUS_OP:
    case MODULO_OP:
    case MULT_OP:
    case PLUS_OP:
      return defExpr_isConst(penv, AST_left(program, e)) &&
             defExpr_isConst(penv, AST_right(program, e));
    case NEG_OP:
    case NOT_OP:
    case BIT_NOT_OP: return defExpr_isConst(penv, AST_left(program, e));
    default: return false;
  }
}

uint32_t defExpr_getAccessRights(ParserEnv* penv, const AST_Node* e) {
  if (e == nullptr) return kAccessNone;
  if (e->op == CALL_OP) return defCall_getAccessRights(penv, e);
  if (defExpr_isConst(penv, e)) return kAccessRead;
  if (e->op == LOCAL_VAR) {
    const uint32_t index = AST_left(penv->program, e)->value.id.index;
    for (const ParserLocal& local : penv->pctx.localVars) {
      if (local.index == index) return local.access;
    }
  }
  return kAccessReadWrite;
}

bool defExpr_isReadable(ParserEnv* penv, const AST_Node* e) {
  const uint32_t rights = defExpr_getAccessRights(penv, e);
  return rights == kAccessRead || rights == kAccessReadWrite;
}

bool defExpr_isWritable(ParserEnv* penv, const AST_Node* e) {
  const uint32_t rights = defExpr_getAccessRights(penv, e);
  return rights == kAccessWrite || rights == kAccessReadWrite;
}
