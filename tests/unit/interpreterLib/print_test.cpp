// Program output: print and println conversions and escapes, the unit form
// of times, and printing into uint8 arrays and queues.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/buffer.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;
using namespace std::string_literals;

namespace {

struct PrintTest : InterpFixture {
  // Values whose type changes what a conversion reads.
  uint32_t i8 = b.global("i8", TypeSInt8, {0xFF});       // -1 in its low byte only
  uint32_t i16 = b.global("i16", TypeSInt16, {0xFFFB});  // -5
  uint32_t flag = b.global("flag", TypeBoolean, {1});
  int next = 0;

  // A global of `type` holding `cells`.
  N value(uint32_t type, std::vector<uint64_t> cells) {
    return b.gvar(
        b.global(std::string("g").append(std::to_string(next++)), type, std::move(cells)));
  }
  std::string run(N call) {
    host->printed.clear();
    eval(call);
    return host->printed;
  }
  N sprint(N target, std::string_view format, std::vector<N> values = {}) {
    const uint32_t code = values.empty() ? kCallStringPrint : kCallStringPrintValues;
    values.insert(values.begin(), {target, b.str(format)});
    return b.call(code, TypeStatement, none, values);
  }
  // A uint8 array filled with '#', so that untouched cells show.
  uint32_t filledArray(uint32_t size) {
    return b.global(std::string("a").append(std::to_string(next++)), b.arrayType(TypeUInt8, size),
                    std::vector<uint64_t>(size, '#'));
  }
  // The characters of a uint8 array's cells, or of a channel's elements.
  std::string text(uint32_t g) {
    const TaggedValue v = global(g);
    const TypeRecord& type = env->program->typeTable[v.typeId];
    const uint32_t n = type.bufferType == ARRAY_BUFFER ? type.size : channel_count(env.get(), v);
    std::string out;
    for (uint32_t i = 0; i < n; ++i)
      out.push_back(static_cast<char>(buffer_getIndexValue(env.get(), v, i).value->u64));
    return out;
  }
};

}  // namespace

TEST_F(PrintTest, PrintAndPrintln) {
  const uint32_t word = b.arrayType(TypeUInt8, 4);
  const auto time = [&](uint32_t type, uint64_t v) { return b.print("%t", {value(type, {v})}); };
  const std::pair<N, std::string> cases[] = {
      {b.print(R"(a%db\n)", {b.gvar(i16)}), "a-5b\n"},
      {b.print("%d %d", {b.integer(1)}), "1 "},  // no value left for the second
      {b.print("%q%d", {b.integer(7)}), "7"},    // %q consumes nothing
      {b.print("100%%"), "100%"},
      {b.print("%c", {b.integer(0x141)}), "A"},  // low 8 bits
      {b.print("%i", {b.gvar(i8)}), "-1"},
      {b.print("%u %x", {b.gvar(i8), b.gvar(i8)}), "18446744073709551615 ffffffffffffffff"},
      {b.print("%f %f %f", {b.f32(0.5f), b.f64(-1.25), b.integer(3)}),
       "0.500000 -1.250000 3.000000"},
      {b.print("<%s>", {b.str(std::string_view("ok\0no", 5))}), "<ok>"},
      {b.print("[%s]", {value(word, {'o', 'k', 0, 'z'})}), "[ok]"},
      {b.print(R"(\"\'\0\\\a\b\f\n\r\t\v\q)"), "\"'\0\\\a\b\f\n\r\t\v "s},
      {b.print(R"(x\)"), "x"},  // a trailing backslash prints nothing
      {b.print("ab%"), "ab"},
      {b.print(std::string_view("ab\0cd", 5)), "ab"},
      // A uint8 array as the format: its whole size is read.
      {b.call(kCallPrintValues, TypeStatement, none,
              {value(word, {'a', 'b', '%', 'd'}), b.integer(7), b.integer(8)}),
       "ab7"},
      {b.println("x=%d", {b.integer(4)}), "x=4\n"},
      {b.call(kCallPrintln, TypeStatement, none, {}), "\n"},
      // Times in units; zero units are skipped.
      {time(TypeTime64, 0), "0"},
      {time(TypeTime64, 86400000000000001ull), "1d1ps"},
      {time(TypeTime64, UINT64_MAX - 1), "213d12h5mn44s73ms709us551ns614ps"},
      {time(TypeTime64, UINT64_MAX), "time64.LAST"},
      {time(TypeUInt64, UINT64_MAX), "time64.LAST"},  // the time form for every other type
      {time(TypeDuration64, 0), "0"},
      {time(TypeDuration64, uint64_t(-1000)), "-1ns"},
      {time(TypeDuration64, uint64_t(INT64_MAX)), "duration64.LAST"},
      {time(TypeDuration64, uint64_t(INT64_MIN)), "duration64.FIRST"},
  };
  load();
  for (const auto& [call, expected] : cases) EXPECT_EQ(run(call), expected);
}

