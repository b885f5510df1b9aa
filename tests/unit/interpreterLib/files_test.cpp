// File bindings: binding messages and limits, the text and raw formats in
// both directions, full channels, hostile file contents and the table's
// lifecycle.
#include "interpreterLib/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

using Cells = std::vector<uint64_t>;

uint64_t f32Cell(float f) {
  ValueCell c{};
  c.f32 = f;
  return c.u64;
}
uint64_t f64Cell(double d) {
  ValueCell c{};
  c.f64 = d;
  return c.u64;
}
// A negative narrow integer as its cell holds it: low bytes only.
uint64_t narrow(int64_t v, int bytes) {
  return static_cast<uint64_t>(v) & (~uint64_t{0} >> (64 - 8 * bytes));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One environment with file types and a few element types, a test host, and
// helpers to bind globals, fill channels and read them back.
struct Rig {
  explicit Rig(BuilderOptions options = {.fileTypes = true}) : b(std::move(options)) {
    b.structType("Pair", {{"count", TypeUInt8}, {"ratio", TypeF32}});
    const uint32_t inner = b.structType("Inner", {{"n", TypeUInt16}, {"on", TypeBoolean}});
    b.structType("Outer", {{"a", TypeSInt8}, {"in", inner}, {"x", TypeF64}});
    b.arrayType(TypeUInt8, 2, "Bytes2");
  }
  ~Rig() { files_close(); }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;
  uint32_t fileType = NO_ID;
  uint32_t nameOffset = 0, nameSize = 0, accessOffset = 0, formatOffset = 0, fileCells = 0;

  // A global channel of the named element type.
  uint32_t channel(const char* element, uint32_t capacity, bool stack = false) {
    const uint32_t type = b.typeId(element);
    return b.global("ch", stack ? b.stackType(type, capacity) : b.queueType(type, capacity));
  }
  void load() {
    fileType = b.typeId("Kova_File");
    if (fileType != NO_ID) {
      nameOffset = b.fieldOffset(fileType, "name");
      nameSize = b.type(b.fieldType(fileType, "name")).size;
      accessOffset = b.fieldOffset(fileType, "access");
      formatOffset = b.fieldOffset(fileType, "format");
      fileCells = b.type(fileType).storageSize;
    }
    host = std::make_unique<TestHost>(env.get());
    ASSERT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    files_init(env.get());
  }
  void bind(uint32_t globalId, const std::string& path, bool toFile, bool text) {
    std::vector<ValueCell> cells(fileCells);
    // As a program would: the name holds as many bytes as fit, a NUL only when
    // there is room for it.
    for (size_t i = 0; i < path.size() && i < nameSize; ++i) {
      cells[nameOffset + i].u8 = static_cast<uint8_t>(path[i]);
    }
    cells[accessOffset].u64 = literal("File_Access", toFile ? "WRITE" : "READ");
    cells[formatOffset].u64 = literal("File_Format", text ? "CSV" : "RAW");
    file_variable_setup(env.get(), TaggedValue{cells.data(), fileType, NO_ID}, globalId);
  }
  TaggedValue var(uint32_t id) const { return env->program->globalVariableTable[id]; }
  void push(uint32_t id, Cells cells) {
    std::vector<ValueCell> element(buffer_getCellStorageSize(env.get(), var(id)));
    for (size_t i = 0; i < cells.size(); ++i) element[i].u64 = cells[i];
    channel_push(env.get(), nullptr, var(id), element.data());
  }
  // Elements in logical order, each as its cells.
  std::vector<Cells> contents(uint32_t id) {
    std::vector<Cells> out;
    const uint32_t width = buffer_getCellStorageSize(env.get(), var(id));
    for (uint32_t i = 0; i < channel_count(env.get(), var(id)); ++i) {
      const ValueCell* cell = buffer_getIndexValue(env.get(), var(id), i).value;
      out.emplace_back(width);
      for (uint32_t c = 0; c < width; ++c) out.back()[c] = cell[c].u64;
    }
    return out;
  }
  // An enumeration literal's value (its symbol id, the same in every rig).
  static uint64_t literal(const char* enumType, const char* name) {
    static const ProgramBuilder probe({.fileTypes = true});
    return probe.enumValue(probe.typeId(enumType), name);
  }
};

// ---------------------------------------------------------------- writing

struct WriteCase {
  const char* element;
  std::vector<Cells> pushed;
  std::string expected;
  bool stack = false;
};

TEST(FilesWrite, TextLinesPerElementType) {
  const uint64_t raw = Rig::literal("File_Format", "RAW");
  const std::vector<WriteCase> cases = {
      {"int16", {{narrow(-3, 2)}, {7}}, "-3\n7\n"},
      {"int16", {{1}, {2}}, "2\n1\n", true},  // a stack gives its top first
      {"uint8", {{255}}, "255\n"},
      {"int8", {{narrow(-128, 1)}}, "-128\n"},
      {"uint32", {{4294967295u}}, "4294967295\n"},
      {"int32", {{narrow(-5, 4)}}, "-5\n"},
      {"uint64", {{~uint64_t{0}}}, "18446744073709551615\n"},
      {"int64", {{uint64_t{1} << 63}}, "-9223372036854775808\n"},
      {"time64", {{12}}, "12\n"},
      {"bool", {{1}, {0}}, "true\nfalse\n"},
      {"float32", {{f32Cell(2.5f)}}, "2.500000\n"},
      {"float64", {{f64Cell(-0.125)}}, "-0.125000\n"},
      {"File_Format", {{raw}, {0}}, "RAW\nNULL\n"},
      {"duration64", {{5}}, "\n"},
      {"Pair", {{5, f32Cell(2.5f)}}, "5,2.500000\n"},
      {"Outer", {{narrow(-1, 1), 2, 1, f64Cell(0.5)}}, "-1,2,true,0.500000\n"},
      {"Bytes2", {{1, 2}}, ""},  // not even the newline
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(std::string(c.element) + " -> " + c.expected);
    Rig rig;
    const uint32_t ch = rig.channel(c.element, 4, c.stack);
    rig.load();
    const std::string path = tempPath("write.txt");
    rig.bind(ch, path, true, true);
    for (const Cells& p : c.pushed) rig.push(ch, p);
    sync_files(rig.env.get());
    EXPECT_EQ(readFile(path), c.expected);  // read before closing: each line is flushed
    EXPECT_TRUE(rig.contents(ch).empty());
    sync_files(rig.env.get());
    EXPECT_EQ(readFile(path), c.expected);
  }
}

TEST(FilesWrite, RawBytesThenNewlineOnlyWhenSomethingWasWritten) {
  Rig rig;
  const uint32_t ch = rig.channel("uint8", 8);
  rig.load();
  const std::string path = tempPath("raw_out.bin");
  rig.bind(ch, path, true, false);
  sync_files(rig.env.get());
  EXPECT_EQ(readFile(path), "");
  rig.push(ch, {'h'});
  rig.push(ch, {'i'});
  sync_files(rig.env.get());
  EXPECT_EQ(readFile(path), "hi\n");
  sync_files(rig.env.get());
  rig.push(ch, {'x'});
  sync_files(rig.env.get());
  EXPECT_EQ(readFile(path), "hi\nx\n");
  EXPECT_TRUE(rig.contents(ch).empty());
}

// ---------------------------------------------------------------- reading

struct ReadCase {
  const char* element;
  std::string file;
  int syncs;
  std::vector<Cells> expected;
};

TEST(FilesRead, TextLinesPerElementType) {
  const uint64_t read = Rig::literal("File_Access", "READ");
  const uint64_t write = Rig::literal("File_Access", "WRITE");
  const uint64_t max64 = 0x7FFFFFFFFFFFFFFF;
  const std::vector<ReadCase> cases = {
      {"bool", "true\nfalse\n", 3, {{1}, {0}, {0}}},  // then false at end of file
      {"bool", "True\n1\n", 2, {{0}, {0}}},
      {"int16", "-3\n0x10\n", 2, {{narrow(-3, 2)}, {16}}},
      {"uint8", "300\n", 1, {{44}}},  // stored at its width
      {"uint32", "017\n", 1, {{15}}},
      {"int32", "zzz\n  -12abc\n", 2, {{0}, {narrow(-12, 4)}}},
      {"uint64", "99999999999999999999999\n", 1, {{~uint64_t{0}}}},
      {"int64", "-9223372036854775808\n", 1, {{uint64_t{1} << 63}}},
      {"float32", "2.5\n", 1, {{f32Cell(2.5f)}}},
      {"float64", "0.125\n", 1, {{f64Cell(0.125)}}},
      {"duration64", "42\n", 1, {{0}}},  // no text form: stays cleared
      {"File_Access", "WRITE\nwrite\n", 2, {{write}, {read}}},
      {"Pair", "5,2.5\n", 1, {{5, f32Cell(2.5f)}}},
      {"Pair", "7\n", 1, {{7, 0}}},
      {"Pair", "5,2.5,9,9\n", 1, {{5, f32Cell(2.5f)}}},
      {"Pair", ",,,,\n", 1, {{0, 0}}},
      {"Outer", "-1,2,true,0.5\n", 1, {{narrow(-1, 1), 2, 1, f64Cell(0.5)}}},
      // A hostile line is read in pieces of 1023 bytes.
      {"int64", std::string(3000, '7') + "\n", 4, {{max64}, {max64}, {max64}, {0}}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.element) + " <- " + c.file.substr(0, 40));
    Rig rig;
    const uint32_t ch = rig.channel(c.element, 8);
    rig.load();
    const std::string path = tempPath("read.txt");
    writeFile(path, c.file);
    rig.bind(ch, path, false, true);
    for (int i = 0; i < c.syncs; ++i) sync_files_input(rig.env.get());
    EXPECT_EQ(rig.contents(ch), c.expected);
  }
}

