// Expression typing: type classes, resultant and operation types, the type of
// expression trees with their diagnostics, float literal rewriting, expected
// types and derivation.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_engine.h"
#include "parserLib/def_type.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

constexpr uint32_t kNone = NO_ID;

const auto err = [](const std::string& text) { return "[ERROR] " + text; };
const auto warn = [](const std::string& text) { return "[WARNING] " + text; };

// A program with variables of every kind the typing rules distinguish,
// loaded into an interpreter, and a front end attached to it.
class Typing : public ::testing::Test {
 protected:
  N var(uint32_t type) {
    return b.gvar(b.global(std::string("g").append(std::to_string(++globals)), type));
  }
  N n(int64_t v) { return b.integer(v); }
  N lit(const std::string& text) {
    numerics.push_back(text);
    return b.node(FLOAT_OP, 0u, b.node(INDEX_NODE, static_cast<uint32_t>(numerics.size() - 1)));
  }
  N op(uint32_t code, N l, N r = none) { return b.op(code, 0u, l, r); }
  N red() { return b.enumLit(E, "RED"); }

  void load() {
    ASSERT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    penv = parser_initTables();
    penv->program = env->program.get();
    penv->ienv = env.get();
    penv->pctx.numerics = numerics;
  }
  AST_Node* at(N x) { return AST_fromId(penv->program, x.id); }

  struct Outcome {
    uint32_t type;
    std::string out;
    uint32_t status;
  };
  // Standard output is captured around the routine only, so that failed
  // assertions still show.
  Outcome run(const std::function<uint32_t()>& f) {
    penv->pctx.status = 0;
    auto capture = std::make_unique<StdoutCapture>();
    const uint32_t type = f();
    const std::string out = capture->text();
    capture.reset();
    return {type, out, penv->pctx.status};
  }
  Outcome evaluate(N x) {
    return run([&] { return defType_evaluate(penv.get(), at(x)); });
  }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<ParserEnv> penv;
  std::vector<std::string> numerics;
  uint32_t globals = 0;
  const uint32_t E = b.enumType("Color", {"RED", "GREEN"}), F = b.enumType("Shape", {"ROUND"}),
                 S = b.structType("Point", {{"x", TypeUInt8}}), arrU8 = b.arrayType(TypeUInt8, 4),
                 arrU16 = b.arrayType(TypeUInt16, 4), qU8 = b.queueType(TypeUInt8, 4),
                 qU16 = b.queueType(TypeUInt16, 4), stU8 = b.stackType(TypeUInt8, 4),
                 itType = b.iteratorType(arrU8),
                 anyArrU8 = b.arrayType(TypeUInt8, kUnsizedBuffer, "uint8[*]"),
                 anyQU8 = b.queueType(TypeUInt8, kUnsizedBuffer, "queue<uint8>");
  const N u16 = var(TypeUInt16), i16 = var(TypeSInt16), u32 = var(TypeUInt32), t1 = var(TypeTime64),
          t2 = var(TypeTime64), d1 = var(TypeDuration64), d2 = var(TypeDuration64),
          f32 = var(TypeF32), flag = var(TypeBoolean), s = var(S), arr = var(arrU8), q = var(qU8),
          q16 = var(qU16), st = var(stU8), arr16 = var(arrU16),
          it = b.node(LOCAL_VAR, itType, b.node(INDEX_NODE, 0u));
};

