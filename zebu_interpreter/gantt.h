// The run as a picture: a self-contained SVG file any browser opens.
//
// One row per top-level instance. An activation is a bar from its start to
// its finish (at least one pixel wide, so instantaneous ones show), red when
// it missed its deadline; a tick marks its release and a shaded band the
// time from release to start (its lateness). Below the rows, a time axis in
// the trace's units. Activations closer than a pixel are merged into one bar
// (its tooltip says how many), so runs of thousands of activations stay light.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zebu_interpreter/run_data.h"

// `total`: the run's length (the axis ends there, or at the last finish).
std::string gantt_svg(const RunLayout& layout, const std::vector<RunInstance>& instances,
                      uint64_t total);
