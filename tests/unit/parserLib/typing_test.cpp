// Expression typing: type classes, resultant and operation types, the type of
// expression trees with their diagnostics, float literal rewriting, expected
// types and derivation.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
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

std::string err(const std::string& text) {
  return "[ERROR] " + text;
}
std::string warn(const std::string& text) {
  return "[WARNING] " + text;
}

// A program with variables of every kind the typing rules distinguish,
// loaded into an interpreter, and a front end attached to it.
class Typing : public ::testing::Test {
 protected:
  Typing() {
    E = b.enumType("Color", {"RED", "GREEN"});
    F = b.enumType("Shape", {"ROUND"});
    S = b.structType("Point", {{"x", TypeUInt8}});
    arrU8 = b.arrayType(TypeUInt8, 4);
    arrU16 = b.arrayType(TypeUInt16, 4);
    qU8 = b.queueType(TypeUInt8, 4);
    qU16 = b.queueType(TypeUInt16, 4);
    stU8 = b.stackType(TypeUInt8, 4);
    itType = b.iteratorType(arrU8);
    anyArrU8 = b.arrayType(TypeUInt8, kUnsizedBuffer, "uint8[*]");
    anyQU8 = b.queueType(TypeUInt8, kUnsizedBuffer, "queue<uint8>");
    u16 = var(TypeUInt16);
    i16 = var(TypeSInt16);
    u32 = var(TypeUInt32);
    t1 = var(TypeTime64);
    t2 = var(TypeTime64);
    d1 = var(TypeDuration64);
    d2 = var(TypeDuration64);
    f32 = var(TypeF32);
    flag = var(TypeBoolean);
    s = var(S);
    arr = var(arrU8);
    q = var(qU8);
    q16 = var(qU16);
    st = var(stU8);
    arr16 = var(arrU16);
    it = b.node(LOCAL_VAR, itType, b.node(INDEX_NODE, 0u));
  }

  N var(uint32_t type) { return b.gvar(b.global("g" + std::to_string(++globals), type)); }
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
    penv->pctx.exitOnError = false;
    penv->pctx.numerics = numerics;
  }
  AST_Node* at(N x) { return AST_fromId(penv->program, x.id); }

  struct Outcome {
    uint32_t type;
    std::string out;
    uint32_t status;
  };
  // Runs a typing routine with standard output captured (assertions come
  // after the capture so their own output is not swallowed).
  Outcome run(const std::function<uint32_t()>& f) {
    penv->pctx.status = 0;
    Outcome o{};
    {
      StdoutCapture capture;
      o.type = f();
      o.out = capture.text();
    }
    o.status = penv->pctx.status;
    return o;
  }
  Outcome evaluate(N x) {
    return run([&] { return defType_evaluate(penv.get(), at(x)); });
  }
  Outcome match(N x, uint32_t expected) {
    return run([&] { return defExpr_matchExpectedType(penv.get(), at(x), expected); });
  }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<ParserEnv> penv;
  std::vector<std::string> numerics;
  uint32_t globals = 0;
  uint32_t E, F, S, arrU8, arrU16, qU8, qU16, stU8, itType, anyArrU8, anyQU8;
  N u16, i16, u32, t1, t2, d1, d2, f32, flag, s, arr, q, q16, st, arr16, it;
};

