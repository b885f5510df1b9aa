#include "interpreterLib/sched_index.h"

#include <memory>
#include <vector>

#include "ASTLib/call_codes.h"
#include "interpreterLib/buffer.h"
#include "interpreterLib/interp_engine.h"
#include "interpreterLib/scheduler.h"

struct SchedIndex {
  struct Instance {
    TaggedValue value;  // its Process_Instance
    ValueCell* priority;
    ValueCell* deadline;
    TaggedValue activations;  // its next_activations
    ValueCell* queue;         // the same: in and out index cells, then the slots
  };
  enum Place : uint8_t { kNowhere, kPending, kDue };

  bool analysed = false;
  bool listed = false;
  std::vector<uint32_t> triggered;
  bool programWrites = false;
  bool running = false;  // inside a run: nothing but the run changes the instances
  bool valid = false;    // the cached pointers and the heaps match the instances
  bool usable = false;   // no key can wrap: the heaps order as the scans do
  uint32_t policy = FIFO;
  uint32_t queueType = NO_ID;
  uint32_t slots = 0;    // of every next_activations ring
  uint64_t epoch = 0;    // elapsed time since the build
  bool lagging = false;  // some queue is behind the epoch
  uint64_t builds = 0;
  std::vector<Instance> instances;
  // The epoch up to which each queue's entries are brought: time passing
  // costs one addition, and an instance's queue catches up when the
  // scheduler touches it, every queue before anything else may read them.
  std::vector<uint64_t> applied;
  std::vector<uint64_t> key;  // head + epoch
  // Copies of what the orders read, side by side for the comparisons (only
  // code that marks the index stale can change them).
  std::vector<uint64_t> priority;  // the cell, as FIFO compares it
  std::vector<uint8_t> level;      // its byte, as NPFP compares it
  std::vector<uint64_t> deadline;
  std::vector<uint32_t> position;
  std::vector<Place> place;
  std::vector<uint32_t> pending;  // heap by head
  std::vector<uint32_t> due;      // heap in the policy's order
};

