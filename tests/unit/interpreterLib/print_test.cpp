// Program output: print and println conversions and escapes, the unit form
// of times, and printing into uint8 arrays and queues.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/buffer.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;
using namespace std::string_literals;

namespace {

uint64_t bits(int64_t v) {
  return static_cast<uint64_t>(v);
}

struct PrintTest : InterpFixture {
  // Values whose type changes what a conversion reads.
  uint32_t i8 = b.global("i8", TypeSInt8, {0xFF});       // -1 in its low byte only
  uint32_t i16 = b.global("i16", TypeSInt16, {0xFFFB});  // -5
  uint32_t flag = b.global("flag", TypeBoolean, {1});
  uint32_t okText = b.global("okText", b.arrayType(TypeUInt8, 4), {'o', 'k', 0, 'z'});

  std::string run(N call) {
    host->printed.clear();
    eval(call);
    return host->printed;
  }
};

}  // namespace

TEST_F(PrintTest, ConversionsAndEscapes) {
  struct Case {
    std::string_view format;
    std::vector<N> values;
    std::string expected;
  };
  const Case cases[] = {
      {R"(a%db\n)", {b.gvar(i16)}, "a-5b\n"},
      {"%d %d", {b.integer(1)}, "1 "},  // no value left for the second
      {"%d", {}, ""},
      {"%q%d", {b.integer(7)}, "7"},  // %q consumes nothing
      {"100%%", {}, "100%"},
      {"%b/%b", {b.gvar(flag), b.boolean(false)}, "true/false"},
      {"%c", {b.integer(0x141)}, "A"},  // low 8 bits
      {"%i", {b.gvar(i8)}, "-1"},
      {"%u %x", {b.gvar(i8), b.gvar(i8)}, "18446744073709551615 ffffffffffffffff"},
      {"%x", {b.integer(0xBEEF)}, "beef"},
      {"%f %f %f", {b.f32(0.5f), b.f64(-1.25), b.integer(3)}, "0.500000 -1.250000 3.000000"},
      {"<%s>", {b.str("hi")}, "<hi>"},
      {"<%s>", {b.str(std::string_view("ok\0no", 5))}, "<ok>"},
      {"[%s]", {b.gvar(okText)}, "[ok]"},
      {R"(\"\'\0\\\a\b\f\n\r\t\v\q)", {}, "\"'\0\\\a\b\f\n\r\t\v "s},
      {R"(x\)", {}, "x"},  // a trailing backslash prints nothing
      {"ab%", {}, "ab"},
      {std::string_view("ab\0cd", 5), {}, "ab"},
  };
  std::vector<N> calls;
  for (const Case& c : cases) calls.push_back(b.print(c.format, c.values));
  // A uint8 array as the format: its whole size is read.
  const uint32_t word = b.global("word", b.arrayType(TypeUInt8, 4), {'a', 'b', '%', 'd'});
  N fromArray =
      b.call(kCallPrintValues, TypeStatement, none, {b.gvar(word), b.integer(7), b.integer(8)});
  load();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(run(calls[i]), cases[i].expected) << "format " << cases[i].format;
  }
  EXPECT_EQ(run(fromArray), "ab7");
}

TEST_F(PrintTest, PrintlnEndsTheLine) {
  N withValue = b.println("x=%d", {b.integer(4)});
  N formatOnly = b.println("done");
  N bare = b.call(kCallPrintln, TypeStatement, none, {});
  load();
  EXPECT_EQ(run(withValue), "x=4\n");
  EXPECT_EQ(run(formatOnly), "done\n");
  EXPECT_EQ(run(bare), "\n");
}

TEST_F(PrintTest, DisabledPrintingStillEvaluatesTheValues) {
  const uint32_t calls = b.global("calls", TypeUInt32);
  const uint32_t bump = b.function(
      "bump", {},
      b.block({b.assign(b.gvar(calls), b.op(PLUS_OP, TypeUInt32, b.gvar(calls), b.integer(1)))}));
  N print = b.print("%d%d", {b.callFunction(bump, {}), b.callFunction(bump, {})});
  N println = b.println("%d", {b.callFunction(bump, {})});
  load();
  env->ctx->print_enabled = false;  // a byte sent now would fail the print check
  EXPECT_EQ(run(print), "");
  EXPECT_EQ(run(println), "");  // no line end either
  EXPECT_EQ(globalU64(calls), 3u);
}

TEST_F(PrintTest, TimeTexts) {
  struct Case {
    uint32_t type;
    uint64_t value;
    std::string expected;
  };
  const Case cases[] = {
      {TypeTime64, 0, "0"},
      {TypeTime64, 1, "1ps"},
      {TypeTime64, 1500000000000ull, "1s500ms"},
      {TypeTime64, 90061000000000000ull, "1d1h1mn1s"},
      {TypeTime64, 86400000000000001ull, "1d1ps"},  // zero units are skipped
      {TypeTime64, UINT64_MAX - 1, "213d12h5mn44s73ms709us551ns614ps"},
      {TypeTime64, UINT64_MAX, "time64.LAST"},
      {TypeUInt64, UINT64_MAX, "time64.LAST"},  // the time form for every other type
      {TypeDuration64, 0, "0"},
      {TypeDuration64, bits(-1), "-1ps"},
      {TypeDuration64, bits(-1000), "-1ns"},
      {TypeDuration64, bits(-1500000000000), "-1s500ms"},
      {TypeDuration64, 3723000004000000ull, "1h2mn3s4us"},
      {TypeDuration64, bits(INT64_MAX), "duration64.LAST"},
      {TypeDuration64, bits(INT64_MIN), "duration64.FIRST"},
  };
  std::vector<N> calls;
  for (const Case& c : cases) {
    const uint32_t g = b.global("t" + std::to_string(calls.size()), c.type, {c.value});
    calls.push_back(b.print("%t", {b.gvar(g)}));
  }
  load();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(run(calls[i]), cases[i].expected) << "value " << cases[i].value;
  }
}

