#include "parserLib/builtin_prototypes.h"

#include <cstring>
#include <initializer_list>
#include <iterator>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_assert.h"
#include "parserLib/def_expression.h"
#include "parserLib/def_type.h"
#include "parserLib/diagnostics.h"

namespace {

// ---------------------------------------------------------------- callbacks

bool makeChoiceUniformEnum(ParserEnv* penv, AST_Node* call);
bool makeAssertContext(ParserEnv* penv, AST_Node* call);
bool makeExitLine(ParserEnv* penv, AST_Node* call);
bool makeChannelPush(ParserEnv* penv, AST_Node* call);
bool makeChannelInsertSorted(ParserEnv* penv, AST_Node* call);
void checkPrintFormat(ParserEnv* penv, AST_Node* call);
void checkStringPrint(ParserEnv* penv, AST_Node* call);

// ---------------------------------------------------------------- table helpers

constexpr uint32_t kVar = kProtoVariadic;
constexpr uint32_t kObj = kProtoObjType;
constexpr uint32_t kElem = kProtoObjBaseType;

constexpr sntr S(uint32_t code, uint32_t ret, std::initializer_list<uint32_t> args,
                 ProtoMakeCallback make = nullptr, ProtoCheckCallback check = nullptr) {
  sntr s{code, ret, {}, make, check};
  size_t i = 0;
  for (uint32_t a : args) s.args[i++] = a;
  if (i == 0 || s.args[i - 1] != kProtoVariadic) s.args[i++] = TypeVoid;
  for (; i < kMaxProtoArgs; ++i) s.args[i] = TypeVoid;
  return s;
}

constexpr SntrList L(std::initializer_list<sntr> sntrs) {
  SntrList l{};
  for (const sntr& s : sntrs) l.list[l.n++] = s;
  return l;
}

constexpr ObjType onType(uint32_t t) {
  return {TypeType, t};
}
constexpr ObjType on(uint32_t category) {
  return {category, TypeVoid};
}
constexpr ObjType kIO = on(TypeInputOutput);

constexpr FunctionProto F(const char* name, const char* deprecated, SntrList sntrs) {
  return {name, deprecated, false, sntrs};
}

constexpr MethodProto M(ObjType obj, const char* name, const char* deprecated, bool isConst,
                        SntrList sntrs) {
  return {obj, name, deprecated, isConst, sntrs};
}

// max and min: two or more values of the type.
constexpr MethodProto extremum(const char* name, uint32_t t, uint32_t code) {
  return M(onType(t), name, nullptr, true, L({S(code, t, {t, t, kVar})}));
}
constexpr MethodProto randUniform(uint32_t t, uint32_t code) {
  return M(onType(t), "rand_uniform", nullptr, false, L({S(code, t, {t, t})}));
}
constexpr MethodProto unary(uint32_t t, const char* name, uint32_t code) {
  return M(onType(t), name, nullptr, true, L({S(code, t, {t})}));
}
constexpr MethodProto binary(uint32_t t, const char* name, uint32_t code) {
  return M(onType(t), name, nullptr, true, L({S(code, t, {t, t})}));
}
constexpr MethodProto floatPareto(uint32_t t, uint32_t code, uint32_t scaledCode) {
  return M(onType(t), "rand_pareto", nullptr, false,
           L({S(code, t, {t}), S(scaledCode, t, {t, t})}));
}
constexpr MethodProto intPareto(uint32_t t, uint32_t f32Code, uint32_t f64Code) {
  return M(onType(t), "rand_pareto", nullptr, false,
           L({S(f32Code, t, {t, TypeF32}), S(f64Code, t, {t, TypeF64})}));
}
constexpr MethodProto bufferOp(const char* name, const char* deprecated, uint32_t code,
                               uint32_t ret, std::initializer_list<uint32_t> args = {},
                               ProtoMakeCallback make = nullptr, uint32_t category = TypeChannel) {
  return M(on(category), name, deprecated, false, L({S(code, ret, args, make)}));
}

constexpr FieldProto typeConstant(uint32_t t, const char* name, uint32_t code) {
  return {onType(t), name, nullptr, true, code, kObj, kAccessRead, nullptr, nullptr};
}

// ---------------------------------------------------------------- the tables

constexpr FunctionProto kFunctionTable[] = {
    F("seed", nullptr,
      L({S(kCallSeed, TypeUInt64, {}), S(kCallSeedWith, TypeUInt64, {TypeUInt64})})),
    F("time", "time64.time()", L({S(kCallTime, TypeTime64, {})})),
    F("rand_uniform", nullptr, L({S(kCallRandUniform, TypeUInt32, {TypeUInt32, TypeUInt32})})),
    F("choice_uniform", ".choice_uniform()",
      L({S(kCallChoiceUniformArray, kProtoArg1BaseType, {TypeArray}),
         S(kCallChoiceUniformChannel, kProtoArg1BaseType, {TypeChannel}),
         S(kCallChoiceUniformEnum, TypeStatement, {TypeType}, makeChoiceUniformEnum)})),
    F("print", "IO.print()",
      L({S(kCallPrint, TypeStatement, {TypeString}, nullptr, checkPrintFormat),
         S(kCallPrintValues, TypeStatement, {TypeString, TypePrimitive, kVar}, nullptr,
           checkPrintFormat)})),
    F("println", "IO.println()",
      L({S(kCallPrintln, TypeStatement, {}),
         S(kCallPrintlnFormat, TypeStatement, {TypeString}, nullptr, checkPrintFormat),
         S(kCallPrintlnValues, TypeStatement, {TypeString, TypePrimitive, kVar}, nullptr,
           checkPrintFormat)})),
    F("sleep", nullptr, L({S(kCallSleep, TypeStatement, {TypeTime64})})),
    F("assert", nullptr, L({S(kCallAssert, TypeStatement, {TypeBoolean}, makeAssertContext)})),
    F("exit", nullptr, L({S(kCallExit, TypeStatement, {TypeUInt8}, makeExitLine)})),
    F("syncIO", "IO.sync()", L({S(kCallSyncIO, TypeStatement, {})})),
    F("rand_gauss", "float32.rand_gauss()", L({S(kCallRandGauss, TypeF32, {TypeF32, TypeF32})})),
    F("rand_exponential", "float32.rand_exponential()",
      L({S(kCallRandExponential, TypeF32, {TypeF32})})),
};

constexpr MethodProto kMethodTable[] = {
    extremum("max", TypeUInt8, kCallUInt8Max),
    extremum("max", TypeUInt16, kCallUInt16Max),
    extremum("max", TypeUInt32, kCallUInt32Max),
    extremum("max", TypeUInt64, kCallUInt64Max),
    extremum("max", TypeTime64, kCallTime64Max),
    extremum("max", TypeDuration64, kCallDuration64Max),
    extremum("max", TypeSInt8, kCallSInt8Max),
    extremum("max", TypeSInt16, kCallSInt16Max),
    extremum("max", TypeSInt32, kCallSInt32Max),
    extremum("max", TypeSInt64, kCallSInt64Max),
    extremum("min", TypeUInt8, kCallUInt8Min),
    extremum("min", TypeUInt16, kCallUInt16Min),
    extremum("min", TypeUInt32, kCallUInt32Min),
    extremum("min", TypeUInt64, kCallUInt64Min),
    extremum("min", TypeTime64, kCallTime64Min),
    extremum("min", TypeDuration64, kCallDuration64Min),
    extremum("min", TypeSInt8, kCallSInt8Min),
    extremum("min", TypeSInt16, kCallSInt16Min),
    extremum("min", TypeSInt32, kCallSInt32Min),
    extremum("min", TypeSInt64, kCallSInt64Min),
    randUniform(TypeUInt8, kCallUInt8RandUniform),
    randUniform(TypeUInt16, kCallUInt16RandUniform),
    randUniform(TypeUInt32, kCallUInt32RandUniform),
    randUniform(TypeUInt64, kCallUInt64RandUniform),
    randUniform(TypeSInt8, kCallSInt8RandUniform),
    randUniform(TypeSInt16, kCallSInt16RandUniform),
    randUniform(TypeSInt32, kCallSInt32RandUniform),
    randUniform(TypeSInt64, kCallSInt64RandUniform),
    randUniform(TypeTime64, kCallTime64RandUniform),
    randUniform(TypeDuration64, kCallDuration64RandUniform),
    M(onType(TypeBoolean), "rand_uniform", nullptr, false,
      L({S(kCallBoolRandUniform, TypeBoolean, {})})),
    M(onType(TypeF32), "as", nullptr, true,
      L({S(kCallAs, TypeF32, {TypeF32}), S(kCallAs, kObj, {TypePrimitive})})),
    M(onType(TypeF64), "as", nullptr, true,
      L({S(kCallAs, TypeF64, {TypeF64}), S(kCallAs, kObj, {TypePrimitive})})),
    M(onType(TypePrimitive), "as", nullptr, true, L({S(kCallAs, kObj, {TypePrimitive})})),
    M(onType(TypeAny), "cast", nullptr, true, L({S(kCallCast, kObj, {TypeAny})})),
    M(onType(TypeUInt8), "abs", nullptr, true, L({S(kCallUInt8Abs, TypeUInt8, {TypeSInt8})})),
    M(onType(TypeUInt16), "abs", nullptr, true, L({S(kCallUInt16Abs, TypeUInt16, {TypeSInt16})})),
    M(onType(TypeUInt32), "abs", nullptr, true, L({S(kCallUInt32Abs, TypeUInt32, {TypeSInt32})})),
    M(onType(TypeUInt64), "abs", nullptr, true, L({S(kCallUInt64Abs, TypeUInt64, {TypeSInt64})})),
    M(onType(TypeEnum), "choice_uniform", nullptr, false, L({S(kCallEnumChoiceUniform, kObj, {})})),
    M(onType(TypeTime64), "time", nullptr, false, L({S(kCallTime, TypeTime64, {})})),
    M(onType(TypeTime64), "absolute_time", nullptr, false,
      L({S(kCallAbsoluteTime, TypeTime64, {})})),
    M(onType(TypeTime64), "adjust_time", nullptr, false,
      L({S(kCallAdjustTime, TypeStatement, {TypeDuration64})})),
    M(kIO, "print", nullptr, false,
      L({S(kCallPrint, TypeStatement, {TypeAny}, nullptr, checkPrintFormat),
         S(kCallPrintValues, TypeStatement, {TypeAny, TypeAny, kVar}, nullptr, checkPrintFormat)})),
    M(kIO, "println", nullptr, false,
      L({S(kCallPrintln, TypeStatement, {}, nullptr, checkPrintFormat),
         S(kCallPrintlnFormat, TypeStatement, {TypeAny}, nullptr, checkPrintFormat),
         S(kCallPrintlnValues, TypeStatement, {TypeAny, TypeAny, kVar}, nullptr,
           checkPrintFormat)})),
    M(onType(TypeUInt8), "print", nullptr, false,
      L({S(kCallStringPrint, TypeStatement, {TypeAny, TypeAny}, nullptr, checkStringPrint),
         S(kCallStringPrintValues, TypeStatement, {TypeAny, TypeAny, TypeAny, kVar}, nullptr,
           checkStringPrint)})),
    M(kIO, "sync", nullptr, false, L({S(kCallSyncIO, TypeStatement, {})})),
    M(on(TypeArray), "choice_uniform", nullptr, false, L({S(kCallArrayChoiceUniform, kElem, {})})),
    bufferOp("maxSize", "<channel>.max_size", kCallChnlMaxSize, TypeUInt32, {}, nullptr,
             TypeSizedChannel),
    bufferOp("maxSize", "<channel>.max_size", kCallChnlMaxSize, TypeUInt32, {}, nullptr,
             TypeUnsizedChannel),
    bufferOp("isEmpty", "<channel>.is_empty()", kCallChnlIsEmpty, TypeBoolean),
    bufferOp("notEmpty", "<channel>.not_empty()", kCallChnlNotEmpty, TypeBoolean),
    bufferOp("isFull", "<channel>.is_full()", kCallChnlIsFull, TypeBoolean),
    bufferOp("notFull", "<channel>.not_full()", kCallChnlNotFull, TypeBoolean),
    bufferOp("lastPeek", "<channel>.last_peek()", kCallChnlLastPeek, kElem),
    bufferOp("push", nullptr, kCallChnlPush, TypeStatement, {kElem}, makeChannelPush),
    bufferOp("insert_sorted", nullptr, kCallChnlInsertSorted, TypeStatement, {kElem},
             makeChannelInsertSorted),
    bufferOp("pop", nullptr, kCallChnlPop, kElem),
    bufferOp("peek", nullptr, kCallChnlPeek, kElem),
    bufferOp("clear", nullptr, kCallChnlClear, TypeStatement),
    bufferOp("max_size", "<channel>.max_size", kCallChnlMaxSize, TypeUInt32, {}, nullptr,
             TypeSizedChannel),
    bufferOp("max_size", "<channel>.max_size", kCallChnlMaxSize, TypeUInt32, {}, nullptr,
             TypeUnsizedChannel),
    bufferOp("count", nullptr, kCallChnlCount, TypeUInt32),
    bufferOp("is_empty", nullptr, kCallChnlIsEmpty, TypeBoolean),
    bufferOp("not_empty", nullptr, kCallChnlNotEmpty, TypeBoolean),
    bufferOp("is_full", nullptr, kCallChnlIsFull, TypeBoolean),
    bufferOp("not_full", nullptr, kCallChnlNotFull, TypeBoolean),
    bufferOp("last_peek", nullptr, kCallChnlLastPeek, kElem),
    bufferOp("choice_uniform", nullptr, kCallChnlChoiceUniform, kElem),
    bufferOp("remove_current", nullptr, kCallIterRemoveCurrent, TypeStatement, {}, nullptr,
             TypeIterator),
    bufferOp("removeCurrent", "<iterator>.remove_current()", kCallIterRemoveCurrent, TypeStatement,
             {}, nullptr, TypeIterator),
    extremum("max", TypeF32, kCallF32Max),
    extremum("min", TypeF32, kCallF32Min),
    unary(TypeF32, "cos", kCallF32Cos),
    unary(TypeF32, "sin", kCallF32Sin),
    unary(TypeF32, "atan", kCallF32Atan),
    binary(TypeF32, "pow", kCallF32Pow),
    unary(TypeF32, "sqrt", kCallF32Sqrt),
    unary(TypeF32, "abs", kCallF32Abs),
    unary(TypeF32, "log", kCallF32Log),
    floatPareto(TypeF32, kCallF32RandPareto, kCallF32RandParetoScaled),
    M(onType(TypeF32), "rand_gauss", nullptr, false,
      L({S(kCallRandGauss, TypeF32, {TypeF32, TypeF32})})),
    M(onType(TypeF32), "rand_exponential", nullptr, false,
      L({S(kCallRandExponential, TypeF32, {TypeF32})})),
    randUniform(TypeF32, kCallF32RandUniform),
    extremum("max", TypeF64, kCallF64Max),
    extremum("min", TypeF64, kCallF64Min),
    unary(TypeF64, "cos", kCallF64Cos),
    unary(TypeF64, "sin", kCallF64Sin),
    unary(TypeF64, "atan", kCallF64Atan),
    binary(TypeF64, "pow", kCallF64Pow),
    unary(TypeF64, "sqrt", kCallF64Sqrt),
    unary(TypeF64, "abs", kCallF64Abs),
    unary(TypeF64, "log", kCallF64Log),
    floatPareto(TypeF64, kCallF64RandPareto, kCallF64RandParetoScaled),
    randUniform(TypeF64, kCallF64RandUniform),
    intPareto(TypeUInt8, kCallUInt8RandParetoF32, kCallUInt8RandParetoF64),
    intPareto(TypeUInt16, kCallUInt16RandParetoF32, kCallUInt16RandParetoF64),
    intPareto(TypeUInt32, kCallUInt32RandParetoF32, kCallUInt32RandParetoF64),
    intPareto(TypeUInt64, kCallUInt64RandParetoF32, kCallUInt64RandParetoF64),
};

constexpr FieldProto kFieldTable[] = {
    {on(TypeSizedArray), "max_size", nullptr, false, kCallArrayMaxSize, TypeUInt32, kAccessRead,
     nullptr, nullptr},
    {on(TypeUnsizedArray), "max_size", nullptr, false, kCallArrayMaxSize, TypeUInt32, kAccessRead,
     nullptr, nullptr},
    {on(TypeChannel), "max_size", nullptr, false, kCallChnlMaxSize, TypeUInt32, kAccessRead,
     nullptr, nullptr},
    {on(TypeIterator), "current", nullptr, false, kCallIterCurrent, kElem, kAccessInherited,
     nullptr, nullptr},
    {on(TypeIterator), "index", nullptr, false, kCallIterIndex, TypeUInt32, kAccessRead, nullptr,
     nullptr},
    {on(TypeIterator), "is_last", nullptr, false, kCallIterIsLast, TypeBoolean, kAccessRead,
     nullptr, nullptr},
    typeConstant(TypeUInt8, "FIRST", kCallUInt8First),
    typeConstant(TypeUInt16, "FIRST", kCallUInt16First),
    typeConstant(TypeUInt32, "FIRST", kCallUInt32First),
    typeConstant(TypeUInt64, "FIRST", kCallUInt64First),
    typeConstant(TypeSInt8, "FIRST", kCallSInt8First),
    typeConstant(TypeSInt16, "FIRST", kCallSInt16First),
    typeConstant(TypeSInt32, "FIRST", kCallSInt32First),
    typeConstant(TypeSInt64, "FIRST", kCallSInt64First),
    typeConstant(TypeTime64, "FIRST", kCallTime64First),
    typeConstant(TypeDuration64, "FIRST", kCallDuration64First),
    typeConstant(TypeUInt8, "LAST", kCallUInt8Last),
    typeConstant(TypeUInt16, "LAST", kCallUInt16Last),
    typeConstant(TypeUInt32, "LAST", kCallUInt32Last),
    typeConstant(TypeUInt64, "LAST", kCallUInt64Last),
    typeConstant(TypeSInt8, "LAST", kCallSInt8Last),
    typeConstant(TypeSInt16, "LAST", kCallSInt16Last),
    typeConstant(TypeSInt32, "LAST", kCallSInt32Last),
    typeConstant(TypeSInt64, "LAST", kCallSInt64Last),
    typeConstant(TypeTime64, "LAST", kCallTime64Last),
    typeConstant(TypeDuration64, "LAST", kCallDuration64Last),
    typeConstant(TypeF32, "FIRST", kCallF32First),
    typeConstant(TypeF32, "LAST", kCallF32Last),
    typeConstant(TypeF64, "FIRST", kCallF64First),
    typeConstant(TypeF64, "LAST", kCallF64Last),
};

static_assert(std::size(kFunctionTable) == 12);
static_assert(std::size(kMethodTable) == 99);
static_assert(std::size(kFieldTable) == 30);

// No result may be the variadic marker, and fields never take their type
// from an argument they do not have.
constexpr bool resultsAreValid() {
  for (const FunctionProto& f : kFunctionTable) {
    for (uint32_t i = 0; i < f.sntrs.n; ++i) {
      if (f.sntrs.list[i].retTypeId == kProtoVariadic) return false;
    }
  }
  for (const MethodProto& m : kMethodTable) {
    for (uint32_t i = 0; i < m.sntrs.n; ++i) {
      if (m.sntrs.list[i].retTypeId == kProtoVariadic) return false;
    }
  }
  for (const FieldProto& f : kFieldTable) {
    if (f.retTypeId == kProtoVariadic || f.retTypeId == kProtoArg1Type ||
        f.retTypeId == kProtoArg1BaseType) {
      return false;
    }
  }
  return true;
}
static_assert(resultsAreValid());

}  // namespace

