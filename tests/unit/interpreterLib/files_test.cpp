// File bindings: binding messages and limits, the text and raw formats in
// both directions, full channels, hostile file contents and the table's
// lifecycle.
#include "interpreterLib/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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

// One environment with file types, a test host, and helpers to bind globals,
// fill channels and read them back.
struct Rig {
  explicit Rig(BuilderOptions options = {.fileTypes = true}) : b(std::move(options)) {}
  ~Rig() { files_close(); }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  std::unique_ptr<TestHost> host;
  uint32_t fileType = NO_ID;
  uint32_t nameOffset = 0, accessOffset = 0, formatOffset = 0, fileCells = 0;
  uint64_t read = 0, write = 0, csv = 0, raw = 0;

  void load() {
    fileType = b.typeId("Kova_File");
    if (fileType != NO_ID) {
      nameOffset = b.fieldOffset(fileType, "name");
      accessOffset = b.fieldOffset(fileType, "access");
      formatOffset = b.fieldOffset(fileType, "format");
      fileCells = b.type(fileType).storageSize;
      read = b.enumValue(b.typeId("File_Access"), "READ");
      write = b.enumValue(b.typeId("File_Access"), "WRITE");
      csv = b.enumValue(b.typeId("File_Format"), "CSV");
      raw = b.enumValue(b.typeId("File_Format"), "RAW");
    }
    host = std::make_unique<TestHost>(env.get());
    ASSERT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    files_init(env.get());
  }
  void bind(uint32_t globalId, const std::string& path, bool toFile, bool text) {
    std::vector<ValueCell> cells(fileCells);
    for (size_t i = 0; i < path.size(); ++i)
      cells[nameOffset + i].u8 = static_cast<uint8_t>(path[i]);
    cells[accessOffset].u64 = toFile ? write : read;
    cells[formatOffset].u64 = text ? csv : raw;
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
      out.emplace_back();
      for (uint32_t c = 0; c < width; ++c) out.back().push_back(cell[c].u64);
    }
    return out;
  }
};

uint32_t pairType(ProgramBuilder& b) {
  return b.structType("Pair", {{"count", TypeUInt8}, {"ratio", TypeF32}});
}

// ---------------------------------------------------------------- writing

struct WriteCase {
  const char* name;
  // Declares the element type; returns it and the elements to push.
  std::function<std::pair<uint32_t, std::vector<Cells>>(ProgramBuilder&)> setup;
  std::string expected;
  bool stack = false;
};

TEST(FilesWrite, TextLinesPerElementType) {
  const std::vector<WriteCase> cases = {
      {"int16",
       [](auto&) {
         return std::pair{uint32_t{TypeSInt16}, std::vector<Cells>{{narrow(-3, 2)}, {7}}};
       },
       "-3\n7\n"},
      {"uint8",
       [](auto&) {
         return std::pair{uint32_t{TypeUInt8}, std::vector<Cells>{{255}}};
       },
       "255\n"},
      {"int8",
       [](auto&) {
         return std::pair{uint32_t{TypeSInt8}, std::vector<Cells>{{narrow(-128, 1)}}};
       },
       "-128\n"},
      {"uint32",
       [](auto&) {
         return std::pair{uint32_t{TypeUInt32}, std::vector<Cells>{{4294967295u}}};
       },
       "4294967295\n"},
      {"int32",
       [](auto&) {
         return std::pair{uint32_t{TypeSInt32}, std::vector<Cells>{{narrow(-5, 4)}}};
       },
       "-5\n"},
      {"uint64",
       [](auto&) {
         return std::pair{uint32_t{TypeUInt64}, std::vector<Cells>{{~uint64_t{0}}}};
       },
       "18446744073709551615\n"},
      {"int64",
       [](auto&) {
         return std::pair{uint32_t{TypeSInt64}, std::vector<Cells>{{uint64_t{1} << 63}}};
       },
       "-9223372036854775808\n"},
      {"time64",
       [](auto&) {
         return std::pair{uint32_t{TypeTime64}, std::vector<Cells>{{12}}};
       },
       "12\n"},
      {"bool",
       [](auto&) {
         return std::pair{uint32_t{TypeBoolean}, std::vector<Cells>{{1}, {0}}};
       },
       "true\nfalse\n"},
      {"float32",
       [](auto&) {
         return std::pair{uint32_t{TypeF32}, std::vector<Cells>{{f32Cell(2.5f)}}};
       },
       "2.500000\n"},
      {"float64",
       [](auto&) {
         return std::pair{uint32_t{TypeF64}, std::vector<Cells>{{f64Cell(-0.125)}}};
       },
       "-0.125000\n"},
      {"enumeration",
       [](ProgramBuilder& b) {
         const uint32_t t = b.typeId("File_Format");
         return std::pair{t, std::vector<Cells>{{b.enumValue(t, "RAW")}, {0}}};
       },
       "RAW\nNULL\n"},
      {"duration64 has an empty line",
       [](auto&) {
         return std::pair{uint32_t{TypeDuration64}, std::vector<Cells>{{5}}};
       },
       "\n"},
      {"structure",
       [](ProgramBuilder& b) {
         return std::pair{pairType(b), std::vector<Cells>{{5, f32Cell(2.5f)}}};
       },
       "5,2.500000\n"},
      {"nested structure flattened",
       [](ProgramBuilder& b) {
         const uint32_t inner = b.structType("Inner", {{"n", TypeUInt16}, {"on", TypeBoolean}});
         const uint32_t outer =
             b.structType("Outer", {{"a", TypeSInt8}, {"in", inner}, {"x", TypeF64}});
         return std::pair{outer, std::vector<Cells>{{narrow(-1, 1), 2, 1, f64Cell(0.5)}}};
       },
       "-1,2,true,0.500000\n"},
      {"buffer element writes nothing, not even the newline",
       [](ProgramBuilder& b) {
         return std::pair{b.arrayType(TypeUInt8, 2), std::vector<Cells>{{1, 2}}};
       },
       ""},
      {"stack gives its top first",
       [](auto&) {
         return std::pair{uint32_t{TypeSInt16}, std::vector<Cells>{{1}, {2}}};
       },
       "2\n1\n", true},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const auto [element, pushes] = c.setup(rig.b);
    const uint32_t ch =
        rig.b.global("out", c.stack ? rig.b.stackType(element, 4) : rig.b.queueType(element, 4));
    rig.load();
    const std::string path = tempPath("write.txt");
    rig.bind(ch, path, true, true);
    for (const Cells& p : pushes) rig.push(ch, p);
    sync_files(rig.env.get());
    EXPECT_EQ(readFile(path), c.expected);  // read before closing: each line is flushed
    EXPECT_TRUE(rig.contents(ch).empty());
    sync_files(rig.env.get());
    EXPECT_EQ(readFile(path), c.expected);
  }
}

