#include "timestore/VideoInfo.h"

#include <shlwapi.h>
#include <winternl.h>

#include "timestore/RecordingName.h"
#include "timestore/VideoStore.h"

DWORD QueryAllocationSize(HANDLE file)
{
    static_assert(sizeof(FILE_STANDARD_INFORMATION) == 24);
    IO_STATUS_BLOCK status{};
    FILE_STANDARD_INFORMATION info{};
    if (!NT_SUCCESS(NtQueryInformationFile(file, &status, &info, sizeof(info), FileStandardInformation)))
        return 0;
    return info.AllocationSize.LowPart;
}

lumeno::UniqueFile CVideoInfo::OpenForCatalogue(const std::wstring& path)
{
    return lumeno::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

void CVideoInfo::AddToStore(CVideoStore& store) &&
{
    m_dwSize = m_hFile ? QueryAllocationSize(m_hFile.Get()) : 0;
    store.InsertSorted(std::move(*this));
}

BOOL CVideoInfo::DeleteFromDisk(const CVideoStore& store)
{
    wchar_t path[MAX_PATH] = {};
    const bool named = PathCombineW(path, store.m_strFolder.c_str(), MakeVideoFileName(m_dtStart).c_str()) != nullptr;
    m_hFile.Reset();
    return named ? DeleteFileW(path) : FALSE;
}
