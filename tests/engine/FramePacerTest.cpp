#include <gtest/gtest.h>

#include "engine/FramePacer.h"

TEST(FramePacerTest, PositionsFollowWallTimeUpTo600)
{
    // Position p stands for the tick p × 100 ms after the file's start. Columns: file start, now, frames
    // written; the due position, the empty positions due before the next picture, the wait for its tick.
    const DWORD cases[][6] = {
        {5000, 5037, 1, 0, 0, 63},                          // on time
        {1000, 1250, 1, 2, 1, 0},                           // frame 0 took 250 ms: position 1 stays empty
        {1000, 1250, 3, 2, 0, 50},                          // three written: position 3 begins at 1300
        {1000, 4350, 10, 33, 23, 0},                        // a stall of 2.35 s after position 9
        {0, 59999, 599, 599, 0, 0},                         // the last position of a file
        {0, 75000, 590, 600, 10, 0},                        // late: filled up to 600, the picture goes on
        {0, 600000, 600, 600, 0, 0},                        // never beyond 600
        {0xFFFFFF00u, 0xFFFFFF00u + 1000, 11, 10, 0, 100},  // across the millisecond counter's wrap
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " + " << c[1] - c[0] << " ms, " << c[2] << " written");
        CFramePacer pacer;
        pacer.StartFile(c[0]);
        EXPECT_EQ(pacer.DuePosition(c[1]), static_cast<int>(c[3]));
        EXPECT_EQ(pacer.DroppedBefore(static_cast<int>(c[2]), c[1]), static_cast<int>(c[4]));
        EXPECT_EQ(pacer.WaitUntilPosition(static_cast<int>(c[2]), c[1]), c[5]);
    }
}
