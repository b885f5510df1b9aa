// The compiled evaluator: compilation of statements into closure records and
// the typed evaluators they point at. The walker's rules are the reference;
// every evaluator here does what the walker does at the same node, in the
// same order, or hands the whole statement or expression to the walker
// before anything of it has run.
//
// Calls and conditions, measured on fib(32) against Lua 5.4 (median of
// alternated pairs, RelWithDebInfo, the shared 2-core machine). The scalar
// call's frame kept its saved fields packed in vector registers and read the
// stack mark as one 8-byte load right after one half of it was stored alone,
// a store-forwarding stall; read field by field, with the restore and the
// result's copy folded into plain writes when every check passes: 1.64x to
// 1.48x. Then the comparison deciding an `if` or a `while` is made inside the
// statement's own instance (stIfTest, stWhileTest: no call and no frame for
// the test), a local or a literal assigned to a local is read in place, and
// the operator above two calls is one typed instance with its push: 1.48x to
// 1.10x, most of it the fused `if` (1.31x with everything but that). The
// frame's rare ends (overflow, an unusual restore, the first call) moved out
// of line took 9 instructions off a call (callgrind, fib(24)) and measured
// 1.16x to 1.10x on a later, busier day.
//
// Globals as operands are read in place too (the Glb kind beside locals and
// literals): loop (globals) 0.163 s to 0.126 s (median of 11 alternated runs,
// 256M to 233M instructions for 1M iterations), fib and loop (locals)
// unchanged. With twice the operator instances GCC stopped shrink-wrapping
// stAssignLocal around its walker fallback (7 instructions more per leaf
// call in fib); walkStmt is marked cold, which restores it.
#include "interpreterLib/interp_compiled.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/default_callback.h"
#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/interp_error.h"
#include "interpreterLib/interp_expr.h"
#include "interpreterLib/interp_stack.h"
#include "interpreterLib/operator_functions.h"

namespace {

// What a compiled statement needs at hand while it runs.
struct Run {
  InterpEnv* env;
  Context* ctx;
  TaggedValue* locals;  // entry 0 of the running function's locals
  const TypeRecord* types;
  uint32_t nTypes;
  TaggedValue* localTable;
  ValueCell* localData;
};

struct CExpr;
struct CStmt;
struct CallInfo;
using EvalFn = uint64_t (*)(const CExpr&, Run&);
using RefFn = TaggedValue (*)(const CExpr&, Run&);
using StmtFn = uint32_t (*)(const CStmt&, Run&);

// How a value is reached: a temporary computed in registers, a variable or
// constant table entry, a reference computed by `rfn`, or the walker.
enum class Kind : uint8_t {
  kTemp,
  kLocal,
  kGlobal,
  kStatic,
  kGlobalConst,
  kLocalConst,
  kRef,
  kWalk
};

struct CExpr {
  EvalFn fn = nullptr;  // the value's 8 bytes
  RefFn rfn = nullptr;  // kRef: the reference
  const CExpr* a = nullptr;
  const CExpr* b = nullptr;
  const AST_Node* node = nullptr;
  const CallInfo* call = nullptr;
  ValueCell* cell = nullptr;  // kGlobal: the variable's storage
  uint64_t k = 0;             // a literal's bits, or the right operand's
  uint32_t la = 0;            // local id of a left leaf operand
  uint32_t lb = 0;            // local id of a right leaf operand
  uint32_t id = 0;            // variable or constant id; a field's offset
  uint32_t type = NO_ID;      // the value's type when fixed; NO_ID: read when run
  uint32_t pushes = 0;        // cells the walker pushes for it (call-free part)
  Kind kind = Kind::kTemp;
  uint8_t leftKind = 0;  // a typed binary operator's operand kinds (pickKinds)
  uint8_t rightKind = 0;
  bool typedBinary = false;  // fn is that operator's instance for these kinds
  bool pure = true;          // no call below: nothing observable but global reads
  bool acct = false;         // a call-free root: counts its pushes, or walks
};

struct CallInfo {
  uint32_t funcId = 0;
  const AST_Node* body = nullptr;
  std::vector<const CExpr*> args;  // the arguments that meet a parameter
  std::vector<uint8_t> byRef;
  uint32_t resultType = NO_ID;  // NO_ID: a call used as a statement
  bool scalarResult = false;    // one plain cell: the copy is counted, not made
  uint32_t argPushes = 0;       // evCallScalar: the cells its arguments count
  mutable const CStmt* code = nullptr;
  mutable bool resolved = false;
};

struct CStmt {
  StmtFn fn = nullptr;
  const AST_Node* node = nullptr;
  const CExpr* e = nullptr;       // condition, expression, assigned value
  const CExpr* target = nullptr;  // assignment target
  const CStmt* s1 = nullptr;      // then branch, loop body, for init
  const CStmt* s2 = nullptr;      // else branch, for step
  const AST_Node* decls = nullptr;
  std::vector<const CStmt*> list;
  uint32_t id = 0;    // assigned local
  bool reset = true;  // ends with the statement-boundary reset
};

}  // namespace

struct CompiledCode {
  uint32_t limit = 0;  // nodes below this id belong to the loaded program
  std::vector<const CStmt*> byNode;
  std::deque<CExpr> exprs;
  std::deque<CStmt> stmts;
  std::deque<CallInfo> calls;
  uint32_t walked = 0;  // hand-overs to the walker compiled, statements and expressions
};