TEST(FilesRead, FullChannelReadsNothing) {
  for (const bool text : {true, false}) {
    SCOPED_TRACE(text ? "text" : "raw");
    Rig rig;
    const uint32_t ch = rig.channel("uint8", 1);
    rig.load();
    const std::string path = tempPath("full.txt");
    writeFile(path, "1\n2\n");
    rig.bind(ch, path, false, text);
    rig.push(ch, {9});
    sync_files_input(rig.env.get());
    EXPECT_EQ(rig.contents(ch), (std::vector<Cells>{{9}}));
    channel_pop(rig.env.get(), nullptr, rig.var(ch));
    sync_files_input(rig.env.get());
    EXPECT_EQ(rig.contents(ch), (std::vector<Cells>{{text ? 1u : uint64_t{'1'}}}));
  }
}

struct RawReadCase {
  std::string file;
  uint32_t capacity;
  Cells before;
  std::vector<Cells> expected;
  size_t queueFullReports;
};

TEST(FilesRead, RawLineBytesUpToTheCapacity) {
  const std::vector<RawReadCase> cases = {
      {"ab\ncd\n", 8, {}, {{'a'}, {'b'}, {'\n'}}, 0},
      {"abcd\n", 2, {}, {{'a'}, {'b'}}, 0},
      {"xyz\n", 3, {'p'}, {{'p'}, {'x'}, {'y'}}, 1},
      {"", 4, {}, {}, 0},
      // A hostile line is read in pieces of 1023 bytes.
      {std::string(2000, '\xff') + "\n", 4000, {}, std::vector<Cells>(1023, Cells{0xff}), 0},
  };
  for (const RawReadCase& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 8) + " into " + std::to_string(c.capacity));
    Rig rig;
    const uint32_t ch = rig.channel("uint8", c.capacity);
    rig.load();
    const std::string path = tempPath("raw_in.bin");
    writeFile(path, c.file);
    rig.bind(ch, path, false, false);
    for (uint64_t v : c.before) rig.push(ch, {v});
    sync_files_input(rig.env.get());
    EXPECT_EQ(rig.contents(ch), c.expected);
    EXPECT_EQ(rig.host->invalidOps.size(), c.queueFullReports);
    for (const InvalidOp& op : rig.host->invalidOps) EXPECT_EQ(op.kind, 4u);
  }
}

