// Buffers: channel index arithmetic, full and empty reports, sorted insertion,
// counting, clearing, element access and what a refused operation leaves.
#include "interpreterLib/buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "ASTLib/kova_locals.h"
#include "interpreterLib/interp.h"
#include "interpreterLib/operator_functions.h"
#include "tests/support/interp_fixture.h"

using namespace kova_test;

namespace {

std::vector<std::string> gChecks;

// An assert callback that records failed checks and lets the run go on.
void recordCheck(InterpEnv*, uint32_t condition, const char*, uint32_t, const char*,
                 const char* expression) {
  if (condition == 0) gChecks.emplace_back(expression);
}

constexpr uint32_t kNone = NO_ID;
using Keys = std::vector<uint64_t>;

struct BufferTest : InterpFixture {
  N call = b.node(CALL_OP, 0u);
  uint32_t pair = b.structType("Pair", {{"key", TypeUInt64}, {"tag", TypeUInt64}});

  const AST_Node* callNode() const { return node(call); }

  // An element whose first cell is `key` (and, two cells wide, key + 100).
  std::vector<ValueCell> element(TaggedValue buffer, uint64_t key) {
    std::vector<ValueCell> cells(buffer_getCellStorageSize(env.get(), buffer));
    for (size_t c = 0; c < cells.size(); ++c) cells[c].u64 = key + 100 * c;
    return cells;
  }
  void push(TaggedValue ch, uint64_t key) {
    channel_push(env.get(), callNode(), ch, element(ch, key).data());
  }
  // Cell `c` of each element in logical order (queue head or stack top first).
  Keys keys(TaggedValue ch, uint32_t c = 0) {
    Keys out;
    for (uint32_t i = 0; i < channel_count(env.get(), ch); ++i)
      out.push_back(buffer_getIndexValue(env.get(), ch, i).value[c].u64);
    return out;
  }
};

enum class Op { Push, Pop, Peek, LastPeek };

struct Step {
  Op op;
  uint64_t key;          // pushed, or expected from a read
  uint32_t invalid;      // kind reported, kNone when none
  uint32_t inId, outId;  // slot ids after the step; outId kNone: no top
};

// clang-format off
// The in slot wraps from 3 to 0 at the sixth step; an empty queue's peek still
// reads its out slot, holding the first push.
const std::vector<Step> kQueueSteps{
    {Op::Push, 1, kNone, 1, 0},     {Op::Push, 2, kNone, 2, 0},      {Op::Push, 3, kNone, 3, 0},
    {Op::Push, 4, kInvalidOpQueueFull, 3, 0},   {Op::Pop, 1, kNone, 3, 1},
    {Op::Push, 4, kNone, 0, 1},     {Op::LastPeek, 4, kNone, 0, 1},  {Op::Peek, 2, kNone, 0, 1},
    {Op::Pop, 2, kNone, 0, 2},      {Op::Pop, 3, kNone, 0, 3},       {Op::Pop, 4, kNone, 0, 0},
    {Op::Pop, 0, kInvalidOpQueueEmpty, 0, 0},   {Op::LastPeek, 0, kInvalidOpQueueEmpty, 0, 0},
    {Op::Peek, 1, kInvalidOpQueueEmpty, 0, 0}};
// An empty stack's peek has no top to read.
const std::vector<Step> kStackSteps{
    {Op::Push, 10, kNone, 1, 0},    {Op::Push, 20, kNone, 2, 1},     {Op::Peek, 20, kNone, 2, 1},
    {Op::LastPeek, 20, kNone, 2, 1},            {Op::Push, 30, kInvalidOpStackFull, 2, 1},
    {Op::Pop, 20, kNone, 1, 0},     {Op::Pop, 10, kNone, 0, kNone},
    {Op::Pop, 0, kInvalidOpStackEmpty, 0, kNone},   {Op::LastPeek, 0, kInvalidOpStackEmpty, 0, kNone},
    {Op::Peek, 0, kInvalidOpQueueEmpty, 0, kNone},  {Op::Push, 40, kNone, 1, 0}};
// clang-format on

}  // namespace

