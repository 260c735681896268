#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Wnd.h"
#include "support/WindowTestSupport.h"

using namespace testsupport;

namespace {

// Records what reached the object, in order.
class CRecordingWnd : public CWnd {
public:
    std::vector<std::string> events;
    int postNcDestroyCount = 0;
    bool throwOnTimer = false;

protected:
    void PreSubclassWindow() override
    {
        events.push_back("PreSubclassWindow");
        styleSeenAtAttach = GetStyle();
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_NCCREATE)
            events.push_back("WM_NCCREATE");
        return CWnd::WindowProc(message, wParam, lParam);
    }
    int OnCreate(LPCREATESTRUCTW pcs) override
    {
        events.push_back("OnCreate");
        return CWnd::OnCreate(pcs);
    }
    void OnTimer(UINT_PTR) override
    {
        events.push_back("OnTimer");
        if (throwOnTimer)
            throw std::runtime_error("handler failure");
    }
    void PostNcDestroy() override { ++postNcDestroyCount; }

public:
    DWORD styleSeenAtAttach = 0;
};

class COwnerDrawn : public CWnd {
public:
    int drawCount = 0;
    UINT lastCtlId = 0;

protected:
    void DrawItem(LPDRAWITEMSTRUCT dis) override
    {
        ++drawCount;
        lastCtlId = dis->CtlID;
    }
};

WNDPROC s_pfnBelow = nullptr;
int s_seenAbove = 0;

LRESULT CALLBACK ProcAbove(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_TIMER)
        ++s_seenAbove;
    return ::CallWindowProcW(s_pfnBelow, h, m, w, l);
}

HWND CreatePlainTopLevel()
{
    return ::CreateWindowExW(0, PlainWindowClass(), L"owner", WS_OVERLAPPEDWINDOW, 10, 10, 200, 150, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

TEST(Wnd, CreatedWindowIsAttachedBeforeItsFirstMessage)
{
    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, L"BUTTON", L"text", WS_POPUP | BS_PUSHBUTTON, RECT{0, 0, 50, 20}, nullptr, 0));
    ASSERT_NE(wnd.m_hWnd, nullptr);
    ASSERT_GE(wnd.events.size(), 3u);
    EXPECT_EQ(wnd.events[0], "PreSubclassWindow");
    EXPECT_EQ(wnd.events[1], "WM_NCCREATE");
    EXPECT_EQ(wnd.events[2], "OnCreate");
    // The window already carries its style when it is attached, so PreSubclassWindow may change it.
    EXPECT_EQ(wnd.styleSeenAtAttach & WS_POPUP, static_cast<DWORD>(WS_POPUP));
    EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);
    // The button's own procedure still does its work underneath.
    EXPECT_EQ(wnd.GetWindowText(), L"text");
    wnd.SetWindowText(L"changed");
    EXPECT_EQ(wnd.GetWindowText(), L"changed");
}

