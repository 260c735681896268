#pragma once

// One Lumeno per log-on session. Two recorders in one storage folder would fight over the file
// being written; a second start (a double-click while Lumeno already starts with Windows, say)
// instead brings the running one's main window to the front and ends before it creates anything.
// The first process holds a named mutex for its whole life; its main window carries a property by
// which a later start finds it. Used on the user-interface thread only.

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

    // Takes the session's name; false when another process holds it.
    [[nodiscard]] bool Claim();

    // Asks the running process's main window to show itself in front; false when none was found
    // (the running one may still be in its first settings dialog).
    static bool ActivateRunning();

    // Marks hWnd as the main window that a later start activates.
    static void MarkMainWindow(HWND hWnd);

    // The message that ActivateRunning posts to the main window.
    [[nodiscard]] static UINT ActivateMessage();
    // The message by which another program asks the running one to end.
    [[nodiscard]] static UINT ExitMessage();

private:
    lumeno::UniqueHandle m_hMutex;
};
