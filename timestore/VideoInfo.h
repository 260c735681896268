#pragma once

// One catalogued recording. The record owns the read handle of its file: while the record exists
// the file is open with read sharing only, so no other opener can write, rename or delete it.
// Records are built by one thread and then moved into the store, whose lock guards them from then on.

#include <string>

#include "framework/Handles.h"
#include "framework/DateTime.h"

class CVideoStore;

class CVideoInfo {
public:
    CVideoInfo() = default;
    CVideoInfo(CVideoInfo&&) noexcept = default;
    CVideoInfo& operator=(CVideoInfo&&) noexcept = default;

    // Completes m_dwSize from m_hFile (outside the lock), then moves the record into its sorted
    // place in the store. The caller has filled m_hFile, m_dtStart, m_nDuration and m_llStartUtc.
    void AddToStore(CVideoStore& store) &&;

    // Closes the file and deletes it permanently under the name rebuilt from m_dtStart.
    BOOL DeleteFromDisk(const CVideoStore& store);

    // Opens a recording the way the catalogue holds it: read access, read sharing only.
    [[nodiscard]] static lumeno::UniqueFile OpenForCatalogue(const std::wstring& path);

    lumeno::UniqueFile m_hFile;
    CDateTime m_dtStart;  // as the name gives it: local time, whatever zone the machine had then
    // When it started by the machine's clock (FILETIME ticks, UTC): the catalogue's order, which a
    // change of zone or the end of daylight saving time cannot turn round.
    LONGLONG m_llStartUtc = 0;
    int m_nDuration = 0;  // seconds
    DWORD m_dwSize = 0;   // low 32 bits of the allocation size; 0 when the query failed
};

// Low 32 bits of the space an open file takes on disk (whole clusters); 0 when the query fails.
[[nodiscard]] DWORD QueryAllocationSize(HANDLE file);
