// Buffers: channel index arithmetic, full and empty reports, sorted
// insertion, counting, clearing, element access and what stays untouched
// when a host's callback lets a refused operation return.
#include "interpreterLib/buffer.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ASTLib/kova_locals.h"
#include "ASTLib/rEnv.h"
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

struct BufferTest : InterpFixture {
  N call = b.node(CALL_OP, 0u);
  uint32_t pair = b.structType("Pair", {{"key", TypeUInt64}, {"tag", TypeUInt64}});

  void SetUp() override { gChecks.clear(); }
  void hostReturnsFromChecks() { env_on_assert(env.get(), recordCheck); }
  const AST_Node* callNode() const { return node(call); }
  uint32_t width(TaggedValue buffer) { return buffer_getCellStorageSize(env.get(), buffer); }

  // An element whose first cell is `key` (and, two cells wide, key + 100).
  std::vector<ValueCell> element(TaggedValue buffer, uint64_t key) {
    std::vector<ValueCell> cells(width(buffer));
    for (size_t c = 0; c < cells.size(); ++c) cells[c].u64 = key + 100 * c;
    return cells;
  }
  void push(TaggedValue ch, uint64_t key) {
    channel_push(env.get(), callNode(), ch, element(ch, key).data());
  }
  // Keys in logical order (queue head or stack top first).
  std::vector<uint64_t> keys(TaggedValue ch) {
    std::vector<uint64_t> out;
    const uint32_t n = channel_count(env.get(), ch);
    for (uint32_t i = 0; i < n; ++i)
      out.push_back(buffer_getIndexValue(env.get(), ch, i).value->u64);
    return out;
  }
  std::vector<uint64_t> globalCells() {
    const Program& p = *env->program;
    std::vector<uint64_t> cells;
    for (uint32_t i = 0; i < p.infoProg->size_globalVariableData; ++i)
      cells.push_back(p.globalVariableDataInitTable[i].u64);
    return cells;
  }
};

int64_t signedKey(const ValueCell& cell, uint32_t type) {
  switch (type) {
    case TypeSInt8: return cell.s8;
    case TypeSInt16: return cell.s16;
    case TypeSInt32: return cell.s32;
    default: return cell.s64;
  }
}

enum class Op { Push, Pop, Peek, LastPeek };
constexpr uint32_t kNone = NO_ID;

struct Step {
  Op op;
  uint64_t key;      // pushed, or expected from a read
  uint32_t invalid;  // kind reported, kNone when none
  uint32_t inId;     // slot ids after the step; outId kNone: no top
  uint32_t outId;
};

struct ScriptCase {
  std::string name;
  bool stack;
  uint32_t capacity;
  bool wide;
  std::vector<Step> steps;
};

const std::vector<Step> kQueueSteps{
    {Op::Push, 1, kNone, 1, 0},
    {Op::Push, 2, kNone, 2, 0},
    {Op::Push, 3, kNone, 3, 0},
    {Op::Push, 4, kInvalidOpQueueFull, 3, 0},
    {Op::Pop, 1, kNone, 3, 1},
    {Op::Push, 4, kNone, 0, 1},  // the in slot wraps from 3 to 0
    {Op::LastPeek, 4, kNone, 0, 1},
    {Op::Peek, 2, kNone, 0, 1},
    {Op::Pop, 2, kNone, 0, 2},
    {Op::Pop, 3, kNone, 0, 3},
    {Op::Pop, 4, kNone, 0, 0},
    {Op::Pop, 0, kInvalidOpQueueEmpty, 0, 0},
    {Op::LastPeek, 0, kInvalidOpQueueEmpty, 0, 0},
    {Op::Peek, 1, kInvalidOpQueueEmpty, 0, 0},  // still the out slot, holding the first push
};

