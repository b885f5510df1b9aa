// Built-in call prototypes: the tables, look-up and overload choice, the
// call nodes built, the make- and check-callbacks, constness and access
// rights, and the exact diagnostics.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_engine.h"
#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_type.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

std::string err(const std::string& text) {
  return "[ERROR] " + text;
}
std::string warn(const std::string& text) {
  return "[WARNING] " + text;
}

class Protos : public ::testing::Test {
 protected:
  Protos() {
    color = b.enumType("Color", {"RED", "GREEN"});
    point = b.structType("Point", {{"x", TypeUInt8}});
    bytes = b.queueType(TypeUInt8, 4, "Bytes");
    words = b.queueType(TypeUInt16, 4, "Words");
    points = b.queueType(point, 4, "Points");
    arrU8 = b.arrayType(TypeUInt8, 4, "Text");
    itType = b.iteratorType(arrU8, "TextIterator");
    for (const auto& [name, type] :
         std::vector<std::pair<std::string, uint32_t>>{{"q", bytes},
                                                       {"q16", words},
                                                       {"pq", points},
                                                       {"arr", arrU8},
                                                       {"pt", point},
                                                       {"u8v", TypeUInt8},
                                                       {"u16v", TypeUInt16},
                                                       {"i32v", TypeSInt32},
                                                       {"f32v", TypeF32},
                                                       {"flag", TypeBoolean},
                                                       {"t", TypeTime64},
                                                       {"d", TypeDuration64},
                                                       {"hue", color}}) {
      globalIds[name] = b.global(name, type);
      globalTypes[name] = type;
    }
    cq = b.constant("cq", bytes, b.clearedCells(bytes));
    twice =
        b.function("twice", {{Dir::In, TypeUInt8, "a"}, {Dir::Out, TypeUInt8, "r"}}, b.block({}));
    loaded = interp_load_from_program(env.get(), b.build()) == 0;
    penv = parser_initTables();
    penv->program = env->program.get();
    penv->ienv = env.get();
    penv->pctx.exitOnError = false;
    parser_initBuiltinCalls(penv.get());
  }

  void SetUp() override { ASSERT_TRUE(loaded); }

  ParserEnv* p() { return penv.get(); }
  AST_Node* word(uint32_t op, uint32_t w, AST_Node* l = nullptr, AST_Node* r = nullptr) {
    return parser_makeNodeWord(p(), op, w, l, r);
  }
  AST_Node* sym(const char* name) { return word(SYM, parser_internSymbol(p(), name)); }
  AST_Node* g(const std::string& name) {
    return word(GLOBAL_VARIABLE_OP, globalTypes.at(name), word(INDEX_NODE, globalIds.at(name)));
  }
  AST_Node* constQ() { return word(GLOBAL_CONSTANT_OP, bytes, word(INDEX_NODE, cq)); }
  AST_Node* type(uint32_t t) { return word(TYPE_OP, TypeType, word(INDEX_NODE, t)); }
  AST_Node* io() { return word(IO_OP, TypeInputOutput); }
  AST_Node* n(uint64_t v) {
    NodeValue value{};
    value.u64 = v;
    return parser_makeNode(p(), INTEGER_OP, value, nullptr, nullptr);
  }
  AST_Node* str(const std::string& text) {
    // A string literal: in index, out index, the characters, a zero cell.
    std::vector<ValueCell> cells(text.size() + 3);
    cells[0].u64 = text.size() + 2;
    cells[1].u64 = 2;
    for (size_t i = 0; i < text.size(); ++i) cells[i + 2].u8 = static_cast<uint8_t>(text[i]);
    const uint32_t first =
        parser_addConstantData(p(), cells.data(), static_cast<uint32_t>(cells.size()));
    return word(STRING_OP, first);
  }
  AST_Node* args(std::initializer_list<AST_Node*> elements) {
    AST_Node* list = nullptr;
    for (AST_Node* e : elements) list = parser_appendList(p(), list, e);
    return list;
  }
  // The iterator local `it` over the global array.
  AST_Node* iterator(AST_Node* buffer) {
    AST_Node* decl = word(ITERATOR_DECL_OP, itType, sym("it"), buffer);
    penv->pctx.localVars.push_back(
        {parser_internSymbol(p(), "it"), itType, 0, AST_id(p()->program, decl), kAccessNone, true});
    return word(LOCAL_VAR, itType, word(INDEX_NODE, 0), decl);
  }

