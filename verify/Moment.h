#pragma once

// Local moments of the verifier: milliseconds since 1601-01-01 on the calendar of the recordings'
// own local clock (no zone is applied). Plain functions; any thread.

#include <string>

// "YYYY-MM-DD HH:MM:SS" with an optional ".mmm"; false for anything else or an impossible date.
[[nodiscard]] bool ParseMoment(const std::string& text, long long& ms);
// "YYYY-MM-DD HH:MM:SS.mmm", or "HH:MM:SS.mmm" with timeOnly.
[[nodiscard]] std::string FormatMoment(long long ms, bool timeOnly = false);
