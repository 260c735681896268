#pragma once

// Seals recordings on a thread of its own: the store hands over what it knows when it accepts or
// removes a file (cheap: no file is read), and this thread hashes the file, counts its positions
// and appends the record to the seal log, so that hashing tens of megabytes never holds up the
// next tick of the recording thread. Records are written in the order they were handed over.
//
// The hashing is paced (a pause after every quarter megabyte) so that on a machine with few cores it takes a
// share of one core and never the recording thread's; whoever waits for the seals (WaitIdle, the
// destructor) lifts the pacing through m_bHurry.
//
// A record that cannot be written (a full disk) is kept and tried again every few seconds, before
// the next one, and once more before the thread ends. What is still not written then is not lost
// silently: the start-up scan hands the catalogued recordings over (PostUnsealedCheck), and each one
// the log does not know gets an "unsealed" record saying so.
//
// Every record written is shown to the stamper (m_stamper), which has the chain's head stamped by a
// time-stamp authority now and then and hands the stamp back as a record of its own.
//
// Threads: Post, RequestStamp, WaitIdle and WaitStamped may be called from any thread; m_queue, m_bBusy and m_bStop are
// guarded by m_lock; m_bHurry is an atomic. m_log and everything a job touches belong to the sealing thread, which
// starts with the first job and, at destruction, seals every job still queued before it ends.

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "framework/DateTime.h"
#include "timestore/SealContext.h"
#include "timestore/SealLog.h"
#include "timestore/SealRecord.h"
#include "timestore/Stamper.h"

class CSealer {
public:
    static constexpr const char* kOriginFinished = "finished";
    static constexpr const char* kOriginRepaired = "repaired";
    // About 1.5 ms of hashing per quarter megabyte, then this pause: a 60-second 1080p file (80 MB)
    // is sealed within a few seconds of its hand-over, at a fraction of one core in short bursts.
    static constexpr DWORD kPauseAfterReadMs = 5;
    // How often records a full disk held back are tried again while nothing new comes.
    static constexpr DWORD kRetryMs = 2000;

    CSealer() = default;
    CSealer(const CSealer&) = delete;
    CSealer& operator=(const CSealer&) = delete;
    // Seals what is still queued, then ends the thread.
    ~CSealer();

    // A recording the catalogue accepted: `path` is its final path in `folder`. The contexts of its
    // start and end are optional (a repaired file has none), and so is the encoder's path.
    void PostRecording(const std::wstring& folder, const std::wstring& path, const char* origin, CDateTime start,
                       const SealContext* atStart, const SealContext* atEnd, const SealEncoder& encoder = {});
    // A file that went: its name, its size, and why ("retention", "recycled").
    void PostRemoval(const std::wstring& folder, const std::wstring& name, ULONGLONG size, const char* reason);
    // The recordings the start-up scan found (name, size): each one whose last word in the log is
    // neither its seal nor an earlier such notice gets a "unsealed" record, once every seal handed
    // over before has been written or tried.
    void PostUnsealedCheck(const std::wstring& folder, std::vector<std::pair<std::wstring, ULONGLONG>> recordings);

    // When each of the named recordings started by the machine's clock (FILETIME ticks, UTC) as the
    // folder's log last seals it: the true order of recordings whatever zone their names were given in.
    [[nodiscard]] static std::map<std::wstring, LONGLONG> SealedStarts(const std::wstring& folder,
                                                                       const std::set<std::wstring>& names);

    // Stamping of the chain's head; off until configured. Call before the first record is posted.
    void ConfigureStamping(const StampSettings& settings, const CStamper::Timing& timing = {});
    // Once every record handed over so far is in the log: one stamp of it now, with a short time
    // limit (a recording stopped, the program ending).
    void RequestStamp();
    // Waits until the stamp asked for is had or given up; false on time-out.
    [[nodiscard]] bool WaitStamped(DWORD timeoutMs) { return m_stamper.WaitStamped(timeoutMs); }
    [[nodiscard]] const CStamper& Stamper() const { return m_stamper; }

    // Waits until every record handed over so far is in the log; false on time-out.
    [[nodiscard]] bool WaitIdle(DWORD timeoutMs);

    // The log of a storage folder: <folder>\LumenoData\seals.log.
    [[nodiscard]] static std::wstring LogPath(const std::wstring& folder);

private:
    // The value of a record line's name field without parsing the line; empty when it has none.
    [[nodiscard]] static std::string_view NameField(std::string_view line);
    struct Job {
        std::wstring strFolder;
        std::wstring strHashPath;  // the recording to measure; empty for a removal
        CSealRecord record;
        std::vector<std::pair<std::wstring, ULONGLONG>> check;  // for PostUnsealedCheck; no record then
        bool bStampSoon = false;  // no record: the stamper's request for a stamp now
    };

    void Post(Job job);
    void Work();
    void Seal(Job& job);
    // Writes the records kept back, oldest first, as far as the log can be written.
    void WriteUnwritten();
    void CheckUnsealed(const Job& job);
    // Opens the folder's log when it is not the one open; a cut last line is continued.
    bool OpenLog(const std::wstring& folder);
    // Writes a record again whose line a power cut left unfinished, when it still holds the name of
    // a file that is there (a recording) or gone (a removal).
    void RestoreCut(const std::wstring& folder, const std::string& fragment);
    // Size, SHA-256, positions, pictures, dropped positions and picture size of the file.
    bool Measure(const std::wstring& path, CSealRecord& record);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_bBusy = false;
    bool m_bStop = false;
    std::atomic<bool> m_bHurry{false};
    std::thread m_thread;

    CSealLog m_log;
    std::deque<Job> m_unwritten;  // measured, not yet in the log, oldest first
    // Last: it hands records to Post, so it must go before everything Post uses.
    CStamper m_stamper{[this](const std::wstring& folder, CSealRecord record) {
        Post({folder, {}, std::move(record), {}, false});
    }};
};
