#pragma once

// CSetDialog: the one place where the user edits the settings record. In start-up mode
// (m_bFirstRun, before the main window exists) OK insists on a storage folder and a positive
// retention; from the main window's Settings button it checks nothing. OK copies every field into
// the record, applies the start-with-Windows choice at once and saves the settings file; Cancel
// changes nothing.
//
// Threads: UI thread only. The four overlay settings reach the recording thread through the
// application's published snapshot, replaced as a whole after OK has copied them.

#include "ui/StyleDialog.h"

#include <string>

class CLumenoApp;

class CSetDialog : public CStyleDialog {
public:
    static constexpr int kHighestTimeZone = 13;
    static constexpr int kLowestTimeZone = -12;
    static constexpr const wchar_t* kPromptStoragePath = L"请设置视频存储位置！";
    static constexpr const wchar_t* kPromptRetention = L"请设置视频保留时长！";

    explicit CSetDialog(CLumenoApp& app);
    ~CSetDialog() override = default;

    // The list entry of a time zone: "(GMT+08:00)", "(GMT+00:00)", "(GMT-12:00)".
    [[nodiscard]] static std::wstring TimeZoneText(int offsetHours);

    std::wstring m_strStoragePath;
    int m_nRetention = 0;
    int m_bAutoRun = 0;
    int m_bAutoRecord = 0;
    CWnd m_cbTimeZone;
    std::wstring m_strName;
    std::wstring m_strPlatform;
    std::wstring m_strAccount;
    BOOL m_bFirstRun = FALSE;
    int m_bAutoClear = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnBnClickedBrowse();
    void FillTimeZoneList();

    CLumenoApp& m_app;
};
