// Policy names as the program and the options spell them.
#include <gtest/gtest.h>

#include "interpreterLib/scheduler.h"

TEST(SchedulerPolicy, NamesAndValues) {
  const struct {
    const char* name;
    uint32_t value;
  } cases[] = {
      {"FIFO", FIFO},
      {"NPFP", NPFP},
      {"NPEDF", NPEDF},
      {"fifo", SCHEDULING_POLICY_UNKNOWN},
      {"NPF", SCHEDULING_POLICY_UNKNOWN},
      {"NPEDFX", SCHEDULING_POLICY_UNKNOWN},
      {"", SCHEDULING_POLICY_UNKNOWN},
  };
  for (const auto& c : cases) EXPECT_EQ(sched_policy_name_to_value(c.name), c.value) << c.name;
  EXPECT_DEATH(interp_set_scheduling_policy(nullptr, SCHEDULING_POLICY_UNKNOWN),
               "policy != SCHEDULING_POLICY_UNKNOWN");
}