const std::vector<Step> kStackSteps{
    {Op::Push, 10, kNone, 1, 0},
    {Op::Push, 20, kNone, 2, 1},
    {Op::Peek, 20, kNone, 2, 1},
    {Op::LastPeek, 20, kNone, 2, 1},
    {Op::Push, 30, kInvalidOpStackFull, 2, 1},
    {Op::Pop, 20, kNone, 1, 0},
    {Op::Pop, 10, kNone, 0, kNone},
    {Op::Pop, 0, kInvalidOpStackEmpty, 0, kNone},
    {Op::LastPeek, 0, kInvalidOpStackEmpty, 0, kNone},
    {Op::Peek, 0, kInvalidOpQueueEmpty, 0, kNone},  // and no top to read
    {Op::Push, 40, kNone, 1, 0},
    {Op::Peek, 40, kNone, 1, 0},
};

}  // namespace

TEST_F(BufferTest, ChannelScripts) {
  const std::vector<ScriptCase> cases{
      {"queue", false, 3, false, kQueueSteps},
      {"queue of pairs", false, 3, true, kQueueSteps},
      {"stack", true, 2, false, kStackSteps},
      {"stack of pairs", true, 2, true, kStackSteps},
  };
  std::vector<uint32_t> ids;
  for (const ScriptCase& c : cases) {
    const uint32_t elem = c.wide ? pair : TypeUInt8;
    const uint32_t type = c.stack ? b.stackType(elem, c.capacity) : b.queueType(elem, c.capacity);
    ids.push_back(b.global(c.name, type));
  }
  const uint32_t guard = b.global("guard", TypeUInt64, {0xA5A5});
  load();
  hostReturnsFromChecks();
  for (size_t k = 0; k < cases.size(); ++k) {
    const ScriptCase& c = cases[k];
    const TaggedValue ch = global(ids[k]);
    const uint32_t w = width(ch);
    std::deque<uint64_t> model;  // logical order
    for (size_t s = 0; s < c.steps.size(); ++s) {
      const Step& step = c.steps[s];
      SCOPED_TRACE(c.name + ", step " + std::to_string(s));
      host->invalidOps.clear();
      gChecks.clear();
      TaggedValue got = kEmptyValue;
      switch (step.op) {
        case Op::Push:
          push(ch, step.key);
          if (step.invalid == kNone)
            c.stack ? model.push_front(step.key) : model.push_back(step.key);
          break;
        case Op::Pop:
          got = channel_pop(env.get(), callNode(), ch);
          if (step.invalid == kNone) model.pop_front();
          break;
        case Op::Peek: got = channel_peek(env.get(), callNode(), ch); break;
        case Op::LastPeek: got = channel_lastpeek(env.get(), callNode(), ch); break;
      }
      if (step.invalid == kNone) {
        EXPECT_TRUE(host->invalidOps.empty());
      } else {
        ASSERT_EQ(host->invalidOps.size(), 1u);
        EXPECT_EQ(host->invalidOps[0].kind, step.invalid);
        EXPECT_EQ(host->invalidOps[0].nodeId, call.id);
      }
      const bool expectsElement =
          step.op != Op::Push && (step.invalid == kNone || (step.op == Op::Peek && !c.stack));
      if (expectsElement) {
        ASSERT_NE(got.value, nullptr);
        EXPECT_EQ(got.value->u64, step.key);
        if (c.wide) {
          EXPECT_EQ(got.value[1].u64, step.key + 100);
        }
        EXPECT_EQ(got.typeId, c.wide ? pair : uint32_t{TypeUInt8});
        EXPECT_EQ(got.globalId, ids[k]);
      } else if (step.op != Op::Push) {
        EXPECT_EQ(got.value, nullptr);
      }
      const bool noTop = step.op == Op::Peek && c.stack && step.invalid != kNone;
      EXPECT_EQ(gChecks, noTop ? std::vector<std::string>{"channel.value[1].index >= 2"}
                               : std::vector<std::string>{});
      EXPECT_EQ(ch.value[0].u64, 2 + step.inId * w);
      EXPECT_EQ(ch.value[1].u64, step.outId == kNone ? 1 : 2 + step.outId * w);
      EXPECT_EQ(channel_count(env.get(), ch), model.size());
      EXPECT_EQ(is_channel_empty(env.get(), ch), model.empty());
      EXPECT_EQ(is_channel_full(env.get(), ch), model.size() == c.capacity);
      EXPECT_EQ(keys(ch), std::vector<uint64_t>(model.begin(), model.end()));
    }
    EXPECT_EQ(channel_size(env.get(), ch).value->u32, c.capacity);
  }
  EXPECT_EQ(globalU64(guard), 0xA5A5u);
}