namespace {

// Marks a statement that runs on the walker.
const CStmt kWalkMark{};

// ---------------------------------------------------------------- run-time helpers

inline Run makeRun(InterpEnv* env) {
  Context* ctx = env->ctx.get();
  const Program* program = env->program.get();
  TaggedValue* table = env->data->localVariableTable.get();
  return {env,
          ctx,
          table + ctx->localVarsIndexes.base.variables,
          program->typeTable.get(),
          program->infoProg->n_type,
          table,
          env->data->localVariableDataTable.get()};
}

// The local tables' operations with their limits checked as kova_locals
// does; anything out of the ordinary is left to kova_locals, which reports it.
inline TaggedValue* declareLocal(Run& r, uint32_t typeId) {
  auto& count = r.ctx->localVarsIndexes.count;
  if (typeId < r.nTypes) {
    const uint32_t storage = r.types[typeId].storageSize;
    if (count.variables < kMaxLocalVariables && storage < kMaxLocalData &&
        count.variablesData < kMaxLocalData - storage) [[likely]] {
      TaggedValue* entry = &r.localTable[count.variables];
      *entry = {&r.localData[count.variablesData], typeId, NO_ID};
      ++count.variables;
      count.variablesData += storage;
      return entry;
    }
  }
  return LocalVariable_declare(r.env, typeId);
}

inline void referenceLocal(Run& r, const TaggedValue* ref) {
  auto& count = r.ctx->localVarsIndexes.count;
  if (count.variables < kMaxLocalVariables) [[likely]] {
    r.localTable[count.variables++] = *ref;
    return;
  }
  LocalVariable_reference(r.env, ref);
}

// The counters are written one field at a time just before they are saved;
// a wide load of fields stored separately stalls, so they are read one by one.
inline uint32_t readField(const uint32_t& field) {
  uint32_t v = field;
  asm("" : "+r"(v));
  return v;
}

inline LocalVarsCounts saveCounts(const Run& r) {
  const auto& count = r.ctx->localVarsIndexes.count;
  return {readField(count.variables), readField(count.constants), readField(count.variablesData)};
}

inline LocalVarsIndexes saveIndexes(const Run& r) {
  const LocalVarsIndexes& live = r.ctx->localVarsIndexes;
  LocalVarsIndexes saved;
  saved.base.processStaticVariables = readField(live.base.processStaticVariables);
  saved.base.variables = readField(live.base.variables);
  saved.count.variables = readField(live.count.variables);
  saved.count.constants = readField(live.count.constants);
  saved.count.variablesData = readField(live.count.variablesData);
  return saved;
}

inline void restoreCounts(Run& r, const LocalVarsCounts& saved) {
  auto& count = r.ctx->localVarsIndexes.count;
  if (count.variables >= saved.variables && count.constants >= saved.constants &&
      count.variablesData >= saved.variablesData) [[likely]] {
    count.variables = saved.variables;
    count.constants = saved.constants;
    count.variablesData = saved.variablesData;
    return;
  }
  Variable_restorePrevLocalVarCounts(r.env, saved);
}

inline void restoreIndexes(Run& r, const LocalVarsIndexes& saved) {
  LocalVarsIndexes& live = r.ctx->localVarsIndexes;
  if (live.base.variables >= saved.base.variables &&
      (saved.base.processStaticVariables == NO_ID ||
       saved.base.processStaticVariables <= live.base.processStaticVariables) &&
      live.count.variables >= saved.count.variables &&
      live.count.constants >= saved.count.constants &&
      live.count.variablesData >= saved.count.variablesData) [[likely]] {
    live = saved;
    return;
  }
  Variable_restorePrevLocalVarIndexes(r.env, saved);
}

inline void resetStack(Run& r) {
  r.ctx->stack_used = r.ctx->stack_floor;
}

inline TaggedValue* localEntry(Run& r, uint32_t id) {
  const LocalVarsIndexes& idx = r.ctx->localVarsIndexes;
  if (id >= idx.count.variables - idx.base.variables) [[unlikely]] {
    return LocalVariable_getRelativeScopeValue(r.env, id);  // ends the run
  }
  return &r.locals[id];
}

inline void globalRead(Run& r, uint32_t id) {
  const VarReadCallback read = r.ctx->var_read_callback[id];
  if (read != &defaultCallback_varRead) read(r.env, id);
}

inline bool plainCell(const Run& r, uint32_t typeId) {
  return typeId < r.nTypes && r.types[typeId].storageSize == 1;
}

// A call-free expression counts the cells the walker would push, all at
// once; when they do not fit, the walker evaluates it and fails where it does.
inline bool room(const CExpr& e, Run& r) {
  uint32_t& used = r.ctx->stack_used;
  if (used + e.pushes >= kStackCells) [[unlikely]]
    return false;
  used += e.pushes;
  return true;
}

[[gnu::noinline]] TaggedValue walkTagged(const CExpr& e, Run& r) {
  return expr_execute(r.env, e.node);
}

[[gnu::noinline]] uint64_t walkValue(const CExpr& e, Run& r) {
  const TaggedValue v = expr_execute(r.env, e.node);
  return v.value != nullptr ? v.value->u64 : 0;
}

inline uint64_t evalV(const CExpr& e, Run& r) {
  if (e.acct && !room(e, r)) [[unlikely]]
    return walkValue(e, r);
  return e.fn(e, r);
}

TaggedValue evalT(const CExpr& e, Run& r, ValueCell& tmp) {
  if (e.acct && !room(e, r)) [[unlikely]]
    return walkTagged(e, r);
  switch (e.kind) {
    case Kind::kLocal: return *localEntry(r, e.id);
    case Kind::kGlobal: globalRead(r, e.id); return r.env->program->globalVariableTable[e.id];
    case Kind::kStatic: return *StaticVaraible_getRelativeScopeValue(r.env, e.id);
    case Kind::kGlobalConst: return r.env->program->globalConstantTable[e.id];
    case Kind::kLocalConst: return *LocalConstant_getValue(r.env, e.id);
    case Kind::kRef: return e.rfn(e, r);
    case Kind::kWalk: return expr_execute(r.env, e.node);
    case Kind::kTemp: break;
  }
  tmp.u64 = e.fn(e, r);
  return {&tmp, e.type, NO_ID};
}

// A temporary that must be copied as more than one cell: the walker would
// copy from its stack cell onwards, so the copy is made from there too.
ValueCell* stackCopyOf(Run& r, uint32_t at, uint64_t bits) {
  ValueCell* cell = &r.ctx->stack[at < kStackCells ? at : 0];
  cell->u64 = bits;
  return cell;
}

inline uint64_t pushed(Run& r, uint64_t bits) {
  interpStack_cell(r.env)->u64 = bits;
  return bits;
}

// ---------------------------------------------------------------- leaves

uint64_t evLiteral(const CExpr& e, Run&) {
  return e.k;
}
uint64_t evLocal(const CExpr& e, Run& r) {
  return localEntry(r, e.id)->value->u64;
}
uint64_t evGlobal(const CExpr& e, Run& r) {
  globalRead(r, e.id);
  return e.cell->u64;
}
uint64_t evStatic(const CExpr& e, Run& r) {
  return StaticVaraible_getRelativeScopeValue(r.env, e.id)->value->u64;
}
uint64_t evGlobalConst(const CExpr& e, Run& r) {
  return r.env->program->globalConstantTable[e.id].value->u64;
}
uint64_t evLocalConst(const CExpr& e, Run& r) {
  return LocalConstant_getValue(r.env, e.id)->value->u64;
}
uint64_t evRef(const CExpr& e, Run& r) {
  const TaggedValue v = e.rfn(e, r);
  return v.value != nullptr ? v.value->u64 : 0;
}
uint64_t evWalk(const CExpr& e, Run& r) {
  return walkValue(e, r);
}

// ---------------------------------------------------------------- typed operators

// Operand readers, chosen when compiling: a sub-expression, a local, a literal.
struct Sub {
  static uint64_t get(const CExpr* s, uint32_t, uint64_t, Run& r) { return s->fn(*s, r); }
};
struct Loc {
  static uint64_t get(const CExpr*, uint32_t id, uint64_t, Run& r) {
    return localEntry(r, id)->value->u64;
  }
};
struct Imm {
  static uint64_t get(const CExpr*, uint32_t, uint64_t k, Run&) { return k; }
};
struct Glb {  // a global: the sub-expression holds its id and storage
  static uint64_t get(const CExpr* s, uint32_t, uint64_t, Run& r) {
    globalRead(r, s->id);
    return s->cell->u64;
  }
};

template <class U, bool Signed, uint32_t Op>
struct IntOp {
  static constexpr uint32_t kOp = Op;
  static uint64_t apply(const CExpr& e, Run& r, uint64_t x, uint64_t y) {
    return kova_ops::integerOperator<U, Signed>(r.env, e.node, Op, x, y);
  }
};
template <class F, uint32_t Op>
struct FloatOp {
  static constexpr uint32_t kOp = Op;
  static uint64_t apply(const CExpr& e, Run& r, uint64_t x, uint64_t y) {
    return kova_ops::floatOperator<F>(r.env, e.node, Op, x, y);
  }
};
template <uint32_t Op>
struct BoolOp {
  static constexpr uint32_t kOp = Op;
  static uint64_t apply(const CExpr&, Run& r, uint64_t x, uint64_t y) {
    return kova_ops::booleanOperator(r.env, Op, x, y);
  }
};

template <class Op, class A, class B>
uint64_t evBinary(const CExpr& e, Run& r) {
  const uint64_t x = A::get(e.a, e.la, e.k, r);
  const uint64_t y = B::get(e.b, e.lb, e.k, r);
  return Op::apply(e, r, x, y);
}

template <class Op, class A>
uint64_t evUnary(const CExpr& e, Run& r) {
  return Op::apply(e, r, A::get(e.a, e.la, e.k, r), 0);
}

// Operators above two calls: the typed operator, then the push.
template <class Op, class A, class B>
uint64_t evBinaryPush(const CExpr& e, Run& r) {
  const uint64_t x = A::get(e.a, e.la, e.k, r);
  const uint64_t y = B::get(e.b, e.lb, e.k, r);
  return pushed(r, Op::apply(e, r, x, y));
}

// A comparison that decides an `if` or a `while` is fused into it (below).
template <class Op, class A, class B>
uint32_t stIfTest(const CStmt& s, Run& r);
template <class Op, class A, class B>
uint32_t stWhileTest(const CStmt& s, Run& r);

constexpr bool isComparison(uint32_t op) {
  return op == LT_OP || op == GT_OP || op == CLE_OP || op == CGE_OP || op == CEQ_OP || op == CNE_OP;
}

// What a typed operator instance is made into: a value, a value pushed above
// two calls, the test of an `if` or of a `while`. The pick functions below
// are written once for all of them.
struct AsValue {
  using Fn = EvalFn;
  static constexpr bool kAllKinds = true;
  static constexpr bool kTestsOnly = false;
  template <class Op, class A, class B>
  static constexpr Fn kFn = evBinary<Op, A, B>;
};
struct AsPush {
  using Fn = EvalFn;
  static constexpr bool kAllKinds = false;
  static constexpr bool kTestsOnly = false;
  template <class Op, class A, class B>
  static constexpr Fn kFn = evBinaryPush<Op, A, B>;
};
struct AsIf {
  using Fn = StmtFn;
  static constexpr bool kAllKinds = true;
  static constexpr bool kTestsOnly = true;
  template <class Op, class A, class B>
  static constexpr Fn kFn = stIfTest<Op, A, B>;
};
struct AsWhile {
  using Fn = StmtFn;
  static constexpr bool kAllKinds = true;
  static constexpr bool kTestsOnly = true;
  template <class Op, class A, class B>
  static constexpr Fn kFn = stWhileTest<Op, A, B>;
};

// Operand kinds: left 0 sub-expression, 1 local, 2 global; right 0
// sub-expression, 1 local, 2 literal, 3 global.
template <class Form, class Op, class A>
constexpr typename Form::Fn kKindsRow[4] = {
    Form::template kFn<Op, A, Sub>, Form::template kFn<Op, A, Loc>, Form::template kFn<Op, A, Imm>,
    Form::template kFn<Op, A, Glb>};

template <class Form, class Op>
typename Form::Fn pickKinds(int left, int right) {
  switch (left) {
    case 1: return kKindsRow<Form, Op, Loc>[right];
    case 2: return kKindsRow<Form, Op, Glb>[right];
    default: return kKindsRow<Form, Op, Sub>[right];
  }
}

// Narrow widths are rare in hot code: their operands are always sub-expressions.
template <class Form, class Op, bool AllKinds>
typename Form::Fn pickOp(int left, int right) {
  if constexpr (Form::kTestsOnly && !isComparison(Op::kOp)) {
    return nullptr;
  } else if constexpr (AllKinds && Form::kAllKinds) {
    return pickKinds<Form, Op>(left, right);
  } else {
    return left == 0 && right == 0 ? Form::template kFn<Op, Sub, Sub> : nullptr;
  }
}

// Ops whose result does not depend on the sign share the unsigned instance.
template <class Form, class U, bool Signed, bool AllKinds>
typename Form::Fn pickIntOp(uint32_t op, int left, int right) {
  switch (op) {
#define KOVA_PICK(OP, SIGNED) \
  case OP: return pickOp<Form, IntOp<U, SIGNED, OP>, AllKinds>(left, right);
    KOVA_PICK(PLUS_OP, false)
    KOVA_PICK(MINUS_OP, false)
    KOVA_PICK(MULT_OP, false)
    KOVA_PICK(BIT_AND_OP, false)
    KOVA_PICK(BIT_OR_OP, false)
    KOVA_PICK(BIT_XOR_OP, false)
    KOVA_PICK(SHIFT_LEFT_OP, false)
    KOVA_PICK(CEQ_OP, false)
    KOVA_PICK(CNE_OP, false)
    KOVA_PICK(SHIFT_RIGHT_OP, Signed)
    KOVA_PICK(LT_OP, Signed)
    KOVA_PICK(GT_OP, Signed)
    KOVA_PICK(CLE_OP, Signed)
    KOVA_PICK(CGE_OP, Signed)
    KOVA_PICK(DIV_OP, Signed)
    KOVA_PICK(MODULO_OP, Signed)
#undef KOVA_PICK
    default: return nullptr;
  }
}

template <class Form, class F>
typename Form::Fn pickFloatOp(uint32_t op, int left, int right) {
  switch (op) {
    case PLUS_OP: return pickOp<Form, FloatOp<F, PLUS_OP>, true>(left, right);
    case MINUS_OP: return pickOp<Form, FloatOp<F, MINUS_OP>, true>(left, right);
    case MULT_OP: return pickOp<Form, FloatOp<F, MULT_OP>, true>(left, right);
    case DIV_OP: return pickOp<Form, FloatOp<F, DIV_OP>, true>(left, right);
    case LT_OP: return pickOp<Form, FloatOp<F, LT_OP>, true>(left, right);
    case GT_OP: return pickOp<Form, FloatOp<F, GT_OP>, true>(left, right);
    case CLE_OP: return pickOp<Form, FloatOp<F, CLE_OP>, true>(left, right);
    case CGE_OP: return pickOp<Form, FloatOp<F, CGE_OP>, true>(left, right);
    default: return nullptr;  // the walker reports what floats do not do
  }
}

template <class Form>
typename Form::Fn pickBinary(uint32_t op, uint32_t type, int left, int right) {
  switch (type) {
    case TypeInt:
    case TypeUInt64:
    case TypeTime64:
    case TypeTime: return pickIntOp<Form, uint64_t, false, true>(op, left, right);
    case TypeSInt:
    case TypeSInt64:
    case TypeDuration64: return pickIntOp<Form, uint64_t, true, true>(op, left, right);
    case TypeUInt32: return pickIntOp<Form, uint32_t, false, true>(op, left, right);
    case TypeSInt32: return pickIntOp<Form, uint32_t, true, true>(op, left, right);
    case TypeUInt16: return pickIntOp<Form, uint16_t, false, false>(op, left, right);
    case TypeSInt16: return pickIntOp<Form, uint16_t, true, false>(op, left, right);
    case TypeUInt8: return pickIntOp<Form, uint8_t, false, false>(op, left, right);
    case TypeSInt8: return pickIntOp<Form, uint8_t, true, false>(op, left, right);
    case TypeF32: return pickFloatOp<Form, float>(op, left, right);
    case TypeF64: return pickFloatOp<Form, double>(op, left, right);
    case TypeBoolean:
      if (left != 0 || right != 0) return nullptr;
      if (op == CEQ_OP) return pickOp<Form, BoolOp<CEQ_OP>, false>(0, 0);
      if (op == CNE_OP) return pickOp<Form, BoolOp<CNE_OP>, false>(0, 0);
      return nullptr;
    default: return nullptr;
  }
}

template <class U>
EvalFn pickIntUnary(uint32_t op, bool local) {
  if (op == NEG_OP) {
    return local ? evUnary<IntOp<U, false, NEG_OP>, Loc> : evUnary<IntOp<U, false, NEG_OP>, Sub>;
  }
  return local ? evUnary<IntOp<U, false, BIT_NOT_OP>, Loc>
               : evUnary<IntOp<U, false, BIT_NOT_OP>, Sub>;
}

EvalFn pickUnary(uint32_t op, uint32_t type, bool local) {
  switch (type) {
    case TypeInt:
    case TypeUInt64:
    case TypeTime64:
    case TypeTime:
    case TypeSInt:
    case TypeSInt64:
    case TypeDuration64: return pickIntUnary<uint64_t>(op, local);
    case TypeUInt32:
    case TypeSInt32: return pickIntUnary<uint32_t>(op, local);
    case TypeUInt16:
    case TypeSInt16: return pickIntUnary<uint16_t>(op, local);
    case TypeUInt8:
    case TypeSInt8: return pickIntUnary<uint8_t>(op, local);
    case TypeF32:
      if (op != NEG_OP) return nullptr;
      return local ? evUnary<FloatOp<float, NEG_OP>, Loc> : evUnary<FloatOp<float, NEG_OP>, Sub>;
    case TypeF64:
      if (op != NEG_OP) return nullptr;
      return local ? evUnary<FloatOp<double, NEG_OP>, Loc> : evUnary<FloatOp<double, NEG_OP>, Sub>;
    default: return nullptr;
  }
}

// Operators above a call: the walker's own operator table, and a real push.
uint64_t evBinaryAcct(const CExpr& e, Run& r) {
  const uint64_t x = evalV(*e.a, r);
  const uint64_t y = evalV(*e.b, r);
  const uint64_t v = r.ctx->execute_operator[e.node->value.id.type](r.env, e.node, x, y);
  return pushed(r, e.type == TypeBoolean ? ((v & 0xFF) != 0 ? 1 : 0) : v);
}

uint64_t evUnaryAcct(const CExpr& e, Run& r) {
  const uint64_t x = evalV(*e.a, r);
  return pushed(r, r.ctx->execute_operator[e.node->value.id.type](r.env, e.node, x, 0));
}

uint64_t evNot(const CExpr& e, Run& r) {
  const uint64_t x = evalV(*e.a, r);
  const uint64_t v = kova_ops::booleanOperator(r.env, NOT_OP, x, 0) != 0 ? 1 : 0;
  return e.pure ? v : pushed(r, v);
}

template <bool IsAnd>
uint64_t evLogic(const CExpr& e, Run& r) {
  const bool left = (evalV(*e.a, r) & 0xFF) != 0;
  bool v = left;
  if (left == IsAnd) v = (evalV(*e.b, r) & 0xFF) != 0;
  return e.pure ? uint64_t{v} : pushed(r, v);
}

uint64_t evCast(const CExpr& e, Run& r) {
  return e.a->fn(*e.a, r);
}

// ---------------------------------------------------------------- references

TaggedValue rfIndex(const CExpr& e, Run& r) {
  ValueCell tmpIndex;
  ValueCell tmpArray;
  const TaggedValue indexValue = evalT(*e.b, r, tmpIndex);
  uint32_t index = 0;
  const uint32_t convRes = primTypeToSize(indexValue, &index);
  if ((convRes & CONV_SAFE_2COMPL) == 0) [[unlikely]] {
    ENV_CHECK(r.env, false, "convRes & CONV_SAFE_2COMPL");
    return kEmptyValue;
  }
  if (convRes == kIcrNegativeToWiderUnsigned) [[unlikely]] {
    interp_failure(r.env, "Negative array index\n");
    return kEmptyValue;
  }
  const TaggedValue array = evalT(*e.a, r, tmpArray);
  return array_get(r.env, array, index);
}

TaggedValue rfField(const CExpr& e, Run& r) {
  ValueCell tmp;
  return field_ofObject(r.env, evalT(*e.a, r, tmp), e.type, e.id);
}

// ---------------------------------------------------------------- calls

const CStmt* lookupOrCompile(InterpEnv* env, const AST_Node* node);

void bindArguments(const CallInfo& c, Run& r) {
  for (size_t i = 0; i < c.args.size(); ++i) {
    ValueCell tmp;
    const CExpr& arg = *c.args[i];
    const TaggedValue v = evalT(arg, r, tmp);
    if (c.byRef[i] != 0) {
      referenceLocal(r, &v);
      continue;
    }
    TaggedValue* copy = declareLocal(r, v.typeId);
    if (plainCell(r, v.typeId)) {
      copy->value->u64 = v.value->u64;
    } else {
      value_set(r.env, *copy, v.value, v.typeId);
    }
  }
}

// The frame of a user function call, as the walker's: limits, bind, hide the
// caller's locals, protect the caller's stack operands, run, restore.
void invoke(const CallInfo& c, Run& r, const TaggedValue* result) {
  InterpEnv* env = r.env;
  Context& ctx = *r.ctx;
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (ctx.callDepth == 0) ctx.stackBase = frame;
  if (ctx.callDepth >= kMaxCallDepth || ctx.stackBase - frame > ctx.stackBudget) [[unlikely]] {
    interp_failure(env, "Stack overflow\n");
    return;
  }
  ++ctx.callDepth;
  const LocalVarsIndexes saved = saveIndexes(r);
  bindArguments(c, r);
  uint32_t bound = static_cast<uint32_t>(c.args.size());
  if (result != nullptr) {
    referenceLocal(r, result);
    ++bound;
  }
  LocalVarsIndexes& live = ctx.localVarsIndexes;
  if (live.count.variables >= bound) [[likely]] {
    live.base.variables = live.count.variables - bound;
  } else {
    Locals_hideNonArgs(env, bound);
  }
  const StackMark mark = interpStack_enterCall(env);
  if (!c.resolved) {
    c.code = lookupOrCompile(env, c.body);
    c.resolved = true;
  }
  if (c.code != nullptr) {
    Run inner = r;
    inner.locals = r.localTable + live.base.variables;
    c.code->fn(*c.code, inner);
  } else {
    statement_walk(env, c.body);
  }
  interpStack_leaveCall(env, mark);
  restoreIndexes(r, saved);
  --ctx.callDepth;
}

// The walker copies the result onto the stack (its cell and one more), then
// the caller's counts come back.
[[gnu::always_inline]] inline uint64_t pushResult(Run& r, const CallInfo& c,
                                                  const TaggedValue& result,
                                                  const LocalVarsCounts& saved) {
  Context& ctx = *r.ctx;
  uint64_t v = 0;
  if (c.scalarResult && ctx.stack_used < kStackCells - 2) [[likely]] {
    ctx.stack_used += 2;
    v = result.value->u64;
  } else {
    v = interpStack_pushForcedTypeValue(r.env, c.resultType, result).value->u64;
  }
  restoreCounts(r, saved);
  return v;
}

uint64_t evCall(const CExpr& e, Run& r) {
  const CallInfo& c = *e.call;
  if (c.resultType == NO_ID) {
    invoke(c, r, nullptr);
    return 0;
  }
  InterpEnv* env = r.env;
  const LocalVarsCounts saved = saveCounts(r);
  const TaggedValue* result = declareLocal(r, c.resultType);
  if (c.scalarResult) {
    result->value->u64 = 0;
  } else {
    value_clear(env, *result);
  }
  invoke(c, r, result);
  return pushResult(r, c, *result, saved);
}

// The scalar frame's rare ends, out of line: the common path then keeps its
// values in registers instead of preparing these calls' arguments.
[[gnu::cold, gnu::noinline]] uint64_t scalarCallOverflow(const CallInfo& c, Run& r, uint32_t v0,
                                                         uint32_t k0, uint32_t d0) {
  interp_failure(r.env, "Stack overflow\n");
  return pushResult(r, c, r.localTable[v0], {v0, k0, d0});
}

[[gnu::cold, gnu::noinline]] uint64_t scalarCallRestore(const CallInfo& c, Run& r, uint32_t static0,
                                                        uint32_t base0, uint32_t v0, uint32_t k0,
                                                        uint32_t d0) {
  LocalVarsIndexes saved;
  saved.base.processStaticVariables = static0;
  saved.base.variables = base0;
  saved.count = {v0 + 1, k0, d0 + 1};
  restoreIndexes(r, saved);
  --r.ctx->callDepth;
  return pushResult(r, c, r.localTable[v0], {v0, k0, d0});
}

[[gnu::cold, gnu::noinline]] void resolveCall(const CallInfo& c, InterpEnv* env) {
  c.code = lookupOrCompile(env, c.body);
  c.resolved = true;
}

// A call whose arguments are all call-free single cells of a known type
// passed by value, and whose result is a single cell. Checked once at entry:
// when the whole frame (result, copies, the result's reference) fits the
// local tables and the arguments' cells fit the stack, none of the general
// frame's checks below can fail, so the cells are written in place and the
// two saves and restores become one. The counts still move in the general
// frame's order, so the depth check, nested calls and failures see the same
// tables; otherwise the general frame runs and fails where it fails.
// The argument count is a template parameter: the binding loop unrolls.
template <uint32_t nArgs>
uint64_t evCallScalar(const CExpr& e, Run& r) {
  const CallInfo& c = *e.call;
  Context& ctx = *r.ctx;
  LocalVarsIndexes& live = ctx.localVarsIndexes;
  const uint32_t v0 = live.count.variables;
  const uint32_t d0 = live.count.variablesData;
  if (v0 + nArgs + 1 >= kMaxLocalVariables || d0 + nArgs + 1 >= kMaxLocalData ||
      ctx.stack_used + c.argPushes >= kStackCells) [[unlikely]] {
    return evCall(e, r);
  }
  const uint32_t static0 = readField(live.base.processStaticVariables);
  const uint32_t base0 = readField(live.base.variables);
  const uint32_t k0 = readField(live.count.constants);
  TaggedValue* const table = r.localTable;
  ValueCell* const data = r.localData;
  table[v0] = {&data[d0], c.resultType, NO_ID};
  data[d0].u64 = 0;
  live.count.variables = v0 + 1;
  live.count.variablesData = d0 + 1;
  const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (ctx.callDepth == 0) ctx.stackBase = frame;
  if (ctx.callDepth >= kMaxCallDepth || ctx.stackBase - frame > ctx.stackBudget) [[unlikely]] {
    return scalarCallOverflow(c, r, v0, k0, d0);
  }
  ++ctx.callDepth;
  const CExpr* const* args = c.args.data();
  for (uint32_t i = 0; i < nArgs; ++i) {
    const CExpr& arg = *args[i];
    ctx.stack_used += arg.pushes;
    const uint64_t bits = arg.fn(arg, r);
    const uint32_t at = v0 + 1 + i;
    table[at] = {&data[d0 + 1 + i], arg.type, NO_ID};
    data[d0 + 1 + i].u64 = bits;
    live.count.variables = at + 1;
    live.count.variablesData = d0 + 2 + i;
  }
  table[v0 + 1 + nArgs] = {&data[d0], c.resultType, NO_ID};
  live.count.variables = v0 + 2 + nArgs;
  live.base.variables = v0 + 1;
  // Read one field at a time: stack_used was just written on its own.
  const uint32_t used = readField(ctx.stack_used);
  const uint32_t floor = readField(ctx.stack_floor);
  ctx.stack_floor = used;
  if (!c.resolved) [[unlikely]]
    resolveCall(c, r.env);
  if (const CStmt* code = c.code; code != nullptr) [[likely]] {
    TaggedValue* const callerLocals = r.locals;
    r.locals = table + v0 + 1;
    code->fn(*code, r);
    r.locals = callerLocals;
  } else {
    statement_walk(r.env, c.body);
  }
  ctx.stack_used = used;
  ctx.stack_floor = floor;
  // The frame and then the result's copy, as evCall's restore and push do;
  // when every check passes they come down to these writes.
  if (live.base.variables >= base0 &&
      (static0 == NO_ID || static0 <= live.base.processStaticVariables) &&
      live.count.variables >= v0 + 1 && live.count.constants >= k0 &&
      live.count.variablesData >= d0 + 1 && used < kStackCells - 2) [[likely]] {
    live.base.processStaticVariables = static0;
    live.base.variables = base0;
    live.count = {v0, k0, d0};
    --ctx.callDepth;
    ctx.stack_used = used + 2;
    return data[d0].u64;
  }
  return scalarCallRestore(c, r, static0, base0, v0, k0, d0);
}

// ---------------------------------------------------------------- statements

// A for loop's init and step are expressions: the walker evaluates them
// without the statement-boundary reset.
[[gnu::cold, gnu::noinline]] uint32_t walkStmt(const CStmt& s, Run& r) {
  if (!s.reset) {
    expr_execute(r.env, s.node);
    return kStmtDone;
  }
  return statement_walk(r.env, s.node);
}

inline bool condition(const CExpr& e, Run& r) {
  if (e.type == TypeBoolean) return (evalV(e, r) & 0xFF) != 0;
  ValueCell tmp;
  return get_value_boolean(r.env, evalT(e, r, tmp));
}

uint32_t stWalk(const CStmt& s, Run& r) {
  return walkStmt(s, r);
}

uint32_t stBreak(const CStmt&, Run&) {
  return kStmtBreak;
}
uint32_t stContinue(const CStmt&, Run&) {
  return kStmtContinue;
}

uint32_t stExpr(const CStmt& s, Run& r) {
  evalV(*s.e, r);
  if (s.reset) resetStack(r);
  return kStmtDone;
}

// `x = e` into a local that is a plain cell of no global's, e call-free and
// typed: checked first, so that anything else is the walker's from the start.
// A local or a literal on the right is read in place.
template <class Value>
uint32_t stAssignLocal(const CStmt& s, Run& r) {
  Context& ctx = *r.ctx;
  const LocalVarsIndexes& idx = ctx.localVarsIndexes;
  const CExpr& e = *s.e;
  if (s.id >= idx.count.variables - idx.base.variables || ctx.stack_used + e.pushes >= kStackCells)
      [[unlikely]] {
    return walkStmt(s, r);
  }
  const TaggedValue& target = r.locals[s.id];
  if (target.globalId != NO_ID || !plainCell(r, target.typeId)) [[unlikely]]
    return walkStmt(s, r);
  target.value->u64 = Value::get(&e, e.id, e.k, r);
  if (s.reset) {
    resetStack(r);
  } else {
    ctx.stack_used += e.pushes;
  }
  return kStmtDone;
}

// `g = e` into a global nobody watches: the same, with its storage at hand.
uint32_t stAssignGlobal(const CStmt& s, Run& r) {
  Context& ctx = *r.ctx;
  const CExpr& e = *s.e;
  const CExpr& t = *s.target;
  if (ctx.var_change_callback[t.id] != &defaultCallback_varChange ||
      ctx.var_read_callback[t.id] != &defaultCallback_varRead ||
      ctx.stack_used + e.pushes >= kStackCells) [[unlikely]] {
    return walkStmt(s, r);
  }
  t.cell->u64 = e.fn(e, r);
  if (s.reset) {
    resetStack(r);
  } else {
    ctx.stack_used += e.pushes;
  }
  return kStmtDone;
}

// What an assignment does once both sides are known, for a target that is
// not a plain cell of no global's.
void assignWatched(Run& r, TaggedValue target, TaggedValue value, ValueCell& tmp,
                   uint32_t valueCell) {
  InterpEnv* env = r.env;
  if (target.globalId != NO_ID) {
    const VarChangeCallback change = r.ctx->var_change_callback[target.globalId];
    ENV_CHECK(env, change != nullptr, "env->ctx->var_change_callback[v_left.globalId] != NULL");
    if (change(env, target.globalId, kVarAssign, value) != 0) return;
  }
  if (value.value == &tmp && !plainCell(r, target.typeId)) {
    value.value = stackCopyOf(r, valueCell, tmp.u64);
  }
  value_set(env, target, value.value, value.typeId);
}

// `x = e` into a local, e with a call: the target is known only afterwards.
uint32_t stAssignLocalAfter(const CStmt& s, Run& r) {
  const CExpr& e = *s.e;
  ValueCell tmp;
  tmp.u64 = e.fn(e, r);
  const TaggedValue& target = *localEntry(r, s.id);
  if (target.globalId == NO_ID && plainCell(r, target.typeId)) [[likely]] {
    target.value->u64 = tmp.u64;
  } else {
    assignWatched(r, target, {&tmp, e.type, NO_ID}, tmp, r.ctx->stack_used - 1);
  }
  if (s.reset) resetStack(r);
  return kStmtDone;
}

uint32_t stAssign(const CStmt& s, Run& r) {
  ValueCell tmpValue;
  ValueCell tmpTarget;
  TaggedValue value = evalT(*s.e, r, tmpValue);
  const uint32_t valueCell = r.ctx->stack_used - 1;
  const TaggedValue target = evalT(*s.target, r, tmpTarget);
  assignWatched(r, target, value, tmpValue, valueCell);
  if (s.reset) resetStack(r);
  return kStmtDone;
}

uint32_t stIf(const CStmt& s, Run& r) {
  const CStmt* branch = condition(*s.e, r) ? s.s1 : s.s2;
  return branch != nullptr ? branch->fn(*branch, r) : kStmtDone;
}

uint32_t stBlock(const CStmt& s, Run& r) {
  InterpEnv* env = r.env;
  const LocalVarsCounts saved = saveCounts(r);
  if (s.decls != nullptr) variable_declareLocals(env, s.decls);
  uint32_t result = kStmtDone;
  for (const CStmt* st : s.list) {
    result = st->fn(*st, r);
    if (result != kStmtDone) break;
  }
  restoreCounts(r, saved);
  return result;
}

// Without declarations a block leaves the counts as it found them: every
// statement in it restores what it declares.
uint32_t stBlockNoDecls(const CStmt& s, Run& r) {
  for (const CStmt* st : s.list) {
    const uint32_t result = st->fn(*st, r);
    if (result != kStmtDone) return result;
  }
  return kStmtDone;
}

uint32_t stWhile(const CStmt& s, Run& r) {
  const CStmt& body = *s.s1;
  for (;;) {
    resetStack(r);
    if (!condition(*s.e, r)) break;
    if (body.fn(body, r) == kStmtBreak) break;
  }
  resetStack(r);
  return kStmtDone;
}

uint32_t stFor(const CStmt& s, Run& r) {
  if (s.s1 != nullptr) s.s1->fn(*s.s1, r);
  const CStmt& body = *s.list[0];
  for (;;) {
    if (!condition(*s.e, r)) break;
    if (body.fn(body, r) == kStmtBreak) break;
    resetStack(r);
    if (s.s2 != nullptr) s.s2->fn(*s.s2, r);
  }
  resetStack(r);
  return kStmtDone;
}

// An `if` or a `while` whose condition is a typed comparison of call-free
// operands: the comparison is made in place. Its cells are counted as the
// condition's own would be; when they do not fit, the general statement
// runs, which hands the condition to the walker.
template <class Op, class A, class B>
uint32_t stIfTest(const CStmt& s, Run& r) {
  const CExpr& e = *s.e;
  if (!room(e, r)) [[unlikely]]
    return stIf(s, r);
  const uint64_t x = A::get(e.a, e.la, e.k, r);
  const uint64_t y = B::get(e.b, e.lb, e.k, r);
  if ((Op::apply(e, r, x, y) & 0xFF) != 0) {
    return s.s1 != nullptr ? s.s1->fn(*s.s1, r) : kStmtDone;
  }
  return s.s2 != nullptr ? s.s2->fn(*s.s2, r) : kStmtDone;
}

template <class Op, class A, class B>
uint32_t stWhileTest(const CStmt& s, Run& r) {
  const CExpr& e = *s.e;
  const CStmt& body = *s.s1;
  for (;;) {
    resetStack(r);
    if (!room(e, r)) [[unlikely]] {
      if ((walkValue(e, r) & 0xFF) == 0) break;
    } else {
      const uint64_t x = A::get(e.a, e.la, e.k, r);
      const uint64_t y = B::get(e.b, e.lb, e.k, r);
      if ((Op::apply(e, r, x, y) & 0xFF) == 0) break;
    }
    if (body.fn(body, r) == kStmtBreak) break;
  }
  resetStack(r);
  return kStmtDone;
}

// ---------------------------------------------------------------- compiler

class Compiler {
 public:
  Compiler(const Program* program, CompiledCode& code) : program_(program), code_(code) {}

