#include "app/SetDialog.h"

#include "app/LumenoApp.h"
#include "app/SingleInstance.h"
#include "res/resource.h"
#include "ui/DataExchange.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Frees the item list the folder chooser returns.
struct ItemIdListDeleter {
    void operator()(LPITEMIDLIST p) const noexcept { ::CoTaskMemFree(p); }
};

}  // namespace

CSetDialog::CSetDialog(CLumenoApp& app) : CStyleDialog(IDD_SETTINGS), m_app(app) {}

std::wstring CSetDialog::TimeZoneText(int offsetHours)
{
    wchar_t text[32] = {};
    (void)swprintf(text, 32, L"(GMT%ls%02d:00)", offsetHours < 0 ? L"-" : L"+", std::abs(offsetHours));
    return text;
}

void CSetDialog::DoDataExchange(CDataExchange* pDX)
{
    CStyleDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_STORAGE_PATH, m_strStoragePath);
    DDX_Text(pDX, IDC_RETENTION, m_nRetention);
    DDX_Check(pDX, IDC_AUTORUN, m_bAutoRun);
    DDX_Check(pDX, IDC_AUTORECORD, m_bAutoRecord);
    DDX_Control(pDX, IDC_TIMEZONE2, m_cbTimeZone);
    DDX_Text(pDX, IDC_NAME, m_strName);
    DDX_Text(pDX, IDC_PLATFORM, m_strPlatform);
    DDX_Text(pDX, IDC_ACCOUNT, m_strAccount);
    DDX_Check(pDX, IDC_AUTOCLEAR, m_bAutoClear);
}

void CSetDialog::FillTimeZoneList()
{
    const HWND list = GetDlgItem(IDC_TIMEZONE2);
    for (int offset = kHighestTimeZone; offset >= kLowestTimeZone; --offset) {
        const std::wstring text = TimeZoneText(offset);
        const LRESULT index = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (index < 0)
            continue;
        ::SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(offset));
        if (offset == m_app.m_nTimeZone2)
            ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

BOOL CSetDialog::OnInitDialog()
{
    // The controls are bound first (UpdateData in the base), then filled from the record below.
    (void)CStyleDialog::OnInitDialog();
    SetWindowText(L"设置");
    RemoveMinimizeButton();
    FillTimeZoneList();

    m_strStoragePath = m_app.m_strStoragePath;
    m_nRetention = m_app.m_nRetentionMinutes;
    m_bAutoClear = m_app.m_bAutoClearOtherFiles;
    m_bAutoRun = m_app.ApplyAutoRun(TRUE, FALSE);
    m_bAutoRecord = m_app.m_bAutoRecord;
    m_strName = m_app.m_strName;
    m_strPlatform = m_app.m_strPlatform;
    m_strAccount = m_app.m_strAccount;
    // Asked again last: what is shown is the registry's state as late as possible.
    m_bAutoRun = m_app.ApplyAutoRun(TRUE, FALSE);

    (void)UpdateData(FALSE);
    return TRUE;
}

LRESULT CSetDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Another program (the installer) asks every Lumeno to end. Before the main window exists this
    // dialog is all there is, and ending it as Cancel does ends the program; opened from the main
    // window, the main window answers instead.
    if (message == CSingleInstance::ExitMessage() && m_bFirstRun) {
        EndDialog(IDCANCEL);
        return 0;
    }
    return CStyleDialog::WindowProc(message, wParam, lParam);
}

BOOL CSetDialog::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
        OnBnClickedBrowse();
        return TRUE;
    }
    return CStyleDialog::OnCommand(wParam, lParam);
}

void CSetDialog::OnBnClickedBrowse()
{
    BROWSEINFOW info{};
    info.hwndOwner = m_hWnd;
    info.pidlRoot = nullptr;
    info.pszDisplayName = nullptr;
    info.lpszTitle = L"选择录像存储位置";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    const std::unique_ptr<ITEMIDLIST, ItemIdListDeleter> chosen(::SHBrowseForFolderW(&info));
    if (!chosen)
        return;
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(chosen.get(), path))
        return;
    // Whatever else was typed is kept; a retention that is no number stops here with the prompt.
    if (!UpdateData(TRUE))
        return;
    m_strStoragePath = path;
    (void)UpdateData(FALSE);
}

void CSetDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    if (m_bFirstRun) {
        if (m_strStoragePath.empty()) {
            (void)MessageBox(kPromptStoragePath, nullptr, MB_OK);
            return;
        }
        if (m_nRetention <= 0) {
            (void)MessageBox(kPromptRetention, nullptr, MB_OK);
            return;
        }
    }

    m_app.m_strStoragePath = m_strStoragePath;
    m_app.m_nRetentionMinutes = m_nRetention;
    m_app.m_bAutoClearOtherFiles = m_bAutoClear;
    m_app.m_bAutoRecord = m_bAutoRecord;
    m_app.m_strName = m_strName;
    m_app.m_strPlatform = m_strPlatform;
    m_app.m_strAccount = m_strAccount;
    const HWND list = GetDlgItem(IDC_TIMEZONE2);
    const LRESULT selection = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
    // No selection (a stored zone outside the list) gives CB_ERR, stored as -1.
    m_app.m_nTimeZone2 = static_cast<int>(::SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(selection), 0));
    m_app.PublishOverlaySettings();

    (void)m_app.ApplyAutoRun(FALSE, m_bAutoRun);
    (void)m_app.ExchangeSettings(TRUE);
    CStyleDialog::OnOK();
}
