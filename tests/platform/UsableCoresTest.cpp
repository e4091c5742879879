#include "kestrane/platform/UsableCores.hpp"

#include <gtest/gtest.h>
#include <sched.h>

#include <thread>

using namespace kestrane::platform;

TEST(UsableCores, QuotaAndAffinityLimitTheCount) {
  EXPECT_EQ(coresFromQuota("max 100000"), std::nullopt);
  EXPECT_EQ(coresFromQuota("-1 100000"), std::nullopt);
  EXPECT_EQ(coresFromQuota("200000 100000"), 2u);
  EXPECT_EQ(coresFromQuota("150000 100000"), 2u) << "a part core counts as one";
  EXPECT_EQ(coresFromQuota("5000 100000"), 1u);
  EXPECT_EQ(coresFromQuota(""), std::nullopt);
  EXPECT_EQ(coresFromQuota("garbage"), std::nullopt);

  const unsigned all = usableCores();
  EXPECT_GE(all, 1u);
  EXPECT_LE(all, std::max(1u, std::thread::hardware_concurrency()));

  // Pinned to one core, as under `taskset -c N`, only that core counts.
  std::thread([] {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    int first = 0;
    while (!CPU_ISSET(first, &set)) ++first;
    CPU_ZERO(&set);
    CPU_SET(first, &set);
    ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(usableCores(), 1u);
  }).join();
}