namespace {

// Beyond these no head, deadline or sum of both can wrap while the index
// holds it; the epoch is reset by a rebuild before it gets there.
constexpr int64_t kKeyLimit = int64_t{1} << 61;
constexpr uint64_t kEpochLimit = uint64_t{1} << 60;

void destroy(SchedIndex* index) {
  std::default_delete<SchedIndex>()(index);
}

SchedIndex& indexOf(InterpEnv* env) {
  auto& slot = env->ctx->schedIndex;
  if (slot == nullptr) slot = {std::make_unique<SchedIndex>().release(), destroy};
  return *slot;
}

int64_t headOf(const SchedIndex& x, uint32_t i) {
  return static_cast<int64_t>(x.key[i] - x.epoch);
}

// The ring's in and out slot ids, when its index cells name slots.
bool ringIds(const SchedIndex& x, const ValueCell* queue, uint32_t* in, uint32_t* out) {
  const uint32_t a = queue[0].index;
  const uint32_t b = queue[1].index;
  if (a < 2 || b < 2 || a - 2 >= x.slots || b - 2 >= x.slots) [[unlikely]]
    return false;
  *in = a - 2;
  *out = b - 2;
  return true;
}

// Whether `a` goes before `b`: by head in the pending heap, in the policy's
// order in the due heap (the order of the plain scans).
bool before(const SchedIndex& x, bool dueHeap, uint32_t a, uint32_t b) {
  if (!dueHeap || x.policy == FIFO) {
    const int64_t ha = headOf(x, a);
    const int64_t hb = headOf(x, b);
    if (ha != hb) return ha < hb;
    if (dueHeap && x.priority[a] != x.priority[b]) return x.priority[a] > x.priority[b];
    return a < b;
  }
  if (x.policy == NPFP) {
    if (x.level[a] != x.level[b]) return x.level[a] > x.level[b];
    return a < b;
  }
  const auto edfKey = [&x](uint32_t i) {
    return static_cast<int64_t>(static_cast<uint64_t>(headOf(x, i)) + x.deadline[i]);
  };
  const int64_t ka = edfKey(a);
  const int64_t kb = edfKey(b);
  if (ka != kb) return ka < kb;
  return a < b;
}

std::vector<uint32_t>& heapOf(SchedIndex& x, bool dueHeap) {
  return dueHeap ? x.due : x.pending;
}

void setAt(SchedIndex& x, std::vector<uint32_t>& heap, size_t k, uint32_t i) {
  heap[k] = i;
  x.position[i] = static_cast<uint32_t>(k);
}

void siftUp(SchedIndex& x, bool dueHeap, size_t k) {
  std::vector<uint32_t>& heap = heapOf(x, dueHeap);
  const uint32_t item = heap[k];
  while (k > 0) {
    const size_t parent = (k - 1) / 2;
    if (!before(x, dueHeap, item, heap[parent])) break;
    setAt(x, heap, k, heap[parent]);
    k = parent;
  }
  setAt(x, heap, k, item);
}

void siftDown(SchedIndex& x, bool dueHeap, size_t k) {
  std::vector<uint32_t>& heap = heapOf(x, dueHeap);
  const uint32_t item = heap[k];
  for (;;) {
    size_t child = 2 * k + 1;
    if (child >= heap.size()) break;
    if (child + 1 < heap.size() && before(x, dueHeap, heap[child + 1], heap[child])) ++child;
    if (!before(x, dueHeap, heap[child], item)) break;
    setAt(x, heap, k, heap[child]);
    k = child;
  }
  setAt(x, heap, k, item);
}

void push(SchedIndex& x, bool dueHeap, uint32_t i) {
  std::vector<uint32_t>& heap = heapOf(x, dueHeap);
  heap.push_back(i);
  x.place[i] = dueHeap ? SchedIndex::kDue : SchedIndex::kPending;
  siftUp(x, dueHeap, heap.size() - 1);
}

void remove(SchedIndex& x, uint32_t i) {
  if (x.place[i] == SchedIndex::kNowhere) return;
  const bool dueHeap = x.place[i] == SchedIndex::kDue;
  std::vector<uint32_t>& heap = heapOf(x, dueHeap);
  const size_t k = x.position[i];
  const uint32_t last = heap.back();
  heap.pop_back();
  x.place[i] = SchedIndex::kNowhere;
  if (last == i) return;
  setAt(x, heap, k, last);
  siftDown(x, dueHeap, k);
  siftUp(x, dueHeap, x.position[last]);
}

// Subtracts the time elapsed since instance i's queue was last brought up
// to date from each of its entries.
[[gnu::noinline]] void bringUp(InterpEnv* env, SchedIndex& x, uint32_t i) {
  const uint64_t lag = x.epoch - x.applied[i];
  x.applied[i] = x.epoch;
  ValueCell* queue = x.instances[i].queue;
  uint32_t in = 0;
  uint32_t out = 0;
  if (ringIds(x, queue, &in, &out)) [[likely]] {
    for (uint32_t k = out; k != in; k = k + 1 == x.slots ? 0 : k + 1) {
      queue[2 + k].u64 -= lag;  // counts down through zero
    }
    return;
  }
  // A broken ring: the checked accessors report it.
  const TaggedValue checked = x.instances[i].activations;
  const uint32_t count = channel_count(env, checked);
  for (uint32_t k = 0; k < count; ++k) buffer_getIndexValue(env, checked, k).value->u64 -= lag;
}

// Most accesses find the queue up to date already.
inline void catchUp(InterpEnv* env, SchedIndex& x, uint32_t i) {
  if (x.applied[i] != x.epoch) bringUp(env, x, i);
}

// Every queue brought up to date: before the index is dropped, and before
// anything but the scheduler may read them.
void settle(InterpEnv* env, SchedIndex& x) {
  if (!x.lagging) return;
  x.lagging = false;
  if (!x.valid) return;
  for (uint32_t i = 0; i < x.instances.size(); ++i) catchUp(env, x, i);
}

// Reads instance i's head and files it; false when a value leaves the range
// in which the heaps order as the scans.
bool file(InterpEnv* env, SchedIndex& x, uint32_t i) {
  catchUp(env, x, i);
  remove(x, i);
  const SchedIndex::Instance& instance = x.instances[i];
  uint32_t in = 0;
  uint32_t out = 0;
  if (!ringIds(x, instance.queue, &in, &out)) return false;
  x.priority[i] = instance.priority->u64;
  x.level[i] = instance.priority->u8;
  x.deadline[i] = instance.deadline->u64;
  if (x.policy == NPEDF && instance.deadline->s64 < -kKeyLimit) return false;
  if (in == out) return true;  // nothing pending
  const int64_t head = instance.queue[2 + out].s64;
  if (head < -kKeyLimit || head > kKeyLimit) return false;
  x.key[i] = static_cast<uint64_t>(head) + x.epoch;
  push(x, head <= 0, i);
  return true;
}

// Due instances leave the pending heap for the due heap.
void promote(SchedIndex& x) {
  while (!x.pending.empty() && headOf(x, x.pending.front()) <= 0) {
    const uint32_t i = x.pending.front();
    remove(x, i);
    push(x, true, i);
  }
}

void rebuild(InterpEnv* env, SchedIndex& x) {
  ++x.builds;
  settle(env, x);
  x.valid = false;
  x.usable = false;
  x.pending.clear();
  x.due.clear();
  x.epoch = 0;
  x.policy = interp_get_scheduling_policy();
  const TaggedValue processes = env->ctx->processesValue;
  if (processes.value == nullptr || x.policy > NPEDF) return;
  const Program* program = env->program.get();
  const uint32_t n = program->infoProg->n_globalProcessInstances;
  x.queueType = interp_knownFieldType(env, kField_Process_Instance_next_activations);
  if (x.queueType >= program->infoProg->n_type) return;
  const TypeRecord& queue = program->typeTable[x.queueType];
  if (queue.bufferType != QUEUE_BUFFER || queue.baseType >= program->infoProg->n_type ||
      program->typeTable[queue.baseType].storageSize != 1 || queue.size == kUnsizedBuffer ||
      queue.storageSize < uint64_t{queue.size} + 3) {
    return;
  }
  x.slots = queue.size + 1;
  x.instances.resize(n);
  x.applied.assign(n, 0);
  x.place.assign(n, SchedIndex::kNowhere);
  // Set as each instance is filed, before anything reads them.
  x.key.resize(n);
  x.priority.resize(n);
  x.level.resize(n);
  x.deadline.resize(n);
  x.position.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    const TaggedValue instance = buffer_getIndexValue(env, processes, i);
    if (instance.value == nullptr) return;
    const TaggedValue activations =
        interp_knownField(env, instance, kField_Process_Instance_next_activations);
    x.instances[i] = {instance,
                      interp_knownField(env, instance, kField_Process_Instance_priority).value,
                      interp_knownField(env, instance, kField_Process_Instance_deadline).value,
                      activations, activations.value};
    if (x.instances[i].priority == nullptr || x.instances[i].deadline == nullptr ||
        x.instances[i].queue == nullptr) {
      return;
    }
  }
  x.valid = true;
  for (uint32_t i = 0; i < n; ++i) {
    if (!file(env, x, i)) return;
  }
  x.usable = true;
}

