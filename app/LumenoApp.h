#pragma once

// The application object: owner of the settings record, its INI file "Lumeno.INI" beside the
// executable, and the start-with-Windows value under the current user's Run key.
//
// Threads: every member is read and written on the user-interface thread only (start-up load and
// the settings dialog). The recording thread never touches the record's members; it reads the four
// overlay settings through GetOverlaySettings(), which returns the snapshot last published by the
// user-interface thread (m_pOverlay, a std::atomic).

#include "timestore/OverlaySettings.h"
#include "framework/ProfileFile.h"
#include "timestore/Stamper.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class CNetTime;
class CRecordThread;

class CLumenoApp {
public:
    static constexpr const wchar_t* kProfileFileName = L"Lumeno.INI";
    static constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr const wchar_t* kRunValueName = L"Lumeno";

    CLumenoApp();
    CLumenoApp(const CLumenoApp&) = delete;
    CLumenoApp& operator=(const CLumenoApp&) = delete;

    // Prepares the platform services, loads the settings, runs the settings dialog in its start-up
    // mode when they are unusable (cancelling it ends the program), then runs the main window until
    // the user exits. Always FALSE: the program ends when it returns.
    BOOL InitInstance(HINSTANCE hInstance, CNetTime& netTime, CRecordThread& recorder);
    // Why start-up must ask for the settings first: an empty or missing storage folder, or a
    // retention of 0, stored or missing from the file (a negative one is let through).
    [[nodiscard]] bool SettingsUnusable() const;

    // Sets m_strAppDir and points the profile at "Lumeno.INI" in it. Without a call, the first
    // exchange uses the executable's directory.
    void PointProfileAt(const std::wstring& appDir);
    [[nodiscard]] const std::wstring& GetProfilePath() const { return m_profile.GetPath(); }
    // The executable path ApplyAutoRun registers; empty (the default) means the running executable.
    void SetExecutablePath(const std::wstring& path) { m_strExecutablePath = path; }

    // Loads (bSave FALSE) or saves (TRUE) every stored member; failures to write are ignored and the
    // record keeps its values. Either way the overlay settings are published afterwards. Returns 0.
    int ExchangeSettings(BOOL bSave);

    // Queries, writes or deletes the "Lumeno" Run value of the current user (see the .cpp).
    BOOL ApplyAutoRun(BOOL bQueryOnly, BOOL bEnable);

    // User-interface thread: publishes the current m_nTimeZone2, m_strName, m_strPlatform and
    // m_strAccount as one new snapshot. Call after changing any of them.
    void PublishOverlaySettings();
    // Any thread: the last published snapshot, never null, never changed after publication.
    [[nodiscard]] std::shared_ptr<const OverlaySettings> GetOverlaySettings() const;

    // The time-stamp authorities and their interval from section [证据]: an absent server key
    // means the public authorities below, an empty one stamping off. Root files are read from the
    // program's folder unless given with a full path. These keys are written by hand only.
    [[nodiscard]] StampSettings GetStampSettings() const;
    static constexpr const wchar_t* kDefaultStampServers = L"http://timestamp.digicert.com;http://timestamp.sectigo.com";

    // The settings record.
    std::wstring m_strAppDir;
    std::wstring m_strStoragePath;
    int m_nRetentionMinutes = 0;
    int m_bAutoRecord = 0;
    int m_nTimeZone2 = 0;
    std::wstring m_strName;
    std::wstring m_strPlatform;
    std::wstring m_strAccount;
    int m_bAutoClearOtherFiles = 0;
    std::optional<std::wstring> m_strStampServers;  // nothing: the key is absent
    int m_nStampIntervalMinutes = 10;
    std::wstring m_strStampRoots;
    ULONG_PTR m_gdiplusToken = 0;

private:
    void LoadSettings();
    void SaveSettings();
    [[nodiscard]] std::wstring ExpectedRunData() const;

    CProfileFile m_profile;
    std::wstring m_strExecutablePath;
    std::atomic<std::shared_ptr<const OverlaySettings>> m_pOverlay;
};
