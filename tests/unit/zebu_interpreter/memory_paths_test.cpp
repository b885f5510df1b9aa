// Library calls that report exhausted memory their own way end the process
// like every allocation: "Memory error" and status 10. Other errors are left
// to the caller.
#include <gtest/gtest.h>
#include <regex.h>
#include <unistd.h>

#include <cerrno>

#include "ASTLib/memory.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"

// The message goes to standard output; the death test reads standard error.
#define EXPECT_MEMORY_ERROR(statement) \
  EXPECT_EXIT((dup2(2, 1), statement), testing::ExitedWithCode(10), "Memory error")

TEST(MemoryPaths, LibraryFailuresEndLikeAllocations) {
  EXPECT_MEMORY_ERROR(regexMemoryCheck(REG_ESPACE));
  EXPECT_MEMORY_ERROR(memory_checkErrno(ENOMEM, __FILE__, __func__, __LINE__, "FILE"));
  // A pattern that does not match or a file that is not there is no
  // memory failure: the result goes back to the caller.
  EXPECT_EQ(regexMemoryCheck(REG_NOMATCH), REG_NOMATCH);
  EXPECT_EQ(regexMemoryCheck(0), 0);
  memory_checkErrno(ENOENT, __FILE__, __func__, __LINE__, "FILE");
}
