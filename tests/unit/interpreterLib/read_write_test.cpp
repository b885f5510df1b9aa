// The program file: writing, reading back, layout, and every way reading fails.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/read.h"
#include "parserLib/write.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

uint32_t u32At(const Bytes& bytes, size_t offset) {
  uint32_t v;
  std::memcpy(&v, &bytes[offset], 4);
  return v;
}

void setU32(Bytes& bytes, size_t offset, uint32_t v) {
  std::memcpy(&bytes[offset], &v, 4);
}

// A program touching every section: types, constants, strings, globals,
// statics, a function, process definitions with a sub-process, instances.
ProgramBuilder richProgram() {
  ProgramBuilder b({.modelName = "rich", .fileTypes = true});
  const uint32_t rec = b.structType("Rec", {{"a", TypeUInt8}, {"b", TypeF64}});
  b.global("three", b.arrayType(TypeUInt8, 3), {1, 2, 3});
  b.global("two", rec, {4, 5});
  b.constant("PI", TypeF64, {0x400921FB54442D18});
  const uint32_t f =
      b.function("init", {{Dir::In, TypeUInt8, "x"}}, b.block({b.println("x=%d", {b.local(0)})}));
  const uint32_t child = b.process(
      "Child", {.statics = {{"count", TypeUInt32, {7}}},
                .states = {{"idle", b.block({b.assertThat(b.boolean(true), "m.kova", 3, "x")})}}});
  const uint32_t parent =
      b.process("Parent", {.subs = {{"c", child}},
                           .states = {{"a", b.block({b.callSub(0)}), {on(b.boolean(true), "b")}},
                                      {"b", none, {after(b.ms(5), "a")}}}});
  b.instance("p1", parent, {.period = b.ms(10), .offset = b.ms(2), .priority = 3});
  b.instance("t1", child, {.trigger = b.boolean(false)});
  b.setLine(b.callFunction(f, {b.integer(1)}), 42);
  return b;
}

struct ReadFixture : testing::Test {
  std::unique_ptr<InterpEnv> env = interp_create();
  TestHost host{env.get()};

  // Reads `path`; returns the step that failed (0 on success) and what was printed.
  std::pair<int, std::string> read(const std::string& path) {
    StdoutCapture out;
    int step = -1;
    try {
      step = readBinary_AST(env.get(), env->program.get(), env->program->dbg.get(), path.c_str());
    } catch (const HostExit& e) {
      EXPECT_EQ(e.status, 1);
      EXPECT_EQ(e.line, 0u);
      step = -2;  // ended through the exit callback, as a real host would
    }
    return {step, out.text()};
  }
};

}  // namespace

TEST_F(ReadFixture, RoundTripGivesIdenticalTables) {
  // Reading a file and writing the program again gives the same bytes: every
  // table, and every value pointer turned back into its cell index, came back.
  auto original = richProgram().build();
  const std::string first = tempPath("rich.ast");
  const std::string second = tempPath("rich-again.ast");
  ASSERT_EQ(write_storeProgramBinary(original.get(), first.c_str()), 0);
  auto [step, text] = read(first);
  ASSERT_EQ(step, 0) << text;
  Program& back = *env->program;
  ASSERT_EQ(write_storeProgramBinary(&back, second.c_str()), 0);
  EXPECT_EQ(readFile(first), readFile(second));
  EXPECT_EQ(back.infoProg->n_AST, original->infoProg->n_AST);
  EXPECT_EQ(back.infoProg->max_ast_size, back.infoProg->n_AST + kSpareNodes);
  EXPECT_EQ(back.root, &back.RAMprogram[0]);
  EXPECT_EQ(back.root->op, uint32_t{ROOT});
  EXPECT_STREQ(back.infoProg->modelName, "rich");
  EXPECT_STREQ(Program_getStringAtIndex(&back, 0), "m.kova");
  bool line42 = false;  // the one line the program recorded
  for (uint32_t id = 0; id < back.infoProg->n_AST; ++id) line42 |= AST_lineFromId(&back, id) == 42;
  EXPECT_TRUE(line42);
}

