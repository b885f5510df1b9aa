#include "interpreterLib/validate.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/known_fields.h"

namespace {

constexpr const char* kKnownFieldType[] = {
#define KOVA_KNOWN_FIELD_TYPE(type, field) #type,
    KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_TYPE)
#undef KOVA_KNOWN_FIELD_TYPE
};
constexpr const char* kKnownFieldName[] = {
#define KOVA_KNOWN_FIELD_NAME(type, field) #field,
    KOVA_KNOWN_FIELDS(KOVA_KNOWN_FIELD_NAME)
#undef KOVA_KNOWN_FIELD_NAME
};

// Arguments a built-in call evaluates whatever their values; the evaluator
// reads them without looking whether they are there.
constexpr uint32_t requiredArguments(uint32_t code) {
  switch (code) {
    case kCallFunctionLeftCurrying:
    case kCallChnlPush:
    case kCallChnlInsertSorted:
    case kCallAdjustTime:
    case kCallSeedWith:
    case kCallRandExponential:
    case kCallChoiceUniformArray:
    case kCallChoiceUniformChannel:
    case kCallChoiceUniformEnum:
    case kCallPrint:
    case kCallPrintValues:
    case kCallPrintlnFormat:
    case kCallPrintlnValues:
    case kCallStringPrint:
    case kCallStringPrintValues:
    case kCallSleep:
    case kCallCast:
    case kCallAs:
    case kCallUInt8RandParetoF32:
    case kCallUInt16RandParetoF32:
    case kCallUInt32RandParetoF32:
    case kCallUInt64RandParetoF32:
    case kCallUInt8RandParetoF64:
    case kCallUInt16RandParetoF64:
    case kCallUInt32RandParetoF64:
    case kCallUInt64RandParetoF64:
    case kCallF32RandPareto:
    case kCallF32RandParetoScaled:
    case kCallF64RandPareto:
    case kCallF64RandParetoScaled:
    case kCallF32Cos:
    case kCallF32Sin:
    case kCallF32Atan:
    case kCallF32Sqrt:
    case kCallF32Abs:
    case kCallF32Log:
    case kCallF64Cos:
    case kCallF64Sin:
    case kCallF64Atan:
    case kCallF64Sqrt:
    case kCallF64Abs:
    case kCallF64Log:
    case kCallUInt8Abs:
    case kCallUInt16Abs:
    case kCallUInt32Abs:
    case kCallUInt64Abs: return 1;
    case kCallRandGauss:
    case kCallRandUniform:
    case kCallUInt8RandUniform:
    case kCallSInt8RandUniform:
    case kCallUInt16RandUniform:
    case kCallSInt16RandUniform:
    case kCallUInt32RandUniform:
    case kCallSInt32RandUniform:
    case kCallUInt64RandUniform:
    case kCallSInt64RandUniform:
    case kCallTime64RandUniform:
    case kCallDuration64RandUniform:
    case kCallF32RandUniform:
    case kCallF64RandUniform:
    case kCallExit:
    case kCallF32Pow:
    case kCallF64Pow:
    case kCallUInt8Max:
    case kCallUInt8Min:
    case kCallSInt8Max:
    case kCallSInt8Min:
    case kCallUInt16Max:
    case kCallUInt16Min:
    case kCallSInt16Max:
    case kCallSInt16Min:
    case kCallUInt32Max:
    case kCallUInt32Min:
    case kCallSInt32Max:
    case kCallSInt32Min:
    case kCallUInt64Max:
    case kCallUInt64Min:
    case kCallSInt64Max:
    case kCallSInt64Min:
    case kCallTime64Max:
    case kCallTime64Min:
    case kCallDuration64Max:
    case kCallDuration64Min:
    case kCallF32Max:
    case kCallF32Min:
    case kCallF64Max:
    case kCallF64Min: return 2;
    case kCallAssert: return 4;
    default: return 0;
  }
}

// Calls that evaluate the object of their call index node.
constexpr bool needsObject(uint32_t code) {
  switch (code) {
    case kCallFieldCustom:
    case kCallArrayMaxSize:
    case kCallArrayChoiceUniform:
    case kCallChnlPush:
    case kCallChnlInsertSorted:
    case kCallChnlPop:
    case kCallChnlPeek:
    case kCallChnlLastPeek:
    case kCallChnlClear:
    case kCallChnlMaxSize:
    case kCallChnlCount:
    case kCallChnlIsEmpty:
    case kCallChnlIsFull:
    case kCallChnlNotEmpty:
    case kCallChnlNotFull:
    case kCallChnlChoiceUniform:
    case kCallEnumChoiceUniform:
    case kCallIterRemoveCurrent:
    case kCallIterCurrent:
    case kCallIterIndex:
    case kCallIterIsLast:
    case kCallCast:
    case kCallAs: return true;
    default: return false;
  }
}

// Calls whose result is no value (their result has no storage).
constexpr bool yieldsNoValue(uint32_t code) {
  switch (code) {
    case kCallFunctionCustom:
    case kCallSubProcess:
    case kCallChnlPush:
    case kCallChnlInsertSorted:
    case kCallChnlClear:
    case kCallPrint:
    case kCallPrintValues:
    case kCallPrintln:
    case kCallPrintlnFormat:
    case kCallPrintlnValues:
    case kCallStringPrint:
    case kCallStringPrintValues:
    case kCallSleep:
    case kCallExit:
    case kCallAssert:
    case kCallSyncIO:
    case kCallIterRemoveCurrent: return true;
    default: return false;
  }
}

