// The interpreter environment: a loaded program, its run-time context and the
// fixed local tables.
//
// The interpreter core talks to its host only through the callbacks held in
// the context; the host (driver, board layer, tests) installs its own with the
// `env_on_` functions of rEnv.h. Per-variable and per-instance callback arrays
// exist once a program is loaded. Nothing here allocates after creation
// except loading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ASTLib/known_fields.h"
#include "ASTLib/kova_typing.h"
#include "ASTLib/memory.h"
#include "ASTLib/rAST.h"

struct InterpEnv;
struct CompiledCode;
struct SchedIndex;  // the scheduler's index of pending activations (interpreterLib)

// Fixed capacities of the local tables and of the evaluation stack.
inline constexpr uint32_t kMaxLocalVariables = 3200;
inline constexpr uint32_t kMaxLocalConstants = 3200;
inline constexpr uint32_t kMaxLocalData = 3200;
inline constexpr uint32_t kStackCells = 3200;
// Nodes left free after a loaded program for what the console compiles.
inline constexpr uint32_t kSpareNodes = 1000;
// User function calls that may run nested in one another; one more ends the
// run with "Stack overflow". The host's stack is watched as well: nested
// calls whose bodies nest deeply exhaust it long before that count, so a call
// that finds more than three quarters of it used fails the same way (the
// last quarter is room for one body nested as deep as a program may nest).
inline constexpr uint32_t kMaxCallDepth = 500;

using PrintCallback = void (*)(InterpEnv* env, uint8_t c);
// Ends the run; line 0 means no source line (a failure).
using ExitCallback = void (*)(InterpEnv* env, uint32_t line, uint8_t status);
// Acts only when condition is 0.
using AssertCallback = void (*)(InterpEnv* env, uint32_t condition, const char* file, uint32_t line,
                                const char* function, const char* expression);
using SyncioCallback = void (*)(InterpEnv* env);
using TimeCallback = uint64_t (*)(InterpEnv* env);
using DelayCallback = void (*)(InterpEnv* env, uint64_t duration);
using RandomCallback = uint64_t (*)(InterpEnv* env);
using RandomSeedCallback = void (*)(uint64_t seed);
using InvalidOpCallback = void (*)(InterpEnv* env, const AST_Node* node, uint32_t kind);
// Nonzero when the callback performed the change itself.
using VarChangeCallback = uint32_t (*)(InterpEnv* env, uint32_t globalId, uint32_t kind,
                                       TaggedValue newValue);
using VarReadCallback = uint32_t (*)(InterpEnv* env, uint32_t globalId);
using FsmChangedCallback = void (*)(InterpEnv* env, TaggedValue instance, uint32_t kind,
                                    uint32_t value);
using ProcessActivationCallback = void (*)(InterpEnv* env, TaggedValue instance, uint32_t event);
// The scheduler's STARTING_TASK / TASK_FINISHED line for top-level instance i.
using TaskTraceCallback = void (*)(InterpEnv* env, const char* tag, uint32_t instance);
// Top-level instance i starts (START) or has finished (END) an activation that
// fell due at local time `release`; for hosts that record the run.
using ActivationObserver = void (*)(InterpEnv* env, uint32_t instance, uint32_t event,
                                    uint64_t release);
// One operator family: the node's op applied to two raw 8-byte operands.
using OperatorFunction = uint64_t (*)(InterpEnv* env, const AST_Node* node, uint64_t left,
                                      uint64_t right);

// Kinds of var_change_callback.
enum VarChangeKind : uint32_t { kVarAssign = 0, kVarPush = 1 };
// Kinds of fsm_changed_callback.
enum FsmChangeKind : uint32_t { kFsmEnteredState = 0, kFsmAfterFired = 1 };
// Events of process_activation_callback.
enum ActivationEvent : uint32_t { START = 0, END = 1 };

struct LocalVarsIndexes {
  struct {
    uint32_t processStaticVariables;  // NO_ID when no process instance runs
    uint32_t variables;
  } base;
  struct {
    uint32_t variables;
    uint32_t constants;
    uint32_t variablesData;
  } count;
};

struct LocalVarsCounts {
  uint32_t variables;
  uint32_t constants;
  uint32_t variablesData;
};

