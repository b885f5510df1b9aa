// Recording a run for the timeline, the value-change dump, the Gantt picture,
// the response-time report and the deadline-miss trace lines.
//
// Nothing is installed unless one of them is asked for, so a run without them
// costs what it did before. When recording, the scheduler's activation
// observer gives each top-level activation's release, start and finish; the
// change callbacks of the global scalar variables and the state-change
// callbacks of every instance are wrapped so the values and states are seen
// whether tracing is on or off (the wrappers write the usual trace lines
// while it is on); the activation callbacks of sub-process instances give
// their work inside the parent's. Values that change without an assignment
// (inputs from the board) are picked up at every activation's start and end.
//
// A deadline miss is an activation whose finish comes after its release plus
// the instance's `deadline` (read when it finishes). Times are those of the
// scheduler's local clock, counted from the start of the recording.
//
// Every file is completed by run_record_finish, which the driver's exit
// paths call; an exit that bypasses them still completes the files from the
// last event (an atexit handler).
#pragma once

#include <string>

#include "ASTLib/rENV.h"
#include "zebu_interpreter/run_report.h"

struct RunRecordOptions {
  std::string timeline;  // file paths; empty: not asked for
  std::string vcd;
  std::string gantt;
  bool report = false;
  ReportFormat reportFormat = ReportFormat::kText;
  std::string reportFile;  // empty: standard output
  bool deadlines = false;  // DEADLINE_MISS trace lines
  bool any() const {
    return !timeline.empty() || !vcd.empty() || !gantt.empty() || report || deadlines;
  }
};

// Opens the files and starts recording a loaded environment whose callbacks
// are installed, before its initialisation (so initial values are seen).
// `quiet`: whether tracing is off. False, after writing why, when a file
// cannot be created.
bool run_record_start(InterpEnv* env, const RunRecordOptions& options, bool quiet,
                      const char* programName);
bool run_record_active();
// Tracing switched on or off: the wrappers write trace lines or not.
void run_record_setTrace(InterpEnv* env, bool quiet);
// Ends the recording: completes and closes every file, writes the report.
// Once only; `env` may be null (the end is then the last event's time).
void run_record_finish(InterpEnv* env);