// Queues of capacity 3 and stacks of capacity 2, of one-cell and two-cell elements.
TEST_F(BufferTest, ChannelScripts) {
  std::vector<uint32_t> ids;
  for (bool stack : {false, true})
    for (uint32_t elem : {uint32_t{TypeUInt8}, pair})
      ids.push_back(b.global(std::string("c").append(std::to_string(ids.size())),
                             stack ? b.stackType(elem, 2) : b.queueType(elem, 3)));
  const uint32_t guard = b.global("guard", TypeUInt64, {0xA5A5});
  load();
  env_on_assert(env.get(), recordCheck);
  for (size_t k = 0; k < ids.size(); ++k) {
    const bool stack = k >= 2;
    const uint32_t w = 1 + k % 2, capacity = stack ? 2 : 3;
    const TaggedValue ch = global(ids[k]);
    const std::vector<Step>& steps = stack ? kStackSteps : kQueueSteps;
    for (size_t s = 0; s < steps.size(); ++s) {
      const Step& step = steps[s];
      SCOPED_TRACE("channel " + std::to_string(k) + ", step " + std::to_string(s));
      host->invalidOps.clear();
      gChecks.clear();
      const bool ok = step.invalid == kNone;
      TaggedValue got = kEmptyValue;
      switch (step.op) {
        case Op::Push: push(ch, step.key); break;
        case Op::Pop: got = channel_pop(env.get(), callNode(), ch); break;
        case Op::Peek: got = channel_peek(env.get(), callNode(), ch); break;
        case Op::LastPeek: got = channel_lastpeek(env.get(), callNode(), ch); break;
      }
      std::vector<std::pair<uint32_t, uint32_t>> reports;
      for (const InvalidOp& r : host->invalidOps) reports.emplace_back(r.kind, r.nodeId);
      EXPECT_EQ(reports, (ok ? decltype(reports){} : decltype(reports){{step.invalid, call.id}}));
      ASSERT_EQ(got.value != nullptr,
                step.op != Op::Push && (ok || (step.op == Op::Peek && !stack)));
      if (got.value != nullptr) {
        EXPECT_EQ(
            std::tuple(got.value[w - 1].u64, got.typeId, got.globalId),
            std::tuple(step.key + 100 * (w - 1), w == 2 ? pair : uint32_t{TypeUInt8}, ids[k]));
      }
      EXPECT_EQ(gChecks.size(), step.op == Op::Peek && stack && !ok ? 1u : 0u);  // no top
      EXPECT_EQ(ch.value[0].u64, 2 + step.inId * w);
      EXPECT_EQ(ch.value[1].u64, step.outId == kNone ? 1 : 2 + step.outId * w);
    }
    EXPECT_EQ(channel_size(env.get(), ch).value->u32, capacity);
  }
  EXPECT_EQ(globalU64(guard), 0xA5A5u);
}

TEST_F(BufferTest, SortedInsertion) {
  const struct {
    bool stack;
    uint32_t element;
    std::vector<int64_t> inserted, expected;  // expected in pop order
    Keys ranks = {};  // of pairs in pop order: equal keys keep insertion order
  } cases[] = {
      {false, TypeUInt8, {5, 1, 3}, {1, 3, 5}},
      {false, TypeSInt8, {5, -1, 127, -128}, {-128, -1, 5, 127}},
      {false, TypeSInt16, {300, -300, 0}, {-300, 0, 300}},
      {false, TypeSInt32, {7, -70000, 70000}, {-70000, 7, 70000}},
      {false, TypeSInt64, {-1, 1, INT64_MIN}, {INT64_MIN, -1, 1}},
      {false, TypeUInt64, {INT64_MIN, 1}, {1, INT64_MIN}},
      {true, TypeUInt8, {5, 1, 3}, {1, 3, 5}},
      {false, pair, {3, 1, 3}, {1, 3, 3}, {1, 0, 2}},
      {true, pair, {3, 1, 3}, {1, 3, 3}, {1, 0, 2}},
  };
  std::vector<uint32_t> ids;
  for (const auto& c : cases)
    ids.push_back(b.global(std::string("c").append(std::to_string(ids.size())),
                           c.stack ? b.stackType(c.element, 4) : b.queueType(c.element, 4)));
  load();
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(k);
    const TaggedValue ch = global(ids[k]);
    const uint64_t mask = c.element == pair ? ~uint64_t{0} : integerTypeMask(c.element);
    for (uint32_t r = 0; r < 3; ++r) {  // a queue's ring wraps during the insertions
      push(ch, 9);
      channel_pop(env.get(), callNode(), ch);
    }
    for (uint64_t i = 0; i < c.inserted.size(); ++i) {
      const ValueCell cells[] = {{.u64 = static_cast<uint64_t>(c.inserted[i]) & mask}, {.u64 = i}};
      // The unchecked form, given room, does the same.
      if (i % 2 == 0) {
        channel_insert_sorted(env.get(), callNode(), ch, cells);
      } else {
        insert_sorted(env.get(), ch, cells);
      }
    }
    Keys want;
    for (int64_t v : c.expected) want.push_back(static_cast<uint64_t>(v) & mask);
    EXPECT_EQ(keys(ch), want);
    EXPECT_EQ(c.ranks.empty() ? c.ranks : keys(ch, 1), c.ranks);
  }
}

