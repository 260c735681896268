#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "support/WindowTestSupport.h"
#include "ui/ImgButton.h"
#include "ui/ResourceImage.h"

using namespace testsupport;

namespace {

constexpr COLORREF kParentColour = RGB(10, 200, 30);

// A parent that paints itself green and records the notifications it gets, in order.
class CTestParent : public CWnd {
public:
    std::vector<std::string> events;
    COLORREF colour = kParentColour;

protected:
    BOOL OnEraseBkgnd(HDC hdc) override
    {
        lumeno::UniqueBrush brush(::CreateSolidBrush(colour));
        const RECT rc = GetClientRect();
        ::FillRect(hdc, &rc, brush.Get());
        return TRUE;
    }
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override
    {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        events.push_back("notify " + std::to_string(wParam) + " code " + std::to_string(header->code) + " id " +
                         std::to_string(header->idFrom));
        *pResult = 0;
        return TRUE;
    }
    BOOL OnCommand(WPARAM wParam, LPARAM) override
    {
        events.push_back("command " + std::to_string(HIWORD(wParam)) + " id " + std::to_string(LOWORD(wParam)));
        return TRUE;
    }
};

struct Rgb {
    int r, g, b;
};

// The button drawn through its parent's WM_DRAWITEM into a 32-bit top-down bitmap.
class ButtonPicture {
public:
    ButtonPicture(CWnd& parent, CImgButton& button)
    {
        const RECT rc = button.GetClientRect();
        m_width = rc.right;
        m_height = rc.bottom;
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = m_width;
        bmi.bmiHeader.biHeight = -m_height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        lumeno::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
        lumeno::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
        {
            lumeno::SelectGuard select(dc.Get(), bitmap.Get());
            DRAWITEMSTRUCT dis{};
            dis.CtlType = ODT_BUTTON;
            dis.CtlID = static_cast<UINT>(::GetDlgCtrlID(button.m_hWnd));
            dis.itemAction = ODA_DRAWENTIRE;
            dis.hwndItem = button.m_hWnd;
            dis.hDC = dc.Get();
            dis.rcItem = rc;
            parent.SendMessage(WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
            ::GdiFlush();
            const auto* p = static_cast<const std::uint32_t*>(bits);
            m_pixels.assign(p, p + static_cast<size_t>(m_width) * m_height);
        }
    }

    [[nodiscard]] Rgb At(int x, int y) const
    {
        const std::uint32_t v = m_pixels[static_cast<size_t>(y) * m_width + x];
        return Rgb{static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
    }
    [[nodiscard]] bool IsEverywhere(COLORREF colour) const
    {
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x)
                if (!Near(At(x, y), colour, 0))
                    return false;
        return true;
    }
    static bool Near(Rgb c, COLORREF expected, int tolerance)
    {
        return std::abs(c.r - GetRValue(expected)) <= tolerance && std::abs(c.g - GetGValue(expected)) <= tolerance &&
               std::abs(c.b - GetBValue(expected)) <= tolerance;
    }
    bool operator==(const ButtonPicture& other) const { return m_pixels == other.m_pixels; }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint32_t> m_pixels;
};

// The picture's pixel as straight colour and alpha.
struct ImagePixel {
    Rgb colour;
    int alpha;
};

ImagePixel PixelOf(lumeno::CImage& image, int x, int y)
{
    const std::uint8_t* p = image.GetPixelAddress(x, y);
    return ImagePixel{Rgb{p[2], p[1], p[0]}, p[3]};
}

class ImgButtonTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_parent.CreateEx(0, PlainWindowClass(), L"parent", WS_POPUP, RECT{40, 40, 340, 240}, nullptr, 0));
    }
    void ShowAndPaint()
    {
        ::ShowWindow(m_parent.m_hWnd, SW_SHOWNA);
        ::UpdateWindow(m_parent.m_hWnd);  // the parent first, then its children: the snapshot is green
    }
    void Send(CImgButton& button, UINT message, int x, int y, WPARAM keys = 0)
    {
        button.SendMessage(message, keys, MAKELPARAM(x, y));
    }

    CTestParent m_parent;
};

}  // namespace

