// Built-in call prototypes: the tables, look-up and overload choice, the
// call nodes built, the make- and check-callbacks, constness and access
// rights, and the exact diagnostics.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "ASTLib/call_codes.h"
#include "interpreterLib/interp_engine.h"
#include "parserLib/builtin_prototypes.h"
#include "parserLib/def_type.h"
#include "parserLib/kova_lex.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

const auto err = [](const std::string& text) { return "[ERROR] " + text; };
const auto warn = [](const std::string& text) { return "[WARNING] " + text; };

enum Kind { Fn, Mtd, Fld };

class Protos : public ::testing::Test {
 protected:
  Protos() {
    // clang-format off
    for (const auto& [name, t] : std::map<std::string, uint32_t>{
             {"q", bytes}, {"q16", words}, {"pq", points}, {"arr", arrU8}, {"pt", point},
             {"u8v", TypeUInt8}, {"u16v", TypeUInt16}, {"i32v", TypeSInt32}, {"f32v", TypeF32},
             {"flag", TypeBoolean}, {"t", TypeTime64}, {"d", TypeDuration64}, {"hue", color}})
      // clang-format on
      globals[name] = {b.global(name, t), t};
    cq = b.constant("cq", bytes, b.clearedCells(bytes));
    twice =
        b.function("twice", {{Dir::In, TypeUInt8, "a"}, {Dir::Out, TypeUInt8, "r"}}, b.block({}));
  }
  void SetUp() override {
    ASSERT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    penv = parser_initTables();
    penv->program = env->program.get();
    penv->ienv = env.get();
    parser_initBuiltinCalls(penv.get());
  }

  ParserEnv* p() { return penv.get(); }
  const Program* prog() { return penv->program; }
  AST_Node* word(uint32_t op, uint32_t w, AST_Node* l = nullptr, AST_Node* r = nullptr) {
    return parser_makeNodeWord(p(), op, w, l, r);
  }
  AST_Node* sym(const char* name) { return word(SYM, parser_internSymbol(p(), name)); }
  AST_Node* g(const std::string& name) {
    const auto [id, t] = globals.at(name);
    return word(GLOBAL_VARIABLE_OP, t, word(INDEX_NODE, id));
  }
  AST_Node* constQ() { return word(GLOBAL_CONSTANT_OP, bytes, word(INDEX_NODE, cq)); }
  AST_Node* type(uint32_t t) { return word(TYPE_OP, TypeType, word(INDEX_NODE, t)); }
  AST_Node* io() { return word(IO_OP, TypeInputOutput); }
  AST_Node* n(uint64_t v) { return parser_makeNode(p(), INTEGER_OP, NodeValue{.u64 = v}, {}, {}); }
  // A string literal as the lexer makes it.
  AST_Node* str(const std::string& text) { return KovaLexer(p(), '"' + text + '"').next().node; }
  AST_Node* args(std::initializer_list<AST_Node*> elements) {
    AST_Node* list = nullptr;
    for (AST_Node* e : elements) list = parser_appendList(p(), list, e);
    return list;
  }
  // The iterator local `it` over a buffer.
  AST_Node* iterator(AST_Node* buffer) {
    AST_Node* decl = word(ITERATOR_DECL_OP, itType, sym("it"), buffer);
    penv->pctx.localVars.push_back(
        {parser_internSymbol(p(), "it"), itType, 0, AST_id(prog(), decl), kAccessNone, true});
    return word(LOCAL_VAR, itType, word(INDEX_NODE, 0), decl);
  }

