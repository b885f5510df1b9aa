// Interrupting kova: a traced run stopped by SIGINT at random moments ends
// through its normal exit, whole; on a terminal, Ctrl-C only stops a run and
// the console goes on, with line editing, history and completion.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;
using namespace std::chrono_literals;

namespace {

off_t fileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

// Every millisecond: an assignment, a state change every other time, and a
// printed line; for ever.
const char* kBusy =
    "var uint32 : n;\n"
    "processdef P() {\n"
    "  state a { n = n + 1; IO.println(\"n is %u\", n); }\n"
    "  on (true) to b;\n"
    "  state b { n = n + 1; }\n"
    "  on (true) to a;\n"
    "}\n"
    "process P : p[1 ms]();\n";

std::string sourceFile(const std::string& name, const char* text) {
  const std::string path = tempPath(name);
  std::ofstream(path) << text;
  return path;
}

bool wholeTrace(const std::string& out, std::string* why) {
  static const std::regex line(
      R"re(setup |Quiet mode disabled|\[\d+\.\d{12}:(ASSIGN\] Assign n new value: \d+|busy:(STARTING_TASK|TASK_FINISHED)\] 'p'|STATE\] process "P", instance "p", state "[ab]"|PRINTLN\] n is \d+)|EXIT \(SUCCESS\) AT \w+ \(\d+\))re");
  if (out.empty() || out.back() != '\n') {
    *why = "does not end with a line feed";
    return false;
  }
  std::istringstream in(out);
  std::string text, last;
  int exits = 0;
  while (std::getline(in, text)) {
    if (!std::regex_match(text, line)) {
      *why = "damaged line: " + text;
      return false;
    }
    if (text.rfind("EXIT", 0) == 0) ++exits;
    last = text;
  }
  if (exits != 1 || last.rfind("EXIT", 0) != 0) {
    *why = "the EXIT line is not the last line, once";
    return false;
  }
  return true;
}

// Whole events, one per line, each closed, separated by commas and closed
// by "]}". (The exact form of each event: the golden run observe_timeline.)
bool wholeTimeline(const std::string& json) {
  const std::string head = "{\"displayTimeUnit\":\"ns\",\"traceEvents\":[\n";
  if (!json.starts_with(head) || !json.ends_with("}\n]}\n")) return false;
  std::istringstream in(json.substr(head.size(), json.size() - head.size() - 3));
  std::string text;
  while (std::getline(in, text)) {
    const char end = in.peek() == EOF ? '}' : ',';
    if (text.empty() || text.front() != '{' || text.back() != end ||
        std::count(text.begin(), text.end(), '{') != std::count(text.begin(), text.end(), '}') ||
        std::count(text.begin(), text.end(), '"') % 2 != 0) {
      return false;
    }
  }
  return true;
}

bool wholeDump(const std::string& vcd) {
  static const std::regex change(R"re(#\d+|[01x][!-~]+|b[01x]+ [!-~]+|s\w+ [!-~]+)re");
  const size_t body = vcd.find("$end\n", vcd.find("$dumpvars"));
  if (body == std::string::npos || vcd.back() != '\n') return false;
  std::istringstream in(vcd.substr(body + 5));
  std::string text;
  while (std::getline(in, text)) {
    if (!std::regex_match(text, change)) return false;
  }
  return true;
}

}  // namespace

