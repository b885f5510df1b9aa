#include "tests/support/golden.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "tests/support/test_host.h"

namespace kova_test {

RunResult runKovaCommand(const std::string& arguments, const std::string& input) {
  const std::string inputPath = tempPath("golden_stdin.txt");
  std::ofstream(inputPath, std::ios::binary) << input;
  const std::string command =
      std::string(KOVA_BINARY) + " " + arguments + " < " + inputPath + " 2>/dev/null";
  RunResult result{{}, -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return result;
}

RunResult runKovaSource(const std::string& name, const std::string& source,
                        const std::string& arguments, const std::string& input) {
  const std::string path = tempPath(name + ".kova");
  std::ofstream(path, std::ios::binary) << source;
  return runKovaCommand(arguments + " " + path, input);
}

void keepAsSeed(const std::string& path) {
  const char* dir = std::getenv("KOVA_SEED_DIR");
  if (dir == nullptr) return;
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::create_directories(dir);
  const std::string name = std::to_string(std::hash<std::string>{}(bytes)) + ".ast";
  std::ofstream(std::filesystem::path(dir) / name, std::ios::binary) << bytes;
}

}  // namespace kova_test
