#include "verify/Moment.h"

#include "framework/DateTime.h"
#include "timestore/SealRecord.h"

#include <windows.h>

#include <cstdio>

bool ParseMoment(const std::string& text, long long& ms)
{
    // The seal log's own form of a local time, whose milliseconds a person may leave out.
    return ParseSealTime(text.size() == 19 ? text + ".000" : text, false, ms);
}

std::string FormatMoment(long long ms, bool timeOnly)
{
    SYSTEMTIME st{};
    if (!SystemTimeOfMs(ms, st))
        return "?";
    char text[32];
    if (timeOnly)
        std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    else
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}
