#include "TimeLeft.h"

#include <gtest/gtest.h>

// Time left for a whole job, from each step's own pace once it has run 2 s, and from the expected
// pace of step 2 until then.
TEST(TimeLeftTest, WholeJobFromEachStepsPace) {
    CTimeLeftEstimator e;
    e.Begin(2, 100, 50, 0); // step 2 is expected to take 100 / 50 = 2 s
    e.Update(0.5, 1);
    EXPECT_LT(e.SecondsLeft(1), 0); // too early to tell
    e.Update(0.5, 4);
    EXPECT_DOUBLE_EQ(e.SecondsLeft(4), 4 + 2); // the rest of step 1 at its pace, and step 2
    e.StartStep(2, 8);
    e.Update(0.1, 9);
    EXPECT_DOUBLE_EQ(e.SecondsLeft(9), 2 - 1); // step 2's own pace does not count yet
    e.Update(0.5, 12);
    EXPECT_DOUBLE_EQ(e.SecondsLeft(12), 4);
    EXPECT_DOUBLE_EQ(e.Step2Pace(12), 100 * 0.5 / 4);

    CTimeLeftEstimator wav;
    wav.Begin(1, 100, 50, 0);
    wav.Update(0.75, 3);
    EXPECT_DOUBLE_EQ(wav.SecondsLeft(3), 1); // one step only

    CTimeLeftEstimator quick; // a step 1 too short to tell: nothing until step 2 has run 2 s
    quick.Begin(2, 100, 50, 0);
    quick.Update(1, 1);
    quick.StartStep(2, 1);
    quick.Update(0.2, 2.5);
    EXPECT_LT(quick.SecondsLeft(2.5), 0);

    EXPECT_EQ(CTimeLeftEstimator::Text(0.2), "Time Left:00:00:01");
    EXPECT_EQ(CTimeLeftEstimator::Text(3725.2), "Time Left:01:02:06");
    EXPECT_EQ(CTimeLeftEstimator::Text(-1), "");
}