  const CStmt* statement(const AST_Node* node);

 private:
  const AST_Node* child(uint32_t id) const {
    return id != NO_ID && id < code_.limit ? &program_->RAMprogram[id] : nullptr;
  }
  bool hasChild(uint32_t id) const { return id != NO_ID; }
  uint32_t leftId(const AST_Node* node) const {
    const AST_Node* l = child(node->left);
    return l != nullptr ? l->value.id.index : NO_ID;
  }

  CExpr* newExpr(const AST_Node* node) {
    CExpr& e = code_.exprs.emplace_back();
    e.node = node;
    return &e;
  }
  CStmt* newStmt(const AST_Node* node, StmtFn fn) {
    CStmt& s = code_.stmts.emplace_back();
    s.node = node;
    s.fn = fn;
    return &s;
  }
  CExpr* walk(const AST_Node* node) {
    ++code_.walked;
    CExpr* e = newExpr(node);
    e->fn = evWalk;
    e->kind = Kind::kWalk;
    e->pure = false;
    return e;
  }
  const CStmt* walkStatement(const AST_Node* node) {
    ++code_.walked;
    return newStmt(node, stWalk);
  }

  // Marks the call-free operands of an expression that has a call.
  static void account(const CExpr* parent, CExpr* operand) {
    if (!parent->pure && operand->pure) operand->acct = true;
  }

