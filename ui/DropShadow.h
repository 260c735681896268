#pragma once

// CDropShadow: the soft drop shadow of a frameless top-level window (the parent). A layered,
// click-through popup owned by the parent shows a 32-bit premultiplied bitmap: the parent's outline
// blurred and offset, transparent where the parent itself lies. The parent's window procedure is
// replaced (subclassed) so the shadow follows moves, sizes, showing and hiding; the bitmap is rebuilt
// only when the parent becomes visible, shrinks, ends a move/size loop, or at the first WM_PAINT
// after it was shown or grown, never on a plain move. While desktop composition is on, the shadow
// stays hidden.
//
// Threads: UI thread only; the registry s_shadowMap and the class-wide data are not locked.

#include <windows.h>

#include <map>

class CDropShadow {
public:
    static constexpr BYTE SHADOW_ENABLED = 0x1;
    static constexpr BYTE SHADOW_VISIBLE = 0x2;
    static constexpr BYTE SHADOW_DWM_DISABLED = 0x8;

    using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
    using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);

    CDropShadow() = default;
    // Neither destroys the shadow window nor gives the parent its procedure back: both end with the
    // parent (WM_DESTROY, WM_NCDESTROY).
    virtual ~CDropShadow() = default;
    CDropShadow(const CDropShadow&) = delete;
    CDropShadow& operator=(const CDropShadow&) = delete;

    // Once at start-up, before any window: false when layered windows are unavailable (every Attach
    // then does nothing) or when already done.
    static bool RegisterShadowClass(HINSTANCE hInstance);

    void Attach(HWND hParent);
    // Rebuilds the bitmap from the parent's current rectangle and region and puts it on screen.
    void Redraw(HWND hParent);
    // Fills the zeroed bottom-up pixels of a (W + 2 × size) × (H + 2 × size) bitmap for the parent.
    void RenderShadowBitmap(UINT32* pBits, HWND hParent, const RECT& rcParent);
    void RefreshVisibility(HWND hParent, BOOL bParentShowing);

    static LRESULT CALLBACK ParentSubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    // For inspection (tests and diagnostics).
    [[nodiscard]] HWND ShadowWindow() const noexcept { return m_hShadowWnd; }
    [[nodiscard]] BYTE Status() const noexcept { return m_nStatus; }
    [[nodiscard]] unsigned RedrawCount() const noexcept { return m_nRedrawCount; }
    [[nodiscard]] static CDropShadow* FindAttached(HWND hParent);
    // Replaces the desktop composition query (nullptr: composition counts as off); returns the old one.
    static DwmIsCompositionEnabledFn ReplaceCompositionQuery(DwmIsCompositionEnabledFn pfn) noexcept;

private:
    [[nodiscard]] bool IsActive() const noexcept
    {
        return (m_nStatus & SHADOW_ENABLED) && !(m_nStatus & SHADOW_DWM_DISABLED);
    }
    [[nodiscard]] static bool CompositionEnabled();
    void OnParentSize(HWND hParent, WPARAM wParam, LPARAM lParam);
    void MoveBesideParent(HWND hParent);

    HWND m_hShadowWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));
    WNDPROC m_pfnOrigParentProc = nullptr;
    BYTE m_nStatus = 0;
    BYTE m_nDarkness = 150;
    BYTE m_nSharpness = 5;
    signed char m_nSize = 0;
    signed char m_nOffsetX = 5;
    signed char m_nOffsetY = 5;
    DWORD m_nLastParentSize = 0;
    bool m_bUpdatePending = false;
    COLORREF m_clrShadow = RGB(0, 0, 0);
    unsigned m_nRedrawCount = 0;

    static UpdateLayeredWindowFn s_pfnUpdateLayeredWindow;
    static DwmIsCompositionEnabledFn s_pfnDwmIsCompositionEnabled;
    static HINSTANCE s_hInstance;
    static std::map<HWND, CDropShadow*> s_shadowMap;
};
