#include "framework/ExecutablePath.h"

#include <windows.h>
#include <shlwapi.h>

std::wstring ExecutablePath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(path, length);
}

std::wstring ExecutableDirectory()
{
    std::wstring path = ExecutablePath();
    if (path.empty())
        return path;
    PathRemoveFileSpecW(path.data());
    path.resize(wcslen(path.c_str()));
    return path;
}
