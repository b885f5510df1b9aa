// Iterators: the failures of a missing current element and of a removal
// from an array.
#include "interpreterLib/iterator.h"

#include <gtest/gtest.h>

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

// Visits in logical order, removals on the way and arrays changed in place:
// the golden run iterators. An array cannot be shortened: the run ends,
// the array as it was.
TEST_F(IteratorTest, ArraysAreNotShortened) {
  const uint32_t type = b.arrayType(TypeUInt8, 3);
  const uint32_t arr = b.global("arr", type, {1, 2, 3});
  const N remove = loop(type, arr,
                        b.if_(b.op(CEQ_OP, TypeUInt8, current(), b.integer(2)),
                              b.call(kCallIterRemoveCurrent, TypeStatement, it())));
  start();
  EXPECT_EQ(expectFailure([&] { exec(remove); }), "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n");
  EXPECT_EQ(contents(global(log)), (Cells{100, 210}));
  EXPECT_EQ(global(arr).value[1].u64, 2u);
  EXPECT_EQ(global(arr).value[2].u64, 3u);
}
