// Iterators: walking queues, stacks and arrays, removing the current element
// during the walk, and the failures of a missing current element.
#include "interpreterLib/iterator.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_locals.h"
#include "interpreterLib/buffer.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

using Visits = std::vector<std::tuple<uint64_t, uint32_t, bool>>;  // current, index, is_last

struct IteratorTest : InterpFixture {
  N call = b.node(CALL_OP, 0u);
  TaggedValue buffer = kEmptyValue;  // held for the whole walk, as the loop does

  // An iterator declaration over global `g` of type `bufferType`.
  N iteratorDecl(uint32_t bufferType, uint32_t g) {
    return b.node(ITERATOR_DECL_OP, b.iteratorType(bufferType), b.node(SYM, b.symbol("it")),
                  b.gvar(g));
  }
  void push(TaggedValue ch, uint64_t v) {
    ValueCell cell{.u64 = v};
    channel_push(env.get(), node(call), ch, &cell);
  }
  std::vector<uint64_t> contents(TaggedValue ch) {
    std::vector<uint64_t> out;
    for (uint32_t i = 0; i < channel_count(env.get(), ch); ++i)
      out.push_back(buffer_getIndexValue(env.get(), ch, i).value->u64);
    return out;
  }
  // Steps the iterator the way the loop statement does, recording each visit
  // before running `body`; returns the iterator, which stays declared.
  TaggedValue walk(N decl, Visits& visits, const std::function<void(TaggedValue)>& body) {
    InterpEnv* e = env.get();
    uint32_t id = 0;
    const TaggedValue* declared = iterator_declare(e, node(decl), &id, &buffer);
    EXPECT_EQ(LocalVariable_getRelativeScopeValue(e, id), declared);  // id counts from the scope
    const bool channel = channel_isChannel(e, buffer);
    const uint32_t arraySize = Type_getSize(e->program.get(), buffer.typeId);
    for (;;) {
      const TaggedValue it = *LocalVariable_getRelativeScopeValue(e, id);
      const uint32_t index = iterator_getIndex(it);
      if (index >= (channel ? channel_count(e, buffer) : arraySize)) return it;
      if (channel) iterator_setNextIndex(it, iterator_has_next(e, it) ? index + 1 : NO_ID);
      visits.emplace_back(iterator_current(e, it).value->u64, iterator_index(e, it).value->u32,
                          iterator_isLast(e, it).value->boolean != 0);
      body(it);
      channel ? iterator_setIndex(it, iterator_getNextIndex(it)) : iterator_incrementIndex(it);
    }
  }
};

}  // namespace