// ---------------------------------------------------------------- analysis

bool isReference(uint32_t op) {
  return op == GLOBAL_VARIABLE_OP || op == LOCAL_VAR || op == STATIC_VARIABLE_OP;
}

// The type a reference node evaluates to (globals from their table entry,
// as the evaluator finds them); NO_ID when it cannot be told.
uint32_t referenceType(const Program* program, const AST_Node& node) {
  if (node.op != GLOBAL_VARIABLE_OP) return node.value.id.type;
  if (node.left >= program->infoProg->n_AST) return NO_ID;
  const uint32_t global = program->RAMprogram[node.left].value.id.index;
  if (global >= program->infoProg->n_globalVariables) return NO_ID;
  return program->globalVariableTable[global].typeId;
}

// The types whose values hold a Process_Instance or the System record.
std::vector<bool> scheduleTypes(InterpEnv* env) {
  const Program* program = env->program.get();
  const uint32_t n = program->infoProg->n_type;
  std::vector<bool> holds(n, false);
  for (const char* name : {"Process_Instance", "System"}) {
    const uint32_t t = interp_getTypeID(env, name);
    if (t < n) holds[t] = true;
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (uint32_t t = 0; t < n; ++t) {
      if (holds[t]) continue;
      const TypeRecord& type = program->typeTable[t];
      // An enumeration's list is of its literals, not of fields.
      if (type.baseType == TypeEnum) continue;
      bool holdsOne = type.bufferType != NONE_BUFFER && type.baseType < n && holds[type.baseType];
      for (const AST_Node* cell = AST_fromId(program, type.fields);
           !holdsOne && cell != nullptr && cell->op == LIST; cell = AST_right(program, cell)) {
        const AST_Node* field = AST_left(program, cell);
        holdsOne = field == nullptr || field->value.id.type >= n || holds[field->value.id.type];
      }
      if (holdsOne) {
        holds[t] = true;
        grew = true;
      }
    }
  }
  return holds;
}

