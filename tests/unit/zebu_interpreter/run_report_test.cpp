// The report's statistics and the picture's merging, on hand-made runs.
#include "zebu_interpreter/run_report.h"

#include <gtest/gtest.h>

#include "zebu_interpreter/gantt.h"

namespace {

RunLayout layoutOf(size_t instances) {
  RunLayout layout;
  layout.model.push_back('m');  // assigning "m" trips a false GCC 12 -O3 warning
  for (size_t i = 0; i < instances; ++i) {
    layout.instances.push_back(std::string("i").append(std::to_string(i)));
    layout.initialStates.push_back("s");
  }
  return layout;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(RunReport, PercentileIsTheNearestRankAndMeansRoundDownWithoutOverflow) {
  // Response times 1..100 ps (release 0, start 0): p99 is 99, with one more
  // value of 1000 it is 100 (rank ceil(0.99 * 101) = 100).
  RunInstance instance{"i0", {}};
  for (uint64_t r = 1; r <= 100; ++r) instance.activations.push_back({0, 0, r, kNoDeadline, false});
  RunFigures f = report_compute(layoutOf(1), {instance}, 200);
  EXPECT_EQ(f.instances[0].respP99, 99u);
  EXPECT_EQ(f.instances[0].respMean, 50u);  // 5050 / 100 = 50.5
  instance.activations.push_back({0, 0, 1000, kNoDeadline, false});
  f = report_compute(layoutOf(1), {instance}, 2000);
  EXPECT_EQ(f.instances[0].respP99, 100u);
  EXPECT_EQ(f.instances[0].respMax, 1000u);
  const uint64_t big = UINT64_MAX / 2 + 1;
  instance.activations = {{0, 0, big, kNoDeadline, false}, {0, 0, big + 2, kNoDeadline, false}};
  EXPECT_EQ(report_compute(layoutOf(1), {instance}, UINT64_MAX).instances[0].execMean, big + 1);
}

TEST(RunReport, InstanceWithoutActivationsHasNoFigures) {
  const RunFigures f = report_compute(layoutOf(1), {RunInstance{"i0", {}}}, 10);
  EXPECT_NE(report_format(f, ReportFormat::kJson).find("\"execution_ps\":null"), std::string::npos);
  EXPECT_NE(report_format(f, ReportFormat::kCsv).find("\ni0,0,0,,,,,,,,,,,,0.000000,10\n"),
            std::string::npos);
}

TEST(Gantt, ActivationsCloserThanAPixelMerge) {
  struct Case {
    const char* what;
    uint64_t count, spacing, total;
    int bars;
  };
  // The plot is 1000 pixels wide; a bar is at least a pixel wide.
  for (const Case& c :
       {Case{"100 pixels apart", 10, 100, 1000, 10},
        Case{"a pixel of gap between bars", 300, 2, 1000, 300},
        Case{"less than a pixel of gap", 300, 3, 2000, 1}, Case{"5 per pixel", 5000, 1, 5000, 1}}) {
    SCOPED_TRACE(c.what);
    RunInstance instance{"i0", {}};
    for (uint64_t k = 0; k < c.count; ++k) {
      instance.activations.push_back(
          {k * c.spacing, k * c.spacing, k * c.spacing, kNoDeadline, false});
    }
    const std::string svg = gantt_svg(layoutOf(1), {instance}, c.total);
    EXPECT_EQ(count(svg, "<rect class=\"run\""), c.bars);
  }
}

TEST(Gantt, AMergedBarIsRedWhenAnyOfItsActivationsMissed) {
  RunInstance instance{"i0", {}};
  for (uint64_t k = 0; k < 100; ++k)
    instance.activations.push_back({k, k, k, kNoDeadline, k == 50});
  const std::string svg = gantt_svg(layoutOf(1), {instance}, 1000000);
  EXPECT_EQ(count(svg, "<rect class=\"miss\""), 1);
  EXPECT_EQ(count(svg, "<rect class=\"run\""), 0);
  EXPECT_NE(svg.find("100 activations from 0 to 99ps, 1 deadline misses"), std::string::npos);
}
