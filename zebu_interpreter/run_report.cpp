#include "zebu_interpreter/run_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "interpreterLib/print_format.h"
#include "zebu_interpreter/timeline.h"

namespace {

// The mean of `values`, rounded down, without overflowing the sum.
uint64_t mean(const std::vector<uint64_t>& values) {
  const uint64_t n = values.size();
  uint64_t quotients = 0;
  uint64_t remainders = 0;
  for (const uint64_t v : values) {
    quotients += v / n;
    remainders += v % n;
  }
  return quotients + remainders / n;
}

// Nearest rank: the smallest value with at least p percent of the values at
// or below it.
uint64_t percentile(std::vector<uint64_t> values, uint64_t p) {
  std::sort(values.begin(), values.end());
  const uint64_t rank = (p * values.size() + 99) / 100;
  return values[rank == 0 ? 0 : rank - 1];
}

std::string percent(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", ratio * 100);
  return text;
}

std::string n(uint64_t v) {
  return std::to_string(v);
}

std::string text(const RunFigures& f) {
  std::string out = "@kova:report {\n";
  out += std::string("  ") + (f.realTime ? "real" : "simulated") +
         " time = " + report_time(f.total) + "; utilisation = " + percent(f.utilisation) + ";\n";
  for (const InstanceFigures& i : f.instances) {
    out += "  " + i.name + ": activations = " + n(i.activations) +
           "; deadline misses = " + n(i.misses) + ";\n";
    if (i.activations == 0) continue;
    out += "    execution best = " + report_time(i.execBest) +
           ", mean = " + report_time(i.execMean) + ", worst = " + report_time(i.execWorst) + ";\n";
    out += "    response min = " + report_time(i.respMin) + ", mean = " + report_time(i.respMean) +
           ", p99 = " + report_time(i.respP99) + ", max = " + report_time(i.respMax) + ";\n";
    out += "    start lateness min = " + report_time(i.lateMin) +
           ", mean = " + report_time(i.lateMean) + ", max = " + report_time(i.lateMax) +
           "; start jitter = " + report_time(i.jitter) + ";\n";
  }
  return out + "}\n";
}

std::string json(const RunFigures& f) {
  char utilisation[32];
  std::snprintf(utilisation, sizeof utilisation, "%.6f", f.utilisation);
  std::string out = "{\"model\":" + json_quote(f.model) + ",\"clock\":\"" +
                    (f.realTime ? "real" : "simulated") + "\",\"total_time_ps\":" + n(f.total) +
                    ",\"utilisation\":" + utilisation + ",\"instances\":[";
  bool first = true;
  for (const InstanceFigures& i : f.instances) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "{\"name\":" + json_quote(i.name) + ",\"activations\":" + n(i.activations) +
           ",\"deadline_misses\":" + n(i.misses) + ",\"busy_ps\":" + n(i.busy);
    if (i.activations == 0) {
      out += ",\"execution_ps\":null,\"response_ps\":null,\"lateness_ps\":null,\"jitter_ps\":null}";
      continue;
    }
    out += ",\"execution_ps\":{\"best\":" + n(i.execBest) + ",\"mean\":" + n(i.execMean) +
           ",\"worst\":" + n(i.execWorst) + "}";
    out += ",\"response_ps\":{\"min\":" + n(i.respMin) + ",\"mean\":" + n(i.respMean) +
           ",\"p99\":" + n(i.respP99) + ",\"max\":" + n(i.respMax) + "}";
    out += ",\"lateness_ps\":{\"min\":" + n(i.lateMin) + ",\"mean\":" + n(i.lateMean) +
           ",\"max\":" + n(i.lateMax) + "},\"jitter_ps\":" + n(i.jitter) + "}";
  }
  return out + "\n]}\n";
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string csv(const RunFigures& f) {
  std::string out =
      "instance,activations,deadline_misses,exec_best_ps,exec_mean_ps,exec_worst_ps,"
      "response_min_ps,response_mean_ps,response_p99_ps,response_max_ps,lateness_min_ps,"
      "lateness_mean_ps,lateness_max_ps,jitter_ps,utilisation,total_time_ps\n";
  for (const InstanceFigures& i : f.instances) {
    char share[32];
    std::snprintf(share, sizeof share, "%.6f",
                  f.total == 0 ? 0.0 : static_cast<double>(i.busy) / static_cast<double>(f.total));
    // Appended piece by piece: GCC 12 at -O3 reports a false overlap in
    // chains of string additions here.
    out += csvField(i.name);
    out += ',';
    out += n(i.activations);
    out += ',';
    out += n(i.misses);
    if (i.activations == 0) {
      out += ",,,,,,,,,,,";
    } else {
      for (const uint64_t v : {i.execBest, i.execMean, i.execWorst, i.respMin, i.respMean,
                               i.respP99, i.respMax, i.lateMin, i.lateMean, i.lateMax, i.jitter}) {
        out += ',';
        out += n(v);
      }
    }
    out += ',';
    out += share;
    out += ',';
    out += n(f.total);
    out += '\n';
  }
  return out;
}

}  // namespace

std::string report_time(uint64_t ps) {
  std::string out;
  print_time_helper(
      &out, [](void* ctx, const char* piece) { *static_cast<std::string*>(ctx) += piece; }, ps);
  return out;
}

RunFigures report_compute(const RunLayout& layout, const std::vector<RunInstance>& instances,
                          uint64_t total) {
  RunFigures f;
  f.model = layout.model;
  f.realTime = layout.realTime;
  f.total = total;
  uint64_t busy = 0;
  for (const RunInstance& instance : instances) {
    InstanceFigures figures;
    figures.name = instance.name;
    figures.activations = instance.activations.size();
    std::vector<uint64_t> exec, response, lateness;
    for (const RunActivation& a : instance.activations) {
      exec.push_back(a.finish - a.start);
      response.push_back(a.finish - a.release);
      lateness.push_back(a.start - a.release);
      figures.busy += a.finish - a.start;
      if (a.missed) ++figures.misses;
    }
    busy += figures.busy;
    if (!exec.empty()) {
      figures.execBest = *std::min_element(exec.begin(), exec.end());
      figures.execWorst = *std::max_element(exec.begin(), exec.end());
      figures.execMean = mean(exec);
      figures.respMin = *std::min_element(response.begin(), response.end());
      figures.respMax = *std::max_element(response.begin(), response.end());
      figures.respMean = mean(response);
      figures.respP99 = percentile(response, 99);
      figures.lateMin = *std::min_element(lateness.begin(), lateness.end());
      figures.lateMax = *std::max_element(lateness.begin(), lateness.end());
      figures.lateMean = mean(lateness);
      figures.jitter = figures.lateMax - figures.lateMin;
    }
    f.instances.push_back(std::move(figures));
  }
  f.utilisation = total == 0 ? 0.0 : static_cast<double>(busy) / static_cast<double>(total);
  return f;
}

std::string report_format(const RunFigures& figures, ReportFormat format) {
  switch (format) {
    case ReportFormat::kText: return text(figures);
    case ReportFormat::kJson: return json(figures);
    case ReportFormat::kCsv: return csv(figures);
  }
  return {};
}
