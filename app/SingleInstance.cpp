#include "app/SingleInstance.h"

CSingleInstance::~CSingleInstance()
{
    if (m_bOwner)
        (void)::ReleaseMutex(m_hMutex.Get());
}

bool CSingleInstance::Claim()
{
    // Owned, not just created: a later start can then wait for this one's end.
    m_hMutex.Reset(::CreateMutexW(nullptr, TRUE, kMutexName));
    m_bOwner = m_hMutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
    // Without the mutex at all (no rights, no memory) recording alone is better than no recording.
    return !m_hMutex || m_bOwner;
}

bool CSingleInstance::WaitForRunningToEnd(DWORD waitMs)
{
    if (!m_hMutex)
        return true;
    // Abandoned: the holder ended without letting go (a crash, a kill), which is an end all the same.
    const DWORD result = ::WaitForSingleObject(m_hMutex.Get(), waitMs);
    m_bOwner = m_bOwner || result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return m_bOwner;
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

void CSingleInstance::UnmarkMainWindow(HWND hWnd)
{
    (void)::RemovePropW(hWnd, kMainWindowProperty);
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
