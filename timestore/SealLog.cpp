#include "timestore/SealLog.h"

#include <algorithm>

#include "timestore/SealFormat.h"
#include "timestore/Sha256.h"

HRESULT CSealLog::Open(const std::wstring& path, std::string* cutFragment)
{
    m_hFile.Reset();
    m_strLastHash = CSealRecord::kNoPrevious;
    m_nLastSeq = 0;
    const std::vector<Line> lines = ReadLines(path);
    // Read access too: the chain's end is found again from what is really on the disk.
    m_hFile.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_hFile)
        return HRESULT_FROM_WIN32(GetLastError());
    m_strPath = path;

    // The chain goes on from the last whole record that reads as one (a damaged line is the
    // verifier's to report, not the log's to repair).
    for (const Line& line : lines) {
        CSealRecord record;
        if (line.ended && CSealRecord::Parse(line.text, record) != CSealRecord::Parsed::kMalformed) {
            m_strLastHash = record.Get(CSealRecord::kHashKey);
            m_nLastSeq = std::max(m_nLastSeq, record.GetNumber(CSealRecord::kSeqKey, 0));
        }
    }
    if (lines.empty() || lines.back().ended)
        return S_OK;

    const std::string& fragment = lines.back().text;
    if (cutFragment)
        *cutFragment = fragment;
    if (const HRESULT hr = WriteAtEnd("\n"); FAILED(hr))
        return hr;
    CSealRecord resumed;
    resumed.Set(CSealRecord::kKindKey, "resumed");
    resumed.Set("cut_line", std::to_string(lines.size()));
    resumed.Set("cut_bytes", std::to_string(fragment.size()));
    resumed.Set("cut_sha256", CSha256::OfText(fragment));
    resumed.Set("at_utc", NowUtc());
    return Append(resumed);
}

HRESULT CSealLog::Append(const CSealRecord& record)
{
    if (!m_hFile)
        return E_HANDLE;
    CSealRecord line;
    if (!CSealFormat::Arrange(record, m_nLastSeq + 1, m_strLastHash, line))
        return E_INVALIDARG;  // not a record of the one layout: a reader would take it for tampering
    const std::string text = line.Seal();
    if (const HRESULT hr = WriteAtEnd(text + "\n"); FAILED(hr))
        return hr;
    m_strLastHash = text.substr(text.size() - CSha256::kHexLength);
    ++m_nLastSeq;
    return S_OK;
}

HRESULT CSealLog::WriteAtEnd(const std::string& bytes)
{
    LARGE_INTEGER zero{};
    DWORD written = 0;
    if (!SetFilePointerEx(m_hFile.Get(), zero, nullptr, FILE_END) ||
        !WriteFile(m_hFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return HRESULT_FROM_WIN32(GetLastError());
    // A record that is not on the disk cannot explain anything after a power cut.
    return FlushFileBuffers(m_hFile.Get()) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

std::vector<CSealLog::Line> CSealLog::ReadLines(const std::wstring& path, bool* found)
{
    std::vector<Line> lines;
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (found)
        *found = static_cast<bool>(file);
    if (!file)
        return lines;
    std::string content, pending;
    char buffer[1 << 16];
    for (DWORD read = 0; ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0;)
        content.append(buffer, read);
    std::size_t from = 0;
    while (from < content.size()) {
        const std::size_t end = content.find('\n', from);
        if (end == std::string::npos) {
            lines.push_back({content.substr(from), false});
            break;
        }
        std::string text = content.substr(from, end - from);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();  // a log copied through a text-mode tool
        lines.push_back({std::move(text), true});
        from = end + 1;
    }
    return lines;
}

std::string CSealLog::NowUtc()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FormatSealTime(now, true);
}
