#include <gtest/gtest.h>

#include <vector>

#include "support/WindowTestSupport.h"
#include "ui/DropShadow.h"
#include "ui/ShadowBitmap.h"

using namespace testsupport;

namespace {

class DropShadowTest : public testing::Test {
protected:
    static void SetUpTestSuite() { (void)CDropShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }

    void TearDown() override
    {
        if (::IsWindow(m_hParent))
            ::DestroyWindow(m_hParent);
    }

    // A hidden frameless top-level window, as a styled dialog is when its shadow is attached.
    HWND CreateParent(int x, int y, int width, int height)
    {
        m_hParent = ::CreateWindowExW(0, PlainWindowClass(), L"parent", WS_POPUP, x, y, width, height, nullptr, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
        return m_hParent;
    }

    static RECT WindowRect(HWND hWnd)
    {
        RECT rc{};
        ::GetWindowRect(hWnd, &rc);
        return rc;
    }

    HWND m_hParent = nullptr;
};

// Whole window invalid and painted now, as after a size change of a dialog that redraws itself.
void Repaint(HWND hWnd)
{
    ::InvalidateRect(hWnd, nullptr, FALSE);
    ::UpdateWindow(hWnd);
}

HRESULT WINAPI CompositionOn(BOOL* pEnabled)
{
    *pEnabled = TRUE;
    return S_OK;
}

HRESULT WINAPI CompositionOff(BOOL* pEnabled)
{
    *pEnabled = FALSE;
    return S_OK;
}

}  // namespace

TEST_F(DropShadowTest, RegistrationHappensOnceWithTheShadowClass)
{
    EXPECT_FALSE(CDropShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)));  // already done
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(::GetClassInfoExW(::GetModuleHandleW(nullptr), L"VexaShadowWnd", &wc));
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW));
}

TEST_F(DropShadowTest, ShowingTheParentShowsTheShadowBesideItAndRebuildsOnFirstPaint)
{
    const HWND hParent = CreateParent(100, 80, 200, 120);
    CDropShadow shadow;
    shadow.Attach(hParent);
    const HWND hShadow = shadow.ShadowWindow();
    ASSERT_TRUE(::IsWindow(hShadow));
    EXPECT_EQ(CDropShadow::FindAttached(hParent), &shadow);
    EXPECT_EQ(::GetWindow(hShadow, GW_OWNER), hParent);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(hShadow, GWL_EXSTYLE)) & 0x00080020u, 0x00080020u);
    // Attached while hidden: enabled, not shown, nothing drawn yet.
    EXPECT_EQ(shadow.Status(), CDropShadow::SHADOW_ENABLED);
    EXPECT_FALSE(::IsWindowVisible(hShadow));
    EXPECT_EQ(shadow.RedrawCount(), 0u);

    ::ShowWindow(hParent, SW_SHOWNA);
    EXPECT_TRUE(::IsWindowVisible(hShadow));
    EXPECT_EQ(shadow.Status(), CDropShadow::SHADOW_ENABLED | CDropShadow::SHADOW_VISIBLE);
    EXPECT_EQ(shadow.RedrawCount(), 1u);
    const RECT rc = WindowRect(hShadow);
    EXPECT_EQ(rc.left, 105);
    EXPECT_EQ(rc.top, 85);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(rc.bottom - rc.top, 120);

    ::UpdateWindow(hParent);  // the pending rebuild at the first paint
    EXPECT_EQ(shadow.RedrawCount(), 2u);
    ::InvalidateRect(hParent, nullptr, TRUE);
    ::UpdateWindow(hParent);  // later paints do not rebuild
    EXPECT_EQ(shadow.RedrawCount(), 2u);
}

