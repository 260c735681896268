#pragma once

// CLumenoDlg: the program's main window, run modally for the whole life of the program. It starts
// the network time thread and the recording thread, shows the storage panel and the Start, Stop
// and Settings buttons, and keeps the notification-area icon whose picture tells whether recording
// is on. Closing the window only hides it; the tray menu's "退出程序(&X)" is the way out, and it
// (like Windows ending the log-on) first waits until the file being written is complete.
//
// Threads: every member is used on the UI thread only. The recording thread talks to this window
// only by posting WM_STORAGE_CHANGED and through the health atomics this window reads once a second
// (a warning picture, tip and balloon when recording is on but does not reach the disk, or the disk
// is about to fill); the recording flag and quit command are written through
// CRecordThread's atomics and followed by a signal of its wake event.

#include "LumenoVersion.h"
#include "app/RecordingHealth.h"
#include "framework/Image.h"
#include "ui/AVIStorageInfoDispWnd.h"
#include "ui/ImgButton.h"
#include "ui/StyleDialog.h"

#include <shellapi.h>

class CLumenoApp;
class CNetTime;
class CRecordThread;

class CLumenoDlg : public CStyleDialog {
public:
    static constexpr int kBottomStripHeight = 26;
    static constexpr COLORREF kSeparatorColour = RGB(207, 207, 207);
    static constexpr COLORREF kVersionColour = RGB(154, 154, 154);
    static constexpr const wchar_t* kTitle = L"Lumeno";
    // The tip's second line while stamping is configured and no token could be had for an hour:
    // recording itself is fine, so the picture stays as it is and no balloon pops up.
    static constexpr const wchar_t* kStampStaleText = L"一小时以上未能取得时间戳（录像正常）";
    static constexpr const wchar_t* kTrayExitText = L"退出程序(&X)";
    static constexpr const wchar_t* kVersionText = LUMENO_SHOWN_VERSION_W;

    CLumenoDlg(CLumenoApp& app, CNetTime& netTime, CRecordThread& recorder);
    ~CLumenoDlg() override = default;

    // Switches recording on or off: the recording thread, the tray picture and the two buttons follow.
    void ToggleRecording();
    // Counts the catalogue under its lock and asks the drive for its free space, into the panel.
    void RefreshStorageFigures();

    [[nodiscard]] BOOL IsRecording() const noexcept { return m_bRecording; }
    [[nodiscard]] BOOL IsExiting() const noexcept { return m_bExiting; }
    [[nodiscard]] const NOTIFYICONDATAW& TrayData() const noexcept { return m_nid; }
    [[nodiscard]] const CAVIStorageInfoDispWnd& StoragePanel() const noexcept { return m_wndStorageInfo; }
    [[nodiscard]] HICON RecordingIcon() const noexcept { return m_hIconRecording; }
    [[nodiscard]] HICON IdleIcon() const noexcept { return m_hIconIdle; }
    [[nodiscard]] HICON WarningIcon() const noexcept { return m_hIconWarning; }
    [[nodiscard]] const CRecordingHealth& Health() const noexcept { return m_health; }
    // Gathers the recording's health figures of this moment; the tray follows a change.
    void CheckHealth();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    int DrawClientArea(HDC hdc, RECT rcClient) override;

    void OnSysCommand(UINT nID, LPARAM lParam) override;
    void OnPaint() override;
    HCURSOR OnQueryDragIcon() override;
    void OnDestroy() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnEndSession(BOOL bEnding) override;

private:
    void AddTrayIcon();
    // Puts the picture and tip of the current state into m_nid (a balloon too when asked).
    void FillTrayState(bool bBalloon);
    void OnActivateRequest();
    void ExitProgram();
    void OnTrayNotify(UINT mouseMessage);
    void OnTrayMenu();
    void OnBnClickedSettings();

    CLumenoApp& m_app;
    CNetTime& m_netTime;
    CRecordThread& m_recorder;

    HICON m_hIcon = nullptr;           // shared icons of the module: never destroyed
    HICON m_hIconRecording = nullptr;
    HICON m_hIconIdle = nullptr;
    HICON m_hIconWarning = nullptr;
    CRecordingHealth m_health;
    NOTIFYICONDATAW m_nid{};
    UINT m_nTaskbarCreatedMsg = 0xFFFFFFFFu;
    BOOL m_bExiting = FALSE;
    bool m_bStampStale = false;  // the tip says no time stamp could be had
    // The settings dialog or About box while one is open over this window: an exit request closes
    // it first, so that the program never ends from inside its modal loop.
    CDialog* m_pModalChild = nullptr;
    CAVIStorageInfoDispWnd m_wndStorageInfo;
    CImgButton m_btnStart;
    CImgButton m_btnStop;
    CImgButton m_btnSettings;
    BOOL m_bRecording = FALSE;
    lumeno::CImage m_imgLogo;
};
