#include "ui/Wnd.h"

#include <vector>

#include "ui/CreationHook.h"

namespace {

// The object and the procedure it replaced, carried by the window itself.
constexpr wchar_t kObjectProp[] = L"Lumeno.CWnd.Object";
constexpr wchar_t kSuperProp[] = L"Lumeno.CWnd.Super";

HANDLE ProcToProp(WNDPROC proc)
{
    return reinterpret_cast<HANDLE>(reinterpret_cast<INT_PTR>(proc));
}
WNDPROC PropToProc(HANDLE prop)
{
    return reinterpret_cast<WNDPROC>(reinterpret_cast<INT_PTR>(prop));
}

// Signed client or screen coordinates, as windowsx.h's GET_X_LPARAM/GET_Y_LPARAM read them.
POINT PointFromLParam(LPARAM lParam)
{
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

BOOL ModifyStyleBits(HWND hWnd, int index, DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hWnd, index));
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongPtrW(hWnd, index, static_cast<LONG_PTR>(newStyle));
    if (nFlags != 0)
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

}  // namespace

CWnd::~CWnd()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        const HWND hWnd = m_hWnd;
        Detach(false);
        ::DestroyWindow(hWnd);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) noexcept
{
    return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kObjectProp)) : nullptr;
}

void CWnd::Attach(HWND hWnd, bool bCreating)
{
    m_hWnd = hWnd;
    ::SetPropW(hWnd, kObjectProp, this);
    m_creationStyleChanges = StyleChanges{};
    m_bRecordStyleChanges = bCreating;
    try {
        PreSubclassWindow();
    } catch (...) {
        m_bRecordStyleChanges = false;
        throw;
    }
    m_bRecordStyleChanges = false;
    m_bReapplyStyleChanges = bCreating;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StdWndProc)));
    ::SetPropW(hWnd, kSuperProp, ProcToProp(m_pfnSuper));
}

void CWnd::Detach(bool bDestroyed)
{
    if (!m_hWnd)
        return;
    const bool onTop = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == &CWnd::StdWndProc;
    if (!bDestroyed && onTop)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    // When another procedure sits above ours, ours stays in the chain and forwards through the
    // saved previous procedure, so that property has to stay while the window lives.
    if (bDestroyed || onTop)
        ::RemovePropW(m_hWnd, kSuperProp);
    ::RemovePropW(m_hWnd, kObjectProp);
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (m_hWnd || !hWnd || !::IsWindow(hWnd) || FromHandlePermanent(hWnd))
        return FALSE;
    Attach(hWnd);
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    return pParent && SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)));
}

HWND CWnd::UnsubclassWindow()
{
    if (!m_hWnd || reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) != &CWnd::StdWndProc)
        return nullptr;
    const HWND hWnd = m_hWnd;
    Detach(false);
    return hWnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    HWND hWndParent, UINT nID)
{
    if (m_hWnd)
        return FALSE;
    const auto menuOrId = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
    HWND hWnd = nullptr;
    {
        CCreationHook hook(this);
        hWnd = ::CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, hWndParent, menuOrId,
                                 ::GetModuleHandleW(nullptr), nullptr);
    }
    return hWnd != nullptr && m_hWnd == hWnd;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

LRESULT CALLBACK CWnd::StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (!pWnd) {
        // The object let go of the window while our procedure stayed in the chain: pass everything on.
        const WNDPROC super = PropToProc(::GetPropW(hWnd, kSuperProp));
        const LRESULT result = super ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                                     : ::DefWindowProcW(hWnd, message, wParam, lParam);
        if (message == WM_NCDESTROY)
            ::RemovePropW(hWnd, kSuperProp);
        return result;
    }

    if (message == WM_NCCREATE && pWnd->m_bReapplyStyleChanges) {
        pWnd->m_bReapplyStyleChanges = false;
        const StyleChanges& changes = pWnd->m_creationStyleChanges;
        (void)ModifyStyleBits(hWnd, GWL_STYLE, changes.remove, changes.add, 0);
        (void)ModifyStyleBits(hWnd, GWL_EXSTYLE, changes.removeEx, changes.addEx, 0);
    }

    const CurrentMessage saved = pWnd->m_current;
    pWnd->m_current = CurrentMessage{message, wParam, lParam};
    LRESULT result = 0;
    try {
        result = pWnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        // A failed handler must not unwind into USER32; the window gets its default processing.
        result = pWnd->Default();
    }
    pWnd->m_current = saved;

    if (message == WM_NCDESTROY) {
        pWnd->Detach(true);
        try {
            pWnd->PostNcDestroy();
        } catch (...) {
        }
    }
    return result;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_CREATE:
            return OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_ERASEBKGND:
            return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
        case WM_NCHITTEST:
            return OnNcHitTest(PointFromLParam(lParam));
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(
                OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message - WM_CTLCOLORMSGBOX));
        case WM_COMMAND:
            return OnCommand(wParam, lParam) ? 0 : Default();
        case WM_NOTIFY: {
            LRESULT result = 0;
            return OnNotify(wParam, lParam, &result) ? result : Default();
        }
        case WM_MOUSEMOVE:
            OnMouseMove(static_cast<UINT>(wParam), PointFromLParam(lParam));
            return 0;
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<UINT>(wParam), PointFromLParam(lParam));
            return 0;
        case WM_LBUTTONUP:
            OnLButtonUp(static_cast<UINT>(wParam), PointFromLParam(lParam));
            return 0;
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return 0;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_SYSCOMMAND:
            OnSysCommand(static_cast<UINT>(wParam), lParam);
            return 0;
        case WM_ENDSESSION:
            OnEndSession(static_cast<BOOL>(wParam));
            return 0;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(OnQueryDragIcon());
        case WM_DRAWITEM:
            return DispatchDrawItem(lParam);
        default:
            return Default();
    }
}

