#include <gtest/gtest.h>

#include <stdexcept>

#include "ui/Dialog.h"
#include "res/resource.h"

namespace {

// A handler that fails: its exception must not unwind through the system's message dispatch.
template <class Base>
class CThrowing : public Base {
public:
    using Base::Base;
    int timers = 0;
    void OnTimer(UINT_PTR) override
    {
        ++timers;
        throw std::runtime_error("handler failure");
    }
};

TEST(WindowProcedure, ExceptionFromAHandlerStaysInsideAndTheWindowLivesOn)
{
    CThrowing<CWnd> wnd;
    ASSERT_TRUE(wnd.CreateEx(0, L"STATIC", L"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
    CThrowing<CDialog> dialog(IDD_ABOUTBOX);
    ASSERT_TRUE(dialog.Create());
    for (CWnd* window : {static_cast<CWnd*>(&wnd), static_cast<CWnd*>(&dialog)}) {
        window->SendMessage(WM_TIMER, 1);
        window->SendMessage(WM_TIMER, 1);
        EXPECT_TRUE(::IsWindow(window->m_hWnd));
        EXPECT_EQ(CWnd::FromHandlePermanent(window->m_hWnd), window);
    }
    EXPECT_EQ(wnd.timers, 2);
    EXPECT_EQ(dialog.timers, 2);
}

}  // namespace
