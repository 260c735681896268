#include "timestore/VideoStore.h"

#include <shlwapi.h>

#include <algorithm>
#include <climits>

#include "timestore/RecordingName.h"
#include "timestore/StorageFolder.h"

namespace {

// Two recordings can start in the same second (recording switched off and on again at once). The
// later one then takes the next free second as its start, so that its name stays a recording's
// name and neither file is overwritten or catalogued twice. An hour of tries is far more than any
// burst of restarts can use up (one file per 100 ms tick at the very most).
constexpr int kMaxNameShifts = 3600;

bool NameTaken(DWORD error)
{
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

}  // namespace

BOOL CVideoStore::CommitRecording(const std::wstring& tempPath, CDateTime start, int frames)
{
    (void)frames;  // the duration comes from the file's own stream rate, as the start-up scan reads it
    if (!start.IsValid())
        start = GetCurrentDate();  // an unnameable start would turn the recording into an other file
    if (!start.IsValid())
        return FALSE;

    wchar_t finalPath[MAX_PATH] = {};
    bool moved = false;
    for (int shift = 0; shift <= kMaxNameShifts && !moved; ++shift) {
        if (shift > 0)
            start = start.AddSeconds(1);
        if (!start.IsValid() || !PathCombineW(finalPath, m_strFolder.c_str(), MakeVideoFileName(start).c_str()))
            return FALSE;
        moved = MoveFileW(tempPath.c_str(), finalPath) != FALSE;
        if (!moved && !NameTaken(GetLastError()))
            return FALSE;  // the temporary file is missing or cannot be moved: nothing to catalogue
    }
    if (!moved)
        return FALSE;

    CVideoInfo record;
    record.m_dtStart = start;
    record.m_nDuration = static_cast<int>(std::min<unsigned>(ReadAviDuration(finalPath), INT_MAX));
    record.m_hFile = CVideoInfo::OpenForCatalogue(finalPath);
    if (!record.m_hFile)
        return FALSE;
    std::move(record).AddToStore(*this);
    EnforceRetention();
    return TRUE;
}

int CVideoStore::ScanFolder()
{
    WIN32_FIND_DATAW entry{};
    lumeno::UniqueFind finder(FindFirstFileW((m_strFolder + L"\\*.*").c_str(), &entry));
    if (finder) {
        bool more = true;
        while (more) {
            const WIN32_FIND_DATAW current = entry;
            more = FindNextFileW(finder.Get(), &entry) != FALSE;
            if (current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            const std::wstring path = m_strFolder + L"\\" + current.cFileName;
            if (!RegisterExistingFile(*this, path) && m_bCleanOtherFiles)
                (void)RecycleFile(path);
        }
        finder.Reset();
    }
    EnforceRetention();
    return 0;
}

int CVideoStore::EnforceRetention()
{
    std::lock_guard lock(m_cs);
    // A negative retention becomes a huge unsigned limit: nothing is ever deleted.
    const DWORD limit = static_cast<DWORD>(m_nRetainMinutes) * 60u;
    DWORD sum = 0;
    bool expired = false;
    for (auto it = m_list.begin(); it != m_list.end();) {
        if (!expired) {
            sum += static_cast<DWORD>(it->m_nDuration);
            if (sum <= limit) {
                ++it;
                continue;
            }
            expired = true;
        }
        // A failed delete leaves the file on disk, uncounted, until a later start finds it again.
        (void)it->DeleteFromDisk(*this);
        it = m_list.erase(it);
    }
    return 0;
}

CVideoStore::Figures CVideoStore::ReadFigures() const
{
    Figures figures;
    std::lock_guard lock(m_cs);
    figures.nCount = m_list.size();
    for (const CVideoInfo& record : m_list)
        figures.ullBytes += record.m_dwSize;
    return figures;
}

void CVideoStore::InsertSorted(CVideoInfo&& record)
{
    std::lock_guard lock(m_cs);
    auto it = m_list.begin();
    while (it != m_list.end() && !IsLaterThan(record.m_dtStart, it->m_dtStart))
        ++it;
    m_list.insert(it, std::move(record));
}