TEST_F(Typing, TypeRules) {
  load();
  const Program* p = penv->program;
  // integer, unsigned, signed, could be unsigned, could be signed, time,
  // float, numerical, quantity, exact quantity, primitive
  const auto flags = [](uint32_t t) {
    std::string f;
    for (bool set : {defType_isInteger(t), defType_isUnsignedInteger(t), defType_isSignedInteger(t),
                     defType_couldBeUnsigned(t), defType_couldBeSigned(t), defType_isTime(t),
                     defType_isFloat(t), defType_isNumerical(t), defType_isQuantity(t),
                     defType_isExactQuantity(t), defType_isPrimitive(t)})
      f += set ? '1' : '0';
    return f;
  };
  const std::pair<uint32_t, const char*> classes[] = {
      {TypeInt, "10011001111"},      {TypeSInt, "10101001111"},   {TypeUInt8, "11010001111"},
      {TypeSInt64, "10101001111"},   {TypeTime64, "00000100111"}, {TypeTime, "00000100111"},
      {TypeBoolean, "00000000001"},  {TypeFloat, "00000011101"},  {TypeF64, "00000011101"},
      {TypePrimitive, "00000000000"}};
  for (const auto& [t, expected] : classes) EXPECT_EQ(flags(t), expected) << kBuiltinTypeNames[t];

  struct Case {
    uint32_t op, a, b, expected;
  };
  constexpr uint32_t kUser = 40;  // any non-primitive type
  // clang-format off
  const Case resultant[] = {
      // integers: literals adapt, signedness and width must agree
      {PLUS_OP, TypeInt, TypeUInt16, TypeUInt16},   {PLUS_OP, TypeSInt16, TypeSInt, TypeSInt16},
      {PLUS_OP, TypeSInt, TypeSInt32, TypeSInt32},  {PLUS_OP, TypeUInt8, TypeSInt, kNone},
      {PLUS_OP, TypeUInt8, TypeUInt16, kNone},      {PLUS_OP, TypeSInt8, TypeSInt16, kNone},
      // times divided and multiplied
      {DIV_OP, TypeTime, TypeTime, TypeUInt64},     {DIV_OP, TypeTime, TypeInt, TypeTime},
      {DIV_OP, TypeDuration64, TypeDuration64, TypeSInt64},
      {DIV_OP, TypeTime, TypeDuration64, TypeSInt64},
      {DIV_OP, TypeTime, TypeSInt, TypeDuration64}, {DIV_OP, TypeTime64, TypeSInt, kNone},
      {DIV_OP, TypeTime64, TypeUInt32, kNone},      {DIV_OP, TypeInt, TypeTime64, kNone},
      {DIV_OP, TypeDuration64, TypeSInt64, TypeDuration64},
      {DIV_OP, TypeDuration64, TypeUInt64, kNone},  {MULT_OP, TypeInt, TypeTime64, TypeTime64},
      {MULT_OP, TypeUInt64, TypeTime, TypeTime},    {MULT_OP, TypeSInt64, TypeTime, TypeDuration64},
      {MULT_OP, TypeSInt, TypeDuration64, TypeDuration64},
      {MULT_OP, TypeSInt64, TypeTime64, kNone},     {MULT_OP, TypeTime64, TypeTime64, kNone},
      // floats, and times added (the * and / rules do not apply)
      {PLUS_OP, TypeFloat, TypeF32, TypeF32},       {PLUS_OP, TypeF64, TypeFloat, TypeF64},
      {PLUS_OP, TypeF32, TypeF64, kNone},           {MULT_OP, TypeFloat, TypeInt, kNone},
      {PLUS_OP, TypeTime64, TypeTime, TypeTime64},  {PLUS_OP, TypeTime64, TypeDuration64, kNone},
      {MINUS_OP, TypeTime, TypeDuration64, TypeDuration64},
      // anything else only with itself
      {CEQ_OP, TypeBoolean, TypeBoolean, TypeBoolean},
      {CEQ_OP, kUser, kUser, kUser},                {CEQ_OP, kUser, kUser + 1, kNone}};
  // The type an operation computes in.
  const Case operation[] = {
      {NEG_OP, TypeInt, kNone, TypeSInt},           {NEG_OP, TypeTime, kNone, TypeDuration64},
      {NEG_OP, TypeUInt32, kNone, TypeUInt32},      {NOT_OP, TypeBoolean, kNone, TypeBoolean},
      {SHIFT_LEFT_OP, TypeUInt8, TypeUInt32, TypeUInt8}, {PLUS_OP, TypeUInt16, TypeSInt16, kNone},
      {DIV_OP, TypeTime64, TypeTime64, TypeTime64},  // equal operands: the left type
      {CEQ_OP, E, E, TypeUInt32}, {CNE_OP, E, F, TypeUInt32}, {CEQ_OP, E, TypeUInt32, kNone},
      {PLUS_OP, S, S, kNone},     {PLUS_OP, 5000, TypeInt, kNone}};
  // clang-format on
  for (const Case& c : resultant) {
    EXPECT_EQ(defType_resultantType(c.op, c.a, c.b), c.expected)
        << AST_opName(c.op) << " " << c.a << " " << c.b;
  }
  for (const Case& c : operation) {
    EXPECT_EQ(defType_deduceOperationOperatorType(p, c.op, c.a, c.b), c.expected)
        << AST_opName(c.op) << " " << c.a << " " << c.b;
  }

  struct Negation {
    uint32_t t, opposite, negated;
  };
  // clang-format off
  const Negation negations[] = {
      {TypeInt, TypeSInt, TypeSInt},      {TypeSInt, TypeInt, TypeSInt},
      {TypeUInt64, TypeSInt64, TypeSInt64}, {TypeSInt8, TypeUInt8, TypeSInt8},
      {TypeFloat, kNone, TypeFloat},      {TypeF64, kNone, TypeF64},
      {TypeTime, kNone, TypeDuration64},  {TypeDuration64, kNone, TypeDuration64},
      {TypeTime64, kNone, kNone},         {TypeBoolean, kNone, kNone}};
  // clang-format on
  for (const Negation& c : negations) {
    EXPECT_EQ(defType_getIntegerOppositeSignednessType(c.t), c.opposite) << c.t;
    EXPECT_EQ(defExpr_canBeItsOpposite(c.t), c.negated) << c.t;
  }

  struct Derivation {
    uint32_t t, base;
    bool derived;
  };
  const uint32_t outOfRange = p->infoProg->n_type;
  // clang-format off
  const Derivation derivations[] = {
      {TypeUInt16, TypePrimitive, true}, {S, TypePrimitive, false}, {S, TypeAny, true},
      {E, TypeEnum, true}, {TypeUInt32, TypeEnum, false}, {TypeEnum, TypeEnum, true},
      {S, TypeStructure, true}, {E, TypeStructure, false}, {arrU8, TypeArray, true},
      {qU8, TypeArray, false}, {arrU8, TypeSizedArray, true}, {arrU8, TypeUnsizedArray, false},
      {anyArrU8, TypeUnsizedArray, true}, {anyArrU8, TypeSizedArray, false},
      {qU8, TypeChannel, true}, {arrU8, TypeChannel, false}, {stU8, TypeSizedChannel, true},
      {anyQU8, TypeUnsizedChannel, true}, {TypeString, TypeUnsizedChannel, true},
      {TypeString, TypeArray, false}, {itType, TypeIterator, true}, {arrU8, TypeIterator, false},
      {TypeSizedArray, TypeArray, true}, {TypeUnsizedChannel, TypeChannel, true},
      {TypeUInt16, TypeUInt8, false}, {kNone, TypeAny, false}, {TypeUInt8, outOfRange, false},
      {outOfRange, TypeAny, false}};
  // clang-format on
  for (const Derivation& c : derivations) {
    EXPECT_EQ(defType_isDerivedFrom(p, c.t, c.base), c.derived) << c.t << " from " << c.base;
  }
}