constexpr std::span<const FunctionProto> functionTable{kFunctionTable};
constexpr std::span<const MethodProto> methodTable{kMethodTable};
constexpr std::span<const FieldProto> fieldTable{kFieldTable};

namespace {

// ---------------------------------------------------------------- safe node and table access
// Console input may build any tree: nothing here trusts an id or an op.

AST_Node* nodeAt(const Program* program, uint32_t id) {
  if (id == NO_ID || id >= program->infoProg->n_AST) return nullptr;
  return &program->RAMprogram[id];
}

bool isType(const Program* program, uint32_t t) {
  return t < program->infoProg->n_type;
}

uint32_t baseOf(const Program* program, uint32_t t) {
  return isType(program, t) ? program->typeTable[t].baseType : NO_ID;
}

const char* symbolText(const Program* program, uint32_t symbol) {
  const InfoProg& info = *program->infoProg;
  if (symbol >= info.n_symbols) return nullptr;
  const uint32_t offset = program->dbg->symbolTableIndex[symbol];
  return offset < info.symbolStorageSize ? &program->dbg->symbolTable[offset] : nullptr;
}

const char* typeName(const Program* program, uint32_t t) {
  const char* name =
      isType(program, t) ? symbolText(program, program->dbg->typeSymbolId[t]) : nullptr;
  return name != nullptr ? name : "?";
}

// The symbol id a SYM node holds, or NO_ID.
uint32_t symbolOf(const Program* program, const AST_Node* symbol) {
  if (symbol == nullptr || symbol->op != SYM) return NO_ID;
  return symbol->value.id.index < program->infoProg->n_symbols ? symbol->value.id.index : NO_ID;
}

// The type a type-name node names, or NO_ID.
uint32_t namedType(const Program* program, const AST_Node* node) {
  if (node == nullptr || node->op != TYPE_OP) return NO_ID;
  const AST_Node* named = nodeAt(program, node->left);
  const uint32_t t = named != nullptr ? named->value.id.index : node->value.id.type;
  return isType(program, t) ? t : NO_ID;
}

bool isTypeName(ParserEnv* penv, AST_Node* object) {
  return object != nullptr && object->op == TYPE_OP && defType_evaluate(penv, object) == TypeType;
}

// The elements of an argument list; false for a list that is not one.
bool collectArgs(const Program* program, const AST_Node* args, std::vector<AST_Node*>& out) {
  out.clear();
  const AST_Node* cell = args;
  // A cyclic list cannot have more cells than the program has nodes.
  for (uint32_t guard = 0; cell != nullptr; ++guard) {
    if (cell->op != LIST || guard >= program->infoProg->n_AST) return false;
    out.push_back(nodeAt(program, cell->left));
    cell = nodeAt(program, cell->right);
  }
  return true;
}

AST_Node* callIndex(const Program* program, const AST_Node* call) {
  if (call == nullptr || call->op != CALL_OP) return nullptr;
  AST_Node* index = nodeAt(program, call->left);
  return index != nullptr && index->op == INDEX_NODE ? index : nullptr;
}

AST_Node* callObject(const Program* program, const AST_Node* call) {
  const AST_Node* index = callIndex(program, call);
  return index != nullptr ? nodeAt(program, index->left) : nullptr;
}

AST_Node* firstArg(const Program* program, const AST_Node* call) {
  const AST_Node* args = call != nullptr ? nodeAt(program, call->right) : nullptr;
  return args != nullptr && args->op == LIST ? nodeAt(program, args->left) : nullptr;
}

// The element type behind the object: the buffer's element type, or for an
// iterator the element type of the buffer it walks.
uint32_t objElementType(const Program* program, uint32_t objType, uint32_t category) {
  const uint32_t base = baseOf(program, objType);
  return category == TypeIterator ? baseOf(program, base) : base;
}

uint32_t resolveArgType(const Program* program, uint32_t t, uint32_t objType, uint32_t category) {
  switch (t) {
    case kProtoObjType: return isType(program, objType) ? objType : NO_ID;
    case kProtoObjBaseType: return objElementType(program, objType, category);
    case kProtoVariadic:
    case kProtoArg1Type:
    case kProtoArg1BaseType:
    case kProtoReserved: return NO_ID;
    default: return t;
  }
}

size_t listedArgs(const sntr& s, bool* variadic) {
  size_t n = 0;
  while (n < kMaxProtoArgs && s.args[n] != TypeVoid && s.args[n] != kProtoVariadic) ++n;
  *variadic = n < kMaxProtoArgs && s.args[n] == kProtoVariadic;
  return n;
}

bool nameIs(const char* entry, const char* called) {
  return called != nullptr && std::strcmp(entry, called) == 0;
}

// The name under which the front end knows the expression, for messages.
const char* expressionName(ParserEnv* penv, const AST_Node* e) {
  const Program* program = penv->program;
  if (e == nullptr) return "";
  const AST_Node* index = nodeAt(program, e->left);
  const uint32_t id = index != nullptr ? index->value.id.index : NO_ID;
  const InfoProg& info = *program->infoProg;
  const Dbg& dbg = *program->dbg;
  const char* name = nullptr;
  const auto local = [&](const std::vector<ParserLocal>& locals) -> const char* {
    for (auto it = locals.rbegin(); it != locals.rend(); ++it) {
      if (it->index == id) return symbolText(program, it->symbol);
    }
    return nullptr;
  };
  switch (e->op) {
    case LOCAL_VAR: name = local(penv->pctx.localVars); break;
    case LOCAL_CONSTANT_OP: name = local(penv->pctx.localConsts); break;
    case GLOBAL_VARIABLE_OP:
      if (id < info.n_globalVariables) name = symbolText(program, dbg.globalVariableSymbolId[id]);
      break;
    case GLOBAL_CONSTANT_OP:
      if (id < info.n_globalConstants) name = symbolText(program, dbg.globalConstantSymbolId[id]);
      break;
    case STATIC_VARIABLE_OP:
      if (id < info.n_processStaticVariables) {
        name = symbolText(program, dbg.processStaticVariableSymbolId[id]);
      }
      break;
    default: break;
  }
  return name != nullptr ? name : "";
}

// ---------------------------------------------------------------- building

AST_Node* makeCallNode(ParserEnv* penv, uint32_t code, uint32_t retType, AST_Node* object,
                       AST_Node* args) {
  AST_Node* index = parser_makeNodeWord(penv, INDEX_NODE, code, object, nullptr);
  if (index == nullptr) return nullptr;
  return parser_makeNodeWord(penv, CALL_OP, retType, index, args);
}

bool argsReadable(ParserEnv* penv, AST_Node* args) {
  std::vector<AST_Node*> list;
  if (!collectArgs(penv->program, args, list)) return false;
  for (AST_Node* arg : list) {
    if (arg == nullptr || !defExpr_isReadable(penv, arg)) return false;
  }
  return true;
}

void warnDeprecated(ParserEnv* penv, const char* name, const char* replacement) {
  if (replacement == nullptr) return;
  if (*replacement != '\0') {
    diag::deprecated_name_use_instead(penv, name, replacement);
  } else {
    diag::deprecated_name(penv, name);
  }
}

AST_Node* finishCall(ParserEnv* penv, AST_Node* call, const char* name, const char* deprecated,
                     ProtoMakeCallback make) {
  if (call == nullptr) return nullptr;
  warnDeprecated(penv, name, deprecated);
  if (make != nullptr && !make(penv, call)) return nullptr;
  return call;
}

// Appends an argument to a built call; false when the node space is exhausted.
bool appendArg(ParserEnv* penv, AST_Node* call, const AST_Node* element) {
  if (element == nullptr) return false;
  Program* program = penv->program;
  AST_Node* cell = parser_makeList(penv, element);
  if (cell == nullptr) return false;
  const uint32_t cellId = AST_id(program, cell);
  AST_Node* last = nodeAt(program, call->right);
  if (last == nullptr) {
    call->right = cellId;
    return true;
  }
  for (uint32_t guard = 0; last->right != NO_ID; ++guard) {
    AST_Node* next = nodeAt(program, last->right);
    if (next == nullptr || guard >= program->infoProg->n_AST) return false;
    last = next;
  }
  last->right = cellId;
  return true;
}

AST_Node* makeStringLabel(ParserEnv* penv, const std::string& text) {
  return parser_makeNodeWord(penv, INDEX_NODE, parser_internString(penv, text.c_str()), nullptr,
                             nullptr);
}

AST_Node* makeLineLiteral(ParserEnv* penv) {
  NodeValue value{};
  value.u64 = penv->pctx.line;
  return parser_makeNode(penv, INTEGER_OP, value, nullptr, nullptr);
}

// ---------------------------------------------------------------- make-callbacks

bool makeChoiceUniformEnum(ParserEnv* penv, AST_Node* call) {
  const Program* program = penv->program;
  AST_Node* arg = firstArg(program, call);
  const uint32_t t = namedType(program, arg);
  if (t == NO_ID || !defType_isEnum(program, t)) {
    const uint32_t found = t != NO_ID ? t : (arg != nullptr ? defType_evaluate(penv, arg) : NO_ID);
    diag::choice_uniform_needs_enumeration(penv, typeName(program, found));
    return false;
  }
  call->value.id.type = t;
  return true;
}

// The run-time report names where the assertion was written.
bool makeAssertContext(ParserEnv* penv, AST_Node* call) {
  // Console lines belong to no function or process.
  return appendArg(penv, call, makeStringLabel(penv, penv->pctx.fileName)) &&
         appendArg(penv, call, makeLineLiteral(penv)) &&
         appendArg(penv, call, makeStringLabel(penv, penv->pctx.enclosing));
}

bool makeExitLine(ParserEnv* penv, AST_Node* call) {
  return appendArg(penv, call, makeLineLiteral(penv));
}

bool checkChannelWritable(ParserEnv* penv, AST_Node* call) {
  AST_Node* object = callObject(penv->program, call);
  if (object != nullptr && defExpr_isWritable(penv, object)) return true;
  diag::push_on_in_channel(penv, expressionName(penv, object));
  return false;
}

bool makeChannelPush(ParserEnv* penv, AST_Node* call) {
  return checkChannelWritable(penv, call);
}

bool makeChannelInsertSorted(ParserEnv* penv, AST_Node* call) {
  if (!checkChannelWritable(penv, call)) return false;
  AST_Node* object = callObject(penv->program, call);
  const uint32_t element = baseOf(penv->program, defType_evaluate(penv, object));
  if (element < TypePrimitive) return true;
  diag::insert_sorted_needs_primitive(penv, expressionName(penv, object));
  return false;
}

// ---------------------------------------------------------------- check-callbacks

void checkPrintFormat(ParserEnv* penv, AST_Node* call) {
  defFunc_checkPrintCall(penv, nodeAt(penv->program, call->right));
}

void checkStringPrint(ParserEnv* penv, AST_Node* call) {
  const Program* program = penv->program;
  AST_Node* args = nodeAt(program, call->right);
  AST_Node* target = firstArg(program, call);
  if (target == nullptr) return;
  const uint32_t t = defType_evaluate(penv, target);
  if (t == NO_ID) return;
  const uint32_t kind = defType_bufferKind(program, t);
  if (kind != ARRAY_BUFFER && kind != QUEUE_BUFFER) {
    diag::uint8_print_target(penv);
    return;
  }
  if (baseOf(program, t) != TypeUInt8) {
    diag::uint8_print_target_element(penv);
    return;
  }
  defFunc_checkPrintCall(penv, nodeAt(program, args->right));
}

// ---------------------------------------------------------------- retrieval

bool isDeprecated(const char* replacement) {
  return replacement != nullptr;
}

// Among the signatures of an entry with that code, the one the call fits.
uint32_t sntrIndexFor(ParserEnv* penv, const SntrList& sntrs, uint32_t code, AST_Node* object,
                      uint32_t category, AST_Node* args) {
  uint32_t first = NO_ID;
  uint32_t count = 0;
  for (uint32_t i = 0; i < sntrs.n; ++i) {
    if (sntrs.list[i].code != code) continue;
    if (first == NO_ID) first = i;
    ++count;
  }
  if (count <= 1) return first;
  const uint32_t objType = protoObjectType(penv, object);
  for (uint32_t i = 0; i < sntrs.n; ++i) {
    if (sntrs.list[i].code == code &&
        areArgsMatchingSntr(penv, sntrs.list[i], objType, category, args)) {
      return i;
    }
  }
  return first;
}

// Picks among candidates of one code: the only one, else the first whose
// object category fits, else the first.
template <class Entry>
const Entry* pickByObject(ParserEnv* penv, const std::vector<const Entry*>& candidates,
                          AST_Node* object) {
  if (candidates.empty()) return nullptr;
  if (candidates.size() == 1) return candidates.front();
  for (const Entry* e : candidates) {
    if (isObjMatchingType(penv, object, e->objType)) return e;
  }
  return candidates.front();
}

bool hasCode(const SntrList& sntrs, uint32_t code) {
  for (uint32_t i = 0; i < sntrs.n; ++i) {
    if (sntrs.list[i].code == code) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- public

void parser_initBuiltinCalls(ParserEnv* penv) {
  KOVA_ASSERT(penv->program->infoProg->n_type < kProtoReserved,
              "penv->program->infoProg->n_type < kProtoReserved");
  for (const FieldProto& f : fieldTable) parser_internSymbol(penv, f.name);
  for (const FunctionProto& f : functionTable) parser_internSymbol(penv, f.name);
  for (const MethodProto& m : methodTable) parser_internSymbol(penv, m.name);
}

uint32_t protoObjectType(ParserEnv* penv, AST_Node* object) {
  if (object == nullptr) return NO_ID;
  const uint32_t t = defType_evaluate(penv, object);
  return t == TypeType ? namedType(penv->program, object) : t;
}

bool isObjMatchingType(ParserEnv* penv, AST_Node* object, ObjType objType) {
  if (object == nullptr) return false;
  if (defExpr_matchExpectedType(penv, object, objType.category) == NO_ID) return false;
  if (objType.category != TypeType) return true;
  const uint32_t t = namedType(penv->program, object);
  return t != NO_ID &&
         (t == objType.typeId || defType_isDerivedFrom(penv->program, t, objType.typeId));
}

const FunctionProto* lookupFunctionProtos(ParserEnv* penv, uint32_t nameSymbol) {
  const char* name = symbolText(penv->program, nameSymbol);
  for (const FunctionProto& f : functionTable) {
    if (nameIs(f.name, name)) return &f;
  }
  return nullptr;
}

const MethodProto* lookupMethodProtos(ParserEnv* penv, AST_Node* object, uint32_t nameSymbol) {
  const char* name = symbolText(penv->program, nameSymbol);
  for (const MethodProto& m : methodTable) {
    if (nameIs(m.name, name) && isObjMatchingType(penv, object, m.objType)) return &m;
  }
  return nullptr;
}

const FieldProto* lookupFieldProto(ParserEnv* penv, AST_Node* object, uint32_t nameSymbol) {
  const char* name = symbolText(penv->program, nameSymbol);
  for (const FieldProto& f : fieldTable) {
    if (nameIs(f.name, name) && isObjMatchingType(penv, object, f.objType)) return &f;
  }
  return nullptr;
}

bool areArgsMatchingSntr(ParserEnv* penv, const sntr& s, uint32_t objType, uint32_t category,
                         AST_Node* args) {
  const Program* program = penv->program;
  std::vector<AST_Node*> actual;
  if (!collectArgs(program, args, actual)) return false;
  bool variadic = false;
  const size_t listed = listedArgs(s, &variadic);
  if (variadic && listed == 0) return false;
  // The count is settled first, so that no argument of a signature that
  // cannot fit is typed against it (a float literal would keep that type).
  if (actual.size() < listed || (!variadic && actual.size() != listed)) return false;
  for (size_t i = 0; i < actual.size(); ++i) {
    const uint32_t expected =
        resolveArgType(program, s.args[i < listed ? i : listed - 1], objType, category);
    if (expected == NO_ID || actual[i] == nullptr) return false;
    if (defExpr_matchExpectedType(penv, actual[i], expected) == NO_ID) return false;
  }
  return true;
}

const sntr* searchMatchingFunction(ParserEnv* penv, const FunctionProto& entry, AST_Node* args) {
  for (uint32_t i = 0; i < entry.sntrs.n; ++i) {
    if (areArgsMatchingSntr(penv, entry.sntrs.list[i], NO_ID, TypeVoid, args)) {
      return &entry.sntrs.list[i];
    }
  }
  return nullptr;
}

const sntr* searchMatchingMethod(ParserEnv* penv, const MethodProto& entry, AST_Node* object,
                                 AST_Node* args) {
  const uint32_t objType = protoObjectType(penv, object);
  for (uint32_t i = 0; i < entry.sntrs.n; ++i) {
    if (areArgsMatchingSntr(penv, entry.sntrs.list[i], objType, entry.objType.category, args)) {
      return &entry.sntrs.list[i];
    }
  }
  return nullptr;
}

uint32_t getRealRetType(ParserEnv* penv, uint32_t retTypeId, uint32_t objType, uint32_t category,
                        AST_Node* args) {
  const Program* program = penv->program;
  switch (retTypeId) {
    case kProtoObjType:
    case kProtoObjBaseType: return resolveArgType(program, retTypeId, objType, category);
    case kProtoArg1Type:
    case kProtoArg1BaseType: {
      AST_Node* first = args != nullptr && args->op == LIST ? nodeAt(program, args->left) : nullptr;
      if (first == nullptr) return NO_ID;
      const uint32_t t = defType_evaluate(penv, first);
      return retTypeId == kProtoArg1Type ? t : baseOf(program, t);
    }
    case kProtoVariadic:
    case kProtoReserved: return NO_ID;
    default: return retTypeId;
  }
}

AST_Node* builtinFunc_makeCall(ParserEnv* penv, AST_Node* nameSymbol, AST_Node* args) {
  const Program* program = penv->program;
  const uint32_t symbol = symbolOf(program, nameSymbol);
  if (symbol == NO_ID) return nullptr;
  const char* name = symbolText(program, symbol);
  const FunctionProto* entry = lookupFunctionProtos(penv, symbol);
  if (entry == nullptr) {
    diag::unknown_operation(penv, name);
    return nullptr;
  }
  const sntr* s = searchMatchingFunction(penv, *entry, args);
  if (s == nullptr || !argsReadable(penv, args)) {
    const std::string all = allocAllSntrDesc(program, entry->sntrs, NO_ID, TypeVoid);
    diag::no_function_signature(penv, name, all.c_str());
    return nullptr;
  }
  const uint32_t ret = getRealRetType(penv, s->retTypeId, NO_ID, TypeVoid, args);
  if (ret == NO_ID) return nullptr;
  return finishCall(penv, makeCallNode(penv, s->code, ret, nullptr, args), name, entry->deprecated,
                    s->make);
}

AST_Node* builtinMtd_makeCall(ParserEnv* penv, AST_Node* object, AST_Node* nameSymbol,
                              AST_Node* args) {
  Program* program = penv->program;
  const uint32_t symbol = symbolOf(program, nameSymbol);
  if (symbol == NO_ID || object == nullptr) return nullptr;
  const char* name = symbolText(program, symbol);
  const uint32_t evaluated = defType_evaluate(penv, object);
  if (evaluated == NO_ID) return nullptr;
  const bool staticCall = isTypeName(penv, object);
  const uint32_t objType = protoObjectType(penv, object);
  const char* objName = typeName(program, objType);
  const MethodProto* entry = lookupMethodProtos(penv, object, symbol);
  if (entry == nullptr) {
    // x.f(args) with a user function f: f(x, args).
    for (uint32_t i = 0; i < program->infoProg->n_functions; ++i) {
      if (program->dbg->functionSymbolId[i] != symbol) continue;
      AST_Node* withObject = parser_makeNodeWord(penv, LIST, 0, object, args);
      if (withObject == nullptr) return nullptr;
      return make_function_call(penv, nameSymbol, withObject, /*leftCurrying=*/true);
    }
    diag::unknown_method(penv, staticCall ? " static" : "", name, objName);
    return nullptr;
  }
  const uint32_t category = entry->objType.category;
  const sntr* s = searchMatchingMethod(penv, *entry, object, args);
  if (s == nullptr || !argsReadable(penv, args)) {
    const std::string all = allocAllSntrDesc(program, entry->sntrs, objType, category);
    diag::no_method_signature(penv, name, staticCall ? " static" : "", objName, all.c_str());
    return nullptr;
  }
  const uint32_t ret = getRealRetType(penv, s->retTypeId, objType, category, args);
  if (ret == NO_ID) return nullptr;
  return finishCall(penv, makeCallNode(penv, s->code, ret, object, args), name, entry->deprecated,
                    s->make);
}

AST_Node* builtinFld_makeCall(ParserEnv* penv, AST_Node* object, AST_Node* nameSymbol) {
  const Program* program = penv->program;
  const uint32_t symbol = symbolOf(program, nameSymbol);
  if (symbol == NO_ID || object == nullptr) return nullptr;
  const char* name = symbolText(program, symbol);
  if (defType_evaluate(penv, object) == NO_ID) return nullptr;
  const uint32_t objType = protoObjectType(penv, object);
  const FieldProto* entry = lookupFieldProto(penv, object, symbol);
  if (entry == nullptr) {
    diag::unknown_builtin_field(penv, isTypeName(penv, object) ? " static" : "", name,
                                typeName(program, objType));
    return nullptr;
  }
  const uint32_t ret =
      getRealRetType(penv, entry->retTypeId, objType, entry->objType.category, nullptr);
  if (ret == NO_ID) return nullptr;
  return finishCall(penv, makeCallNode(penv, entry->code, ret, object, nullptr), name,
                    entry->deprecated, entry->make);
}

CallProto retrieveCallProto(ParserEnv* penv, const AST_Node* call) {
  const Program* program = penv->program;
  const AST_Node* index = callIndex(program, call);
  if (index == nullptr || index->value.id.index < kCallArrayMaxSize) return {};
  const uint32_t code = index->value.id.index;
  AST_Node* object = nodeAt(program, index->left);
  AST_Node* args = nodeAt(program, call->right);

  if (object == nullptr) {
    for (const FunctionProto& f : functionTable) {
      if (!hasCode(f.sntrs, code)) continue;
      return {ProtoTable::Function, nullptr, &f, nullptr,
              sntrIndexFor(penv, f.sntrs, code, nullptr, TypeVoid, args)};
    }
    return {};
  }

  std::vector<const FieldProto*> fields;
  if (args == nullptr) {
    for (const FieldProto& f : fieldTable) {
      if (f.code == code) fields.push_back(&f);
    }
  }
  std::vector<const MethodProto*> methods;
  for (const MethodProto& m : methodTable) {
    if (hasCode(m.sntrs, code)) methods.push_back(&m);
  }
  const FieldProto* field = pickByObject(penv, fields, object);
  const MethodProto* method = pickByObject(penv, methods, object);
  if (field != nullptr &&
      (method == nullptr || !isDeprecated(field->deprecated) || isDeprecated(method->deprecated))) {
    return {ProtoTable::Field, field, nullptr, nullptr, 0};
  }
  if (method != nullptr) {
    return {ProtoTable::Method, nullptr, nullptr, method,
            sntrIndexFor(penv, method->sntrs, code, object, method->objType.category, args)};
  }
  return {};
}

bool defCall_isConst(ParserEnv* penv, const AST_Node* call) {
  const Program* program = penv->program;
  const AST_Node* index = callIndex(program, call);
  if (index == nullptr) return false;
  std::vector<AST_Node*> args;
  if (!collectArgs(program, nodeAt(program, call->right), args)) return false;
  const auto allConst = [&](size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (args[i] == nullptr || !defExpr_isConst(penv, args[i])) return false;
    }
    return true;
  };
  switch (index->value.id.index) {
    // The curried arguments are the parameters with the result last; the
    // result is not in the call's list, so every listed argument counts.
    case kCallFunctionRightCurrying:
    case kCallFunctionLeftRightCurrying: return allConst(args.size());
    case kCallFunctionLeftCurrying:
    case kCallFunctionCustom:
    case kCallSubProcess: return false;
    case kCallFieldCustom: {
      const AST_Node* object = nodeAt(program, index->left);
      return object != nullptr && defExpr_isConst(penv, object);
    }
    default: break;
  }
  const CallProto proto = retrieveCallProto(penv, call);
  switch (proto.table) {
    case ProtoTable::Field: return proto.field->isConst;
    case ProtoTable::Function: return proto.function->isConst && allConst(args.size());
    case ProtoTable::Method: return proto.method->isConst && allConst(args.size());
    case ProtoTable::None: break;
  }
  return false;
}

namespace {

// The buffer expression an iterator local walks: the right child of its
// declaration (op 42), found from the access node or from the scopes.
const AST_Node* iteratedBuffer(ParserEnv* penv, const AST_Node* iterator) {
  const Program* program = penv->program;
  if (iterator == nullptr || iterator->op != LOCAL_VAR) return nullptr;
  const AST_Node* decl = nodeAt(program, iterator->right);
  if (decl == nullptr || decl->op != ITERATOR_DECL_OP) {
    decl = nullptr;
    const AST_Node* index = nodeAt(program, iterator->left);
    const uint32_t id = index != nullptr ? index->value.id.index : NO_ID;
    const auto& locals = penv->pctx.localVars;
    for (auto it = locals.rbegin(); it != locals.rend() && decl == nullptr; ++it) {
      if (it->index == id && it->iterator) decl = nodeAt(program, it->declaration);
    }
  }
  if (decl == nullptr || decl->op != ITERATOR_DECL_OP) return nullptr;
  return nodeAt(program, decl->right);
}

}  // namespace

uint32_t defCall_getAccessRights(ParserEnv* penv, const AST_Node* call) {
  const Program* program = penv->program;
  const AST_Node* index = callIndex(program, call);
  if (index == nullptr) return kAccessNone;
  switch (index->value.id.index) {
    case kCallFunctionRightCurrying:
    case kCallFunctionLeftCurrying:
    case kCallFunctionLeftRightCurrying: return kAccessReadWrite;
    case kCallFunctionCustom:
    case kCallSubProcess: return kAccessNone;
    case kCallFieldCustom: return defCall_isConst(penv, call) ? kAccessRead : kAccessReadWrite;
    default: break;
  }
  const CallProto proto = retrieveCallProto(penv, call);
  if (proto.table != ProtoTable::Field) return kAccessRead;
  if (proto.field->accessRights != kAccessInherited) return proto.field->accessRights;
  const AST_Node* buffer = iteratedBuffer(penv, nodeAt(program, index->left));
  return buffer != nullptr ? defExpr_getAccessRights(penv, buffer) : kAccessRead;
}

bool defCall_is(const Program* program, const AST_Node* call, uint32_t code, uint32_t customId) {
  const AST_Node* index = callIndex(program, call);
  if (index == nullptr || index->value.id.index != code) return false;
  if (customId == NO_ID) return true;
  const AST_Node* custom = nodeAt(program, index->right);
  const uint32_t id = custom != nullptr ? custom->value.id.index : index->value.id.custom;
  return id == customId;
}

void parser_checkBuiltinCall(ParserEnv* penv, AST_Node* call) {
  const CallProto proto = retrieveCallProto(penv, call);
  ProtoCheckCallback check = nullptr;
  switch (proto.table) {
    case ProtoTable::Field: check = proto.field->check; break;
    case ProtoTable::Function: check = proto.function->sntrs.list[proto.idx].check; break;
    case ProtoTable::Method: check = proto.method->sntrs.list[proto.idx].check; break;
    case ProtoTable::None: break;
  }
  if (check != nullptr) check(penv, call);
}

void parser_checkBuiltinTree(ParserEnv* penv, AST_Node* root) {
  const Program* program = penv->program;
  if (root == nullptr) return;
  // Children first, without recursion; a node reached twice (a malformed,
  // shared or cyclic tree) is checked once.
  std::unordered_set<uint32_t> seen;
  std::vector<std::pair<uint32_t, bool>> pending{{AST_id(program, root), false}};
  while (!pending.empty()) {
    const auto [id, childrenDone] = pending.back();
    pending.pop_back();
    AST_Node* node = nodeAt(program, id);
    if (node == nullptr) continue;
    if (childrenDone) {
      if (node->op != CALL_OP) continue;
      // A whole program's calls are reported on their own lines.
      if (penv->pctx.wholeProgram && program->dbg->nodeLine != nullptr) {
        penv->pctx.line = program->dbg->nodeLine[id];
        penv->pctx.column = 0;
      }
      parser_checkBuiltinCall(penv, node);
      continue;
    }
    if (!seen.insert(id).second) continue;
    pending.push_back({id, true});
    if (nodeAt(program, node->right) != nullptr) pending.push_back({node->right, false});
    if (nodeAt(program, node->left) != nullptr) pending.push_back({node->left, false});
  }
}

void parser_checkBuiltinCalls(ParserEnv* penv) {
  const Program* program = penv->program;
  if (program->root == nullptr || program->root->op != ROOT) return;
  parser_checkBuiltinTree(penv, nodeAt(program, program->root->left));
}

std::string allocSntrDesc(const Program* program, const sntr& s, uint32_t objType,
                          uint32_t category) {
  const auto name = [&](uint32_t t) -> std::string {
    switch (t) {
      case kProtoObjType:
      case kProtoObjBaseType: {
        const uint32_t resolved = resolveArgType(program, t, objType, category);
        if (resolved != NO_ID) return typeName(program, resolved);
        return t == kProtoObjType ? "<object type>" : "<element type>";
      }
      case kProtoArg1Type: return "<argument 1 type>";
      case kProtoArg1BaseType: return "<argument 1 element type>";
      default: return typeName(program, t);
    }
  };
  std::string text = name(s.retTypeId) + "(";
  for (size_t i = 0; i < kMaxProtoArgs && s.args[i] != TypeVoid; ++i) {
    if (s.args[i] == kProtoVariadic) {
      text += "...";
      break;
    }
    if (i > 0) text += ", ";
    text += name(s.args[i]);
  }
  return text + ")";
}

std::string allocAllSntrDesc(const Program* program, const SntrList& sntrs, uint32_t objType,
                             uint32_t category) {
  std::string text;
  for (uint32_t i = 0; i < sntrs.n; ++i) {
    text += allocSntrDesc(program, sntrs.list[i], objType, category) + "\n";
  }
  return text;
}