  struct Outcome {
    AST_Node* call;
    std::string out;
  };
  Outcome run(const std::function<AST_Node*()>& make) {
    penv->pctx.status = 0;
    Outcome o{};
    StdoutCapture capture;
    o.call = make();
    o.out = capture.text();
    return o;
  }
  Outcome method(AST_Node* object, const char* name, AST_Node* a = nullptr) {
    return run([&] { return builtinMtd_makeCall(p(), object, sym(name), a); });
  }
  Outcome function(const char* name, AST_Node* a = nullptr) {
    return run([&] { return builtinFunc_makeCall(p(), sym(name), a); });
  }
  Outcome field(AST_Node* object, const char* name) {
    return run([&] { return builtinFld_makeCall(p(), object, sym(name)); });
  }
  std::string check(AST_Node* call) {
    StdoutCapture capture;
    parser_checkBuiltinCall(p(), call);
    return capture.text();
  }

  const Program* prog() { return penv->program; }
  uint32_t code(const AST_Node* call) { return AST_getCallCode(prog(), call); }
  AST_Node* arg(const AST_Node* call, uint32_t i) {
    return AST_getListNth(prog(), AST_getCallArgs(prog(), call), i);
  }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<ParserEnv> penv;
  bool loaded = false;
  std::map<std::string, uint32_t> globalIds, globalTypes;
  uint32_t color, point, bytes, words, points, arrU8, itType, cq, twice;
};

