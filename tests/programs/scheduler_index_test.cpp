// The scheduler's index against the plain scan it replaces: random task sets
// (periodic and triggered instances, the three policies, execution times,
// priorities, deadlines and periods changed by the program while it runs)
// must give the same trace, byte for byte, either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/support/golden.h"

using namespace kova_test;

namespace {

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  // `writes`: the program may also change what the scheduler reads.
  std::string program(bool writes) {
    const uint32_t n = pick(2, 9);
    std::string text = "var uint64 : c;\nvar uint64 : d;\n";
    static const char* const kPolicies[] = {"FIFO", "NPFP", "NPEDF"};
    text += std::string("@kova:time { system.sched_policy = Scheduling_Policy.") +
            kPolicies[pick(0, 2)] + "; }\n";
    std::vector<bool> triggered(n);
    for (uint32_t i = 1; i < n; ++i) triggered[i] = pick(0, 3) == 0;
    for (uint32_t i = 0; i < n; ++i) {
      text += "processdef W" + std::to_string(i) + "() {\n  state run {";
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
      if (triggered[i]) {
        text += "process W" + std::to_string(i) + " : " + name + "() on (c mod " +
                std::to_string(pick(2, 5)) + " == " + std::to_string(pick(0, 1)) + ");\n";
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
    return text;
  }

 private:
  std::mt19937 random_;

  uint32_t pick(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
  }

  std::string statement(uint32_t n, bool writes) {
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
