// The run as a trace-event file (the JSON format that Perfetto and
// chrome://tracing open).
//
// One process for the program, one thread (track) per top-level instance.
// Each activation is a complete event ("X") from its start to its finish, its
// sub-process work nested inside it on the same track; state changes are
// instant events; each global scalar variable is a counter track. A deadline
// miss colours its activation and adds an instant "deadline miss". Event
// times are microseconds with six decimals, so no picosecond is lost; the
// arguments repeat the times in picoseconds.
//
// Events are written as they happen and the file is closed by `end`, which
// every exit path reaches.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "zebu_interpreter/run_data.h"

class TimelineWriter : public RunSink {
 public:
  // Takes the open file and closes it at the end.
  explicit TimelineWriter(FILE* file);
  ~TimelineWriter() override;

  void begin(const RunLayout& layout) override;
  void variable(uint32_t var, uint64_t t, const ScalarValue& value) override;
  void activationStart(uint32_t, uint64_t) override {}
  void activationEnd(uint32_t instance, const RunActivation& a) override;
  void subActivation(uint32_t instance, const std::string& name, uint64_t start,
                     uint64_t finish) override;
  void state(uint32_t instance, const std::string& who, const std::string& state,
             uint64_t t) override;
  void end(uint64_t t) override;

 private:
  void event(const std::string& body);
  FILE* file_;
  RunLayout layout_;
  bool first_ = true;
};

// A JSON string literal of `text` (quotes included).
std::string json_quote(const std::string& text);
