#include "support/TestDesktop.h"

#include "framework/Handles.h"
#include "support/TestSupport.h"

#include <cstdlib>

namespace testsupport {

int ScreenBits()
{
    const lumeno::WindowDc screen(nullptr);
    return GetDeviceCaps(screen.Get(), BITSPIXEL);
}

TestDesktop::TestDesktop(COLORREF colour, UINT countedMessage) : m_colour(colour), m_counted(countedMessage)
{
    m_thread = std::thread([this] { Pump(); });
    // Showing and painting reach the X server asynchronously: wait until the screen has the colour.
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    m_shown = WaitUntil(
        [&] {
            lumeno::WindowDc screen(nullptr);
            // A screen of fewer bits shows the colour to within a few steps.
            const int slack = ScreenBits() < 24 ? 8 : 0;
            auto shows = [&](int x, int y) {
                const COLORREF c = GetPixel(screen.Get(), x, y);
                return c != CLR_INVALID && std::abs(GetRValue(c) - GetRValue(m_colour)) <= slack &&
                       std::abs(GetGValue(c) - GetGValue(m_colour)) <= slack &&
                       std::abs(GetBValue(c) - GetBValue(m_colour)) <= slack;
            };
            return m_window && shows(0, 0) && shows(w - 1, 0) && shows(w / 2, h / 2) && shows(w - 1, h - 1);
        },
        20000);
}

TestDesktop::~TestDesktop()
{
    PostThreadMessageW(GetWindowThreadProcessId(m_window, nullptr), WM_QUIT, 0, 0);
    m_thread.join();
}

void TestDesktop::Pump()
{
    const lumeno::UniqueBrush brush(CreateSolidBrush(m_colour));  // the window's background
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const WNDCLASSW wc{0, DefWindowProcW, 0, 0, instance, nullptr, nullptr, brush.Get(), nullptr, L"LumenoTestDesktop"};
    RegisterClassW(&wc);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    const HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, w, h,
                                        nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    SetCursorPos(40, h - 40);  // keeps the pointer away from the overlay in the top-right corner
    m_window = window;
    MSG msg;
    while (window && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        m_count += msg.message == m_counted ? 1 : 0;  // posted, so it passes through this loop
        DispatchMessageW(&msg);
    }
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, instance);
}

}  // namespace testsupport