TEST(ProtoTables, SizesAndDocumentedEntries) {
  EXPECT_EQ(functionTable.size(), 12u);
  EXPECT_EQ(methodTable.size(), 99u);
  EXPECT_EQ(fieldTable.size(), 30u);

  struct Entry {
    const char* name;
    uint32_t category, typeId;
    std::vector<uint32_t> codes;
    bool isConst;
    const char* deprecated;
  };
  const auto methodCase = [](size_t i) {
    const MethodProto& m = methodTable[i];
    std::vector<uint32_t> codes;
    for (uint32_t k = 0; k < m.sntrs.n; ++k) codes.push_back(m.sntrs.list[k].code);
    return Entry{m.name, m.objType.category, m.objType.typeId, codes, m.isConst, m.deprecated};
  };
  const std::vector<std::pair<size_t, Entry>> methods = {
      {0, {"max", TypeType, TypeUInt8, {75}, true, nullptr}},
      {6, {"max", TypeType, TypeSInt8, {77}, true, nullptr}},
      {15, {"min", TypeType, TypeDuration64, {102}, true, nullptr}},
      {24, {"rand_uniform", TypeType, TypeSInt8, {80}, false, nullptr}},
      {29, {"rand_uniform", TypeType, TypeDuration64, {104}, false, nullptr}},
      {30, {"rand_uniform", TypeType, TypeBoolean, {105}, false, nullptr}},
      {31, {"as", TypeType, TypeF32, {107, 107}, true, nullptr}},
      {33, {"as", TypeType, TypePrimitive, {107}, true, nullptr}},
      {34, {"cast", TypeType, TypeAny, {106}, true, nullptr}},
      {38, {"abs", TypeType, TypeUInt64, {144}, true, nullptr}},
      {39, {"choice_uniform", TypeType, TypeEnum, {140}, false, nullptr}},
      {42, {"adjust_time", TypeType, TypeTime64, {23}, false, nullptr}},
      {44, {"println", TypeInputOutput, TypeVoid, {34, 35, 36}, false, nullptr}},
      {45, {"print", TypeType, TypeUInt8, {37, 38}, false, nullptr}},
      {49, {"maxSize", TypeUnsizedChannel, TypeVoid, {13}, false, "<channel>.max_size"}},
      {54, {"lastPeek", TypeChannel, TypeVoid, {19}, false, "<channel>.last_peek()"}},
      {56, {"insert_sorted", TypeChannel, TypeVoid, {9}, false, nullptr}},
      {60, {"max_size", TypeSizedChannel, TypeVoid, {13}, false, "<channel>.max_size"}},
      {68, {"choice_uniform", TypeChannel, TypeVoid, {20}, false, nullptr}},
      {70, {"removeCurrent", TypeIterator, TypeVoid, {47}, false, "<iterator>.remove_current()"}},
      {76, {"pow", TypeType, TypeF32, {120}, true, nullptr}},
      {80, {"rand_pareto", TypeType, TypeF32, {114, 115}, false, nullptr}},
      {82, {"rand_exponential", TypeType, TypeF32, {26}, false, nullptr}},
      {90, {"sqrt", TypeType, TypeF64, {135}, true, nullptr}},
      {94, {"rand_uniform", TypeType, TypeF64, {139}, false, nullptr}},
      {96, {"rand_pareto", TypeType, TypeUInt16, {109, 125}, false, nullptr}},
  };
  for (const auto& [i, want] : methods) {
    SCOPED_TRACE(i);
    const Entry got = methodCase(i);
    EXPECT_STREQ(got.name, want.name);
    EXPECT_EQ(got.category, want.category);
    EXPECT_EQ(got.typeId, want.typeId);
    EXPECT_EQ(got.codes, want.codes);
    EXPECT_EQ(got.isConst, want.isConst);
    EXPECT_STREQ(got.deprecated, want.deprecated);
  }

  const std::vector<std::tuple<size_t, const char*, std::vector<uint32_t>, const char*>> functions =
      {{0, "seed", {24, 25}, nullptr},
       {3, "choice_uniform", {29, 30, 31}, ".choice_uniform()"},
       {5, "println", {34, 35, 36}, "IO.println()"},
       {9, "syncIO", {42}, "IO.sync()"},
       {11, "rand_exponential", {26}, "float32.rand_exponential()"}};
  for (const auto& [i, name, codes, deprecated] : functions) {
    const FunctionProto& f = functionTable[i];
    EXPECT_STREQ(f.name, name);
    EXPECT_FALSE(f.isConst) << name;
    std::vector<uint32_t> got;
    for (uint32_t k = 0; k < f.sntrs.n; ++k) got.push_back(f.sntrs.list[k].code);
    EXPECT_EQ(got, codes) << name;
    EXPECT_STREQ(f.deprecated, deprecated);
  }

  const std::vector<std::tuple<size_t, const char*, uint32_t, uint32_t, uint32_t, bool>> fields = {
      {1, "max_size", TypeUnsizedArray, kCallArrayMaxSize, kAccessRead, false},
      {2, "max_size", TypeChannel, kCallChnlMaxSize, kAccessRead, false},
      {3, "current", TypeIterator, kCallIterCurrent, kAccessInherited, false},
      {10, "FIRST", TypeType, kCallSInt8First, kAccessRead, true},
      {19, "LAST", TypeType, kCallUInt64Last, kAccessRead, true},
      {25, "LAST", TypeType, kCallDuration64Last, kAccessRead, true},
      {28, "FIRST", TypeType, kCallF64First, kAccessRead, true}};
  for (const auto& [i, name, category, fieldCode, rights, isConst] : fields) {
    const FieldProto& f = fieldTable[i];
    EXPECT_STREQ(f.name, name) << i;
    EXPECT_EQ(f.objType.category, category) << i;
    EXPECT_EQ(f.code, fieldCode) << i;
    EXPECT_EQ(f.accessRights, rights) << i;
    EXPECT_EQ(f.isConst, isConst) << i;
  }
}

TEST_F(Protos, InitInternsEveryName) {
  const uint32_t before = prog()->infoProg->n_symbols;
  for (const FunctionProto& f : functionTable) parser_internSymbol(p(), f.name);
  for (const MethodProto& m : methodTable) parser_internSymbol(p(), m.name);
  for (const FieldProto& f : fieldTable) parser_internSymbol(p(), f.name);
  EXPECT_EQ(prog()->infoProg->n_symbols, before);
}

