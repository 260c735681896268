#pragma once

// Steps run on ticks of a thread timer on the UI thread. Thread timers are dispatched by every
// message loop, the system's modal loops of dialogs and message boxes included, so a test can act
// inside DoModal. A step returns false to be tried again at the next tick (waiting for a window to
// appear, say). A step that opens a modal loop itself does not stall the script: the next steps run
// from inside that loop. If the script has not finished within its time limit, every dialog of the
// thread is ended so that a broken test fails instead of hanging.

#include <windows.h>

#include <functional>
#include <vector>

namespace testsupport {

class ModalScript {
public:
    using Step = std::function<bool()>;

    explicit ModalScript(std::vector<Step> steps, UINT intervalMs = 40, DWORD timeLimitMs = 30000);
    ~ModalScript();
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    [[nodiscard]] bool Finished() const { return m_next == m_steps.size(); }
    [[nodiscard]] bool TimedOut() const { return m_bTimedOut; }

private:
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD);
    void Abandon();

    std::vector<Step> m_steps;
    size_t m_next = 0;
    UINT_PTR m_timer = 0;
    ULONGLONG m_deadline;
    bool m_bTimedOut = false;
};

}  // namespace testsupport
