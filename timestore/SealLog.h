#pragma once

// The append-only seal log: one CSealRecord per line, each naming its place ("seq", from 1) and the
// hash of the record before it ("prev"), so that a changed, removed, inserted or moved line breaks
// the chain. Every record is flushed to the disk before Append returns; a write that fails (a full
// disk) takes back whatever part of it reached the file, so the next one starts a line of its own.
// A last line cut short by a power cut is left exactly as it is: it is ended, and a "resumed" record
// that names its hash continues the chain from the last whole record. A last record that only lacks
// its line end is whole and is just ended. Nothing already in the log is ever rewritten.
//
// Threads: one object belongs to one thread (the sealing thread); other processes may read the file
// while it is open.

#include <windows.h>

#include <cstddef>
#include <functional>
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

    // Opens or creates the log and finds where the chain goes on. A last line without its line end
    // is ended, and when it was cut a "resumed" record is appended; `cutFragment` then gets the cut
    // text. When that repair cannot be written the log stays closed, so that the next Open repairs
    // it before anything else is appended.
    [[nodiscard]] HRESULT Open(const std::wstring& path, std::string* cutFragment = nullptr);
    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(m_hFile); }
    void Close() { m_hFile.Reset(); }
    [[nodiscard]] const std::wstring& Path() const { return m_strPath; }

    // Writes the record as one line in its kind's layout (CSealFormat: "seq" first, "prev" last before
    // the hash) and flushes it. E_INVALIDARG for a record that does not fit its layout; on any
    // failure the chain does not move.
    [[nodiscard]] HRESULT Append(const CSealRecord& record);

    // The newest record in the chain: its seq (0 for none) and hash.
    [[nodiscard]] long long LastSeq() const { return m_nLastSeq; }
    [[nodiscard]] const std::string& LastHash() const { return m_strLastHash; }

    // Calls visit for every line of the file as CSealLogReader reads it (piece by piece, a line
    // longer than any record kept only in part, as the verifier sees it); false when the file
    // cannot be opened.
    static bool ForEachLine(const std::wstring& path, const std::function<void(Line&&)>& visit);
    [[nodiscard]] static std::vector<Line> ReadLines(const std::wstring& path, bool* found = nullptr);

    // The result of one WriteFile of `wanted` bytes: fewer bytes written is a failure even when the
    // system reported success.
    [[nodiscard]] static HRESULT WriteOutcome(BOOL succeeded, DWORD written, std::size_t wanted, DWORD error);

    // The current time as record fields want it (UTC, machine clock).
    [[nodiscard]] static std::string NowUtc();

private:
    // The line of a record as the next one in the chain (no line end).
    [[nodiscard]] std::string Chained(const CSealRecord& record) const;
    void Advance(const std::string& line);
    [[nodiscard]] HRESULT WriteAtEnd(const std::string& bytes);

    lumeno::UniqueFile m_hFile;
    std::wstring m_strPath;
    std::string m_strLastHash = CSealRecord::kNoPrevious;
    long long m_nLastSeq = 0;
};