  struct Outcome {
    AST_Node* call;
    std::string out, checked;  // what making the call and then checking it print
  };
  Outcome make(Kind kind, AST_Node* object, const char* name, AST_Node* a = nullptr) {
    penv->pctx.status = 0;
    AST_Node* nameNode = sym(name);
    StdoutCapture capture;
    AST_Node* call = kind == Fn    ? builtinFunc_makeCall(p(), nameNode, a)
                     : kind == Mtd ? builtinMtd_makeCall(p(), object, nameNode, a)
                                   : builtinFld_makeCall(p(), object, nameNode);
    const std::string out = capture.text();
    parser_checkBuiltinCall(p(), call);
    return {call, out, capture.text().substr(out.size())};
  }
  uint32_t code(const AST_Node* call) { return AST_getCallCode(prog(), call); }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<ParserEnv> penv;
  const uint32_t color = b.enumType("Color", {"RED", "GREEN"}),
                 point = b.structType("Point", {{"x", TypeUInt8}}),
                 bytes = b.queueType(TypeUInt8, 4, "Bytes"),
                 words = b.queueType(TypeUInt16, 4, "Words"),
                 points = b.queueType(point, 4, "Points"),
                 arrU8 = b.arrayType(TypeUInt8, 4, "Text"),
                 itType = b.iteratorType(arrU8, "TextIterator");
  std::map<std::string, std::pair<uint32_t, uint32_t>> globals;  // id and type
  uint32_t cq = 0, twice = 0;
};

// The entries themselves are checked through the calls they build below.
TEST_F(Protos, TablesAreCompleteAndInitInternsEveryName) {
  EXPECT_EQ(functionTable.size(), 12u);
  EXPECT_EQ(methodTable.size(), 99u);
  EXPECT_EQ(fieldTable.size(), 30u);
  const uint32_t before = prog()->infoProg->n_symbols;
  for (const FunctionProto& f : functionTable) parser_internSymbol(p(), f.name);
  for (const MethodProto& m : methodTable) parser_internSymbol(p(), m.name);
  for (const FieldProto& f : fieldTable) parser_internSymbol(p(), f.name);
  EXPECT_EQ(prog()->infoProg->n_symbols, before);
}

