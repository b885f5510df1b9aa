// Iterators: the loop statement over queues, stacks and arrays, removing the
// current element during the loop, and the failures of a missing current
// element.
#include "interpreterLib/iterator.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_locals.h"
#include "interpreterLib/buffer.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

using Cells = std::vector<uint64_t>;

// Loops run after one local declared before them: the iterator is local 1.
struct IteratorTest : InterpFixture {
  uint32_t log = b.global("log", b.queueType(TypeUInt64, 8));

  N it() { return b.local(1); }
  N current() { return b.call(kCallIterCurrent, TypeUInt8, it()); }
  // loop over `buffer` with it { log.push(current * 100 + index * 10 + is_last); then }
  N loop(uint32_t bufferType, uint32_t g, N then) {
    const N visit = b.op(
        PLUS_OP, TypeUInt64,
        b.op(PLUS_OP, TypeUInt64, b.op(MULT_OP, TypeUInt64, current(), b.integer(100)),
             b.op(MULT_OP, TypeUInt64, b.call(kCallIterIndex, TypeUInt32, it()), b.integer(10))),
        b.cast(TypeUInt64, b.call(kCallIterIsLast, TypeBoolean, it())));
    const N body = b.block({b.call(kCallChnlPush, TypeStatement, b.gvar(log), {visit}), then});
    return b.loopOver(b.iteratorType(bufferType), "it", b.gvar(g), body);
  }
  void push(TaggedValue ch, uint64_t v) {
    ValueCell cell{.u64 = v};
    channel_push(env.get(), nullptr, ch, &cell);
  }
  Cells contents(TaggedValue ch) {
    Cells out;
    for (uint32_t i = 0; i < channel_count(env.get(), ch); ++i)
      out.push_back(buffer_getIndexValue(env.get(), ch, i).value->u64);
    return out;
  }
  void start() {
    load();
    LocalVariable_declare(env.get(), TypeUInt8);
  }
};

}  // namespace

TEST_F(IteratorTest, RemovingDuringTheLoop) {
  const struct {
    bool stack;
    uint32_t rotate;             // pushes and pops first, so the ring wraps
    Cells pushed, remaining;     // remaining in logical order
    std::set<uint64_t> removed;  // `if (it.current is one of them) it.remove_current`
    Cells indexes;               // of each visit
  } cases[] = {
      {false, 0, {1, 2, 3}, {1, 3}, {2}, {0, 1, 1}},
      {false, 0, {1, 2, 3}, {}, {1, 2, 3}, {0, 0, 0}},
      {false, 3, {4, 5, 6, 7}, {4, 6}, {5, 7}, {0, 1, 1, 2}},
      {true, 0, {1, 2, 3}, {3, 1}, {2}, {0, 1, 1}},
      {true, 0, {1, 2, 3}, {2, 1}, {3}, {0, 0, 1}},
      {true, 0, {1, 2, 3}, {}, {1, 2, 3}, {0, 0, 0}},
  };
  std::vector<std::pair<uint32_t, N>> loops;  // the channel and its loop
  for (const auto& c : cases) {
    const uint32_t type = c.stack ? b.stackType(TypeUInt8, 4) : b.queueType(TypeUInt8, 4);
    const uint32_t g = b.global(std::string("c").append(std::to_string(loops.size())), type);
    N removing = b.boolean(false);
    for (uint64_t v : c.removed)
      removing = b.logic(OR_OP, removing,
                         b.op(CEQ_OP, TypeUInt8, current(), b.integer(static_cast<int64_t>(v))));
    loops.emplace_back(
        g, loop(type, g, b.if_(removing, b.call(kCallIterRemoveCurrent, TypeStatement, it()))));
  }
  start();
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(k);
    const TaggedValue ch = global(loops[k].first);
    for (uint32_t r = 0; r < c.rotate; ++r) {
      push(ch, 9);
      channel_pop(env.get(), nullptr, ch);
    }
    for (uint64_t v : c.pushed) push(ch, v);
    channel_clear(env.get(), global(log));
    exec(loops[k].second);
    // Every element is visited once, in logical order; is_last only at the end.
    const size_t n = c.pushed.size();
    Cells want;
    for (size_t i = 0; i < n; ++i)
      want.push_back(c.pushed[c.stack ? n - 1 - i : i] * 100 + c.indexes[i] * 10 + (i + 1 == n));
    EXPECT_EQ(contents(global(log)), want);
    EXPECT_EQ(contents(ch), c.remaining);
    EXPECT_EQ(env->ctx->localVarsIndexes.count.variables, 1u);
    EXPECT_TRUE(host->invalidOps.empty());
  }
}

// After the last element is removed there is no current element.
TEST_F(IteratorTest, NoCurrentElementAfterTheLastRemoval) {
  const uint32_t type = b.queueType(TypeUInt8, 4);
  const uint32_t q = b.global("q", type);
  const N remove = b.call(kCallIterRemoveCurrent, TypeStatement, it());
  const N current = loop(type, q, b.block({remove, b.call(kCallIterCurrent, TypeUInt8, it())}));
  const N twice = loop(type, q, b.block({remove, remove}));
  start();
  for (const N l : {current, twice}) {
    push(global(q), 1);
    EXPECT_EQ(expectFailure([&] { exec(l); }), "Invalid iterator\n");
  }
}

TEST_F(IteratorTest, ArraysAreWalkedInPlaceButNotShortened) {
  const uint32_t type = b.arrayType(TypeUInt8, 3);
  const uint32_t arr = b.global("arr", type, {1, 2, 3});
  // The element itself, not a copy: it.current = it.current * 10.
  const N scale =
      loop(type, arr, b.assign(current(), b.op(MULT_OP, TypeUInt8, current(), b.integer(10))));
  const N remove = loop(type, arr,
                        b.if_(b.op(CEQ_OP, TypeUInt8, current(), b.integer(20)),
                              b.call(kCallIterRemoveCurrent, TypeStatement, it())));
  start();
  exec(scale);
  EXPECT_EQ(contents(global(log)), (Cells{100, 210, 321}));
  EXPECT_EQ(expectFailure([&] { exec(remove); }), "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n");
  EXPECT_EQ(global(arr).value[1].u64, 20u);
  EXPECT_EQ(global(arr).value[2].u64, 30u);
}
