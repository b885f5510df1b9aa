// The kova command line: usage, option errors, limits and bad program files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

// The usage text, with this build's kova in it.
std::string usage() {
  std::string text = readFile(KOVA_CLI "/usage.expected");
  text.replace(text.find("@KOVA@"), 6, KOVA_BINARY);
  return text;
}

// The bytes of a program file: one idle instance, every millisecond.
std::string idleProgram() {
  ProgramBuilder b({.modelName = "idle"});
  b.instance("i", b.process("Idle", {.states = {{"s", none}}}), {.period = b.ms(1)});
  const std::string path = tempPath("idle.ast");
  EXPECT_EQ(b.write(path), 0);
  return readFile(path);
}

const std::string kBin = KOVA_BINARY;

}  // namespace

// How each option is parsed is tested with the option parser; here, what kova
// does with the outcome: the usage on request or after an option error, bad
// program files (with those found by fuzzing and mutation that once crashed
// kova, tests/fuzz/regressions: each now ends in order, as its NAME.expected),
// the time limit's range, a program on standard input.
TEST(CommandLine, Outcomes) {
  struct Case {
    std::string arguments;
    int status;
    std::string expected;  // after the setup line
    std::string input = "";
  };
  // A real program cut short, a text file (a Kova source that does not
  // compile: its diagnostics go to standard error), no file, a folder.
  const std::string cut = tempPath("cut.ast"), foreign = tempPath("foreign.ast"),
                    missing = tempPath("missing.ast"), folder = tempPath("");
  const std::string program = idleProgram();
  std::ofstream(cut, std::ios::binary) << program.substr(0, program.size() / 2);
  std::ofstream(foreign) << "this is not a program file, only some text.";
  const std::string quiet = "Quiet mode enabled\nEXIT (SUCCESS) AT ";
  std::vector<Case> cases = {
      {"-h", 0, usage()},
      {"--version", 0, usage()},
      {"-x prog.ast", 1,
       kBin + ": illegal option -- x\n" + kBin + ": unknown option \"-x\"\n" + usage()},
      {"prog.ast -t", 1, usage()},  // parsing stops at the program file: one trailing word only
      {"--tim", 1,
       kBin + ": option requires an argument -- tim\n" + kBin + ": unknown option \"--tim\"\n" +
           usage()},
      {"-p 3 prog.ast", 1, kBin + ": unknown option \"-p\"\n" + usage()},
      {"", 1, usage()},
      {"a.ast b.ast", 1, usage()},
      {cut, 1, "invalid Kova AST file !\nEXIT (1) AT 0 (0)\n"},
      {foreign, 1, ""},
      {missing, 1,
       "could not read input code file !\n" + missing +
           ": No such file or directory\nEXIT (1) AT 0 (0)\n"},
      {folder, 1,
       "could not read input code file !\n" + folder + ": Is a directory\nEXIT (1) AT 0 (0)\n"},
      // 18446744073 ms is the last that fits in 64 bits of picoseconds.
      {"-q -z -t 18446744073 --tim 5 -", 0, quiet + "5ms (5000000000)\n", program},
      {"-q -t 3 -", 0, quiet + "3ms (3000000000)\n", program},
      {"-q -t 3 -", 1, "", "not a program"},  // any other text is a source; this one has errors
  };
  for (const char* bad :
       {"abc", "1e3", "-5", "", "5ms", " 5", "18446744074", "99999999999999999999"}) {
    cases.push_back({std::string("-t '") + bad + "' prog.ast", 1,
                     kBin + ": invalid time \"" + bad +
                         "\" for option -t (--time): a whole number of milliseconds from 0 to "
                         "18446744073 expected\n" +
                         usage()});
  }
  size_t hostile = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KOVA_REGRESSIONS)) {
    if (entry.path().extension() != ".ast") continue;
    std::string output =
        readFile(std::filesystem::path(entry.path()).replace_extension(".expected"));
    output.erase(0, output.find('\n') + 1);  // the setup line
    cases.push_back({"-q -z -t 200 " + entry.path().string(), 1, output});
    ++hostile;
  }
  EXPECT_EQ(hostile, 6u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const RunResult r = runKovaCommand(c.arguments, c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "setup \n" + c.expected);
  }
}

TEST(CommandLine, RealTimeRunTakesItsTimeOnTheMonotonicClock) {
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = runKovaSource("rt",
                                    "var uint32 : n;\n"
                                    "processdef Tick() { state s { n = n + 1; } }\n"
                                    "process Tick : tick[10 ms]();\n",
                                    "-r -t 50");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 0);
  EXPECT_GE(elapsed, std::chrono::milliseconds(50));
  EXPECT_LT(elapsed, std::chrono::seconds(10));  // a generous bound for a loaded machine
  // Stamps of the trace lines never go back and the run ends with an EXIT line.
  std::vector<double> stamps;
  std::string line;
  for (std::istringstream lines(r.out); std::getline(lines, line);)
    if (line.starts_with("[")) stamps.push_back(std::stod(line.substr(1)));
  EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end())) << r.out;
  EXPECT_GE(stamps.size(), 10u);
  EXPECT_NE(r.out.find("EXIT (SUCCESS) AT "), std::string::npos);
}
