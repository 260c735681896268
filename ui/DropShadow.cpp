#include "ui/DropShadow.h"

#include <cstring>
#include <vector>

#include "framework/Handles.h"
#include "ui/ShadowBitmap.h"

namespace {

constexpr wchar_t kShadowClassName[] = L"VexaShadowWnd";
constexpr DWORD kSizeStateMask = WS_MAXIMIZE | WS_MINIMIZE;  // 0x21000000

DWORD WindowStyle(HWND hWnd)
{
    return static_cast<DWORD>(::GetWindowLongPtrW(hWnd, GWL_STYLE));
}

}  // namespace

CDropShadow::UpdateLayeredWindowFn CDropShadow::s_pfnUpdateLayeredWindow = nullptr;
CDropShadow::DwmIsCompositionEnabledFn CDropShadow::s_pfnDwmIsCompositionEnabled = nullptr;
HINSTANCE CDropShadow::s_hInstance = nullptr;
std::map<HWND, CDropShadow*> CDropShadow::s_shadowMap;

bool CDropShadow::RegisterShadowClass(HINSTANCE hInstance)
{
    if (s_pfnUpdateLayeredWindow)
        return false;
    const HMODULE hUser32 = ::GetModuleHandleW(L"USER32.DLL");
    if (!hUser32)
        return false;
    s_pfnUpdateLayeredWindow = reinterpret_cast<UpdateLayeredWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(hUser32, "UpdateLayeredWindow")));
    if (!s_pfnUpdateLayeredWindow)
        return false;
    // Kept for the life of the process: the query may be called until the last window is gone.
    static lumeno::UniqueModule s_dwmapi(::LoadLibraryW(L"dwmapi.dll"));
    if (s_dwmapi) {
        s_pfnDwmIsCompositionEnabled = reinterpret_cast<DwmIsCompositionEnabledFn>(
            reinterpret_cast<void*>(::GetProcAddress(s_dwmapi.Get(), "DwmIsCompositionEnabled")));
    }
    s_hInstance = hInstance;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_VREDRAW | CS_HREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kShadowClassName;
    (void)::RegisterClassExW(&wc);  // a class left from an earlier registration serves as well
    return true;
}

CDropShadow* CDropShadow::FindAttached(HWND hParent)
{
    const auto it = s_shadowMap.find(hParent);
    return it == s_shadowMap.end() ? nullptr : it->second;
}

CDropShadow::DwmIsCompositionEnabledFn CDropShadow::ReplaceCompositionQuery(DwmIsCompositionEnabledFn pfn) noexcept
{
    const DwmIsCompositionEnabledFn previous = s_pfnDwmIsCompositionEnabled;
    s_pfnDwmIsCompositionEnabled = pfn;
    return previous;
}

bool CDropShadow::CompositionEnabled()
{
    BOOL enabled = FALSE;
    return s_pfnDwmIsCompositionEnabled && SUCCEEDED(s_pfnDwmIsCompositionEnabled(&enabled)) && enabled;
}

void CDropShadow::Attach(HWND hParent)
{
    if (!s_pfnUpdateLayeredWindow)
        return;
    s_shadowMap[hParent] = this;
    m_hShadowWnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClassName, nullptr, WS_POPUPWINDOW,
                                     CW_USEDEFAULT, 0, 0, 0, hParent, nullptr, s_hInstance, nullptr);
    m_nStatus = SHADOW_ENABLED;
    if (CompositionEnabled())
        m_nStatus |= SHADOW_DWM_DISABLED;
    // Shown only when the parent already is (a dialog usually is not yet: its first WM_SHOWWINDOW shows it).
    RefreshVisibility(hParent, FALSE);
    m_pfnOrigParentProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDropShadow::ParentSubclassProc)));
}

void CDropShadow::RefreshVisibility(HWND hParent, BOOL bParentShowing)
{
    m_nStatus &= static_cast<BYTE>(~SHADOW_VISIBLE);
    if (IsActive()) {
        const DWORD style = WindowStyle(hParent);
        if ((bParentShowing || (style & WS_VISIBLE)) && !(style & kSizeStateMask))
            m_nStatus |= SHADOW_VISIBLE;
    }
    if (m_nStatus & SHADOW_VISIBLE) {
        ::ShowWindow(m_hShadowWnd, SW_SHOWNA);
        Redraw(hParent);
    } else {
        ::ShowWindow(m_hShadowWnd, SW_HIDE);
    }
}

void CDropShadow::MoveBesideParent(HWND hParent)
{
    RECT rc{};
    ::GetWindowRect(hParent, &rc);
    ::SetWindowPos(m_hShadowWnd, nullptr, rc.left + m_nOffsetX - m_nSize, rc.top + m_nOffsetY - m_nSize, 0, 0,
                   SWP_NOSIZE | SWP_NOACTIVATE);
}

void CDropShadow::OnParentSize(HWND hParent, WPARAM wParam, LPARAM lParam)
{
    const auto newSize = static_cast<DWORD>(lParam);
    if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXIMIZED) {
        ::ShowWindow(m_hShadowWnd, SW_HIDE);
        m_nStatus &= static_cast<BYTE>(~SHADOW_VISIBLE);
    } else if (WindowStyle(hParent) & WS_VISIBLE) {
        if (!(m_nStatus & SHADOW_VISIBLE)) {
            m_nStatus |= SHADOW_VISIBLE;
            Redraw(hParent);
            ::ShowWindow(m_hShadowWnd, SW_SHOWNA);
            m_bUpdatePending = true;
        } else if (LOWORD(newSize) > LOWORD(m_nLastParentSize) || HIWORD(newSize) > HIWORD(m_nLastParentSize)) {
            // Growing by a drag sends a stream of sizes; rebuilding waits for the next paint.
            m_bUpdatePending = true;
        } else {
            Redraw(hParent);
        }
    }
    m_nLastParentSize = newSize;
}

