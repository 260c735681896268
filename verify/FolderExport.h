#pragma once

// Copies what covers a span of local time out of a checked folder into a new, empty folder that is
// itself a folder to check: the covering recordings, the seal log up to its last whole line with one
// record more, an `export` record that seals the span (its prev is the hash of the source chain's
// last record), and the verifier's report. The calling thread.

#include <windows.h>

#include <string>

class CFolderCheck;

// Fills outFolder (created when missing; the caller makes sure it is empty and not inside the
// source) from a checked source, then checks the export into `exported`. The number of recordings
// copied, or -1 when the export could not be written.
[[nodiscard]] int ExportSpan(const CFolderCheck& source, long long fromMs, long long toMs,
                             const std::wstring& outFolder, CFolderCheck& exported);
