#pragma once

// Reads back the header figures of an AVI file through AVIFIL32. Any thread that called AVIFileInit.

#include <windows.h>

#include <string>

struct AviFileFigures {
    DWORD dwLength = 0;  // frames
    DWORD dwRate = 0;
    DWORD dwScale = 0;
};

// Fails (error result, figures zero) for anything that is not a readable AVI file.
[[nodiscard]] HRESULT ReadAviFileFigures(const std::wstring& path, AviFileFigures& figures);