// The inserted element is one of the channel's, moved during the insertion.
TEST_F(BufferTest, SortedInsertionOfAnElementOfTheChannel) {
  const uint32_t ids[] = {b.global("q", b.queueType(pair, 4)), b.global("s", b.stackType(pair, 4))};
  load();
  const TaggedValue q = global(ids[0]), s = global(ids[1]);
  push(q, 5);
  queue_add(env.get(), q, element(q, 1).data());  // the unchecked push, given room
  channel_insert_sorted(env.get(), callNode(), q, channel_lastpeek(env.get(), callNode(), q).value);
  EXPECT_EQ(keys(q), (Keys{1, 5, 1}));
  push(s, 1);
  stack_add(env.get(), s, element(s, 5).data());
  channel_insert_sorted(env.get(), callNode(), s, channel_peek(env.get(), callNode(), s).value);
  EXPECT_EQ(keys(s, 1), (Keys{105, 101, 105}));
}

TEST_F(BufferTest, ClearingChannelsInsideAStructure) {
  const uint32_t rec = b.structType(
      "Rec",
      {{"q", b.queueType(TypeUInt8, 2)}, {"s", b.stackType(TypeUInt8, 2)}, {"z", TypeUInt8}});
  const uint32_t g = b.global("r", rec);
  load();
  ValueCell& z = global(g).value[b.fieldOffset(rec, "z")];
  z.u64 = 8;
  for (const auto& [field, in, out] : {std::tuple{"q", 2u, 2u}, {"s", 2u, 1u}}) {
    ValueCell* cells = global(g).value + b.fieldOffset(rec, field);
    const TaggedValue ch{cells, b.fieldType(rec, field), g};
    push(ch, 1);
    push(ch, 2);
    channel_clear(env.get(), ch);
    EXPECT_EQ((Keys{cells[0].u64, cells[1].u64, cells[2].u64, cells[3].u64, cells[4].u64}),
              (Keys{in, out, 0, 0, 0}))
        << field;
  }
  EXPECT_EQ(z.u64, 8u);
}

TEST_F(BufferTest, FailuresEndTheRunWithTheirMessage) {
  const uint32_t arr = b.global("arr", b.arrayType(TypeUInt8, 3));
  const uint32_t queue = b.queueType(TypeUInt8, 2);
  const N named = b.gvar(b.global("q", queue));
  const N anonymous = b.local(0);
  const uint32_t abstract = b.queueType(TypeUInt8, 2, "abstract");
  load();
  env->program->typeTable[abstract].bufferType = STRING_BUFFER;
  value_clear(env.get(), *LocalVariable_declare(env.get(), queue));
  InterpEnv* e = env.get();
  const TaggedValue a = global(arr);
  ValueCell one{.u64 = 1};
  std::vector<ValueCell> cells(4);
  const TaggedValue str{cells.data(), TypeString, NO_ID}, abs{cells.data(), abstract, NO_ID};
  const std::string unsupported = "Unsupported buffer type 1";
  // (An index past an array's end: the expression tests.)
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { array_get(e, str, 0); }, "Array index out of bounds (0)\n"},
      {[&] { channel_push(e, callNode(), a, &one); }, unsupported},
      {[&] { channel_lastpeek(e, callNode(), a); }, unsupported + "\n"},
      {[&] { channel_count(e, abs); },
       "Unsupported channel buffer type " + std::to_string(abstract)},
      {[&] { channel_choiceUniform(e, node(named)); },
       "choice_uniform() called on empty channel \"q\"\n"},
      {[&] { channel_choiceUniform(e, node(anonymous)); },
       "choice_uniform() called on empty channel\n"},
  };
  for (const auto& [run, message] : cases) EXPECT_EQ(expectFailure(run), message);
}

