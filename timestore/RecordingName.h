#pragma once

// The one naming rule of finished recordings, "YYYYMMDD-HHMMSS.AVI" after the local start time, and
// its strict inverse. Plain functions; any thread.

#include <string>

#include "framework/DateTime.h"

class CVideoInfo;

inline constexpr std::size_t kRecordingNameLength = 19;
inline constexpr const wchar_t* kTemporaryRecordingName = L"RECORDING.AVI";

// Every field is -1 when the start time is invalid or cannot be converted ("-001-1-1--1-1-1.AVI").
[[nodiscard]] std::wstring MakeVideoFileName(const CDateTime& start);

// Reads the start time out of a recording's file name (extension in any case). Every field is
// checked against the calendar: the platform's date parser would take month 13 as a day.
// On failure the result is invalid with value 0.
[[nodiscard]] CDateTime ParseRecordingStart(const std::wstring& name);

// Stores the parsed start time into the record; FALSE when the name is not a recording's name.
BOOL ParseRecordingName(CVideoInfo& record, const std::wstring& name);
