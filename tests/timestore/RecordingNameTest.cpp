#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/VideoInfo.h"

namespace {

CDateTime Make(int year, int month, int day, int hour, int minute, int second)
{
    return CDateTime::FromSystemTime(testsupport::MakeSystemTime(year, month, day, hour, minute, second));
}

}  // namespace

TEST(RecordingNameTest, NameIsTheStartTimeWithTwoDigitFields)
{
    EXPECT_EQ(MakeVideoFileName(Make(2021, 1, 3, 9, 5, 7)), L"20210103-090507.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2021, 3, 5, 14, 7, 9)), L"20210305-140709.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(1999, 12, 31, 23, 59, 59)), L"19991231-235959.AVI");
    EXPECT_EQ(MakeVideoFileName(Make(2024, 1, 1, 0, 0, 0)), L"20240101-000000.AVI");
}

TEST(RecordingNameTest, InvalidStartGivesMinusOneInEveryField)
{
    EXPECT_EQ(MakeVideoFileName(CDateTime(45000.5, CDateTime::kInvalid)), L"-001-1-1--1-1-1.AVI");
    EXPECT_EQ(MakeVideoFileName(CDateTime(45000.5, CDateTime::kInvalid)).size(), kRecordingNameLength);
}

TEST(RecordingNameTest, ParsingInvertsNamingAndIgnoresExtensionCase)
{
    for (const wchar_t* name : {L"20240101-100000.AVI", L"20240229-235959.AVI", L"20000229-000000.AVI",
                                L"19991231-120000.AVI", L"21001231-010203.AVI"}) {
        const CDateTime start = ParseRecordingStart(name);
        ASSERT_TRUE(start.IsValid()) << name;
        EXPECT_EQ(MakeVideoFileName(start), name);
    }
    for (const wchar_t* name : {L"20240101-100000.avi", L"20240101-100000.Avi", L"20240101-100000.aVI"}) {
        const CDateTime start = ParseRecordingStart(name);
        ASSERT_TRUE(start.IsValid()) << name;
        EXPECT_EQ(MakeVideoFileName(start), L"20240101-100000.AVI");
    }
}

TEST(RecordingNameTest, ImpossibleDatesAndOtherNamesAreRejected)
{
    for (const wchar_t* name : {
             L"20241301-100000.AVI",   // month 13 (the platform's parser would swap it with the day)
             L"20240001-100000.AVI",   // month 0
             L"20240100-100000.AVI",   // day 0
             L"20240132-100000.AVI",   // day 32
             L"20230229-100000.AVI",   // not a leap year
             L"21000229-100000.AVI",   // centuries are not leap years
             L"20240431-100000.AVI",   // April has 30 days
             L"20240101-240000.AVI",   // hour 24
             L"20240101-106000.AVI",   // minute 60
             L"20240101-100060.AVI",   // second 60
             L"00000101-100000.AVI",   // year 0
             L"20240101 100000.AVI",   // separator
             L"2024010-1100000.AVI",   // separator moved
             L"2024O101-100000.AVI",   // a letter O
             L"+2024101-100000.AVI",   // a sign
             L"-001-1-1--1-1-1.AVI",   // the name of an invalid start
             L"20240101-100000.AVX",   // extension
             L"20240101-100000_AVI",   // no dot
             L"20240101-10000.AVI",    // too short
             L"20240101-1000000.AVI",  // too long
             L"RECORDING.AVI",        L"",
         }) {
        const CDateTime start = ParseRecordingStart(name);
        EXPECT_FALSE(start.IsValid()) << name;
        EXPECT_EQ(start.m_dt, 0.0) << name;
    }
}

TEST(RecordingNameTest, ParseRecordingNameStoresTheStartIntoTheRecord)
{
    CVideoInfo record;
    record.m_nDuration = 60;
    EXPECT_TRUE(ParseRecordingName(record, L"20240101-100000.AVI"));
    EXPECT_EQ(MakeVideoFileName(record.m_dtStart), L"20240101-100000.AVI");
    EXPECT_FALSE(ParseRecordingName(record, L"20241301-100000.AVI"));
    EXPECT_FALSE(record.m_dtStart.IsValid());
    EXPECT_EQ(record.m_nDuration, 60);
}
