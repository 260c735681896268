#pragma once

// A plain-coloured topmost window over the primary screen, on its own thread, so that captured frames
// are predictable; it counts the messages the recording thread posts to it.

#include <windows.h>

#include <atomic>
#include <thread>

namespace testsupport {

// Bits per pixel of the primary screen.
[[nodiscard]] int ScreenBits();

class TestDesktop {
public:
    // Returns once the screen really shows the colour, or after 20 s (then Shown() is false).
    TestDesktop(COLORREF colour, UINT countedMessage);
    ~TestDesktop();
    [[nodiscard]] bool Shown() const { return m_shown; }
    [[nodiscard]] HWND NotifyWindow() const { return m_window; }
    [[nodiscard]] int Count() const { return m_count; }

private:
    void Pump();
    const COLORREF m_colour;
    const UINT m_counted;
    std::atomic<int> m_count{0};
    std::atomic<HWND> m_window{nullptr};
    bool m_shown = false;
    std::thread m_thread;
};

}  // namespace testsupport