// ---------------------------------------------------------------- string printing

namespace {

struct StringPrintTest : PrintTest {
  N sprint(N target, std::string_view format, std::vector<N> values = {}) {
    std::vector<N> args{target, b.str(format)};
    args.insert(args.end(), values.begin(), values.end());
    return b.call(values.empty() ? kCallStringPrint : kCallStringPrintValues, TypeStatement, none,
                  args);
  }
  // A uint8 array filled with '#', so that untouched cells show.
  uint32_t filledArray(uint32_t size) {
    return b.global("target" + std::to_string(next++), b.arrayType(TypeUInt8, size),
                    std::vector<uint64_t>(size, '#'));
  }
  std::string cells(uint32_t g) {
    const TaggedValue v = global(g);
    std::string text;
    for (uint32_t i = 0; i < env->program->typeTable[v.typeId].size; ++i) {
      text.push_back(static_cast<char>(v.value[i].u64));
    }
    return text;
  }
  std::string queued(uint32_t g) {
    const TaggedValue q = global(g);
    std::string text;
    for (uint32_t i = 0; i < channel_count(env.get(), q); ++i) {
      text.push_back(static_cast<char>(buffer_getIndexValue(env.get(), q, i).value->u8));
    }
    return text;
  }
  int next = 0;
};

}  // namespace

TEST_F(StringPrintTest, IntoArrays) {
  const uint32_t t64 = b.global("t64", TypeTime64, {1500000000000ull});
  const uint32_t dm1 = b.global("dm1", TypeDuration64, {bits(-1)});
  const uint32_t xyz = b.global("xyz", b.arrayType(TypeUInt8, 3), {'x', 'y', 'z'});
  struct Case {
    uint32_t capacity;
    std::string_view format;
    std::vector<N> values;
    std::string expected;  // every cell of the target
  };
  const Case cases[] = {
      {4, "abcdef", {}, "abcd"},  // the rest is dropped, no terminating 0
      {8, R"(x\ny)", {}, "x y\0####"s},
      {8, R"(\'\"\\\0|\q)", {}, "'\"\\| \0##"s},  // \0 gives nothing
      {8, std::string_view("ab\0cd", 5), {}, "ab\0#####"s},
      {8, "ab%", {}, "ab\0#####"s},
      {8, R"(ab\)", {}, "ab\0#####"s},
      {8, "%q%d %d", {b.integer(7)}, "7 \0#####"s},
      {32, "%t", {b.gvar(t64)}, "0d0h0mn1s500ms0us0ns0ps\0########"s},
      {16, "%t|%t", {b.s(0), b.gvar(dm1)}, "0|time64.LAST\0##"s},  // read as unsigned
      {24, "%f|%f|%f", {b.f32(0.5f), b.f64(2.25), b.integer(3)}, "0.500000|2.250000|\0#####"s},
      {40,
       "%b%c%d%u%x%%",
       {b.gvar(flag), b.integer(0x141), b.gvar(i16), b.gvar(i8), b.integer(255)},
       "trueA-518446744073709551615ff%\0#########"s},
      {8, "ab%s!", {b.str("cd")}, "abcd!\0##"s},
      {8,
       "%s!",
       {b.str(std::string_view("h\0i", 3))},
       "h!\0#####"s},                            // the copied 0 is overwritten
      {4, "ab%s", {b.str("cd")}, "abcd"},        // an exact fit is no overflow
      {8, "<%s>", {b.gvar(xyz)}, "<xyz>\0##"s},  // an array source: its size
  };
  std::vector<std::pair<uint32_t, N>> runs;
  for (const Case& c : cases) {
    const uint32_t target = filledArray(c.capacity);
    runs.emplace_back(target, sprint(b.gvar(target), c.format, c.values));
  }
  load();
  for (size_t i = 0; i < runs.size(); ++i) {
    eval(runs[i].second);
    EXPECT_EQ(cells(runs[i].first), cases[i].expected) << "format " << cases[i].format;
  }
  EXPECT_EQ(host->printed, "");
}

TEST_F(StringPrintTest, StringCopyPastTheTargetFails) {
  const uint32_t target = filledArray(4);
  N call = sprint(b.gvar(target), "ab%s", {b.str("cdef")});
  load();
  EXPECT_EQ(expectFailure([&] { eval(call); }),
            "String copy exceeds target_buffer buffer size !\n");
  EXPECT_EQ(cells(target), "abcd");
}

TEST_F(StringPrintTest, IntoQueuesAndStacks) {
  const uint32_t queueType = b.queueType(TypeUInt8, 4);
  const uint32_t q1 = b.global("q1", queueType);
  const uint32_t q2 = b.global("q2", queueType);
  const uint32_t st = b.global("st", b.stackType(TypeUInt8, 4));
  N truncated = sprint(b.gvar(q1), "abcdef");
  N copied = sprint(b.gvar(q2), "a%sb", {b.str(std::string_view("x\0y", 3))});
  N intoStack = sprint(b.gvar(st), "abc");
  load();
  eval(truncated);
  EXPECT_EQ(queued(q1), "abcd");  // its capacity, no terminating 0
  eval(copied);
  EXPECT_EQ(queued(q2), "axb");  // the copy stops at the 0
  eval(intoStack);
  EXPECT_EQ(channel_count(env.get(), global(st)), 0u);
}
