// The driver's trace callbacks: time stamps, PRINTLN, ASSIGN and STATE lines,
// invalid operations, statistics, exit and assertion.
//
// The callbacks keep module-wide state (the last printed character, the
// statistics tables). Tests leave the last character a line feed; checks that
// depend on the tables, and the callbacks that end the process, run in death
// tests, each in a fresh process.
#include "zebu_interpreter/callbacks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "ASTLib/call_codes.h"
#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/print_format.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

constexpr uint64_t kSecond = 1000000000000ull;

uint64_t gAbsolute = 0;
uint64_t gLocal = 0;
uint64_t absoluteClock(InterpEnv*) {
  return gAbsolute;
}
uint64_t localClock(InterpEnv*) {
  return gLocal;
}

// The text as an anchored extended regular expression.
std::string exactly(const std::string& text) {
  std::string re = "^";
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) re += '\\';
    re += c;
  }
  return re + "$";
}

// Inside a death test: what the callbacks write goes where the test reads.
void stdoutToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

struct CallbacksTest : InterpFixture {
  uint32_t x = b.global("x", TypeUInt8);
  uint32_t q = b.global("q", b.queueType(TypeUInt8, 4));
  uint32_t idle = b.process("Idle", {.states = {{"rest", none}}});
  uint32_t blink = b.process("Blink", {.states = {{"on", none}, {"off", none}}});
  uint32_t first = b.instance("first", idle);
  uint32_t led = b.instance("led", blink);

  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gAbsolute = 0;
    gLocal = 0;
  }
  InterpEnv* e() { return env.get(); }
  void useFakeClocks() {
    env_on_get_absolute_time(e(), absoluteClock);
    env_on_get_local_time(e(), localClock);
  }
  TaggedValue instance(std::string_view name) { return global(b.globalId(name)); }
};

}  // namespace

TEST_F(CallbacksTest, PrintlnStampsTheFirstCharacterOfEachLine) {
  N println = b.println("v=%d", {b.integer(5)});
  load();
  env_on_print(e(), callback_print_char);
  StdoutCapture out;
  print_char(e(), 'a');
  env_addTime(e(), 2 * kSecond);
  print_char(e(), '\n');
  env_addTime(e(), kSecond);
  print_char(e(), 'b');  // the stamp is taken now, at 3 s
  env_addTime(e(), kSecond);
  print_char(e(), '\n');
  env_addTime(e(), kSecond);
  const std::string twoLines = "[0.000000000000:PRINTLN] a\n[3.000000000000:PRINTLN] b\n";
  EXPECT_EQ(out.text(), twoLines);  // nothing after the final line feed
  eval(println);
  EXPECT_EQ(out.text(), twoLines + "[5.000000000000:PRINTLN] v=5\n");
}

TEST_F(CallbacksTest, StampsAreSecondsAndTwelveDigitsOfPicoseconds) {
  struct Case {
    uint64_t t;
    std::string stamp;
  };
  const Case cases[] = {
      {0, "0.000000000000"},
      {3, "0.000000000003"},
      {1500000000000ull, "1.500000000000"},
      {12345678901234567ull, "12345.678901234567"},
      {UINT64_MAX, "18446744.073709551615"},
  };
  load();
  useFakeClocks();
  env_on_print(e(), callback_print_char);
  for (const Case& c : cases) {
    gAbsolute = c.t;
    StdoutCapture out;
    print_string(e(), "x\n");
    EXPECT_EQ(out.text(), "[" + c.stamp + ":PRINTLN] x\n");
  }
}

TEST_F(CallbacksTest, AssignAndPushLines) {
  N assign = b.assign(b.gvar(x), b.integer(5));
  N push = b.call(kCallChnlPush, TypeStatement, b.gvar(q), {b.integer(7)});
  load();
  useFakeClocks();
  env_on_any_variable_change(e(), callback_var_change);
  gAbsolute = 2 * kSecond;
  gLocal = 1;
  StdoutCapture out;
  exec(assign);
  eval(push);
  EXPECT_EQ(out.text(),
            "[2.000000000000:ASSIGN] Assign x new value: 5\n"
            "[2.000000000000:ASSIGN][0.000000000001] Pushed q new value: 7\n");
  // The callback leaves the change to the interpreter.
  EXPECT_EQ(global(x).value->u8, 5);
  EXPECT_EQ(channel_count(e(), global(q)), 1u);
}

