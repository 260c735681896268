#pragma once

// The thread that encodes and writes a recording's pictures, so that capturing the next picture
// never waits for encoding the last one. The capturing thread hands it work through a small
// queue, in stream order: a picture in one of kSlots reused frame buffers (the buffers belong to
// the sink; only their numbers pass), a run of empty positions, or a call that must see every job
// before it done (finishing or opening a file). Each job is carried out by the sink, on this thread.
//
// Threads: the capturing thread calls AcquireSlot, QueuePicture, QueueEmpty and Call; the owner's
// thread calls Start before the capturing thread starts and Stop after it ended, so m_hThread
// needs no lock. The job ring, the slot flags, the call counters and m_bQuit are
// guarded by m_lock (waits on m_changed). The sink's work runs on this thread only, except inside
// Call while the thread is not running: then it runs on the caller's thread.

#include "framework/ThreadClass.h"

#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>

class CEncoderThread : public CThreadClass {
public:
    // Three buffers: one being composed, one being encoded, one waiting; a fourth would only hide
    // an encoder that is too slow for the tick behind a longer delay.
    static constexpr int kSlots = 3;

    // What each job does; implemented by the owner of the frame buffers.
    class Sink {
    public:
        virtual void WritePicture(int slot) = 0;
        virtual void WriteEmpty() = 0;

    protected:
        ~Sink() = default;
    };

    explicit CEncoderThread(Sink& sink) : m_sink(sink) {}
    ~CEncoderThread() override;

    // Starts the thread (COM and the AVI library initialised on it).
    void Start();
    // Carries out every queued job, then ends the thread and waits for it. At once when not running.
    void Stop();
    [[nodiscard]] bool IsRunning() const { return static_cast<bool>(m_hThread); }

    // A free frame buffer for the next picture, marked busy; -1 while the encoder still holds all.
    [[nodiscard]] int AcquireSlot();
    // Queues the picture composed into an acquired slot; the slot is free again once it is written.
    void QueuePicture(int slot);
    // Queues one empty position.
    void QueueEmpty();
    // Runs fn on the encoder thread after every job queued before it, and returns when it is done.
    void Call(const std::function<void()>& fn);
    // Pictures queued and not yet written (for checks and the benchmark).
    [[nodiscard]] int PicturesPending();

    int Run() override;

private:
    enum class Kind { kPicture, kEmpty, kCall };
    struct Job {
        Kind kind = Kind::kEmpty;
        int nSlotOrCount = 0;                          // the slot of a picture, the length of an empty run
        const std::function<void()>* pCall = nullptr;  // lives in the waiting caller's frame
    };
    // Pictures (kSlots), runs of empties between them (merged) and one call: never more than this.
    static constexpr int kMaxJobs = 2 * kSlots + 4;

    void Push(const Job& job);  // under m_lock
    void Execute(const Job& job);

    Sink& m_sink;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::array<Job, kMaxJobs> m_jobs{};
    int m_nFirst = 0;
    int m_nJobs = 0;
    std::array<bool, kSlots> m_busy{};
    unsigned long long m_nCallsQueued = 0;
    unsigned long long m_nCallsDone = 0;
    bool m_bQuit = false;
};
