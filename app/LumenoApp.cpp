#include "app/LumenoApp.h"

#include "app/LumenoDlg.h"
#include "app/SetDialog.h"
#include "framework/ExecutablePath.h"
#include "ui/DropShadow.h"

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>
#include <vfw.h>

#include <clocale>

#include <algorithm>
#include <vector>

namespace {

constexpr const wchar_t* kSectionBasic = L"基础";
constexpr const wchar_t* kSectionGeneral = L"常规";
constexpr const wchar_t* kSectionOverlay = L"视频附加内容";
constexpr const wchar_t* kSectionEvidence = L"证据";

constexpr const wchar_t* kKeyStoragePath = L"存储位置";
constexpr const wchar_t* kKeyRetention = L"保留时长";
constexpr const wchar_t* kKeyAutoClear = L"自动清除其他文件";
constexpr const wchar_t* kKeyAutoRecord = L"自动开始录像";
constexpr const wchar_t* kKeyTimeZone2 = L"时间2时区";
constexpr const wchar_t* kKeyName = L"名称";
constexpr const wchar_t* kKeyPlatform = L"平台";
constexpr const wchar_t* kKeyAccount = L"帐号";
constexpr const wchar_t* kKeyStampServers = L"时间戳服务器";
constexpr const wchar_t* kKeyStampInterval = L"时间戳间隔";
constexpr const wchar_t* kKeyStampRoots = L"时间戳根证书";
constexpr int kDefaultStampIntervalMinutes = 10;

// The non-blank pieces of a ';'-separated list.
std::vector<std::wstring> SplitList(const std::wstring& text)
{
    std::vector<std::wstring> items;
    for (std::size_t from = 0; from <= text.size();) {
        std::size_t end = text.find(L';', from);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring item = text.substr(from, end - from);
        item.erase(0, item.find_first_not_of(L" \t"));
        item.erase(item.find_last_not_of(L" \t") + 1);
        if (!item.empty())
            items.push_back(std::move(item));
        from = end + 1;
    }
    return items;
}

// What the first settings dialog offers when there is no settings file yet.
constexpr int kFirstRunRetentionMinutes = 1;
// The stored Run value is read into 260 characters (520 bytes); a longer one counts as absent.
constexpr DWORD kRunValueChars = 260;

}  // namespace

CLumenoApp::CLumenoApp() : m_pOverlay(std::make_shared<const OverlaySettings>()) {}

BOOL CLumenoApp::InitInstance(HINSTANCE hInstance, CNetTime& netTime, CRecordThread& recorder)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF;  // the eight classic classes
    (void)::InitCommonControlsEx(&controls);
    (void)_wsetlocale(LC_ALL, L"chs");
    (void)CDropShadow::RegisterShadowClass(hInstance);  // before any window exists

    const Gdiplus::GdiplusStartupInput gdiplusInput;
    // Never shut down: it ends with the process, after every window that draws with it.
    (void)Gdiplus::GdiplusStartup(&m_gdiplusToken, &gdiplusInput, nullptr);
    PointProfileAt(ExecutableDirectory());
    ::AVIFileInit();  // for the process; the recording thread keeps its own balanced pair
    (void)ExchangeSettings(FALSE);

    if (SettingsUnusable()) {
        CSetDialog settings(*this);
        settings.m_bFirstRun = TRUE;
        // A folder that has vanished is shown blank, so the user sees it must be chosen again.
        if (!m_strStoragePath.empty() && !::PathIsDirectoryW(m_strStoragePath.c_str()))
            m_strStoragePath.clear();
        if (settings.DoModal() != IDOK)
            return FALSE;  // no main window, no tray icon, no thread, nothing written
    }

    CLumenoDlg mainWindow(*this, netTime, recorder);
    (void)mainWindow.DoModal();
    return FALSE;
}

bool CLumenoApp::SettingsUnusable() const
{
    return m_strStoragePath.empty() || m_nRetentionMinutes == 0 || !::PathIsDirectoryW(m_strStoragePath.c_str());
}

void CLumenoApp::PointProfileAt(const std::wstring& appDir)
{
    m_strAppDir = appDir;
    wchar_t joined[MAX_PATH] = {};
    if (appDir.size() < MAX_PATH && PathCombineW(joined, appDir.c_str(), kProfileFileName))
        m_profile.SetPath(joined);
    else
        m_profile.SetPath(std::wstring());  // no usable location: reads give defaults, writes fail
}

int CLumenoApp::ExchangeSettings(BOOL bSave)
{
    if (m_profile.GetPath().empty())
        PointProfileAt(m_strAppDir.empty() ? ExecutableDirectory() : m_strAppDir);
    if (bSave)
        SaveSettings();
    else
        LoadSettings();
    PublishOverlaySettings();
    return 0;
}

