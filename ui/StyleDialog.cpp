#include "ui/StyleDialog.h"

#include "framework/PointFont.h"

#include <string>

#include "res/resource.h"

namespace {

constexpr COLORREF kCaptionColour = RGB(19, 179, 253);
constexpr COLORREF kBodyColour = RGB(236, 236, 236);
constexpr COLORREF kTitleColour = RGB(255, 255, 255);
constexpr int kIconSize = 28;
constexpr int kCaptionButtonsWidth = 42;  // the right end of the caption that does not drag
constexpr DWORD kStyleCaptionAndFrame = WS_CAPTION | DS_MODALFRAME | DS_3DLOOK;  // 0x00C00084


}  // namespace

CStyleDialog::CStyleDialog(UINT nIDTemplate) : CDialog(nIDTemplate, nullptr)
{
    InitResources();
}

CStyleDialog::CStyleDialog(const DLGTEMPLATE* pTemplate) : CDialog(pTemplate, nullptr)
{
    InitResources();
}

void CStyleDialog::InitResources()
{
    m_fontTitle = lumeno::CreatePointFont(120, L"黑体");
    m_brushBody.Reset(::CreateSolidBrush(kBodyColour));
}

void CStyleDialog::PreSubclassWindow()
{
    CDialog::PreSubclassWindow();
    // The whole window becomes client area; the caption is painted by the dialog itself.
    (void)ModifyStyle(kStyleCaptionAndFrame, 0, 0);
    (void)ModifyStyleEx(WS_EX_DLGMODALFRAME, 0, 0);
}

int CStyleDialog::OnCreate(LPCREATESTRUCTW lpCreateStruct)
{
    if (CDialog::OnCreate(lpCreateStruct) == -1)
        return -1;
    const int cx = lpCreateStruct->cx;
    const int cy = lpCreateStruct->cy;
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, cx, cy + m_nTitleHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW);
    int frameWidth = 0;
    int frameHeight = 0;
    // A strip that cannot be loaded leaves its button out; the caption works without it.
    (void)m_btnCaption[0].CreateFromStrip(IDB_CLOSE, cx - 20, this, &frameWidth, &frameHeight);
    (void)m_btnCaption[1].CreateFromStrip(IDB_MINIMIZE, cx - 42, this, &frameWidth, &frameHeight);
    return 0;
}

void CStyleDialog::PreInitDialog()
{
    OffsetChildren(m_hWnd);
    m_shadow.Attach(m_hWnd);
}

void CStyleDialog::OffsetChildren(HWND hWnd)
{
    for (HWND child = ::GetWindow(hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (child != m_btnCaption[0].m_hWnd && child != m_btnCaption[1].m_hWnd) {
            RECT rc{};
            ::GetWindowRect(child, &rc);
            ::MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rc), 2);
            ::OffsetRect(&rc, 0, m_nTitleHeight);
            ::MoveWindow(child, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
        }
        OffsetChildren(child);
    }
}

void CStyleDialog::RemoveMinimizeButton()
{
    if (m_dwStyleFlags & STYLE_NO_MINIMIZE)
        return;
    m_dwStyleFlags |= STYLE_NO_MINIMIZE;
    (void)m_btnCaption[1].DestroyWindow();
    Invalidate(TRUE);
}

BOOL CStyleDialog::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (wParam != IDC_IMGBTN)
        return CDialog::OnNotify(wParam, lParam, pResult);
    *pResult = 0;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && header->code == IMGBN_CLICKED) {
        if (header->hwndFrom && header->hwndFrom == m_btnCaption[0].m_hWnd)
            SendMessage(WM_CLOSE);
        else if (header->hwndFrom && header->hwndFrom == m_btnCaption[1].m_hWnd &&
                 !(m_dwStyleFlags & STYLE_NO_MINIMIZE))
            ShowWindow(SW_MINIMIZE);
    }
    return TRUE;
}

BOOL CStyleDialog::OnEraseBkgnd(HDC)
{
    return TRUE;  // OnPaint covers the whole client area
}

LRESULT CStyleDialog::OnNcHitTest(POINT ptScreen)
{
    POINT pt = ptScreen;
    ::ScreenToClient(m_hWnd, &pt);
    const RECT rc = GetClientRect();
    if (pt.y < m_nTitleHeight && pt.x < rc.right - kCaptionButtonsWidth)
        return HTCAPTION;
    return Default();
}

HBRUSH CStyleDialog::OnCtlColor(HDC hdc, HWND, UINT nCtlColor)
{
    if (nCtlColor != CTLCOLOR_EDIT)
        ::SetBkMode(hdc, TRANSPARENT);
    return m_brushBody.Get();
}

int CStyleDialog::DrawClientArea(HDC, RECT)
{
    return 0;
}

void CStyleDialog::OnPaint()
{
    const lumeno::PaintDc dc(m_hWnd);
    const HDC hdc = dc.Get();
    const RECT rc = GetClientRect();

    const RECT band{rc.left, rc.top, rc.right, m_nTitleHeight};
    {
        const lumeno::UniqueBrush captionBrush(::CreateSolidBrush(kCaptionColour));
        ::FillRect(hdc, &band, captionBrush.Get());
    }

    RECT textRect = band;
    const auto hIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_SMALL, 0));
    if (hIcon) {
        ::DrawIconEx(hdc, 1, 1, hIcon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
        textRect.left += 36;
    } else {
        textRect.left += 5;
    }
    textRect.right -= 34;

    {
        const lumeno::SelectGuard font(hdc, m_fontTitle.Get());
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, kTitleColour);
        const std::wstring title = GetWindowText();
        ::DrawTextW(hdc, title.c_str(), static_cast<int>(title.size()), &textRect, DT_SINGLELINE | DT_VCENTER);
    }

    const RECT body{rc.left, rc.top + m_nTitleHeight, rc.right, rc.bottom};
    ::FillRect(hdc, &body, m_brushBody.Get());
    (void)DrawClientArea(hdc, body);
}