TEST_F(BufferTest, SortedInsertion) {
  struct Case {
    std::string name;
    bool stack;
    uint32_t element;
    std::vector<int64_t> inserted;
    std::vector<int64_t> expected;  // logical order: pop order
    uint32_t rotate = 0;            // pushes and pops first, so the ring wraps
  };
  const std::vector<Case> cases{
      {"queue uint8", false, TypeUInt8, {5, 1, 3}, {1, 3, 5}},
      {"queue int8", false, TypeSInt8, {5, -1, 127, -128}, {-128, -1, 5, 127}},
      {"queue int16", false, TypeSInt16, {300, -300, 0}, {-300, 0, 300}},
      {"queue int32", false, TypeSInt32, {7, -70000, 70000}, {-70000, 7, 70000}},
      {"queue int64", false, TypeSInt64, {-1, 1, INT64_MIN}, {INT64_MIN, -1, 1}},
      {"queue Signed_Integer", false, TypeSInt, {2, -2}, {-2, 2}},
      {"queue uint64", false, TypeUInt64, {INT64_MIN, 1}, {1, INT64_MIN}},
      {"queue wrapped", false, TypeUInt8, {5, 1, 3, 4}, {1, 3, 4, 5}, 3},
      {"stack uint8", true, TypeUInt8, {5, 1, 3}, {1, 3, 5}},
      {"stack int8", true, TypeSInt8, {5, -1, 0}, {-1, 0, 5}},
  };
  std::vector<uint32_t> ids;
  for (const Case& c : cases) {
    const uint32_t type = c.stack ? b.stackType(c.element, 4) : b.queueType(c.element, 4);
    ids.push_back(b.global(c.name, type));
  }
  load();
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.name);
    const TaggedValue ch = global(ids[k]);
    for (uint32_t r = 0; r < c.rotate; ++r) {
      push(ch, 9);
      channel_pop(env.get(), callNode(), ch);
    }
    for (int64_t v : c.inserted) {
      ValueCell cell{};
      cell.u64 = static_cast<uint64_t>(v) & integerTypeMask(c.element);
      channel_insert_sorted(env.get(), callNode(), ch, &cell);
    }
    std::vector<int64_t> got;
    for (uint32_t i = 0; i < channel_count(env.get(), ch); ++i)
      got.push_back(signedKey(*buffer_getIndexValue(env.get(), ch, i).value, c.element));
    EXPECT_EQ(got, c.expected);
  }
}

