// The driver's trace callbacks. They keep module-wide state (the last printed
// character, the statistics tables): tests leave the last character a line
// feed, and what depends on the tables or ends the process runs in death tests.
#include "zebu_interpreter/callbacks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
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

// Inside a death test: what the callbacks write goes where the test reads.
void stdoutToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

struct CallbacksTest : InterpFixture {
  uint32_t x = b.global("x", TypeUInt8);
  uint32_t q = b.global("q", b.queueType(TypeUInt8, 4));
  uint32_t first = b.instance("first", b.process("Idle", {.states = {{"rest", none}}}));
  uint32_t led = b.instance("led", b.process("Blink", {.states = {{"on", none}, {"off", none}}}));

  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  InterpEnv* e() { return env.get(); }
  void useFakeClocks() {
    env_on_get_absolute_time(e(), [](InterpEnv*) { return gAbsolute; });
    env_on_get_local_time(e(), [](InterpEnv*) { return gLocal; });
  }
  TaggedValue instance(std::string_view name) { return global(b.globalId(name)); }
  template <class F>
  std::string printed(F f) {
    StdoutCapture out;
    f();
    return out.text();
  }
};

}  // namespace

TEST_F(CallbacksTest, PrintlnStampsTheFirstCharacterOfEachLine) {
  N println = b.println("v=%d", {b.integer(5)});
  load();
  env_on_print(e(), callback_print_char);
  const std::string lines = printed([&] {
    print_char(e(), 'a');
    env_addTime(e(), 2 * kSecond);
    print_char(e(), '\n');
    env_addTime(e(), kSecond);
    print_char(e(), 'b');  // the stamp is taken now, at 3 s
    env_addTime(e(), kSecond);
    print_char(e(), '\n');  // nothing is written after the final line feed
    env_addTime(e(), kSecond);
  });
  EXPECT_EQ(lines, "[0.000000000000:PRINTLN] a\n[3.000000000000:PRINTLN] b\n");
  EXPECT_EQ(printed([&] { eval(println); }), "[5.000000000000:PRINTLN] v=5\n");
}

TEST_F(CallbacksTest, StampsAreSecondsAndTwelveDigitsOfPicoseconds) {
  load();
  useFakeClocks();
  env_on_print(e(), callback_print_char);
  for (const auto& [t, stamp] :
       {std::pair{uint64_t{3}, "0.000000000003"}, std::pair{UINT64_MAX, "18446744.073709551615"}}) {
    gAbsolute = t;
    EXPECT_EQ(printed([&] { print_string(e(), "x\n"); }),
              std::string("[") + stamp + ":PRINTLN] x\n");
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
  EXPECT_EQ(printed([&] {
              exec(assign);
              eval(push);
            }),
            "[2.000000000000:ASSIGN] Assign x new value: 5\n"
            "[2.000000000000:ASSIGN][0.000000000001] Pushed q new value: 7\n");
  // The callback leaves the change to the interpreter.
  EXPECT_EQ(global(x).value->u8, 5);
  EXPECT_EQ(channel_count(e(), global(q)), 1u);
}

TEST_F(CallbacksTest, StateLines) {
  load();
  useFakeClocks();
  gAbsolute = kSecond;
  for (const auto& [kind, index, tail] : {std::tuple{kFsmEnteredState, 0u, "state \"on\"\n"},
                                          std::tuple{kFsmAfterFired, 0u, "transition 1\n"},
                                          std::tuple{kFsmAfterFired, 2u, "transition 3\n"}}) {
    EXPECT_EQ(printed([&] { callback_state_changed(e(), instance("led"), kind, index); }),
              std::string("[1.000000000000:STATE] process \"Blink\", instance \"led\", ") + tail);
  }
}

TEST_F(CallbacksTest, InvalidOperationsFailWithTheNodesLine) {
  N division = b.op(DIV_OP, TypeUInt8, b.gvar(x), b.integer(0));
  b.setLine(division, 42);
  load();
  EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), node(division), 7); }),
            "test : stack empty at line 42\n");
  EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), nullptr, 1); }),
            "test : modulo zero at line 0\n");
  // Reported by the interpreter itself.
  interpreter_on_invalid_op(e(), callback_invalid_op);
  EXPECT_EQ(expectFailure([&] { eval(division); }), "test : division by zero at line 42\n");
}

// ---------------------------------------------------------------- the end of the run

using CallbacksDeathTest = CallbacksTest;

TEST_F(CallbacksDeathTest, ExitLines) {
  load();
  useFakeClocks();
  for (const auto& [line, code, t, stats, expected] :
       {std::tuple{12u, uint8_t{3}, uint64_t{0}, false, "EXIT AT LINE 12 (3) AT 0 (0)\n"},
        std::tuple{0u, uint8_t{0}, 2 * kSecond, true,
                   "EXIT (SUCCESS) AT 2s (2000000000000)\n@kova:time {\n}\n"}}) {
    gAbsolute = t;
    EXPECT_EXIT(
        {
          stdoutToStderr();
          if (stats) enableStats(e());
          callback_exit(e(), line, code);
        },
        testing::ExitedWithCode(code), testing::Eq(std::string(expected)));
  }
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
        std::exit(0);
      },
      testing::ExitedWithCode(0),
      "^@kova:time \\{\n  first\\.wcet = 0;\n  led\\.wcet = [0-9]+ms[0-9a-z]*;\n\\}\n$");
}

TEST_F(CallbacksDeathTest, AFailedAssertionEndsWithStatus8) {
  load();
  // A holding assertion prints nothing and returns.
  EXPECT_EQ(printed([&] { callback_assert(e(), 1, "main.kv", 7, "", "x > 1"); }), "");
  EXPECT_EXIT(
      {
        stdoutToStderr();
        callback_assert(e(), 0, "main.kv", 7, "", "x > 1");
      },
      testing::ExitedWithCode(8),
      testing::Eq(std::string("main.kv:7: : Assertion 'x > 1' failed")));
}
