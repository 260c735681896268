#include "support/TestDesktop.h"

#include "framework/Handles.h"

namespace testsupport {

namespace {
const wchar_t* const kCoverClass = L"LumenoTestCover";
const wchar_t* const kNotifyClass = L"LumenoTestNotify";
}  // namespace

TestDesktop::TestDesktop(COLORREF colour, UINT countedMessage) : m_colour(colour), m_counted(countedMessage)
{
    lumeno::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_ready = ready.Get();
    m_thread = std::thread([this] { Pump(); });
    WaitForSingleObject(ready.Get(), 10000);
    m_ready = nullptr;
    // Give the X server time to show the cover before anything captures the screen.
    Sleep(300);
}

TestDesktop::~TestDesktop()
{
    PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    if (m_thread.joinable())
        m_thread.join();
}

bool TestDesktop::WaitForCount(int n, DWORD timeoutMs) const
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (m_count.load() < n) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
    return true;
}

LRESULT CALLBACK TestDesktop::CoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_ERASEBKGND) {
        auto* self = reinterpret_cast<TestDesktop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        RECT rc;
        GetClientRect(hwnd, &rc);
        lumeno::UniqueBrush brush(CreateSolidBrush(self ? self->m_colour : RGB(0, 0, 0)));
        FillRect(reinterpret_cast<HDC>(wp), &rc, brush.Get());
        return 1;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK TestDesktop::NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* self = reinterpret_cast<TestDesktop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == self->m_counted) {
        ++self->m_count;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TestDesktop::Pump()
{
    m_threadId = GetCurrentThreadId();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = CoverProc;
    wc.hInstance = instance;
    wc.lpszClassName = kCoverClass;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    wc.lpfnWndProc = NotifyProc;
    wc.lpszClassName = kNotifyClass;
    RegisterClassW(&wc);

    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    m_cover = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kCoverClass, L"", WS_POPUP, 0, 0, w, h, nullptr,
                              nullptr, instance, nullptr);
    SetWindowLongPtrW(m_cover, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(m_cover, SW_SHOWNOACTIVATE);
    UpdateWindow(m_cover);
    m_notify = CreateWindowExW(0, kNotifyClass, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(m_notify, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Keep the pointer away from the overlay in the top-right corner.
    SetCursorPos(40, h - 40);
    SetEvent(m_ready);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(m_notify);
    DestroyWindow(m_cover);
}

}  // namespace testsupport
