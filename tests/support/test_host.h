// A host for tests: installs callbacks on an environment that record what the
// interpreter reports, and turns the end of a run into a C++ exception so the
// test regains control where a real host would end the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ASTLib/rENV.h"

namespace kova_test {

// Thrown by the exit callback.
struct HostExit {
  uint32_t line;
  uint8_t status;
};

// Thrown by the assert callback when a condition is false.
struct HostAssert {
  std::string file;
  uint32_t line;
  std::string function;
  std::string expression;
};

struct InvalidOp {
  uint32_t nodeId;
  uint32_t kind;
};

class TestHost {
 public:
  // Installs the recording callbacks on `env` (which must outlive the host).
  explicit TestHost(InterpEnv* env);
  ~TestHost();

  std::string printed;  // bytes sent to the print callback
  std::vector<InvalidOp> invalidOps;
  std::vector<uint64_t> seeds;        // seeds given to the random-seed callback
  std::vector<uint64_t> randomWords;  // returned in turn by the random callback (then 0)
  size_t randomDraws = 0;
  bool invalidOpEndsRun = false;  // when set, an invalid operation throws HostExit{0, 1}

  // Only the most recently constructed host receives callbacks.
  static TestHost* current();

 private:
  InterpEnv* env_;
  TestHost* previous_;
};

// Captures what the process writes to standard output while in scope.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  std::string text();  // everything written so far

 private:
  int savedFd_;
  std::string path_;
};

// The bytes of the file at `path` ("" when it cannot be read).
std::string readFile(const std::string& path);

// A UDP port no one is bound to now (0 if none was found).
uint16_t freeUdpPort();

// A fresh path under the test build's temporary directory.
std::string tempPath(const std::string& name);

}  // namespace kova_test