TEST(TypingRules, ClassesAndResultantTypes) {
  struct ClassCase {
    uint32_t t;
    bool integer, isUnsigned, isSigned, couldU, couldS, time, isFloat, quantity, exact, primitive;
  };
  const ClassCase classes[] = {
      {TypeInt, true, false, false, true, true, false, false, true, true, true},
      {TypeSInt, true, false, true, false, true, false, false, true, true, true},
      {TypeUInt8, true, true, false, true, false, false, false, true, true, true},
      {TypeSInt64, true, false, true, false, true, false, false, true, true, true},
      {TypeTime64, false, false, false, false, false, true, false, true, true, true},
      {TypeDuration64, false, false, false, false, false, true, false, true, true, true},
      {TypeTime, false, false, false, false, false, true, false, true, true, true},
      {TypeBoolean, false, false, false, false, false, false, false, false, false, true},
      {TypeFloat, false, false, false, false, false, false, true, true, false, true},
      {TypeF64, false, false, false, false, false, false, true, true, false, true},
      {TypePrimitive, false, false, false, false, false, false, false, false, false, false},
  };
  for (const ClassCase& c : classes) {
    SCOPED_TRACE(kBuiltinTypeNames[c.t]);
    EXPECT_EQ(defType_isInteger(c.t), c.integer);
    EXPECT_EQ(defType_isUnsignedInteger(c.t), c.isUnsigned);
    EXPECT_EQ(defType_isSignedInteger(c.t), c.isSigned);
    EXPECT_EQ(defType_couldBeUnsigned(c.t), c.couldU);
    EXPECT_EQ(defType_couldBeSigned(c.t), c.couldS);
    EXPECT_EQ(defType_isTime(c.t), c.time);
    EXPECT_EQ(defType_isFloat(c.t), c.isFloat);
    EXPECT_EQ(defType_isNumerical(c.t), c.integer || c.isFloat);
    EXPECT_EQ(defType_isQuantity(c.t), c.quantity);
    EXPECT_EQ(defType_isExactQuantity(c.t), c.exact);
    EXPECT_EQ(defType_isPrimitive(c.t), c.primitive);
  }

  constexpr uint32_t kUser = 40;  // any non-primitive type
  struct Case {
    uint32_t op, a, b, expected;
  };
  const Case cases[] = {
      // integers: literals adapt, signedness and width must agree
      {PLUS_OP, TypeUInt16, TypeInt, TypeUInt16},
      {PLUS_OP, TypeInt, TypeUInt16, TypeUInt16},
      {PLUS_OP, TypeInt, TypeSInt, TypeSInt},
      {PLUS_OP, TypeSInt16, TypeSInt, TypeSInt16},
      {PLUS_OP, TypeSInt, TypeSInt32, TypeSInt32},
      {PLUS_OP, TypeUInt8, TypeSInt, kNone},
      {PLUS_OP, TypeUInt16, TypeSInt16, kNone},
      {PLUS_OP, TypeUInt8, TypeUInt16, kNone},
      {PLUS_OP, TypeSInt8, TypeSInt16, kNone},
      // times divided and multiplied
      {DIV_OP, TypeTime64, TypeTime64, TypeUInt64},
      {DIV_OP, TypeTime, TypeTime64, TypeUInt64},
      {DIV_OP, TypeTime, TypeTime, TypeUInt64},
      {DIV_OP, TypeDuration64, TypeDuration64, TypeSInt64},
      {DIV_OP, TypeTime, TypeDuration64, TypeSInt64},
      {DIV_OP, TypeTime64, TypeInt, TypeTime64},
      {DIV_OP, TypeTime64, TypeUInt64, TypeTime64},
      {DIV_OP, TypeTime, TypeInt, TypeTime},
      {DIV_OP, TypeTime, TypeSInt, TypeDuration64},
      {DIV_OP, TypeTime64, TypeSInt, kNone},
      {DIV_OP, TypeTime64, TypeUInt32, kNone},
      {DIV_OP, TypeDuration64, TypeSInt, TypeDuration64},
      {DIV_OP, TypeDuration64, TypeSInt64, TypeDuration64},
      {DIV_OP, TypeDuration64, TypeUInt64, kNone},
      {DIV_OP, TypeInt, TypeTime64, kNone},
      {MULT_OP, TypeTime64, TypeUInt64, TypeTime64},
      {MULT_OP, TypeDuration64, TypeInt, TypeDuration64},
      {MULT_OP, TypeInt, TypeTime64, TypeTime64},
      {MULT_OP, TypeUInt64, TypeTime, TypeTime},
      {MULT_OP, TypeSInt, TypeDuration64, TypeDuration64},
      {MULT_OP, TypeSInt64, TypeTime, TypeDuration64},
      {MULT_OP, TypeSInt64, TypeTime64, kNone},
      {MULT_OP, TypeTime64, TypeTime64, kNone},
      {MULT_OP, TypeDuration64, TypeTime64, kNone},
      {MULT_OP, TypeFloat, TypeTime64, kNone},
      // floats
      {PLUS_OP, TypeFloat, TypeF32, TypeF32},
      {PLUS_OP, TypeF64, TypeFloat, TypeF64},
      {PLUS_OP, TypeFloat, TypeFloat, TypeFloat},
      {PLUS_OP, TypeF32, TypeF64, kNone},
      {MULT_OP, TypeFloat, TypeInt, kNone},
      // times added (the * and / rules do not apply)
      {PLUS_OP, TypeTime64, TypeTime, TypeTime64},
      {MINUS_OP, TypeTime, TypeDuration64, TypeDuration64},
      {PLUS_OP, TypeTime64, TypeDuration64, kNone},
      {MODULO_OP, TypeDuration64, TypeDuration64, TypeDuration64},
      {MODULO_OP, TypeDuration64, TypeInt, kNone},
      // anything else only with itself
      {CEQ_OP, TypeBoolean, TypeBoolean, TypeBoolean},
      {CEQ_OP, kUser, kUser, kUser},
      {CEQ_OP, kUser, kUser + 1, kNone},
      {AND_OP, TypeBoolean, TypeInt, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(AST_opName(c.op)) + " " + std::to_string(c.a) + " " +
                 std::to_string(c.b));
    EXPECT_EQ(defType_resultantType(c.op, c.a, c.b), c.expected);
  }
}

