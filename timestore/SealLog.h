#pragma once

// The append-only seal log: one CSealRecord per line, each naming its place ("seq", from 1) and the
// hash of the record before it ("prev"), so that a changed, removed, inserted or moved line breaks
// the chain. Every record is flushed to the disk before Append returns. A last line cut short by a
// power cut is left exactly as it is: it is ended, and a "resumed" record that names its hash
// continues the chain from the last whole record. Nothing already in the log is ever rewritten.
//
// Threads: one object belongs to one thread (the sealing thread); other processes may read the file
// while it is open.

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "timestore/SealRecord.h"

class CSealLog {
public:
    static constexpr const wchar_t* kFileName = L"seals.log";

    // A line of the file as it was read; `ended` is false only for a last line without a line end.
    struct Line {
        std::string text;
        bool ended = true;
    };

    // Opens or creates the log and finds where the chain goes on. When the last line was cut,
    // it is ended and a "resumed" record is appended; `cutFragment` then gets the cut text.
    [[nodiscard]] HRESULT Open(const std::wstring& path, std::string* cutFragment = nullptr);
    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(m_hFile); }
    // After a failed write: the next Open finds whatever part of the line reached the disk as a cut line.
    void Close() { m_hFile.Reset(); }
    [[nodiscard]] const std::wstring& Path() const { return m_strPath; }

    // Gives the record its "seq" (first) and "prev" (last before the hash), writes it as one line and
    // flushes it. The record keeps the fields it was given; on failure the chain does not move.
    [[nodiscard]] HRESULT Append(const CSealRecord& record);

    // The newest record in the chain: its seq (0 for none) and hash.
    [[nodiscard]] long long LastSeq() const { return m_nLastSeq; }
    [[nodiscard]] const std::string& LastHash() const { return m_strLastHash; }

    [[nodiscard]] static std::vector<Line> ReadLines(const std::wstring& path, bool* found = nullptr);

    // The current time as record fields want it (UTC, machine clock).
    [[nodiscard]] static std::string NowUtc();

private:
    [[nodiscard]] HRESULT WriteAtEnd(const std::string& bytes);

    lumeno::UniqueFile m_hFile;
    std::wstring m_strPath;
    std::string m_strLastHash = CSealRecord::kNoPrevious;
    long long m_nLastSeq = 0;
};