TEST_F(Protos, CallsResolveAndAreChecked) {
  const std::string choiceWarning =
      warn("\"choice_uniform\" is deprecated, please use \".choice_uniform()\" instead\n");
  const std::string notBuffer =
      err("first print() or println() argument has to be a uint8 channel or array\n");
  struct Case {
    Kind kind;
    AST_Node* object;
    const char* name;
    AST_Node* args;
    uint32_t code, result, sntrIdx;
    std::string out = "", checked = "";
    std::string entry = "";  // the entry found again from the call, if not the one called
  };
  const Case cases[] = {
      {Mtd, type(TypeUInt8), "max", args({n(3), n(4), n(5)}), 75, TypeUInt8, 0},
      {Mtd, type(TypeF32), "as", args({g("f32v")}), 107, TypeF32, 0},
      {Mtd, type(TypeF32), "as", args({g("u16v")}), 107, TypeF32, 1},
      {Mtd, type(TypeUInt32), "abs", args({g("i32v")}), 143, TypeUInt32, 0},
      {Mtd, type(TypeBoolean), "rand_uniform", nullptr, 105, TypeBoolean, 0},
      {Mtd, type(color), "choice_uniform", nullptr, 140, color, 0},
      {Mtd, type(TypeTime64), "adjust_time", args({g("d")}), 23, TypeStatement, 0},
      {Mtd, g("q"), "pop", nullptr, 10, TypeUInt8, 0},
      {Mtd, g("q"), "push", args({n(1)}), kCallChnlPush, TypeStatement, 0},
      {Mtd, g("arr"), "choice_uniform", nullptr, 7, TypeUInt8, 0},
      {Mtd, g("q"), "maxSize", nullptr, 13, TypeUInt32, 0,
       warn("\"maxSize\" is deprecated, please use \"<channel>.max_size\" instead\n"), "",
       "field max_size"},  // a field wins over a deprecated method
      {Mtd, iterator(g("arr")), "remove_current", nullptr, 47, TypeStatement, 0},
      {Fld, type(TypeUInt8), "LAST", nullptr, 52, TypeUInt8, 0},
      {Fld, g("arr"), "max_size", nullptr, 6, TypeUInt32, 0},
      {Fld, iterator(g("arr")), "current", nullptr, 48, TypeUInt8, 0},
      {Fn, nullptr, "time", nullptr, 21, TypeTime64, 0,
       warn("\"time\" is deprecated, please use \"time64.time()\" instead\n")},
      {Fn, nullptr, "seed", args({n(5)}), 25, TypeUInt64, 1},
      {Fn, nullptr, "choice_uniform", args({g("arr")}), 29, TypeUInt8, 0, choiceWarning},
      {Fn, nullptr, "choice_uniform", args({g("q16")}), 30, TypeUInt16, 1, choiceWarning},
      {Fn, nullptr, "choice_uniform", args({type(color)}), 31, color, 2, choiceWarning},
      // print targets
      {Mtd, io(), "println", args({g("u16v")}), 35, TypeStatement, 1, "", notBuffer},
      {Mtd, io(), "println", args({g("q"), n(1)}), 36, TypeStatement, 2},
      {Fn, nullptr, "println", nullptr, 34, TypeStatement, 0,
       warn("\"println\" is deprecated, please use \"IO.println()\" instead\n")},
      {Fn, nullptr, "print", args({str("%u")}), 32, TypeStatement, 0,
       warn("\"print\" is deprecated, please use \"IO.print()\" instead\n"),
       err("Print formats expects at least 1 parameters, only 0 found\n")},
      {Mtd, type(TypeUInt8), "print", args({g("u16v"), str("x")}), 37, TypeStatement, 0, "",
       err("first uint8.print() argument has to be a queue or an array\n")},
      {Mtd, type(TypeUInt8), "print", args({g("q16"), str("x")}), 37, TypeStatement, 0, "",
       err("first uint8.print() channel must be of type uint8 \n")},
      {Mtd, type(TypeUInt8), "print", args({g("q"), g("u16v")}), 37, TypeStatement, 0, "",
       notBuffer},
      {Mtd, type(TypeUInt8), "print", args({g("arr"), str("%u"), n(5)}), 38, TypeStatement, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const Outcome o = make(c.kind, c.object, c.name, c.args);
    ASSERT_NE(o.call, nullptr) << o.out;
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.call->op, CALL_OP);
    EXPECT_EQ(code(o.call), c.code);
    EXPECT_EQ(o.call->value.id.type, c.result);
    const CallProto proto = retrieveCallProto(p(), o.call);
    const std::string found = proto.field      ? "field " + std::string(proto.field->name)
                              : proto.method   ? "method " + std::string(proto.method->name)
                              : proto.function ? "function " + std::string(proto.function->name)
                                               : "none";
    const char* kinds[] = {"function ", "method ", "field "};
    EXPECT_EQ(found, c.entry.empty() ? kinds[c.kind] + std::string(c.name) : c.entry);
    EXPECT_EQ(proto.field ? c.sntrIdx : proto.idx, c.sntrIdx);
    EXPECT_EQ(o.checked, c.checked);
  }
}

