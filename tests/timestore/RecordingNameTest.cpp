#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "timestore/RecordingName.h"

TEST(RecordingNameTest, ImpossibleDatesAndOtherNamesAreRejected)
{
    const wchar_t* const names[] = {
        // impossible fields, the automation date range starting at year 100
        L"20241301-100000.AVI", L"20240001-100000.AVI", L"20240100-100000.AVI", L"20240132-100000.AVI",
        L"20230229-100000.AVI", L"21000229-100000.AVI", L"20240431-100000.AVI", L"20240101-240000.AVI",
        L"20240101-106000.AVI", L"20240101-100060.AVI", L"00990101-100000.AVI",
        // not the pattern
        L"20240101 100000.AVI", L"2024010-1100000.AVI", L"2024O101-100000.AVI", L"+2024101-100000.AVI",
        L"-001-1-1--1-1-1.AVI", L"20240101-100000.AVX", L"20240101-100000_AVI", L"20240101-10000.AVI",
        L"20240101-1000000.AVI", L"RECORDING.AVI", L""};
    for (const wchar_t* name : names)
        EXPECT_FALSE(ParseRecordingStart(name).IsValid()) << testsupport::Narrow(name);
}