// The types of accepted expressions; the refused ones, each diagnostic
// and its code: the compile-error run expression_types.
TEST_F(Typing, ExpressionTypes) {
  struct Case {
    N tree;
    uint32_t type;
    std::string out = "";
  };
  // clang-format off
  const Case cases[] = {
      {op(PLUS_OP, u16, n(1)), TypeUInt16},       {op(NEG_OP, n(1)), TypeSInt},
      {op(NEG_OP, u32), TypeSInt32},              {op(DIV_OP, t1, n(2)), TypeTime64},
      {op(DIV_OP, t1, t2), TypeUInt64},           {op(MODULO_OP, d1, d2), TypeDuration64},
      {op(LT_OP, b.call(kCallAs, TypeF32, b.typeRef(TypeF32), {lit("1.5")}), lit("2.5")),
       TypeBoolean},
      {op(PLUS_OP, lit("1.5"), lit("2.5")), TypeFloat}, {op(PLUS_OP, f32, lit("1.5")), TypeF32},
      {op(CEQ_OP, red(), red()), TypeBoolean},    {op(CEQ_OP, t1, b.ms(5)), TypeBoolean},
      {op(CGE_OP, t1, b.ms(5)), TypeBoolean},     {op(AND_OP, flag, flag), TypeBoolean},
      {op(BIT_AND_OP, u16, n(1)), TypeUInt16},    {op(SHIFT_RIGHT_OP, i16, u32), TypeSInt16},
      {op(BIT_NOT_OP, u16), TypeUInt16},          {op(NOT_OP, flag), TypeBoolean},
      // leaves, elements and initializers
      {b.str("hi"), TypeString},                  {b.time(NS_OP, 5), TypeTime},
      {b.index(arr, n(1)), TypeUInt8},            {b.index(q, n(1)), qU8},
      {b.cast(TypeUInt8, u16), TypeUInt8},
      {b.node(INITIALIZER_OP, 0u, none, b.node(INDEX_NODE, arrU8)), arrU8},
      {b.list({u16}), TypeUInt16, warn("braces around initializer\n")},
      {b.list({u16, u16}), kNone}};
  // clang-format on
  load();
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const Outcome o = evaluate(c.tree);
    EXPECT_EQ(o.type, c.type);
    EXPECT_EQ(o.status, 0u);  // a warning is no error
    EXPECT_EQ(o.out, c.out);
  }
}