TEST_F(ReadFixture, EverySectionStartsOnAMultipleOfEight) {
  auto program = richProgram().build();
  const std::string path = tempPath("aligned.ast");
  ASSERT_EQ(write_storeProgramBinary(program.get(), path.c_str()), 0);
  const Bytes bytes = readFile(path);
  EXPECT_EQ(bytes.size() % 8, 0u);
  // Truncating at each section start fails exactly at that section's step.
  const InfoProg& info = *program->infoProg;
  const uint64_t sizes[25] = {info.n_AST * 24ull,
                              info.n_type * 20ull,
                              info.size_constantData * 8ull,
                              info.n_strings * 4ull,
                              info.stringTableSize,
                              info.n_functions * 8ull,
                              info.n_processDefinitions * 36ull,
                              info.n_globalProcessInstances * 32ull,
                              info.n_processInstances * 8ull,
                              info.n_globalConstants * 8ull,
                              info.n_globalVariables * 4ull,
                              info.size_globalVariableData * 8ull,
                              info.n_processStaticVariables * 4ull,
                              info.size_processStaticVariableData * 8ull,
                              info.n_processDefinitions * 4ull,
                              info.n_processInstances * 4ull,
                              info.n_globalProcessInstances * 4ull,
                              info.n_symbols * 4ull,
                              info.symbolStorageSize,
                              info.n_globalVariables * 4ull,
                              info.n_globalConstants * 4ull,
                              info.n_type * 4ull,
                              info.n_functions * 4ull,
                              info.n_processStaticVariables * 4ull,
                              info.n_AST * 4ull};
  uint64_t offset = 224;
  for (int section = 0; section < 25; ++section) {
    ASSERT_EQ(offset % 8, 0u);
    ASSERT_GT(sizes[section], 0u) << "the rich program leaves section " << section + 1 << " empty";
    const std::string cut = tempPath("cut.ast");
    writeFile(cut,
              Bytes(bytes.begin(), bytes.begin() + static_cast<long>(offset + sizes[section] - 1)));
    env = interp_create();
    TestHost h(env.get());
    auto [step, text] = read(cut);
    EXPECT_EQ(step, -2) << "section " << section + 1;
    EXPECT_EQ(text, "invalid Kova AST file !\n") << "section " << section + 1;
    offset = (offset + sizes[section] + 7) / 8 * 8;
  }
  EXPECT_EQ(offset, bytes.size());
}

TEST_F(ReadFixture, FailuresReturnTheirStepWhenTheHostCarriesOn) {
  // With the default exit callback the reader returns the failed step.
  auto quiet = interp_create();
  StdoutCapture out;
  EXPECT_EQ(readBinary_AST(quiet.get(), quiet->program.get(), quiet->program->dbg.get(),
                           tempPath("missing.ast").c_str()),
            1);
  auto program = richProgram().build();
  const std::string path = tempPath("step.ast");
  ASSERT_EQ(write_storeProgramBinary(program.get(), path.c_str()), 0);
  Bytes bytes = readFile(path);
  bytes.resize(224 + 24 * 3);  // inside the nodes
  writeFile(path, bytes);
  EXPECT_EQ(
      readBinary_AST(quiet.get(), quiet->program.get(), quiet->program->dbg.get(), path.c_str()),
      5);
  EXPECT_EQ(out.text(), "could not read input code file !\ninvalid Kova AST file !\n");
}

TEST_F(ReadFixture, HeaderFailures) {
  auto program = richProgram().build();
  const std::string good = tempPath("good.ast");
  ASSERT_EQ(write_storeProgramBinary(program.get(), good.c_str()), 0);
  const Bytes bytes = readFile(good);
  struct Case {
    const char* name;
    void (*mutate)(Bytes&);
    const char* message;
  };
  const Case cases[] = {
      {"bad magic", [](Bytes& b) { b[0] = 'X'; }, "invalid Kova AST file !\n"},
      {"magic without NUL", [](Bytes& b) { std::memset(&b[13], 'A', 3); },
       "invalid Kova AST file !\n"},
      {"version 2", [](Bytes& b) { setU32(b, 16, 2); },
       "using old Kova AST file, parse required\n"},
      {"header size 25", [](Bytes& b) { setU32(b, 20, 25); },
       "using old Kova AST file, parse required\n"},
      {"short header", [](Bytes& b) { b.resize(20); }, "invalid Kova AST file !\n"},
      {"short information record", [](Bytes& b) { b.resize(100); }, "invalid Kova AST file !\n"},
      {"empty file", [](Bytes& b) { b.clear(); }, "invalid Kova AST file !\n"},
      {"huge node count", [](Bytes& b) { setU32(b, 168, 0xFFFFFFF0u); },
       "invalid Kova AST file !\n"},
      {"variable type past the type table", [](Bytes& b) { setU32(b, 156, 3); },
       "invalid Kova AST file !\n"},
  };
  for (const Case& c : cases) {
    Bytes mutated = bytes;
    c.mutate(mutated);
    const std::string path = tempPath("bad.ast");
    writeFile(path, mutated);
    env = interp_create();
    TestHost h(env.get());
    auto [step, text] = read(path);
    EXPECT_EQ(step, -2) << c.name;
    EXPECT_EQ(text, c.message) << c.name;
  }
  auto [step, text] = read(tempPath("no-such-file.ast"));
  EXPECT_EQ(step, -2);
  EXPECT_EQ(text, "could not read input code file !\n");
}

