// File bindings: binding messages and limits, the text and raw formats in both
// directions, full channels, hostile file contents and the table's lifecycle.
#include "interpreterLib/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

template <class T>
uint64_t bitsOf(T v) {  // a float's cell, or a negative integer's low bytes
  uint64_t cell = 0;
  std::memcpy(&cell, &v, sizeof v);
  return cell;
}
// An enumeration literal's value (its symbol id, the same in every program).
uint64_t literal(const char* enumType, const char* name) {
  static const ProgramBuilder probe({.fileTypes = true});
  return probe.enumValue(probe.typeId(enumType), name);
}

// A loaded program with file types and one global channel `ch` of `size` `elem`s.
struct Rig {
  Rig(const char* elem, uint32_t size, bool stack = false, BuilderOptions o = {.fileTypes = true})
      : b(std::move(o)) {
    b.structType("Pair", {{"count", TypeUInt8}, {"ratio", TypeF32}});
    const uint32_t inner = b.structType("Inner", {{"n", TypeUInt16}, {"on", TypeBoolean}});
    b.structType("Outer", {{"a", TypeSInt8}, {"in", inner}, {"x", TypeF64}});
    b.arrayType(TypeUInt8, 2, "Bytes2");
    const uint32_t type = b.typeId(elem);
    ch = b.global("ch", stack ? b.stackType(type, size) : b.queueType(type, size));
    EXPECT_EQ(interp_load_from_program(env.get(), b.build()), 0);
    files_init(env.get());
  }
  ~Rig() { files_close(); }

  ProgramBuilder b;
  std::unique_ptr<InterpEnv> env = interp_create();
  TestHost host{env.get()};
  uint32_t ch = NO_ID;

  void bind(const std::string& path, bool toFile, bool text) {
    const uint32_t file = b.typeId("Kova_File"), name = b.fieldOffset(file, "name");
    std::vector<ValueCell> cells(b.type(file).storageSize);
    // As a program would: as many bytes as fit, a NUL only when there is room.
    for (size_t i = 0; i < path.size() && i < b.type(b.fieldType(file, "name")).size; ++i)
      cells[name + i].u8 = static_cast<uint8_t>(path[i]);
    cells[b.fieldOffset(file, "access")].u64 = literal("File_Access", toFile ? "WRITE" : "READ");
    cells[b.fieldOffset(file, "format")].u64 = literal("File_Format", text ? "CSV" : "RAW");
    file_variable_setup(env.get(), TaggedValue{cells.data(), file, NO_ID}, ch);
  }
  TaggedValue var() const { return env->program->globalVariableTable[ch]; }
  void push(Cells cells) {
    std::vector<ValueCell> element(buffer_getCellStorageSize(env.get(), var()));
    for (size_t i = 0; i < cells.size(); ++i) element[i].u64 = cells[i];
    channel_push(env.get(), nullptr, var(), element.data());
  }
  std::vector<Cells> contents() {  // each element's cells, in logical order
    std::vector<Cells> out;
    const uint32_t width = buffer_getCellStorageSize(env.get(), var());
    for (uint32_t i = 0; i < channel_count(env.get(), var()); ++i) {
      const ValueCell* cell = buffer_getIndexValue(env.get(), var(), i).value;
      out.emplace_back(width);
      for (uint32_t c = 0; c < width; ++c) out.back()[c] = cell[c].u64;
    }
    return out;
  }
  // Binds a file holding `file` for reading and synchronises `syncs` times.
  std::vector<Cells> read(const std::string& file, bool text, size_t syncs = 1) {
    const std::string path = tempPath("in.txt");
    std::ofstream(path, std::ios::binary) << file;
    bind(path, false, text);
    for (size_t i = 0; i < syncs; ++i) sync_files_input(env.get());
    return contents();
  }
};

enum Direction { kBoth, kWrite, kRead };

}  // namespace

