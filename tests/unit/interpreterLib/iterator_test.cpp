// Iterators: walking queues, stacks and arrays, removing the current element
// during the walk, and the failures of a missing current element.
#include "interpreterLib/iterator.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ASTLib/call_codes.h"
#include "ASTLib/kova_locals.h"
#include "interpreterLib/buffer.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

struct Visit {
  uint64_t value;
  uint32_t index;
  bool last;
  bool operator==(const Visit&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Visit& v) {
  return os << "{" << v.value << ", " << v.index << ", " << v.last << "}";
}

struct IteratorTest : InterpFixture {
  N call = b.node(CALL_OP, 0u);

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

  // Steps the iterator the way the loop statement does, with `body` as the
  // loop body; returns the iterator, which stays declared.
  TaggedValue walk(N decl, const std::function<void(TaggedValue)>& body) {
    InterpEnv* e = env.get();
    uint32_t id = 0;
    iterator_declare(e, node(decl), &id, &buffer);
    const bool channel = channel_isChannel(e, buffer);
    for (;;) {
      const TaggedValue it = *LocalVariable_getRelativeScopeValue(e, id);
      const uint32_t index = iterator_getIndex(it);
      if (channel) {
        if (index >= channel_count(e, buffer)) return it;
        iterator_setNextIndex(it, iterator_has_next(e, it) ? index + 1 : NO_ID);
      } else if (index >= Type_getSize(e->program.get(), buffer.typeId)) {
        return it;
      }
      body(it);
      if (channel) {
        iterator_setIndex(it, iterator_getNextIndex(it));
      } else {
        iterator_incrementIndex(it);
      }
    }
  }
  Visit visit(TaggedValue it) {
    return {iterator_current(env.get(), it).value->u64, iterator_index(env.get(), it).value->u32,
            iterator_isLast(env.get(), it).value->boolean != 0};
  }

  TaggedValue buffer = kEmptyValue;  // held for the whole walk, as the loop does
};

}  // namespace

TEST_F(IteratorTest, RemovingDuringAWalk) {
  struct Case {
    std::string name;
    bool stack;
    std::vector<uint64_t> pushed;
    std::set<uint64_t> removed;
    std::vector<Visit> visits;
    std::vector<uint64_t> remaining;  // logical order
    uint32_t rotate = 0;              // pushes and pops first, so the ring wraps
  };
  const std::vector<Case> cases{
      {"queue, the middle",
       false,
       {1, 2, 3},
       {2},
       {{1, 0, false}, {2, 1, false}, {3, 1, true}},
       {1, 3}},
      {"queue, the first",
       false,
       {1, 2, 3},
       {1},
       {{1, 0, false}, {2, 0, false}, {3, 1, true}},
       {2, 3}},
      {"queue, the last",
       false,
       {1, 2, 3},
       {3},
       {{1, 0, false}, {2, 1, false}, {3, 2, true}},
       {1, 2}},
      {"queue, all", false, {1, 2, 3}, {1, 2, 3}, {{1, 0, false}, {2, 0, false}, {3, 0, true}}, {}},
      {"queue, wrapped ring",
       false,
       {4, 5, 6, 7},
       {5, 7},
       {{4, 0, false}, {5, 1, false}, {6, 1, false}, {7, 2, true}},
       {4, 6},
       3},
      {"stack, the middle",
       true,
       {1, 2, 3},
       {2},
       {{3, 0, false}, {2, 1, false}, {1, 1, true}},
       {3, 1}},
      {"stack, the top",
       true,
       {1, 2, 3},
       {3},
       {{3, 0, false}, {2, 0, false}, {1, 1, true}},
       {2, 1}},
      {"stack, the bottom",
       true,
       {1, 2, 3},
       {1},
       {{3, 0, false}, {2, 1, false}, {1, 2, true}},
       {3, 2}},
      {"stack, all", true, {1, 2, 3}, {1, 2, 3}, {{3, 0, false}, {2, 0, false}, {1, 0, true}}, {}},
  };
  std::vector<uint32_t> globals;
  std::vector<N> decls;
  for (const Case& c : cases) {
    const uint32_t type = c.stack ? b.stackType(TypeUInt8, 4) : b.queueType(TypeUInt8, 4);
    globals.push_back(b.global(c.name, type));
    decls.push_back(iteratorDecl(type, globals.back()));
  }
  load();
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.name);
    const TaggedValue ch = global(globals[k]);
    for (uint32_t r = 0; r < c.rotate; ++r) {
      push(ch, 9);
      channel_pop(env.get(), node(call), ch);
    }
    for (uint64_t v : c.pushed) push(ch, v);
    std::vector<Visit> visits;
    const LocalVarsCounts before = Variable_getCurrentLocalVarCounts(env.get());
    walk(decls[k], [&](TaggedValue it) {
      visits.push_back(visit(it));
      if (c.removed.count(visits.back().value) != 0) iterator_remove(env.get(), it);
    });
    Variable_restorePrevLocalVarCounts(env.get(), before);
    EXPECT_EQ(visits, c.visits);
    EXPECT_EQ(contents(ch), c.remaining);
    // The channel still works as a channel: pops follow the logical order.
    for (uint64_t v : c.remaining) EXPECT_EQ(channel_pop(env.get(), node(call), ch).value->u64, v);
    EXPECT_TRUE(is_channel_empty(env.get(), ch));
    EXPECT_TRUE(host->invalidOps.empty());
  }
}

