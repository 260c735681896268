#include "ui/CreationHook.h"

#include "ui/Wnd.h"

namespace {

thread_local CWnd* t_pPendingWnd = nullptr;

}  // namespace

CCreationHook::CCreationHook(CWnd* pWnd)
    : m_pPrevious(t_pPendingWnd),
      m_hHook(::SetWindowsHookExW(WH_CBT, &CCreationHook::CbtProc, nullptr, ::GetCurrentThreadId()))
{
    t_pPendingWnd = pWnd;
}

CCreationHook::~CCreationHook()
{
    t_pPendingWnd = m_pPrevious;
    if (m_hHook)
        ::UnhookWindowsHookEx(m_hHook);
}

LRESULT CALLBACK CCreationHook::CbtProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && t_pPendingWnd) {
        CWnd* pWnd = t_pPendingWnd;
        // Only the first window: the controls a dialog creates next are not this object's.
        t_pPendingWnd = nullptr;
        try {
            pWnd->Attach(reinterpret_cast<HWND>(wParam), true);
        } catch (...) {
            // The window is then created without its object; the caller sees m_hWnd stay empty.
        }
    }
    // The hook handle is not needed by CallNextHookEx on the NT line of Windows.
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}
