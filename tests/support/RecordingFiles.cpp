#include "support/RecordingFiles.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include "media/VideoFileWriter.h"
#include "support/TestSupport.h"
#include "timestore/SealLog.h"

namespace testsupport {

void WriteRecording(const std::wstring& path, int frames)
{
    const std::vector<std::uint8_t> picture(64 * 48 * 4, 0x80);
    CVideoFileWriter writer;
    writer.CreateEncoder(64, 48);
    writer.m_strTempPath = path;
    HRESULT hr = writer.OpenVideoFile();
    for (int i = 0; i < frames && SUCCEEDED(hr); ++i)
        hr = i == 0 ? writer.WriteFrame(32, picture.data()) : writer.WriteDroppedFrame();
    writer.ReleaseVideoFile();
    if (FAILED(hr))
        throw std::runtime_error("cannot write the recording");
}

void MakeRateBelowOneFramePerSecond(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    const auto put = [&](const char* chunk, std::size_t offset, DWORD value) {  // into the chunk's data
        const auto at = std::search(bytes.begin(), bytes.end(), chunk, chunk + 4);
        if (at == bytes.end())
            throw std::runtime_error("chunk not found");
        std::memcpy(&*(at + 8 + offset), &value, sizeof value);
    };
    put("avih", 0, 2'000'000);  // microseconds per frame
    put("strh", 20, 2);         // scale
    put("strh", 24, 1);         // rate
    WriteBytes(path, bytes);
}

std::wstring ListFolder(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    lumeno::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.Get(), &entry) != FALSE)
        names.insert(std::wstring(entry.cFileName) + (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? L"\\" : L""));
    std::wstring list;
    for (const std::wstring& name : names)
        if (name != L".\\" && name != L"..\\")
            list += (list.empty() ? L"" : L" ") + name;
    return list;
}

std::vector<CSealRecord> SealRecords(const std::wstring& log, const std::string& kind)
{
    std::vector<CSealRecord> records;
    for (const CSealLog::Line& line : CSealLog::ReadLines(log))
        if (CSealRecord r; CSealRecord::Parse(line.text, r) == CSealRecord::Parsed::kOk)
            if (kind.empty() || r.Get("kind") == kind)
                records.push_back(std::move(r));
    return records;
}

}  // namespace testsupport
