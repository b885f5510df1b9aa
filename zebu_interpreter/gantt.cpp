#include "zebu_interpreter/gantt.h"

#include <algorithm>
#include <cstdio>

#include "zebu_interpreter/run_report.h"

namespace {

constexpr double kPlotWidth = 1000;
constexpr double kLeft = 150;  // instance names
constexpr double kRight = 30;
constexpr double kTop = 40;
constexpr double kRowHeight = 30;
constexpr double kBarTop = 9;  // within a row; the release tick stands above the bar
constexpr double kBarHeight = 16;
constexpr double kAxisHeight = 50;
constexpr int kMaxTicks = 10;

std::string fmt(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A round axis step (1, 2 or 5 times a power of ten picoseconds) giving at
// most kMaxTicks intervals.
uint64_t axisStep(uint64_t total) {
  uint64_t power = 1;
  for (;;) {
    for (const uint64_t m : {1, 2, 5}) {
      if (power > UINT64_MAX / m) return UINT64_MAX;
      if (total / (m * power) <= kMaxTicks) return m * power;
    }
    if (power > UINT64_MAX / 10) return UINT64_MAX;
    power *= 10;
  }
}

class Picture {
 public:
  explicit Picture(uint64_t total) : scale_(kPlotWidth / static_cast<double>(total)) {}
  double x(uint64_t t) const { return kLeft + static_cast<double>(t) * scale_; }

  // One row: merged bars, lateness bands and release ticks.
  std::string row(const RunInstance& instance, double top) const {
    std::string out;
    std::string bands, ticks, bars;
    double lastTick = -1;
    Group bar, band;
    for (const RunActivation& a : instance.activations) {
      if (a.start > a.release) add(band, a, a.release, a.start, bands, top, "late");
      add(bar, a, a.start, a.finish, bars, top, nullptr);
      const double tx = x(a.release);
      if (tx - lastTick >= 1) {
        ticks += "<line class=\"rel\" x1=\"" + fmt(tx) + "\" x2=\"" + fmt(tx) + "\" y1=\"" +
                 fmt(top + 2) + "\" y2=\"" + fmt(top + kBarTop + kBarHeight) + "\"/>\n";
        lastTick = tx;
      }
    }
    flush(band, bands, top, "late");
    flush(bar, bars, top, nullptr);
    return bands + ticks + bars;
  }

 private:
  struct Group {
    bool open = false;
    double x0 = 0, x1 = 0;
    uint64_t count = 0, misses = 0;
    RunActivation first{}, last{};
  };

  // Extends the open group with [from, to] when less than a pixel separates
  // it from the group's end; otherwise writes the group out and opens a new
  // one.
  void add(Group& g, const RunActivation& a, uint64_t from, uint64_t to, std::string& out,
           double top, const char* cls) const {
    const double x0 = x(from);
    const double x1 = std::max(x(to), x0 + 1);
    if (g.open && x0 < g.x1 + 1) {
      g.x1 = std::max(g.x1, x1);
      ++g.count;
      g.misses += a.missed ? 1 : 0;
      g.last = a;
      return;
    }
    flush(g, out, top, cls);
    g = {true, x0, x1, 1, a.missed ? 1u : 0u, a, a};
  }

  void flush(Group& g, std::string& out, double top, const char* cls) const {
    if (!g.open) return;
    g.open = false;
    const char* kind = cls != nullptr ? cls : g.misses != 0 ? "miss" : "run";
    std::string title;
    if (cls != nullptr) {
      title = "late by " + report_time(g.first.start - g.first.release);
      if (g.count > 1) title = std::to_string(g.count) + " lateness bands";
    } else if (g.count == 1) {
      title = "released " + report_time(g.first.release) + ", started " +
              report_time(g.first.start) + ", finished " + report_time(g.first.finish) +
              (g.misses != 0 ? ", deadline missed" : "");
    } else {
      title = std::to_string(g.count) + " activations from " + report_time(g.first.start) + " to " +
              report_time(g.last.finish) +
              (g.misses != 0 ? ", " + std::to_string(g.misses) + " deadline misses" : "");
    }
    out += "<rect class=\"" + std::string(kind) + "\" x=\"" + fmt(g.x0) + "\" y=\"" +
           fmt(top + kBarTop) + "\" width=\"" + fmt(g.x1 - g.x0) + "\" height=\"" +
           fmt(kBarHeight) + "\"><title>" + escape(title) + "</title></rect>\n";
  }

  double scale_;
};

}  // namespace

std::string gantt_svg(const RunLayout& layout, const std::vector<RunInstance>& instances,
                      uint64_t total) {
  for (const RunInstance& i : instances) {
    for (const RunActivation& a : i.activations) total = std::max(total, a.finish);
  }
  if (total == 0) total = 1;
  const Picture picture(total);
  const double height = kTop + kRowHeight * static_cast<double>(instances.size()) + kAxisHeight;
  const double width = kLeft + kPlotWidth + kRight;
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fmt(width) + "\" height=\"" +
         fmt(height) + "\" viewBox=\"0 0 " + fmt(width) + " " + fmt(height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  out +=
      "<style>.run{fill:#3b7dd8}.miss{fill:#d62728}.late{fill:#f5c26b;opacity:0.6}"
      ".rel{stroke:#333;stroke-width:1}.grid{stroke:#ccc;stroke-width:1}"
      ".row{fill:#f4f4f4}.axis{stroke:#333;stroke-width:1}</style>\n";
  out += "<rect x=\"0\" y=\"0\" width=\"" + fmt(width) + "\" height=\"" + fmt(height) +
         "\" fill=\"white\"/>\n";
  out += "<text x=\"" + fmt(kLeft) + "\" y=\"22\" font-size=\"14\">" + escape(layout.model) + " (" +
         (layout.realTime ? "real" : "simulated") + " time, " + report_time(total) + ")</text>\n";
  const double axisY = kTop + kRowHeight * static_cast<double>(instances.size());
  const uint64_t step = axisStep(total);
  for (uint64_t t = 0; t <= total; t += step) {
    const double tx = picture.x(t);
    out += "<line class=\"grid\" x1=\"" + fmt(tx) + "\" x2=\"" + fmt(tx) + "\" y1=\"" + fmt(kTop) +
           "\" y2=\"" + fmt(axisY + 5) + "\"/>\n";
    out += "<text x=\"" + fmt(tx) + "\" y=\"" + fmt(axisY + 20) + "\" text-anchor=\"middle\">" +
           escape(report_time(t)) + "</text>\n";
    if (t > total - step) break;
  }
  out += "<line class=\"axis\" x1=\"" + fmt(kLeft) + "\" x2=\"" + fmt(kLeft + kPlotWidth) +
         "\" y1=\"" + fmt(axisY) + "\" y2=\"" + fmt(axisY) + "\"/>\n";
  for (size_t r = 0; r < instances.size(); ++r) {
    const double top = kTop + kRowHeight * static_cast<double>(r);
    if (r % 2 == 0) {
      out += "<rect class=\"row\" x=\"" + fmt(kLeft) + "\" y=\"" + fmt(top) + "\" width=\"" +
             fmt(kPlotWidth) + "\" height=\"" + fmt(kRowHeight) + "\"/>\n";
    }
    out += "<text x=\"" + fmt(kLeft - 8) + "\" y=\"" + fmt(top + kBarTop + kBarHeight - 3) +
           "\" text-anchor=\"end\">" + escape(instances[r].name) + "</text>\n";
    out += picture.row(instances[r], top);
  }
  out += "<text x=\"" + fmt(kLeft) + "\" y=\"" + fmt(height - 8) +
         "\" fill=\"#555\">bars: activations (red: deadline missed); ticks: releases; "
         "shaded: start lateness</text>\n";
  return out + "</svg>\n";
}