// ---------------------------------------------------------------- binding

TEST(FilesBind, MoreBindingsThanTheTableHolds) {
  Rig rig({.fileTypes = true, .maxFiles = 2});
  const uint32_t ch = rig.channel("uint8", 4);
  rig.load();
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(tempPath("bind" + std::to_string(i) + ".txt"));
  for (const std::string& p : paths) std::filesystem::remove(p);
  StdoutCapture out;
  for (const std::string& p : paths) rig.bind(ch, p, true, true);
  EXPECT_EQ(out.text(), "not enough files \nnot enough files \n");
  EXPECT_TRUE(std::filesystem::exists(paths[1]));
  EXPECT_FALSE(std::filesystem::exists(paths[2]));
}

TEST(FilesBind, FailedOpenIsReportedAndLeavesTheSlotFree) {
  const std::string dir = tempPath("a_directory");
  std::filesystem::create_directories(dir);
  const struct {
    std::string path;
    bool write;
    int error;
  } cases[] = {
      {tempPath("no_such_dir/in.txt"), false, ENOENT},
      {tempPath("no_such_dir/out.txt"), true, ENOENT},
      {dir, true, EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Rig rig({.fileTypes = true, .maxFiles = 1, .maxFileName = 1024});
    const uint32_t ch = rig.channel("uint8", 4);
    rig.load();
    StdoutCapture out;
    rig.bind(ch, c.path, c.write, true);
    rig.bind(ch, tempPath("good.txt"), true, true);
    EXPECT_EQ(out.text(), "Error with file " + c.path + ": " + std::strerror(c.error));
  }
}

TEST(FilesBind, PathIsCutAtTheNameLimit) {
  const std::string kept = tempPath("cut1234");
  std::filesystem::remove(kept);
  // The limit counts the terminating NUL.
  Rig rig({.fileTypes = true, .maxFileName = static_cast<uint32_t>(kept.size() + 1)});
  const uint32_t ch = rig.channel("uint8", 4);
  rig.load();
  rig.bind(ch, kept + "5678", true, true);
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(kept + "5"));
}