TEST_F(IteratorTest, RemovingDuringAWalk) {
  const struct {
    bool stack;
    uint32_t rotate;                          // pushes and pops first, so the ring wraps
    std::vector<uint64_t> pushed, remaining;  // remaining in logical order
    std::set<uint64_t> removed;
    std::vector<uint32_t> indexes;  // of each visit
  } cases[] = {
      {false, 0, {1, 2, 3}, {1, 3}, {2}, {0, 1, 1}},
      {false, 0, {1, 2, 3}, {1, 2}, {3}, {0, 1, 2}},
      {false, 0, {1, 2, 3}, {}, {1, 2, 3}, {0, 0, 0}},
      {false, 3, {4, 5, 6, 7}, {4, 6}, {5, 7}, {0, 1, 1, 2}},
      {true, 0, {1, 2, 3}, {3, 1}, {2}, {0, 1, 1}},
      {true, 0, {1, 2, 3}, {2, 1}, {3}, {0, 0, 1}},
      {true, 0, {1, 2, 3}, {3, 2}, {1}, {0, 1, 2}},
      {true, 0, {1, 2, 3}, {}, {1, 2, 3}, {0, 0, 0}},
  };
  const uint32_t types[] = {b.queueType(TypeUInt8, 4), b.stackType(TypeUInt8, 4)};
  const uint32_t globals[] = {b.global("q", types[0]), b.global("s", types[1])};
  const N decls[] = {iteratorDecl(types[0], globals[0]), iteratorDecl(types[1], globals[1])};
  load();
  LocalVariable_declare(env.get(), TypeUInt8);  // a local declared before the loops
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(k);
    const TaggedValue ch = global(globals[c.stack]);
    channel_clear(env.get(), ch);
    for (uint32_t r = 0; r < c.rotate; ++r) {
      push(ch, 9);
      channel_pop(env.get(), node(call), ch);
    }
    for (uint64_t v : c.pushed) push(ch, v);
    // Every element is visited once, in logical order; is_last only at the end.
    const size_t n = c.pushed.size();
    Visits want;
    for (size_t i = 0; i < n; ++i)
      want.emplace_back(c.pushed[c.stack ? n - 1 - i : i], c.indexes[i], i + 1 == n);
    Visits visits;
    const LocalVarsCounts before = Variable_getCurrentLocalVarCounts(env.get());
    const TaggedValue it = walk(decls[c.stack], visits, [&](TaggedValue i) {
      if (c.removed.count(iterator_current(env.get(), i).value->u64) != 0)
        iterator_remove(env.get(), i);
    });
    EXPECT_EQ(visits, want);
    EXPECT_EQ(contents(ch), c.remaining);
    if (c.remaining.empty()) {  // no current element after the last removal
      EXPECT_EQ(iterator_isLast(env.get(), it).value->boolean, 1);
      EXPECT_EQ(expectFailure([&] { iterator_current(env.get(), it); }), "Invalid iterator\n");
      EXPECT_EQ(expectFailure([&] { iterator_remove(env.get(), it); }), "Invalid iterator\n");
    }
    Variable_restorePrevLocalVarCounts(env.get(), before);
    EXPECT_TRUE(host->invalidOps.empty());
  }
}

TEST_F(IteratorTest, ArraysAreWalkedInPlaceButNotShortened) {
  const uint32_t type = b.arrayType(TypeUInt8, 3);
  const uint32_t arr = b.global("arr", type, {1, 2, 3});
  const N decl = iteratorDecl(type, arr);
  load();
  Visits visits;
  const TaggedValue it = walk(decl, visits, [&](TaggedValue i) {
    iterator_current(env.get(), i).value->u64 *= 10;  // the element itself, not a copy
  });
  EXPECT_EQ(visits, (Visits{{1, 0, false}, {2, 1, false}, {3, 2, true}}));
  EXPECT_EQ(global(arr).value[1].u64, 20u);
  iterator_setIndex(it, 1);
  EXPECT_EQ(expectFailure([&] { iterator_remove(env.get(), it); }),
            "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n");
  EXPECT_EQ(global(arr).value[2].u64, 30u);
}

// The loop statement, after a local declared before it, with the iterator
// calls in its body:
//   loop over q with it { x = x * 10 + it.current; if (it.current == 2) it.remove_current; }
TEST_F(IteratorTest, LoopStatementWithRemoval) {
  const uint32_t type = b.queueType(TypeUInt8, 4);
  const uint32_t q = b.global("q", type);
  const uint32_t x = b.global("x", TypeUInt64);
  const auto current = [&] { return b.call(kCallIterCurrent, TypeUInt8, b.local(1)); };
  const N body = b.block(
      {b.assign(b.gvar(x), b.op(PLUS_OP, TypeUInt64,
                                b.op(MULT_OP, TypeUInt64, b.gvar(x), b.integer(10)), current())),
       b.if_(b.op(CEQ_OP, TypeUInt8, current(), b.integer(2)),
             b.call(kCallIterRemoveCurrent, TypeStatement, b.local(1)))});
  const N loop = b.loopOver(b.iteratorType(type), "it", b.gvar(q), body);
  load();
  for (uint64_t v : {1, 2, 3}) push(global(q), v);
  LocalVariable_declare(env.get(), TypeUInt8);
  exec(loop);
  EXPECT_EQ(globalU64(x), 123u);
  EXPECT_EQ(contents(global(q)), (std::vector<uint64_t>{1, 3}));
  EXPECT_EQ(env->ctx->localVarsIndexes.count.variables, 1u);
}