TEST_F(PrintTest, DisabledPrintingStillEvaluatesTheValues) {
  const uint32_t calls = b.global("calls", TypeUInt32);
  const uint32_t bump = b.function(
      "bump", {},
      b.block({b.assign(b.gvar(calls), b.op(PLUS_OP, TypeUInt32, b.gvar(calls), b.integer(1)))}));
  N print = b.print("%d%d", {b.callFunction(bump, {}), b.callFunction(bump, {})});
  N println = b.println("%d", {b.callFunction(bump, {})});
  load();
  env->ctx->print_enabled = false;           // a byte sent now would fail the print check
  EXPECT_EQ(run(print) + run(println), "");  // no line end either
  EXPECT_EQ(globalU64(calls), 3u);
}

TEST_F(PrintTest, StringPrintIntoArrays) {
  // Capacity, format, values, and every cell of the target afterwards.
  const std::tuple<uint32_t, std::string_view, std::vector<N>, std::string> cases[] = {
      {4, "abcdef", {}, "abcd"},  // the rest is dropped, no terminating 0
      {8, R"(x\ny)", {}, "x y\0####"s},
      {8, R"(\'\"\\\0|\q)", {}, "'\"\\| \0##"s},  // \0 gives nothing
      {8, std::string_view("ab\0cd", 5), {}, "ab\0#####"s},
      {8, "%q%d %d", {b.integer(7)}, "7 \0#####"s},
      {32, "%t", {value(TypeTime64, {1500000000000ull})}, "0d0h0mn1s500ms0us0ns0ps\0########"s},
      {16, "%t|%t", {b.time(S_OP, 0), value(TypeDuration64, {uint64_t(-1)})}, "0|time64.LAST\0##"s},
      {24, "%f|%f|%f", {b.f32(0.5f), b.f64(2.25), b.integer(3)}, "0.500000|2.250000|\0#####"s},
      {10, "%b%c%d%x%%", {b.gvar(flag), b.integer(321), b.gvar(i16), b.integer(255)}, "trueA-5ff%"},
      {8, "ab%s!", {b.str("cd")}, "abcd!\0##"s},
      {8, "%s!", {b.str(std::string_view("h\0i", 3))}, "h!\0#####"s},  // the 0 is overwritten
      {4, "ab%s", {b.str("cd")}, "abcd"},  // an exact fit is no overflow
      {8, "<%s>", {value(b.arrayType(TypeUInt8, 3), {'x', 'y', 'z'})}, "<xyz>\0##"s},
  };
  std::vector<std::pair<uint32_t, N>> runs;
  for (const auto& [capacity, format, values, expected] : cases) {
    const uint32_t target = filledArray(capacity);
    runs.emplace_back(target, sprint(b.gvar(target), format, values));
  }
  const uint32_t small = filledArray(4);
  N tooLong = sprint(b.gvar(small), "ab%s", {b.str("cdef")});
  load();
  for (size_t i = 0; i < runs.size(); ++i) {
    eval(runs[i].second);
    EXPECT_EQ(text(runs[i].first), std::get<3>(cases[i])) << "format " << std::get<1>(cases[i]);
  }
  EXPECT_EQ(host->printed, "");
  // A string value past the target's end fails, the target filled up to it.
  EXPECT_EQ(expectFailure([&] { eval(tooLong); }),
            "String copy exceeds target_buffer buffer size !\n");
  EXPECT_EQ(text(small), "abcd");
}

TEST_F(PrintTest, StringPrintIntoQueuesAndStacks) {
  const uint32_t queueType = b.queueType(TypeUInt8, 4);
  const uint32_t q1 = b.global("q1", queueType), q2 = b.global("q2", queueType);
  const uint32_t st = b.global("st", b.stackType(TypeUInt8, 4));
  const std::tuple<N, uint32_t, std::string> cases[] = {
      {sprint(b.gvar(q1), "abcdef"), q1, "abcd"},  // its capacity, no terminating 0
      {sprint(b.gvar(q2), "a%sb", {b.str(std::string_view("x\0y", 3))}), q2, "axb"},
      {sprint(b.gvar(st), "abc"), st, ""},  // a stack receives nothing
  };
  load();
  for (const auto& [call, g, expected] : cases) {
    eval(call);
    EXPECT_EQ(text(g), expected);
  }
}
