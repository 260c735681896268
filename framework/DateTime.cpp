#include "framework/DateTime.h"

#include <cmath>
#include <ctime>

namespace {

bool SameFields(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

// Negative OLE dates count the time of day upward from the day number (-1.25 is 29 Dec 1899 06:00),
// so they are not monotonic as doubles; this maps them onto one continuous scale.
double ContinuousDays(DATE x)
{
    if (x >= 0.0)
        return x;
    const double day = std::ceil(x);
    return day - (x - day);
}

}  // namespace

CDateTime CDateTime::FromSystemTime(const SYSTEMTIME& st)
{
    SYSTEMTIME whole = st;
    whole.wMilliseconds = 0;
    DATE value = 0.0;
    if (!SystemTimeToVariantTime(&whole, &value))
        return CDateTime(0.0, kInvalid);
    // The conversion is lenient about some out-of-range fields; only an exact round trip counts.
    SYSTEMTIME back{};
    if (!VariantTimeToSystemTime(value, &back) || !SameFields(whole, back))
        return CDateTime(value, kInvalid);
    return CDateTime(value, kValid);
}

bool CDateTime::ToSystemTime(SYSTEMTIME& st) const
{
    return IsValid() && VariantTimeToSystemTime(m_dt, &st) != FALSE;
}

CDateTime CDateTime::AddSeconds(int seconds) const
{
    SYSTEMTIME st{};
    FILETIME ft{};
    if (!ToSystemTime(st) || !SystemTimeToFileTime(&st, &ft))
        return CDateTime(m_dt, kInvalid);
    ft = TicksFileTime(FileTimeTicks(ft) + static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds) * 10'000'000LL));
    if (!FileTimeToSystemTime(&ft, &st))
        return CDateTime(m_dt, kInvalid);
    return FromSystemTime(st);
}

CDateTime GetCurrentDate()
{
    return LocalDateFromTime(_time64(nullptr));
}

CDateTime LocalDateFromTime(__time64_t seconds)
{
    std::tm local{};
    if (_localtime64_s(&local, &seconds) != 0)
        return CDateTime(0.0, CDateTime::kInvalid);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec);
    return CDateTime::FromSystemTime(st);
}

bool IsLaterThan(const CDateTime& a, const CDateTime& b)
{
    if (!a.IsValid() || !b.IsValid())
        return false;
    return ContinuousDays(b.m_dt) < ContinuousDays(a.m_dt);
}

ULONGLONG FileTimeTicks(const FILETIME& ft)
{
    return static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

FILETIME TicksFileTime(ULONGLONG ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool MsOfSystemTime(const SYSTEMTIME& st, long long& ms)
{
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    ms = static_cast<long long>(FileTimeTicks(ft) / 10000);
    return true;
}

bool SystemTimeOfMs(long long ms, SYSTEMTIME& st)
{
    const FILETIME ft = TicksFileTime(static_cast<ULONGLONG>(ms < 0 ? 0 : ms) * 10000);
    return FileTimeToSystemTime(&ft, &st) != FALSE;
}

LONGLONG UtcTicksOfLocal(const CDateTime& local)
{
    SYSTEMTIME st{}, utc{};
    FILETIME ft{};
    if (!local.ToSystemTime(st) || !TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc) ||
        !SystemTimeToFileTime(&utc, &ft))
        return 0;
    return static_cast<LONGLONG>(FileTimeTicks(ft));
}

LONGLONG UtcTicksNow()
{
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return static_cast<LONGLONG>(FileTimeTicks(ft));
}
