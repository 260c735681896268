#include <gtest/gtest.h>

#include <ctime>

#include "support/TestSupport.h"
#include "timestore/NetTime.h"

namespace {

constexpr DWORD kStartOf2024 = 3913056000u;  // 2024-01-01 00:00:00 UTC in SNTP seconds
constexpr int kJulianDayOf1601 = 2305814;    // day 0 of FILETIME
constexpr ULONGLONG kFileTimeUnitsPerDay = 864000000000ull;

SYSTEMTIME PlatformDateOfJulianDay(int julianDay, ULONGLONG extraUnits = 0)
{
    const ULONGLONG units = static_cast<ULONGLONG>(julianDay - kJulianDayOf1601) * kFileTimeUnitsPerDay + extraUnits;
    FILETIME ft{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
    SYSTEMTIME st{};
    EXPECT_TRUE(::FileTimeToSystemTime(&ft, &st));
    return st;
}

SYSTEMTIME Time(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return testsupport::MakeSystemTime(year, month, day, hour, minute, second);
}

}  // namespace

TEST(NetTimeConversion, StartOf2024ReadsAsMondayMidnight)
{
    SYSTEMTIME st{};
    CNetTime::NtpToSystemTime(kStartOf2024, 0, 0, st);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wMinute, 0);
    EXPECT_EQ(st.wSecond, 0);
    EXPECT_EQ(st.wMilliseconds, 0);
    EXPECT_EQ(st.wDayOfWeek, 1);
}

TEST(NetTimeConversion, FractionAndElapsedTimeCarryIntoSeconds)
{
    SYSTEMTIME st{};
    CNetTime::NtpToSystemTime(kStartOf2024, 0xFFFFFFFFu, 0, st);
    EXPECT_EQ(st.wSecond, 1);
    EXPECT_EQ(st.wMilliseconds, 0);

    const DWORD twoMs = 8589935u;  // 2.0000001 ms in units of 2^-32 s
    CNetTime::NtpToSystemTime(kStartOf2024, twoMs, 1999, st);
    EXPECT_EQ(st.wMilliseconds, 1);
    EXPECT_EQ(st.wSecond, 2);

    CNetTime::NtpToSystemTime(kStartOf2024 + 3599, 0x80000000u, 61250, st);  // .500 + 61.250 s
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 1);
    EXPECT_EQ(st.wSecond, 0);
    EXPECT_EQ(st.wMilliseconds, 750);
}

TEST(NetTimeConversion, ElapsedTimeBeyondThirtyTwoBitsOfMilliseconds)
{
    // 50 days is more than a 32-bit millisecond counter holds.
    SYSTEMTIME st{};
    CNetTime::NtpToSystemTime(kStartOf2024, 0, 50ull * 86400 * 1000 + 7, st);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 20);
    EXPECT_EQ(st.wMilliseconds, 7);
}

TEST(NetTimeConversion, DayNumbersAgreeWithThePlatformCalendarFrom1900To2100)
{
    int checked = 0;
    for (int julianDay = CNetTime::kJulianDayOf1900;; ++julianDay) {
        const SYSTEMTIME expected = PlatformDateOfJulianDay(julianDay);
        if (expected.wYear > 2100)
            break;
        WORD year = 0, month = 0, day = 0;
        CNetTime::DayNumberToDate(julianDay, year, month, day);
        ASSERT_EQ(year, expected.wYear) << "day number " << julianDay;
        ASSERT_EQ(month, expected.wMonth) << "day number " << julianDay;
        ASSERT_EQ(day, expected.wDay) << "day number " << julianDay;
        ++checked;
    }
    EXPECT_EQ(checked, 73414);  // 201 years, 49 of them leap years
}