  CExpr* expr(const AST_Node* node);
  CExpr* literal(const AST_Node* node, uint64_t bits, uint32_t type);
  CExpr* binary(const AST_Node* node, bool comparison);
  CExpr* unary(const AST_Node* node);
  CExpr* logic(const AST_Node* node, bool isAnd);
  CExpr* call(const AST_Node* node);
  CExpr* userCall(const AST_Node* node, const AST_Node* index, uint32_t code);
  CExpr* root(const AST_Node* node) {
    CExpr* e = expr(node);
    if (e->pure) e->acct = true;
    return e;
  }

  const CStmt* assignment(const AST_Node* node, bool reset);
  // The fused form of a statement tested by `cond`, or null.
  template <class Form>
  static StmtFn fusedTest(const CExpr& cond) {
    if (!cond.typedBinary || !cond.pure || !cond.acct || !isComparison(cond.node->op)) {
      return nullptr;
    }
    return pickBinary<Form>(cond.node->op, cond.node->value.id.type, cond.leftKind, cond.rightKind);
  }
  const CStmt* forPart(const AST_Node* node);
  const CStmt* body(const AST_Node* node);

  const Program* program_;
  CompiledCode& code_;
};

CExpr* Compiler::literal(const AST_Node* node, uint64_t bits, uint32_t type) {
  CExpr* e = newExpr(node);
  e->fn = evLiteral;
  e->k = bits;
  e->type = type;
  e->pushes = 1;
  return e;
}

CExpr* Compiler::binary(const AST_Node* node, bool comparison) {
  const AST_Node* l = child(node->left);
  const AST_Node* rt = child(node->right);
  const uint32_t opType = node->value.id.type;
  if (l == nullptr || rt == nullptr || opType >= TypePrimitive || opType == TypeFloat) {
    return walk(node);
  }
  CExpr* a = expr(l);
  CExpr* b = expr(rt);
  CExpr* e = newExpr(node);
  e->a = a;
  e->b = b;
  e->type = comparison ? TypeBoolean : opType;
  if (!a->pure || !b->pure) {
    e->pure = false;
    e->fn = evBinaryAcct;
    account(e, a);
    account(e, b);
    // Both operands have calls and count their own cells: the typed
    // operator, then the push.
    if (!a->pure && !b->pure) {
      const EvalFn push = pickBinary<AsPush>(node->op, opType, 0, 0);
      if (push != nullptr) e->fn = push;
    }
    return e;
  }
  e->pushes = a->pushes + b->pushes + 1;
  const int left = a->kind == Kind::kLocal ? 1 : (a->kind == Kind::kGlobal ? 2 : 0);
  const int right = b->kind == Kind::kLocal    ? 1
                    : b->fn == evLiteral       ? 2
                    : b->kind == Kind::kGlobal ? 3
                                               : 0;
  e->la = a->id;
  e->lb = b->id;
  e->k = b->k;
  e->fn = pickBinary<AsValue>(node->op, opType, left, right);
  if (e->fn == nullptr) {
    e->fn = pickBinary<AsValue>(node->op, opType, 0, 0);  // the kinds stay sub-expressions
  } else {
    e->leftKind = static_cast<uint8_t>(left);
    e->rightKind = static_cast<uint8_t>(right);
  }
  if (e->fn == nullptr) return walk(node);
  e->typedBinary = true;
  return e;
}

CExpr* Compiler::unary(const AST_Node* node) {
  const AST_Node* l = child(node->left);
  const uint32_t opType = node->value.id.type;
  if (l == nullptr || hasChild(node->right) || opType >= TypePrimitive || opType == TypeFloat) {
    return walk(node);
  }
  CExpr* a = expr(l);
  CExpr* e = newExpr(node);
  e->a = a;
  e->type = opType;
  if (!a->pure) {
    if (opType == TypeBoolean) return walk(node);
    e->pure = false;
    e->fn = evUnaryAcct;
    return e;
  }
  e->pushes = a->pushes + 1;
  e->la = a->id;
  e->fn = pickUnary(node->op, opType, a->kind == Kind::kLocal);
  if (e->fn == nullptr) return walk(node);
  return e;
}

CExpr* Compiler::logic(const AST_Node* node, bool isAnd) {
  const AST_Node* l = child(node->left);
  const AST_Node* rt = child(node->right);
  if (l == nullptr || rt == nullptr) return walk(node);
  CExpr* a = expr(l);
  CExpr* b = expr(rt);
  CExpr* e = newExpr(node);
  e->a = a;
  e->b = b;
  e->type = TypeBoolean;
  e->fn = isAnd ? evLogic<true> : evLogic<false>;
  e->pure = a->pure && b->pure;
  // The right operand runs only sometimes: it counts its own cells.
  if (b->pure) b->acct = true;
  account(e, a);
  if (e->pure) e->pushes = a->pushes + 1;
  return e;
}

CExpr* Compiler::userCall(const AST_Node* node, const AST_Node* index, uint32_t code) {
  const AST_Node* customNode = child(index->right);
  if (hasChild(index->right) && (customNode == nullptr || customNode->op != INDEX_NODE)) {
    return walk(node);
  }
  const uint32_t funcId =
      customNode != nullptr ? customNode->value.id.index : index->value.id.custom;
  if (funcId >= program_->infoProg->n_functions) return walk(node);
  const FunctionRecord& function = program_->functionTable[funcId];
  CallInfo& c = code_.calls.emplace_back();
  c.funcId = funcId;
  c.body = child(function.body);
  if (hasChild(function.body) && c.body == nullptr) return walk(node);
  CExpr* e = newExpr(node);
  e->fn = evCall;
  e->call = &c;
  e->pure = false;
  if (code != kCallFunctionCustom) {
    const uint32_t resultType = node->value.id.type;
    if (resultType >= program_->infoProg->n_type) return walk(node);
    c.resultType = resultType;
    c.scalarResult = resultType < TypePrimitive && program_->typeTable[resultType].storageSize == 1;
    e->type = resultType;
  }
  const AST_Node* params = child(function.params);
  const AST_Node* args = child(node->right);
  bool scalarArgs = true;
  for (; params != nullptr && args != nullptr;
       params = child(params->right), args = child(args->right)) {
    if (params->op != LIST || args->op != LIST) return walk(node);
    const AST_Node* param = child(params->left);
    const uint32_t op = param != nullptr ? param->op : 0;
    const bool byRef =
        op == OUT_PARAM_OP || op == IN_CHANNEL_PARAM_OP || op == OUT_CHANNEL_PARAM_OP;
    CExpr* arg = expr(child(args->left));
    // A reference to a temporary must live on the walker's stack.
    if (byRef && arg->kind == Kind::kTemp) return walk(node);
    account(e, arg);
    c.args.push_back(arg);
    c.byRef.push_back(byRef ? 1 : 0);
    scalarArgs = scalarArgs && !byRef && arg->kind == Kind::kTemp && arg->pure && arg->acct &&
                 arg->type < program_->infoProg->n_type &&
                 program_->typeTable[arg->type].storageSize == 1;
    c.argPushes += arg->pushes;
  }
  if (scalarArgs && c.scalarResult) {
    switch (c.args.size()) {
      case 0: e->fn = evCallScalar<0>; break;
      case 1: e->fn = evCallScalar<1>; break;
      case 2: e->fn = evCallScalar<2>; break;
      case 3: e->fn = evCallScalar<3>; break;
      case 4: e->fn = evCallScalar<4>; break;
      default: break;
    }
  }
  return e;
}

CExpr* Compiler::call(const AST_Node* node) {
  const AST_Node* index = child(node->left);
  if (index == nullptr || index->op != INDEX_NODE) return walk(node);
  const uint32_t code = index->value.id.index;
  switch (code) {
    case kCallFunctionRightCurrying:
    case kCallFunctionLeftRightCurrying:
    case kCallFunctionCustom: return userCall(node, index, code);
    case kCallFieldCustom: {
      const AST_Node* customNode = child(index->right);
      if (hasChild(index->right) && (customNode == nullptr || customNode->op != INDEX_NODE)) {
        return walk(node);
      }
      const AST_Node* object = child(index->left);
      if (object == nullptr) return walk(node);
      CExpr* a = expr(object);
      CExpr* e = newExpr(node);
      e->a = a;
      e->kind = Kind::kRef;
      e->fn = evRef;
      e->rfn = rfField;
      e->type = node->value.id.type;
      e->id = customNode != nullptr ? customNode->value.id.index : index->value.id.custom;
      e->pure = a->pure;
      e->pushes = a->pushes;
      return e;
    }
    default: return walk(node);
  }
}

CExpr* Compiler::expr(const AST_Node* node) {
  if (node == nullptr) return walk(node);
  if (AST_isArithmeticOp(node->op)) return binary(node, false);
  if (AST_isComparisonOp(node->op)) return binary(node, true);
  switch (node->op) {
    case BIT_NOT_OP:
    case NEG_OP: return unary(node);
    case AND_OP: return logic(node, true);
    case OR_OP: return logic(node, false);
    case NOT_OP: {
      const AST_Node* l = child(node->left);
      if (l == nullptr) return walk(node);
      CExpr* a = expr(l);
      if (a->type != TypeBoolean) return walk(node);
      CExpr* e = newExpr(node);
      e->a = a;
      e->fn = evNot;
      e->type = TypeBoolean;
      e->pure = a->pure;
      e->pushes = a->pushes + 1;
      return e;
    }

    case BOOLEAN_OP: return literal(node, node->value.boolean != 0 ? 1 : 0, TypeBoolean);
    case INTEGER_OP: return literal(node, node->value.u64, TypeInt);
    case FLOAT32_OP: return literal(node, std::bit_cast<uint32_t>(node->value.f32), TypeF32);
    case FLOAT64_OP: return literal(node, node->value.u64, TypeF64);
    case PS_OP: return literal(node, node->value.u64, TypeTime);
    case MS_OP:
    case S_OP:
    case US_OP:
    case NS_OP: {
      if (hasChild(node->left)) return walk(node);
      const uint64_t unit = node->op == MS_OP   ? 1000000000ull
                            : node->op == S_OP  ? 1000000000000ull
                            : node->op == US_OP ? 1000000ull
                                                : 1000ull;
      return literal(node, node->value.u64 * unit, TypeTime);
    }
    case ENUM_OP: {
      const uint32_t value = leftId(node);
      if (value == NO_ID && !hasChild(node->left)) return walk(node);
      return literal(node, value, node->value.id.type);
    }

    case LOCAL_VAR: {
      const uint32_t id = leftId(node);
      if (id == NO_ID) return walk(node);
      CExpr* e = newExpr(node);
      e->kind = Kind::kLocal;
      e->fn = evLocal;
      e->id = id;
      return e;
    }
    case GLOBAL_VARIABLE_OP: {
      const uint32_t id = leftId(node);
      if (id >= program_->infoProg->n_globalVariables) return walk(node);
      CExpr* e = newExpr(node);
      e->kind = Kind::kGlobal;
      e->fn = evGlobal;
      e->id = id;
      e->cell = program_->globalVariableTable[id].value;
      e->type = program_->globalVariableTable[id].typeId;
      if (e->cell == nullptr) return walk(node);
      return e;
    }
    case GLOBAL_CONSTANT_OP: {
      const uint32_t id = leftId(node);
      if (id >= program_->infoProg->n_globalConstants) return walk(node);
      CExpr* e = newExpr(node);
      e->kind = Kind::kGlobalConst;
      e->fn = evGlobalConst;
      e->id = id;
      e->type = program_->globalConstantTable[id].typeId;
      return e;
    }
    case LOCAL_CONSTANT_OP: {
      const uint32_t id = leftId(node);
      if (id == NO_ID) return walk(node);
      CExpr* e = newExpr(node);
      e->kind = Kind::kLocalConst;
      e->fn = evLocalConst;
      e->id = id;
      return e;
    }
    case STATIC_VARIABLE_OP: {
      const uint32_t id = leftId(node);
      if (id == NO_ID) return walk(node);
      CExpr* e = newExpr(node);
      e->kind = Kind::kStatic;
      e->fn = evStatic;
      e->id = id;
      return e;
    }
    case ARRAY_INDEX_OP: {
      const AST_Node* l = child(node->left);
      const AST_Node* rt = child(node->right);
      if (l == nullptr || rt == nullptr) return walk(node);
      CExpr* b = expr(rt);
      CExpr* a = expr(l);
      CExpr* e = newExpr(node);
      e->a = a;
      e->b = b;
      e->kind = Kind::kRef;
      e->fn = evRef;
      e->rfn = rfIndex;
      e->pure = a->pure && b->pure;
      e->pushes = a->pushes + b->pushes;
      account(e, b);
      account(e, a);
      return e;
    }
    case CAST_OP: {
      const AST_Node* l = child(node->left);
      const uint32_t type = node->value.id.type;
      if (l == nullptr || type >= program_->infoProg->n_type ||
          program_->typeTable[type].storageSize != 1) {
        return walk(node);
      }
      CExpr* a = expr(l);
      if (!a->pure || a->kind == Kind::kWalk) return walk(node);
      CExpr* e = newExpr(node);
      e->a = a;
      e->fn = evCast;
      e->type = type;
      e->pushes = a->pushes + 2;
      return e;
    }
    case CALL_OP: return call(node);
    default: return walk(node);
  }
}

const CStmt* Compiler::assignment(const AST_Node* node, bool reset) {
  const AST_Node* l = child(node->left);
  const AST_Node* rt = child(node->right);
  if (l == nullptr || rt == nullptr) return walkStatement(node);
  CExpr* value = expr(rt);
  CExpr* target = expr(l);
  if (target->kind == Kind::kLocal && value->kind != Kind::kWalk) {
    if (value->pure) {
      CStmt* s = newStmt(node, value->kind == Kind::kLocal ? stAssignLocal<Loc>
                               : value->fn == evLiteral    ? stAssignLocal<Imm>
                                                           : stAssignLocal<Sub>);
      s->e = value;
      s->id = target->id;
      s->reset = reset;
      return s;
    }
    if (value->kind == Kind::kTemp && value->type < TypePrimitive) {
      CStmt* s = newStmt(node, stAssignLocalAfter);
      s->e = value;
      s->id = target->id;
      s->reset = reset;
      return s;
    }
  }
  if (value->pure && value->kind != Kind::kWalk) {
    if (target->kind == Kind::kGlobal &&
        program_->globalVariableTable[target->id].typeId < program_->infoProg->n_type &&
        program_->typeTable[program_->globalVariableTable[target->id].typeId].storageSize == 1) {
      CStmt* s = newStmt(node, stAssignGlobal);
      s->e = value;
      s->target = target;
      s->reset = reset;
      return s;
    }
  }
  if (target->kind == Kind::kTemp || target->kind == Kind::kWalk) return walkStatement(node);
  if (value->pure) value->acct = true;
  if (target->pure) target->acct = true;
  CStmt* s = newStmt(node, stAssign);
  s->e = value;
  s->target = target;
  s->reset = reset;
  return s;
}

// A for loop's init or step: an expression, its cells kept until the next reset.
const CStmt* Compiler::forPart(const AST_Node* node) {
  if (node->op == ASSIGN_OP) return assignment(node, false);
  CStmt* s = newStmt(node, stExpr);
  s->e = node->op == CALL_OP ? root(node) : walk(node);
  s->reset = false;
  return s;
}

// A loop body or a branch: blocks keep their locals for one run.
const CStmt* Compiler::body(const AST_Node* node) {
  return statement(node);
}

const CStmt* Compiler::statement(const AST_Node* node) {
  if (node == nullptr) return walkStatement(node);
  switch (node->op) {
    case BLOCK_OP:
    case BLOCK_OP_10:
    case BLOCK_OP_11: {
      CStmt* s = newStmt(node, stBlock);
      s->decls = child(node->left);
      if (hasChild(node->left) && s->decls == nullptr) return walkStatement(node);
      for (const AST_Node* cell = child(node->right); cell != nullptr; cell = child(cell->right)) {
        if (cell->op != LIST) return walkStatement(node);
        const AST_Node* st = child(cell->left);
        if (st == nullptr) continue;  // a missing statement does nothing
        s->list.push_back(statement(st));
      }
      // Without declarations a block of one statement is that statement.
      if (s->decls == nullptr && s->list.size() == 1) return s->list[0];
      if (s->decls == nullptr) s->fn = stBlockNoDecls;
      return s;
    }
    case BREAK_OP: return newStmt(node, stBreak);
    case CONTINUE_OP: return newStmt(node, stContinue);
    case IF_OP: {
      const AST_Node* cond = child(node->left);
      const AST_Node* branches = child(node->right);
      if (cond == nullptr || (hasChild(node->right) && branches == nullptr)) {
        return walkStatement(node);
      }
      CStmt* s = newStmt(node, stIf);
      s->e = root(cond);
      if (const StmtFn fused = fusedTest<AsIf>(*s->e); fused != nullptr) s->fn = fused;
      if (branches != nullptr) {
        const AST_Node* thenStmt = child(branches->left);
        const AST_Node* elseCell = child(branches->right);
        const AST_Node* elseStmt = elseCell != nullptr ? child(elseCell->left) : nullptr;
        if (thenStmt != nullptr) s->s1 = body(thenStmt);
        if (elseStmt != nullptr) s->s2 = body(elseStmt);
      }
      return s;
    }
    case WHILE_OP: {
      const AST_Node* cond = child(node->left);
      const AST_Node* loopBody = child(node->right);
      if (cond == nullptr || loopBody == nullptr) return walkStatement(node);
      CStmt* s = newStmt(node, stWhile);
      s->e = root(cond);
      if (const StmtFn fused = fusedTest<AsWhile>(*s->e); fused != nullptr) s->fn = fused;
      s->s1 = body(loopBody);
      return s;
    }
    case FOR_OP: {
      const AST_Node* parts = child(node->left);
      const AST_Node* loopBody = child(node->right);
      const AST_Node* init = parts != nullptr ? AST_getListNth(program_, parts, 0) : nullptr;
      const AST_Node* cond = parts != nullptr ? AST_getListNth(program_, parts, 1) : nullptr;
      const AST_Node* step = parts != nullptr ? AST_getListNth(program_, parts, 2) : nullptr;
      if (cond == nullptr || loopBody == nullptr) return walkStatement(node);
      CStmt* s = newStmt(node, stFor);
      if (init != nullptr) s->s1 = forPart(init);
      s->e = root(cond);
      if (step != nullptr) s->s2 = forPart(step);
      s->list.push_back(body(loopBody));
      return s;
    }
    case ASSIGN_OP: return assignment(node, true);
    case CALL_OP: {
      CExpr* e = root(node);
      if (e->kind == Kind::kWalk) break;
      CStmt* s = newStmt(node, stExpr);
      s->e = e;
      return s;
    }
    default: break;
  }
  return walkStatement(node);
}

const CStmt* lookupOrCompile(InterpEnv* env, const AST_Node* node) {
  CompiledCode& code = *env->ctx->compiled;
  const Program* program = env->program.get();
  if (node == nullptr || node < program->RAMprogram.get()) return nullptr;
  const auto id = static_cast<size_t>(node - program->RAMprogram.get());
  if (id >= code.limit) return nullptr;
  const CStmt* s = code.byNode[id];
  if (s == nullptr) {
    Compiler compiler(program, code);
    s = compiler.statement(node);
    if (s->fn == stWalk) s = &kWalkMark;
    code.byNode[id] = s;
  }
  return s == &kWalkMark ? nullptr : s;
}

}  // namespace

