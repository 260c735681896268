#include "verify/Moment.h"

#include <windows.h>

#include <cstdio>

bool ParseMoment(const std::string& text, long long& ms)
{
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
    int used = 0;
    const bool whole = text.size() == 19 &&
                       std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%n", &year, &month, &day, &hour, &minute,
                                   &second, &used) == 6 &&
                       used == 19;
    const bool fraction = text.size() == 23 &&
                          std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u%n", &year, &month, &day, &hour,
                                      &minute, &second, &milli, &used) == 7 &&
                          used == 23;
    if (!whole && !fraction)
        return false;
    for (const std::size_t digit : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u})
        if (text[digit] < '0' || text[digit] > '9')
            return false;  // sscanf would take signs and spaces
    if (hour > 23 || minute > 59 || second > 59 || month < 1 || month > 12 || day < 1)
        return false;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year), st.wMonth = static_cast<WORD>(month), st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour), st.wMinute = static_cast<WORD>(minute), st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(milli);
    FILETIME ft{};
    SYSTEMTIME back{};
    // The round trip rejects 31 April and 29 February of common years.
    if (!SystemTimeToFileTime(&st, &ft) || !FileTimeToSystemTime(&ft, &back) || back.wDay != st.wDay ||
        back.wMonth != st.wMonth)
        return false;
    ms = static_cast<long long>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000);
    return true;
}

std::string FormatMoment(long long ms, bool timeOnly)
{
    const ULONGLONG ticks = static_cast<ULONGLONG>(ms < 0 ? 0 : ms) * 10000;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st))
        return "?";
    char text[32];
    if (timeOnly)
        std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    else
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}
