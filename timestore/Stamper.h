#pragma once

// Anchors the seal chain in time: has the newest record's hash stamped by a time-stamp authority
// and hands the checked token back as a "stamp" record for the log. Stamps follow a recording's
// record at most once per interval; StampSoon (recording stopped, program ending) asks for one
// now, once, with a short time limit. A failed attempt tries the next address, then waits with a
// growing back-off; nothing here ever waits for the recording or makes it wait.
//
// Threads: NoteHead, StampSoon, WaitStamped and the figures may be called from any thread;
// m_head, m_nLastRecordingSeq, m_nStampedSeq, the schedule, m_bUrgent, m_bBusy and m_bStop are
// guarded by m_lock, which is never held while calling out (the exchange, the delivery). The
// settings are written by Configure before the first NoteHead and only read afterwards. The
// stamping thread starts with the first record worth stamping.

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "timestore/SealRecord.h"
#include "timestore/TrustRoots.h"

struct StampSettings {
    std::vector<std::wstring> urls;  // tried in this order; none: stamping is off
    int nIntervalMinutes = 10;
    std::vector<std::wstring> rootFiles;  // roots trusted besides the system's
};

class CStamper {
public:
    struct Timing {
        DWORD dwTimeoutMs = 45000;       // one exchange, normally
        DWORD dwFinalTimeoutMs = 3000;   // one exchange when the recording stops or the program ends
        DWORD dwFirstRetryMs = 15000;    // back-off after every address failed, doubling
        DWORD dwMaxRetryMs = 120000;
        ULONGLONG ullStaleMs = 3600000;  // failing this long: the tray's tip says so
    };
    // Hands a checked stamp record over to be appended to the log of `folder`.
    using Deliver = std::function<void(const std::wstring& folder, CSealRecord record)>;

    explicit CStamper(Deliver deliver) : m_deliver(std::move(deliver)) {}
    CStamper(const CStamper&) = delete;
    CStamper& operator=(const CStamper&) = delete;
    ~CStamper() { Stop(); }

    void Configure(const StampSettings& settings, const Timing& timing);
    [[nodiscard]] bool IsConfigured() const { return !m_settings.urls.empty(); }
    // Gives up any exchange under way and ends the thread.
    void Stop();

    // The newest record of a folder's log; bRecording when it is a recording's record.
    void NoteHead(const std::wstring& folder, long long seq, const std::string& hash, bool bRecording);
    // One stamp of the head now, whatever the interval; false when there is nothing to stamp.
    void StampSoon();
    // Waits until no stamp asked for by StampSoon is outstanding; false on time-out.
    [[nodiscard]] bool WaitStamped(DWORD timeoutMs);

    // Tick of the first failed attempt since the last token; 0 while nothing fails.
    [[nodiscard]] ULONGLONG FailingSince() const { return m_ullFailingSince; }
    [[nodiscard]] long long Tokens() const { return m_nTokens; }
    // Configured, and no token could be had for the stale time up to `now` (GetTickCount64).
    [[nodiscard]] bool IsStale(ULONGLONG now) const
    {
        const ULONGLONG since = m_ullFailingSince;
        return IsConfigured() && since != 0 && now - since >= m_timing.ullStaleMs;
    }

private:
    struct Head {
        std::wstring strFolder;
        long long nSeq = 0;
        std::string strHash;
    };

    void Work();
    // Every address in turn; the stamp record, or an empty one when none gave a good token.
    CSealRecord Attempt(const Head& head, bool bFinal);

    Deliver m_deliver;
    StampSettings m_settings;
    Timing m_timing;
    CTrustRoots m_roots;

    std::mutex m_lock;
    std::condition_variable m_wake, m_idle;
    Head m_head;
    long long m_nLastRecordingSeq = 0, m_nStampedSeq = 0;
    ULONGLONG m_ullLastStamp = 0, m_ullNextTry = 0;
    DWORD m_dwRetryMs = 0;
    bool m_bUrgent = false, m_bBusy = false, m_bStop = false;
    std::atomic<bool> m_bAbandon{false};  // the ordinary exchange under way is to be given up
    std::atomic<bool> m_bStopping{false};  // any exchange under way is to be given up
    std::atomic<ULONGLONG> m_ullFailingSince{0};
    std::atomic<long long> m_nTokens{0};
    std::thread m_thread;
};