TEST_F(Typing, OperationTypesAndNegation) {
  load();
  const Program* p = penv->program;
  struct Case {
    uint32_t op, a, b, expected;
  };
  const Case cases[] = {
      {NEG_OP, TypeInt, kNone, TypeSInt},
      {NEG_OP, TypeTime, kNone, TypeDuration64},
      {NEG_OP, TypeUInt32, kNone, TypeUInt32},
      {NOT_OP, TypeBoolean, kNone, TypeBoolean},
      {BIT_NOT_OP, TypeUInt8, kNone, TypeUInt8},
      {SHIFT_LEFT_OP, TypeUInt8, TypeUInt32, TypeUInt8},
      {SHIFT_RIGHT_OP, TypeSInt16, TypeInt, TypeSInt16},
      {PLUS_OP, TypeUInt16, TypeInt, TypeUInt16},
      {PLUS_OP, TypeInt, TypeUInt16, TypeUInt16},
      {PLUS_OP, TypeUInt16, TypeSInt16, kNone},
      {LT_OP, TypeF32, TypeFloat, TypeF32},
      {DIV_OP, TypeTime64, TypeTime64, TypeTime64},  // equal operands: the left type
      {MULT_OP, TypeInt, TypeTime64, TypeTime64},
      {CEQ_OP, E, E, TypeUInt32},
      {CNE_OP, E, F, TypeUInt32},
      {CEQ_OP, E, TypeUInt32, kNone},
      {PLUS_OP, S, S, kNone},
      {PLUS_OP, 5000, TypeInt, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(AST_opName(c.op)) + " " + std::to_string(c.a) + " " +
                 std::to_string(c.b));
    EXPECT_EQ(defType_deduceOperationOperatorType(p, c.op, c.a, c.b), c.expected);
  }

  struct Negation {
    uint32_t t, opposite, negated;
  };
  const Negation negations[] = {
      {TypeInt, TypeSInt, TypeSInt},        {TypeSInt, TypeInt, TypeSInt},
      {TypeUInt8, TypeSInt8, TypeSInt8},    {TypeSInt8, TypeUInt8, TypeSInt8},
      {TypeUInt32, TypeSInt32, TypeSInt32}, {TypeUInt64, TypeSInt64, TypeSInt64},
      {TypeFloat, kNone, TypeFloat},        {TypeF64, kNone, TypeF64},
      {TypeTime, kNone, TypeDuration64},    {TypeDuration64, kNone, TypeDuration64},
      {TypeTime64, kNone, kNone},           {TypeBoolean, kNone, kNone},
  };
  for (const Negation& c : negations) {
    SCOPED_TRACE(kBuiltinTypeNames[c.t]);
    EXPECT_EQ(defType_getIntegerOppositeSignednessType(c.t), c.opposite);
    EXPECT_EQ(defExpr_canBeItsOpposite(c.t), c.negated);
  }
}