TEST_F(IteratorTest, NoCurrentElementAfterTheOnlyOneIsRemoved) {
  std::vector<std::pair<uint32_t, N>> channels;
  for (uint32_t type : {b.queueType(TypeUInt8, 2), b.stackType(TypeUInt8, 2)}) {
    const uint32_t g = b.global("c" + std::to_string(type), type);
    channels.emplace_back(g, iteratorDecl(type, g));
  }
  load();
  for (const auto& [g, decl] : channels) {
    const TaggedValue ch = global(g);
    push(ch, 7);
    std::vector<uint64_t> seen;
    const TaggedValue it = walk(decl, [&](TaggedValue i) {
      seen.push_back(iterator_current(env.get(), i).value->u64);
      iterator_remove(env.get(), i);
    });
    EXPECT_EQ(seen, std::vector<uint64_t>{7});
    EXPECT_TRUE(is_channel_empty(env.get(), ch));
    EXPECT_EQ(iterator_getIndex(it), NO_ID);
    EXPECT_EQ(iterator_isLast(env.get(), it).value->boolean, 1);
    EXPECT_EQ(expectFailure([&] { iterator_current(env.get(), it); }), "Invalid iterator\n");
    EXPECT_EQ(expectFailure([&] { iterator_remove(env.get(), it); }), "Invalid iterator\n");
  }
}

TEST_F(IteratorTest, ArraysAreWalkedInPlaceButNotShortened) {
  const uint32_t type = b.arrayType(TypeUInt8, 3);
  const uint32_t arr = b.global("arr", type, {1, 2, 3});
  const N decl = iteratorDecl(type, arr);
  load();
  std::vector<Visit> visits;
  const TaggedValue it = walk(decl, [&](TaggedValue i) {
    visits.push_back(visit(i));
    const TaggedValue element = iterator_current(env.get(), i);
    EXPECT_EQ(element.globalId, arr);
    element.value->u64 *= 10;  // the element itself, not a copy
  });
  EXPECT_EQ(visits, (std::vector<Visit>{{1, 0, false}, {2, 1, false}, {3, 2, true}}));
  EXPECT_EQ(global(arr).value[1].u64, 20u);
  iterator_setIndex(it, 1);
  EXPECT_EQ(expectFailure([&] { iterator_remove(env.get(), it); }),
            "REMOVECURRENT ON ARRAY NOT SUPPORTED YET!\n");
  EXPECT_EQ(global(arr).value[2].u64, 30u);
}

TEST_F(IteratorTest, DeclarationStartsAtTheFirstElement) {
  const uint32_t type = b.queueType(TypeUInt8, 3);
  const uint32_t q = b.global("q", type);
  const N decl = iteratorDecl(type, q);
  load();
  InterpEnv* e = env.get();
  LocalVariable_declare(e, TypeUInt8);  // a local declared before the loop
  // Elements in the channel -> next index; one element has no next.
  for (const auto& [elements, next] : {std::pair{0u, 1u}, {1u, NO_ID}, {2u, 1u}}) {
    channel_clear(e, global(q));
    for (uint32_t i = 0; i < elements; ++i) push(global(q), 5 + i);
    const LocalVarsCounts before = Variable_getCurrentLocalVarCounts(e);
    uint32_t id = 0;
    TaggedValue* it = iterator_declare(e, node(decl), &id, &buffer);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(LocalVariable_getRelativeScopeValue(e, id), it);
    EXPECT_EQ(iterator_getIndex(*it), 0u);
    EXPECT_EQ(iterator_getNextIndex(*it), next) << elements;
    EXPECT_EQ(iterator_getBuffer(*it), &buffer);
    EXPECT_EQ(buffer.globalId, q);
    Variable_restorePrevLocalVarCounts(e, before);
  }
}

// The loop statement with the iterator calls in its body:
//   loop over q with it { x = x * 10 + it.current; if (it.current == 2) it.remove_current; }
TEST_F(IteratorTest, LoopStatementWithRemoval) {
  const uint32_t type = b.queueType(TypeUInt8, 4);
  const uint32_t q = b.global("q", type);
  const uint32_t x = b.global("x", TypeUInt64);
  const auto current = [&] { return b.call(kCallIterCurrent, TypeUInt8, b.local(0)); };
  const N body = b.block(
      {b.assign(b.gvar(x), b.op(PLUS_OP, TypeUInt64,
                                b.op(MULT_OP, TypeUInt64, b.gvar(x), b.integer(10)), current())),
       b.if_(b.op(CEQ_OP, TypeUInt8, current(), b.integer(2)),
             b.call(kCallIterRemoveCurrent, TypeStatement, b.local(0)))});
  const N loop = b.loopOver(b.iteratorType(type), "it", b.gvar(q), body);
  load();
  for (uint64_t v : {1, 2, 3}) push(global(q), v);
  exec(loop);
  EXPECT_EQ(globalU64(x), 123u);
  EXPECT_EQ(contents(global(q)), (std::vector<uint64_t>{1, 3}));
  EXPECT_EQ(env->ctx->localVarsIndexes.count.variables, 0u);
}
