// Golden console sessions and scenario files.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

namespace {

// `speed` is printed by a 100 ms process; `step` is a time64 of 300 ms.
const char* kConsoleProgram =
    "var uint32 : speed = 7;\n"
    "var time64 : step = 300 ms;\n"
    "const uint16 : LIMIT = 40;\n"
    "processdef Show() { state s { IO.println(\"speed %u\", speed); } }\n"
    "process Show : show[100 ms]();\n";

RunResult runConsole(const std::string& arguments, const std::string& input = "") {
  return runKovaSource("console", kConsoleProgram, arguments, input);
}

const char* kHelp =
    "Commands:\n"
    "   step                Run the process(es) released at the next activation time\n"
    "   run                 Run without time limit\n"
    "   run <kova time>     Run until absolute time (if greater than current time)\n"
    "   run +<kova time>    Run for a relative period of time\n"
    "   list                Display all global variables, their values, and all processes "
    "status\n"
    "   time                Display current time (in seconds)\n"
    "   verbose             Disable quiet mode\n"
    "   quiet               Enable quiet mode (enabled by default)\n"
    "   quit                End the execution and exit the interpreter\n"
    "\n"
    "Execute a statement such an assignment:\n"
    "   <global variable> = <value>;\n";

}  // namespace

TEST(Console, RefusedLinesLeaveTheProgramAsItWas) {
  const RunResult r = runConsole("-q -i",
                                 "bogus\n"
                                 "speed = true;\n"
                                 "speed = 3\n"
                                 "run 1s\n"
                                 "run 0\n"
                                 "\n"
                                 "@\n"
                                 "help\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            std::string("setup \n"
                        "Quiet mode enabled\n"
                        ">> [ERROR] Line 1: undefined data identifier \"bogus\"\n"
                        "Unrecognized command \"bogus\"\n"
                        ">> [ERROR] Line 1: affected value is not correct type (\"uint32\" "
                        "expected, but \"bool\" found)\n"
                        "Unrecognized command \"speed\"\n"
                        ">> [ERROR] Line 1: expect ';' after assignment\n"
                        "Unrecognized command \"speed\"\n"
                        ">> Unrecognized duration in ms \"1s\"\n"
                        ">> >> >> [0.000000000000:PRINTLN] speed 7\n"  // @ alone runs 0 ms
                        "Unrecognized command (instruction or variable symbol expected, but '") +
                std::string(1, '\0') + "' found)\n>> " + kHelp +
                // End of input ends the console; the exit opens it once more.
                ">> EXIT (SUCCESS) AT 0 (0)\n>> ");
}

TEST(Console, QuestionMarkShowsValuesWithFieldNames) {
  const RunResult r = runConsole("-q -i",
                                 "?speed * 2\n"
                                 "?show.period\n"
                                 "?show\n"
                                 "?\n"
                                 "?speed = 1;\n"
                                 "speed + 1\n"  // not on a terminal: no value shown
                                 "/* never closed\n"
                                 "quit\n");
  const std::string show =
      "{execution_time = 0, wcet = 0, bcet = 0, period = 100ms, offset = 0, priority = 0, "
      "jitter = 0, deadline = 100ms, previous_activation = 0, current_activation = 0, pid = 0, "
      "continue = false, process_state = ";
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(">> 14\n>> 100ms\n>> " + show), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(">> system = {sched_policy = Scheduling_Policy.FIFO, processes = {" + show),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nspeed = 7\nstep = 300ms\nshow = " + show), std::string::npos) << r.out;
  // A statement is no value; an unclosed comment is reported once.
  EXPECT_NE(r.out.find(">> Unrecognized expression \"speed = 1;\"\n>> >> "
                       "[ERROR] Line 2: Unclosed comment\nUnrecognized command \"/*\"\n>> "),
            std::string::npos)
      << r.out;
}

TEST(Console, ListShowsVariablesStatesAndConstants) {
  const RunResult r = runConsole("-q -i", "run 50\nlist\n");
  for (const char* line :
       {"[0.050000000000:VAR] speed=7\n", "[0.050000000000:VAR] step=300ms\n",
        "[0.050000000000:STATE] process \"Show\", instance \"show\", state \"s\"\n",
        "[0.050000000000:CONST] LIMIT=40\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin\n" << r.out;
  }
}

namespace {

std::string scenario(const std::string& name, const std::string& lines) {
  const std::string path = tempPath(name);
  std::ofstream(path) << lines;
  return path;
}

}  // namespace

TEST(Scenario, EchoedLinesComeBeforeTheirEffects) {
  const RunResult r = runConsole("-e -s " + scenario("play.txt", "@100 speed = 3;\n"));
  const size_t echo = r.out.find("@100 speed = 3;\n");
  const size_t effect = r.out.find("[0.100000000000:ASSIGN] Assign speed new value: 3\n");
  ASSERT_NE(echo, std::string::npos) << r.out;
  ASSERT_NE(effect, std::string::npos) << r.out;
  EXPECT_LT(echo, effect);
}

TEST(Scenario, MissingFile) {
  const std::string missing = tempPath("no-such-scenario.txt");
  const RunResult r = runConsole("-q -s " + missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "setup \nQuiet mode enabled\n" + std::string(KOVA_BINARY) +
                       ": scenario file \"" + missing + "\" does not exist!\n");
}