TEST_F(Typing, ExpressionTypesAndDiagnostics) {
  const std::string addMsg =
      "only same integer or float32 or float64 or time64 or duration64 types allowed in "
      "additions and subtractions (";
  const std::string division =
      "the only two possible division operations involving time64 are:\n"
      "    time64 / uint64 = time64\n    time64 / time64 = uint64\n";
  const std::string untypedFloat =
      "cannot evaluate literal floating point expression type (is it float32 or float64 ?)\n"
      "Please enforce float type using <float type>.as()\n";
  struct Case {
    const char* name;
    N tree;
    uint32_t type;
    uint32_t status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"x + 1", op(PLUS_OP, u16, n(1)), TypeUInt16, 0, ""},
      {"uint16 + int16", op(PLUS_OP, u16, i16), kNone, 110,
       err(addMsg + "uint16 and int16 found)\n")},
      {"ill-typed operand", op(MULT_OP, op(PLUS_OP, u16, i16), n(2)), kNone, 110,
       err(addMsg + "uint16 and int16 found)\n")},
      {"-1", op(NEG_OP, n(1)), TypeSInt, 0, ""},
      {"-u", op(NEG_OP, u32), TypeSInt32, 0, ""},
      {"-(5 ms)", op(NEG_OP, b.ms(5)), TypeDuration64, 0, ""},
      {"-t", op(NEG_OP, t1), kNone, 120,
       err("can not generate the opposite of this time64 type value (integer or float32 or "
           "float64 type expected)\n")},
      {"t / 2", op(DIV_OP, t1, n(2)), TypeTime64, 0, ""},
      {"t1 / t2", op(DIV_OP, t1, t2), TypeUInt64, 0, ""},
      {"d / e", op(DIV_OP, d1, d2), TypeSInt64, 0, ""},
      {"2.0 * t", op(MULT_OP, lit("2.0"), t1), kNone, 195,
       err("a time value can only be multiplied by a uint64 value\n")},
      {"t / 2.0", op(DIV_OP, t1, lit("2.0")), kNone, 196, err(division)},
      {"u * i", op(MULT_OP, u16, i16), kNone, 148,
       err("only same integer or float32 or float64 type allowed in multiplications or "
           "divisions (uint16 and int16 found)\n")},
      {"d mod 3", op(MODULO_OP, d1, n(3)), kNone, 1101,
       err("only integer or time64 types allowed in modulo operations (duration64 and Natural "
           "found)\n")},
      {"d mod e", op(MODULO_OP, d1, d2), TypeDuration64, 0, ""},
      {"1.5 < 2.5", op(LT_OP, lit("1.5"), lit("2.5")), kNone, 142, err(untypedFloat)},
      {"1.5 == 2.5", op(CEQ_OP, lit("1.5"), lit("2.5")), kNone, 142, err(untypedFloat)},
      {"float32.as(1.5) < 2.5",
       op(LT_OP, b.call(kCallAs, TypeF32, b.typeRef(TypeF32), {lit("1.5")}), lit("2.5")),
       TypeBoolean, 0, ""},
      {"1.5 + 2.5", op(PLUS_OP, lit("1.5"), lit("2.5")), TypeFloat, 0, ""},
      {"f + 1.5", op(PLUS_OP, f32, lit("1.5")), TypeF32, 0, ""},
      {"RED == RED", op(CEQ_OP, red(), red()), TypeBoolean, 0, ""},
      {"RED != ROUND", op(CNE_OP, red(), b.enumLit(F, "ROUND")), kNone, 106,
       err("only same integer or time64 or duration64 or bool or same enum types allowed in "
           "equality comparisons (Color and Shape found)\n")},
      {"f == f", op(CEQ_OP, f32, f32), kNone, 106,
       err("only same integer or time64 or duration64 or bool or same enum types allowed in "
           "equality comparisons (float32 and float32 found)\n")},
      {"t == 5 ms", op(CEQ_OP, t1, b.ms(5)), TypeBoolean, 0, ""},
      {"u < i", op(LT_OP, u16, i16), kNone, 103,
       err("only same integer or float32 or float64 or time types allowed in comparisons "
           "(uint16 and int16 found)\n")},
      {"b >= b", op(CGE_OP, flag, flag), kNone, 103,
       err("only same integer or float32 or float64 or time types allowed in comparisons (bool "
           "and bool found)\n")},
      {"b and b", op(AND_OP, flag, flag), TypeBoolean, 0, ""},
      {"b or 1", op(OR_OP, flag, n(1)), kNone, 112,
       err("only bool type allowed in logical comparison expression (bool and Natural "
           "found)\n")},
      {"u & 1", op(BIT_AND_OP, u16, n(1)), TypeUInt16, 0, ""},
      {"u ^ i", op(BIT_XOR_OP, u16, i16), kNone, 130,
       err("only same integer types allowed in bitwise operation (uint16 and int16 found)\n")},
      {"i >> u", op(SHIFT_RIGHT_OP, i16, u32), TypeSInt16, 0, ""},
      {"u << i", op(SHIFT_LEFT_OP, u16, i16), kNone, 130,
       err("only integer types and unsigned shift operand allowed in bitwise shift operation "
           "(uint16 and int16 found)\n")},
      {"~u", op(BIT_NOT_OP, u16), TypeUInt16, 0, ""},
      {"~f", op(BIT_NOT_OP, f32), kNone, 130,
       err("only integer types allowed in bitwise operation (float32 found)\n")},
      {"not b", op(NOT_OP, flag), TypeBoolean, 0, ""},
      {"not u", op(NOT_OP, u16), kNone, 113,
       err("only bool type allowed in logical negation expression (uint16 found)\n")},
      {"string", b.str("hi"), TypeString, 0, ""},
      {"5 ns", b.ns(5), TypeTime, 0, ""},
      {"arr[1]", b.index(arr, n(1)), TypeUInt8, 0, ""},
      {"q[1]", b.index(q, n(1)), qU8, 0, ""},
      {"point", s, S, 0, ""},
      {"type", b.typeRef(TypeUInt8), TypeType, 0, ""},
      {"cast", b.cast(TypeUInt8, u16), TypeUInt8, 0, ""},
      {"initializer", b.node(INITIALIZER_OP, 0u, none, b.node(INDEX_NODE, arrU8)), arrU8, 0, ""},
      {"{x}", b.list({u16}), TypeUInt16, 0, warn("braces around initializer\n")},
      {"{x, y}", b.list({u16, u16}), kNone, 0, ""},
  };
  load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = evaluate(c.tree);
    EXPECT_EQ(o.type, c.type);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.out);
  }
}

