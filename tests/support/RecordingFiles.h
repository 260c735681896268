#pragma once

// Real AVI recordings for catalogue tests and benchmarks, made quickly (64×48 pixels) by the
// program's own writer, with its stream rate and index.

#include <windows.h>
// after windows.h, which it needs
#include <vfw.h>

#include <string>
#include <vector>

#include "timestore/SealRecord.h"

namespace testsupport {

// AVIFileInit / AVIFileExit for the lifetime of the object (the calling thread).
struct AviLibrary {
    AviLibrary() { AVIFileInit(); }
    ~AviLibrary() { AVIFileExit(); }
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
};

// `frames` positions at 10 frames per second: one key frame, then empty ones. Throws on failure.
void WriteRecording(const std::wstring& path, int frames);
// Rewrites the headers of a file made by WriteRecording to a rate below one frame per second.
void MakeRateBelowOneFramePerSecond(const std::wstring& path);
// The entries of a folder, sorted and space-separated; sub-folders end in "\".
[[nodiscard]] std::wstring ListFolder(const std::wstring& folder);
// The well-formed records of a seal log, oldest first; only those of `kind` when one is given.
[[nodiscard]] std::vector<CSealRecord> SealRecords(const std::wstring& log, const std::string& kind = "");

}  // namespace testsupport
