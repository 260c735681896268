#pragma once

// MPEG-4 encoder state over the Xvid library (xvidcore.dll). Created on the main thread while the
// recording thread object is constructed; from then on used by the recording thread alone.

#include "media/XvidLibrary.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CXvidEncoder {
public:
    static constexpr int kXvidVersion = CXvidLibrary::kWrittenVersion;

    CXvidEncoder() = default;
    ~CXvidEncoder();
    CXvidEncoder(const CXvidEncoder&) = delete;
    CXvidEncoder& operator=(const CXvidEncoder&) = delete;

    // Allocates the output buffer (max(w, h)² bytes) and initialises the library; only when h > 0.
    void InitLibrary();
    // Creates the one encoder instance of the process; the result is kept in m_hInstance.
    void CreateInstance();
    // Encodes one bottom-up BI_RGB DIB of m_nWidth × m_nHeight, 32, 24 or 16 bits a pixel. Returns the
    // bytes written to the output buffer, negative on error (also for any other depth); m_bKeyFrame
    // tells whether the frame is a key frame.
    int EncodeFrame(int bitCount, const void* bits);
    // The next EncodeFrame produces a key frame (each file must start decodable).
    void RequestKeyFrame() { m_bForceKeyFrame = true; }

    [[nodiscard]] const std::uint8_t* Output() const { return m_pOutput.get(); }
    [[nodiscard]] std::size_t OutputSize() const { return m_cbOutput; }

    // DIB row size in bytes: rows are padded to 4 bytes.
    static int DibStride(int width, int bitCount) { return ((width * bitCount + 31) >> 3) & ~3; }

    void* m_hInstance = nullptr;
    std::unique_ptr<std::uint8_t[]> m_pOutput;
    int m_bKeyFrame = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;

private:
    std::size_t m_cbOutput = 0;
    bool m_bForceKeyFrame = false;
};