TEST_F(Typing, FloatLiteralsTakeTheirContextsType) {
  const N sumOfNegated = op(PLUS_OP, op(NEG_OP, lit("1.5")), lit("0.1"));
  const N asCall = b.call(kCallAs, TypeF32, b.typeRef(TypeF32), {lit("1.5")});
  const N compared = lit("2.5");
  const N comparison = op(LT_OP, asCall, compared);
  load();
  // Both the literals and the operations over them take the type.
  defExpr_evalAsFloat(penv.get(), at(sumOfNegated), TypeF64);
  const AST_Node* plus = at(sumOfNegated);
  const AST_Node* neg = AST_left(penv->program, plus);
  EXPECT_EQ(plus->value.id.type, TypeF64);
  EXPECT_EQ(neg->value.id.type, TypeF64);
  EXPECT_EQ(AST_left(penv->program, neg)->op, FLOAT64_OP);
  EXPECT_EQ(AST_left(penv->program, neg)->value.f64, 1.5);
  EXPECT_EQ(AST_right(penv->program, plus)->op, FLOAT64_OP);
  EXPECT_EQ(AST_right(penv->program, plus)->value.f64, 0.1);

  // A comparison with a float32 call fixes the other literal as a float32,
  // writing its whole value.
  at(compared)->value.u64 = ~uint64_t{0};
  EXPECT_EQ(evaluate(comparison).type, TypeBoolean);
  EXPECT_EQ(at(compared)->op, FLOAT32_OP);
  EXPECT_EQ(at(compared)->value.f32, 2.5f);
  EXPECT_EQ(at(compared)->value.u64 >> 32, 0u);  // the cell's upper half stays clear
}