TEST_F(DropShadowTest, MoveRepositionsWithoutRebuildingAndHiddenParentDoesNothing)
{
    const HWND hParent = CreateParent(100, 80, 200, 120);
    CDropShadow shadow;
    shadow.Attach(hParent);
    ::ShowWindow(hParent, SW_SHOWNA);
    ::UpdateWindow(hParent);
    const unsigned before = shadow.RedrawCount();

    ::SetWindowPos(hParent, nullptr, 300, 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT rc = WindowRect(shadow.ShadowWindow());
    EXPECT_EQ(rc.left, 305);
    EXPECT_EQ(rc.top, 255);
    EXPECT_EQ(rc.right - rc.left, 200);
    EXPECT_EQ(shadow.RedrawCount(), before);

    ::ShowWindow(hParent, SW_HIDE);
    EXPECT_FALSE(::IsWindowVisible(shadow.ShadowWindow()));
    EXPECT_EQ(shadow.Status() & CDropShadow::SHADOW_VISIBLE, 0);
    ::SetWindowPos(hParent, nullptr, 400, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    rc = WindowRect(shadow.ShadowWindow());
    EXPECT_EQ(rc.left, 305);
    EXPECT_EQ(shadow.RedrawCount(), before);
}

TEST_F(DropShadowTest, GrowingDefersTheRebuildToPaintShrinkingRebuildsAtOnce)
{
    const HWND hParent = CreateParent(50, 50, 200, 120);
    CDropShadow shadow;
    shadow.Attach(hParent);
    ::ShowWindow(hParent, SW_SHOWNA);
    Repaint(hParent);
    unsigned count = shadow.RedrawCount();

    // No size was recorded since the attach (0 × 0), so the first size counts as growth and waits.
    ::SetWindowPos(hParent, nullptr, 0, 0, 200, 110, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(shadow.RedrawCount(), count);
    Repaint(hParent);
    EXPECT_EQ(shadow.RedrawCount(), ++count);

    ::SetWindowPos(hParent, nullptr, 0, 0, 260, 110, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(shadow.RedrawCount(), count);  // grew: waits
    ::SetWindowPos(hParent, nullptr, 0, 0, 260, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(shadow.RedrawCount(), count);
    Repaint(hParent);
    EXPECT_EQ(shadow.RedrawCount(), count + 1);  // rebuilt once at the paint
    RECT rc = WindowRect(shadow.ShadowWindow());
    EXPECT_EQ(rc.right - rc.left, 260);
    EXPECT_EQ(rc.bottom - rc.top, 150);

    count = shadow.RedrawCount();
    ::SetWindowPos(hParent, nullptr, 0, 0, 240, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    EXPECT_EQ(shadow.RedrawCount(), count + 1);  // shrank: at once
    rc = WindowRect(shadow.ShadowWindow());
    EXPECT_EQ(rc.right - rc.left, 240);
    // Wider but lower is growth too (either direction counts).
    ::SetWindowPos(hParent, nullptr, 0, 0, 250, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    EXPECT_EQ(shadow.RedrawCount(), count + 1);

    ::SendMessageW(hParent, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(shadow.RedrawCount(), count + 2);
}

TEST_F(DropShadowTest, MinimiseAndMaximiseHideRestoreShowsAndRebuilds)
{
    const HWND hParent = CreateParent(60, 60, 200, 120);
    CDropShadow shadow;
    shadow.Attach(hParent);
    ::ShowWindow(hParent, SW_SHOWNA);
    ::UpdateWindow(hParent);
    const HWND hShadow = shadow.ShadowWindow();

    ::ShowWindow(hParent, SW_SHOWMINNOACTIVE);
    EXPECT_FALSE(::IsWindowVisible(hShadow));
    EXPECT_EQ(shadow.Status() & CDropShadow::SHADOW_VISIBLE, 0);

    unsigned count = shadow.RedrawCount();
    ::ShowWindow(hParent, SW_SHOWNOACTIVATE);  // restore
    EXPECT_TRUE(::IsWindowVisible(hShadow));
    EXPECT_GT(shadow.RedrawCount(), count);
    RECT rc = WindowRect(hShadow);
    EXPECT_EQ(rc.left, 65);
    EXPECT_EQ(rc.top, 65);

    ::ShowWindow(hParent, SW_MAXIMIZE);
    EXPECT_FALSE(::IsWindowVisible(hShadow));
    count = shadow.RedrawCount();
    ::ShowWindow(hParent, SW_RESTORE);
    EXPECT_TRUE(::IsWindowVisible(hShadow));
    EXPECT_GT(shadow.RedrawCount(), count);
}

TEST_F(DropShadowTest, DestructionRemovesTheShadowWindowThenTheRegistryEntry)
{
    const HWND hParent = CreateParent(10, 10, 100, 100);
    CDropShadow shadow;
    shadow.Attach(hParent);
    ::ShowWindow(hParent, SW_SHOWNA);
    const HWND hShadow = shadow.ShadowWindow();
    ASSERT_TRUE(::IsWindow(hShadow));
    ::DestroyWindow(hParent);
    EXPECT_FALSE(::IsWindow(hShadow));
    EXPECT_EQ(CDropShadow::FindAttached(hParent), nullptr);
}

TEST_F(DropShadowTest, CompositionOnKeepsTheShadowHiddenUntilItTurnsOff)
{
    const auto previous = CDropShadow::ReplaceCompositionQuery(&CompositionOn);
    const HWND hParent = CreateParent(10, 10, 100, 100);
    CDropShadow shadow;
    shadow.Attach(hParent);
    EXPECT_TRUE(::IsWindow(shadow.ShadowWindow()));
    EXPECT_EQ(shadow.Status(), CDropShadow::SHADOW_ENABLED | CDropShadow::SHADOW_DWM_DISABLED);
    ::ShowWindow(hParent, SW_SHOWNA);
    ::SetWindowPos(hParent, nullptr, 0, 0, 150, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::UpdateWindow(hParent);
    EXPECT_FALSE(::IsWindowVisible(shadow.ShadowWindow()));
    EXPECT_EQ(shadow.RedrawCount(), 0u);

    CDropShadow::ReplaceCompositionQuery(&CompositionOff);
    ::SendMessageW(hParent, WM_DWMCOMPOSITIONCHANGED, 0, 0);
    EXPECT_TRUE(::IsWindowVisible(shadow.ShadowWindow()));
    EXPECT_EQ(shadow.Status(), CDropShadow::SHADOW_ENABLED | CDropShadow::SHADOW_VISIBLE);
    EXPECT_EQ(shadow.RedrawCount(), 1u);

    CDropShadow::ReplaceCompositionQuery(&CompositionOn);
    ::SendMessageW(hParent, WM_DWMCOMPOSITIONCHANGED, 0, 0);
    EXPECT_FALSE(::IsWindowVisible(shadow.ShadowWindow()));
    CDropShadow::ReplaceCompositionQuery(previous);
}

TEST_F(DropShadowTest, BitmapFollowsTheParentsWindowRegion)
{
    const HWND hParent = CreateParent(10, 10, 24, 16);
    CDropShadow shadow;
    const RECT rcParent = WindowRect(hParent);
    std::vector<UINT32> whole(24 * 16, 0);
    shadow.RenderShadowBitmap(whole.data(), hParent, rcParent);
    std::vector<UINT32> expected(24 * 16, 0);
    RenderShadowPixels(expected.data(), 24, std::vector<ShadowSpan>(16, ShadowSpan{0, 24}),
                       ShadowParams{0, 5, 150, 5, 5, 0});
    EXPECT_EQ(whole, expected);

    // Only the left half of the window belongs to it now.
    ::SetWindowRgn(hParent, ::CreateRectRgn(0, 0, 12, 16), FALSE);  // the window owns the region
    std::vector<UINT32> half(24 * 16, 0);
    shadow.RenderShadowBitmap(half.data(), hParent, rcParent);
    std::fill(expected.begin(), expected.end(), 0u);
    RenderShadowPixels(expected.data(), 24, std::vector<ShadowSpan>(16, ShadowSpan{0, 12}),
                       ShadowParams{0, 5, 150, 5, 5, 0});
    EXPECT_EQ(half, expected);
    EXPECT_NE(half, whole);
}
