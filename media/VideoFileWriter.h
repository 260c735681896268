#pragma once

// The AVI file being recorded and the encoder that fills it. Owned by the recording thread object;
// everything here runs on the recording thread except the encoder set-up in its constructor.

#include "media/XvidEncoder.h"
#include "framework/Handles.h"

#include <windows.h>
#include <vfw.h>

#include <string>

using AviFileRef = lumeno::ComRef<IAVIFile, AVIFileRelease>;
using AviStreamRef = lumeno::ComRef<IAVIStream, AVIStreamRelease>;

class CVideoFileWriter {
public:
    static constexpr int kFramesPerSecond = 10;
    static constexpr const wchar_t* kStreamName = L"Lumeno Video Stream";

    CVideoFileWriter() = default;
    CVideoFileWriter(const CVideoFileWriter&) = delete;
    CVideoFileWriter& operator=(const CVideoFileWriter&) = delete;

    // Creates or truncates an AVI file at `path` with the program's stream description and format
    // for frames of width × height; on failure nothing stays open.
    static HRESULT CreateRecordingFile(const std::wstring& path, int width, int height, AviFileRef& file,
                                       AviStreamRef& stream);

    // Sets the frame size and creates the encoder (library initialised only for a real size).
    void CreateEncoder(int width, int height);

    // Creates or truncates m_strTempPath with the program's stream description and format.
    // On failure nothing stays open and m_bFileOpen stays 0.
    HRESULT OpenVideoFile();
    // Encodes a bottom-up DIB and appends it at position m_nFrameCount. An encoding error writes
    // an empty chunk instead (players repeat the previous frame), so the timeline stays right.
    HRESULT WriteFrame(int bitCount, const void* bits);
    // Appends the encoder's last output of `size` bytes, flagged as a key frame when it is one.
    HRESULT AppendEncodedFrame(int size);
    // Appends an empty, non-key chunk: a position whose tick produced no picture.
    HRESULT WriteDroppedFrame();
    // Releases the stream and then the file; the file on disk is then complete.
    void ReleaseVideoFile();

    CXvidEncoder m_encoder;
    AviFileRef m_pAviFile;
    AviStreamRef m_pAviStream;
    int m_bFileOpen = 0;
    int m_nFrameCount = 0;
    ULONGLONG m_ullChunkBytes = 0;  // bytes the open file's chunks take, headers and padding included
    std::wstring m_strTempPath;

private:
    HRESULT AppendChunk(const void* data, LONG size, DWORD flags);
};