TEST_F(Typing, FloatLiteralRangeWarnings) {
  struct Case {
    const char* text;
    uint32_t type;
    uint32_t op;
    bool infinite;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"0.1", TypeF32, FLOAT32_OP, false, ""},
      {"1e39", TypeF32, FLOAT32_OP, true,
       warn("floating point literal \"1e39\" exceeds float32 range\n")},
      {"1e39", TypeF64, FLOAT64_OP, false, ""},
      {"1e309", TypeF64, FLOAT64_OP, true,
       warn("floating point literal \"1e309\" exceeds float64 range\n")},
  };
  std::vector<N> literals;
  for (const Case& c : cases) literals.push_back(lit(c.text));
  const N notAFloatType = lit("1.5");
  load();
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.text) + " as " + kBuiltinTypeNames[c.type]);
    const Outcome o = run([&] {
      defExpr_evalAsFloat(penv.get(), at(literals[i]), c.type);
      return 0u;
    });
    const AST_Node* node = at(literals[i]);
    EXPECT_EQ(node->op, c.op);
    const double value = c.type == TypeF32 ? node->value.f32 : node->value.f64;
    EXPECT_EQ(std::isinf(value), c.infinite);
    if (!c.infinite) {
      EXPECT_NEAR(value, std::strtod(c.text, nullptr), 1e-7 * std::fabs(value));
    }
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.status, 0u);  // a warning is no error
  }
  defExpr_evalAsFloat(penv.get(), at(notAFloatType), TypeUInt8);
  EXPECT_EQ(at(notAFloatType)->op, FLOAT_OP);
}

