// Measures the encoder and AVI writer on 1920×1080 desktop-like frames with the program's settings
// and prints the cost per frame. A measurement, not a test.

#include "engine/VideoFileWriter.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    constexpr int w = 1920, h = 1080;
    AVIFileInit();
    {
        testsupport::TempFolder folder(L"bench");
        std::vector<std::vector<std::uint8_t>> pictures;
        for (int i = 0; i < 20; ++i)
            pictures.push_back(testsupport::DesktopLikeFrame(w, h, i));

        CVideoFileWriter writer;
        writer.CreateEncoder(w, h);
        writer.m_strTempPath = folder.File(L"RECORDING.AVI");
        if (FAILED(writer.OpenVideoFile())) {
            std::printf("cannot create the AVI file\n");
            return 1;
        }
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        double encodeMs = 0, writeMs = 0;
        unsigned long long bytes = 0;
        int keys = 0;
        for (int i = 0; i < frames; ++i) {
            const auto& bits = pictures[static_cast<std::size_t>(i) % pictures.size()];
            QueryPerformanceCounter(&t0);
            const int size = writer.m_encoder.EncodeFrame(32, bits.data());
            QueryPerformanceCounter(&t1);
            encodeMs += 1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart;
            bytes += size > 0 ? size : 0;
            keys += writer.m_encoder.m_bKeyFrame;
            QueryPerformanceCounter(&t0);
            AVIStreamWrite(writer.m_pAviStream.Get(), writer.m_nFrameCount++, 1, writer.m_encoder.m_pOutput.get(),
                           size, writer.m_encoder.m_bKeyFrame ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
            QueryPerformanceCounter(&t1);
            writeMs += 1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart;
        }
        writer.ReleaseVideoFile();
        std::printf("frames: %d at %dx%d, 32-bit BGRA, cpu_flags 0x80000080 (no SIMD)\n", frames, w, h);
        std::printf("encode: %.2f ms/frame\n", encodeMs / frames);
        std::printf("write:  %.3f ms/frame\n", writeMs / frames);
        std::printf("size:   %.0f bytes/frame (%.1f MB per 600-frame minute), %d key frames\n",
                    static_cast<double>(bytes) / frames, static_cast<double>(bytes) / frames * 600 / 1e6, keys);
    }
    AVIFileExit();
    return 0;
}
