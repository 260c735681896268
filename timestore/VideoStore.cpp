#include "timestore/VideoStore.h"

#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <vector>

#include "media/RecordingRepair.h"
#include "timestore/RecordingName.h"
#include "timestore/StorageFolder.h"

namespace {

// Two recordings can start in the same second (recording switched off and on again at once). The
// later one then takes the next free second as its start, so that its name stays a recording's
// name and neither file is overwritten or catalogued twice. An hour of tries is far more than any
// burst of restarts can use up (one file per 100 ms tick at the very most).
constexpr int kMaxNameShifts = 3600;

// Name prefix of recordings kept in the program's sub-folder until they can be repaired.
constexpr const wchar_t* kKeptPrefix = L"UNREPAIRED-";

bool NameTaken(DWORD error)
{
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Moves a file to folder\prefix + the recording name of `start`, or of the next free second after
// it. The new path, or empty when the file is missing or cannot be moved.
std::wstring MoveToFreeName(const std::wstring& path, const std::wstring& folder, const std::wstring& prefix,
                            CDateTime start)
{
    wchar_t target[MAX_PATH] = {};
    for (int shift = 0; shift <= kMaxNameShifts; ++shift, start = start.AddSeconds(1)) {
        if (!start.IsValid() || !PathCombineW(target, folder.c_str(), (prefix + MakeVideoFileName(start)).c_str()))
            return {};
        if (MoveFileExW(path.c_str(), target, MOVEFILE_WRITE_THROUGH))
            return target;
        if (!NameTaken(GetLastError()))
            return {};
    }
    return {};
}

}  // namespace

std::wstring CVideoStore::MoveToRecordingName(const std::wstring& path, CDateTime start)
{
    if (!start.IsValid())
        start = GetCurrentDate();  // an unnameable start would turn the recording into an other file
    // Whatever happens after the rename, the named file must already hold every frame on disk.
    if (!start.IsValid() || !FlushToDisk(path))
        return {};
    return MoveToFreeName(path, m_strFolder, L"", start);
}

BOOL CVideoStore::CommitRecording(const std::wstring& tempPath, CDateTime start, int frames)
{
    (void)frames;  // the duration comes from the file's own stream rate, as the start-up scan reads it
    const std::wstring finalPath = MoveToRecordingName(tempPath, start);
    if (finalPath.empty())
        return FALSE;

    CVideoInfo record;
    if (!ParseRecordingName(record, PathFindFileNameW(finalPath.c_str())))
        return FALSE;
    unsigned seconds = 0;
    (void)ReadAviDuration(finalPath, seconds);
    record.m_nDuration = static_cast<int>(std::min<unsigned>(seconds, INT_MAX));
    constexpr LONGLONG kTicksPerSecond = 10000000;
    record.m_llStartUtc = m_llFileStartUtc != 0 ? m_llFileStartUtc : UtcTicksNow() - seconds * kTicksPerSecond;
    {
        // The file just finished is the newest recording, whatever the clock did meanwhile.
        std::lock_guard lock(m_cs);
        if (!m_list.empty())
            record.m_llStartUtc = std::max(record.m_llStartUtc, m_list.front().m_llStartUtc + 1);
    }
    record.m_hFile = CVideoInfo::OpenForCatalogue(finalPath);
    if (!record.m_hFile)
        return FALSE;
    const CDateTime named = record.m_dtStart;
    std::move(record).AddToStore(*this);
    // Sealed before retention runs, so the log tells of a file before it tells of its removal.
    const std::optional<SealContext> atEnd = m_sealSource ? std::optional(m_sealSource()) : std::nullopt;
    m_sealer.PostRecording(m_strFolder, finalPath, CSealer::kOriginFinished, named,
                           m_sealStart ? &*m_sealStart : nullptr, atEnd ? &*atEnd : nullptr);
    m_sealStart.reset();
    m_llFileStartUtc = 0;
    EnforceRetention();
    return TRUE;
}

void CVideoStore::NoteFileStart()
{
    m_sealStart = m_sealSource ? std::optional(m_sealSource()) : std::nullopt;
    m_llFileStartUtc = UtcTicksNow();
}

BOOL CVideoStore::RecoverOrphan(const std::wstring& tempPath, BOOL bCatalogue)
{
    FILETIME lastWrite{};
    std::wstring repaired;
    CRecordingRepair::Result result;
    const std::wstring data = ProgramDataFolder(m_strFolder);
    {
        // Opened without sharing: a file another running recorder still writes is not an orphan.
        const lumeno::UniqueFile orphan(CreateFileW(tempPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!orphan || !GetFileTime(orphan.Get(), nullptr, nullptr, &lastWrite))
            return FALSE;
        const std::wstring work = data + L"\\RECOVERING.AVI";
        if (SUCCEEDED(CRecordingRepair::Repair(orphan.Get(), work, result)))
            repaired = MoveToRecordingName(work, CRecordingRepair::EstimateStart(lastWrite, result.nPositions));
        else if (result.nWidth == 0)
            return FALSE;  // no complete picture: nothing to lose, the file stays as it is
    }
    if (!repaired.empty()) {
        m_sealer.PostRecording(m_strFolder, repaired, CSealer::kOriginRepaired,
                               ParseRecordingStart(PathFindFileNameW(repaired.c_str())), nullptr, nullptr);
        if (bCatalogue && RegisterExistingFile(*this, repaired))
            EnforceRetention();
        return DeleteFileW(tempPath.c_str());
    }
    // Pictures that could not be copied out now: keep them where nothing recycles or overwrites
    // them, for the next start to try again.
    if (tempPath.compare(0, data.size() + 1, data + L"\\") != 0)  // not kept yet
        (void)MoveToFreeName(tempPath, data, kKeptPrefix, CRecordingRepair::EstimateStart(lastWrite, 0));
    return FALSE;
}

int CVideoStore::RecoverLeftovers(const std::wstring& tempPath)
{
    const int recovered = RecoverOrphan(tempPath) ? 1 : 0;
    return recovered + RecoverKept(FALSE);
}

int CVideoStore::RecoverKept(BOOL bCatalogue)
{
    int recovered = 0;
    const std::wstring data = ProgramDataFolder(m_strFolder);
    std::vector<std::wstring> kept;
    WIN32_FIND_DATAW entry{};
    lumeno::UniqueFind finder(FindFirstFileW((data + L"\\" + kKeptPrefix + L"*.AVI").c_str(), &entry));
    if (finder) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                kept.push_back(data + L"\\" + entry.cFileName);
        } while (FindNextFileW(finder.Get(), &entry));
    }
    finder.Reset();
    for (const std::wstring& path : kept)
        recovered += RecoverOrphan(path, bCatalogue) ? 1 : 0;
    return recovered;
}