LRESULT CALLBACK CDropShadow::ParentSubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDropShadow* pShadow = FindAttached(hWnd);
    if (!pShadow)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    const WNDPROC pfnOrig = pShadow->m_pfnOrigParentProc;
    try {
        switch (message) {
            case WM_DESTROY:
                ::DestroyWindow(pShadow->m_hShadowWnd);
                break;
            case WM_MOVE:
                if (pShadow->m_nStatus & SHADOW_VISIBLE)
                    pShadow->MoveBesideParent(hWnd);
                break;
            case WM_SIZE:
                if (pShadow->IsActive())
                    pShadow->OnParentSize(hWnd, wParam, lParam);
                break;
            case WM_PAINT:
                if (pShadow->m_bUpdatePending) {
                    pShadow->Redraw(hWnd);
                    pShadow->m_bUpdatePending = false;
                }
                break;
            case WM_SHOWWINDOW:
                if (pShadow->IsActive()) {
                    const LRESULT result = ::CallWindowProcW(pfnOrig, hWnd, message, wParam, lParam);
                    if (wParam) {
                        pShadow->m_bUpdatePending = true;
                        pShadow->RefreshVisibility(hWnd, TRUE);
                    } else {
                        ::ShowWindow(pShadow->m_hShadowWnd, SW_HIDE);
                        pShadow->m_nStatus &= static_cast<BYTE>(~SHADOW_VISIBLE);
                    }
                    return result;
                }
                break;
            case WM_NCDESTROY:
                s_shadowMap.erase(hWnd);
                break;
            case WM_EXITSIZEMOVE:
                if (pShadow->m_nStatus & SHADOW_VISIBLE)
                    pShadow->Redraw(hWnd);
                break;
            case WM_DWMCOMPOSITIONCHANGED:
                if (CompositionEnabled())
                    pShadow->m_nStatus |= SHADOW_DWM_DISABLED;
                else
                    pShadow->m_nStatus &= static_cast<BYTE>(~SHADOW_DWM_DISABLED);
                pShadow->RefreshVisibility(hWnd, FALSE);
                break;
            default:
                break;
        }
    } catch (...) {
        // A shadow that could not be redrawn keeps its previous look; the parent goes on.
    }
    return ::CallWindowProcW(pfnOrig, hWnd, message, wParam, lParam);
}

void CDropShadow::Redraw(HWND hParent)
{
    RECT rc{};
    ::GetWindowRect(hParent, &rc);
    const int shadowWidth = (rc.right - rc.left) + 2 * m_nSize;
    const int shadowHeight = (rc.bottom - rc.top) + 2 * m_nSize;
    if (shadowWidth <= 0 || shadowHeight <= 0)
        return;

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = shadowWidth;
    bmi.bmiHeader.biHeight = shadowHeight;  // bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = static_cast<DWORD>(shadowWidth) * static_cast<DWORD>(shadowHeight) * 4;
    void* pBits = nullptr;
    lumeno::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    if (!bitmap || !pBits)
        return;
    std::memset(pBits, 0, bmi.bmiHeader.biSizeImage);
    RenderShadowBitmap(static_cast<UINT32*>(pBits), hParent, rc);
    ++m_nRedrawCount;

    lumeno::UniqueMemoryDc memoryDc(::CreateCompatibleDC(nullptr));
    if (!memoryDc)
        return;
    lumeno::SelectGuard select(memoryDc.Get(), bitmap.Get());
    POINT destination{rc.left + m_nOffsetX - m_nSize, rc.top + m_nOffsetY - m_nSize};
    SIZE size{shadowWidth, shadowHeight};
    ::MoveWindow(m_hShadowWnd, destination.x, destination.y, shadowWidth, shadowHeight, FALSE);
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    (void)s_pfnUpdateLayeredWindow(m_hShadowWnd, nullptr, &destination, &size, memoryDc.Get(), &source, 0, &blend,
                                   ULW_ALPHA);
}

void CDropShadow::RenderShadowBitmap(UINT32* pBits, HWND hParent, const RECT& rcParent)
{
    const int width = rcParent.right - rcParent.left;
    const int height = rcParent.bottom - rcParent.top;
    if (width <= 0 || height <= 0)
        return;
    // The parent's shape: its window region, or the whole rectangle when it has none.
    lumeno::UniqueRegion region(::CreateRectRgn(0, 0, width, height));
    if (!region)
        return;
    (void)::GetWindowRgn(hParent, region.Get());
    std::vector<ShadowSpan> rows(static_cast<size_t>(height), ShadowSpan{width, 0});
    for (int y = 0; y < height; ++y) {
        int first = 0;
        while (first < width && !::PtInRegion(region.Get(), first, y))
            ++first;
        if (first == width)
            continue;
        int last = width - 1;
        while (last > first && !::PtInRegion(region.Get(), last, y))
            --last;
        rows[static_cast<size_t>(y)] = ShadowSpan{first, last + 1};
    }
    const ShadowParams params{m_nSize, m_nSharpness, m_nDarkness, m_nOffsetX, m_nOffsetY, m_clrShadow};
    RenderShadowPixels(pBits, width, rows, params);
}