TEST_F(BufferTest, UniformChoiceDrawsALogicalPosition) {
  const uint32_t q = b.global("q", b.queueType(TypeUInt8, 4));
  const uint32_t s = b.global("s", b.stackType(TypeUInt8, 4));
  const N vq = b.gvar(q), vs = b.gvar(s);
  const N va = b.gvar(b.global("arr", b.arrayType(TypeUInt8, 3), {7, 8, 9}));
  load();
  for (uint64_t v : {10, 20, 30, 40}) push(global(q), v);
  channel_pop(env.get(), callNode(), global(q));
  for (uint64_t v : {10, 20, 30}) push(global(s), v);
  host->randomWords = {0, 0, 5};
  EXPECT_EQ(channel_choiceUniform(env.get(), node(vq)).value->u64, 20u);  // the oldest
  EXPECT_EQ(channel_choiceUniform(env.get(), node(vs)).value->u64, 30u);  // the top
  EXPECT_EQ(array_choiceUniform(env.get(), node(va)).value->u64, 9u);
  EXPECT_EQ(host->randomDraws, 3u);
}

// Count and fullness come from the index cells alone: 2 + 2 * slot id (first
// row: in slot 1, out slot 3; a stack without a top has out 1). Cells naming no
// slot (rows after the eighth) read as full and empty, are reported, nothing is
// written, and clearing makes the channel usable again.
TEST_F(BufferTest, IndexCells) {
  const uint32_t q = b.global("q", b.queueType(pair, 4));
  const uint32_t s = b.global("s", b.stackType(pair, 4));
  const struct {
    uint32_t global;
    uint64_t in, out;
    uint32_t count;
    bool full;
  } cases[] = {{q, 4, 8, 3, false}, {q, 8, 4, 2, false}, {q, 6, 6, 0, false}, {q, 10, 2, 4, true},
               {q, 2, 4, 4, true},  {s, 8, 6, 3, false}, {s, 10, 8, 4, true}, {s, 2, 1, 0, false},
               {q, 0, 2, 0, true},  {q, 1, 2, 0, true},  {q, 12, 2, 0, true}, {q, 2, 12, 0, true},
               {q, 3, 2, 0, true},  {q, 2, 5, 0, true},  {s, 4, 1, 0, true}};
  load();
  env_on_assert(env.get(), recordCheck);
  const ValueCell* data = &env->program->globalVariableDataInitTable[0];
  const uint32_t n = env->program->infoProg->size_globalVariableData;
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(k);
    const TaggedValue ch = global(c.global);
    ch.value[0].u64 = c.in;
    ch.value[1].u64 = c.out;
    gChecks.clear();
    EXPECT_EQ(channel_count(env.get(), ch), c.count);
    EXPECT_EQ(channel_isFull(env.get(), ch).value->boolean, c.full ? 1 : 0);
    EXPECT_EQ(channel_isEmpty(env.get(), ch).value->boolean, c.count == 0 ? 1 : 0);
    if (k < 8) {
      // The oldest element of a queue, the top of a stack; a stack without
      // a top has none to give.
      if (c.count > 0) {
        EXPECT_EQ(channel_getOut(env.get(), ch), ch.value + c.out);
      } else if (c.global == s) {
        EXPECT_EQ(channel_get(env.get(), ch).value, nullptr);
        EXPECT_EQ(gChecks, std::vector<std::string>{"channel.value[1].index >= 2"});
        gChecks.clear();
      }
      EXPECT_TRUE(gChecks.empty());
      if (c.global == s) {  // nothing lies below a stack's bottom
        EXPECT_EQ(buffer_getIndexValue(env.get(), ch, c.count).value, nullptr);
        EXPECT_EQ(gChecks.size(), 1u);
      }
      continue;
    }
    const std::vector<ValueCell> before(data, data + n);
    push(ch, 9);
    channel_insert_sorted(env.get(), callNode(), ch, element(ch, 9).data());
    EXPECT_EQ(channel_pop(env.get(), callNode(), ch).value, nullptr);
    EXPECT_EQ(std::memcmp(data, before.data(), n * sizeof(ValueCell)), 0);
    EXPECT_TRUE(host->invalidOps.empty());
    EXPECT_EQ(gChecks.size(), 6u);
    if (c.in < 2) {
      EXPECT_EQ(gChecks[0], "channel.value->index >= 2");
    }
    channel_clear(env.get(), ch);  // makes the channel usable again
    EXPECT_FALSE(is_channel_full(env.get(), ch));
  }
}
