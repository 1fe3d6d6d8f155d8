// Reading the kernel's figures of how busy the cores are.
#include <gtest/gtest.h>

#include "capture/contention.h"

TEST(CoreContention, PressureTotalOfTheSomeLine) {
    uint64_t stall = 0;
    EXPECT_TRUE(CoreContention::ParsePressureTotal(
        "some avg10=56.34 avg60=74.96 avg300=45.73 total=5068949236\n"
        "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n",
        &stall));
    EXPECT_EQ(stall, 5068949236u);
    // The "full" line's total is not the one.
    EXPECT_TRUE(CoreContention::ParsePressureTotal(
        "some avg10=0.00 avg60=0.00 avg300=0.00 total=7\nfull total=99\n", &stall));
    EXPECT_EQ(stall, 7u);
    // Refused reads, other files, cut-off text.
    EXPECT_FALSE(CoreContention::ParsePressureTotal("", &stall));
    EXPECT_FALSE(CoreContention::ParsePressureTotal("full avg10=0.00 total=5\n", &stall));
    EXPECT_FALSE(CoreContention::ParsePressureTotal("some avg10=0.00 avg60=0.00\n", &stall));
    EXPECT_FALSE(CoreContention::ParsePressureTotal("some total=\n", &stall));
    EXPECT_FALSE(CoreContention::ParsePressureTotal("some avg10=1\nfull total=5\n", &stall));
}

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

// Until samples have shown free cores, the cores count as taken: a spin that
// is not known to pay is not made.
TEST(CoreContention, TakenUntilShownFree) {
    CoreContention c;
    EXPECT_TRUE(c.Contended());
    c.Sample(CoreContention::Clock::now(), 1);
    EXPECT_TRUE(c.Contended());
}