TEST(FilesWrite, RawBytesThenNewlineOnlyWhenSomethingWasWritten) {
  Rig rig;
  const uint32_t ch = rig.b.global("bytes", rig.b.queueType(TypeUInt8, 8));
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
  const char* name;
  std::string file;
  int syncs;
  // Declares the element type; returns it and the elements expected.
  std::function<std::pair<uint32_t, std::vector<Cells>>(ProgramBuilder&)> setup;
};

TEST(FilesRead, TextLinesPerElementType) {
  const auto of = [](uint32_t type, std::vector<Cells> expected) {
    return [type, expected](ProgramBuilder&) { return std::pair{type, expected}; };
  };
  const std::vector<ReadCase> cases = {
      {"bool, then false at end of file", "true\nfalse\n", 3, of(TypeBoolean, {{1}, {0}, {0}})},
      {"only true is true", "True\n1\n", 2, of(TypeBoolean, {{0}, {0}})},
      {"int16 with base prefixes", "-3\n0x10\n", 2, of(TypeSInt16, {{narrow(-3, 2)}, {16}})},
      {"uint8 stored at its width", "300\n", 1, of(TypeUInt8, {{44}})},
      {"uint32 octal", "017\n", 1, of(TypeUInt32, {{15}})},
      {"int32 garbage", "zzz\n  -12abc\n", 2, of(TypeSInt32, {{0}, {narrow(-12, 4)}})},
      {"uint64 overflow saturates", "99999999999999999999999\n", 1,
       of(TypeUInt64, {{~uint64_t{0}}})},
      {"int64", "-9223372036854775808\n", 1, of(TypeSInt64, {{uint64_t{1} << 63}})},
      {"float32", "2.5\n", 1, of(TypeF32, {{f32Cell(2.5f)}})},
      {"float64", "0.125\n", 1, of(TypeF64, {{f64Cell(0.125)}})},
      {"duration64 keeps its cleared value", "42\n", 1, of(TypeDuration64, {{0}})},
      {"enumeration by name, else the first literal", "WRITE\nwrite\n", 2,
       [](ProgramBuilder& b) {
         const uint32_t t = b.typeId("File_Access");
         return std::pair{t,
                          std::vector<Cells>{{b.enumValue(t, "WRITE")}, {b.enumValue(t, "READ")}}};
       }},
      {"structure", "5,2.5\n", 1,
       [](ProgramBuilder& b) {
         return std::pair{pairType(b), std::vector<Cells>{{5, f32Cell(2.5f)}}};
       }},
      {"structure, missing field stays cleared", "7\n", 1,
       [](ProgramBuilder& b) {
         return std::pair{pairType(b), std::vector<Cells>{{7, 0}}};
       }},
      {"structure, extra tokens ignored", "5,2.5,9,9\n", 1,
       [](ProgramBuilder& b) {
         return std::pair{pairType(b), std::vector<Cells>{{5, f32Cell(2.5f)}}};
       }},
      {"structure, separators only", ",,,,\n", 1,
       [](ProgramBuilder& b) {
         return std::pair{pairType(b), std::vector<Cells>{{0, 0}}};
       }},
      {"nested structure round trip", "-1,2,true,0.5\n", 1,
       [](ProgramBuilder& b) {
         const uint32_t inner = b.structType("Inner", {{"n", TypeUInt16}, {"on", TypeBoolean}});
         const uint32_t outer =
             b.structType("Outer", {{"a", TypeSInt8}, {"in", inner}, {"x", TypeF64}});
         return std::pair{outer, std::vector<Cells>{{narrow(-1, 1), 2, 1, f64Cell(0.5)}}};
       }},
      {"long line read in pieces of 1023 bytes", std::string(3000, '7') + "\n", 4,
       of(TypeSInt64, {{0x7FFFFFFFFFFFFFFF}, {0x7FFFFFFFFFFFFFFF}, {0x7FFFFFFFFFFFFFFF}, {0}})},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const auto [element, expected] = c.setup(rig.b);
    const uint32_t ch = rig.b.global("in", rig.b.queueType(element, 8));
    rig.load();
    const std::string path = tempPath("read.txt");
    writeFile(path, c.file);
    rig.bind(ch, path, false, true);
    for (int i = 0; i < c.syncs; ++i) sync_files_input(rig.env.get());
    EXPECT_EQ(rig.contents(ch), expected);
  }
}