// Expected types, and float literals taking their context's type.
TEST_F(Typing, ExpectedTypesAndFloatLiterals) {
  const std::string untypedFloat =
      err("cannot evaluate literal floating point expression type (is it float32 or float64 ?)\n"
          "Please enforce float type using <float type>.as()\n");
  struct Case {
    N tree;
    uint32_t expected, result;
    std::string out = "";
  };
  const N fixed32 = lit("1.5"), fixed64 = lit("1.5"), huge32 = lit("1e39"), huge64 = lit("1e309");
  const N sum = op(PLUS_OP, op(NEG_OP, lit("1.5")), lit("0.1")), compared = lit("2.5"),
          notAFloatType = lit("1.5");
  const N comparison =
      op(LT_OP, b.call(kCallAs, TypeF32, b.typeRef(TypeF32), {lit("1.5")}), compared);
  // clang-format off
  const Case cases[] = {
      // bounds: no Float literal for Any or Primitive, nothing of type <void>
      {u16, TypeAny, TypeUInt16}, {lit("1.5"), TypeAny, kNone, untypedFloat},
      {lit("1.5"), TypePrimitive, kNone, untypedFloat}, {s, TypePrimitive, kNone},
      {b.call(kCallSleep, TypeVoid, none), TypeAny, kNone}, {red(), TypeEnum, E},
      {q, TypeChannel, qU8}, {arr, TypeChannel, kNone}, {it, TypeIterator, itType},
      {b.str("x"), TypeUnsizedChannel, TypeString},
      // unsized array and channel types: the element type decides
      {arr, anyArrU8, arrU8}, {arr16, anyArrU8, kNone}, {q, anyArrU8, kNone},
      {st, anyQU8, stU8},     {q16, anyQU8, kNone},     {arr, anyQU8, kNone},
      // integers, times and floats: their resultant type
      {n(1), TypeUInt8, TypeUInt8}, {u16, TypeInt, TypeUInt16},
      {op(NEG_OP, n(1)), TypeUInt8, kNone}, {op(NEG_OP, n(1)), TypeSInt8, TypeSInt8},
      {b.ms(5), TypeTime64, TypeTime64}, {t1, TypeTime, TypeTime64}, {d1, TypeTime64, kNone},
      {f32, TypeFloat, TypeF32}, {f32, TypeF64, kNone},
      {fixed32, TypeF32, TypeF32}, {fixed64, TypeF64, TypeF64}, {lit("1e39"), TypeF64, TypeF64},
      {huge32, TypeF32, TypeF32, warn("floating point literal \"1e39\" exceeds float32 range\n")},
      {huge64, TypeF64, TypeF64, warn("floating point literal \"1e309\" exceeds float64 range\n")},
      // anything else: the same type
      {red(), E, E}, {red(), F, kNone}, {s, S, S}};
  // clang-format on
  load();
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const Outcome o =
        run([&] { return defExpr_matchExpectedType(penv.get(), at(c.tree), c.expected); });
    EXPECT_EQ(o.type, c.result);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.status != 0, c.out.starts_with("[ERROR]"));  // a warning is no error
  }
  EXPECT_EQ(at(fixed32)->op, FLOAT32_OP);
  EXPECT_EQ(at(fixed32)->value.f32, 1.5f);
  EXPECT_EQ(at(fixed64)->op, FLOAT64_OP);
  EXPECT_EQ(at(fixed64)->value.f64, 1.5);
  EXPECT_TRUE(std::isinf(at(huge32)->value.f32));  // the value is kept
  EXPECT_TRUE(std::isinf(at(huge64)->value.f64));
  // The literals and the operations over them take the type.
  defExpr_evalAsFloat(penv.get(), at(sum), TypeF64);
  const AST_Node* neg = AST_left(penv->program, at(sum));
  EXPECT_EQ(at(sum)->value.id.type, TypeF64);
  EXPECT_EQ(neg->value.id.type, TypeF64);
  EXPECT_EQ(AST_left(penv->program, neg)->value.f64, 1.5);
  EXPECT_EQ(AST_right(penv->program, at(sum))->value.f64, 0.1);
  // Compared with a float32 call, a literal becomes a float32, its whole cell
  // written.
  at(compared)->value.u64 = ~uint64_t{0};
  EXPECT_EQ(evaluate(comparison).type, TypeBoolean);
  EXPECT_EQ(at(compared)->op, FLOAT32_OP);
  EXPECT_EQ(at(compared)->value.u64, std::bit_cast<uint32_t>(2.5f));
  defExpr_evalAsFloat(penv.get(), at(notAFloatType), TypeUInt8);
  EXPECT_EQ(at(notAFloatType)->op, FLOAT_OP);
}