TEST(FilesBind, RawNeedsAUint8Queue) {
  const struct {
    const char* element;
    bool stack;
    bool message;
  } cases[] = {{"uint8", false, false}, {"uint8", true, true}, {"int16", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.element) + (c.stack ? " stack" : " queue"));
    Rig rig;
    const uint32_t ch = rig.channel(c.element, 4, c.stack);
    rig.load();
    StdoutCapture out;
    rig.bind(ch, tempPath("raw.bin"), true, false);
    rig.bind(ch, tempPath("text.txt"), true, true);
    EXPECT_EQ(out.text(), c.message ? "only uint8 queue raw buffer type is supported \n" : "");
  }
  // The binding is kept: an int16 queue still takes the bytes.
  Rig rig;
  const uint32_t ch = rig.channel("int16", 4);
  rig.load();
  const std::string path = tempPath("raw16.bin");
  writeFile(path, "ab\n");
  StdoutCapture out;
  rig.bind(ch, path, false, false);
  sync_files_input(rig.env.get());
  EXPECT_EQ(rig.contents(ch), (std::vector<Cells>{{'a'}, {'b'}, {'\n'}}));
}

// ---------------------------------------------------------------- lifecycle

TEST(FilesLifecycle, ProgramWithoutFileTypeDisablesFiles) {
  files_close();  // before any table exists
  Rig withFiles;
  const uint32_t out = withFiles.channel("int16", 4);
  withFiles.load();
  const std::string path = tempPath("stale.txt");
  withFiles.bind(out, path, true, true);

  // A later program without the type must not inherit the earlier bindings.
  Rig plain(BuilderOptions{});
  const uint32_t same = plain.channel("int16", 4);
  ASSERT_EQ(same, out);
  plain.load();
  plain.push(same, {7});
  sync_files(plain.env.get());
  sync_files_input(plain.env.get());
  EXPECT_EQ(plain.contents(same), (std::vector<Cells>{{7}}));
  EXPECT_EQ(readFile(path), "");
}

TEST(FilesLifecycle, CloseUnbindsAndCanBeRepeated) {
  Rig rig;
  const uint32_t ch = rig.channel("uint32", 4);
  rig.load();
  const std::string path = tempPath("closed.txt");
  rig.bind(ch, path, true, true);
  rig.push(ch, {1});
  sync_files(rig.env.get());
  files_close();
  files_close();
  rig.push(ch, {2});
  sync_files(rig.env.get());
  EXPECT_EQ(readFile(path), "1\n");
  EXPECT_EQ(rig.contents(ch), (std::vector<Cells>{{2}}));
}

}  // namespace