void CLumenoApp::LoadSettings()
{
    m_strStoragePath = m_profile.ReadString(kSectionBasic, kKeyStoragePath);
    // A file without the key (hand-edited, damaged) counts as a stored 0, so the settings dialog asks:
    // any other value would let the next scan delete every recording older than it.
    const bool fileThere = ::GetFileAttributesW(m_profile.GetPath().c_str()) != INVALID_FILE_ATTRIBUTES;
    m_nRetentionMinutes = m_profile.ReadInt(kSectionBasic, kKeyRetention, fileThere ? 0 : kFirstRunRetentionMinutes);
    m_bAutoClearOtherFiles = m_profile.ReadInt(kSectionBasic, kKeyAutoClear, m_bAutoClearOtherFiles);
    m_bAutoRecord = m_profile.ReadInt(kSectionGeneral, kKeyAutoRecord, 0);
    m_nTimeZone2 = m_profile.ReadInt(kSectionOverlay, kKeyTimeZone2, 0);
    m_strName = m_profile.ReadString(kSectionOverlay, kKeyName);
    m_strPlatform = m_profile.ReadString(kSectionOverlay, kKeyPlatform);
    m_strAccount = m_profile.ReadString(kSectionOverlay, kKeyAccount);
    m_strStampServers = m_profile.ReadValue(kSectionEvidence, kKeyStampServers);
    m_nStampIntervalMinutes = m_profile.ReadInt(kSectionEvidence, kKeyStampInterval, kDefaultStampIntervalMinutes);
    m_strStampRoots = m_profile.ReadString(kSectionEvidence, kKeyStampRoots);
}

StampSettings CLumenoApp::GetStampSettings() const
{
    StampSettings settings;
    settings.urls = SplitList(m_strStampServers.value_or(kDefaultStampServers));
    // Less than a minute would ask an authority for a token at every file; a nonsense value
    // gets the default rather than stamping off silently.
    settings.nIntervalMinutes = m_nStampIntervalMinutes >= 1 ? m_nStampIntervalMinutes : kDefaultStampIntervalMinutes;
    for (std::wstring& file : SplitList(m_strStampRoots))
        settings.rootFiles.push_back(PathIsRelativeW(file.c_str()) ? m_strAppDir + L"\\" + file : file);
    return settings;
}

void CLumenoApp::SaveSettings()
{
    // Every key, every time, in this order; a key that cannot be written is skipped quietly and
    // the record keeps its value for the rest of the run.
    (void)m_profile.WriteString(kSectionBasic, kKeyStoragePath, m_strStoragePath);
    (void)m_profile.WriteInt(kSectionBasic, kKeyRetention, m_nRetentionMinutes);
    (void)m_profile.WriteInt(kSectionBasic, kKeyAutoClear, m_bAutoClearOtherFiles);
    (void)m_profile.WriteInt(kSectionGeneral, kKeyAutoRecord, m_bAutoRecord);
    (void)m_profile.WriteInt(kSectionOverlay, kKeyTimeZone2, m_nTimeZone2);
    (void)m_profile.WriteString(kSectionOverlay, kKeyName, m_strName);
    (void)m_profile.WriteString(kSectionOverlay, kKeyPlatform, m_strPlatform);
    (void)m_profile.WriteString(kSectionOverlay, kKeyAccount, m_strAccount);
}

void CLumenoApp::PublishOverlaySettings()
{
    auto snapshot = std::make_shared<const OverlaySettings>(
        OverlaySettings{m_nTimeZone2, m_strName, m_strPlatform, m_strAccount});
    m_pOverlay.store(std::move(snapshot));
}

std::shared_ptr<const OverlaySettings> CLumenoApp::GetOverlaySettings() const { return m_pOverlay.load(); }

std::wstring CLumenoApp::ExpectedRunData() const
{
    const std::wstring path = m_strExecutablePath.empty() ? ExecutablePath() : m_strExecutablePath;
    if (path.empty() || path.size() >= MAX_PATH)
        return std::wstring();
    return L"\"" + path + L"\"";
}

// Registered means: the value exists, is REG_SZ, fits the 260-character buffer and equals the
// quoted executable path ignoring case. Query returns that; enable writes the quoted path unless
// already registered; disable deletes the value, succeeding also when there was none.
BOOL CLumenoApp::ApplyAutoRun(BOOL bQueryOnly, BOOL bEnable)
{
    const std::wstring expected = ExpectedRunData();
    bool registered = false;
    if (!expected.empty()) {
        wchar_t stored[kRunValueChars] = {};
        DWORD type = REG_NONE;
        DWORD bytes = sizeof(stored);
        if (SHGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValueName, &type, stored, &bytes) == ERROR_SUCCESS &&
            type == REG_SZ) {
            const size_t chars = std::min<size_t>(bytes / sizeof(wchar_t), kRunValueChars);
            const std::wstring text(stored, wcsnlen(stored, chars));
            registered = CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), expected.c_str(),
                                              static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
        }
    }
    if (bQueryOnly)
        return registered;
    if (bEnable) {
        if (registered)
            return TRUE;
        if (expected.empty())
            return FALSE;  // never register a cut or unknown path
        const DWORD size = static_cast<DWORD>((expected.size() + 1) * sizeof(wchar_t));
        return SHSetValueW(HKEY_CURRENT_USER, kRunKey, kRunValueName, REG_SZ, expected.c_str(), size) ==
               ERROR_SUCCESS;
    }
    const LSTATUS status = SHDeleteValueW(HKEY_CURRENT_USER, kRunKey, kRunValueName);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
