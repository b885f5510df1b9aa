#include "tests/support/test_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ASTLib/rEnv.h"

namespace kova_test {

namespace {

TestHost* gHost = nullptr;

void onPrint(InterpEnv*, uint8_t c) {
  gHost->printed.push_back(static_cast<char>(c));
}

void onExit(InterpEnv*, uint32_t line, uint8_t status) {
  std::fflush(stdout);
  throw HostExit{line, status};
}

void onAssert(InterpEnv*, uint32_t condition, const char* file, uint32_t line, const char* function,
              const char* expression) {
  if (condition != 0) return;
  throw HostAssert{file != nullptr ? file : "", line, function != nullptr ? function : "",
                   expression != nullptr ? expression : ""};
}

void onInvalidOp(InterpEnv* env, const AST_Node* node, uint32_t kind) {
  const uint32_t id = node != nullptr ? AST_id(env->program.get(), node) : NO_ID;
  gHost->invalidOps.push_back({id, kind});
  if (gHost->invalidOpEndsRun) throw HostExit{0, 1};
}

uint64_t onRandom(InterpEnv*) {
  const size_t i = gHost->randomDraws++;
  return i < gHost->randomWords.size() ? gHost->randomWords[i] : 0;
}

void onSeed(uint64_t seed) {
  gHost->seeds.push_back(seed);
}

}  // namespace

TestHost::TestHost(InterpEnv* env) : env_(env), previous_(gHost) {
  gHost = this;
  env_on_print(env, onPrint);
  env_on_exit(env, onExit);
  env_on_assert(env, onAssert);
  interpreter_on_invalid_op(env, onInvalidOp);
  env_on_random(env, onRandom);
  env_on_random_seed(env, onSeed);
}

TestHost::~TestHost() {
  gHost = previous_;
}

TestHost* TestHost::current() {
  return gHost;
}

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  path_ = tempPath("stdout_capture.txt");
  savedFd_ = dup(STDOUT_FILENO);
  if (std::freopen(path_.c_str(), "w", stdout) == nullptr) std::perror("freopen");
}

StdoutCapture::~StdoutCapture() {
  std::fflush(stdout);
  dup2(savedFd_, STDOUT_FILENO);
  close(savedFd_);
  std::remove(path_.c_str());
}

std::string StdoutCapture::text() {
  std::fflush(stdout);
  return readFile(path_);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string tempPath(const std::string& name) {
  const char* base = std::getenv("KOVA_TEST_TMP");
  std::filesystem::path dir = base != nullptr ? base : std::filesystem::temp_directory_path();
  dir /= "kova-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// A UDP port no one is bound to now: the kernel's choice for port 0.
uint16_t freeUdpPort() {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof address;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    address.sin_port = 0;
  }
  close(probe);
  return ntohs(address.sin_port);
}

}  // namespace kova_test
