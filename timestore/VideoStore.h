#pragma once

// The catalogue of finished recordings in the storage folder, newest first, and the rules that
// fill and prune it.
//
// Threads: the configuration (m_strFolder, m_nRetainMinutes, m_bCleanOtherFiles) is written on the
// main thread before the recording thread exists and only read afterwards. m_list and the records in
// it are guarded by m_cs, the store's only lock: the main thread takes it for the start-up scan's
// insertions and for the panel figures, the recording thread for CommitRecording's insertion and
// every retention pass. m_cs is never held while another lock is taken and is never re-entered.

#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "framework/DateTime.h"
#include "timestore/Sealer.h"
#include "timestore/VideoInfo.h"

class CVideoStore {
public:
    // What the storage panel shows, read in one pass under the lock.
    struct Figures {
        std::size_t nCount = 0;
        ULONGLONG ullBytes = 0;
        ULONGLONG ullSeconds = 0;  // summed durations
    };

    CVideoStore() = default;
    CVideoStore(const CVideoStore&) = delete;
    CVideoStore& operator=(const CVideoStore&) = delete;

    // Gives a finished temporary recording its final name, catalogues it and runs one retention
    // pass. FALSE when the file could not be renamed or opened; then nothing is catalogued.
    // The duration is read from the file, so the calling thread must have called AVIFileInit.
    BOOL CommitRecording(const std::wstring& tempPath, CDateTime start, int frames);

    // Gives a complete recording file (anywhere on the storage folder's volume) the recording name
    // of `start` in the storage folder, or of the next free second after it; its data is flushed to
    // the disk first. The final path, or empty when the file could not be flushed or moved.
    std::wstring MoveToRecordingName(const std::wstring& path, CDateTime start);

    // A "RECORDING.AVI" left behind by a crash, a kill or a power cut: its complete frames are
    // copied into an indexed file that gets its true start time's name (the start-up scan then
    // catalogues it like any recording) and the orphan goes. Must run before the scan and before
    // recording starts. A file without a complete picture is left as it is; one that holds pictures
    // but cannot be repaired here is moved into the program's sub-folder, never overwritten.
    // TRUE when a recording was recovered; with bCatalogue it is catalogued at once (after the
    // start-up scan), else the scan finds it. The calling thread must have called AVIFileInit.
    BOOL RecoverOrphan(const std::wstring& tempPath, BOOL bCatalogue = FALSE);

    // Every file kept earlier because it could not be repaired then (the disk was full, say).
    // The number of recordings recovered.
    int RecoverKept(BOOL bCatalogue);

    // At start, before the scan: the orphan at tempPath, then every kept file.
    int RecoverLeftovers(const std::wstring& tempPath);

    // The start-up scan: catalogues the recordings in m_strFolder in the order the seal log knows
    // them in, recycles other files when m_bCleanOtherFiles is set, has the recordings the log does
    // not know noted in it, then one retention pass. Never looks into sub-folders.
    int ScanFolder();

    // Walking from the newest (by when they started, not by their names), keeps recordings while
    // their summed durations stay within the retention time; deletes the one that crosses it and
    // everything older.
    int EnforceRetention();

    [[nodiscard]] Figures ReadFigures() const;

    // Sorted insertion under the lock (CVideoInfo::AddToStore measures the file first).
    void InsertSorted(CVideoInfo&& record);

    // Calls visit(const CVideoInfo&) for every record, newest first, under the lock.
    template <typename Visitor>
    void ForEachRecord(Visitor&& visit) const
    {
        std::lock_guard lock(m_cs);
        for (const CVideoInfo& record : m_list)
            visit(record);
    }

    // The recording thread calls this when it starts a file: the seal of that file reports the
    // clocks and network time of this moment.
    void NoteFileStart();

    std::wstring m_strFolder;
    int m_nRetainMinutes = 0;
    int m_bCleanOtherFiles = 0;
    std::list<CVideoInfo> m_list;
    mutable std::mutex m_cs;

    // Where seals take the network time state and overlay texts from; none in a bare store.
    std::function<SealContext()> m_sealSource;
    CSealer m_sealer;

private:
    // Recording thread: the moment the open file started (seal context, machine clock).
    std::optional<SealContext> m_sealStart;
    LONGLONG m_llFileStartUtc = 0;
};
