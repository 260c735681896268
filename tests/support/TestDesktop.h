#pragma once

// A user-interface thread for recording tests: a plain-coloured window covering the whole primary
// screen (so captured frames are predictable) and a hidden window that counts the messages the
// recording thread posts to it.

#include <windows.h>

#include <atomic>
#include <thread>

namespace testsupport {

class TestDesktop {
public:
    explicit TestDesktop(COLORREF colour, UINT countedMessage);
    ~TestDesktop();
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    [[nodiscard]] HWND NotifyWindow() const { return m_notify; }
    [[nodiscard]] int Count() const { return m_count.load(); }
    // Waits until Count() reaches n or the time runs out; returns whether it did.
    bool WaitForCount(int n, DWORD timeoutMs) const;

private:
    static LRESULT CALLBACK CoverProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK NotifyProc(HWND, UINT, WPARAM, LPARAM);
    void Pump();

    COLORREF m_colour;
    UINT m_counted;
    std::atomic<int> m_count{0};
    HWND m_cover = nullptr;
    HWND m_notify = nullptr;
    HANDLE m_ready = nullptr;
    DWORD m_threadId = 0;
    std::thread m_thread;
};

}  // namespace testsupport
