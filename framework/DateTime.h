#pragma once

// A calendar moment as the catalogue and the recording thread use it: an OLE Automation DATE (days
// since 1899-12-30 00:00, time of day as the fraction) in the machine's local time, with a status.
// A plain value; whoever holds one owns it.

#include <windows.h>
// after windows.h, which it needs
#include <oleauto.h>

#include <ctime>

class CDateTime {
public:
    static constexpr LONG kValid = 0;
    static constexpr LONG kInvalid = 1;

    CDateTime() = default;
    CDateTime(DATE value, LONG status) : m_dt(value), m_status(status) {}

    // From calendar fields; invalid (value 0) when the fields do not form a real date and time.
    [[nodiscard]] static CDateTime FromSystemTime(const SYSTEMTIME& st);
    // The calendar fields back; false for an invalid value or one the platform cannot convert.
    [[nodiscard]] bool ToSystemTime(SYSTEMTIME& st) const;
    // The same moment moved by whole seconds; invalid stays invalid.
    [[nodiscard]] CDateTime AddSeconds(int seconds) const;

    [[nodiscard]] bool IsValid() const { return m_status == kValid; }

    DATE m_dt = 0.0;
    LONG m_status = kValid;
};

// A moment given in seconds since 1970-01-01 UTC, as local time in whole seconds (the same
// breakdown as GetCurrentDate). Invalid when it cannot be broken down or converted.
[[nodiscard]] CDateTime LocalDateFromTime(__time64_t seconds);

// The current local time, whole seconds. Invalid when the clock cannot be broken down or the
// result does not convert back to the same fields.
[[nodiscard]] CDateTime GetCurrentDate();

// True when a is strictly later than b; false whenever either is invalid.
[[nodiscard]] bool IsLaterThan(const CDateTime& a, const CDateTime& b);

// A local time as the UTC moment it stands for by the machine's zone rules of today, in FILETIME
// ticks (100 ns since 1601); 0 when it is invalid or cannot be converted.
[[nodiscard]] LONGLONG UtcTicksOfLocal(const CDateTime& local);
// The machine's clock now, in FILETIME ticks (UTC).
[[nodiscard]] LONGLONG UtcTicksNow();
// A FILETIME as one count of its 100 ns ticks since 1601, and such a count as a FILETIME.
[[nodiscard]] ULONGLONG FileTimeTicks(const FILETIME& ft);
[[nodiscard]] FILETIME TicksFileTime(ULONGLONG ticks);
// A calendar time as milliseconds since 1601-01-01 on its own clock, and back (a negative count as
// 0); false where the platform refuses the date.
[[nodiscard]] bool MsOfSystemTime(const SYSTEMTIME& st, long long& ms);
[[nodiscard]] bool SystemTimeOfMs(long long ms, SYSTEMTIME& st);
