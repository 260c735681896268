#include "app/LumenoDlg.h"

#include "app/AboutDlg.h"
#include "app/LumenoApp.h"
#include "app/SetDialog.h"
#include "app/SingleInstance.h"
#include "res/resource.h"
#include "engine/RecordThread.h"
#include "ui/DataExchange.h"
#include "timestore/NetTime.h"
#include "ui/ResourceImage.h"

namespace {

HICON LoadSharedIcon(UINT nId, int cx, int cy)
{
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nId), IMAGE_ICON, cx, cy,
                                           LR_SHARED));
}

}  // namespace

CLumenoDlg::CLumenoDlg(CLumenoApp& app, CNetTime& netTime, CRecordThread& recorder)
    : CStyleDialog(IDD_MAIN), m_app(app), m_netTime(netTime), m_recorder(recorder)
{
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    // The tray pictures are 16 × 16; LoadIconW would stretch them to the large icon size.
    m_hIconRecording = LoadSharedIcon(IDI_TRAY_RECORDING, ::GetSystemMetrics(SM_CXSMICON),
                                      ::GetSystemMetrics(SM_CYSMICON));
    m_hIconIdle = LoadSharedIcon(IDI_TRAY_IDLE, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON));
    m_hIconWarning =
        LoadSharedIcon(IDI_TRAY_WARNING, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON));

    // The buttons load their pictures when they are attached, so the ids come first.
    m_btnStart.m_bStateImages = TRUE;
    m_btnStart.m_nImageId = IDB_START;
    m_btnStart.m_nDisabledImageId = IDB_START_DISABLED;
    m_btnStop.m_bStateImages = TRUE;
    m_btnStop.m_nImageId = IDB_STOP;
    m_btnStop.m_nDisabledImageId = IDB_STOP_DISABLED;
    m_btnSettings.m_bStateImages = TRUE;
    m_btnSettings.m_nImageId = IDB_SETTINGS;
    m_btnSettings.m_nDisabledImageId = 0;
}

void CLumenoDlg::DoDataExchange(CDataExchange* pDX)
{
    CStyleDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STORAGE_INFO, m_wndStorageInfo);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_STOP, m_btnStop);
    DDX_Control(pDX, IDC_SETTINGS, m_btnSettings);
}

BOOL CLumenoDlg::OnInitDialog()
{
    (void)CStyleDialog::OnInitDialog();

    if (const HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) > 0) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    (void)lumeno::LoadResourceImage(L"PNG", m_imgLogo, IDB_LOGO);
    lumeno::PremultiplyAlpha(m_imgLogo);
    SetWindowText(kTitle);

    // The network time thread first, so the first frames already have a chance of network time.
    if (!m_netTime.m_hThread) {
        m_netTime.m_hNotifyWnd = m_hWnd;
        m_netTime.m_bInitCom = 0;
        m_netTime.m_hThread.Reset(::CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &m_netTime, 0, nullptr));
    }
    m_recorder.m_storage.m_sealer.ConfigureStamping(m_app.GetStampSettings());
    (void)m_recorder.Start(m_app.m_strStoragePath, m_app.m_nRetentionMinutes, m_app.m_bAutoClearOtherFiles, m_hWnd);

    m_nTaskbarCreatedMsg = ::RegisterWindowMessageW(L"TaskbarCreated");
    SendMessage(m_nTaskbarCreatedMsg);

    m_btnStop.EnableWindow(FALSE);
    CSingleInstance::MarkMainWindow(m_hWnd);
    ::SetTimer(m_hWnd, IDT_HEALTH, 1000, nullptr);
    if (m_app.m_bAutoRecord) {
        ToggleRecording();
        ::SetTimer(m_hWnd, IDT_HIDE_AT_START, 0, nullptr);
    }
    return TRUE;
}