TEST_F(Protos, MethodsAndFieldsResolve) {
  struct Case {
    const char* label;
    std::function<Outcome()> make;
    uint32_t code, result, sntrIdx;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"uint8.max(3, 4, 5)",
       [&] {
         return method(type(TypeUInt8), "max", args({n(3), n(4), n(5)}));
       },
       75, TypeUInt8, 0, ""},
      {"int16.min(3, 4)",
       [&] {
         return method(type(TypeSInt16), "min", args({n(3), n(4)}));
       },
       84, TypeSInt16, 0, ""},
      {"float32.as(f32v)", [&] { return method(type(TypeF32), "as", args({g("f32v")})); }, 107,
       TypeF32, 0, ""},
      {"float32.as(u16v)", [&] { return method(type(TypeF32), "as", args({g("u16v")})); }, 107,
       TypeF32, 1, ""},
      {"uint16.as(f32v)", [&] { return method(type(TypeUInt16), "as", args({g("f32v")})); }, 107,
       TypeUInt16, 0, ""},
      {"uint32.abs(i32v)", [&] { return method(type(TypeUInt32), "abs", args({g("i32v")})); }, 143,
       TypeUInt32, 0, ""},
      {"float32.rand_pareto(f32v, f32v)",
       [&] {
         return method(type(TypeF32), "rand_pareto", args({g("f32v"), g("f32v")}));
       },
       115, TypeF32, 1, ""},
      {"bool.rand_uniform()", [&] { return method(type(TypeBoolean), "rand_uniform"); }, 105,
       TypeBoolean, 0, ""},
      {"Color.choice_uniform()", [&] { return method(type(color), "choice_uniform"); }, 140, color,
       0, ""},
      {"time64.adjust_time(d)",
       [&] { return method(type(TypeTime64), "adjust_time", args({g("d")})); }, 23, TypeStatement,
       0, ""},
      {"q.pop()", [&] { return method(g("q"), "pop"); }, 10, TypeUInt8, 0, ""},
      {"arr.choice_uniform()", [&] { return method(g("arr"), "choice_uniform"); }, 7, TypeUInt8, 0,
       ""},
      {"q.maxSize()", [&] { return method(g("q"), "maxSize"); }, 13, TypeUInt32, 0,
       warn("\"maxSize\" is deprecated, please use \"<channel>.max_size\" instead\n")},
      {"it.remove_current()", [&] { return method(iterator(g("arr")), "remove_current"); }, 47,
       TypeStatement, 0, ""},
      {"uint8.LAST", [&] { return field(type(TypeUInt8), "LAST"); }, 52, TypeUInt8, 0, ""},
      {"duration64.FIRST", [&] { return field(type(TypeDuration64), "FIRST"); }, 69, TypeDuration64,
       0, ""},
      {"arr.max_size", [&] { return field(g("arr"), "max_size"); }, 6, TypeUInt32, 0, ""},
      {"it.current", [&] { return field(iterator(g("arr")), "current"); }, 48, TypeUInt8, 0, ""},
      {"time()", [&] { return function("time"); }, 21, TypeTime64, 0,
       warn("\"time\" is deprecated, please use \"time64.time()\" instead\n")},
      {"seed(5)", [&] { return function("seed", args({n(5)})); }, 25, TypeUInt64, 1, ""},
      {"choice_uniform(arr)", [&] { return function("choice_uniform", args({g("arr")})); }, 29,
       TypeUInt8, 0,
       warn("\"choice_uniform\" is deprecated, please use \".choice_uniform()\" instead\n")},
      {"choice_uniform(q16)", [&] { return function("choice_uniform", args({g("q16")})); }, 30,
       TypeUInt16, 1,
       warn("\"choice_uniform\" is deprecated, please use \".choice_uniform()\" instead\n")},
      {"choice_uniform(Color)", [&] { return function("choice_uniform", args({type(color)})); }, 31,
       color, 2,
       warn("\"choice_uniform\" is deprecated, please use \".choice_uniform()\" instead\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome o = c.make();
    ASSERT_NE(o.call, nullptr) << o.out;
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.call->op, CALL_OP);
    EXPECT_EQ(code(o.call), c.code);
    EXPECT_EQ(o.call->value.id.type, c.result);
    const CallProto proto = retrieveCallProto(p(), o.call);
    ASSERT_NE(proto.table, ProtoTable::None);
    if (proto.table != ProtoTable::Field) {
      EXPECT_EQ(proto.idx, c.sntrIdx);
    }
  }
}