TEST_F(Protos, ConstnessAccessRightsAndIdentity) {
  const auto userCall = [&](uint32_t callCode, std::initializer_list<AST_Node*> a) {
    return word(CALL_OP, TypeUInt8, word(INDEX_NODE, callCode, nullptr, word(INDEX_NODE, twice)),
                args(a));
  };
  struct Case {
    AST_Node* call;
    bool isConst;
    uint32_t rights;
  };
  const Case cases[] = {
      {make(Mtd, type(TypeUInt8), "max", args({n(3), n(4)})).call, true, kAccessRead},
      {make(Mtd, type(TypeUInt8), "max", args({n(3), g("u8v")})).call, false, kAccessRead},
      {make(Mtd, type(TypeUInt8), "rand_uniform", args({n(1), n(2)})).call, false, kAccessRead},
      {make(Fld, type(TypeUInt8), "LAST").call, true, kAccessRead},
      {make(Fld, g("q"), "max_size").call, false, kAccessRead},
      {make(Fld, iterator(g("arr")), "index").call, false, kAccessRead},
      {make(Fld, iterator(g("arr")), "current").call, false, kAccessReadWrite},
      {make(Fld, iterator(constQ()), "current").call, false, kAccessRead},
      {make(Fn, nullptr, "seed").call, false, kAccessRead},
      {userCall(kCallFunctionRightCurrying, {n(3), n(4)}), true, kAccessReadWrite},
      {userCall(kCallFunctionRightCurrying, {n(3), g("u8v")}), false, kAccessReadWrite},
      {userCall(kCallFunctionLeftRightCurrying, {g("u8v")}), false, kAccessReadWrite},
      {userCall(kCallFunctionLeftCurrying, {n(3)}), false, kAccessReadWrite},
      {userCall(kCallFunctionCustom, {n(3)}), false, kAccessNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ASSERT_NE(c.call, nullptr);
    EXPECT_EQ(defCall_isConst(p(), c.call), c.isConst);
    EXPECT_EQ(defCall_getAccessRights(p(), c.call), c.rights);
  }
  // Calls are identified by their code, a user function's also by its id.
  AST_Node* count = make(Mtd, g("q"), "count").call;
  EXPECT_TRUE(defCall_is(prog(), count, kCallChnlCount, NO_ID));
  EXPECT_FALSE(defCall_is(prog(), count, kCallChnlPop, NO_ID));
  AST_Node* user = userCall(kCallFunctionCustom, {});
  EXPECT_TRUE(defCall_is(prog(), user, kCallFunctionCustom, twice));
  EXPECT_FALSE(defCall_is(prog(), user, kCallFunctionCustom, twice + 1));
}

// An unknown free function (a source's call meets the user functions first,
// a console line's the table's own refusal; the other refusals: the golden
// run calls_refused, their codes Compiler.CodesOfRefusedCalls), odd trees and
// an exhausted node space make no call.
TEST_F(Protos, UnknownNamesOddTreesAndExhaustedNodeSpaceYieldNoCall) {
  const Outcome unknown = make(Fn, nullptr, "foo");
  EXPECT_EQ(unknown.call, nullptr);
  EXPECT_EQ(unknown.out, err("unknown operation \"foo\"\n"));
  EXPECT_EQ(penv->pctx.status, 181u);
  EXPECT_EQ(builtinMtd_makeCall(p(), nullptr, sym("max"), nullptr), nullptr);
  EXPECT_EQ(builtinMtd_makeCall(p(), type(TypeUInt8), n(1), nullptr), nullptr);  // no symbol
  EXPECT_EQ(builtinFld_makeCall(p(), nullptr, sym("LAST")), nullptr);
  EXPECT_EQ(builtinFunc_makeCall(p(), nullptr, nullptr), nullptr);
  EXPECT_EQ(make(Mtd, type(TypeUInt8), "max", n(2)).call, nullptr);  // no list
  AST_Node* bare = word(CALL_OP, TypeUInt8);
  EXPECT_EQ(retrieveCallProto(p(), bare).table, ProtoTable::None);
  EXPECT_FALSE(defCall_isConst(p(), bare));
  AST_Node* cyclic = word(LIST, 0);
  cyclic->right = cyclic->left = AST_id(prog(), cyclic);
  parser_checkBuiltinTree(p(), cyclic);
  EXPECT_FALSE(defCall_isConst(p(), word(CALL_OP, TypeUInt8, word(INDEX_NODE, 75), cyclic)));

  // Room for the index node but not for the call node.
  AST_Node* object = type(TypeUInt8);
  AST_Node* list = args({n(3), n(4)});
  penv->program->infoProg->max_ast_size = penv->program->infoProg->n_AST + 3;  // and the name
  EXPECT_EQ(make(Mtd, object, "max", list).call, nullptr);
  EXPECT_EQ(penv->pctx.status, 666u);
}

}  // namespace
