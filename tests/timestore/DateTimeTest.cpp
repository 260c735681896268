#include <gtest/gtest.h>

#include <cmath>

#include "timestore/DateTime.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"

namespace {

CDateTime Make(int year, int month, int day, int hour, int minute, int second)
{
    return CDateTime::FromSystemTime(testsupport::MakeSystemTime(year, month, day, hour, minute, second));
}

}  // namespace

TEST(DateTimeTest, CurrentDateIsTheLocalClockInWholeSeconds)
{
    SYSTEMTIME before{}, after{};
    GetLocalTime(&before);
    const CDateTime now = GetCurrentDate();
    GetLocalTime(&after);
    ASSERT_TRUE(now.IsValid());

    SYSTEMTIME st{};
    ASSERT_TRUE(now.ToSystemTime(st));
    const auto seconds = [](const SYSTEMTIME& t) { return (t.wHour * 60 + t.wMinute) * 60 + t.wSecond; };
    // Tolerates a day boundary between the readings by comparing days too.
    EXPECT_TRUE(st.wDay == before.wDay || st.wDay == after.wDay);
    if (before.wDay == after.wDay) {
        EXPECT_GE(seconds(st), seconds(before));
        EXPECT_LE(seconds(st), seconds(after));
    }
    const double secondsSinceEpoch = now.m_dt * 86400.0;
    EXPECT_NEAR(secondsSinceEpoch, std::round(secondsSinceEpoch), 1e-3);
}

TEST(DateTimeTest, ImpossibleCalendarFieldsAreInvalid)
{
    EXPECT_TRUE(Make(2024, 2, 29, 12, 0, 0).IsValid());
    EXPECT_FALSE(Make(2023, 2, 29, 12, 0, 0).IsValid());
    EXPECT_FALSE(Make(2024, 13, 1, 12, 0, 0).IsValid());
    EXPECT_FALSE(Make(2024, 1, 1, 24, 0, 0).IsValid());
    SYSTEMTIME st{};
    EXPECT_FALSE(CDateTime(45000.0, CDateTime::kInvalid).ToSystemTime(st));
}

TEST(DateTimeTest, LaterThanOrdersAcrossTheNegativeEpochAndIgnoresInvalid)
{
    const CDateTime a = Make(2024, 1, 1, 10, 0, 0), b = Make(2024, 1, 1, 10, 0, 1);
    EXPECT_TRUE(IsLaterThan(b, a));
    EXPECT_FALSE(IsLaterThan(a, b));
    EXPECT_FALSE(IsLaterThan(a, a));

    // Before 1899-12-30 the fraction counts upward from the day number: -1.25 is 29 Dec 06:00 and
    // -1.75 is 29 Dec 18:00, so the smaller double is the later moment.
    const CDateTime sixAm(-1.25, CDateTime::kValid), sixPm(-1.75, CDateTime::kValid);
    EXPECT_TRUE(IsLaterThan(sixPm, sixAm));
    EXPECT_FALSE(IsLaterThan(sixAm, sixPm));
    EXPECT_TRUE(IsLaterThan(CDateTime(0.25, CDateTime::kValid), sixPm));
    EXPECT_TRUE(IsLaterThan(sixAm, CDateTime(-2.5, CDateTime::kValid)));

    const CDateTime invalid(99999.0, CDateTime::kInvalid);
    EXPECT_FALSE(IsLaterThan(invalid, a));
    EXPECT_FALSE(IsLaterThan(a, invalid));
}

TEST(DateTimeTest, AddingSecondsRollsOverMinutesDaysAndYears)
{
    EXPECT_EQ(MakeVideoFileName(Make(2024, 1, 1, 10, 0, 59).AddSeconds(1)), L"20240101-100100.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2023, 12, 31, 23, 59, 59).AddSeconds(1)), L"20240101-000000.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2024, 2, 28, 23, 59, 59).AddSeconds(1)), L"20240229-000000.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2024, 1, 1, 0, 0, 0).AddSeconds(9999)), L"20240101-024639.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2024, 1, 1, 0, 0, 0).AddSeconds(-1)), L"20231231-235959.AVI");
    EXPECT_FALSE(CDateTime(45000.0, CDateTime::kInvalid).AddSeconds(1).IsValid());
}