// Arguments the evaluator reads as value words, never evaluating them: the
// line of an exit, the file, line and text of an assertion.
constexpr bool isLabelArgument(uint32_t code, uint32_t k) {
  return (code == kCallExit && k == 1) || (code == kCallAssert && k != 0);
}

constexpr bool isBinaryOperator(uint32_t op) {
  return AST_isArithmeticOp(op) || AST_isComparisonOp(op);
}

constexpr bool isParameter(uint32_t op) {
  return op == IN_PARAM_OP || op == IN_CHANNEL_PARAM_OP || op == OUT_PARAM_OP ||
         op == OUT_CHANNEL_PARAM_OP;
}

class Validator {
 public:
  Validator(const Program* program, char* why, size_t size)
      : p_(*program), info_(*program->infoProg), why_(why), size_(size) {}

  bool run() {
    return symbols() && strings() && dbgSymbols() && nodes() && types() && constants() &&
           predefined() && functions() && processes() && instances() && globalDefinitions();
  }

 private:
  const Program& p_;
  const InfoProg& info_;
  char* why_;
  size_t size_;
  // Nodes already checked in each walking context, so that shared subtrees
  // are visited once.
  std::vector<uint8_t> seen_;
  std::vector<uint8_t> typeState_;  // 0 unvisited, 1 in progress, 2 done
  uint32_t processInstanceType_ = NO_ID;

  enum Context : uint8_t { kExpr = 1, kStmt = 2, kDecls = 4, kStatements = 8, kExprStatement = 16 };

  [[gnu::format(printf, 2, 3)]] bool fail(const char* format, ...) {
    if (size_ == 0) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(why_, size_, format, args);
    va_end(args);
    return false;
  }

  const AST_Node* node(uint32_t id) const { return id == NO_ID ? nullptr : &p_.RAMprogram[id]; }
  uint32_t idOf(const AST_Node* n) const { return static_cast<uint32_t>(n - p_.RAMprogram.get()); }
  const char* opName(const AST_Node* n) const {
    const char* name = AST_opName(n->op);
    return name != nullptr ? name : "?";
  }
  const char* symbol(uint32_t symId) const {
    return &p_.dbg->symbolTable[p_.dbg->symbolTableIndex[symId]];
  }
  const TypeRecord& type(uint32_t id) const { return p_.typeTable[id]; }

  // ------------------------------------------------------------ tables

  // A table of NUL-terminated texts: every offset inside, the last byte NUL.
  bool texts(const char* section, const uint32_t* index, uint32_t count, const char* bytes,
             uint32_t size) {
    if (count != 0 && (size == 0 || bytes[size - 1] != '\0')) {
      return fail("%s: the table does not end with a NUL", section);
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (index[i] >= size) {
        return fail("%s: entry %u at offset %u, past the %u bytes of the table", section, i,
                    index[i], size);
      }
    }
    return true;
  }

  bool symbols() {
    return texts("symbol index", p_.dbg->symbolTableIndex.get(), info_.n_symbols,
                 p_.dbg->symbolTable.get(), info_.symbolStorageSize);
  }

  bool strings() {
    return texts("string index", p_.stringTableIndex.get(), info_.n_strings, p_.stringTable.get(),
                 info_.stringTableSize);
  }