struct Context {
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context();  // stops reporting value faults to this environment (rEnv.h)

  // Time base (rEnv.h).
  uint64_t localTime = 0;
  uint64_t absoluteTime = 0;
  int64_t driftRemainder = 0;
  int64_t* ppm = nullptr;  // System.ppm of the variable "system"; null reads as 0
  int64_t localTimeOffset = 0;

  LocalVarsIndexes localVarsIndexes{};

  // Per process instance / per global variable, created by loading.
  MemArray<FsmChangedCallback> fsm_changed_callback;
  MemArray<VarChangeCallback> var_change_callback;
  MemArray<VarReadCallback> var_read_callback;
  MemArray<ProcessActivationCallback> process_activation_callback;

  PrintCallback print_callback = nullptr;
  bool print_enabled = false;
  ExitCallback exit_callback = nullptr;
  AssertCallback assert_callback = nullptr;
  SyncioCallback syncio_callback_input = nullptr;
  SyncioCallback syncio_callback = nullptr;
  TimeCallback get_local_time_callback = nullptr;
  TimeCallback get_absolute_time_callback = nullptr;
  DelayCallback delay_callback = nullptr;
  RandomCallback random_callback = nullptr;
  RandomSeedCallback random_seed_callback = nullptr;
  InvalidOpCallback invalid_op_callback = nullptr;
  TaskTraceCallback task_trace_callback = nullptr;   // none: no task lines
  ActivationObserver activation_observer = nullptr;  // none: nothing records the run

  // Evaluation stack. `stack_floor` protects a caller's operands while a
  // nested user function or sub-process runs: statement-boundary resets
  // return the count to the floor, never below it.
  MemArray<ValueCell> stack;
  uint32_t stack_used = 0;
  uint32_t stack_floor = 0;

  MemArray<OperatorFunction> execute_operator;  // 17 entries, by operator type id

  // Scheduler times, ps of the local clock.
  uint64_t sched_now = 0;
  uint64_t sched_previous = 0;
  uint64_t suspend_time = 0;
  uint64_t resume_time = 0;
  uint64_t until_time = 0;

  // Built by the scheduler on first use; its deleter comes with it.
  std::unique_ptr<SchedIndex, void (*)(SchedIndex*)> schedIndex{nullptr, nullptr};
  bool plainScheduler = false;  // choose by scanning every instance, without the index
  // env_is_quiet's answer; -1 once a variable callback may have changed.
  int8_t quietCache = -1;

  // The buffers of the loops over buffers now running, innermost last. An
  // iterator's cells name its entry by place and serial number, never by
  // address, so that cells a program file made up name nothing.
  struct LiveIterator {
    TaggedValue* buffer;
    uint32_t serial;
  };
  std::vector<LiveIterator> liveIterators;
  uint32_t iteratorSerial = 0;

  uint32_t startPid = 0;
  bool realtime = false;
  bool initialized = false;
  TaggedValue systemValue = kEmptyValue;     // the global variable "system"
  TaggedValue processesValue = kEmptyValue;  // its `processes` field
  uint32_t processInstanceTypeId = NO_ID;    // the type "Process_Instance"
  uint32_t callDepth = 0;                    // user functions running, nested
  uintptr_t stackBase = 0;                   // host stack address of the outermost call
  size_t stackBudget = 0;                    // bytes of host stack calls may use

  // The compiled evaluator's code for the loaded program (null: everything
  // runs on the tree walker) and whether loading a program makes it.
  std::shared_ptr<CompiledCode> compiled;
  bool compiledEval = true;

  // Cell offsets and type ids of the known fields (NO_ID: not looked up yet).
  uint32_t knownFieldOffset[kKnownFieldCount];
  uint32_t knownFieldType[kKnownFieldCount];
};

// The fixed local tables. Global and static variables live in the program's
// initial-data tables (their table entries point there), so no copy is kept.
struct Data {
  MemArray<TaggedValue> localVariableTable;    // kMaxLocalVariables
  MemArray<TaggedValue> localConstantTable;    // kMaxLocalConstants
  MemArray<ValueCell> localVariableDataTable;  // kMaxLocalData
};

struct InterpEnv {
  std::unique_ptr<Program> program;
  std::unique_ptr<Context> ctx;
  std::unique_ptr<Data> data;
};
