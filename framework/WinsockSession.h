#pragma once

// Windows Sockets 2.2 for the life of its owner: WSAStartup on construction, the balancing
// WSACleanup on destruction. The program's entry owns one before any window exists; every socket
// user (the network time thread above all) must be finished before it is destroyed.
// Single-threaded: constructed and destroyed on the owner's thread.

#include <winsock2.h>

class CWinsockSession {
public:
    static constexpr WORD kRequestedVersion = 0x0202;

    CWinsockSession() noexcept;
    ~CWinsockSession();
    CWinsockSession(const CWinsockSession&) = delete;
    CWinsockSession& operator=(const CWinsockSession&) = delete;

    [[nodiscard]] bool IsStarted() const noexcept { return m_bStarted; }
    // The version the library agreed to (0 when start-up failed).
    [[nodiscard]] WORD Version() const noexcept { return m_wVersion; }

private:
    bool m_bStarted = false;
    WORD m_wVersion = 0;
};