TEST_F(BufferTest, SortedInsertionOfPairs) {
  const uint32_t channels[] = {b.global("q", b.queueType(pair, 4)),
                               b.global("s", b.stackType(pair, 4))};
  const uint32_t unsorted[] = {b.global("uq", b.queueType(pair, 4)),
                               b.global("us", b.stackType(pair, 4))};
  load();
  // Equal keys stay in insertion order, after the earlier ones.
  for (uint32_t g : channels) {
    for (const auto& [key, tag] : {std::pair{3, 1}, {1, 2}, {3, 3}}) {
      const ValueCell cells[] = {{.u64 = uint64_t(key)}, {.u64 = uint64_t(tag)}};
      channel_insert_sorted(env.get(), callNode(), global(g), cells);
    }
    std::vector<uint64_t> tags;
    for (uint32_t i = 0; i < 3; ++i)
      tags.push_back(buffer_getIndexValue(env.get(), global(g), i).value[1].u64);
    EXPECT_EQ(keys(global(g)), (std::vector<uint64_t>{1, 3, 3}));
    EXPECT_EQ(tags, (std::vector<uint64_t>{2, 1, 3}));
  }
  // The inserted element is one that moves during the insertion: it must be
  // read before it moves.
  const TaggedValue q = global(unsorted[0]);
  push(q, 5);
  push(q, 1);
  channel_insert_sorted(env.get(), callNode(), q, channel_lastpeek(env.get(), callNode(), q).value);
  EXPECT_EQ(keys(q), (std::vector<uint64_t>{1, 5, 1}));
  const TaggedValue s = global(unsorted[1]);
  push(s, 1);
  push(s, 5);
  channel_insert_sorted(env.get(), callNode(), s, channel_peek(env.get(), callNode(), s).value);
  EXPECT_EQ(keys(s), (std::vector<uint64_t>{5, 1, 5}));
  EXPECT_EQ(buffer_getIndexValue(env.get(), s, 2).value[1].u64, 105u);
}

TEST_F(BufferTest, CountAndFullnessFromTheIndexCells) {
  struct Case {
    bool stack;
    uint32_t inId;
    uint32_t outId;  // kNone: no top
    uint32_t count;
    bool full;
  };
  const std::vector<Case> cases{
      {false, 1, 3, 3, false}, {false, 3, 1, 2, false}, {false, 2, 2, 0, false},
      {false, 4, 0, 4, true},  {false, 0, 1, 4, true},  {false, 2, 3, 4, true},
      {true, 3, 2, 3, false},  {true, 4, 3, 4, true},   {true, 0, kNone, 0, false},
  };
  const uint32_t q = b.global("q", b.queueType(pair, 4));
  const uint32_t s = b.global("s", b.stackType(pair, 4));
  load();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.inId) + "/" + std::to_string(c.outId));
    const TaggedValue ch = global(c.stack ? s : q);
    channel_setInId(env.get(), ch, c.inId);
    if (c.outId == kNone) {
      ch.value[1].u64 = 1;
    } else {
      channel_setOutId(env.get(), ch, c.outId);
    }
    EXPECT_EQ(ch.value[0].u64, 2 + 2 * c.inId);
    EXPECT_EQ(channel_getInId(env.get(), ch), c.inId);
    EXPECT_EQ(channel_count(env.get(), ch), c.count);
    EXPECT_EQ(is_channel_full(env.get(), ch), c.full);
    EXPECT_EQ(is_channel_empty(env.get(), ch), c.count == 0);
    EXPECT_EQ(channel_isFull(env.get(), ch).value->boolean, c.full ? 1 : 0);
    EXPECT_EQ(channel_isEmpty(env.get(), ch).value->boolean, c.count == 0 ? 1 : 0);
  }
}

TEST_F(BufferTest, StringsHoldOneCharacterPerCell) {
  load();
  hostReturnsFromChecks();
  std::vector<ValueCell> cells(5);
  cells[0].index = 2 + 3;
  cells[1].index = 2;
  cells[2].u8 = 'a';
  cells[3].u8 = 'b';
  cells[4].u8 = 'c';
  const TaggedValue text{cells.data(), TypeString, NO_ID};
  EXPECT_TRUE(channel_isChannel(env.get(), text));
  EXPECT_EQ(channel_count(env.get(), text), 3u);
  const TaggedValue second = buffer_getIndexValue(env.get(), text, 1);
  EXPECT_EQ(second.value, &cells[3]);
  EXPECT_EQ(second.typeId, uint32_t{TypeUInt8});
  EXPECT_EQ(buffer_getIndexValue(env.get(), text, 3).value, nullptr);
  EXPECT_EQ(gChecks, std::vector<std::string>{"(i + 2) < buffer.value->index"});
}

