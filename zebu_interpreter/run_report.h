// Response-time figures of a recorded run, per top-level instance, and their
// three forms: text (for the console), JSON and CSV.
//
// For each activation: execution time = finish - start, response time =
// finish - release, start lateness = start - release. Per instance: the
// activation count, best / mean / worst execution time, response time min /
// mean / p99 / max (p99 by nearest rank), start lateness min / mean / max, the
// start jitter (max - min lateness) and the deadline misses. For the run: the
// total time from the origin to the end and the processor utilisation (the
// sum of execution times over the total time). Means are rounded down to the
// picosecond.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zebu_interpreter/run_data.h"

struct InstanceFigures {
  std::string name;
  uint64_t activations = 0;
  uint64_t misses = 0;
  uint64_t busy = 0;  // the sum of the execution times
  uint64_t execBest = 0, execMean = 0, execWorst = 0;
  uint64_t respMin = 0, respMean = 0, respP99 = 0, respMax = 0;
  uint64_t lateMin = 0, lateMean = 0, lateMax = 0;
  uint64_t jitter = 0;
};

struct RunFigures {
  std::string model;
  bool realTime = false;
  uint64_t total = 0;
  double utilisation = 0;  // 0 to 1 (above 1 only if the clock went back)
  std::vector<InstanceFigures> instances;
};

RunFigures report_compute(const RunLayout& layout, const std::vector<RunInstance>& instances,
                          uint64_t total);

enum class ReportFormat { kText, kJson, kCsv };

std::string report_format(const RunFigures& figures, ReportFormat format);
// A time in the unit form of the trace (0, 1s500ms, ...).
std::string report_time(uint64_t ps);
