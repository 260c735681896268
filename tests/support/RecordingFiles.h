#pragma once

// Real AVI recordings for catalogue tests and benchmarks: small frames so they are quick to make,
// with the program's own writer, stream rate and index.

#include <windows.h>

#include <string>

namespace testsupport {

// AVIFileInit / AVIFileExit for the lifetime of the object (the test process's own thread).
struct AviLibrary {
    AviLibrary();
    ~AviLibrary();
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
};

// Writes an AVI of 64×48 pixels with `frames` positions at 10 frames per second: one encoded key
// frame, then empty positions. Throws when the file cannot be written.
void WriteRecording(const std::wstring& path, int frames);

// Rewrites the stream header of a file made by WriteRecording so that its rate is below one frame
// per second (rate 1, scale 2), and the main header to match.
void MakeRateBelowOneFramePerSecond(const std::wstring& path);

// Names of the entries of a folder (no "." or ".."), sorted; sub-folders end with a backslash.
[[nodiscard]] std::wstring ListFolder(const std::wstring& folder);

}  // namespace testsupport
