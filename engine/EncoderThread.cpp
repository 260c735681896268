#include "engine/EncoderThread.h"

#include <vfw.h>

CEncoderThread::~CEncoderThread()
{
    // The thread calls into the sink and this object: it must have ended before either goes.
    Stop();
}

void CEncoderThread::Start()
{
    if (m_hThread)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_bQuit = false;
    }
    m_bInitCom = 1;
    m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, this, 0, nullptr));
}

void CEncoderThread::Stop()
{
    if (!m_hThread)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_bQuit = true;
    }
    m_changed.notify_all();
    WaitForSingleObject(m_hThread.Get(), INFINITE);
    m_hThread.Reset();
}

int CEncoderThread::AcquireSlot()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    for (int slot = 0; slot < kSlots; ++slot)
        if (!m_busy[slot]) {
            m_busy[slot] = true;
            return slot;
        }
    return -1;
}

void CEncoderThread::Push(const Job& job)
{
    m_jobs[(m_nFirst + m_nJobs) % kMaxJobs] = job;
    ++m_nJobs;
}

void CEncoderThread::QueuePicture(int slot)
{
    if (!IsRunning()) {
        // Without the thread the work is done at once, in order, as the single-threaded loop did.
        m_sink.WritePicture(slot);
        const std::lock_guard<std::mutex> lock(m_lock);
        m_busy[slot] = false;
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        Push({Kind::kPicture, slot, nullptr});
    }
    m_changed.notify_all();
}

void CEncoderThread::QueueEmpty()
{
    if (!IsRunning()) {
        m_sink.WriteEmpty();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        // A run of empty positions takes one job, so a stalled encoder cannot overflow the ring.
        Job& last = m_jobs[(m_nFirst + m_nJobs + kMaxJobs - 1) % kMaxJobs];
        if (m_nJobs > 1 && last.kind == Kind::kEmpty)  // not the front job: that one may be running
            ++last.nSlotOrCount;
        else
            Push({Kind::kEmpty, 1, nullptr});
    }
    m_changed.notify_all();
}

void CEncoderThread::Call(const std::function<void()>& fn)
{
    if (!IsRunning()) {
        fn();
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    Push({Kind::kCall, 0, &fn});
    const unsigned long long ticket = ++m_nCallsQueued;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_nCallsDone >= ticket; });
}

int CEncoderThread::PicturesPending()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    int pending = 0;
    for (int i = 0; i < m_nJobs; ++i)
        pending += m_jobs[(m_nFirst + i) % kMaxJobs].kind == Kind::kPicture ? 1 : 0;
    return pending;
}

void CEncoderThread::Execute(const Job& job)
{
    try {
        switch (job.kind) {
            case Kind::kPicture:
                m_sink.WritePicture(job.nSlotOrCount);
                break;
            case Kind::kEmpty:
                for (int n = 0; n < job.nSlotOrCount; ++n)
                    m_sink.WriteEmpty();
                break;
            case Kind::kCall:
                (*job.pCall)();
                break;
        }
    } catch (...) {
        // The job is lost, not the thread: a waiting caller must still be released.
    }
}

int CEncoderThread::Run()
{
    AVIFileInit();
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [&] { return m_nJobs > 0 || m_bQuit; });
            if (m_nJobs == 0)
                break;  // quit, and every queued job is done
            job = m_jobs[m_nFirst];
        }
        // The job stays at the front while it runs, so an empty run is never extended under it.
        Execute(job);
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_nFirst = (m_nFirst + 1) % kMaxJobs;
            --m_nJobs;
            if (job.kind == Kind::kPicture)
                m_busy[job.nSlotOrCount] = false;
            else if (job.kind == Kind::kCall)
                ++m_nCallsDone;
        }
        m_changed.notify_all();
    }
    AVIFileExit();
    return 0;
}
