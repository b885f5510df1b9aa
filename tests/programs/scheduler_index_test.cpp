// The scheduler's index against the plain scan it replaces: random task sets
// (periodic and triggered instances, the three policies, execution times,
// priorities, deadlines and periods changed by the program while it runs)
// must give the same trace, byte for byte, either way. The index lets the
// queues fall behind the clock while nothing else reads them, so some task
// sets start their instances apart within their periods (one clock advance
// per activation) and read the pending activations from their code, their
// trigger conditions, a final function, the console and a scenario, in the
// middle of runs and after an exit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

struct Shape {
  bool writes = false;     // the program may change what the scheduler reads
  bool reads = false;      // its code reads the pending activations
  bool staggered = false;  // periodic instances start apart within their periods
  bool exits = false;      // p0 ends the program after a few steps
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  // `writes`: the program may also change what the scheduler reads.
  std::string program(bool writes) { return program(Shape{.writes = writes}); }

  std::string program(const Shape& shape) {
    const bool writes = shape.writes;
    reads_ = shape.reads;
    const uint32_t n = pick(2, 9);
    std::string text = "var uint64 : c;\nvar uint64 : d;\n";
    if (shape.exits) text += "var uint64 : e;\n";
    static const char* const kPolicies[] = {"FIFO", "NPFP", "NPEDF"};
    text += std::string("@kova:time { system.sched_policy = Scheduling_Policy.") +
            kPolicies[pick(0, 2)] + "; }\n";
    std::vector<bool> triggered(n);
    for (uint32_t i = 1; i < n; ++i) triggered[i] = pick(0, 3) == 0;
    for (uint32_t i = 0; i < n; ++i) {
      text += "processdef W" + std::to_string(i) + "() {\n";
      if (i == 0 && shape.exits) {
        text +=
            "  common { e = e + 1; if (e >= " + std::to_string(pick(2, 12)) + ") { exit(3); } }\n";
      }
      text += "  state run {";
      const uint32_t statements = pick(1, 3);
      for (uint32_t s = 0; s < statements; ++s) {
        text += ' ';
        text += statement(n, writes);
      }
      // A condition that stays true runs its instance again at once: only
      // time spent lets the run reach its end.
      if (triggered[i]) text += " self.execution_time = " + std::to_string(pick(50, 700)) + " us;";
      text += " }\n";
      if (pick(0, 2) == 0) text += "  after (" + std::to_string(pick(1, 4)) + " ms) to rest;\n";
      text += "  state rest { d = d + 1; }\n  on (c mod 2 == 0) to run;\n}\n";
    }
    for (uint32_t i = 0; i < n; ++i) {
      std::string name = "p";
      name += std::to_string(i);
      if (triggered[i] && shape.reads && pick(0, 1) == 0) {
        // p0 is periodic: its queue holds its next activation.
        const std::string limit = std::to_string(pick(1, 6) * 250000000);  // ps
        text += "process W" + std::to_string(i) + " : " + name +
                "() on (p0.next_activations.peek() < " + limit + ");\n";
      } else if (triggered[i]) {
        text += "process W" + std::to_string(i) + " : " + name + "() on (c mod " +
                std::to_string(pick(2, 5)) + " == " + std::to_string(pick(0, 1)) + ");\n";
      } else if (shape.staggered) {
        const uint32_t period = pick(1, 4);
        const std::string offset = std::to_string(pick(0, period * 1000 - 1));
        text += "process W" + std::to_string(i) + " : " + name + "[" + std::to_string(period) +
                " ms, " + offset + " us]();\n";
      } else {
        text += "process W" + std::to_string(i) + " : " + name + "[" + std::to_string(pick(1, 4)) +
                " ms, " + std::to_string(pick(0, 3) * 500) + " us]();\n";
      }
      if (pick(0, 1) == 0) {
        text += "@kova:time:" + name + " { " + name + ".jitter = " + std::to_string(pick(0, 300)) +
                " us; ";
        if (writes) {
          text += name + ".priority = " + std::to_string(pick(0, 5)) + "; " + name +
                  ".deadline = " + std::to_string(pick(1, 8000)) + " us; ";
        }
        text += "}\n";
      }
    }
    // For --finally-func: what is pending when the program ends (code that
    // reads the queues, so only where the program's code reads them).
    if (!shape.reads) return text;
    text += "report() {\n";
    for (uint32_t i = 0; i < n; ++i) {
      std::string name = "p";
      name += std::to_string(i);
      text += "  ";
      text += show(name);
      text += '\n';
    }
    return text + "}\n";
  }

  // Console lines (or scenario lines) that run for a while and show pending
  // activations; `exits`: at last a run long enough to reach the program's
  // exit, then lines for the console that the exit opens.
  std::string console(uint32_t n, bool exits) {
    std::string lines;
    for (uint32_t k = pick(4, 10); k > 0; --k) {
      // Built by appending: GCC 12 at -O3 takes "literal" + string for an
      // overflow.
      std::string instance = "p";
      instance += std::to_string(pick(0, n - 1));
      switch (pick(0, 4)) {
        case 0: lines += "step\n"; break;
        case 1:
          lines += '?';
          lines += instance;
          lines += '\n';
          break;
        case 2:
          lines += '?';
          lines += instance;
          lines += ".next_activations\n";
          break;
        default:
          lines += '@';
          lines += std::to_string(pick(1, 7));
          lines += " ?";
          lines += instance;
          lines += ".next_activations\n";
      }
    }
    if (!exits) return lines;
    lines += "@60 ?p0\n";
    for (uint32_t i = 0; i < n; ++i) {
      lines += "?p";
      lines += std::to_string(i);
      lines += ".next_activations\n";
    }
    return lines;
  }