TEST_F(BufferTest, ClearingChannelsInsideAStructure) {
  const uint32_t rec = b.structType("Rec", {{"a", TypeUInt8},
                                            {"q", b.queueType(TypeUInt8, 2)},
                                            {"s", b.stackType(TypeUInt8, 2)},
                                            {"z", TypeUInt8}});
  const uint32_t g = b.global("r", rec);
  const std::vector<std::string> fields{"q", "s"};
  load();
  const TaggedValue r = global(g);
  r.value[0].u64 = 7;
  r.value[b.fieldOffset(rec, "z")].u64 = 8;
  for (const std::string& f : fields) {
    const TaggedValue ch = field_get(env.get(), r, b.fieldType(rec, f), b.fieldOffset(rec, f));
    push(ch, 1);
    push(ch, 2);
    channel_clear(env.get(), ch);
  }
  const struct {
    const char* field;
    uint64_t in;
    uint64_t out;
  } expected[] = {{"q", 2, 2}, {"s", 2, 1}};
  for (const auto& e : expected) {
    const ValueCell* cells = r.value + b.fieldOffset(rec, e.field);
    EXPECT_EQ(cells[0].u64, e.in) << e.field;
    EXPECT_EQ(cells[1].u64, e.out) << e.field;
    for (uint32_t i = 2; i < 5; ++i) EXPECT_EQ(cells[i].u64, 0u) << e.field;
  }
  EXPECT_EQ(r.value[0].u64, 7u);
  EXPECT_EQ(r.value[b.fieldOffset(rec, "z")].u64, 8u);
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
  const struct {
    const char* what;
    std::function<void()> run;
    std::string message;
  } cases[] = {
      {"index past the end", [&] { array_get(e, a, 3); }, "Array index out of bounds (3)\n"},
      {"index of a string",
       [&] {
         array_get(e, {cells.data(), TypeString, NO_ID}, 0);
       },
       "Array index out of bounds (0)\n"},
      {"push", [&] { channel_push(e, callNode(), a, &one); }, "Unsupported buffer type 1"},
      {"insert", [&] { channel_insert_sorted(e, callNode(), a, &one); },
       "Unsupported buffer type 1"},
      {"pop", [&] { channel_pop(e, callNode(), a); }, "Unsupported buffer type 1"},
      {"last_peek", [&] { channel_lastpeek(e, callNode(), a); }, "Unsupported buffer type 1\n"},
      {"count", [&] { channel_count(e, a); }, "Unsupported buffer type 1"},
      {"is_full", [&] { is_channel_full(e, a); }, "Unsupported buffer type 1\n"},
      {"count of an abstract channel",
       [&] {
         channel_count(e, {cells.data(), abstract, NO_ID});
       },
       "Unsupported channel buffer type " + std::to_string(abstract)},
      {"choice on an empty global", [&] { channel_choiceUniform(e, node(named)); },
       "choice_uniform() called on empty channel \"q\"\n"},
      {"choice on an empty local", [&] { channel_choiceUniform(e, node(anonymous)); },
       "choice_uniform() called on empty channel\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(expectFailure(c.run), c.message) << c.what;
  }
}

TEST_F(BufferTest, UniformChoiceDrawsALogicalPosition) {
  const uint32_t q = b.global("q", b.queueType(TypeUInt8, 4));
  const uint32_t s = b.global("s", b.stackType(TypeUInt8, 4));
  const uint32_t arr = b.global("arr", b.arrayType(TypeUInt8, 3), {7, 8, 9});
  const struct {
    N expression;
    uint32_t globalId;
    bool array;
    uint64_t word;
    uint64_t expected;
  } cases[] = {
      {b.gvar(q), q, false, 0, 20},            // the oldest (after one pop)
      {b.gvar(q), q, false, 0x100000002, 40},  // low 32 bits only: 2 of 3
      {b.gvar(s), s, false, 0, 30},            // the top
      {b.gvar(s), s, false, 2, 10},           {b.gvar(arr), arr, true, 5, 9},
  };
  load();
  for (uint64_t v : {10, 20, 30, 40}) push(global(q), v);
  channel_pop(env.get(), callNode(), global(q));
  for (uint64_t v : {10, 20, 30}) push(global(s), v);
  for (const auto& c : cases) {
    host->randomWords = {c.word};
    host->randomDraws = 0;
    const TaggedValue got = c.array ? array_choiceUniform(env.get(), node(c.expression))
                                    : channel_choiceUniform(env.get(), node(c.expression));
    ASSERT_NE(got.value, nullptr);
    EXPECT_EQ(got.value->u64, c.expected) << c.word;
    EXPECT_EQ(got.globalId, c.globalId);
    EXPECT_EQ(host->randomDraws, 1u);
  }
}

// Index cells that name no slot (never cleared, or overwritten) are reported
// and every operation leaves all cells as they were.
TEST_F(BufferTest, UnreadableIndexCellsAreReportedAndNothingMoves) {
  const uint32_t q = b.global("q", b.queueType(TypeUInt8, 3));
  const uint32_t wq = b.global("wq", b.queueType(pair, 3));
  const uint32_t s = b.global("s", b.stackType(TypeUInt8, 3));
  b.global("guard", TypeUInt64, {0xA5A5});
  const struct {
    uint32_t globalId;
    uint64_t in;
    uint64_t out;
    const char* check;
  } cases[] = {
      {q, 0, 2, "channel.value->index >= 2"},
      {q, 2 + 4, 2, "channel_getInId(env, channel) <= Type_getSize(env->program, channel.typeId)"},
      {q, 2, 2 + 9, "channel_getOutId(env, channel) <= Type_getSize(env->program, channel.typeId)"},
      {wq, 3, 2, "((channel.value->index - 2) % buffer_getCellStorageSize(env, channel)) == 0"},
      {wq, 2, 5, "((channel.value[1].index - 2) % buffer_getCellStorageSize(env, channel)) == 0"},
      {s, 3, 1, "channel_getOutId(env, channel) + 1 == channel_getInId(env, channel)"},
      {s, 2, 2, "channel_getOutId(env, channel) + 1 == channel_getInId(env, channel)"},
  };
  load();
  hostReturnsFromChecks();
  InterpEnv* e = env.get();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.check);
    const TaggedValue ch = global(c.globalId);
    ch.value[0].u64 = c.in;
    ch.value[1].u64 = c.out;
    const std::vector<uint64_t> before = globalCells();
    const std::vector<ValueCell> source = element(ch, 9);
    gChecks.clear();
    channel_push(e, callNode(), ch, source.data());
    channel_insert_sorted(e, callNode(), ch, source.data());
    EXPECT_EQ(channel_pop(e, callNode(), ch).value, nullptr);
    EXPECT_EQ(channel_peek(e, callNode(), ch).value, nullptr);
    EXPECT_EQ(channel_lastpeek(e, callNode(), ch).value, nullptr);
    EXPECT_EQ(buffer_getIndexValue(e, ch, 0).value, nullptr);
    buffer_setIndexValue(e, ch, 0, source.data());
    EXPECT_EQ(channel_count(e, ch), 0u);
    EXPECT_TRUE(is_channel_full(e, ch));
    EXPECT_TRUE(is_channel_empty(e, ch));
    queue_add(e, ch, source.data());
    stack_add(e, ch, source.data());
    EXPECT_EQ(globalCells(), before);
    EXPECT_TRUE(host->invalidOps.empty());
    ASSERT_FALSE(gChecks.empty());
    EXPECT_EQ(gChecks[0], c.check);
    // Clearing is the way back to a usable channel.
    channel_clear(e, ch);
    gChecks.clear();
    push(ch, 4);
    EXPECT_EQ(keys(ch), std::vector<uint64_t>{4});
    EXPECT_TRUE(gChecks.empty());
  }
}
