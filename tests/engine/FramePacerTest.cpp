#include "engine/FramePacer.h"

#include <gtest/gtest.h>

TEST(FramePacerTest, OnTimeTicksNeedNoDroppedFrames)
{
    CFramePacer pacer;
    pacer.StartFile(5000);
    for (int position = 0; position < 600; ++position) {
        const DWORD now = 5000 + position * 100 + 37;  // every tick a little after its start
        EXPECT_EQ(pacer.DroppedBefore(position, now), 0) << position;
        EXPECT_EQ(pacer.WaitUntilPosition(position + 1, now), 63u);
    }
}

TEST(FramePacerTest, AnOverrunTickIsFilledSoPositionsMatchWallTime)
{
    CFramePacer pacer;
    pacer.StartFile(1000);
    // Frame 0 at 1000 took 250 ms; the next tick runs at 1250, which is position 2.
    EXPECT_EQ(pacer.DroppedBefore(1, 1250), 1);
    EXPECT_EQ(pacer.DuePosition(1250), 2);
    // Three frames written (0, dropped 1, 2): the next tick begins at 1300.
    EXPECT_EQ(pacer.WaitUntilPosition(3, 1250), 50u);
    // A stall of 2.35 s after position 9: positions 10..32 are due empty before position 33.
    EXPECT_EQ(pacer.DroppedBefore(10, 1000 + 3350), 23);
}

TEST(FramePacerTest, TheFileNeverGetsMoreThan600Positions)
{
    CFramePacer pacer;
    pacer.StartFile(0);
    EXPECT_EQ(pacer.DuePosition(59999), 599);
    EXPECT_EQ(pacer.DuePosition(60000), 600);
    EXPECT_EQ(pacer.DuePosition(600000), 600);
    EXPECT_EQ(pacer.DroppedBefore(590, 75000), 10);  // fill up to 600, the picture goes to the next file
    EXPECT_EQ(pacer.DroppedBefore(600, 75000), 0);
}

TEST(FramePacerTest, TimerWrapDoesNotBreakTheTimeline)
{
    CFramePacer pacer;
    const DWORD start = 0xFFFFFF00u;  // 256 ms before the 32-bit millisecond counter wraps
    pacer.StartFile(start);
    EXPECT_EQ(pacer.DuePosition(start + 1000), 10);  // wraps past zero
    EXPECT_EQ(pacer.Elapsed(start + 1000), 1000u);
    EXPECT_EQ(pacer.WaitUntilPosition(11, start + 1000), 100u);
}
