#pragma once

// Texts of the overlay's clocks. Pure functions, called by the recording thread once per frame.

#include <windows.h>

#include <string>

// "%d-%d %d:%02d:%02d" (month, day, hour, minute, second) of the UTC reading moved by offsetHours.
// The shift is exact calendar arithmetic on the UTC reading, so the machine's own time zone and
// its daylight-saving changes play no part. A reading that cannot be shifted (invalid fields, or a
// date outside the calendar the platform can represent) shows "0-0 -1:-1:-1": plainly no time,
// never a wrong one.
[[nodiscard]] std::wstring FormatOverlayClock(const SYSTEMTIME& utc, int offsetHours);

// "GMT%s%02dh：": "-" for a negative offset, otherwise "+", then the absolute hours, two digits at least.
[[nodiscard]] std::wstring FormatZoneLabel(int offsetHours);

// The UTC reading moved by offsetHours; false when it cannot be represented.
[[nodiscard]] bool ShiftUtc(const SYSTEMTIME& utc, long long offsetHours, SYSTEMTIME& shifted);
