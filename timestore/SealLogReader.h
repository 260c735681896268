#pragma once

// Reads a seal log one line at a time, holding one read buffer and one line however long the log
// is, so that a log of years (or a hostile file of any size) is checked in bounded memory. A line
// longer than any record is read to its end but kept only in part (bTooLong).
// One object reads one file on the calling thread.

#include <windows.h>

#include <memory>
#include <string>

#include "framework/Handles.h"

class CSealLogReader {
public:
    struct Line {
        std::string text;   // without the line end (a carriage return before it is dropped too)
        bool ended = true;  // false only for a last line without a line end
        bool bTooLong = false;
        long long llNumber = 0;  // from 1
    };

    // False when there is no such file or it cannot be opened.
    [[nodiscard]] bool Open(const std::wstring& path);
    // The next line; false at the end of the file (or at a read error, then Failed()).
    [[nodiscard]] bool Next(Line& line);
    [[nodiscard]] bool Failed() const { return m_bFailed; }

private:
    static constexpr DWORD kBufferBytes = 1 << 16;

    lumeno::UniqueFile m_hFile;
    std::unique_ptr<char[]> m_buffer;
    DWORD m_nFilled = 0, m_nAt = 0;
    bool m_bEnd = false, m_bFailed = false;
    long long m_llLines = 0;
};
