// What a recorded run is made of, apart from the interpreter: the top-level
// instances with their activations, the global scalar variables, and the
// events the file writers (timeline, value-change dump) receive as the run
// goes. The writers and the report work on these records alone, so they can
// be checked on hand-made runs.
//
// Times are picoseconds from the run's origin (the local clock when the
// recording started; 0 in simulated time).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int64_t kNoDeadline = INT64_MAX;

struct RunActivation {
  uint64_t release;  // when it fell due
  uint64_t start;    // when it began to run
  uint64_t finish;   // when it ended
  int64_t deadline;  // relative to the release; kNoDeadline: none
  bool missed;       // finished after release + deadline
};

struct RunInstance {
  std::string name;
  std::vector<RunActivation> activations;  // kept only when the report or the picture needs them
};

enum class ScalarKind { kBool, kUnsigned, kSigned, kTime, kFloat };

struct RunVariable {
  std::string name;
  ScalarKind kind;
  uint32_t bits;  // 1 for bool, 8 to 64 for integers and times, 32 or 64 for floats
};

// A variable's value: integers and times in `bits`, floats in `real`.
struct ScalarValue {
  uint64_t bits = 0;
  double real = 0;
};

struct RunLayout {
  std::string model;
  bool realTime = false;
  std::vector<std::string> instances;      // top-level, in index order
  std::vector<std::string> initialStates;  // the state each instance starts in
  std::vector<RunVariable> variables;
};

// Receives the run's events in the order they happen. Times never go back:
// the recorder holds them at the latest time already reported.
class RunSink {
 public:
  virtual ~RunSink() = default;
  virtual void begin(const RunLayout& layout) = 0;
  virtual void variable(uint32_t var, uint64_t t, const ScalarValue& value) = 0;
  virtual void activationStart(uint32_t instance, uint64_t t) = 0;
  virtual void activationEnd(uint32_t instance, const RunActivation& a) = 0;
  // Work of a sub-process instance inside top-level instance `instance`.
  virtual void subActivation(uint32_t instance, const std::string& name, uint64_t start,
                             uint64_t finish) = 0;
  // `who` is empty for the top-level instance itself, else the name of one of
  // its sub-process instances.
  virtual void state(uint32_t instance, const std::string& who, const std::string& state,
                     uint64_t t) = 0;
  // The last call; the file is complete afterwards.
  virtual void end(uint64_t t) = 0;
};
