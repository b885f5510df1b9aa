// Program files found by fuzzing and mutation that once crashed or aborted
// kova (tests/fuzz/regressions, what each held: its README): each now ends
// in order, refused with its reason or ended by a run-time failure message,
// its NAME.expected the exact output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/golden.h"
#include "tests/support/test_host.h"

using namespace kova_test;

TEST(HostileFiles, EndInOrder) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KOVA_REGRESSIONS)) {
    if (entry.path().extension() != ".ast") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    const RunResult r = runKovaCommand("-q -z -t 200 " + entry.path().string());
    std::filesystem::path expected = entry.path();
    EXPECT_EQ(r.out, readFile(expected.replace_extension(".expected")));
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_EQ(files, 6u);
}