  bool symbolIds(const char* section, const uint32_t* ids, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if (ids[i] >= info_.n_symbols) {
        return fail("%s: record %u names symbol %u of %u", section, i, ids[i], info_.n_symbols);
      }
    }
    return true;
  }

  bool dbgSymbols() {
    const Dbg& d = *p_.dbg;
    return symbolIds("process definition names", d.processDefinitionSymbolId.get(),
                     info_.n_processDefinitions) &&
           symbolIds("process instance names", d.processInstanceSymbolId.get(),
                     info_.n_processInstances) &&
           symbolIds("top-level instance names", d.globalProcessInstanceSymbolId.get(),
                     info_.n_globalProcessInstances) &&
           symbolIds("global variable names", d.globalVariableSymbolId.get(),
                     info_.n_globalVariables) &&
           symbolIds("global constant names", d.globalConstantSymbolId.get(),
                     info_.n_globalConstants) &&
           symbolIds("type names", d.typeSymbolId.get(), info_.n_type) &&
           symbolIds("function names", d.functionSymbolId.get(), info_.n_functions) &&
           symbolIds("static variable names", d.processStaticVariableSymbolId.get(),
                     info_.n_processStaticVariables);
  }

  // ------------------------------------------------------------ nodes

  // Every child id in range, every op known, no node its own descendant, and
  // no chain deeper than the evaluator may recurse.
  bool nodes() {
    const uint32_t n = info_.n_AST;
    for (uint32_t i = 0; i < n; ++i) {
      const AST_Node& a = p_.RAMprogram[i];
      if (AST_opName(a.op) == nullptr) return fail("node %u: unknown op code %u", i, a.op);
      if ((a.left != NO_ID && a.left >= n) || (a.right != NO_ID && a.right >= n)) {
        return fail("node %u: child id past the %u nodes", i, n);
      }
    }
    if (n != 0 && p_.RAMprogram[0].op != ROOT) return fail("node 0: not the ROOT node");
    // Depth-first, without recursion: a node's depth is known once both
    // children are done. 0 unvisited, NO_ID on the path, else depth + 1.
    std::vector<uint32_t> depth(n, 0);
    std::vector<uint32_t> stack;
    for (uint32_t start = 0; start < n; ++start) {
      if (depth[start] != 0) continue;
      stack.push_back(start);
      depth[start] = NO_ID;
      while (!stack.empty()) {
        const uint32_t id = stack.back();
        const AST_Node& a = p_.RAMprogram[id];
        bool pushed = false;
        for (uint32_t child : {a.left, a.right}) {
          if (child == NO_ID) continue;
          if (depth[child] == NO_ID) return fail("node %u: a child leads back to it", id);
          if (depth[child] == 0) {
            depth[child] = NO_ID;
            stack.push_back(child);
            pushed = true;
            break;
          }
        }
        if (pushed) continue;
        uint32_t d = 1;
        if (a.left != NO_ID) d = std::max(d, depth[a.left] + 1);
        // The next cell of a list is walked in a loop, not recursively.
        if (a.right != NO_ID) d = std::max(d, depth[a.right] + (a.op == LIST ? 0 : 1));
        if (d > kMaxNestingDepth) {
          return fail("node %u: nesting deeper than %u nodes", id, kMaxNestingDepth);
        }
        depth[id] = d;
        stack.pop_back();
      }
    }
    seen_.assign(n, 0);
    return true;
  }

  bool firstVisit(const AST_Node* n, Context context) {
    uint8_t& s = seen_[idOf(n)];
    if ((s & context) != 0) return false;
    s |= context;
    return true;
  }

  bool typeId(const AST_Node* n, uint32_t id, const char* what) {
    if (id >= info_.n_type) {
      return fail("node %u (%s): %s type %u of %u", idOf(n), opName(n), what, id, info_.n_type);
    }
    return true;
  }

  // The type of something that holds a value: not the built-in structure or
  // enumeration type, which has no fields or literals of its own to clear
  // or print.
  bool valueTypeId(const AST_Node* n, uint32_t id, const char* what) {
    if (!typeId(n, id, what)) return false;
    if (id == TypeStructure || id == TypeEnum) {
      return fail("node %u (%s): %s type %u holds no value", idOf(n), opName(n), what, id);
    }
    return true;
  }

  bool required(const AST_Node* parent, const AST_Node* child, const char* what) {
    if (child == nullptr) return fail("node %u (%s): no %s", idOf(parent), opName(parent), what);
    return true;
  }

  // A chain of LIST cells; `each` checks an element (null when absent).
  template <class Each>
  bool list(const AST_Node* owner, const AST_Node* cell, const char* what, Each each) {
    for (; cell != nullptr; cell = node(cell->right)) {
      if (cell->op != LIST) {
        return fail("node %u (%s): the %s holds node %u (%s) where a LIST cell belongs",
                    idOf(owner), opName(owner), what, idOf(cell), opName(cell));
      }
      if (!each(node(cell->left))) return false;
    }
    return true;
  }

  uint32_t listSize(const AST_Node* cell) const {
    uint32_t size = 0;
    for (; cell != nullptr && cell->op == LIST; cell = node(cell->right)) ++size;
    return size;
  }

  const AST_Node* listNth(const AST_Node* cell, uint32_t n) const {
    for (uint32_t i = 0; cell != nullptr && cell->op == LIST; cell = node(cell->right), ++i) {
      if (i == n) return node(cell->left);
    }
    return nullptr;
  }

  bool constantCell(const AST_Node* n, uint32_t index) {
    if (index >= info_.size_constantData) {
      return fail("node %u (%s): constant data cell %u of %u", idOf(n), opName(n), index,
                  info_.size_constantData);
    }
    return true;
  }

  // An expression whose value is used: its storage is read or written.
  bool expr(const AST_Node* n) {
    if (n == nullptr || !firstVisit(n, kExpr)) return true;
    if (n->op == ASSIGN_OP || n->op == LOOPOVER_OP ||
        (n->op == CALL_OP && node(n->left) != nullptr &&
         yieldsNoValue(node(n->left)->value.id.index))) {
      return fail("node %u (%s): used for a value it does not have", idOf(n), opName(n));
    }
    return exprShape(n);
  }

  // An expression as a statement: only its shape matters.
  bool exprStatement(const AST_Node* n) {
    if (n == nullptr || !firstVisit(n, kExprStatement)) return true;
    return exprShape(n);
  }

  bool exprShape(const AST_Node* n) {
    const AST_Node* l = node(n->left);
    const AST_Node* r = node(n->right);
    const uint32_t id = n->value.id.index;
    switch (n->op) {
      case AND_OP:
      case OR_OP:
      case ARRAY_INDEX_OP:
      case ASSIGN_OP:
        return required(n, l, "left operand") && required(n, r, "right operand") && expr(l) &&
               expr(r);
      case NOT_OP: return required(n, l, "operand") && expr(l);
      case BIT_NOT_OP:
      case NEG_OP:
        if (r != nullptr) return fail("node %u (%s): a second operand", idOf(n), opName(n));
        if (id >= TypePrimitive) {
          return fail("node %u (%s): operator type %u is not primitive", idOf(n), opName(n), id);
        }
        return required(n, l, "operand") && expr(l);
      case MS_OP:
      case S_OP:
      case US_OP:
      case NS_OP: return expr(l);
      case ENUM_OP:
        if (!required(n, l, "literal") || !typeId(n, id, "enumeration")) return false;
        if (type(id).baseType != TypeEnum) {
          return fail("node %u (ENUM_OP): type %u is not an enumeration", idOf(n), id);
        }
        // An enumeration value is its literal's symbol, which traces print.
        if (l->value.id.index >= info_.n_symbols) {
          return fail("node %u (ENUM_OP): literal symbol %u of %u", idOf(n), l->value.id.index,
                      info_.n_symbols);
        }
        return true;
      case STRING_OP: {
        if (!constantCell(n, id)) return false;
        // The text's cells run up to the in index of its first cell.
        const uint64_t end = uint64_t{id} + p_.constantDataTable[id].index;
        if (end > info_.size_constantData) {
          return fail("node %u (STRING_OP): the text runs past the constant data", idOf(n));
        }
        return true;
      }
      case INITIALIZER_OP: return constantCell(n, id);
      case TYPE_OP: return typeId(n, l != nullptr ? l->value.id.index : id, "named");
      case FLOAT_OP: return fail("node %u (FLOAT_OP): an untyped float literal", idOf(n));
      case GLOBAL_VARIABLE_OP:
        if (!required(n, l, "variable")) return false;
        if (l->value.id.index >= info_.n_globalVariables) {
          return fail("node %u (GLOBAL_VARIABLE_OP): global variable %u of %u", idOf(n),
                      l->value.id.index, info_.n_globalVariables);
        }
        return true;
      case GLOBAL_CONSTANT_OP:
        if (!required(n, l, "constant")) return false;
        if (l->value.id.index >= info_.n_globalConstants) {
          return fail("node %u (GLOBAL_CONSTANT_OP): global constant %u of %u", idOf(n),
                      l->value.id.index, info_.n_globalConstants);
        }
        return true;
      case LOCAL_VAR:
      case LOCAL_CONSTANT_OP:
      case STATIC_VARIABLE_OP: return required(n, l, "variable");
      case CAST_OP: return required(n, l, "operand") && typeId(n, id, "target") && expr(l);
      case CALL_OP: return call(n);
      case LOOPOVER_OP: {
        const AST_Node* decl = l;
        if (decl != nullptr && decl->op == LIST) decl = node(decl->left);
        if (decl == nullptr || decl->op != ITERATOR_DECL_OP) {
          return fail("node %u (LOOPOVER_OP): no iterator declaration", idOf(n));
        }
        if (!typeId(decl, decl->value.id.type, "iterator")) return false;
        if (type(decl->value.id.type).storageSize < 3) {
          return fail("node %u (ITERATOR_DECL_OP): iterator type %u holds fewer than 3 cells",
                      idOf(decl), decl->value.id.type);
        }
        return required(decl, node(decl->right), "buffer") && expr(node(decl->right)) &&
               statement(r);
      }
      default:
        if (isBinaryOperator(n->op)) {
          if (id >= TypePrimitive) {
            return fail("node %u (%s): operator type %u is not primitive", idOf(n), opName(n), id);
          }
          return required(n, l, "left operand") && required(n, r, "right operand") && expr(l) &&
                 expr(r);
        }
        // Literals need nothing; what is not an expression at all ends the
        // run with its own message when it is reached.
        return true;
    }
  }

  bool arguments(const AST_Node* n, const AST_Node* args, uint32_t code) {
    uint32_t k = 0;
    return list(n, args, "argument list", [&](const AST_Node* a) {
      return required(n, a, "argument in its argument list") &&
             (isLabelArgument(code, k++) || expr(a));
    });
  }

  bool call(const AST_Node* n) {
    const AST_Node* index = node(n->left);
    if (index == nullptr || index->op != INDEX_NODE) {
      return fail("node %u (CALL_OP): no call index node", idOf(n));
    }
    const uint32_t code = index->value.id.index;
    if (code >= kCallCodeCount)
      return fail("node %u (CALL_OP): unknown call code %u", idOf(n), code);
    const AST_Node* custom = node(index->right);
    if (custom != nullptr && custom->op != INDEX_NODE) {
      return fail("node %u (CALL_OP): custom id held by a %s node", idOf(n), opName(custom));
    }
    const uint32_t customId = custom != nullptr ? custom->value.id.index : index->value.id.custom;
    const AST_Node* args = node(n->right);
    if (!arguments(n, args, code)) return false;
    const uint32_t count = listSize(args);
    if (count < requiredArguments(code)) {
      return fail("node %u (CALL_OP): call code %u with %u of its %u arguments", idOf(n), code,
                  count, requiredArguments(code));
    }
    const AST_Node* object = node(index->left);
    if (needsObject(code) && !required(n, object, "call object")) return false;
    if (!expr(object)) return false;
    switch (code) {
      case kCallFunctionRightCurrying:
      case kCallFunctionLeftRightCurrying:
      case kCallFieldCustom:
        if (!typeId(n, n->value.id.type, "result")) return false;
        break;
      default: break;
    }
    switch (code) {
      case kCallFunctionRightCurrying:
      case kCallFunctionLeftCurrying:
      case kCallFunctionLeftRightCurrying:
      case kCallFunctionCustom:
        if (customId >= info_.n_functions) {
          return fail("node %u (CALL_OP): function %u of %u", idOf(n), customId, info_.n_functions);
        }
        return true;
      case kCallExit: return true;
      case kCallAssert:
        for (uint32_t k : {1u, 3u}) {
          const uint32_t text = listNth(args, k)->value.id.index;
          if (text >= info_.n_strings) {
            return fail("node %u (CALL_OP): assertion text %u of %u strings", idOf(n), text,
                        info_.n_strings);
          }
        }
        return true;
      case kCallEnumChoiceUniform:
        if (args != nullptr) return fail("node %u (CALL_OP): arguments to a field", idOf(n));
        return true;
      default: return true;
    }
  }

  bool decls(const AST_Node* owner, const AST_Node* cell) {
    if (cell == nullptr || !firstVisit(cell, kDecls)) return true;
    return list(owner, cell, "declaration list", [&](const AST_Node* d) {
      if (d == nullptr) return true;
      if (!valueTypeId(d, d->value.id.type, "declared")) return false;
      const AST_Node* init = node(d->right);
      if (d->op == CONSTANT_DECL_OP || d->op == CONSTANT_ARRAY_DECL_OP) {
        if (init == nullptr || init->op != INITIALIZER_OP) {
          return fail("node %u (%s): a constant without its initializer", idOf(d), opName(d));
        }
        return constantCell(init, init->value.id.index);
      }
      return expr(init);
    });
  }

  // The first declaration of a named block or state is its own variable,
  // whose first cell the interpreter writes.
  bool ownVariable(const AST_Node* owner, const AST_Node* declarations) {
    const AST_Node* first = listNth(declarations, 0);
    if (first == nullptr || first->op == CONSTANT_DECL_OP || first->op == CONSTANT_ARRAY_DECL_OP ||
        first->value.id.type >= info_.n_type || type(first->value.id.type).storageSize == 0) {
      return fail("node %u (%s): its own variable is not declared first", idOf(owner),
                  opName(owner));
    }
    return true;
  }

  bool statements(const AST_Node* owner, const AST_Node* cell) {
    if (cell == nullptr || !firstVisit(cell, kStatements)) return true;
    return list(owner, cell, "statement list", [&](const AST_Node* s) { return statement(s); });
  }

  bool statement(const AST_Node* n) {
    if (n == nullptr || !firstVisit(n, kStmt)) return true;
    const AST_Node* l = node(n->left);
    const AST_Node* r = node(n->right);
    switch (n->op) {
      case BLOCK_OP:
      case BLOCK_OP_10:
      case BLOCK_OP_11: return decls(n, l) && statements(n, r);
      case NAMED_BLOCK_OP: return ownVariable(n, l) && decls(n, l) && statements(n, r);
      case BREAK_OP:
      case CONTINUE_OP:
      case USER_ANNOTATION: return true;
      case IF_OP: {
        if (!required(n, l, "condition") || !expr(l)) return false;
        if (r == nullptr) return true;
        const AST_Node* elseCell = node(r->right);
        return statement(node(r->left)) && (elseCell == nullptr || statement(node(elseCell->left)));
      }
      case FOR_OP: {
        if (l == nullptr || l->op != LIST) return fail("node %u (FOR_OP): no loop header", idOf(n));
        if (!list(n, l, "loop header", [](const AST_Node*) { return true; })) return false;
        const AST_Node* condition = listNth(l, 1);
        return required(n, condition, "loop condition") && exprStatement(listNth(l, 0)) &&
               expr(condition) && exprStatement(listNth(l, 2)) && statement(r);
      }
      case WHILE_OP: return required(n, l, "loop condition") && expr(l) && statement(r);
      case TIME_ANNOTATION:
      case PROCESS_ANNOTATION:
      case HARDWARE_ANNOTATION: return statement(l);
      default: return exprStatement(n);
    }
  }

  // ------------------------------------------------------------ types

  // Storage sizes against what a value of the type holds, and no type that
  // contains itself through its elements or fields.
  bool types() {
    if (info_.n_type <= TypeBase) {
      return fail("type table: %u types, fewer than the built-in ones", info_.n_type);
    }
    typeState_.assign(info_.n_type, 0);
    for (uint32_t t = 0; t < info_.n_type; ++t) {
      if (!typeRecord(t)) return false;
    }
    return true;
  }

  bool typeRecord(uint32_t t) {
    if (typeState_[t] == 2) return true;
    if (typeState_[t] == 1) return fail("type %u: contains itself", t);
    typeState_[t] = 1;
    const TypeRecord& rec = type(t);
    if (rec.baseType >= info_.n_type) {
      return fail("type %u: base type %u of %u", t, rec.baseType, info_.n_type);
    }
    if (rec.bufferType > STRING_BUFFER) return fail("type %u: buffer kind %u", t, rec.bufferType);
    if (rec.fields != NO_ID && rec.fields != 0 && rec.fields >= info_.n_AST) {
      return fail("type %u: field list node %u of %u", t, rec.fields, info_.n_AST);
    }
    uint64_t needed = t < TypePrimitive ? 1 : 0;
    const bool sized = rec.size != kUnsizedBuffer;
    switch (rec.bufferType) {
      case ARRAY_BUFFER:
      case QUEUE_BUFFER:
      case STACK_BUFFER:
        if (rec.baseType != t && !typeRecord(rec.baseType)) return false;
        if (sized) {
          const uint64_t element = type(rec.baseType).storageSize;
          needed = rec.bufferType == ARRAY_BUFFER ? uint64_t{rec.size} * element
                                                  : 2 + (uint64_t{rec.size} + 1) * element;
        }
        break;
      case NONE_BUFFER:
        if (rec.baseType == TypeStructure && t != TypeStructure) {
          if (!fieldsOf(t, &needed)) return false;
        } else if (rec.baseType == TypeEnum && t != TypeEnum) {
          if (!literalsOf(t)) return false;
          needed = 1;
        }
        break;
      default: break;
    }
    // A value of a primitive type is one cell wherever it lives, on the
    // evaluation stack too.
    if (t < TypePrimitive && rec.storageSize != 1) {
      return fail("type %u: a primitive type of %u cells", t, rec.storageSize);
    }
    if (rec.storageSize < needed) {
      return fail("type %u: storage size %u below the %llu cells its values hold", t,
                  rec.storageSize, static_cast<unsigned long long>(needed));
    }
    typeState_[t] = 2;
    return true;
  }

  const AST_Node* fieldList(uint32_t t) const {
    const uint32_t fields = type(t).fields;
    return fields == NO_ID ? nullptr : node(fields);
  }

  bool fieldsOf(uint32_t t, uint64_t* cells) {
    *cells = 0;
    const AST_Node* fields = fieldList(t);
    return list(fields, fields, "field list", [&](const AST_Node* f) {
      if (f == nullptr || f->op != FIELD_STATEMENT) {
        return fail("type %u: its field list holds something other than fields", t);
      }
      const AST_Node* name = node(f->left);
      if (name == nullptr || name->value.id.index >= info_.n_symbols) {
        return fail("node %u (FIELD_STATEMENT): no field name", idOf(f));
      }
      if (!valueTypeId(f, f->value.id.type, "field") || !typeRecord(f->value.id.type)) {
        return false;
      }
      *cells += type(f->value.id.type).storageSize;
      return true;
    });
  }

  bool literalsOf(uint32_t t) {
    const AST_Node* literals = fieldList(t);
    if (literals == nullptr) return true;
    return list(literals, literals, "literal list", [&](const AST_Node* e) {
      const AST_Node* sym = e != nullptr && e->op == ENUM_OP ? node(e->left) : e;
      if (e == nullptr || (e->op != SYM && e->op != ENUM_OP) || sym == nullptr ||
          sym->value.id.index >= info_.n_symbols) {
        return fail("type %u: an enumeration literal without its symbol", t);
      }
      return true;
    });
  }

  // ------------------------------------------------------------ data

  bool constants() {
    for (uint32_t c = 0; c < info_.n_globalConstants; ++c) {
      const TaggedValue& k = p_.globalConstantTable[c];
      if (k.typeId >= info_.n_type) {
        return fail("global constants: constant %u of type %u of %u", c, k.typeId, info_.n_type);
      }
      const uint64_t first = k.value != nullptr ? k.value - p_.constantDataTable.get() : 0;
      if (first + type(k.typeId).storageSize > info_.size_constantData) {
        return fail("global constants: constant %u lies past the constant data", c);
      }
    }
    for (uint32_t s = 0; s < info_.n_processStaticVariables; ++s) {
      if (p_.processStaticVariableTable[s].typeId >= info_.n_type) {
        return fail("process static variables: variable %u of an unknown type", s);
      }
    }
    if (info_.initFunctionId != NO_ID && info_.initFunctionId >= info_.n_functions) {
      return fail("information record: init function %u of %u", info_.initFunctionId,
                  info_.n_functions);
    }
    return true;
  }

  uint32_t typeNamed(const char* name) const {
    for (uint32_t t = 0; t < info_.n_type; ++t) {
      if (std::strcmp(symbol(p_.dbg->typeSymbolId[t]), name) == 0) return t;
    }
    return NO_ID;
  }

  // The field of a structure type, or null.
  const AST_Node* fieldNamed(uint32_t t, const char* name) const {
    for (const AST_Node* cell = fieldList(t); cell != nullptr; cell = node(cell->right)) {
      const AST_Node* f = node(cell->left);
      if (std::strcmp(symbol(node(f->left)->value.id.index), name) == 0) return f;
    }
    return nullptr;
  }

  bool isStructure(uint32_t t) const {
    return t != TypeStructure && type(t).baseType == TypeStructure &&
           type(t).bufferType == NONE_BUFFER;
  }

  // Every type the interpreter knows fields of has them all, each holding at
  // least one cell; the structures that carry processes and scheduling hold
  // what the scheduler reads from them.
  bool predefined() {
    for (uint32_t f = 0; f < kKnownFieldCount; ++f) {
      const uint32_t t = typeNamed(kKnownFieldType[f]);
      if (t == NO_ID) continue;
      if (!isStructure(t)) return fail("type %u (%s): not a structure", t, kKnownFieldType[f]);
      const AST_Node* field = fieldNamed(t, kKnownFieldName[f]);
      if (field == nullptr) {
        return fail("type %u (%s): no field %s", t, kKnownFieldType[f], kKnownFieldName[f]);
      }
      if (type(field->value.id.type).storageSize == 0) {
        return fail("type %u (%s): field %s holds no cell", t, kKnownFieldType[f],
                    kKnownFieldName[f]);
      }
    }
    processInstanceType_ = typeNamed("Process_Instance");
    uint32_t system = NO_ID;
    for (uint32_t g = 0; g < info_.n_globalVariables; ++g) {
      if (std::strcmp(symbol(p_.dbg->globalVariableSymbolId[g]), "system") == 0) {
        system = g;
        break;
      }
    }
    if (info_.n_processInstances != 0 && (system == NO_ID || processInstanceType_ == NO_ID)) {
      return fail("global variables: process instances without the system or Process_Instance");
    }
    if (system == NO_ID) return true;
    const uint32_t systemType = p_.globalVariableTable[system].typeId;
    if (systemType != typeNamed("System")) {
      return fail("global variable %u (system): not of type System", system);
    }
    const AST_Node* processes = fieldNamed(systemType, "processes");
    const TypeRecord& queue = type(processes->value.id.type);
    if (queue.bufferType != QUEUE_BUFFER || queue.baseType != processInstanceType_ ||
        queue.size == kUnsizedBuffer || queue.size < info_.n_globalProcessInstances) {
      return fail("type %u (System): processes cannot hold the %u top-level instances", systemType,
                  info_.n_globalProcessInstances);
    }
    const uint32_t policy = fieldNamed(systemType, "sched_policy")->value.id.type;
    if (type(policy).baseType != TypeEnum) {
      return fail("type %u (System): sched_policy is not an enumeration", systemType);
    }
    if (processInstanceType_ != NO_ID) {
      const TypeRecord& activations =
          type(fieldNamed(processInstanceType_, "next_activations")->value.id.type);
      if ((activations.bufferType != QUEUE_BUFFER && activations.bufferType != STACK_BUFFER) ||
          activations.size == kUnsizedBuffer || activations.size == 0 ||
          type(activations.baseType).storageSize == 0) {
        return fail("type %u (Process_Instance): next_activations is not a sized channel",
                    processInstanceType_);
      }
    }
    return true;
  }

  // ------------------------------------------------------------ code

  bool parameters(const AST_Node* owner, const AST_Node* params) {
    return list(owner, params, "parameter list", [&](const AST_Node* param) {
      if (param == nullptr || !isParameter(param->op)) {
        return fail("node %u (%s): its parameter list holds something other than parameters",
                    idOf(owner), opName(owner));
      }
      return typeId(param, param->value.id.type, "parameter");
    });
  }

  bool functions() {
    for (uint32_t f = 0; f < info_.n_functions; ++f) {
      const FunctionRecord& rec = p_.functionTable[f];
      if (!nodeId("function table", f, rec.params) || !nodeId("function table", f, rec.body)) {
        return false;
      }
      const AST_Node* body = node(rec.body);
      if (!parameters(body != nullptr ? body : node(0), node(rec.params)) || !statement(body)) {
        return false;
      }
    }
    return true;
  }

  bool nodeId(const char* section, uint32_t record, uint32_t id) {
    if (id != NO_ID && id >= info_.n_AST) {
      return fail("%s: record %u names node %u of %u", section, record, id, info_.n_AST);
    }
    return true;
  }

  bool state(uint32_t def, const AST_Node* s) {
    if (s == nullptr || s->op != NAMED_STATE_STATEMENT) {
      return fail("process definition %u: its state list holds something other than states", def);
    }
    if (!firstVisit(s, kStmt)) return true;
    // A state's id is the symbol of its name, which traces print.
    if (s->value.id.index >= info_.n_symbols) {
      return fail("node %u (NAMED_STATE_STATEMENT): state symbol %u of %u", idOf(s),
                  s->value.id.index, info_.n_symbols);
    }
    const AST_Node* declarations = node(s->left);
    const AST_Node* dcl = node(s->right);
    if (!ownVariable(s, declarations) || !decls(s, declarations)) return false;
    if (dcl == nullptr || dcl->op != STATE_DCL) {
      return fail("node %u (NAMED_STATE_STATEMENT): no STATE_DCL", idOf(s));
    }
    if (!statement(node(dcl->left))) return false;
    return list(dcl, node(dcl->right), "transition list", [&](const AST_Node* t) {
      if (t == nullptr || (t->op != ON_OP && t->op != AFTER_OP)) {
        return fail("node %u (STATE_DCL): a transition that is neither on nor after", idOf(dcl));
      }
      const AST_Node* pair = node(t->left);
      if (pair == nullptr) return fail("node %u (%s): no condition node", idOf(t), opName(t));
      const uint32_t reached = pair->value.id.index;
      if (reached >= info_.n_AST || node(reached)->op != NAMED_STATE_STATEMENT ||
          node(reached)->value.id.index >= info_.n_symbols) {
        return fail("node %u (%s): the reached state is not a state node", idOf(t), opName(t));
      }
      if (t->op == ON_OP) {
        if (!required(t, node(pair->left), "condition") || !expr(node(pair->left))) return false;
      } else if (!expr(node(pair->left)) || !expr(node(pair->right))) {
        return false;
      }
      return statement(node(t->right));
    });
  }

  // Definitions: node ids, code shapes, sub-processes of known definitions
  // and no definition that is, through its sub-processes, part of itself.
  bool processes() {
    const uint32_t n = info_.n_processDefinitions;
    for (uint32_t d = 0; d < n; ++d) {
      const ProcessDefinitionRecord& rec = p_.processDefinitionTable[d];
      for (uint32_t id : {rec.params, rec.staticVars, rec.subProcesses, rec.localVars,
                          rec.commonBlock, rec.states, rec.finallyBlock}) {
        if (!nodeId("process definitions", d, id)) return false;
      }
      const AST_Node* owner = node(0);
      if (!parameters(owner, node(rec.params)) || !decls(owner, node(rec.localVars)) ||
          !statement(node(rec.commonBlock)) || !statement(node(rec.finallyBlock))) {
        return false;
      }
      const AST_Node* states = node(rec.states);
      if (listSize(states) == 0) return fail("process definition %u: no state", d);
      if (!list(owner, states, "state list", [&](const AST_Node* s) { return state(d, s); })) {
        return false;
      }
      if (listSize(node(rec.subProcesses)) < rec.n_subProcesses) {
        return fail("process definition %u: %u sub-processes announced, fewer listed", d,
                    rec.n_subProcesses);
      }
      for (uint32_t j = 0; j < rec.n_subProcesses; ++j) {
        const AST_Node* sub = listNth(node(rec.subProcesses), j);
        if (sub == nullptr || sub->op != PROCESS_INSTANCE_NODE || node(sub->left) == nullptr ||
            node(sub->left)->value.id.index >= n) {
          return fail("process definition %u: sub-process %u is not an instance of a definition", d,
                      j);
        }
      }
    }
    // No definition contains itself, and sub-processes nest no deeper than
    // code does: instances are set up and run recursively.
    std::vector<uint32_t> height(n, 0);
    for (uint32_t d = 0; d < n; ++d) {
      if (!acyclicDefinition(d, height)) return false;
    }
    return true;
  }

  uint32_t subDefinition(uint32_t d, uint32_t j) const {
    const ProcessDefinitionRecord& rec = p_.processDefinitionTable[d];
    return node(listNth(node(rec.subProcesses), j)->left)->value.id.index;
  }

  // height[d]: 0 unvisited, NO_ID in progress, else the levels of instances
  // one instance of d stands for.
  bool acyclicDefinition(uint32_t d, std::vector<uint32_t>& height, uint32_t depth = 1) {
    if (height[d] == NO_ID) return fail("process definition %u: is its own sub-process", d);
    if (height[d] != 0) return true;
    if (depth > kMaxNestingDepth) {
      return fail("process definition %u: sub-processes nested deeper than %u", d,
                  kMaxNestingDepth);
    }
    height[d] = NO_ID;
    uint32_t h = 1;
    for (uint32_t j = 0; j < p_.processDefinitionTable[d].n_subProcesses; ++j) {
      const uint32_t sub = subDefinition(d, j);
      if (!acyclicDefinition(sub, height, depth + 1)) return false;
      h = std::max(h, height[sub] + 1);
    }
    if (h > kMaxNestingDepth) {
      return fail("process definition %u: sub-processes nested deeper than %u", d,
                  kMaxNestingDepth);
    }
    height[d] = h;
    return true;
  }

  // One instance and its sub-processes, numbered depth-first as the loader
  // numbers them, each static block inside the static table.
  bool instanceLayout(uint32_t definition, uint32_t& counter, uint32_t parentBase) {
    const uint32_t self = counter++;
    if (self >= info_.n_processInstances) {
      return fail("process instances: instance %u of %u", self, info_.n_processInstances);
    }
    const ProcessInstanceRecord& rec = p_.processInstanceTable[self];
    if (rec.definitionId != definition) {
      return fail("process instance %u: definition %u where its parent places %u", self,
                  rec.definitionId, definition);
    }
    const ProcessDefinitionRecord& def = p_.processDefinitionTable[definition];
    if (rec.staticBase == NO_ID) {
      if (def.n_subProcesses != 0) return fail("process instance %u: no static block", self);
    } else if (uint64_t{rec.staticBase} + def.n_staticEntries > info_.n_processStaticVariables ||
               def.n_staticEntries < def.n_subProcesses) {
      return fail("process instance %u: static block past the static variables", self);
    } else if (parentBase != NO_ID && rec.staticBase < parentBase) {
      // A sub-process's statics scope replaces its parent's while it runs.
      return fail("process instance %u: static block before its parent's", self);
    }
    for (uint32_t j = 0; j < def.n_subProcesses; ++j) {
      if (p_.processStaticVariableTable[rec.staticBase + j].typeId != processInstanceType_) {
        return fail("process instance %u: static entry %u is not a Process_Instance", self, j);
      }
      if (!instanceLayout(subDefinition(definition, j), counter, rec.staticBase)) return false;
    }
    return true;
  }

  bool instances() {
    uint32_t counter = 0;
    for (uint32_t i = 0; i < info_.n_globalProcessInstances; ++i) {
      const GlobalProcessInstanceRecord& rec = p_.processGlobalInstanceTable[i];
      if (rec.definitionId >= info_.n_processDefinitions) {
        return fail("top-level instance %u: definition %u of %u", i, rec.definitionId,
                    info_.n_processDefinitions);
      }
      if (rec.instanceIndex != counter) {
        return fail("top-level instance %u: instance %u where %u comes next", i, rec.instanceIndex,
                    counter);
      }
      if (!instanceLayout(rec.definitionId, counter, NO_ID)) return false;
      if (rec.staticBase != p_.processInstanceTable[rec.instanceIndex].staticBase) {
        return fail("top-level instance %u: static base differs from its instance record", i);
      }
      for (uint32_t id : {rec.args, rec.trigger, rec.timingAnnotation}) {
        if (!nodeId("top-level instances", i, id)) return false;
      }
      if (!arguments(node(0), node(rec.args), kCallSubProcess) || !expr(node(rec.trigger)) ||
          !statement(node(rec.timingAnnotation))) {
        return false;
      }
    }
    return true;
  }

  bool definitions(const AST_Node* owner, const AST_Node* cell) {
    return list(owner, cell, "definition list", [&](const AST_Node* d) {
      if (d == nullptr) return true;
      switch (d->op) {
        case TIME_ANNOTATION:
        case PROCESS_ANNOTATION: return statement(d);
        case PROCESS_INSTANCE_NODE: {
          const AST_Node* description = node(d->right);
          if (description == nullptr) return true;
          if (description->op != LIST) {
            return fail("node %u (PROCESS_INSTANCE_NODE): a description that is not a list",
                        idOf(d));
          }
          const AST_Node* timing = listNth(description, 1);
          if (timing == nullptr) return true;
          if (timing->op != LIST) return fail("node %u: a timing that is not a list", idOf(d));
          return expr(listNth(timing, 0)) && expr(listNth(timing, 1));
        }
        case INCLUDE_OP: return definitions(d, node(d->left));
        case HARDWARE_ANNOTATION: {
          if (d->value.id.index == NO_ID) return true;
          if (d->value.id.index >= info_.n_globalVariables) {
            return fail("node %u (HARDWARE_ANNOTATION): global variable %u of %u", idOf(d),
                        d->value.id.index, info_.n_globalVariables);
          }
          const AST_Node* scope = node(d->left);
          return scope == nullptr ||
                 (decls(scope, node(scope->left)) && statements(scope, node(scope->right)));
        }
        default: return true;
      }
    });
  }

  bool globalDefinitions() {
    if (info_.n_AST == 0) return true;
    return definitions(node(0), node(p_.RAMprogram[0].left));
  }
};

}  // namespace

bool validate_program(const Program* program, char* why, size_t size) {
  if (size != 0) why[0] = '\0';
  return Validator(program, why, size).run();
}