TEST_F(ImgButtonTest, StripButtonIsOneFrameOfTheStripAtItsPlace)
{
    CImgButton button;
    int cx = -1, cy = -1;
    ASSERT_TRUE(button.CreateFromStrip(IDB_CLOSE, 50, &m_parent, &cx, &cy));
    EXPECT_EQ(cx, 13);
    EXPECT_EQ(cy, 20);
    RECT rc = button.GetWindowRect();
    ::MapWindowPoints(nullptr, m_parent.m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(rc.left, 50);
    EXPECT_EQ(rc.top, 2);
    EXPECT_EQ(rc.right, 63);
    EXPECT_EQ(rc.bottom, 22);
    EXPECT_EQ(::GetDlgCtrlID(button.m_hWnd), 0);
    EXPECT_EQ(button.GetStyle() & 0xF, static_cast<DWORD>(BS_OWNERDRAW));

    CImgButton missing;
    cx = cy = -1;
    EXPECT_FALSE(missing.CreateFromStrip(9999, 80, &m_parent, &cx, &cy));
    EXPECT_EQ(missing.m_hWnd, nullptr);
    EXPECT_EQ(cx, -1);
    EXPECT_EQ(cy, -1);
}

TEST_F(ImgButtonTest, StripFramesFollowHoverPressAndDragOffAndBack)
{
    CImgButton button;
    ASSERT_TRUE(button.CreateFromStrip(IDB_CLOSE, 50, &m_parent, nullptr, nullptr));
    ShowAndPaint();

    // One opaque glyph pixel and one transparent pixel of the strip's frames.
    lumeno::CImage strip;
    ASSERT_TRUE(lumeno::LoadResourceImage(L"PNG", strip, IDB_CLOSE));
    int gx = -1, gy = -1, tx = -1, ty = -1;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 13; ++x) {
            const bool opaqueInAll = PixelOf(strip, x, y).alpha == 255 && PixelOf(strip, x + 13, y).alpha == 255 &&
                                     PixelOf(strip, x + 26, y).alpha == 255;
            if (opaqueInAll && gx < 0)
                gx = x, gy = y;
            if (PixelOf(strip, x + 13, y).alpha == 0 && PixelOf(strip, x, y).alpha == 0 && tx < 0)
                tx = x, ty = y;
        }
    }
    ASSERT_GE(gx, 0);
    ASSERT_GE(tx, 0);
    auto expectFrame = [&](int frame, const char* when) {
        EXPECT_EQ(button.StripFrame(), frame) << when;
        const ButtonPicture picture(m_parent, button);
        const Rgb glyph = picture.At(gx, gy);
        const Rgb expected = PixelOf(strip, gx + 13 * frame, gy).colour;
        EXPECT_EQ(glyph.r, expected.r) << when;
        EXPECT_EQ(glyph.g, expected.g) << when;
        EXPECT_EQ(glyph.b, expected.b) << when;
        // The parent's colour shows where the picture is transparent.
        EXPECT_TRUE(ButtonPicture::Near(picture.At(tx, ty), kParentColour, 0)) << when;
    };

    expectFrame(0, "idle");
    Send(button, WM_MOUSEMOVE, 6, 10);
    expectFrame(1, "pointer over");
    Send(button, WM_LBUTTONDOWN, 6, 10, MK_LBUTTON);
    expectFrame(2, "pressed");
    Send(button, WM_MOUSEMOVE, 40, 10, MK_LBUTTON);
    expectFrame(0, "pressed, dragged off");
    Send(button, WM_MOUSEMOVE, 6, 10, MK_LBUTTON);
    expectFrame(2, "dragged back");
    Send(button, WM_LBUTTONUP, 6, 10);
    expectFrame(1, "released inside");
    EXPECT_EQ(m_parent.events, (std::vector<std::string>{"notify 32769 code 1 id 0", "command 0 id 0"}));
    button.SendMessage(WM_MOUSELEAVE);
    expectFrame(0, "pointer left");

    // Press, drag off, release outside: neither notification.
    m_parent.events.clear();
    Send(button, WM_MOUSEMOVE, 6, 10);
    Send(button, WM_LBUTTONDOWN, 6, 10, MK_LBUTTON);
    Send(button, WM_MOUSEMOVE, 40, 30, MK_LBUTTON);
    Send(button, WM_LBUTTONUP, 40, 30);
    EXPECT_TRUE(m_parent.events.empty());
    EXPECT_FALSE(button.IsPressed());
}

