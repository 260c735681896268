#pragma once

// CCreationHook: while it lives, the next window the thread creates is attached to a given CWnd at
// the very start of its creation (a thread-local CBT hook, HCBT_CREATEWND), so the object's
// PreSubclassWindow runs before WM_NCCREATE and WM_CREATE reaches its OnCreate. Dialogs use it
// around DialogBoxParamW/CreateDialogParamW, CWnd::CreateEx around CreateWindowExW. Nesting is
// allowed (a dialog's OnCreate creating buttons); only the innermost pending object is attached.
//
// Threads: thread-local state only; the hook sees windows of the creating thread alone.

#include <windows.h>

class CWnd;

class CCreationHook {
public:
    explicit CCreationHook(CWnd* pWnd);
    ~CCreationHook();
    CCreationHook(const CCreationHook&) = delete;
    CCreationHook& operator=(const CCreationHook&) = delete;

private:
    static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);

    CWnd* m_pPrevious;
    HHOOK m_hHook;
};
