#pragma once

// The network time client: takes the current UTC time once from SNTP servers, keeps that one time
// base for the rest of the process and keeps probing the servers to tell whether the network is
// reachable. It never sets the machine's clock; until the first accepted reply, readings come
// from the machine's own UTC clock.
//
// Every request carries a transmit time the client keeps per server (m_outstanding) and an outsider
// cannot predict; only a reply that echoes it as its originate time counts, once.
//
// Threads: the network time thread (Run) is the only writer of every field below and the only user
// of the socket and of m_outstanding. Any thread may call GetNetTime: it takes no lock, allocates
// nothing and does no I/O. m_ullNtpSeconds and m_dwNtpFraction are stored before m_dwSyncTick is
// published with release ordering; GetNetTime reads m_dwSyncTick with acquire ordering, so a reader that sees it non-zero
// sees the complete time base, which never changes afterwards. m_dwLastReplyTick is read relaxed.
// m_bStop is written by the owner's thread (RequestStop/Stop) and polled by the time thread.
//
// Stopping (before Windows Sockets is cleaned up, and before the object is destroyed): the owner
// calls Stop(timeout). The thread notices the request at its next wait round — within about
// 400 ms — closes its socket and returns; Stop waits for it at most `timeout` and reports whether
// it ended. Only after a true result may Windows Sockets be cleaned up.
//
// Ticks are GetTickCount64 milliseconds (no wrap in the life of a process); 0 in m_dwSyncTick means
// "not synchronised" and a real tick of 0 is read as 1.

#include <winsock2.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>

#include "framework/ThreadClass.h"
#include "framework/SocketHandle.h"
#include "timestore/SntpReply.h"

class CNetTime : public CThreadClass {
public:
    // What a seal records about network time at one moment.
    struct State {
        SYSTEMTIME utc{};  // network time, or the machine's clock before synchronisation
        bool bSynchronised = false;
        ULONG ulLastServer = 0;        // IPv4 address (network order) of the last accepted reply; 0 none
        LONGLONG llClockOffsetMs = 0;  // the machine's UTC clock minus network time (synchronised only)
        LONGLONG llReplyAgeMs = -1;    // age of the last accepted reply; -1 none
    };
    static constexpr std::uint16_t kNtpPort = 123;
    // A reply at most this old keeps the connection shown as normal (inclusive).
    static constexpr LONGLONG kConnectedWithinMs = 4500;
    static constexpr ULONGLONG kSyncAttemptMs = 4000;
    static constexpr ULONGLONG kKeepAliveCycleMs = 2000;
    // An attempt that has seen this many readable events without an accepted reply gives up early.
    static constexpr int kMaxReadableEventsPerAttempt = 10;
    // Julian Day Number of 1900-01-01, the first day of the SNTP era.
    static constexpr int kJulianDayOf1900 = 2415021;
    // Servers asked beyond this many are left out.
    static constexpr std::size_t kMaxServers = 16;

    // The built-in time servers on UDP 123.
    CNetTime() noexcept;
    // Other servers (dotted-decimal IPv4 strings that outlive the object) on another port.
    CNetTime(std::span<const char* const> servers, std::uint16_t port) noexcept;
    // Stops the thread if the owner did not; see the class comment.
    ~CNetTime() override;

    int Run() noexcept override;

    // The current UTC time (every field of st) and whether the connection counts as normal.
    bool GetNetTime(SYSTEMTIME& st) const noexcept;
    [[nodiscard]] bool IsSynchronised() const noexcept;
    [[nodiscard]] State ReadState() const noexcept;
    // Whether a reply received at lastReplyTick still counts as connected at nowTick.
    [[nodiscard]] static bool IsReplyFresh(ULONGLONG nowTick, ULONGLONG lastReplyTick) noexcept;

    // Asks the thread to end; returns at once.
    void RequestStop() noexcept;
    // Asks the thread to end and waits up to timeoutMs; true when no thread is left running.
    [[nodiscard]] bool Stop(DWORD timeoutMs) noexcept;

    [[nodiscard]] std::span<const char* const> Servers() const noexcept { return m_servers; }
    [[nodiscard]] std::uint16_t Port() const noexcept { return m_port; }

    // Seconds since 1900 (not wrapped) and a fraction (2^-32 s) plus a local elapsed time, as a
    // calendar UTC time.
    static void NtpToSystemTime(ULONGLONG seconds, DWORD fraction, ULONGLONG elapsedMs, SYSTEMTIME& st) noexcept;
    // The seconds since 1900 that a reply's 32-bit seconds field stands for: of all the values it
    // may mean (one per 2^32 s era), the one nearest the machine's own clock (seconds since 1900).
    [[nodiscard]] static ULONGLONG NtpSecondsNear(DWORD seconds, ULONGLONG machineSeconds) noexcept;
    // Gregorian date of a Julian Day Number.
    static void DayNumberToDate(int julianDay, WORD& year, WORD& month, WORD& day) noexcept;
    // Seconds count of a reading for the overlay's clock arithmetic: the fields are read as local
    // time, so adding an offset and breaking the value down as local time again cancels the
    // machine's zone. E_FAIL for out-of-range fields, E_INVALIDARG for unrepresentable times (such
    // as any time before 1970); a year before 1900 gives 0.
    [[nodiscard]] static HRESULT ToTimeValue(const SYSTEMTIME& st, __time64_t& value) noexcept;

    std::atomic<int> m_bStop{0};

private:
    [[nodiscard]] static ULONGLONG NowTick() noexcept;
    [[nodiscard]] bool StopRequested() const noexcept;
    // The machine's UTC clock in whole seconds since 1900.
    [[nodiscard]] static ULONGLONG MachineNtpSeconds() noexcept;
    // A timestamp for a request's transmit field: the machine's seconds, a random fraction.
    // Nothing when no random value can be had: a guessable request is not sent.
    [[nodiscard]] static std::optional<SntpTimestamp> NewTransmitTimestamp() noexcept;
    void SendRequests() noexcept;
    [[nodiscard]] bool SyncOnce() noexcept;
    void KeepAlive() noexcept;
    // Reads one datagram; true only for a reply AcceptSntpReply accepts from the servers asked,
    // which also closes that server's request. The transmit time goes to seconds and fraction.
    [[nodiscard]] bool ReceiveReply(DWORD& seconds, DWORD& fraction) noexcept;
    // Milliseconds since 1601 of a calendar time; 0 when it does not convert.
    [[nodiscard]] static LONGLONG ToMilliseconds(const SYSTEMTIME& st) noexcept;
    // Waits up to waitMs for the socket to become readable.
    [[nodiscard]] bool WaitReadable(long waitMs) noexcept;

    // Borrowed from the owner inside Run; used by the time thread only.
    SOCKET m_socket = INVALID_SOCKET;
    std::atomic<ULONGLONG> m_dwSyncTick{0};
    std::atomic<ULONGLONG> m_ullNtpSeconds{0};  // since 1900, in the era read at synchronisation
    std::atomic<DWORD> m_dwNtpFraction{0};
    std::atomic<ULONGLONG> m_dwLastReplyTick{0};
    std::atomic<ULONG> m_ulLastServer{0};  // written with the reply tick, read relaxed

    std::span<const char* const> m_servers;  // at most kMaxServers
    std::uint16_t m_port;
    // The transmit time of the request still unanswered at each of m_servers; all zero for none.
    std::array<SntpTimestamp, kMaxServers> m_outstanding{};

    static_assert(std::atomic<ULONGLONG>::is_always_lock_free, "GetNetTime must not take a lock");
};

// The program's one network time client, on the built-in servers.
extern CNetTime g_netTime;