TEST(Files, WritingAndReading) {
  const uint64_t read = literal("File_Access", "READ"), write = literal("File_Access", "WRITE");
  const struct {
    const char* element;
    std::vector<Cells> elements;  // written, or read one per synchronisation
    std::string text;             // the file
    Direction direction = kBoth;
    bool raw = false, stack = false;
    uint32_t capacity = 8;
    Cells before = {};  // pushed before reading
  } cases[] = {
      {"int8", {{bitsOf<int8_t>(-128)}}, "-128\n"},
      {"uint32", {{4294967295u}}, "4294967295\n"},
      {"int32", {{bitsOf<int32_t>(-5)}}, "-5\n"},
      {"uint64", {{~uint64_t{0}}}, "18446744073709551615\n"},
      {"int64", {{uint64_t{1} << 63}}, "-9223372036854775808\n"},
      {"bool", {{1}, {0}}, "true\nfalse\n"},
      {"float32", {{bitsOf(2.5f)}}, "2.500000\n"},
      {"float64", {{bitsOf(-0.125)}}, "-0.125000\n"},
      {"Pair", {{5, bitsOf(2.5f)}}, "5,2.500000\n"},
      {"Outer", {{bitsOf<int8_t>(-1), 2, 1, bitsOf(0.5)}}, "-1,2,true,0.500000\n"},
      {"int16", {{1}, {2}}, "2\n1\n", kWrite, false, true},  // a stack gives its top first
      {"File_Format", {{literal("File_Format", "RAW")}, {0}}, "RAW\nNULL\n", kWrite},
      {"duration64", {{5}}, "\n", kWrite},
      {"Bytes2", {{1, 2}}, "", kWrite},  // not even the newline
      {"uint8", {}, "", kWrite, true},   // the newline only after some byte
      {"bool", {{0}, {0}}, "True\n1\n", kRead},
      {"int16", {{16}}, "0x10\n", kRead},
      {"uint8", {{44}}, "300\n", kRead},  // stored at its width
      {"uint32", {{15}}, "017\n", kRead},
      {"int32", {{0}, {bitsOf<int32_t>(-12)}}, "zzz\n  -12abc\n", kRead},
      {"uint64", {{~uint64_t{0}}}, "99999999999999999999999\n", kRead},
      {"duration64", {{0}}, "42\n", kRead},                         // no text form: stays cleared
      {"File_Access", {{write}, {read}}, "WRITE\nwrite\n", kRead},  // no such literal: the first
      {"Pair", {{7, 0}}, "7\n", kRead},
      {"Pair", {{5, bitsOf(2.5f)}}, "5,2.5,9,9\n", kRead},
      // A hostile line is read in pieces of 1023 bytes.
      {"int64", {{INT64_MAX}, {INT64_MAX}, {INT64_MAX}, {0}}, std::string(3000, '7') + "\n", kRead},
      // Raw: the bytes of one line, the newline included, up to the capacity.
      {"uint8", {{'a'}, {'b'}, {'\n'}}, "ab\ncd\n", kRead, true},
      {"uint8", {{'a'}, {'b'}}, "abcd\n", kRead, true, false, 2},
      {"uint8", {{'p'}, {'x'}, {'y'}}, "xyz\n", kRead, true, false, 3, {'p'}},  // "queue full"
      {"uint8", {}, "", kRead, true},
      {"uint8", std::vector<Cells>(1023, {0xff}), std::string(2000, '\xff') + "\n", kRead, true,
       false, 4000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.element) + " " + c.text.substr(0, 20));
    if (c.direction != kRead) {
      Rig rig(c.element, c.capacity, c.stack);
      rig.bind(tempPath("out.txt"), true, !c.raw);
      for (const Cells& e : c.elements) rig.push(e);
      sync_files(rig.env.get());
      EXPECT_EQ(readFile(tempPath("out.txt")), c.text);  // before closing: each line is flushed
      EXPECT_TRUE(rig.contents().empty());
    }
    if (c.direction != kWrite) {
      Rig rig(c.element, c.capacity);
      for (uint64_t v : c.before) rig.push({v});
      EXPECT_EQ(rig.read(c.text, !c.raw, c.raw ? 1 : c.elements.size()), c.elements);
      EXPECT_EQ(rig.host.invalidOps.size(), c.before.size());
      for (const InvalidOp& op : rig.host.invalidOps) EXPECT_EQ(op.kind, 4u);
    }
  }
}