struct CellRange {
  uint32_t type;
  uint64_t first;
  uint64_t end;
};

CellRange fieldRange(InterpEnv* env, uint32_t type, KnownField field) {
  const Program* program = env->program.get();
  const uint32_t offset = interp_knownFieldOffset(env, field);
  const uint32_t fieldType = interp_knownFieldType(env, field);
  const uint64_t size =
      fieldType < program->infoProg->n_type ? program->typeTable[fieldType].storageSize : 0;
  return {type, offset, uint64_t{offset} + (size == 0 ? 1 : size)};
}

}  // namespace

bool schedIndex_programWritesSchedule(InterpEnv* env) {
  const Program* program = env->program.get();
  const uint32_t nodes = program->infoProg->n_AST;
  const std::vector<bool> holds = scheduleTypes(env);
  const uint32_t instanceType = interp_getTypeID(env, "Process_Instance");
  const uint32_t systemType = interp_getTypeID(env, "System");
  // What the scheduler reads: a field access that stays clear of these only
  // touches what the program may change freely.
  const CellRange guarded[] = {
      fieldRange(env, instanceType, kField_Process_Instance_priority),
      fieldRange(env, instanceType, kField_Process_Instance_deadline),
      fieldRange(env, instanceType, kField_Process_Instance_period),
      fieldRange(env, instanceType, kField_Process_Instance_next_activations),
      fieldRange(env, systemType, kField_System_processes),
  };
  std::vector<bool> harmless(nodes, false);
  for (uint32_t id = 0; id < nodes; ++id) {
    const AST_Node& call = program->RAMprogram[id];
    if (call.op != CALL_OP || call.left >= nodes) continue;
    const AST_Node& index = program->RAMprogram[call.left];
    if (index.op != INDEX_NODE || index.value.id.index != kCallFieldCustom || index.left >= nodes)
      continue;
    const AST_Node& object = program->RAMprogram[index.left];
    const uint32_t type = isReference(object.op) ? referenceType(program, object) : NO_ID;
    if (type != instanceType && type != systemType) continue;
    uint32_t offset = index.value.id.custom;
    if (index.right != NO_ID) {
      if (index.right >= nodes) continue;
      offset = program->RAMprogram[index.right].value.id.index;
    }
    const uint64_t size = call.value.id.type < program->infoProg->n_type
                              ? program->typeTable[call.value.id.type].storageSize
                              : UINT32_MAX;
    bool clear = call.value.id.type < holds.size() && !holds[call.value.id.type];
    for (const CellRange& range : guarded) {
      if (range.type == type && offset < range.end && range.first < offset + (size == 0 ? 1 : size))
        clear = false;
    }
    if (clear) harmless[index.left] = true;
  }
  for (uint32_t id = 0; id < nodes; ++id) {
    const AST_Node& node = program->RAMprogram[id];
    if (!isReference(node.op) || harmless[id]) continue;
    const uint32_t type = referenceType(program, node);
    if (type >= holds.size() || holds[type]) return true;
  }
  return false;
}