TEST(NetTimeConversion, EverySntpDayHasThePlatformDateAndWeekday)
{
    // The last second of each day the 32-bit seconds field can hold (up to February 2036).
    for (DWORD days = 0; days < 0xFFFFFFFFu / 86400; ++days) {
        SYSTEMTIME st{};
        CNetTime::NtpToSystemTime(days * 86400 + 86399, 0, 0, st);
        const SYSTEMTIME expected =
            PlatformDateOfJulianDay(CNetTime::kJulianDayOf1900 + static_cast<int>(days), 86399ull * 10000000);
        ASSERT_EQ(st.wYear, expected.wYear) << "day " << days;
        ASSERT_EQ(st.wMonth, expected.wMonth) << "day " << days;
        ASSERT_EQ(st.wDay, expected.wDay) << "day " << days;
        ASSERT_EQ(st.wDayOfWeek, expected.wDayOfWeek) << "day " << days;
        ASSERT_EQ(st.wHour, 23);
        ASSERT_EQ(st.wMinute, 59);
        ASSERT_EQ(st.wSecond, 59);
    }
}

TEST(NetTimeTimeValue, RejectsFieldsOutOfRange)
{
    const SYSTEMTIME bad[] = {
        Time(2024, 0, 10),
        Time(2024, 13, 10),
        Time(2024, 5, 0),
        Time(2024, 5, 32),
        Time(2024, 5, 10, 24),
        Time(2024, 5, 10, 12, 60),
        Time(2024, 5, 10, 12, 30, 60),
    };
    for (const SYSTEMTIME& st : bad) {
        __time64_t value = 123;
        EXPECT_EQ(CNetTime::ToTimeValue(st, value), E_FAIL) << st.wYear << '-' << st.wMonth << '-' << st.wDay << ' '
                                                            << st.wHour << ':' << st.wMinute << ':' << st.wSecond;
    }
}

TEST(NetTimeTimeValue, TimesBefore1970AreErrorsAndBefore1900AreZero)
{
    __time64_t value = 123;
    EXPECT_EQ(CNetTime::ToTimeValue(Time(1960, 6, 15, 12), value), E_INVALIDARG);
    EXPECT_EQ(CNetTime::ToTimeValue(Time(1900, 1, 1), value), E_INVALIDARG);

    // All-zero transmit time of a server: 1900-01-01 as a reading.
    SYSTEMTIME zero{};
    CNetTime::NtpToSystemTime(0, 0, 0, zero);
    EXPECT_EQ(CNetTime::ToTimeValue(zero, value), E_INVALIDARG);

    value = 123;
    EXPECT_EQ(CNetTime::ToTimeValue(Time(1899, 12, 31), value), S_OK);
    EXPECT_EQ(value, 0);
}

TEST(NetTimeTimeValue, AddingAnOffsetAndBreakingDownLocallyShiftsTheReading)
{
    // How the overlay derives its clocks: the machine's own zone cancels out.
    __time64_t value = 0;
    ASSERT_EQ(CNetTime::ToTimeValue(Time(2024, 2, 28, 20, 30, 15), value), S_OK);
    value += 8 * 3600;
    std::tm local{};
    ASSERT_EQ(::_localtime64_s(&local, &value), 0);
    EXPECT_EQ(local.tm_year + 1900, 2024);
    EXPECT_EQ(local.tm_mon + 1, 2);
    EXPECT_EQ(local.tm_mday, 29);
    EXPECT_EQ(local.tm_hour, 4);
    EXPECT_EQ(local.tm_min, 30);
    EXPECT_EQ(local.tm_sec, 15);
}

TEST(NetTimeConnected, AReplyUpTo4500MsOldCountsAsConnected)
{
    const ULONGLONG reply = 10'000'000;
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply + 4500, reply));
    EXPECT_FALSE(CNetTime::IsReplyFresh(reply + 4501, reply));
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply, reply));
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply - 20, reply)) << "a reply newer than the reading is fresh";
}

TEST(NetTimeClient, TheProgramsClientAsksTheBuiltInServersOnPort123)
{
    EXPECT_EQ(g_netTime.Port(), 123);
    ASSERT_EQ(g_netTime.Servers().size(), 10u);
    EXPECT_FALSE(g_netTime.IsSynchronised());
}