TEST_F(Typing, ExpectedTypes) {
  const std::string untypedFloat =
      err("cannot evaluate literal floating point expression type (is it float32 or float64 ?)\n"
          "Please enforce float type using <float type>.as()\n");
  struct Case {
    const char* name;
    N tree;
    uint32_t expected;
    uint32_t result;
    std::string out;
  };
  const N fixed32 = lit("1.5");
  const N fixed64 = lit("1.5");
  const std::vector<Case> cases = {
      {"uint16 as Any", u16, TypeAny, TypeUInt16, ""},
      {"struct as Any", s, TypeAny, S, ""},
      {"Float as Any", lit("1.5"), TypeAny, kNone, untypedFloat},
      {"Float as Primitive", lit("1.5"), TypePrimitive, kNone, untypedFloat},
      {"uint16 as Primitive", u16, TypePrimitive, TypeUInt16, ""},
      {"struct as Primitive", s, TypePrimitive, kNone, ""},
      {"void as Any", b.call(kCallSleep, TypeVoid, none), TypeAny, kNone, ""},
      {"enum as Enumeration", red(), TypeEnum, E, ""},
      {"uint32 as Enumeration", u32, TypeEnum, kNone, ""},
      {"array as Array", arr, TypeArray, arrU8, ""},
      {"array as sized array", arr, TypeSizedArray, arrU8, ""},
      {"array as unsized array", arr, TypeUnsizedArray, kNone, ""},
      {"array as Channel", arr, TypeChannel, kNone, ""},
      {"queue as Channel", q, TypeChannel, qU8, ""},
      {"stack as sized channel", st, TypeSizedChannel, stU8, ""},
      {"queue as Array", q, TypeArray, kNone, ""},
      {"string as unsized channel", b.str("x"), TypeUnsizedChannel, TypeString, ""},
      {"iterator as Iterator", it, TypeIterator, itType, ""},
      {"array as Iterator", arr, TypeIterator, kNone, ""},
      {"uint8 array as uint8[*]", arr, anyArrU8, arrU8, ""},
      {"uint16 array as uint8[*]", arr16, anyArrU8, kNone, ""},
      {"uint8 queue as uint8[*]", q, anyArrU8, kNone, ""},
      {"uint8 queue as queue<uint8>", q, anyQU8, qU8, ""},
      {"uint8 stack as queue<uint8>", st, anyQU8, stU8, ""},
      {"uint16 queue as queue<uint8>", q16, anyQU8, kNone, ""},
      {"uint8 array as queue<uint8>", arr, anyQU8, kNone, ""},
      {"1 as uint8", n(1), TypeUInt8, TypeUInt8, ""},
      {"uint16 as Natural", u16, TypeInt, TypeUInt16, ""},
      {"-1 as uint8", op(NEG_OP, n(1)), TypeUInt8, kNone, ""},
      {"-1 as int8", op(NEG_OP, n(1)), TypeSInt8, TypeSInt8, ""},
      {"5 ms as time64", b.ms(5), TypeTime64, TypeTime64, ""},
      {"time64 as time", t1, TypeTime, TypeTime64, ""},
      {"duration64 as time64", d1, TypeTime64, kNone, ""},
      {"float32 as Float", f32, TypeFloat, TypeF32, ""},
      {"float32 as float64", f32, TypeF64, kNone, ""},
      {"1.5 as float32", fixed32, TypeF32, TypeF32, ""},
      {"1.5 as float64", fixed64, TypeF64, TypeF64, ""},
      {"enum as its type", red(), E, E, ""},
      {"enum as another", red(), F, kNone, ""},
      {"struct as its type", s, S, S, ""},
      {"struct as Structure", s, TypeStructure, S, ""},
      {"ill-typed", op(PLUS_OP, u16, i16), TypeAny, kNone,
       err("only same integer or float32 or float64 or time64 or duration64 types allowed in "
           "additions and subtractions (uint16 and int16 found)\n")},
  };
  load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = match(c.tree, c.expected);
    EXPECT_EQ(o.type, c.result);
    EXPECT_EQ(o.out, c.out);
  }
  EXPECT_EQ(at(fixed32)->op, FLOAT32_OP);
  EXPECT_EQ(at(fixed32)->value.f32, 1.5f);
  EXPECT_EQ(at(fixed64)->op, FLOAT64_OP);
  EXPECT_EQ(at(fixed64)->value.f64, 1.5);
}