int CVideoStore::ScanFolder()
{
    std::vector<std::pair<std::wstring, ULONGLONG>> files;  // name, size
    std::set<std::wstring> named;
    WIN32_FIND_DATAW entry{};
    lumeno::UniqueFind finder(FindFirstFileW((m_strFolder + L"\\*.*").c_str(), &entry));
    if (finder) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                files.emplace_back(entry.cFileName, static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow);
                if (ParseRecordingStart(entry.cFileName).IsValid())
                    named.insert(entry.cFileName);
            }
        } while (FindNextFileW(finder.Get(), &entry));
        finder.Reset();
    }
    const std::map<std::wstring, LONGLONG> sealed = CSealer::SealedStarts(m_strFolder, named);
    std::vector<std::pair<std::wstring, ULONGLONG>> catalogued;
    for (const auto& [name, size] : files) {
        const std::wstring path = m_strFolder + L"\\" + name;
        const auto start = sealed.find(name);
        if (RegisterExistingFile(*this, path, start != sealed.end() ? start->second : 0))
            catalogued.emplace_back(name, size);
        else if (m_bCleanOtherFiles && RecycleFile(path) == 0)
            m_sealer.PostRemoval(m_strFolder, name, size, "recycled");
    }
    m_sealer.PostUnsealedCheck(m_strFolder, std::move(catalogued));
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
        LARGE_INTEGER size{};
        (void)GetFileSizeEx(it->m_hFile.Get(), &size);
        const std::wstring name = MakeVideoFileName(it->m_dtStart);
        if (it->DeleteFromDisk(*this))
            m_sealer.PostRemoval(m_strFolder, name, static_cast<ULONGLONG>(size.QuadPart), "retention");
        it = m_list.erase(it);
    }
    return 0;
}

CVideoStore::Figures CVideoStore::ReadFigures() const
{
    Figures figures;
    std::lock_guard lock(m_cs);
    figures.nCount = m_list.size();
    for (const CVideoInfo& record : m_list) {
        figures.ullBytes += record.m_dwSize;
        figures.ullSeconds += static_cast<ULONGLONG>(std::max(record.m_nDuration, 0));
    }
    return figures;
}

void CVideoStore::InsertSorted(CVideoInfo&& record)
{
    std::lock_guard lock(m_cs);
    auto it = m_list.begin();
    while (it != m_list.end() && record.m_llStartUtc <= it->m_llStartUtc)
        ++it;
    m_list.insert(it, std::move(record));
}