void CLumenoDlg::AddTrayIcon()
{
    m_nid = NOTIFYICONDATAW{};
    // The full structure, balloon icon included: 956 bytes in the 32-bit build, 976 in the 64-bit one.
    static_assert(sizeof(NOTIFYICONDATAW) == (sizeof(void*) == 4 ? 956 : 976));
    m_nid.cbSize = sizeof(NOTIFYICONDATAW);
    m_nid.hWnd = m_hWnd;
    m_nid.uID = 1;
    m_nid.uCallbackMessage = WM_TRAY_NOTIFY;
    FillTrayState(false);
    (void)::Shell_NotifyIconW(NIM_ADD, &m_nid);
}

void CLumenoDlg::FillTrayState(bool bBalloon)
{
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    const std::wstring warning = m_health.Describe();
    if (!warning.empty()) {
        m_nid.hIcon = m_hIconWarning;
        lstrcpynW(m_nid.szTip, warning.c_str(), static_cast<int>(std::size(m_nid.szTip)));
    } else {
        m_nid.hIcon = m_bRecording ? m_hIconRecording : m_hIconIdle;
        ::GetWindowTextW(m_hWnd, m_nid.szTip, static_cast<int>(std::size(m_nid.szTip)));
        if (m_bStampStale) {
            const std::wstring tip = std::wstring(m_nid.szTip) + L"\n" + kStampStaleText;
            lstrcpynW(m_nid.szTip, tip.c_str(), static_cast<int>(std::size(m_nid.szTip)));
        }
    }
    if (bBalloon && !warning.empty()) {
        m_nid.uFlags |= NIF_INFO;
        m_nid.dwInfoFlags = NIIF_WARNING;
        lstrcpynW(m_nid.szInfoTitle, kTitle, static_cast<int>(std::size(m_nid.szInfoTitle)));
        lstrcpynW(m_nid.szInfo, warning.c_str(), static_cast<int>(std::size(m_nid.szInfo)));
    }
}

void CLumenoDlg::CheckHealth()
{
    CRecordingHealth::Sample sample;
    // The last write first: read the other way round, a frame written in between would look late.
    sample.ullLastWriteMs = m_recorder.LastWriteTick();
    sample.ullNowMs = ::GetTickCount64();
    sample.bRecording = m_bRecording != FALSE;
    sample.ullBytesWritten = m_recorder.BytesWritten();
    ULARGE_INTEGER free{};
    sample.bFreeKnown = ::GetDiskFreeSpaceExW(m_recorder.StorageFolder().c_str(), &free, nullptr, nullptr) != 0;
    sample.ullFreeBytes = free.QuadPart;
    sample.nRetentionMinutes = m_recorder.RetentionMinutes();
    sample.nCataloguedMinutes = static_cast<int>(m_recorder.StorageFigures().ullSeconds / 60);

    const std::wstring before = m_health.Describe();
    (void)m_health.Update(sample);
    const bool balloon = m_health.TakeNewIncident();
    const bool stale = m_recorder.m_storage.m_sealer.Stamper().IsStale(sample.ullNowMs);
    if (balloon || m_health.Describe() != before || stale != m_bStampStale) {
        m_bStampStale = stale;
        FillTrayState(balloon);
        (void)::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
    }
}

void CLumenoDlg::OnActivateRequest()
{
    // Another start of the program asked for this window instead of running a second recorder.
    if (!IsWindowVisible())
        ShowWindow(SW_SHOW);
    if (::IsIconic(m_hWnd))
        ShowWindow(SW_RESTORE);
    ::SetForegroundWindow(m_hWnd);
}

LRESULT CLumenoDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == m_nTaskbarCreatedMsg) {
        // Also after the shell restarts: the icon comes back with the current state's picture.
        AddTrayIcon();
    } else if (message == WM_TRAY_NOTIFY) {
        OnTrayNotify(static_cast<UINT>(lParam));
        return 1;
    } else if (message == CSingleInstance::ActivateMessage()) {
        OnActivateRequest();
        return 0;
    } else if (message == CSingleInstance::ExitMessage()) {
        // The tray menu's "exit", asked for by another program (the installer). With a dialog open
        // over this window, that dialog is cancelled and the request comes back once its loop ended.
        if (m_pModalChild) {
            m_pModalChild->EndDialog(IDCANCEL);
            (void)::PostMessageW(m_hWnd, message, 0, 0);
        } else if (!m_bExiting) {
            ExitProgram();
        }
        return 0;
    } else if (message == WM_STORAGE_CHANGED) {
        RefreshStorageFigures();
        ::InvalidateRect(m_wndStorageInfo.m_hWnd, nullptr, TRUE);
    }
    return CStyleDialog::WindowProc(message, wParam, lParam);
}