const std::vector<uint32_t>& schedIndex_triggered(InterpEnv* env) {
  SchedIndex& x = indexOf(env);
  if (!x.listed) {
    x.listed = true;
    const Program* program = env->program.get();
    for (uint32_t i = 0; i < program->infoProg->n_globalProcessInstances; ++i) {
      if (program->processGlobalInstanceTable[i].trigger != NO_ID) x.triggered.push_back(i);
    }
  }
  return x.triggered;
}

void schedIndex_setRunning(InterpEnv* env, bool running) {
  SchedIndex& x = indexOf(env);
  settle(env, x);
  x.running = running;
  x.valid = false;
}

void schedIndex_invalidate(InterpEnv* env) {
  SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr) return;
  settle(env, *x);
  x->valid = false;
}

void schedIndex_beforeCode(InterpEnv* env) {
  SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr || !x->programWrites) return;
  settle(env, *x);
  x->valid = false;
}

void schedIndex_refresh(InterpEnv* env, uint32_t i) {
  SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr || !x->running || !x->valid || !x->usable) return;
  if (i >= x->instances.size() || !file(env, *x, i)) x->usable = false;
}

bool schedIndex_ready(InterpEnv* env) {
  if (env->ctx->plainScheduler) return false;
  SchedIndex& x = indexOf(env);
  if (!x.analysed) {
    x.analysed = true;
    x.programWrites = schedIndex_programWritesSchedule(env);
  }
  if (!x.running || !x.valid || x.policy != interp_get_scheduling_policy()) rebuild(env, x);
  return x.usable;
}

uint64_t schedIndex_builds(InterpEnv* env) {
  return indexOf(env).builds;
}

bool schedIndex_instance(InterpEnv* env, uint32_t i, TaggedValue* instance) {
  const SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr || !x->running || !x->valid || i >= x->instances.size()) return false;
  *instance = x->instances[i].value;
  return true;
}

bool schedIndex_activations(InterpEnv* env, uint32_t i, TaggedValue* queue) {
  SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr || !x->running || !x->valid || i >= x->instances.size()) return false;
  catchUp(env, *x, i);
  *queue = x->instances[i].activations;
  return true;
}

bool schedIndex_elapse(InterpEnv* env, uint64_t elapsed) {
  SchedIndex* x = env->ctx->schedIndex.get();
  if (x == nullptr || !x->running || !x->valid) return false;
  x->epoch += elapsed;
  x->lagging = true;
  if (x->epoch > kEpochLimit) schedIndex_invalidate(env);
  return true;
}

int32_t schedIndex_select(InterpEnv* env) {
  SchedIndex& x = *env->ctx->schedIndex;
  promote(x);
  return x.due.empty() ? -1 : static_cast<int32_t>(x.due.front());
}

uint64_t schedIndex_nextHit(InterpEnv* env) {
  SchedIndex& x = *env->ctx->schedIndex;
  promote(x);
  if (!x.due.empty()) return 0;
  if (x.pending.empty()) return INT64_MAX;
  return static_cast<uint64_t>(headOf(x, x.pending.front()));
}