 private:
  std::mt19937 random_;
  bool reads_ = false;

  uint32_t pick(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
  }

  // Prints the length and head of an instance's queue.
  static std::string show(const std::string& instance) {
    const std::string queue = instance + ".next_activations";
    return "if (" + queue + ".count() > 0) { IO.println(\"" + instance + " %u %d\", " + queue +
           ".count(), " + queue + ".peek()); }";
  }

  std::string statement(uint32_t n, bool writes) {
    if (reads_ && pick(0, 2) == 0) {
      return show(pick(0, 3) == 0 ? "self" : "p" + std::to_string(pick(0, n - 1)));
    }
    std::string other = "p";
    other += std::to_string(pick(0, n - 1));
    switch (pick(0, writes ? 7 : 3)) {
      case 0: return "c = c + 1;";
      case 1: return "self.execution_time = " + std::to_string(pick(0, 900)) + " us;";
      case 2:
        return "if (c mod 3 == 0) { self.execution_time = " + std::to_string(pick(1, 400)) +
               " us; }";
      case 3: return "c = c + 1; d = d + c;";
      case 4: return "self.priority = uint8(c mod " + std::to_string(pick(2, 7)) + ");";
      case 5: return other + ".priority = uint8((c + d) mod 5);";
      case 6: return other + ".deadline = " + std::to_string(pick(0, 6000)) + " us;";
      default: return "self.deadline = " + std::to_string(pick(100, 9000)) + " us;";
    }
  }
};

struct Scan {
  Scan() { setenv("KOVA_SCHEDULER", "scan", 1); }
  ~Scan() { unsetenv("KOVA_SCHEDULER"); }
};

TEST(SchedulerIndex, SameTraceAsThePlainScan) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    Generator generator(seed);
    const std::string source = generator.program(seed % 2 == 0);
    const RunResult indexed = runKovaSource("random_tasks", source, "-t 40");
    RunResult scanned;
    {
      Scan scan;
      scanned = runKovaSource("random_tasks", source, "-t 40");
    }
    ASSERT_EQ(indexed.status, 0) << source << indexed.out;
    ASSERT_NE(indexed.out.find("STARTING_TASK"), std::string::npos) << source;
    ASSERT_EQ(indexed.out, scanned.out) << "seed " << seed << "\n" << source;
  }
}

}  // namespace

namespace {

uint32_t instancesOf(const std::string& source) {
  uint32_t n = 0;
  for (size_t at = source.find("\nprocess "); at != std::string::npos;
       at = source.find("\nprocess ", at + 1)) {
    ++n;
  }
  return n;
}

// Runs the same command with the index and with the plain scan.
void expectSameBothWays(const std::string& source, const std::string& arguments,
                        const std::string& input, const std::string& what) {
  const RunResult indexed = runKovaSource("random_tasks", source, arguments, input);
  RunResult scanned;
  {
    Scan scan;
    scanned = runKovaSource("random_tasks", source, arguments, input);
  }
  ASSERT_EQ(indexed.status, scanned.status) << what << "\n" << source << input;
  ASSERT_EQ(indexed.out, scanned.out) << what << "\n" << source << input;
}

TEST(SchedulerIndex, StaggeredTaskSetsReadingTheirQueues) {
  uint32_t reported = 0;
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    Generator generator(1000 + seed);
    const Shape shape{
        .writes = seed % 3 == 0, .reads = seed % 5 != 0, .staggered = true, .exits = seed % 4 == 0};
    const std::string source = generator.program(shape);
    const std::string arguments =
        shape.reads && seed % 2 == 0 ? "-t 40 --finally-func report" : "-t 40";
    expectSameBothWays(source, arguments, "", "seed " + std::to_string(seed));
    const RunResult run = runKovaSource("random_tasks", source, arguments);
    ASSERT_NE(run.out.find("STARTING_TASK"), std::string::npos) << source;
    if (run.out.find(":PRINTLN] p") != std::string::npos) ++reported;
  }
  EXPECT_GE(reported, 15u) << "too few runs printed a queue";
}

// Between runs, and after an exit in the middle of one, the console shows
// the queues of a program whose own code never reaches them (the index
// keeps them behind the clock through its steps).
TEST(SchedulerIndex, ConsoleAndScenarioShowQueuesUpToDate) {
  uint32_t shown = 0;
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    Generator generator(2000 + seed);
    const bool exits = seed % 3 == 0;
    const std::string source = generator.program(Shape{.staggered = true, .exits = exits});
    const std::string lines = generator.console(instancesOf(source), exits);
    const std::string what = "seed " + std::to_string(seed);
    expectSameBothWays(source, "-q -i", lines, what + " console");
    const std::string scenario = tempPath("random_tasks.scenario");
    std::ofstream(scenario, std::ios::binary) << lines;
    expectSameBothWays(source, "-s " + scenario, "", what + " scenario");
    const RunResult run = runKovaSource("random_tasks", source, "-q -i", lines);
    if (run.out.find("{") != std::string::npos) ++shown;
    if (exits) {
      // The exit's own console showed queues.
      const size_t exit = run.out.find("EXIT AT LINE");
      ASSERT_NE(exit, std::string::npos) << source << lines;
      EXPECT_NE(run.out.find("{", exit), std::string::npos) << source << lines << run.out;
    }
  }
  EXPECT_GE(shown, 20u) << "too few sessions showed a queue";
}

}  // namespace
