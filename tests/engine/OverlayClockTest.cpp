#include "engine/OverlayClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {
SYSTEMTIME Utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return testsupport::MakeSystemTime(y, mo, d, h, mi, s, ms);
}
}  // namespace

TEST(OverlayClockTest, BeijingAndOffsetClocksRollTheCalendarOver)
{
    const SYSTEMTIME newYearsEve = Utc(2024, 12, 31, 23, 30, 0);
    EXPECT_EQ(FormatOverlayClock(newYearsEve, 8), L"1-1 7:30:00");
    EXPECT_EQ(FormatOverlayClock(newYearsEve, 0), L"12-31 23:30:00");
    EXPECT_EQ(FormatOverlayClock(newYearsEve, -5), L"12-31 18:30:00");
    // Back over a month boundary, and into a leap day.
    EXPECT_EQ(FormatOverlayClock(Utc(2024, 3, 1, 2, 5, 9), -5), L"2-29 21:05:09");
    EXPECT_EQ(FormatOverlayClock(Utc(2023, 3, 1, 2, 5, 9), -5), L"2-28 21:05:09");
    // Month, day and hour without leading zeros; minute and second with two digits.
    EXPECT_EQ(FormatOverlayClock(Utc(2021, 3, 5, 1, 7, 3), 8), L"3-5 9:07:03");
    // Milliseconds never move the second shown.
    EXPECT_EQ(FormatOverlayClock(Utc(2021, 3, 5, 1, 7, 3, 999), 0), L"3-5 1:07:03");
}

TEST(OverlayClockTest, UnrepresentableReadingsShowNoTimeRatherThanAWrongOne)
{
    EXPECT_EQ(FormatOverlayClock(Utc(2024, 13, 1, 0, 0, 0), 8), L"0-0 -1:-1:-1");
    EXPECT_EQ(FormatOverlayClock(Utc(2024, 1, 1, 25, 0, 0), 8), L"0-0 -1:-1:-1");
    EXPECT_EQ(FormatOverlayClock(Utc(2024, 1, 1, 0, 0, 0), INT_MAX), L"0-0 -1:-1:-1");
    EXPECT_EQ(FormatOverlayClock(Utc(2024, 1, 1, 0, 0, 0), INT_MIN), L"0-0 -1:-1:-1");
    // Before 1970 is still a calendar date: an unsynchronised server reply of zero reads 1900.
    EXPECT_EQ(FormatOverlayClock(Utc(1900, 1, 1, 0, 0, 0), 8), L"1-1 8:00:00");
    EXPECT_EQ(FormatOverlayClock(Utc(1601, 1, 1, 3, 0, 0), -5), L"0-0 -1:-1:-1");
}

TEST(OverlayClockTest, ZoneLabelHasSignAndTwoDigits)
{
    EXPECT_EQ(FormatZoneLabel(0), L"GMT+00h：");
    EXPECT_EQ(FormatZoneLabel(-5), L"GMT-05h：");
    EXPECT_EQ(FormatZoneLabel(8), L"GMT+08h：");
    EXPECT_EQ(FormatZoneLabel(13), L"GMT+13h：");
    EXPECT_EQ(FormatZoneLabel(-12), L"GMT-12h：");
    EXPECT_EQ(FormatZoneLabel(INT_MIN), L"GMT-2147483648h：");
}
