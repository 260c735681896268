// Measures the encoder and AVI writer on 1920×1080 desktop-like frames with the program's settings,
// fed as the recording thread feeds them (three reused frame buffers, encoded and written on the
// encoder thread), and prints the cost per frame. The frames are the same on every run, so a kept
// file (second argument) can be compared byte for byte with one from another build. A measurement,
// not a test.

#include "engine/EncoderThread.h"
#include "media/VideoFileWriter.h"
#include "support/TestSupport.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// Encodes and writes the picture of a buffer, as the recording thread's encoder thread does.
class WriterSink : public CEncoderThread::Sink {
public:
    explicit WriterSink(CVideoFileWriter& writer, std::size_t frameBytes) : m_writer(writer)
    {
        for (auto& buffer : m_buffers)
            buffer.resize(frameBytes);
        QueryPerformanceFrequency(&m_freq);
    }
    void WritePicture(int slot) override
    {
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        const int size = m_writer.m_encoder.EncodeFrame(32, m_buffers[static_cast<std::size_t>(slot)].data());
        QueryPerformanceCounter(&t1);
        (void)(size < 0 ? m_writer.WriteDroppedFrame() : m_writer.AppendEncodedFrame(size));
        QueryPerformanceCounter(&t2);
        m_encodeMs += 1000.0 * (t1.QuadPart - t0.QuadPart) / m_freq.QuadPart;
        m_writeMs += 1000.0 * (t2.QuadPart - t1.QuadPart) / m_freq.QuadPart;
        m_bytes += size > 0 ? static_cast<unsigned long long>(size) : 0;
        m_keys += m_writer.m_encoder.m_bKeyFrame;
    }
    void WriteEmpty() override { (void)m_writer.WriteDroppedFrame(); }

    CVideoFileWriter& m_writer;
    std::array<std::vector<std::uint8_t>, CEncoderThread::kSlots> m_buffers;
    LARGE_INTEGER m_freq{};
    double m_encodeMs = 0, m_writeMs = 0;
    unsigned long long m_bytes = 0;
    int m_keys = 0;
};
}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::wstring keep = argc > 2 ? testsupport::Widen(argv[2]) : L"";
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
        WriterSink sink(writer, pictures[0].size());
        CEncoderThread encoder(sink);
        encoder.Start();
        HRESULT opened = E_FAIL;
        encoder.Call([&] { opened = writer.OpenVideoFile(); });
        if (FAILED(opened)) {
            std::printf("cannot create the AVI file\n");
            return 1;
        }
        const ULONGLONG t0 = GetTickCount64();
        for (int i = 0; i < frames; ++i) {
            int slot = encoder.AcquireSlot();
            if (slot < 0) {
                encoder.Call([] {});  // every frame is written here: wait for the encoder
                slot = encoder.AcquireSlot();
            }
            const auto& bits = pictures[static_cast<std::size_t>(i) % pictures.size()];
            std::memcpy(sink.m_buffers[static_cast<std::size_t>(slot)].data(), bits.data(), bits.size());
            encoder.QueuePicture(slot);
        }
        encoder.Call([&] { writer.ReleaseVideoFile(); });
        const double wallMs = static_cast<double>(GetTickCount64() - t0);
        encoder.Stop();
        if (!keep.empty())
            (void)CopyFileW(writer.m_strTempPath.c_str(), keep.c_str(), FALSE);
        std::printf("frames: %d at %dx%d, 32-bit BGRA, cpu_flags 0x80000080 (no SIMD)\n", frames, w, h);
        std::printf("encode: %.2f ms/frame\n", sink.m_encodeMs / frames);
        std::printf("write:  %.3f ms/frame\n", sink.m_writeMs / frames);
        std::printf("wall:   %.2f ms/frame with the hand-over\n", wallMs / frames);
        std::printf("size:   %.0f bytes/frame (%.1f MB per 600-frame minute), %d key frames\n",
                    static_cast<double>(sink.m_bytes) / frames, static_cast<double>(sink.m_bytes) / frames * 600 / 1e6,
                    sink.m_keys);
    }
    AVIFileExit();
    return 0;
}