TEST(Files, FullChannelReadsNothing) {
  Rig rig("uint8", 1);
  rig.push({9});
  EXPECT_EQ(rig.read("1\n2\n", true), std::vector<Cells>{{9}});
  channel_pop(rig.env.get(), nullptr, rig.var());
  sync_files_input(rig.env.get());  // the first line is still there
  EXPECT_EQ(rig.contents(), std::vector<Cells>{{1}});
}

// Failed opens are reported and leave their slot free; bindings past the
// table's size are each reported.
TEST(Files, BindingFailures) {
  Rig rig("uint8", 4, false, {.fileTypes = true, .maxFiles = 2, .maxFileName = 1024});
  const std::string missing = tempPath("no_such_dir/in.txt"), dir = tempPath("a_directory");
  std::filesystem::create_directories(dir);
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) paths.push_back(tempPath("bind" + std::to_string(i) + ".txt"));
  StdoutCapture out;
  rig.bind(missing, false, true);
  rig.bind(dir, true, true);
  for (const std::string& p : paths) rig.bind(p, true, true);
  EXPECT_EQ(out.text(), "Error with file " + missing + ": " + std::strerror(ENOENT) +
                            "Error with file " + dir + ": " + std::strerror(EISDIR) +
                            "not enough files \nnot enough files \n");
  EXPECT_TRUE(std::filesystem::exists(paths[1]));
  EXPECT_FALSE(std::filesystem::exists(paths[2]));
}

TEST(Files, PathIsCutAtTheNameLimit) {
  const std::string kept = tempPath("cut1234");
  std::filesystem::remove(kept);
  // The limit counts the terminating NUL.
  Rig rig("uint8", 4, false,
          {.fileTypes = true, .maxFileName = static_cast<uint32_t>(kept.size() + 1)});
  rig.bind(kept + "5678", true, true);
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(kept + "5"));
}

TEST(Files, RawNeedsAUint8QueueButTheBindingStays) {
  const std::string message = "only uint8 queue raw buffer type is supported \n";
  for (const char* element : {"uint8", "int16"}) {
    Rig rig(element, 4);
    StdoutCapture out;
    EXPECT_EQ(rig.read("ab\n", false), (std::vector<Cells>{{'a'}, {'b'}, {'\n'}})) << element;
    EXPECT_EQ(out.text(), std::string(element) == "uint8" ? "" : message);
  }
  Rig stack("uint8", 4, true);
  StdoutCapture out;
  stack.bind(tempPath("raw.bin"), true, false);
  EXPECT_EQ(out.text(), message);
}

TEST(Files, CloseAndALaterProgramWithoutTheFileTypeUnbind) {
  files_close();  // before any table exists
  Rig rig("int16", 4);
  const std::string closed = tempPath("closed.txt"), stale = tempPath("stale.txt");
  rig.bind(closed, true, true);
  rig.push({1});
  sync_files(rig.env.get());
  files_close();
  files_close();
  rig.push({2});
  sync_files(rig.env.get());
  EXPECT_EQ(readFile(closed), "1\n");
  EXPECT_EQ(rig.contents(), std::vector<Cells>{{2}});
  files_init(rig.env.get());
  rig.bind(stale, true, true);
  Rig plain("int16", 4, false, BuilderOptions{});  // files disabled
  ASSERT_EQ(plain.ch, rig.ch);
  plain.push({7});
  sync_files(plain.env.get());
  EXPECT_EQ(plain.contents(), std::vector<Cells>{{7}});
  EXPECT_EQ(readFile(stale), "");
}
