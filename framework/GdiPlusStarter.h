#pragma once

// The process-wide GDI+ session of the image class. GDI+ is started on first use (the first decode)
// and shut down when the process's static objects are destroyed; the application's own drawing
// starts GDI+ separately, which GDI+ allows.
//
// Threads: any thread may call Start; the token is guarded by m_lock.

#include <windows.h>

#include <mutex>

namespace lumeno {

class CGdiPlusStarter {
public:
    // The one instance; constructed on first use, so it outlives every static object that used it.
    static CGdiPlusStarter& Shared();

    // Starts GDI+ unless it runs already. Returns whether it runs.
    [[nodiscard]] bool Start();

    [[nodiscard]] bool IsStarted() const;

    ~CGdiPlusStarter();
    CGdiPlusStarter(const CGdiPlusStarter&) = delete;
    CGdiPlusStarter& operator=(const CGdiPlusStarter&) = delete;

private:
    CGdiPlusStarter() = default;

    mutable std::mutex m_lock;
    ULONG_PTR m_token = 0;
    bool m_bStarted = false;
};

}  // namespace lumeno