TEST(Wnd, DestroyedWindowDetachesTheObject)
{
    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, L"STATIC", L"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
    const HWND hWnd = wnd.m_hWnd;
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(wnd.postNcDestroyCount, 1);
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

TEST(Wnd, ObjectDestroyedFirstTakesItsWindowAlong)
{
    HWND hWnd = nullptr;
    {
        CRecordingWnd wnd;
        ASSERT_TRUE(wnd.CreateEx(0, L"STATIC", L"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
        hWnd = wnd.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(hWnd));
}

TEST(Wnd, SubclassAndUnsubclassAnExistingControl)
{
    const HWND hOwner = CreatePlainTopLevel();
    const HWND hEdit = ::CreateWindowExW(0, L"EDIT", L"abc", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20, hOwner,
                                         reinterpret_cast<HMENU>(7), ::GetModuleHandleW(nullptr), nullptr);
    const auto originalProc = ::GetWindowLongPtrW(hEdit, GWLP_WNDPROC);
    {
        CRecordingWnd wnd;
        ASSERT_TRUE(wnd.SubclassWindow(hEdit));
        EXPECT_EQ(wnd.events, std::vector<std::string>{"PreSubclassWindow"});
        EXPECT_NE(::GetWindowLongPtrW(hEdit, GWLP_WNDPROC), originalProc);
        // A second object cannot take the same window, and an attached object cannot take another.
        CRecordingWnd other;
        EXPECT_FALSE(other.SubclassWindow(hEdit));
        EXPECT_FALSE(wnd.SubclassWindow(hOwner));

        ::SendMessageW(hEdit, WM_TIMER, 1, 0);
        EXPECT_EQ(wnd.events.back(), "OnTimer");
        EXPECT_EQ(wnd.GetWindowText(), L"abc");

        EXPECT_EQ(wnd.UnsubclassWindow(), hEdit);
        EXPECT_EQ(wnd.m_hWnd, nullptr);
    }
    // The object is gone and the control lives on with its own procedure.
    EXPECT_TRUE(::IsWindow(hEdit));
    EXPECT_EQ(::GetWindowLongPtrW(hEdit, GWLP_WNDPROC), originalProc);
    EXPECT_EQ(CWnd::FromHandlePermanent(hEdit), nullptr);
    ::DestroyWindow(hOwner);
}

TEST(Wnd, ProcedureInstalledAboveTheObjectKeepsWorkingAfterTheObjectLetsGo)
{
    // The shadow subclasses a dialog on top of the dialog's object; both orders of teardown must work.
    s_seenAbove = 0;
    const WNDPROC above = &ProcAbove;
    const HWND hOwner = CreatePlainTopLevel();
    const HWND hEdit = ::CreateWindowExW(0, L"EDIT", L"xyz", WS_CHILD, 0, 0, 80, 20, hOwner, nullptr,
                                         ::GetModuleHandleW(nullptr), nullptr);
    auto wnd = std::make_unique<CRecordingWnd>();
    ASSERT_TRUE(wnd->SubclassWindow(hEdit));
    s_pfnBelow = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(above)));
    EXPECT_EQ(wnd->UnsubclassWindow(), nullptr);  // not on top: cannot hand the window back
    ::SendMessageW(hEdit, WM_TIMER, 1, 0);
    EXPECT_EQ(wnd->events.back(), "OnTimer");
    wnd.reset();  // destroys the window through the whole chain
    EXPECT_FALSE(::IsWindow(hEdit));
    EXPECT_EQ(s_seenAbove, 1);
    ::DestroyWindow(hOwner);
}

TEST(Wnd, ExceptionInAHandlerStaysInsideTheWindowProcedure)
{
    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, L"STATIC", L"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
    wnd.throwOnTimer = true;
    ::SendMessageW(wnd.m_hWnd, WM_TIMER, 1, 0);
    EXPECT_EQ(wnd.events.back(), "OnTimer");
    // Still attached and answering.
    ::SendMessageW(wnd.m_hWnd, WM_TIMER, 1, 0);
    EXPECT_EQ(std::count(wnd.events.begin(), wnd.events.end(), "OnTimer"), 2);
}

TEST(Wnd, OwnerDrawItemIsHandedToTheControlsObject)
{
    CRecordingWnd parent;
    ASSERT_TRUE(
        parent.CreateEx(0, PlainWindowClass(), L"parent", WS_POPUP | WS_VISIBLE, RECT{0, 0, 200, 100}, nullptr, 0));
    COwnerDrawn button;
    ASSERT_TRUE(button.CreateEx(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, RECT{10, 10, 60, 40},
                                parent.m_hWnd, 42));
    ::InvalidateRect(button.m_hWnd, nullptr, TRUE);
    ::UpdateWindow(button.m_hWnd);
    EXPECT_GE(button.drawCount, 1);
    EXPECT_EQ(button.lastCtlId, 42u);
}

TEST(Wnd, StyleChangesMadeWhileAttachingSurviveCreation)
{
    class CFrameless : public CWnd {
    protected:
        void PreSubclassWindow() override
        {
            (void)ModifyStyle(WS_CAPTION, 0);
            (void)ModifyStyleEx(WS_EX_DLGMODALFRAME, WS_EX_TOOLWINDOW);
        }
    } wnd;
    ASSERT_TRUE(wnd.CreateEx(WS_EX_DLGMODALFRAME, PlainWindowClass(), L"", WS_POPUP | WS_CAPTION, RECT{0, 0, 120, 80},
                             nullptr, 0));
    EXPECT_EQ(wnd.GetStyle() & WS_CAPTION, 0u);
    EXPECT_EQ(wnd.GetExStyle() & WS_EX_DLGMODALFRAME, 0u);
    EXPECT_EQ(wnd.GetExStyle() & WS_EX_TOOLWINDOW, static_cast<DWORD>(WS_EX_TOOLWINDOW));
    // No frame was computed: the whole window is client area.
    const RECT client = wnd.GetClientRect();
    EXPECT_EQ(client.right, 120);
    EXPECT_EQ(client.bottom, 80);
}