TEST_F(CallbacksTest, StateLines) {
  struct Case {
    uint32_t kind;
    uint32_t index;
    std::string tail;
  };
  const Case cases[] = {
      {kFsmEnteredState, 0, "state \"on\"\n"},  // the initial state
      {kFsmAfterFired, 0, "transition 1\n"},    // numbered from 1
      {kFsmAfterFired, 2, "transition 3\n"},
  };
  load();
  useFakeClocks();
  gAbsolute = kSecond;
  for (const Case& c : cases) {
    StdoutCapture out;
    callback_state_changed(e(), instance("led"), c.kind, c.index);
    EXPECT_EQ(out.text(), "[1.000000000000:STATE] process \"Blink\", instance \"led\", " + c.tail);
  }
}

TEST_F(CallbacksTest, InvalidOperationsFailWithTheNodesLine) {
  N division = b.op(DIV_OP, TypeUInt8, b.gvar(x), b.integer(0));
  b.setLine(division, 42);
  // Indexed by the invalid-operation code.
  const char* names[] = {"division by zero",
                         "modulo zero",
                         "first divided by negative one",
                         "first modulo negative one",
                         "queue full",
                         "queue empty",
                         "stack full",
                         "stack empty"};
  load();
  for (uint32_t kind = 0; kind < std::size(names); ++kind) {
    EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), node(division), kind); }),
              std::string("test : ") + names[kind] + " at line 42\n");
  }
  EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), nullptr, 0); }),
            "test : division by zero at line 0\n");
  // Reported by the interpreter itself.
  interpreter_on_invalid_op(e(), callback_invalid_op);
  EXPECT_EQ(expectFailure([&] { eval(division); }), "test : division by zero at line 42\n");
}

TEST_F(CallbacksTest, AHoldingAssertionPrintsNothing) {
  load();
  StdoutCapture out;
  callback_assert(e(), 1, "main.kv", 7, "", "x > 1");
  EXPECT_EQ(out.text(), "");
}

// ---------------------------------------------------------------- the end of the run

using CallbacksDeathTest = CallbacksTest;

TEST_F(CallbacksDeathTest, ExitLines) {
  struct Case {
    uint32_t line;
    uint8_t code;
    uint64_t t;
    std::string expected;
  };
  const Case cases[] = {
      {12, 3, 0, "EXIT AT LINE 12 (3) AT 0 (0)\n"},
      {0, 0, 2 * kSecond, "EXIT (SUCCESS) AT 2s (2000000000000)\n"},
      {0, 1, 1500000000005ull, "EXIT (1) AT 1s500ms5ps (1500000000005)\n"},
  };
  load();
  useFakeClocks();
  for (const Case& c : cases) {
    gAbsolute = c.t;
    EXPECT_EXIT(
        {
          stdoutToStderr();
          callback_exit(e(), c.line, c.code);
        },
        testing::ExitedWithCode(c.code), exactly(c.expected));
  }
}

TEST_F(CallbacksDeathTest, ExitWithStatisticsButNoActivation) {
  load();
  env_addTime(e(), 2 * kSecond);
  EXPECT_EXIT(
      {
        stdoutToStderr();
        enableStats(e());
        callback_exit(e(), 0, 0);
      },
      testing::ExitedWithCode(0),
      exactly("EXIT (SUCCESS) AT 2s (2000000000000)\n@kova:time {\n}\n"));
}

TEST_F(CallbacksDeathTest, StatisticsOfAnInstanceNeverActivatedShowZero) {
  load();
  EXPECT_EXIT(
      {
        stdoutToStderr();
        enableStats(e());
        callback_task_stat(e(), instance("led"), START);
        usleep(2000);
        callback_task_stat(e(), instance("led"), END);
        display_stats(e());
        std::fflush(stdout);
        std::exit(0);
      },
      testing::ExitedWithCode(0),
      "^@kova:time \\{\n  first\\.wcet = 0;\n  led\\.wcet = [0-9]+ms[0-9a-z]*;\n\\}\n$");
}

TEST_F(CallbacksDeathTest, AFailedAssertionEndsWithStatus8) {
  load();
  EXPECT_EXIT(
      {
        stdoutToStderr();
        callback_assert(e(), 0, "main.kv", 7, "", "x > 1");
      },
      testing::ExitedWithCode(8), exactly("main.kv:7: : Assertion 'x > 1' failed"));
}
