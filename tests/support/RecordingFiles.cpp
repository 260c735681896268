#include "support/RecordingFiles.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/VideoFileWriter.h"
#include "framework/Handles.h"
#include "support/TestSupport.h"

namespace testsupport {

AviLibrary::AviLibrary()
{
    AVIFileInit();
}
AviLibrary::~AviLibrary()
{
    AVIFileExit();
}

void WriteRecording(const std::wstring& path, int frames)
{
    constexpr int kWidth = 64, kHeight = 48;
    static const std::vector<std::uint8_t> picture = DesktopLikeFrame(kWidth, kHeight, 0);
    CVideoFileWriter writer;
    writer.CreateEncoder(kWidth, kHeight);
    writer.m_strTempPath = path;
    if (FAILED(writer.OpenVideoFile()))
        throw std::runtime_error("cannot create the AVI file");
    for (int i = 0; i < frames; ++i) {
        const HRESULT hr = i == 0 ? writer.WriteFrame(32, picture.data()) : writer.WriteDroppedFrame();
        if (FAILED(hr))
            throw std::runtime_error("cannot write a frame");
    }
    writer.ReleaseVideoFile();
}

namespace {

std::size_t FindChunk(const std::vector<std::uint8_t>& bytes, const char* fourcc)
{
    auto it = std::search(bytes.begin(), bytes.end(), fourcc, fourcc + 4);
    if (it == bytes.end())
        throw std::runtime_error("chunk not found");
    return static_cast<std::size_t>(it - bytes.begin()) + 8;  // start of the chunk's data
}

void PutDword(std::vector<std::uint8_t>& bytes, std::size_t at, DWORD value)
{
    std::memcpy(&bytes[at], &value, 4);
}

}  // namespace

void MakeRateBelowOneFramePerSecond(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    const std::size_t avih = FindChunk(bytes, "avih");
    PutDword(bytes, avih + 0, 2'000'000);  // dwMicroSecPerFrame
    const std::size_t strh = FindChunk(bytes, "strh");
    PutDword(bytes, strh + 20, 2);  // dwScale
    PutDword(bytes, strh + 24, 1);  // dwRate
    WriteBytes(path, bytes);
}

std::wstring ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    lumeno::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            names.push_back(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? name + L"\\" : name);
        } while (FindNextFileW(find.Get(), &entry));
    }
    std::sort(names.begin(), names.end());
    std::wstring list;
    for (const auto& name : names)
        list += (list.empty() ? L"" : L" ") + name;
    return list;
}

}  // namespace testsupport