TEST_F(Typing, Derivation) {
  load();
  const Program* p = penv->program;
  const uint32_t outOfRange = p->infoProg->n_type;
  struct Case {
    uint32_t t, base;
    bool derived;
  };
  const Case cases[] = {
      {TypeUInt16, TypePrimitive, true},
      {TypeUInt16, TypeAny, true},
      {S, TypeAny, true},
      {S, TypePrimitive, false},
      {E, TypeEnum, true},
      {TypeUInt32, TypeEnum, false},
      {S, TypeStructure, true},
      {E, TypeStructure, false},
      {arrU8, TypeArray, true},
      {arrU8, TypeSizedArray, true},
      {arrU8, TypeUnsizedArray, false},
      {anyArrU8, TypeUnsizedArray, true},
      {anyArrU8, TypeSizedArray, false},
      {qU8, TypeChannel, true},
      {stU8, TypeSizedChannel, true},
      {anyQU8, TypeUnsizedChannel, true},
      {TypeString, TypeUnsizedChannel, true},
      {TypeString, TypeArray, false},
      {itType, TypeIterator, true},
      {arrU8, TypeIterator, false},
      {TypeSizedArray, TypeArray, true},
      {TypeUnsizedChannel, TypeChannel, true},
      {TypeUInt16, TypeUInt8, false},
      {TypeEnum, TypeEnum, true},
      {kNone, TypeAny, false},
      {TypeUInt8, outOfRange, false},
      {outOfRange, TypeAny, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.t) + " from " + std::to_string(c.base));
    EXPECT_EQ(defType_isDerivedFrom(p, c.t, c.base), c.derived);
  }
}

// Console input is fuzzed: malformed trees have no type and never crash.
TEST_F(Typing, MalformedTreesHaveNoType) {
  const N missingChildren = op(PLUS_OP, none, none);
  const N unknownOp = b.node(200, 0u, u16, u16);
  const N badLeafType = b.node(GLOBAL_VARIABLE_OP, 100000u, none);
  const N badChild = op(MINUS_OP, u16, n(1));
  const N emptyInitializer = b.node(INITIALIZER_OP, 0u);
  const N literalWithoutText = lit("1.5");
  const N literalWithoutIndex = b.node(FLOAT_OP, 0u);
  const N elementOfBadType = b.index(b.node(LOCAL_VAR, 99999u, none), n(0));
  load();
  at(badChild)->right = 0x7FFFFFFFu;  // beyond every node
  penv->pctx.numerics.clear();

  for (N x :
       {missingChildren, unknownOp, badLeafType, badChild, emptyInitializer, elementOfBadType}) {
    SCOPED_TRACE(x.id);
    const Outcome o = evaluate(x);
    EXPECT_EQ(o.type, kNone);
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(defType_evaluate(penv.get(), nullptr), kNone);
  EXPECT_EQ(match(u16, 100000u).type, kNone);
  EXPECT_EQ(defExpr_matchExpectedType(penv.get(), nullptr, TypeAny), kNone);
  EXPECT_EQ(defType_deduceOperationOperatorType(penv->program, CEQ_OP, 100000u, 100000u), kNone);

  defExpr_evalAsFloat(penv.get(), at(literalWithoutText), TypeF32);
  defExpr_evalAsFloat(penv.get(), at(literalWithoutIndex), TypeF32);
  defExpr_evalAsFloat(penv.get(), nullptr, TypeF32);
  EXPECT_EQ(at(literalWithoutText)->op, FLOAT_OP);
  EXPECT_EQ(at(literalWithoutIndex)->op, FLOAT_OP);

  // A front end with no program loaded yet knows no type at all.
  auto bare = parser_initTables();
  bare->pctx.exitOnError = false;
  AST_Node loose{};
  loose.op = PLUS_OP;
  loose.right = 1;
  EXPECT_EQ(defType_evaluate(bare.get(), &loose), kNone);
  loose.op = INTEGER_OP;
  EXPECT_EQ(defType_evaluate(bare.get(), &loose), kNone);
  EXPECT_FALSE(defType_isDerivedFrom(bare->program, TypeUInt8, TypeAny));
  EXPECT_EQ(defType_bufferKind(bare->program, TypeString), 0u);
}

}  // namespace