// Console input is fuzzed: malformed trees have no type and never crash.
TEST_F(Typing, MalformedTreesHaveNoType) {
  const N badChild = op(MINUS_OP, u16, n(1));
  const N malformed[] = {op(PLUS_OP, none, none),
                         b.node(200, 0u, u16, u16),
                         b.node(GLOBAL_VARIABLE_OP, 100000u, none),
                         badChild,
                         b.node(INITIALIZER_OP, 0u),
                         b.index(b.node(LOCAL_VAR, 99999u, none), n(0))};
  const N noText = lit("1.5"), noIndex = b.node(FLOAT_OP, 0u);
  load();
  at(badChild)->right = 0x7FFFFFFFu;  // beyond every node
  penv->pctx.numerics.clear();
  for (N x : malformed) {
    const Outcome o = evaluate(x);
    EXPECT_EQ(o.type, kNone) << x.id;
    EXPECT_EQ(o.out, "") << x.id;
  }
  EXPECT_EQ(defType_evaluate(penv.get(), nullptr), kNone);
  EXPECT_EQ(defExpr_matchExpectedType(penv.get(), at(u16), 100000u), kNone);
  EXPECT_EQ(defExpr_matchExpectedType(penv.get(), nullptr, TypeAny), kNone);
  EXPECT_EQ(defType_deduceOperationOperatorType(penv->program, CEQ_OP, 100000u, 100000u), kNone);
  for (N x : {noText, noIndex}) defExpr_evalAsFloat(penv.get(), at(x), TypeF32);
  defExpr_evalAsFloat(penv.get(), nullptr, TypeF32);
  EXPECT_EQ(at(noText)->op, FLOAT_OP);
  EXPECT_EQ(at(noIndex)->op, FLOAT_OP);

  // A front end with no program loaded yet knows no type at all.
  auto bare = parser_initTables();
  AST_Node loose{.op = PLUS_OP, .right = 1};
  EXPECT_EQ(defType_evaluate(bare.get(), &loose), kNone);
  loose.op = INTEGER_OP;
  EXPECT_EQ(defType_evaluate(bare.get(), &loose), kNone);
  EXPECT_FALSE(defType_isDerivedFrom(bare->program, TypeUInt8, TypeAny));
  EXPECT_EQ(defType_bufferKind(bare->program, TypeString), 0u);
}

}  // namespace
