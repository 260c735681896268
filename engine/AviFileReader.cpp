#include "engine/AviFileReader.h"

#include "engine/VideoFileWriter.h"

HRESULT ReadAviFileFigures(const std::wstring& path, AviFileFigures& figures)
{
    figures = {};
    AviFileRef file;
    HRESULT hr = AVIFileOpenW(file.Put(), path.c_str(), OF_SHARE_DENY_WRITE, nullptr);
    if (FAILED(hr))
        return hr;
    AVIFILEINFOW info{};
    static_assert(sizeof(AVIFILEINFOW) == 172);
    hr = AVIFileInfoW(file.Get(), &info, sizeof(info));
    if (FAILED(hr))
        return hr;
    figures.dwLength = info.dwLength;
    figures.dwRate = info.dwRate;
    figures.dwScale = info.dwScale;
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