void CLumenoDlg::OnTrayNotify(UINT mouseMessage)
{
    switch (mouseMessage) {
        case WM_LBUTTONUP:
            if (!IsWindowVisible())
                ShowWindow(SW_SHOW);
            if (::IsIconic(m_hWnd))
                ShowWindow(SW_RESTORE);
            break;
        case WM_RBUTTONUP:
            OnTrayMenu();
            break;
        default:
            break;
    }
}

void CLumenoDlg::OnTrayMenu()
{
    POINT cursor{};
    ::GetCursorPos(&cursor);
    UINT command = 0;
    {
        const lumeno::UniqueMenu menu(::CreatePopupMenu());
        if (!menu)
            return;
        ::AppendMenuW(menu.Get(), MF_STRING | MF_BYPOSITION, ID_TRAY_EXIT, kTrayExitText);
        // Without the foreground a notification-icon menu would not close when the user clicks
        // elsewhere.
        ::SetForegroundWindow(m_hWnd);
        command = static_cast<UINT>(::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN,
                                                     cursor.x, cursor.y, 0, m_hWnd, nullptr));
    }
    if (command == ID_TRAY_EXIT)
        ExitProgram();
}

void CLumenoDlg::ExitProgram()
{
    // From here on a new start waits for this one to end rather than asking it to show itself.
    CSingleInstance::UnmarkMainWindow(m_hWnd);
    // Returns only when the current file has its final name and is catalogued.
    m_recorder.Stop();
    m_bExiting = TRUE;
    SendMessage(WM_CLOSE);
}

void CLumenoDlg::ToggleRecording()
{
    m_bRecording = !m_bRecording;
    m_recorder.SetRecording(m_bRecording);
    if (!m_bRecording)
        CheckHealth();  // switched off: no warning stands any more
    FillTrayState(false);
    (void)::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
    m_btnStart.EnableWindow(!m_bRecording);
    m_btnStop.EnableWindow(m_bRecording);
    // The clicked button has just been disabled and would take the keyboard focus with it; without
    // a focus in the dialog, Esc would no longer reach it. The focus moves to the enabled twin.
    const HWND focus = ::GetFocus();
    if (m_hWnd && (!focus || !::IsWindowEnabled(focus))) {
        const HWND twin = m_bRecording ? m_btnStop.m_hWnd : m_btnStart.m_hWnd;
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(twin), TRUE);
    }
}

void CLumenoDlg::RefreshStorageFigures()
{
    const CVideoStore::Figures figures = m_recorder.StorageFigures();
    m_wndStorageInfo.m_nFileCount = static_cast<int>(figures.nCount);
    m_wndStorageInfo.m_ullUsedBytes = figures.ullBytes;
    ULARGE_INTEGER totalFree{};
    // A volume that cannot be asked (gone, unplugged, no such folder) shows 0KB free: nothing can
    // be recorded there, and a stale figure from before would claim otherwise.
    if (::GetDiskFreeSpaceExW(m_recorder.StorageFolder().c_str(), nullptr, nullptr, &totalFree))
        m_wndStorageInfo.m_ullFreeBytes = totalFree.QuadPart;
    else
        m_wndStorageInfo.m_ullFreeBytes = 0;
    // The panel paints its figures itself; its window text carries the same words for screen
    // readers and other programs that read the window rather than its pixels.
    m_wndStorageInfo.SetWindowText(m_wndStorageInfo.DescribeFigures().c_str());
}

BOOL CLumenoDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case IDC_START:
            case IDC_STOP:
                // Only one of the two is enabled at a time, so Start always starts and Stop stops.
                ToggleRecording();
                return TRUE;
            case IDC_SETTINGS:
                OnBnClickedSettings();
                return TRUE;
            default:
                break;
        }
    }
    return CStyleDialog::OnCommand(wParam, lParam);
}