TEST_F(ReadFixture, TenNodesThreeTypesLayout) {
  auto p = Program_create();
  AST_createTree(p.get(), 20);
  AST_createLineIndex(p.get(), 20);
  for (uint32_t i = 0; i < 10; ++i)
    AST_makeNode(p.get(), i == 0 ? ROOT : INTEGER_OP, i, nullptr, nullptr, i);
  p->root = &p->RAMprogram[0];
  p->infoProg->n_type = 3;
  p->typeTable = MEM_ALLOC(TypeRecord, 3, "types");
  p->typeTable[2] = {1, 2, 3, 4, 5};
  p->infoProg->size_constantData = 1;
  p->constantDataTable = MEM_ALLOC(ValueCell, 1, "constants");
  p->constantDataTable[0].u64 = 0x1122334455667788;
  p->dbg->typeSymbolId = MEM_ALLOC(uint32_t, 3, "typeSymbols");
  const std::string path = tempPath("layout.ast");
  ASSERT_EQ(write_storeProgramBinary(p.get(), path.c_str()), 0);
  const Bytes bytes = readFile(path);
  EXPECT_EQ(u32At(bytes, 224), uint32_t{ROOT});    // node 0
  EXPECT_EQ(u32At(bytes, 224 + 9 * 24 + 8), 9u);   // node 9's value, ends at 463
  EXPECT_EQ(u32At(bytes, 464 + 2 * 20), 1u);       // type 2 starts at 504
  EXPECT_EQ(u32At(bytes, 464 + 2 * 20 + 16), 5u);  // and ends at 523
  EXPECT_EQ(u32At(bytes, 524), 0u);                // 4 padding bytes
  EXPECT_EQ(u32At(bytes, 528), 0x55667788u);       // constant data at 528
  auto [step, text] = read(path);
  EXPECT_EQ(step, 0) << text;
  EXPECT_EQ(env->program->infoProg->n_AST, 10u);
  EXPECT_EQ(AST_lineFromId(env->program.get(), 9), 9u);
}

TEST_F(ReadFixture, VariablesPointAtTheirCells) {
  ProgramBuilder b;
  const uint32_t three = b.global("three", b.arrayType(TypeUInt8, 3), {1, 2, 3});
  const uint32_t two = b.global("two", b.arrayType(TypeUInt8, 2), {4, 5});
  auto program = b.build();
  const std::string path = tempPath("vars.ast");
  ASSERT_EQ(write_storeProgramBinary(program.get(), path.c_str()), 0);
  ASSERT_EQ(read(path).first, 0);
  const Program& p = *env->program;
  const ValueCell* data = p.globalVariableDataInitTable.get();
  const long systemCells = p.globalVariableTable[three].value - data;
  EXPECT_EQ(systemCells, Type_getStorageSize(&p, b.systemType()));
  EXPECT_EQ(p.globalVariableTable[two].value - data, systemCells + 3);
  EXPECT_EQ(p.globalVariableTable[two].value[1].u64, 5u);
  EXPECT_EQ(p.globalVariableTable[two].globalId, two);
  // A program without constants, statics or processes leaves those tables absent.
  EXPECT_EQ(p.globalConstantTable, nullptr);
  EXPECT_EQ(p.processStaticVariableTable, nullptr);
  EXPECT_EQ(p.processInstanceTable, nullptr);
}
