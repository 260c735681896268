#include "media/AviFileReader.h"

#include "framework/FileBytes.h"
#include "framework/Handles.h"

#include <vfw.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Header lists are a few kilobytes; anything claiming more is not one of ours.
constexpr DWORD kMaxHeaderListBytes = 1 << 20;
constexpr std::size_t kStreamHeaderBytes = 56;  // AVISTREAMHEADER without its chunk id and size

bool IsId(const std::uint8_t* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

// The first video stream header inside the "hdrl" list, walked within its own bounds.
bool FindVideoStreamHeader(const std::vector<std::uint8_t>& list, std::size_t from, std::size_t to,
                           AviFileFigures& figures, int depth = 0)
{
    if (depth > 2)
        return false;  // stream lists sit one level down; deeper nesting is a hostile file
    while (from + 8 <= to) {
        const DWORD size = Le32(&list[from + 4]);
        if (size > to - from - 8)
            return false;
        if (IsId(&list[from], "LIST") && size >= 4 && IsId(&list[from + 8], "strl") &&
            FindVideoStreamHeader(list, from + 12, from + 8 + size, figures, depth + 1))
            return true;
        if (IsId(&list[from], "strh") && size >= kStreamHeaderBytes && IsId(&list[from + 8], "vids")) {
            const std::uint8_t* h = &list[from + 8];
            figures.dwScale = Le32(h + 20);
            figures.dwRate = Le32(h + 24);
            figures.dwLength = Le32(h + 32);
            return true;
        }
        from += 8 + static_cast<std::size_t>(size) + (size & 1u);
    }
    return false;
}

}  // namespace

HRESULT ReadAviFileFigures(const std::wstring& path, AviFileFigures& figures)
{
    // Read by hand rather than through the AVI library: a storage folder may hold anything, and
    // the library trusts the sizes and counts it finds in a file.
    figures = {};
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER fileSize{};
    if (!file || !GetFileSizeEx(file.Get(), &fileSize))
        return HRESULT_FROM_WIN32(GetLastError());
    const auto size = static_cast<ULONGLONG>(fileSize.QuadPart);
    std::uint8_t riff[12];
    if (!ReadFileAt(file.Get(), 0, riff, sizeof(riff)) || !IsId(riff, "RIFF") || !IsId(riff + 8, "AVI "))
        return AVIERR_FILEREAD;

    // Top-level chunks: a header list, a frame list and an index, each inside the file.
    bool header = false, frames = false;
    ULONGLONG indexEntries = 0;  // 16 bytes each, one for every position
    bool index = false;
    AviFileFigures found;
    for (ULONGLONG at = 12; at + 8 <= size;) {
        std::uint8_t chunk[12];
        if (!ReadFileAt(file.Get(), at, chunk, at + 12 <= size ? 12 : 8))
            return AVIERR_FILEREAD;
        const DWORD length = Le32(chunk + 4);
        if (length > size - at - 8)
            return AVIERR_FILEREAD;  // cut short, or a size that points past the end
        if (IsId(chunk, "LIST") && length >= 4 && IsId(chunk + 8, "hdrl") && !header) {
            if (length > kMaxHeaderListBytes)
                return AVIERR_FILEREAD;
            std::vector<std::uint8_t> list(length);
            if (!ReadFileAt(file.Get(), at + 8, list.data(), length) ||
                !FindVideoStreamHeader(list, 4, list.size(), found))
                return AVIERR_FILEREAD;
            header = true;
        } else if (IsId(chunk, "LIST") && length >= 4 && IsId(chunk + 8, "movi")) {
            frames = true;
        } else if (IsId(chunk, "idx1")) {
            index = true;
            indexEntries = length / 16;
        }
        at += 8 + static_cast<ULONGLONG>(length) + (length & 1u);
    }
    // A length the index does not back would count as hours of recording, and retention would
    // delete real recordings to make room for it.
    if (!header || !frames || !index || found.dwLength > indexEntries)
        return AVIERR_FILEREAD;
    figures = found;
    return S_OK;
}

bool IsCompleteRecording(const std::wstring& path, int positions, ULONGLONG chunkBytes)
{
    constexpr ULONGLONG kIndexEntryBytes = 16;
    AviFileFigures figures;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (positions <= 0 || FAILED(ReadAviFileFigures(path, figures)) ||
        figures.dwLength != static_cast<DWORD>(positions) ||
        !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size >= chunkBytes + AviChunkBytes(0) + kIndexEntryBytes * static_cast<ULONGLONG>(positions);
}
