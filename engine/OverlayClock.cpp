#include "engine/OverlayClock.h"

#include <cstdio>
#include <cwchar>

#include "framework/DateTime.h"

namespace {
constexpr long long kTicksPerHour = 36000000000LL;  // FILETIME ticks are 100 ns
// A FILETIME below this value is a year the platform still converts back (up to 30827).
constexpr unsigned long long kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;
}  // namespace

bool ShiftUtc(const SYSTEMTIME& utc, long long offsetHours, SYSTEMTIME& shifted)
{
    FILETIME ft;
    if (!SystemTimeToFileTime(&utc, &ft))
        return false;
    const unsigned long long base = FileTimeTicks(ft);
    // Limit the offset so the product cannot overflow; anything beyond ±100 years is unrepresentable here.
    if (offsetHours > 876000 || offsetHours < -876000)
        return false;
    const long long delta = offsetHours * kTicksPerHour;
    if (delta < 0 && base < static_cast<unsigned long long>(-delta))
        return false;
    const unsigned long long moved = base + static_cast<unsigned long long>(delta);
    if (delta > 0 && (moved < base || moved > kMaxFileTime))
        return false;
    ft = TicksFileTime(moved);
    return FileTimeToSystemTime(&ft, &shifted) != FALSE;
}

std::wstring FormatOverlayClock(const SYSTEMTIME& utc, int offsetHours)
{
    int month = 0, day = 0, hour = -1, minute = -1, second = -1;
    SYSTEMTIME shifted{};
    if (ShiftUtc(utc, offsetHours, shifted)) {
        month = shifted.wMonth;
        day = shifted.wDay;
        hour = shifted.wHour;
        minute = shifted.wMinute;
        second = shifted.wSecond;
    }
    wchar_t text[64];
    std::swprintf(text, std::size(text), L"%d-%d %d:%02d:%02d", month, day, hour, minute, second);
    return text;
}

std::wstring FormatZoneLabel(int offsetHours)
{
    const long long magnitude = offsetHours < 0 ? -static_cast<long long>(offsetHours) : offsetHours;
    wchar_t text[64];
    std::swprintf(text, std::size(text), L"GMT%ls%02lldh：", offsetHours < 0 ? L"-" : L"+", magnitude);
    return text;
}