TEST(Interrupt, FiftyInterruptedTracedRunsEndWhole) {
  const std::string program = sourceFile("busy.kova", kBusy);
  std::mt19937 random(13);
  for (int run = 0; run < 50; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string out = tempPath("interrupted.txt");
    const std::string timeline = tempPath("interrupted.json");
    const std::string vcd = tempPath("interrupted.vcd");
    // Every fifth run also writes a timeline and a value-change dump; the
    // run after it has the console asked for, which an interrupt skips.
    const bool files = run % 5 == 0;
    const bool console = run % 5 == 1;
    std::remove(out.c_str());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      if (files) {
        execl(KOVA_BINARY, KOVA_BINARY, "--timeline", timeline.c_str(), "--vcd", vcd.c_str(),
              program.c_str(), static_cast<char*>(nullptr));
      } else if (console) {
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, STDIN_FILENO);
        execl(KOVA_BINARY, KOVA_BINARY, "-i", "-t", "1000000000", program.c_str(),
              static_cast<char*>(nullptr));
      } else {
        execl(KOVA_BINARY, KOVA_BINARY, program.c_str(), static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    // Once the trace flows the handler is in place; then a random moment.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fileSize(out) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string why;
    EXPECT_TRUE(wholeTrace(readFile(out), &why)) << why;
    if (files) {
      EXPECT_TRUE(wholeTimeline(readFile(timeline)));
      EXPECT_TRUE(wholeDump(readFile(vcd)));
    }
  }
}

namespace {

// kova on the far side of a pseudo-terminal.
class Terminal {
 public:
  Terminal(const std::string& home, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), KOVA_BINARY);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    // libedit keeps a few strings (wcsdup) to the end of the process, which
    // the leak checker of a sanitizer build would report.
    const std::string suppressions = home + "/lsan.supp";
    std::ofstream(suppressions) << "leak:wcsdup\n";
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      setenv("TERM", "dumb", 1);
      execv(KOVA_BINARY, argv.data());
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }

  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads until `text` appears after what earlier waits consumed; true if it
  // did within the time.
  bool waitFor(const std::string& text, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const size_t at = seen_.find(text, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd in{master_, POLLIN, 0};
      if (poll(&in, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      seen_.append(buffer, static_cast<size_t>(n));
    }
  }

  // The exit status, waiting at most a few seconds.
  int finish() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      // Drain what it writes, so it never blocks on a full terminal.
      char buffer[4096];
      pollfd in{master_, POLLIN, 0};
      const ssize_t n = poll(&in, 1, 0) > 0 ? read(master_, buffer, sizeof buffer) : 0;
      if (n > 0) seen_.append(buffer, static_cast<size_t>(n));
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  const std::string& seen() const { return seen_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  std::string seen_;
  size_t consumed_ = 0;
};

}  // namespace

TEST(Terminal, ConsoleOnATerminal) {
  // Every 10 us: running to 1000 s takes minutes.
  const std::string program = sourceFile("term.kova",
                                         "var uint32 : speed = 7;\n"
                                         "var time64 : step = 300 ms;\n"
                                         "processdef Show() { state s { } }\n"
                                         "process Show : show[10 us]();\n");
  const std::string home = tempPath("home");
  std::remove((home + "/.kova_history").c_str());
  mkdir(home.c_str(), 0755);

  Terminal t(home, {"-q", "-i", program});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();

  // A typed expression shows its value.
  t.type("speed * 2 + 1\r");
  EXPECT_TRUE(t.waitFor("15\r\n")) << t.seen();
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();

  // Ctrl-C stops the run and the prompt comes back.
  t.type("run 1000000\r");
  ASSERT_TRUE(t.waitFor("run 1000000")) << t.seen();
  std::this_thread::sleep_for(300ms);
  t.type("\x03");
  ASSERT_TRUE(t.waitFor(">> ", 3000ms)) << t.seen();
  // The run went some way, not to its end.
  t.type("time\r");
  ASSERT_TRUE(t.waitFor("] \r\n")) << t.seen();
  const std::string& seen = t.seen();
  const size_t stamp = seen.rfind('[');
  ASSERT_NE(stamp, std::string::npos);
  const double reached = std::stod(seen.substr(stamp + 1));
  EXPECT_GT(reached, 0.0) << seen;
  EXPECT_LT(reached, 1000.0) << seen;
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();
  t.type("?speed\r");
  EXPECT_TRUE(t.waitFor("7\r\n")) << t.seen();
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();

#if KOVA_HAVE_LIBEDIT
  // Up arrow recalls the last line, which runs again.
  t.type("speed = speed + 1;\r");
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();
  t.type("\x1b[A\r");
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();
  t.type("?speed\r");
  EXPECT_TRUE(t.waitFor("9\r\n")) << t.seen();
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();
  // Tab completes a variable's name ("spe" can only be speed).
  t.type("?spe\t * 10\r");
  EXPECT_TRUE(t.waitFor("90\r\n")) << t.seen();
  ASSERT_TRUE(t.waitFor(">> ")) << t.seen();
#endif

  t.type("quit\r");
  EXPECT_EQ(t.finish(), 0) << t.seen();
#if KOVA_HAVE_LIBEDIT
  // (the history file writes blanks as \040)
  EXPECT_NE(readFile(home + "/.kova_history").find(R"(speed\040=\040speed\040+\0401;)"),
            std::string::npos);
#endif
}
