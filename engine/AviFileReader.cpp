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