TEST_F(Protos, UnknownAndMismatchedCallsAreReported) {
  struct Case {
    const char* label;
    std::function<Outcome()> make;
    uint32_t status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"uint8.max(3)", [&] { return method(type(TypeUInt8), "max", args({n(3)})); }, 182,
       err("invalid argument(s) for \"max\" static operation of type \"uint8\"\n"
           "    available signatures are:\nuint8(uint8, uint8...)\n")},
      {"q.push()", [&] { return method(g("q"), "push"); }, 182,
       err("invalid argument(s) for \"push\" operation of type \"Bytes\"\n"
           "    available signatures are:\nStatement(uint8)\n")},
      {"rand_uniform(1)", [&] { return function("rand_uniform", args({n(1)})); }, 182,
       err("invalid argument(s) for \"rand_uniform\" operation\n"
           "    available signatures are:\nuint32(uint32, uint32)\n")},
      {"seed(flag)", [&] { return function("seed", args({g("flag")})); }, 182,
       err("invalid argument(s) for \"seed\" operation\n"
           "    available signatures are:\nuint64()\nuint64(uint64)\n")},
      {"uint8.foo()", [&] { return method(type(TypeUInt8), "foo"); }, 181,
       err("unknown static operation \"foo\" for type \"uint8\"\n")},
      {"q.foo()", [&] { return method(g("q"), "foo"); }, 181,
       err("unknown operation \"foo\" for type \"Bytes\"\n")},
      {"u8v.push(1)", [&] { return method(g("u8v"), "push", args({n(1)})); }, 181,
       err("unknown operation \"push\" for type \"uint8\"\n")},
      {"bool.LAST", [&] { return field(type(TypeBoolean), "LAST"); }, 181,
       err("unknown static field \"LAST\" for type \"bool\"\n")},
      {"q.current", [&] { return field(g("q"), "current"); }, 181,
       err("unknown field \"current\" for type \"Bytes\"\n")},
      {"choice_uniform(Point)", [&] { return function("choice_uniform", args({type(point)})); },
       129,
       warn("\"choice_uniform\" is deprecated, please use \".choice_uniform()\" instead\n") +
           err("choice_uniform() function expects an enumeration type argument (\"Point\" "
               "found)\n")},
      {"cq.push(1)", [&] { return method(constQ(), "push", args({n(1)})); }, 189,
       err("local channel \"cq\" is IN mode (\"push\" is forbidden)\n")},
      {"pq.insert_sorted(pt)", [&] { return method(g("pq"), "insert_sorted", args({g("pt")})); },
       189, err("insert sorted in channel \"pq\" is only valid for primitive types\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome o = c.make();
    EXPECT_EQ(o.call, nullptr);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(penv->pctx.status, c.status);
  }
}

TEST_F(Protos, PushOnAnInModeLocalChannelIsRefused) {
  penv->pctx.localVars.push_back(
      {parser_internSymbol(p(), "inq"), bytes, 3, NO_ID, kAccessRead, false});
  AST_Node* local = word(LOCAL_VAR, bytes, word(INDEX_NODE, 3));
  const Outcome refused = method(local, "push", args({n(1)}));
  EXPECT_EQ(refused.call, nullptr);
  EXPECT_EQ(refused.out, err("local channel \"inq\" is IN mode (\"push\" is forbidden)\n"));

  const Outcome accepted = method(g("q"), "push", args({n(1)}));
  ASSERT_NE(accepted.call, nullptr);
  EXPECT_EQ(code(accepted.call), kCallChnlPush);
}

TEST_F(Protos, AssertAndExitCarryTheirSourcePosition) {
  penv->pctx.fileName = "ctl.kova";
  penv->pctx.line = 7;
  const Outcome a = function("assert", args({g("flag")}));
  ASSERT_NE(a.call, nullptr);
  EXPECT_EQ(a.out, "");
  ASSERT_EQ(AST_listSize(prog(), AST_getCallArgs(prog(), a.call)), 4u);
  EXPECT_EQ(arg(a.call, 1)->op, INDEX_NODE);
  EXPECT_STREQ(Program_getStringAtIndex(prog(), arg(a.call, 1)->value.id.index), "ctl.kova");
  EXPECT_EQ(arg(a.call, 2)->op, INTEGER_OP);
  EXPECT_EQ(arg(a.call, 2)->value.u64, 7u);
  EXPECT_EQ(arg(a.call, 3)->op, INDEX_NODE);
  EXPECT_STREQ(Program_getStringAtIndex(prog(), arg(a.call, 3)->value.id.index), "");

  const Outcome e = function("exit", args({n(3)}));
  ASSERT_NE(e.call, nullptr);
  ASSERT_EQ(AST_listSize(prog(), AST_getCallArgs(prog(), e.call)), 2u);
  EXPECT_EQ(arg(e.call, 1)->op, INTEGER_OP);
  EXPECT_EQ(arg(e.call, 1)->value.u64, 7u);
}

TEST_F(Protos, PrintFormatsAreChecked) {
  struct Case {
    std::string format;
    std::vector<std::string> values;  // global names, or "lit" for an integer literal
    std::string message;              // empty: accepted
  };
  const std::vector<Case> cases = {
      {"%u then %d\\n", {"u8v"}, "Print formats expects at least 2 parameters, only 1 found\n"},
      {"%f", {"u8v"}, "Type mismatch for parameter 1 : expected Float, found uint8\n"},
      {"%u %d",
       {"u8v", "u16v"},
       "Type mismatch for parameter 2 : expected Signed_Integer, found uint16\n"},
      {"%t", {"flag"}, "Type mismatch for parameter 1 : expected time, found bool\n"},
      {"%b", {"u8v"}, "Type mismatch for parameter 1 : expected bool, found uint8\n"},
      {"%x", {"flag"}, "Type mismatch for parameter 1 : expected intX or uintX, found bool\n"},
      {"%s", {"u16v"}, "Type mismatch for parameter 1 : expected uint8 buffer or channel\n"},
      {"%u", {"t"}, "Type mismatch for parameter 1 : expected Natural, found time64\n"},
      {"100%", {}, "spurious trailing ‘%’ in format\n"},
      {"%q", {"u8v"}, "unknown conversion type character 'q'\n"},
      {"%u", {"u8v", "u8v"}, "too many arguments for format\n"},
      {"", {"u8v"}, "too many arguments for format\n"},
      {"\\%u 100%%", {}, ""},
      {"%u %d %i %c %x", {"hue", "lit", "i32v", "u8v", "i32v"}, ""},
      {"%f %t %t %b %s %s", {"f32v", "t", "d", "flag", "arr", "q"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    AST_Node* list = args({str(c.format)});
    for (const std::string& v : c.values)
      list = parser_appendList(p(), list, v == "lit" ? n(1) : g(v));
    const Outcome o = method(io(), "print", list);
    ASSERT_NE(o.call, nullptr) << o.out;
    penv->pctx.status = 0;
    EXPECT_EQ(check(o.call), c.message.empty() ? "" : err(c.message));
    EXPECT_EQ(penv->pctx.status, c.message.empty() ? 0u : 134u);
  }
}

TEST_F(Protos, PrintTargetsAreChecked) {
  const std::string notBuffer =
      err("first print() or println() argument has to be a uint8 channel or array\n");
  struct Case {
    const char* label;
    std::function<Outcome()> make;
    uint32_t code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"IO.println(u16v)", [&] { return method(io(), "println", args({g("u16v")})); }, 35,
       notBuffer},
      {"IO.println(q, 1)",
       [&] {
         return method(io(), "println", args({g("q"), n(1)}));
       },
       36, ""},
      {"println()", [&] { return function("println"); }, 34, ""},
      {"print(\"%u\")", [&] { return function("print", args({str("%u")})); }, 32,
       err("Print formats expects at least 1 parameters, only 0 found\n")},
      {"uint8.print(u16v, \"x\")",
       [&] {
         return method(type(TypeUInt8), "print", args({g("u16v"), str("x")}));
       },
       37, err("first uint8.print() argument has to be a queue or an array\n")},
      {"uint8.print(q16, \"x\")",
       [&] {
         return method(type(TypeUInt8), "print", args({g("q16"), str("x")}));
       },
       37, err("first uint8.print() channel must be of type uint8 \n")},
      {"uint8.print(arr, \"%u\")",
       [&] {
         return method(type(TypeUInt8), "print", args({g("arr"), str("%u")}));
       },
       37, err("Print formats expects at least 1 parameters, only 0 found\n")},
      {"uint8.print(q, u16v)",
       [&] {
         return method(type(TypeUInt8), "print", args({g("q"), g("u16v")}));
       },
       37, notBuffer},
      {"uint8.print(q, \"%u\", 5)",
       [&] {
         return method(type(TypeUInt8), "print", args({g("q"), str("%u"), n(5)}));
       },
       38, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome o = c.make();
    ASSERT_NE(o.call, nullptr) << o.out;
    EXPECT_EQ(code(o.call), c.code);
    EXPECT_EQ(check(o.call), c.message);
  }
}

TEST_F(Protos, CheckPassWalksTheWholeProgram) {
  // Two faulty print calls built into the loaded program, one nested in a block.
  ProgramBuilder pb;
  pb.function(
      "f", {},
      pb.block({pb.print("%u"), pb.if_(pb.boolean(true), pb.print("%d %d", {pb.integer(1)}))}));
  auto env2 = interp_create();
  ASSERT_EQ(interp_load_from_program(env2.get(), pb.build()), 0);
  penv->program = env2->program.get();
  penv->ienv = env2.get();
  StdoutCapture capture;
  parser_checkBuiltinCalls(p());
  EXPECT_EQ(capture.text(), err("Print formats expects at least 1 parameters, only 0 found\n") +
                                err("Print formats expects at least 2 parameters, only 1 found\n"));
}

TEST_F(Protos, ConstnessAndAccessRights) {
  AST_Node* it = iterator(g("arr"));
  AST_Node* constIt = iterator(constQ());
  const auto userCall = [&](uint32_t callCode, std::initializer_list<AST_Node*> a) {
    return word(CALL_OP, TypeUInt8, word(INDEX_NODE, callCode, nullptr, word(INDEX_NODE, twice)),
                args(a));
  };
  struct Case {
    const char* label;
    AST_Node* call;
    bool isConst;
    uint32_t rights;
  };
  const std::vector<Case> cases = {
      {"uint8.max(3, 4)", method(type(TypeUInt8), "max", args({n(3), n(4)})).call, true,
       kAccessRead},
      {"uint8.max(3, u8v)", method(type(TypeUInt8), "max", args({n(3), g("u8v")})).call, false,
       kAccessRead},
      {"uint8.rand_uniform(1, 2)", method(type(TypeUInt8), "rand_uniform", args({n(1), n(2)})).call,
       false, kAccessRead},
      {"uint8.LAST", field(type(TypeUInt8), "LAST").call, true, kAccessRead},
      {"q.max_size", field(g("q"), "max_size").call, false, kAccessRead},
      {"it.index", field(it, "index").call, false, kAccessRead},
      {"it.current over a variable", field(it, "current").call, false, kAccessReadWrite},
      {"it.current over a constant", field(constIt, "current").call, false, kAccessRead},
      {"seed()", function("seed").call, false, kAccessRead},
      {"code 0 (3, 4)", userCall(kCallFunctionRightCurrying, {n(3), n(4)}), true, kAccessReadWrite},
      {"code 0 (3, u8v)", userCall(kCallFunctionRightCurrying, {n(3), g("u8v")}), false,
       kAccessReadWrite},
      {"code 2 (u8v)", userCall(kCallFunctionLeftRightCurrying, {g("u8v")}), false,
       kAccessReadWrite},
      {"code 1 (3)", userCall(kCallFunctionLeftCurrying, {n(3)}), false, kAccessReadWrite},
      {"code 3 (3)", userCall(kCallFunctionCustom, {n(3)}), false, kAccessNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_NE(c.call, nullptr);
    EXPECT_EQ(defCall_isConst(p(), c.call), c.isConst);
    EXPECT_EQ(defCall_getAccessRights(p(), c.call), c.rights);
  }
}

TEST_F(Protos, FieldWinsOverMethodAndCallsAreIdentified) {
  AST_Node* deprecatedMethod = method(g("q"), "maxSize").call;
  AST_Node* count = method(g("q"), "count").call;
  ASSERT_NE(deprecatedMethod, nullptr);
  ASSERT_NE(count, nullptr);
  const CallProto a = retrieveCallProto(p(), deprecatedMethod);
  ASSERT_EQ(a.table, ProtoTable::Field);
  EXPECT_STREQ(a.field->name, "max_size");
  const CallProto b2 = retrieveCallProto(p(), count);
  ASSERT_EQ(b2.table, ProtoTable::Method);
  EXPECT_STREQ(b2.method->name, "count");

  EXPECT_TRUE(defCall_is(prog(), count, kCallChnlCount, NO_ID));
  EXPECT_FALSE(defCall_is(prog(), count, kCallChnlPop, NO_ID));
  AST_Node* user = word(CALL_OP, TypeStatement,
                        word(INDEX_NODE, kCallFunctionCustom, nullptr, word(INDEX_NODE, twice)));
  EXPECT_TRUE(defCall_is(prog(), user, kCallFunctionCustom, twice));
  EXPECT_FALSE(defCall_is(prog(), user, kCallFunctionCustom, twice + 1));
}

TEST_F(Protos, MethodSyntaxReachesAUserFunction) {
  AST_Node* x = g("u8v");
  const Outcome o = method(x, "twice");
  ASSERT_NE(o.call, nullptr) << o.out;
  const uint32_t c = code(o.call);
  EXPECT_TRUE(c == kCallFunctionLeftCurrying || c == kCallFunctionLeftRightCurrying) << c;
  EXPECT_EQ(arg(o.call, 0), x);
}

TEST_F(Protos, DescriptionsResolveMarkersAgainstTheObject) {
  EXPECT_EQ(allocAllSntrDesc(prog(), methodTable[55].sntrs, bytes, TypeChannel),
            "Statement(uint8)\n");
  EXPECT_EQ(allocAllSntrDesc(prog(), methodTable[31].sntrs, TypeF32, TypeType),
            "float32(float32)\nfloat32(Primitive)\n");
  EXPECT_EQ(allocSntrDesc(prog(), methodTable[45].sntrs.list[1], TypeUInt8, TypeType),
            "Statement(Any, Any, Any...)");
  EXPECT_EQ(allocSntrDesc(prog(), functionTable[4].sntrs.list[1], NO_ID, TypeVoid),
            "Statement(uint8[], Primitive...)");
}

TEST_F(Protos, OddTreesAndExhaustedNodeSpaceYieldNoCall) {
  AST_Node* notSymbol = n(1);
  AST_Node* notList = n(2);
  EXPECT_EQ(builtinMtd_makeCall(p(), nullptr, sym("max"), nullptr), nullptr);
  EXPECT_EQ(builtinMtd_makeCall(p(), type(TypeUInt8), notSymbol, nullptr), nullptr);
  EXPECT_EQ(builtinFld_makeCall(p(), nullptr, sym("LAST")), nullptr);
  EXPECT_EQ(builtinFunc_makeCall(p(), nullptr, nullptr), nullptr);
  {
    StdoutCapture capture;
    EXPECT_EQ(builtinMtd_makeCall(p(), type(TypeUInt8), sym("max"), notList), nullptr);
  }
  AST_Node* bare = word(CALL_OP, TypeUInt8);
  EXPECT_EQ(retrieveCallProto(p(), bare).table, ProtoTable::None);
  EXPECT_FALSE(defCall_isConst(p(), bare));
  AST_Node* cyclic = word(LIST, 0);
  cyclic->right = AST_id(prog(), cyclic);
  cyclic->left = AST_id(prog(), cyclic);
  parser_checkBuiltinTree(p(), cyclic);
  EXPECT_FALSE(defCall_isConst(p(), word(CALL_OP, TypeUInt8, word(INDEX_NODE, 75), cyclic)));

  // Room for the index node but not for the call node.
  AST_Node* object = type(TypeUInt8);
  AST_Node* name = sym("max");
  AST_Node* list = args({n(3), n(4)});
  penv->program->infoProg->max_ast_size = penv->program->infoProg->n_AST + 2;
  const Outcome o = run([&] { return builtinMtd_makeCall(p(), object, name, list); });
  EXPECT_EQ(o.call, nullptr);
  EXPECT_EQ(penv->pctx.status, 666u);
}

}  // namespace