bool compiled_defaultEnabled() {
  static const bool on = [] {
    const char* mode = std::getenv("KOVA_EVAL");
    return mode == nullptr || std::strcmp(mode, "walk") != 0;
  }();
  return on;
}

void compiled_setEnabled(InterpEnv* env, bool on) {
  env->ctx->compiledEval = on;
  compiled_reset(env);
}

bool compiled_isEnabled(const InterpEnv* env) {
  return env->ctx->compiledEval;
}

void compiled_reset(InterpEnv* env) {
  Context& ctx = *env->ctx;
  ctx.compiled.reset();
  if (!ctx.compiledEval || env->program == nullptr || env->program->infoProg == nullptr) return;
  auto code = std::make_shared<CompiledCode>();
  code->limit = env->program->infoProg->n_AST;
  code->byNode.assign(code->limit, nullptr);
  ctx.compiled = std::move(code);
}

bool compiled_statement(InterpEnv* env, const AST_Node* node, uint32_t* result) {
  const CStmt* s = lookupOrCompile(env, node);
  if (s == nullptr) return false;
  Run r = makeRun(env);
  *result = s->fn(*s, r);
  return true;
}

CompiledStats compiled_stats(const InterpEnv* env) {
  const CompiledCode* code = env->ctx->compiled.get();
  if (code == nullptr) return {0, 0};
  uint32_t compiled = 0;
  for (const CStmt* s : code->byNode) {
    if (s != nullptr && s != &kWalkMark) ++compiled;
  }
  return {compiled, code->walked};
}
