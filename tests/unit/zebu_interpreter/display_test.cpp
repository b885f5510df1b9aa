// Values and process states written on the console.
#include "zebu_interpreter/display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ASTLib/rEnv.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

uint64_t gClock = 0;
// Each read moves on, so a second read would show in the stamps.
uint64_t steppingClock(InterpEnv*) {
  const uint64_t t = gClock;
  gClock += 1000000000000ull;
  return t;
}

struct DisplayTest : InterpFixture {
  std::string shown(TaggedValue v, bool asState = false) {
    StdoutCapture out;
    asState ? display_state(env.get(), v) : display_value(env.get(), v);
    return out.text();
  }
  void push(TaggedValue channel, uint64_t v) {
    ValueCell cell{.u64 = v};
    channel_push(env.get(), nullptr, channel, &cell);
  }
};

}  // namespace

// Values of every declared type: the golden run values. Here, what only a
// program file holds: the literal types and an enumeration value naming no
// literal.
TEST_F(DisplayTest, Values) {
  const uint32_t color = b.enumType("Color", {"RED", "GREEN"});
  struct Case {
    uint32_t type;
    uint64_t cell;
    std::string expected;
  };
  const Case cases[] = {
      {TypeInt, UINT64_MAX, "18446744073709551615"},
      {TypeSInt, UINT64_MAX, "-1"},
      {color, 0xFFFFFFF0u, "NULL"},
      {TypeTime, 5, ""},  // the literal types print nothing
  };
  std::vector<uint32_t> globals;
  for (const Case& c : cases)
    globals.push_back(
        b.global(std::string("v").append(std::to_string(globals.size())), c.type, {c.cell}));
  load();
  for (size_t i = 0; i < globals.size(); ++i)
    EXPECT_EQ(shown(global(globals[i])), cases[i].expected) << "case " << i;
}

TEST_F(DisplayTest, ChannelsInLogicalOrder) {
  const uint32_t q = b.global("q", b.queueType(TypeUInt8, 3));
  const uint32_t s = b.global("s", b.stackType(TypeUInt8, 3));
  load();
  const TaggedValue queue = global(q);
  for (uint64_t v : {1, 2, 3}) push(queue, v);
  queue_remove(env.get(), queue);
  queue_remove(env.get(), queue);
  for (uint64_t v : {4, 5}) push(queue, v);
  // The elements run past the end of the storage: in is behind out.
  ASSERT_LT(queue.value[0].index, queue.value[1].index);
  EXPECT_EQ(shown(queue), "{3,4,5}");
  for (uint64_t v : {1, 2, 3}) push(global(s), v);
  EXPECT_EQ(shown(global(s)), "{1,2,3}");
}

TEST_F(DisplayTest, StatesWithStaticsAndNestedInstances) {
  const uint32_t inner =
      b.process("Inner", {.statics = {{"level", TypeUInt8, {7}}}, .states = {{"idle", none}}});
  b.instance("top", b.process("Outer", {.statics = {{"on", TypeBoolean, {1}}},
                                        .subs = {{"child", inner}},
                                        .states = {{"run", none}}}));
  load();
  InterpEnv* e = env.get();
  const Program* p = e->program.get();
  const TaggedValue top = global(b.globalId("top"));
  const uint32_t topId = interp_knownField(e, top, kField_Process_Instance_instance_id).value->u32;
  const TaggedValue child =
      p->processStaticVariableTable[p->processInstanceTable[topId].staticBase];
  for (const auto& [instance, state] : {std::pair{top, "run"}, std::pair{child, "idle"}}) {
    interp_knownField(e, instance, kField_Process_Instance_process_state).value->u32 =
        b.symbol(state);
  }
  env_on_get_absolute_time(e, steppingClock);
  gClock = 1500000000003ull;
  EXPECT_EQ(shown(top, true),
            "[1.500000000003:STATE] process \"Outer\", instance \"top\", state \"run\"\n"
            "[1.500000000003:STATE] process \"Inner\", instance \"child\", state \"idle\"\n"
            "[1.500000000003:STATE] process \"Inner\", instance \"child\", local \"level\" = 7\n"
            "[1.500000000003:STATE] process \"Outer\", instance \"top\", local \"on\" = true\n");
}

// 1.5 s and three picoseconds: the state lines above.
TEST(DisplayStamp, SecondsAndTwelveDigitsOfPicoseconds) {
  for (const auto& [ps, expected] : std::initializer_list<std::pair<uint64_t, const char*>>{
           {0, "0.000000000000"},
           {3, "0.000000000003"},
           {999999999999ull, "0.999999999999"},
           {1000000000000ull, "1.000000000000"},
           {UINT64_MAX, "18446744.073709551615"}}) {
    StdoutCapture out;
    display_stamp(ps);
    EXPECT_EQ(out.text(), expected) << ps;
  }
}
