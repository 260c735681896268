#pragma once

// One Lumeno per log-on session. Two recorders in one storage folder would fight over the file
// being written; a second start (a double-click while Lumeno already starts with Windows, say)
// instead brings the running one's main window to the front and ends before it creates anything.
// The first process owns a named mutex for its whole life; its main window carries a property by
// which a later start finds it, until it starts to end. A start that finds the name taken but no
// window waits a few seconds for the owner to end, so that a start during an exit still records.
// Used on the user-interface thread only (mutex ownership is the thread's).

#include "framework/Handles.h"

#include <windows.h>

class CSingleInstance {
public:
    static constexpr const wchar_t* kMutexName = L"Local\\Lumeno.SingleInstance";
    static constexpr const wchar_t* kMainWindowProperty = L"Lumeno.MainWindow";
    static constexpr const wchar_t* kActivateMessageName = L"Lumeno.Activate";
    // Asks the running program to end through its own exit path (the file being written is
    // finished first); the installer sends it before replacing the program.
    static constexpr const wchar_t* kExitMessageName = L"Lumeno.Exit";

    // How long a start waits for a running one that is ending: finishing its file and seals.
    static constexpr DWORD kEndingWaitMs = 10000;

    CSingleInstance() = default;
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;
    // Hands the name on as soon as this process is done, not only when its thread ends.
    ~CSingleInstance();

    // Takes the session's name; false when another process holds it.
    [[nodiscard]] bool Claim();
    // After a failed Claim: waits until the holder has ended and takes the name; false when it
    // still holds it after waitMs.
    [[nodiscard]] bool WaitForRunningToEnd(DWORD waitMs);

    // Asks the running process's main window to show itself in front; false when none was found
    // (the running one may still be in its first settings dialog).
    static bool ActivateRunning();

    // Marks hWnd as the main window that a later start activates; unmarked when the program starts
    // to end, so that a later start waits for the end instead of asking a window that is going.
    static void MarkMainWindow(HWND hWnd);
    static void UnmarkMainWindow(HWND hWnd);

    // The message that ActivateRunning posts to the main window.
    [[nodiscard]] static UINT ActivateMessage();
    // The message by which another program asks the running one to end.
    [[nodiscard]] static UINT ExitMessage();

private:
    lumeno::UniqueHandle m_hMutex;
    bool m_bOwner = false;
};
