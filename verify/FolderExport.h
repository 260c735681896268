#pragma once

// Copies what covers a span of local time out of a checked folder into a new folder that is itself
// a folder to check: the covering recordings, the seal log whole (every record the chain needs), the
// span it was exported for and the verifier's report. The calling thread.

#include <windows.h>

#include <string>

class CFolderCheck;

// Fills outFolder (created when missing) from a checked source; report gets the export's own check.
// The number of recordings copied, or -1 when the export could not be written.
[[nodiscard]] int ExportSpan(const CFolderCheck& source, long long fromMs, long long toMs,
                             const std::wstring& outFolder, std::string& report);
