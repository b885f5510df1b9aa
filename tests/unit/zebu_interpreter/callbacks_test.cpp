// The driver's trace callbacks: time stamps, assignment and push lines, and
// the failure of an invalid operation. They keep module-wide state (the last
// printed character, the statistics): tests leave the last character a line
// feed and measure nothing. The exit lines and measured statistics are checked
// by the golden runs.
#include "zebu_interpreter/callbacks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

struct CallbacksTest : InterpFixture {
  uint32_t x = b.global("x", TypeUInt8);
  uint32_t q = b.global("q", b.queueType(TypeUInt8, 4));
  uint32_t led = b.instance("led", b.process("Blink", {.states = {{"on", none}}}));

  InterpEnv* e() { return env.get(); }
  void useFakeClocks() {
    env_on_get_absolute_time(e(), [](InterpEnv*) { return gAbsolute; });
    env_on_get_local_time(e(), [](InterpEnv*) { return gLocal; });
  }
  template <class F>
  std::string printed(F f) {
    StdoutCapture out;
    f();
    return out.text();
  }
};

}  // namespace

TEST_F(CallbacksTest, PrintlnStampsTheFirstCharacterOfEachLine) {
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
  // Seconds, then twelve digits of picoseconds.
  useFakeClocks();
  gAbsolute = UINT64_MAX;
  EXPECT_EQ(printed([&] { print_string(e(), "x\n"); }), "[18446744.073709551615:PRINTLN] x\n");
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

TEST_F(CallbacksTest, InvalidOperationsFailWithTheNodesLine) {
  N division = b.op(DIV_OP, TypeUInt8, b.gvar(x), b.integer(0));
  b.setLine(division, 42);
  load();
  EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), node(division), 7); }),
            "test : stack empty at line 42\n");
  EXPECT_EQ(expectFailure([&] { callback_invalid_op(e(), nullptr, 1); }),
            "test : modulo zero at line 0\n");
}

// A holding assertion prints nothing; statistics before any measured
// activation are an empty block.
TEST_F(CallbacksTest, NothingToReport) {
  load();
  EXPECT_EQ(printed([&] { callback_assert(e(), 1, "main.kv", 7, "", "x > 1"); }), "");
  EXPECT_EQ(printed([&] { display_stats(e()); }), "@kova:time {\n}\n");
}
