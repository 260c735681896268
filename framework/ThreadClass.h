#pragma once

// Base of the program's long-lived worker threads (recording, network time): an object becomes a
// thread body through the virtual Run, started by the fixed routine ThreadEntry with an optional
// COM bracket around it.
//
// Threads: the starter (the main window) writes m_bInitCom and m_hNotifyWnd before CreateThread, so
// the new thread reads them without a lock, and then stores the handle into m_hThread, which only
// the owner's thread touches afterwards. Fields shared with the body at run time belong to the
// derived class, which names their protection.
//
// Starting is done by the owner, not by a method of the class:
//     worker.m_bInitCom = 1;
//     worker.m_hNotifyWnd = hwndMain;
//     worker.m_hThread.Reset(::CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &worker, 0, nullptr));

#include <windows.h>

#include "framework/Handles.h"

class CThreadClass {
public:
    // The exit code of a thread whose Run let an exception escape (no exception leaves the entry).
    static constexpr DWORD kExitCodeRunThrew = 0xFFFFFFFFu;

    CThreadClass() noexcept = default;
    virtual ~CThreadClass() = default;
    CThreadClass(const CThreadClass&) = delete;
    CThreadClass& operator=(const CThreadClass&) = delete;

    // The thread body; its result becomes the thread's exit code.
    virtual int Run();

    // Win32 start routine; the parameter is the CThreadClass object.
    static DWORD WINAPI ThreadEntry(LPVOID parameter) noexcept;

    // Nonzero: COM is initialised on the thread before Run and released after it.
    int m_bInitCom = 0;
    // The thread running this object; kept until the object itself goes away.
    lumeno::UniqueHandle m_hThread;
    // The window that receives the thread's notifications (posted, never sent).
    HWND m_hNotifyWnd = nullptr;
};
