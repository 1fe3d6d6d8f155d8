// Reading the kernel's figures of how busy the cores are.
#include <gtest/gtest.h>

#include "capture/contention.h"

TEST(CoreContention, RunnableTasksOfLoadavg) {
    int runnable = 0;
    EXPECT_TRUE(CoreContention::ParseRunnable("0.52 0.58 0.59 3/456 12345\n", &runnable));
    EXPECT_EQ(runnable, 3);
    EXPECT_TRUE(CoreContention::ParseRunnable("10.00 9.00 8.00 17/2048 1\n", &runnable));
    EXPECT_EQ(runnable, 17);
    EXPECT_FALSE(CoreContention::ParseRunnable("", &runnable));
    EXPECT_FALSE(CoreContention::ParseRunnable("0.52 0.58 0.59", &runnable));
    EXPECT_FALSE(CoreContention::ParseRunnable("0.52 0.58 0.59 x/456 1\n", &runnable));
    EXPECT_FALSE(CoreContention::ParseRunnable("0.52 0.58 0.59 3", &runnable));
}

// Two cores: the sampling thread and its partner fit, a third runnable task
// (a build, a busy loop) takes a core one of them needs.
TEST(CoreContention, FreeWhileEveryRunnableTaskHasACore) {
    EXPECT_TRUE(CoreContention::Free(1, 2));
    EXPECT_TRUE(CoreContention::Free(2, 2));
    EXPECT_FALSE(CoreContention::Free(3, 2));
    EXPECT_TRUE(CoreContention::Free(6, 8));
}

// Until samples have shown free cores, the cores count as taken: a spin that
// is not known to pay is not made.
TEST(CoreContention, TakenUntilShownFree) {
    CoreContention c;
    EXPECT_TRUE(c.Contended());
    c.Sample(CoreContention::Clock::now());
    EXPECT_TRUE(c.Contended());
}