LRESULT CWnd::DispatchDrawItem(LPARAM lParam)
{
    auto* pDrawItem = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
    if (pDrawItem && pDrawItem->CtlType != ODT_MENU) {
        if (CWnd* pControl = FromHandlePermanent(pDrawItem->hwndItem)) {
            pControl->DrawItem(pDrawItem);
            return TRUE;
        }
    }
    return Default();
}

int CWnd::OnCreate(LPCREATESTRUCTW)
{
    return static_cast<int>(Default());
}
void CWnd::OnDestroy()
{
    (void)Default();
}
void CWnd::OnPaint()
{
    (void)Default();
}
BOOL CWnd::OnEraseBkgnd(HDC)
{
    return static_cast<BOOL>(Default());
}
LRESULT CWnd::OnNcHitTest(POINT)
{
    return Default();
}
HBRUSH CWnd::OnCtlColor(HDC, HWND, UINT)
{
    return reinterpret_cast<HBRUSH>(Default());
}
BOOL CWnd::OnCommand(WPARAM, LPARAM)
{
    return FALSE;
}
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}
void CWnd::OnMouseMove(UINT, POINT)
{
    (void)Default();
}
void CWnd::OnLButtonDown(UINT, POINT)
{
    (void)Default();
}
void CWnd::OnLButtonUp(UINT, POINT)
{
    (void)Default();
}
void CWnd::OnMouseLeave()
{
    (void)Default();
}
void CWnd::OnTimer(UINT_PTR)
{
    (void)Default();
}
void CWnd::OnClose()
{
    (void)Default();
}
void CWnd::OnSysCommand(UINT, LPARAM)
{
    (void)Default();
}
void CWnd::OnEndSession(BOOL)
{
    (void)Default();
}
HCURSOR CWnd::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(Default());
}
void CWnd::DrawItem(LPDRAWITEMSTRUCT) {}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    if (m_bRecordStyleChanges) {
        m_creationStyleChanges.remove = (m_creationStyleChanges.remove | dwRemove) & ~dwAdd;
        m_creationStyleChanges.add = (m_creationStyleChanges.add | dwAdd) & ~dwRemove;
    }
    return ModifyStyleBits(m_hWnd, GWL_STYLE, dwRemove, dwAdd, nFlags);
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    if (m_bRecordStyleChanges) {
        m_creationStyleChanges.removeEx = (m_creationStyleChanges.removeEx | dwRemove) & ~dwAdd;
        m_creationStyleChanges.addEx = (m_creationStyleChanges.addEx | dwAdd) & ~dwRemove;
    }
    return ModifyStyleBits(m_hWnd, GWL_EXSTYLE, dwRemove, dwAdd, nFlags);
}

DWORD CWnd::GetStyle() const
{
    return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const
{
    return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
}

std::wstring CWnd::GetWindowText() const
{
    const int length = ::GetWindowTextLengthW(m_hWnd);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

void CWnd::SetWindowText(LPCWSTR text)
{
    ::SetWindowTextW(m_hWnd, text);
}
HWND CWnd::GetDlgItem(int nID) const
{
    return ::GetDlgItem(m_hWnd, nID);
}
HWND CWnd::GetParent() const
{
    return ::GetParent(m_hWnd);
}

RECT CWnd::GetClientRect() const
{
    RECT rc{};
    ::GetClientRect(m_hWnd, &rc);
    return rc;
}

RECT CWnd::GetWindowRect() const
{
    RECT rc{};
    ::GetWindowRect(m_hWnd, &rc);
    return rc;
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}
BOOL CWnd::EnableWindow(BOOL bEnable)
{
    return ::EnableWindow(m_hWnd, bEnable);
}
BOOL CWnd::IsWindowEnabled() const
{
    return ::IsWindowEnabled(m_hWnd);
}
BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}
void CWnd::Invalidate(BOOL bErase)
{
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

int CWnd::MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption, UINT nType)
{
    return ::MessageBoxW(m_hWnd, lpszText, lpszCaption, nType);
}
