// The UDP ping-pong example: two kova processes on the loopback interface,
// on ports found free when the test runs (written into the udp_ports.kova the
// two examples include), each ending by itself after five exchanges.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;
using namespace std::chrono_literals;

namespace {

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

    // `kova -q -r -t 5000` on one side, in the background; the time limit
    // ends a side that waits in vain.
    const auto start = [&](const char* side) {
      const std::string path = (folder / side).string();
      return std::async(std::launch::async,
                        [path] { return runKovaCommand("-q -r -t 5000 " + path); });
    };
    std::future<RunResult> first = start(c.pingFirst ? "udp_ping.kova" : "udp_pong.kova");
    std::this_thread::sleep_for(c.head);
    std::future<RunResult> second = start(c.pingFirst ? "udp_pong.kova" : "udp_ping.kova");
    const RunResult ping = (c.pingFirst ? first : second).get();
    const RunResult pong = (c.pingFirst ? second : first).get();
    // Both end by themselves, by exit(0), within their limit.
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(pong.status, 0);
    EXPECT_EQ(printedAndEnd(ping.out), saw("ping", "pong")) << ping.out;
    EXPECT_EQ(printedAndEnd(pong.out), saw("pong", "ping")) << pong.out;
  }
}
