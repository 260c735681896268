#include "media/XvidLibrary.h"

#include "framework/ExecutablePath.h"

#include <windows.h>
#include <xvid.h>

namespace {

constexpr const wchar_t* kDllName = L"xvidcore.dll";

CXvidLibrary::Function Bound(HMODULE module, const char* name)
{
    return reinterpret_cast<CXvidLibrary::Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

std::wstring VersionText(int version)
{
    return std::to_wstring((version >> 16) & 0xFF) + L"." + std::to_wstring((version >> 8) & 0xFF) + L"." +
           std::to_wstring(version & 0xFF);
}

}  // namespace

const CXvidLibrary& CXvidLibrary::Shared()
{
    static const CXvidLibrary library(ExecutableDirectory());
    return library;
}

CXvidLibrary::CXvidLibrary(const std::wstring& folder) : m_strFolder(folder)
{
    const std::wstring path = folder + L"\\" + kDllName;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (folder.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_problem = Problem::Missing;
        return;
    }
    // A full path loads exactly this file; the altered search path lets the DLL find its own
    // dependencies beside it. No system error box: the program says what is wrong itself.
    DWORD previousMode = 0;
    (void)::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    m_module.Reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    m_dwLoadError = m_module ? 0 : ::GetLastError();
    (void)::SetThreadErrorMode(previousMode, nullptr);
    if (!m_module) {
        m_problem = Problem::NotLoadable;
        return;
    }
    const Function global = Bound(m_module.Get(), "xvid_global");
    const Function encore = Bound(m_module.Get(), "xvid_encore");
    if (!global || !encore) {
        m_pszMissingFunction = global ? L"xvid_encore" : L"xvid_global";
        m_problem = Problem::FunctionMissing;
        return;
    }
    xvid_gbl_info_t info{};
    info.version = kWrittenVersion;
    if (global(nullptr, XVID_GBL_INFO, &info, nullptr) < 0 || info.actual_version < kWrittenVersion) {
        m_nActualVersion = info.actual_version > 0 ? info.actual_version : 0;
        m_problem = Problem::TooOld;
        return;
    }
    m_nActualVersion = info.actual_version;
    m_pfnGlobal = global;
    m_pfnEncore = encore;
    m_pfnDecore = Bound(m_module.Get(), "xvid_decore");  // only the verifier needs it
    m_problem = Problem::None;
}

std::wstring CXvidLibrary::ProblemText() const
{
    std::wstring what;
    switch (m_problem) {
    case Problem::None:
        return L"";
    case Problem::Missing:
        what = L"找不到视频编码库 xvidcore.dll。";
        break;
    case Problem::NotLoadable:
        what = L"无法加载视频编码库 xvidcore.dll（错误 " + std::to_wstring(m_dwLoadError) +
               L"）：文件已损坏，或不是与本程序位数相同的 Windows 动态库。";
        break;
    case Problem::FunctionMissing:
        what = L"视频编码库 xvidcore.dll 缺少函数 " + std::wstring(m_pszMissingFunction) + L"，不是可用的 Xvid 编码库。";
        break;
    case Problem::TooOld:
        what = (m_nActualVersion ? L"视频编码库 xvidcore.dll 的版本 " + VersionText(m_nActualVersion) + L" 太旧"
                                 : std::wstring(L"视频编码库 xvidcore.dll 报不出版本")) +
               L"，本程序需要 " + VersionText(kWrittenVersion) + L" 或更新的版本。";
        break;
    }
    return what + L"\n\n请把 Xvid 1.3 版的 xvidcore.dll 放到本程序所在的文件夹：\n" + m_strFolder;
}

int CXvidLibrary::Global(void* handle, int opt, void* param1, void* param2) const
{
    return m_pfnGlobal ? m_pfnGlobal(handle, opt, param1, param2) : XVID_ERR_FAIL;
}

int CXvidLibrary::Encore(void* handle, int opt, void* param1, void* param2) const
{
    return m_pfnEncore ? m_pfnEncore(handle, opt, param1, param2) : XVID_ERR_FAIL;
}

int CXvidLibrary::Decore(void* handle, int opt, void* param1, void* param2) const
{
    return m_pfnDecore ? m_pfnDecore(handle, opt, param1, param2) : XVID_ERR_FAIL;
}