TEST_F(ImgButtonTest, StateImageLooks)
{
    CImgButton button;
    button.m_bStateImages = TRUE;
    button.m_nImageId = IDB_SETTINGS;
    ASSERT_TRUE(button.Create(L"设置...", WS_VISIBLE | WS_TABSTOP, RECT{10, 40, 140, 158}, &m_parent, IDC_SETTINGS));
    EXPECT_EQ(button.GetStyle() & 0xF, static_cast<DWORD>(BS_OWNERDRAW));
    ShowAndPaint();

    lumeno::CImage image;
    ASSERT_TRUE(lumeno::LoadResourceImage(L"PNG", image, IDB_SETTINGS));
    ASSERT_EQ(image.GetWidth(), 130);
    ASSERT_EQ(image.GetHeight(), 118);
    int topX = -1, bottomX = -1, ox = -1, oy = -1;
    for (int x = 0; x < 130; ++x) {
        if (topX < 0 && PixelOf(image, x, 0).alpha == 0)
            topX = x;
        if (bottomX < 0 && PixelOf(image, x, 117).alpha == 0)
            bottomX = x;
    }
    for (int y = 0; y < 118 && ox < 0; ++y)
        for (int x = 0; x < 130 && ox < 0; ++x)
            if (PixelOf(image, x, y).alpha == 255)
                ox = x, oy = y;
    ASSERT_GE(topX, 0);
    ASSERT_GE(bottomX, 0);
    ASSERT_GE(ox, 0);
    const Rgb face = PixelOf(image, ox, oy).colour;

    auto expectLook = [&](bool gradient, const char* when) {
        EXPECT_EQ(button.ShowsGradient(), gradient) << when;
        const ButtonPicture picture(m_parent, button);
        if (gradient) {
            EXPECT_TRUE(ButtonPicture::Near(picture.At(topX, 0), RGB(100, 183, 216), 3)) << when;
            EXPECT_TRUE(ButtonPicture::Near(picture.At(bottomX, 117), RGB(210, 210, 210), 3)) << when;
        } else {
            EXPECT_TRUE(ButtonPicture::Near(picture.At(topX, 0), kParentColour, 0)) << when;
            EXPECT_TRUE(ButtonPicture::Near(picture.At(bottomX, 117), kParentColour, 0)) << when;
        }
        EXPECT_TRUE(ButtonPicture::Near(picture.At(ox, oy), RGB(face.r, face.g, face.b), 0)) << when;
    };

    expectLook(false, "idle");
    Send(button, WM_MOUSEMOVE, 60, 60);
    expectLook(true, "pointer over");
    Send(button, WM_LBUTTONDOWN, 60, 60, MK_LBUTTON);
    expectLook(false, "pressed with the pointer over it");
    Send(button, WM_MOUSEMOVE, 200, 60, MK_LBUTTON);
    expectLook(true, "pressed, dragged off");
    Send(button, WM_LBUTTONUP, 200, 60);
    button.SendMessage(WM_MOUSELEAVE);
    expectLook(false, "pointer left");

    // Disabled without a disabled picture: nothing but the snapshot of the parent.
    button.EnableWindow(FALSE);
    Send(button, WM_MOUSEMOVE, 60, 60);
    EXPECT_TRUE(ButtonPicture(m_parent, button).IsEverywhere(kParentColour));
}

TEST_F(ImgButtonTest, DisabledButtonShowsItsDisabledPicture)
{
    CImgButton button;
    button.m_bStateImages = TRUE;
    button.m_nImageId = IDB_START;
    button.m_nDisabledImageId = IDB_START_DISABLED;
    ASSERT_TRUE(button.Create(L"", WS_VISIBLE, RECT{10, 40, 140, 158}, &m_parent, IDC_START));
    ShowAndPaint();
    const ButtonPicture enabled(m_parent, button);
    button.EnableWindow(FALSE);
    const ButtonPicture disabled(m_parent, button);
    EXPECT_FALSE(disabled == enabled);
    EXPECT_FALSE(disabled.IsEverywhere(kParentColour));

    // The snapshot is taken once: a parent painted blue later does not change the button's background.
    CImgButton settings;
    settings.m_bStateImages = TRUE;
    settings.m_nImageId = IDB_SETTINGS;
    ASSERT_TRUE(settings.Create(L"", WS_VISIBLE, RECT{150, 40, 280, 158}, &m_parent, IDC_SETTINGS));
    ::UpdateWindow(m_parent.m_hWnd);
    settings.EnableWindow(FALSE);
    m_parent.colour = RGB(0, 0, 255);
    ::RedrawWindow(m_parent.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    {
        const lumeno::WindowDc parentDc(m_parent.m_hWnd);
        EXPECT_EQ(::GetPixel(parentDc.Get(), 145, 45), RGB(0, 0, 255));  // the parent did turn blue
    }
    EXPECT_TRUE(ButtonPicture(m_parent, settings).IsEverywhere(kParentColour));
}
