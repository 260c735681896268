#include "timestore/StorageFolder.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <climits>

#include "media/AviFileReader.h"
#include "timestore/RecordingName.h"
#include "timestore/VideoInfo.h"
#include "timestore/VideoStore.h"

bool ReadAviDuration(const std::wstring& path, unsigned& seconds)
{
    seconds = 0;
    AviFileFigures figures;
    if (FAILED(ReadAviFileFigures(path, figures)) || figures.dwScale == 0)
        return false;
    const DWORD framesPerSecond = figures.dwRate / figures.dwScale;
    if (framesPerSecond == 0)
        return false;
    seconds = figures.dwLength / framesPerSecond;
    return true;
}

BOOL RegisterExistingFile(CVideoStore& store, const std::wstring& path, LONGLONG startUtc)
{
    CVideoInfo record;
    unsigned seconds = 0;
    if (!ParseRecordingName(record, PathFindFileNameW(path.c_str())) || !ReadAviDuration(path, seconds))
        return FALSE;
    record.m_nDuration = static_cast<int>(std::min<unsigned>(seconds, INT_MAX));
    record.m_llStartUtc = startUtc != 0 ? startUtc : UtcTicksOfLocal(record.m_dtStart);
    record.m_hFile = CVideoInfo::OpenForCatalogue(path);
    if (!record.m_hFile)
        return FALSE;
    std::move(record).AddToStore(store);
    return TRUE;
}

BOOL FlushToDisk(const std::wstring& path)
{
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.Get());
}

std::wstring ProgramDataFolder(const std::wstring& storageFolder)
{
    std::wstring folder = storageFolder + L"\\LumenoData";
    (void)CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

int RecycleFile(const std::wstring& path)
{
    // The shell takes a list of names ended by an empty one: two terminating zeros.
    wchar_t from[MAX_PATH + 2] = {};
    if (path.empty() || path.size() > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    std::copy(path.begin(), path.end(), from);

    SHFILEOPSTRUCTW operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    static_assert((FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI) == 0x454);
    return SHFileOperationW(&operation);
}
