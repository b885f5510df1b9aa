// The kova command line: usage, option errors, limits and bad program files.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

std::string usage() {
  return std::string("Zebu Kova Interpreter for raspberry\n") +
         "Version 1.24.2018-02-23-11-00\n"
         "Usage:\n    " +
         KOVA_BINARY +
         " [options] <kova ast>\n"
         "\n"
         "        <kova ast>                   the Kova program in its AST version\n"
         "        -t --time <limit>            run until time 'limit' in milliseconds is reached\n"
         "        -v --version                 show this text\n"
         "        -s --scenario <file>         send scenario 'file' commands during the "
         "interpretation\n"
         "        -e --echo                    repeat received commands on stdout\n"
         "        -r --realtime                run the interpreter in realtime mode\n"
         "        -i --interactive             enable interactive mode of interpreter\n"
         "        -a --stats                   display task execution time statistics on exit\n"
         "        -q --quiet                   disable verbose mode\n"
         "        -z --silent                  disable all console outputs\n"
         "        --finally-func <funcname>    Execute no-argument function called 'funcname' "
         "before exit. \n"
         "        --finally-output <filename>  Redirect output to 'filename' before executing "
         "final function.\n";
}

// A program that does nothing but exist for a while.
ProgramBuilder idleProgram() {
  ProgramBuilder b({.modelName = "idle"});
  const uint32_t p = b.process("Idle", {.states = {{"s", none}}});
  b.instance("i", p, {.period = b.ms(1)});
  return b;
}

}  // namespace

TEST(CommandLine, HelpAndVersionPrintTheUsage) {
  for (const char* option : {"-h", "-v", "--help", "--version"}) {
    const RunResult r = runKovaCommand(option);
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out, "setup \n" + usage()) << option;
  }
}

TEST(CommandLine, OptionErrorsPrintTheUsageAndFail) {
  const std::string bin = KOVA_BINARY;
  struct Case {
    const char* arguments;
    std::string expected;
  };
  const Case cases[] = {
      {"-x prog.ast",
       bin + ": illegal option -- x\n" + bin + ": unknown option \"-x\"\n" + usage()},
      {"prog.ast -t", usage()},  // parsing stops at the program file: one trailing argument only
      {"-t",
       bin + ": option requires an argument -- t\n" + bin + ": unknown option \"-t\"\n" + usage()},
      {"--bogus prog.ast",
       bin + ": illegal option -- bogus\n" + bin + ": unknown option \"--bogus\"\n" + usage()},
      {"-p 3 prog.ast", bin + ": unknown option \"-p\"\n" + usage()},
      {"", usage()},
      {"a.ast b.ast", usage()},
  };
  for (const Case& c : cases) {
    const RunResult r = runKovaCommand(c.arguments);
    EXPECT_EQ(r.status, 1) << c.arguments;
    EXPECT_EQ(r.out, "setup \n" + c.expected) << c.arguments;
  }
}

TEST(CommandLine, TimeLimitInMilliseconds) {
  ProgramBuilder b = idleProgram();
  for (const char* option : {"-q -t 5", "-q --tim 5", "-q --time=5", "-q -t5"}) {
    const RunResult r = runKova(b, option);
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out, "setup \nQuiet mode enabled\nEXIT (SUCCESS) AT 5ms (5000000000)\n") << option;
  }
}

TEST(CommandLine, BadProgramFiles) {
  const std::string missing = tempPath("missing.ast");
  RunResult r = runKovaCommand(missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "setup \ncould not read input code file !\nEXIT (1) AT 0 (0)\n");

  const std::string foreign = tempPath("foreign.ast");
  std::ofstream(foreign) << "this is not a program file, only some text.";
  r = runKovaCommand(foreign);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "setup \ninvalid Kova AST file !\nEXIT (1) AT 0 (0)\n");

  // A real program cut short.
  ProgramBuilder b = idleProgram();
  const std::string whole = tempPath("whole.ast");
  ASSERT_EQ(b.write(whole), 0);
  std::ifstream in(whole, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string cut = tempPath("cut.ast");
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  r = runKovaCommand(cut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "setup \ninvalid Kova AST file !\nEXIT (1) AT 0 (0)\n");
}

TEST(CommandLine, RealTimeRunTakesItsTimeOnTheMonotonicClock) {
  ProgramBuilder b({.modelName = "rt"});
  const uint32_t n = b.global("n", TypeUInt32);
  const uint32_t p = b.process(
      "Tick", {.states = {{"s", b.block({b.assign(b.gvar(n), b.op(PLUS_OP, TypeUInt32, b.gvar(n),
                                                                  b.integer(1)))})}}});
  b.instance("tick", p, {.period = b.ms(10)});
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = runKova(b, "-r -t 50");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 0);
  EXPECT_GE(elapsed, std::chrono::milliseconds(50));
  EXPECT_LT(elapsed, std::chrono::seconds(10));  // a generous bound for a loaded machine
  // Stamps of the trace lines never go back and the run ends with an EXIT line.
  std::istringstream lines(r.out);
  std::string line;
  double last = -1;
  int stamped = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("[", 0) != 0) continue;
    const double stamp = std::stod(line.substr(1));
    EXPECT_GE(stamp, last) << line;
    last = stamp;
    ++stamped;
  }
  EXPECT_GE(stamped, 10);
  EXPECT_NE(r.out.find("EXIT (SUCCESS) AT "), std::string::npos);
}
