#include "timestore/RecordingName.h"

#include <cstdio>
#include <cwctype>

#include "timestore/VideoInfo.h"

namespace {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Digits name[first .. first+count) as a number, or -1 when any of them is not an ASCII digit.
int ReadDigits(const std::wstring& name, std::size_t first, std::size_t count)
{
    int value = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        if (name[i] < L'0' || name[i] > L'9')
            return -1;
        value = value * 10 + (name[i] - L'0');
    }
    return value;
}

bool HasAviExtension(const std::wstring& name)
{
    const std::size_t dot = name.size() - 4;
    return name[dot] == L'.' && std::towupper(name[dot + 1]) == L'A' && std::towupper(name[dot + 2]) == L'V' &&
           std::towupper(name[dot + 3]) == L'I';
}

}  // namespace

std::wstring MakeVideoFileName(const CDateTime& start)
{
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
    SYSTEMTIME st{};
    if (start.ToSystemTime(st)) {
        year = st.wYear;
        month = st.wMonth;
        day = st.wDay;
        hour = st.wHour;
        minute = st.wMinute;
        second = st.wSecond;
    }
    wchar_t name[32];
    std::swprintf(name, std::size(name), L"%04d%02d%02d-%02d%02d%02d.AVI", year, month, day, hour, minute, second);
    return name;
}

CDateTime ParseRecordingStart(const std::wstring& name)
{
    const CDateTime rejected(0.0, CDateTime::kInvalid);
    if (name.size() != kRecordingNameLength || !HasAviExtension(name) || name[8] != L'-')
        return rejected;
    const int year = ReadDigits(name, 0, 4), month = ReadDigits(name, 4, 2), day = ReadDigits(name, 6, 2);
    const int hour = ReadDigits(name, 9, 2), minute = ReadDigits(name, 11, 2), second = ReadDigits(name, 13, 2);
    // The automation date range starts at year 100.
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return rejected;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return rejected;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    const CDateTime start = CDateTime::FromSystemTime(st);
    return start.IsValid() ? start : rejected;
}

BOOL ParseRecordingName(CVideoInfo& record, const std::wstring& name)
{
    record.m_dtStart = ParseRecordingStart(name);
    return record.m_dtStart.IsValid() ? TRUE : FALSE;
}
