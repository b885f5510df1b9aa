// The program file: writing, reading back, layout, and every way reading fails.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "interpreterLib/interp_engine.h"
#include "interpreterLib/read.h"
#include "parserLib/write.h"
#include "tests/support/sample_program.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

using Bytes = std::vector<unsigned char>;

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
  // Reads `path` in a fresh environment whose default host carries on after
  // a failure: the step that failed (0 on success) and what was printed.
  static std::pair<int, std::string> readQuietly(const std::string& path) {
    auto quiet = interp_create();
    StdoutCapture out;
    const int step =
        readBinary_AST(quiet.get(), quiet->program.get(), quiet->program->dbg.get(), path.c_str());
    return {step, out.text()};
  }
  // Reads `bytes` as a program file, in a fresh environment.
  std::pair<int, std::string> readBytes(const Bytes& bytes) {
    const std::string path = tempPath("bytes.ast");
    writeFile(path, bytes);
    env = interp_create();
    TestHost h(env.get());
    return read(path);
  }
};

// The sizes of the file's 25 sections after its 224-byte header, in order.
std::array<uint64_t, 25> sectionSizes(const InfoProg& info) {
  // clang-format off
  return {info.n_AST * 24ull, info.n_type * 20ull, info.size_constantData * 8ull,
      info.n_strings * 4ull, info.stringTableSize, info.n_functions * 8ull,
      info.n_processDefinitions * 36ull, info.n_globalProcessInstances * 32ull,
      info.n_processInstances * 8ull, info.n_globalConstants * 8ull,
      info.n_globalVariables * 4ull, info.size_globalVariableData * 8ull,
      info.n_processStaticVariables * 4ull, info.size_processStaticVariableData * 8ull,
      info.n_processDefinitions * 4ull, info.n_processInstances * 4ull,
      info.n_globalProcessInstances * 4ull, info.n_symbols * 4ull, info.symbolStorageSize,
      info.n_globalVariables * 4ull, info.n_globalConstants * 4ull, info.n_type * 4ull,
      info.n_functions * 4ull, info.n_processStaticVariables * 4ull, info.n_AST * 4ull};
  // clang-format on
}

// Where section `k` (from 0) starts: each earlier one is padded to 8 bytes.
size_t sectionStart(const InfoProg& info, int k) {
  uint64_t offset = 224;
  for (int i = 0; i < k; ++i) offset = (offset + sectionSizes(info)[i] + 7) / 8 * 8;
  return static_cast<size_t>(offset);
}

