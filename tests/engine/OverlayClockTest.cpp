#include <gtest/gtest.h>

#include <climits>

#include "engine/OverlayClock.h"
#include "support/TestSupport.h"

using testsupport::MakeSystemTime;

TEST(OverlayClockTest, ClocksAndZoneLabelsForChosenInstants)
{
    struct Case {
        SYSTEMTIME utc;
        int zone;
        const wchar_t *clock, *label;
    };
    const SYSTEMTIME eve = MakeSystemTime(2024, 12, 31, 23, 30, 0), jan1 = MakeSystemTime(2024, 1, 1);
    const Case cases[] = {
        {eve, 8, L"1-1 7:30:00", L"GMT+08h："},                                     // into the new year
        {MakeSystemTime(2024, 3, 1, 2, 5, 9), -5, L"2-29 21:05:09", L"GMT-05h："},  // back into a leap day
        {MakeSystemTime(2023, 3, 1, 2, 5, 9), -12, L"2-28 14:05:09", L"GMT-12h："},
        {MakeSystemTime(2021, 3, 5, 1, 7, 3, 999), 0, L"3-5 1:07:03", L"GMT+00h："},  // never rounded up
        {MakeSystemTime(2021, 3, 5, 1, 7, 3), 13, L"3-5 14:07:03", L"GMT+13h："},
        {MakeSystemTime(1900, 1, 1), 8, L"1-1 8:00:00", L"GMT+08h："},    // an unsynchronised server's zero
        {MakeSystemTime(2024, 13, 1), 8, L"0-0 -1:-1:-1", L"GMT+08h："},  // no time rather than a wrong one
        {jan1, INT_MAX, L"0-0 -1:-1:-1", L"GMT+2147483647h："},
        {jan1, INT_MIN, L"0-0 -1:-1:-1", L"GMT-2147483648h："},
        {MakeSystemTime(1601, 1, 1, 3), -5, L"0-0 -1:-1:-1", L"GMT-05h："},  // before the calendar begins
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatOverlayClock(c.utc, c.zone), c.clock) << testsupport::Narrow(c.clock);
        EXPECT_EQ(FormatZoneLabel(c.zone), c.label) << c.zone;
    }
}