void CLumenoDlg::OnBnClickedSettings()
{
    CSetDialog dialog(m_app);
    m_pModalChild = &dialog;
    (void)dialog.DoModal();
    m_pModalChild = nullptr;
}

void CLumenoDlg::OnOK()
{
    // Enter never closes the main window.
}

void CLumenoDlg::OnCancel()
{
    if (m_bExiting)
        CStyleDialog::OnCancel();
    else
        ShowWindow(SW_HIDE);  // Esc, Alt+F4 and the close button: recording goes on in the background
}

void CLumenoDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        m_pModalChild = &about;
        (void)about.DoModal();
        m_pModalChild = nullptr;
        return;
    }
    CStyleDialog::OnSysCommand(nID, lParam);
}

void CLumenoDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == IDT_HIDE_AT_START) {
        ::KillTimer(m_hWnd, IDT_HIDE_AT_START);
        if (IsWindowVisible())
            ShowWindow(SW_HIDE);
    } else if (nIDEvent == IDT_HEALTH) {
        CheckHealth();
    }
    CStyleDialog::OnTimer(nIDEvent);
}

void CLumenoDlg::OnEndSession(BOOL bEnding)
{
    CStyleDialog::OnEndSession(bEnding);
    if (bEnding)
        m_recorder.Stop();  // the file being written gets its final name before the session ends
}

void CLumenoDlg::OnDestroy()
{
    CStyleDialog::OnDestroy();
    ::KillTimer(m_hWnd, IDT_HEALTH);
    (void)::RemovePropW(m_hWnd, CSingleInstance::kMainWindowProperty);
    (void)::Shell_NotifyIconW(NIM_DELETE, &m_nid);
}

HCURSOR CLumenoDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CLumenoDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd)) {
        CStyleDialog::OnPaint();
        return;
    }
    const lumeno::PaintDc dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
    RECT rc = GetClientRect();
    rc.top += m_nTitleHeight;
    rc.bottom -= m_nTitleHeight;
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    const int x = rc.left + (rc.right - rc.left - cxIcon + 1) / 2;
    const int y = rc.top + (rc.bottom - rc.top - cyIcon + 1) / 2;
    ::DrawIcon(dc.Get(), x, y, m_hIcon);
}

int CLumenoDlg::DrawClientArea(HDC hdc, RECT rcClient)
{
    const int stripTop = rcClient.bottom - kBottomStripHeight;
    {
        // The separator runs level along the top edge of the strip, so the strip the logo is
        // centred in is exactly 26 pixels tall and the line does not slant across the window.
        const lumeno::UniquePen pen(::CreatePen(PS_SOLID, 1, kSeparatorColour));
        const lumeno::SelectGuard selectPen(hdc, pen.Get());
        ::MoveToEx(hdc, 0, stripTop, nullptr);
        ::LineTo(hdc, rcClient.right - rcClient.left, stripTop);
    }
    {
        constexpr int kFontHeight = 13;
        const lumeno::UniqueFont font(::CreateFontW(kFontHeight, 0, 0, 0, 600, FALSE, FALSE, FALSE, CHINESEBIG5_CHARSET,
                                                    OUT_STRING_PRECIS, CLIP_CHARACTER_PRECIS, CLEARTYPE_QUALITY,
                                                    FF_MODERN | DEFAULT_PITCH, L"宋体"));
        const lumeno::SelectGuard selectFont(hdc, font.Get());
        ::SetTextColor(hdc, kVersionColour);
        ::SetBkMode(hdc, TRANSPARENT);
        // The version line: the product and its version, at the left of the strip, level with the logo.
        ::TextOutW(hdc, 8, stripTop + (kBottomStripHeight - kFontHeight) / 2, kVersionText,
                   static_cast<int>(wcslen(kVersionText)));
    }
    if (!m_imgLogo.IsNull()) {
        const int w = m_imgLogo.GetWidth();
        const int h = m_imgLogo.GetHeight();
        (void)m_imgLogo.AlphaBlend(hdc, rcClient.right - rcClient.left - w - 8, stripTop + (kBottomStripHeight - h) / 2);
    }
    return 0;
}