TEST(FilesRead, FullChannelReadsNothing) {
  for (const bool text : {true, false}) {
    SCOPED_TRACE(text ? "text" : "raw");
    Rig rig;
    const uint32_t ch = rig.b.global("in", rig.b.queueType(TypeUInt8, 1));
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
  const char* name;
  std::string file;
  uint32_t capacity;
  Cells before;
  std::vector<Cells> expected;
  size_t queueFullReports;
};

TEST(FilesRead, RawLineBytesUpToTheCapacity) {
  const std::vector<RawReadCase> cases = {
      {"bytes and the newline", "ab\ncd\n", 8, {}, {{'a'}, {'b'}, {'\n'}}, 0},
      {"cut at the capacity", "abcd\n", 2, {}, {{'a'}, {'b'}}, 0},
      {"a push into a full queue is reported", "xyz\n", 3, {'p'}, {{'p'}, {'x'}, {'y'}}, 1},
      {"end of file pushes nothing", "", 4, {}, {}, 0},
  };
  for (const RawReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const uint32_t ch = rig.b.global("in", rig.b.queueType(TypeUInt8, c.capacity));
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

TEST(FilesRead, HostileRawLineIsReadInBoundedPieces) {
  Rig rig;
  const uint32_t ch = rig.b.global("in", rig.b.queueType(TypeUInt8, 4000));
  rig.load();
  const std::string path = tempPath("long.bin");
  writeFile(path, std::string(2000, '\xff') + "\n");
  rig.bind(ch, path, false, false);
  sync_files_input(rig.env.get());
  EXPECT_EQ(rig.contents(ch).size(), 1023u);
  sync_files_input(rig.env.get());
  EXPECT_EQ(rig.contents(ch).size(), 2001u);
  EXPECT_EQ(rig.contents(ch).back(), Cells{'\n'});
}

// ---------------------------------------------------------------- binding

TEST(FilesBind, MoreBindingsThanTheTableHolds) {
  Rig rig({.fileTypes = true, .maxFiles = 2});
  const uint32_t ch = rig.b.global("out", rig.b.queueType(TypeUInt8, 4));
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
    Rig rig({.fileTypes = true, .maxFiles = 1});
    const uint32_t ch = rig.b.global("ch", rig.b.queueType(TypeUInt8, 4));
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
  const uint32_t ch = rig.b.global("out", rig.b.queueType(TypeUInt8, 4));
  rig.load();
  rig.bind(ch, kept + "5678", true, true);
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(kept + "5"));
}

TEST(FilesBind, RawNeedsAUint8Queue) {
  const struct {
    const char* name;
    bool stack;
    uint32_t element;
    bool message;
  } cases[] = {
      {"uint8 queue", false, TypeUInt8, false},
      {"uint8 stack", true, TypeUInt8, true},
      {"int16 queue", false, TypeSInt16, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const uint32_t type = c.stack ? rig.b.stackType(c.element, 4) : rig.b.queueType(c.element, 4);
    const uint32_t ch = rig.b.global("ch", type);
    rig.load();
    StdoutCapture out;
    rig.bind(ch, tempPath("raw.bin"), true, false);
    rig.bind(ch, tempPath("text.txt"), true, true);
    EXPECT_EQ(out.text(), c.message ? "only uint8 queue raw buffer type is supported \n" : "");
  }
  // The binding is kept: an int16 queue still takes the bytes.
  Rig rig;
  const uint32_t ch = rig.b.global("ch", rig.b.queueType(TypeSInt16, 4));
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
  const uint32_t out = withFiles.b.global("out", withFiles.b.queueType(TypeSInt16, 4));
  withFiles.load();
  const std::string path = tempPath("stale.txt");
  withFiles.bind(out, path, true, true);

  // A later program without the type must not inherit the earlier bindings.
  Rig plain(BuilderOptions{});
  const uint32_t same = plain.b.global("out", plain.b.queueType(TypeSInt16, 4));
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
  const uint32_t ch = rig.b.global("out", rig.b.queueType(TypeUInt32, 4));
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
