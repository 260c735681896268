#include "media/VideoFileWriter.h"

#include "media/AviFileReader.h"

void CVideoFileWriter::CreateEncoder(int width, int height)
{
    m_encoder.m_nWidth = width;
    m_encoder.m_nHeight = height;
    if (width > 0)
        m_encoder.InitLibrary();
    m_encoder.CreateInstance();
}

HRESULT CVideoFileWriter::CreateRecordingFile(const std::wstring& path, int width, int height, AviFileRef& file,
                                              AviStreamRef& stream)
{
    AviFileRef newFile;
    HRESULT hr = AVIFileOpenW(newFile.Put(), path.c_str(), OF_CREATE | OF_SHARE_DENY_WRITE | OF_WRITE, nullptr);
    if (FAILED(hr))
        return hr;

    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('x', 'v', 'i', 'd');
    info.dwScale = 1;
    info.dwRate = kFramesPerSecond;
    info.dwQuality = static_cast<DWORD>(-1);
    SetRect(&info.rcFrame, 0, 0, width, height);
    lstrcpynW(info.szName, kStreamName, static_cast<int>(std::size(info.szName)));

    AviStreamRef newStream;
    hr = AVIFileCreateStreamW(newFile.Get(), newStream.Put(), &info);
    if (FAILED(hr))
        return hr;

    BITMAPINFOHEADER format{};
    format.biSize = sizeof(BITMAPINFOHEADER);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = mmioFOURCC('X', 'V', 'I', 'D');
    format.biSizeImage = static_cast<DWORD>(width) * height * 3;
    static_assert(sizeof(BITMAPINFOHEADER) == 40);
    hr = AVIStreamSetFormat(newStream.Get(), 0, &format, sizeof(format));
    if (FAILED(hr))
        return hr;  // the stream is released before the file, as the guards unwind

    file = std::move(newFile);
    stream = std::move(newStream);
    return S_OK;
}

HRESULT CVideoFileWriter::OpenVideoFile()
{
    ReleaseVideoFile();
    m_nFrameCount = 0;
    m_ullChunkBytes = 0;
    const HRESULT hr =
        CreateRecordingFile(m_strTempPath, m_encoder.m_nWidth, m_encoder.m_nHeight, m_pAviFile, m_pAviStream);
    if (FAILED(hr))
        return hr;
    m_bFileOpen = 1;
    // Every file starts with a key frame, so it can be played on its own.
    m_encoder.RequestKeyFrame();
    return S_OK;
}

HRESULT CVideoFileWriter::WriteFrame(int bitCount, const void* bits)
{
    if (!m_bFileOpen)
        return E_UNEXPECTED;
    const int size = m_encoder.EncodeFrame(bitCount, bits);
    if (size < 0)
        return WriteDroppedFrame();
    return AppendEncodedFrame(size);
}

HRESULT CVideoFileWriter::AppendEncodedFrame(int size)
{
    if (!m_bFileOpen)
        return E_UNEXPECTED;
    return AppendChunk(m_encoder.Output(), size, m_encoder.m_bKeyFrame ? AVIIF_KEYFRAME : 0);
}

HRESULT CVideoFileWriter::WriteDroppedFrame()
{
    if (!m_bFileOpen)
        return E_UNEXPECTED;
    return AppendChunk(m_encoder.Output(), 0, 0);
}

HRESULT CVideoFileWriter::AppendChunk(const void* data, LONG size, DWORD flags)
{
    const HRESULT hr = AVIStreamWrite(m_pAviStream.Get(), m_nFrameCount, 1, const_cast<void*>(data), size,
                                      flags, nullptr, nullptr);
    ++m_nFrameCount;  // the position advances even when the write failed: the timeline stays true
    m_ullChunkBytes += AviChunkBytes(static_cast<DWORD>(size));
    return hr;
}

void CVideoFileWriter::ReleaseVideoFile()
{
    m_pAviStream.Reset();
    m_pAviFile.Reset();
    m_bFileOpen = 0;
}
