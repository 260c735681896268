#pragma once

// Reads back the header figures of an AVI file, checking its structure on the way: plain file reads,
// any thread.

#include <windows.h>

#include <cstdint>
#include <string>

struct AviFileFigures {
    DWORD dwLength = 0;  // frames
    DWORD dwRate = 0;
    DWORD dwScale = 0;
};

// Fails (error result, figures zero) for anything that is not a readable AVI file.
[[nodiscard]] HRESULT ReadAviFileFigures(const std::wstring& path, AviFileFigures& figures);

// Bytes one chunk of `size` data bytes takes in an AVI file: its id, its length and the padding to
// an even size.
[[nodiscard]] constexpr ULONGLONG AviChunkBytes(DWORD size)
{
    return 8ULL + size + (size & 1u);
}

// Whether a released AVI file really holds what was written into it: its header counts `positions`
// and the file is at least as long as its chunks plus an index entry for each. Some AVI libraries
// report success for writes that a full disk refused; this catches the file they leave.
[[nodiscard]] bool IsCompleteRecording(const std::wstring& path, int positions, ULONGLONG chunkBytes);
