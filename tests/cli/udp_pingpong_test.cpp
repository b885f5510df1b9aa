// The UDP ping-pong example: two kova processes on the loopback interface,
// on ports found free when the test runs (written into the udp_ports.kova the
// two examples include), each ending by itself after five exchanges.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_host.h"

using namespace kova_test;
using namespace std::chrono_literals;

namespace {

// `kova -q -r -t 5000 SOURCE` in `folder`, its standard output to `out`.
pid_t startKova(const std::string& folder, const std::string& source, const std::string& out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0 ||
      chdir(folder.c_str()) != 0) {
    _exit(127);
  }
  execl(KOVA_BINARY, KOVA_BINARY, "-q", "-r", "-t", "5000", source.c_str(),
        static_cast<char*>(nullptr));
  _exit(127);
}

// The exit status, or -1 when the process is still running at the deadline
// (it is then killed).
int finish(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The printed texts of a trace, without their time stamps, then its last line.
std::vector<std::string> printedAndEnd(const std::string& trace) {
  static const std::regex printed(R"(^\[[0-9]+\.[0-9]{12}:PRINTLN\] (.*)$)");
  std::vector<std::string> lines;
  std::istringstream in(trace);
  std::string line, last;
  while (std::getline(in, line)) {
    std::smatch match;
    if (std::regex_match(line, match, printed)) lines.push_back(match[1]);
    last = line;
  }
  // A run ended by the program's exit names the line of its `exit` call; a
  // run cut by the time limit does not.
  lines.push_back(last.starts_with("EXIT AT LINE ") && last.find("(SUCCESS)") != std::string::npos
                      ? "ended by exit(0)"
                      : "ended otherwise: " + last);
  return lines;
}

}  // namespace

TEST(UdpPingPong, FiveExchangesOnLoopbackWhicheverSideStartsFirst) {
  const std::filesystem::path examples = KOVA_EXAMPLES;
  // Each side prints the other's five messages, then ends by exit(0).
  const auto saw = [](const std::string& side, const std::string& other) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 5; ++i)
      lines.push_back(side + ": \"" + other + " " + std::to_string(i) + "\" from 127.0.0.1");
    lines.push_back("ended by exit(0)");
    return lines;
  };
  struct Case {
    const char* name;
    bool pingFirst;
    std::chrono::milliseconds head;  // before the second side starts
  };
  // Ping first with a head start: its first pings are lost and sent again.
  const Case cases[] = {
      {"pong first", false, 200ms},
      {"ping first", true, 350ms},
      {"together", true, 0ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint16_t pingPort = freeUdpPort();
    uint16_t pongPort = freeUdpPort();
    while (pongPort == pingPort) pongPort = freeUdpPort();
    ASSERT_TRUE(pingPort != 0 && pongPort != 0);

    const std::filesystem::path folder = tempPath("udp_" + std::to_string(&c - cases));
    std::filesystem::create_directories(folder);
    for (const char* file : {"udp_ping.kova", "udp_pong.kova", "udp_datagram.kova"}) {
      std::filesystem::copy_file(examples / file, folder / file,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    std::ofstream(folder / "udp_ports.kova") << "const uint32 : PING_PORT = " << pingPort << ";\n"
                                             << "const uint32 : PONG_PORT = " << pongPort << ";\n";

    const std::string pingOut = (folder / "ping.txt").string();
    const std::string pongOut = (folder / "pong.txt").string();
    pid_t ping = 0, pong = 0;
    for (const bool first : {true, false}) {
      if (first != c.pingFirst) pong = startKova(folder, "udp_pong.kova", pongOut);
      if (first == c.pingFirst) ping = startKova(folder, "udp_ping.kova", pingOut);
      if (first) std::this_thread::sleep_for(c.head);
    }
    ASSERT_TRUE(ping > 0 && pong > 0);

    // Both end by themselves well within their 5 s limit.
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    EXPECT_EQ(finish(ping, deadline), 0);
    EXPECT_EQ(finish(pong, deadline), 0);
    EXPECT_EQ(printedAndEnd(readFile(pingOut)), saw("ping", "pong")) << readFile(pingOut);
    EXPECT_EQ(printedAndEnd(readFile(pongOut)), saw("pong", "ping")) << readFile(pongOut);
  }
}
