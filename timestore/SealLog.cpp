#include "timestore/SealLog.h"

#include <algorithm>
#include <utility>

#include "framework/Sha256.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLogReader.h"

HRESULT CSealLog::Open(const std::wstring& path, std::string* cutFragment)
{
    Close();
    m_strLastHash = CSealRecord::kNoPrevious;
    m_nLastSeq = 0;
    // The chain goes on from the last whole record that reads as one (a damaged line is the
    // verifier's to report, not the log's to repair).
    std::size_t count = 0;
    Line last;
    bool lastWhole = false;
    (void)ForEachLine(path, [&](Line&& line) {
        ++count;
        CSealRecord record;
        lastWhole = CSealRecord::Parse(line.text, record) != CSealRecord::Parsed::kMalformed;
        if (lastWhole) {
            m_strLastHash = record.Get(CSealRecord::kHashKey);
            m_nLastSeq = std::max(m_nLastSeq, record.GetNumber(CSealRecord::kSeqKey, 0));
        }
        last = std::move(line);
    });
    // Read access too: the chain's end is found again from what is really on the disk.
    m_hFile.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_hFile)
        return HRESULT_FROM_WIN32(GetLastError());
    m_strPath = path;
    if (count == 0 || last.ended)
        return S_OK;

    // The line end and the record that continues the chain go in one write: a log is never left
    // with a cut line ended but not accounted for.
    std::string resumedLine;
    if (!lastWhole) {
        CSealRecord resumed;
        resumed.Set(CSealRecord::kKindKey, "resumed");
        resumed.Set("cut_line", std::to_string(count));
        resumed.Set("cut_bytes", std::to_string(last.text.size()));
        resumed.Set("cut_sha256", CSha256::OfText(last.text));
        resumed.Set("at_utc", NowUtc());
        resumedLine = Chained(resumed);
    }
    if (const HRESULT hr = WriteAtEnd(resumedLine.empty() ? "\n" : "\n" + resumedLine + "\n"); FAILED(hr)) {
        Close();
        return hr;
    }
    if (!resumedLine.empty()) {
        Advance(resumedLine);
        if (cutFragment)
            *cutFragment = last.text;
    }
    return S_OK;
}

std::string CSealLog::Chained(const CSealRecord& record) const
{
    CSealRecord line;
    // Empty for a record not of the one layout: a reader would take it for tampering.
    return CSealFormat::Arrange(record, m_nLastSeq + 1, m_strLastHash, line) ? line.Seal() : std::string();
}

void CSealLog::Advance(const std::string& line)
{
    m_strLastHash = line.substr(line.size() - CSha256::kHexLength);
    ++m_nLastSeq;
}

HRESULT CSealLog::Append(const CSealRecord& record)
{
    if (!m_hFile)
        return E_HANDLE;
    const std::string text = Chained(record);
    if (text.empty())
        return E_INVALIDARG;
    if (const HRESULT hr = WriteAtEnd(text + "\n"); FAILED(hr))
        return hr;
    Advance(text);
    return S_OK;
}

HRESULT CSealLog::WriteOutcome(BOOL succeeded, DWORD written, std::size_t wanted, DWORD error)
{
    if (!succeeded)
        return HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return written == wanted ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT CSealLog::WriteAtEnd(const std::string& bytes)
{
    LARGE_INTEGER zero{}, end{};
    if (!SetFilePointerEx(m_hFile.Get(), zero, &end, FILE_END))
        return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(m_hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    HRESULT hr = WriteOutcome(ok, written, bytes.size(), GetLastError());
    // A record that is not on the disk cannot explain anything after a power cut.
    if (SUCCEEDED(hr) && !FlushFileBuffers(m_hFile.Get()))
        hr = HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr)) {
        // Whatever part of it reached the file goes again: the record is written whole later. Should
        // this fail too, the next Open finds the part as a cut line.
        (void)SetFilePointerEx(m_hFile.Get(), end, nullptr, FILE_BEGIN);
        (void)SetEndOfFile(m_hFile.Get());
    }
    return hr;
}

bool CSealLog::ForEachLine(const std::wstring& path, const std::function<void(Line&&)>& visit)
{
    CSealLogReader reader;
    if (!reader.Open(path))
        return false;
    for (CSealLogReader::Line line; reader.Next(line);)
        visit({std::move(line.text), line.ended});
    return true;
}

std::vector<CSealLog::Line> CSealLog::ReadLines(const std::wstring& path, bool* found)
{
    std::vector<Line> lines;
    const bool opened = ForEachLine(path, [&](Line&& line) { lines.push_back(std::move(line)); });
    if (found)
        *found = opened;
    return lines;
}

std::string CSealLog::NowUtc()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FormatSealTime(now, true);
}
