#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "engine/EncoderThread.h"
#include "framework/Handles.h"
#include "support/TestSupport.h"

namespace {

// Logs each job as it is done ('0'..'2' a picture's slot, '.' an empty position, '|' a call) and
// the thread it ran on; a closed gate holds every picture, as an encoder far behind the tick would.
struct LoggingSink : CEncoderThread::Sink {
    void WritePicture(int slot) override { WaitForSingleObject(m_gate.Get(), INFINITE), Append('0' + slot); }
    void WriteEmpty() override { Append('.'); }
    void Append(int c)
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_log += static_cast<char>(c), m_threads += GetCurrentThreadId() == m_testThread ? 't' : 'e';
    }
    std::string Log()
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        return m_log + " " + m_threads;
    }
    void Hold(bool hold) { hold ? ResetEvent(m_gate.Get()) : SetEvent(m_gate.Get()); }
    lumeno::UniqueHandle m_gate{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    const DWORD m_testThread = GetCurrentThreadId();
    std::mutex m_lock;
    std::string m_log, m_threads;
};

}  // namespace

// Without its thread the work is done at once on the caller's thread; with it, a held encoder keeps
// every buffer, later positions queue as empties, and a call waits for all of it, in stream order.
TEST(EncoderThread, HeldEncoderRunsOutOfBuffersAndACallSeesEveryJobBeforeItInOrder)
{
    LoggingSink sink;
    CEncoderThread encoder(sink);
    const int inline0 = encoder.AcquireSlot();
    encoder.QueuePicture(inline0);
    encoder.QueueEmpty();
    encoder.Call([&] { sink.Append('|'); });
    EXPECT_EQ(sink.Log(), "0.| ttt");
    EXPECT_EQ(encoder.AcquireSlot(), 0) << "a picture written inline frees its buffer";

    encoder.Start();
    sink.Hold(true);
    encoder.QueuePicture(0);
    const auto acquire = [&](int n) {
        std::string slots;
        while (n-- > 0)
            slots += std::to_string(encoder.AcquireSlot());
        return slots;
    };
    EXPECT_EQ(acquire(3), "12-1") << "three buffers, one of them taken by the held encoder";
    for (const int slot : {2, -1, 1, -1, -1})  // -1: no buffer, the position stays empty
        slot >= 0 ? encoder.QueuePicture(slot) : encoder.QueueEmpty();
    EXPECT_EQ(encoder.PicturesPending(), 3);
    EXPECT_EQ(sink.Log(), "0.| ttt") << "nothing was written past the held picture";
    sink.Hold(false);
    encoder.Call([&] { sink.Append('|'); });
    EXPECT_EQ(sink.Log(), "0.|02.1..| ttteeeeeee");
    EXPECT_EQ(encoder.PicturesPending(), 0);
    EXPECT_EQ(acquire(4), "012-1") << "every written picture gave its buffer back";
    encoder.Stop();
    EXPECT_FALSE(encoder.IsRunning());
}
