// Golden runs that need C++ (a temporary path, a pattern, a byte the golden
// files cannot hold): a program, the kova command line, the exact standard
// output and the exit status. Most golden runs are Kova sources with their
// expected output (tests/programs).
#pragma once

#include <string>

#include "tests/support/program_builder.h"

namespace kova_test {

struct RunResult {
  std::string out;  // standard output, byte for byte
  int status;       // exit status
};

// Runs `kova <arguments> NAME.kova` over the Kova source (written to a
// temporary folder), with `input` on standard input.
RunResult runKovaSource(const std::string& name, const std::string& source,
                        const std::string& arguments, const std::string& input = "");
// With KOVA_SEED_DIR set, keeps a copy of the program file at `path` there,
// named by its contents: the seeds of the loader's fuzz target.
void keepAsSeed(const std::string& path);
// Runs `kova <arguments>` as given.
RunResult runKovaCommand(const std::string& arguments, const std::string& input = "");

}  // namespace kova_test