// The file the writer makes of `program`.
Bytes fileOf(Program* program) {
  const std::string path = tempPath("written.ast");
  EXPECT_EQ(write_storeProgramBinary(program, path.c_str()), 0);
  const std::string text = readFile(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace

TEST_F(ReadFixture, RoundTripGivesIdenticalTables) {
  // Reading a file and writing the program again gives the same bytes: every
  // table (names, strings and lines included), and every value pointer turned
  // back into its cell index, came back.
  auto original = SampleProgram().b.build();
  const std::string first = tempPath("rich.ast");
  const std::string second = tempPath("rich-again.ast");
  ASSERT_EQ(write_storeProgramBinary(original.get(), first.c_str()), 0);
  auto [step, text] = read(first);
  ASSERT_EQ(step, 0) << text;
  Program& back = *env->program;
  ASSERT_EQ(write_storeProgramBinary(&back, second.c_str()), 0);
  EXPECT_EQ(readFile(first), readFile(second));
  // What the writer does not store: room for spare nodes, the root pointer.
  EXPECT_EQ(back.infoProg->max_ast_size, back.infoProg->n_AST + kSpareNodes);
  EXPECT_EQ(back.root, &back.RAMprogram[0]);
}

TEST_F(ReadFixture, EverySectionStartsOnAMultipleOfEight) {
  auto program = SampleProgram().b.build();
  const Bytes bytes = fileOf(program.get());
  EXPECT_EQ(bytes.size() % 8, 0u);
  // Truncating at each section start fails exactly at that section's step.
  const InfoProg& info = *program->infoProg;
  for (int section = 0; section < 25; ++section) {
    const size_t offset = sectionStart(info, section), size = sectionSizes(info)[section];
    ASSERT_GT(size, 0u) << "the sample program leaves section " << section + 1 << " empty";
    const Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(offset + size - 1));
    EXPECT_EQ(readBytes(cut), std::pair(-2, std::string("invalid Kova AST file !\n")))
        << "section " << section + 1;
  }
  EXPECT_EQ(sectionStart(info, 25), bytes.size());
}

TEST_F(ReadFixture, FailuresReturnTheirStepWhenTheHostCarriesOn) {
  EXPECT_EQ(readQuietly(tempPath("missing.ast")),
            std::pair(1, std::string("could not read input code file !\n")));
  const std::string path = tempPath("step.ast");
  Bytes bytes = fileOf(SampleProgram().b.build().get());
  bytes.resize(224 + 24 * 3);  // inside the nodes
  writeFile(path, bytes);
  EXPECT_EQ(readQuietly(path), std::pair(5, std::string("invalid Kova AST file !\n")));
}

// Records that point outside what the file holds fail at their step.
TEST_F(ReadFixture, RecordsOutsideTheirDataFailAtTheirStep) {
  auto program = SampleProgram().b.build();
  const InfoProg& info = *program->infoProg;
  const Bytes bytes = fileOf(program.get());
  // Sections 10 (constant records), 11 (variable types) and 13 (static types).
  const struct {
    const char* name;
    size_t offset;
    uint32_t value;
    int step;
  } cases[] = {
      {"constant at the end of the data", sectionStart(info, 9), info.size_constantData, 14},
      {"constant at the last cell", sectionStart(info, 9), info.size_constantData - 1, 0},
      {"global variable of no type", sectionStart(info, 10), info.n_type, 15},
      {"static variable of no type", sectionStart(info, 12), info.n_type, 17},
  };
  for (const auto& c : cases) {
    Bytes damaged = bytes;
    setU32(damaged, c.offset, c.value);
    const std::string path = tempPath("damaged-record.ast");
    writeFile(path, damaged);
    EXPECT_EQ(readQuietly(path),
              std::pair(c.step, std::string(c.step == 0 ? "" : "invalid Kova AST file !\n")))
        << c.name;
  }
}

TEST_F(ReadFixture, HeaderFailures) {
  const Bytes bytes = fileOf(SampleProgram().b.build().get());
  const std::string invalid = "invalid Kova AST file !\n";
  const std::string old = "using old Kova AST file, parse required\n";
  const std::tuple<const char*, void (*)(Bytes&), std::string> cases[] = {
      {"bad magic", [](Bytes& b) { b[0] = 'X'; }, invalid},
      {"magic without NUL", [](Bytes& b) { std::memset(&b[13], 'A', 3); }, invalid},
      {"version 2", [](Bytes& b) { setU32(b, 16, 2); }, old},
      {"header size 25", [](Bytes& b) { setU32(b, 20, 25); }, old},
      {"short header", [](Bytes& b) { b.resize(20); }, invalid},
      {"short information record", [](Bytes& b) { b.resize(100); }, invalid},
      {"empty file", [](Bytes& b) { b.clear(); }, invalid},
      {"huge node count", [](Bytes& b) { setU32(b, 168, 0xFFFFFFF0u); }, invalid},
      {"variable type past the type table", [](Bytes& b) { setU32(b, 156, 3); }, invalid},
  };
  for (const auto& [name, mutate, message] : cases) {
    Bytes mutated = bytes;
    mutate(mutated);
    EXPECT_EQ(readBytes(mutated), std::pair(-2, message)) << name;
  }
  EXPECT_EQ(read(tempPath("no-such-file.ast")),
            std::pair(-2, std::string("could not read input code file !\n")));
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
  const Bytes bytes = fileOf(p.get());
  EXPECT_EQ(u32At(bytes, 224), uint32_t{ROOT});    // node 0
  EXPECT_EQ(u32At(bytes, 224 + 9 * 24 + 8), 9u);   // node 9's value, ends at 463
  EXPECT_EQ(u32At(bytes, 464 + 2 * 20), 1u);       // type 2 starts at 504
  EXPECT_EQ(u32At(bytes, 464 + 2 * 20 + 16), 5u);  // and ends at 523
  EXPECT_EQ(u32At(bytes, 524), 0u);                // 4 padding bytes
  EXPECT_EQ(u32At(bytes, 528), 0x55667788u);       // constant data at 528
  auto [step, text] = readBytes(bytes);
  EXPECT_EQ(step, 0) << text;
  EXPECT_EQ(env->program->infoProg->n_AST, 10u);
  EXPECT_EQ(AST_lineFromId(env->program.get(), 9), 9u);
}
