#include "app/SingleInstance.h"

bool CSingleInstance::Claim()
{
    m_hMutex.Reset(::CreateMutexW(nullptr, FALSE, kMutexName));
    // Without the mutex at all (no rights, no memory) recording alone is better than no recording.
    return !m_hMutex || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

namespace {

BOOL CALLBACK FindMarkedWindow(HWND hWnd, LPARAM found)
{
    if (!::GetPropW(hWnd, CSingleInstance::kMainWindowProperty))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = hWnd;
    return FALSE;
}

}  // namespace

bool CSingleInstance::ActivateRunning()
{
    HWND main = nullptr;
    ::EnumWindows(&FindMarkedWindow, reinterpret_cast<LPARAM>(&main));
    if (!main)
        return false;
    // This process was just started by the user and may hand the foreground on.
    DWORD processId = 0;
    ::GetWindowThreadProcessId(main, &processId);
    (void)::AllowSetForegroundWindow(processId);
    return ::PostMessageW(main, ActivateMessage(), 0, 0) != FALSE;
}

void CSingleInstance::MarkMainWindow(HWND hWnd)
{
    (void)::SetPropW(hWnd, kMainWindowProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

UINT CSingleInstance::ActivateMessage()
{
    static const UINT message = ::RegisterWindowMessageW(kActivateMessageName);
    return message;
}

UINT CSingleInstance::ExitMessage()
{
    static const UINT message = ::RegisterWindowMessageW(kExitMessageName);
    return message;
}
