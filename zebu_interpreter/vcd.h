// The run as a value-change dump (GTKWave, Surfer), timescale 1 ps.
//
// Scope named after the program: every global scalar variable (bools as
// 1-bit wires, integers as vectors of their width, times as 64-bit vectors,
// floats as reals). One scope per top-level instance: `running` (1 while an
// activation runs) and `state` (a string signal with the state's name).
// Everything starts at time 0 with its value unknown ("x") for variables, the
// initial state and not running; the initial values follow at time 0.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "zebu_interpreter/run_data.h"

class VcdWriter : public RunSink {
 public:
  // Takes the open file and closes it at the end.
  explicit VcdWriter(FILE* file);
  ~VcdWriter() override;

  void begin(const RunLayout& layout) override;
  void variable(uint32_t var, uint64_t t, const ScalarValue& value) override;
  void activationStart(uint32_t instance, uint64_t t) override;
  void activationEnd(uint32_t instance, const RunActivation& a) override;
  void subActivation(uint32_t, const std::string&, uint64_t, uint64_t) override {}
  void state(uint32_t instance, const std::string& who, const std::string& state,
             uint64_t t) override;
  void end(uint64_t t) override;

 private:
  void at(uint64_t t);
  FILE* file_;
  RunLayout layout_;
  uint64_t now_ = 0;
  std::vector<std::string> variableIds_;
  std::vector<std::string> runningIds_;
  std::vector<std::string> stateIds_;
};

// The n-th short identifier of a dump: printable characters '!' to '~'.
std::string vcd_identifier(uint32_t n);
