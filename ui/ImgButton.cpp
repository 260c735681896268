#include "ui/ImgButton.h"

#include <gdiplus.h>
#include <objidl.h>

#include "res/resource.h"
#include "framework/GdiPlusStarter.h"
#include "ui/ResourceImage.h"

namespace {

namespace gp = Gdiplus::DllExports;

constexpr Gdiplus::ARGB kGradientTop = 0xFF64B7D8;
constexpr Gdiplus::ARGB kGradientBottom = 0xFFD2D2D2;

// GDI+ objects of one fill, released in reverse order of creation.
class VerticalGradientFill {
public:
    VerticalGradientFill(HDC hdc, int width, int height)
    {
        if (!lumeno::CGdiPlusStarter::Shared().Start())
            return;
        if (gp::GdipCreateFromHDC(hdc, &m_graphics) != Gdiplus::Ok)
            return;
        const Gdiplus::Rect rect(0, 0, width, height);
        if (gp::GdipCreateLineBrushFromRectI(&rect, kGradientTop, kGradientBottom, Gdiplus::LinearGradientModeVertical,
                                             Gdiplus::WrapModeTile, &m_brush) != Gdiplus::Ok)
            return;
        (void)gp::GdipFillRectangleI(m_graphics, reinterpret_cast<Gdiplus::GpBrush*>(m_brush), 0, 0, width, height);
    }
    ~VerticalGradientFill()
    {
        if (m_brush)
            gp::GdipDeleteBrush(reinterpret_cast<Gdiplus::GpBrush*>(m_brush));
        if (m_graphics)
            gp::GdipDeleteGraphics(m_graphics);
    }
    VerticalGradientFill(const VerticalGradientFill&) = delete;
    VerticalGradientFill& operator=(const VerticalGradientFill&) = delete;

private:
    Gdiplus::GpGraphics* m_graphics = nullptr;
    Gdiplus::GpLineGradient* m_brush = nullptr;
};

void LoadPremultiplied(lumeno::CImage& image, UINT nId)
{
    (void)lumeno::LoadResourceImage(L"PNG", image, nId);  // a missing picture leaves only the background
    lumeno::PremultiplyAlpha(image);
}

}  // namespace

BOOL CImgButton::CreateFromStrip(UINT nResId, int x, CWnd* pParent, int* pcxFrame, int* pcyFrame)
{
    if (!pParent || !lumeno::LoadResourceImage(L"PNG", m_imgStrip, nResId))
        return FALSE;
    lumeno::PremultiplyAlpha(m_imgStrip);
    const int frameWidth = m_imgStrip.GetWidth() / 3;
    const int frameHeight = m_imgStrip.GetHeight();
    if (pcxFrame)
        *pcxFrame = frameWidth;
    if (pcyFrame)
        *pcyFrame = frameHeight;
    return Create(L"", WS_VISIBLE | BS_OWNERDRAW, RECT{x, 2, x + frameWidth, frameHeight + 2}, pParent, 0);
}

void CImgButton::PreSubclassWindow()
{
    CButton::PreSubclassWindow();
    (void)ModifyStyle(0, BS_OWNERDRAW);
    if (!m_bStateImages)
        return;
    LoadPremultiplied(m_imgState[0], m_nImageId);
    if (m_nDisabledImageId != 0)
        LoadPremultiplied(m_imgState[1], m_nDisabledImageId);
}

LRESULT CImgButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Releasing over the non-client area gets the button's own processing only.
    if (message == WM_NCLBUTTONUP)
        return Default();
    return CButton::WindowProc(message, wParam, lParam);
}

int CImgButton::OnCreate(LPCREATESTRUCTW lpCreateStruct)
{
    return CButton::OnCreate(lpCreateStruct) == -1 ? -1 : 0;
}

BOOL CImgButton::OnEraseBkgnd(HDC)
{
    return TRUE;  // DrawItem paints every pixel
}

bool CImgButton::PointInClient(POINT point) const
{
    const RECT rc = GetClientRect();
    return ::PtInRect(&rc, point) != FALSE;
}

void CImgButton::OnMouseMove(UINT, POINT point)
{
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_LEAVE;
    tme.hwndTrack = m_hWnd;
    (void)::TrackMouseEvent(&tme);
    const BOOL hover = PointInClient(point) ? TRUE : FALSE;
    if (hover != m_bHover) {
        m_bHover = hover;
        Invalidate(TRUE);
    }
    (void)Default();
}

void CImgButton::OnMouseLeave()
{
    m_bHover = FALSE;
    Invalidate(TRUE);
    (void)Default();
}

void CImgButton::OnLButtonDown(UINT, POINT)
{
    m_bPressed = TRUE;
    Invalidate(TRUE);
    (void)Default();  // captures the mouse: the standard push button behaviour
}

void CImgButton::OnLButtonUp(UINT, POINT point)
{
    m_bPressed = FALSE;
    Invalidate(TRUE);
    if (PointInClient(point)) {
        NMHDR notify{};
        notify.hwndFrom = m_hWnd;
        notify.idFrom = 0;
        notify.code = IMGBN_CLICKED;
        ::SendMessageW(GetParent(), WM_NOTIFY, IDC_IMGBTN, reinterpret_cast<LPARAM>(&notify));
    }
    (void)Default();  // releases the capture and sends BN_CLICKED
}

void CImgButton::DrawParentBackground(HDC hdc, const RECT& rcInParent)
{
    const int width = rcInParent.right - rcInParent.left;
    const int height = rcInParent.bottom - rcInParent.top;
    if (!m_bmpBack) {
        // Taken once: what the parent painted under the button before the button first drew.
        const lumeno::WindowDc parentDc(GetParent());
        if (!parentDc)
            return;
        m_bmpBack.Reset(::CreateCompatibleBitmap(parentDc.Get(), width, height));
        if (!m_bmpBack)
            return;
        lumeno::UniqueMemoryDc memoryDc(::CreateCompatibleDC(hdc));
        lumeno::SelectGuard select(memoryDc.Get(), m_bmpBack.Get());
        ::BitBlt(memoryDc.Get(), 0, 0, width, height, parentDc.Get(), rcInParent.left, rcInParent.top, SRCCOPY);
    }
    lumeno::UniqueMemoryDc memoryDc(::CreateCompatibleDC(hdc));
    lumeno::SelectGuard select(memoryDc.Get(), m_bmpBack.Get());
    ::BitBlt(hdc, 0, 0, width, height, memoryDc.Get(), 0, 0, SRCCOPY);
}

void CImgButton::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct)
{
    const HDC hdc = lpDrawItemStruct->hDC;
    RECT rc = GetWindowRect();
    ::MapWindowPoints(nullptr, GetParent(), reinterpret_cast<POINT*>(&rc), 2);
    DrawParentBackground(hdc, rc);

    if (m_bStateImages) {
        if (IsWindowEnabled()) {
            if (ShowsGradient())
                const VerticalGradientFill gradient(hdc, rc.right - rc.left, rc.bottom - rc.top);
            (void)m_imgState[0].AlphaBlend(hdc, 0, 0);
        } else {
            (void)m_imgState[1].AlphaBlend(hdc, 0, 0);
        }
        return;
    }

    const RECT& item = lpDrawItemStruct->rcItem;
    const int itemWidth = item.right - item.left;
    const int itemHeight = item.bottom - item.top;
    const int sourceX = StripFrame() * (m_imgStrip.GetWidth() / 3);
    (void)m_imgStrip.AlphaBlend(hdc, RECT{0, 0, itemWidth, itemHeight},
                                RECT{sourceX, 0, sourceX + itemWidth, itemHeight});
}
