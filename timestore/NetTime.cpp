#include "timestore/NetTime.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "framework/DateTime.h"
#include "timestore/TimeServers.h"

CNetTime g_netTime;

namespace {

// How long the destructor waits for a thread its owner forgot to stop.
constexpr DWORD kDestructorStopWaitMs = 2000;
constexpr long kSyncWaitMs = 400;
constexpr long kKeepAliveWaitMs = 300;
constexpr DWORD kSocketTimeoutMs = 2000;
// Leap indicator 0, version 1, mode 3 (client), in the first byte of the request.
constexpr u_long kRequestFirstWord = 0x0B000000;
constexpr int kRequestTransmitOffset = 40;
// FILETIME units (100 ns) from 1601-01-01 to 1900-01-01.
constexpr ULONGLONG kFileTimeOf1900 = 94354848000000000;
constexpr ULONGLONG kEraSeconds = 1ull << 32;

static_assert(std::size(kBuiltInTimeServers) <= CNetTime::kMaxServers, "every built-in server needs a request slot");

}  // namespace

CNetTime::CNetTime() noexcept : CNetTime(kBuiltInTimeServers, kNtpPort) {}

CNetTime::CNetTime(std::span<const char* const> servers, std::uint16_t port) noexcept
    : m_servers(servers.first(std::min(servers.size(), kMaxServers))), m_port(port)
{
}

CNetTime::~CNetTime()
{
    (void)Stop(kDestructorStopWaitMs);
}

ULONGLONG CNetTime::NowTick() noexcept
{
    const ULONGLONG tick = ::GetTickCount64();
    return tick != 0 ? tick : 1;  // 0 is reserved for "not synchronised"
}

bool CNetTime::StopRequested() const noexcept
{
    return m_bStop.load(std::memory_order_acquire) != 0;
}

void CNetTime::RequestStop() noexcept
{
    m_bStop.store(1, std::memory_order_release);
}

bool CNetTime::Stop(DWORD timeoutMs) noexcept
{
    RequestStop();
    if (!m_hThread)
        return true;
    return ::WaitForSingleObject(m_hThread.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool CNetTime::IsSynchronised() const noexcept
{
    return m_dwSyncTick.load(std::memory_order_acquire) != 0;
}

int CNetTime::Run() noexcept
{
    // The thread owns the socket and closes it on the way out, so nothing else ever touches it
    // (in particular not the destructor, which may run after Windows Sockets was cleaned up).
    lumeno::UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    m_socket = socket.Get();
    u_long nonBlocking = 1;
    (void)::ioctlsocket(m_socket, FIONBIO, &nonBlocking);
    const DWORD timeoutMs = kSocketTimeoutMs;
    (void)::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    (void)::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);

    while (!StopRequested()) {
        if (m_dwSyncTick.load(std::memory_order_relaxed) != 0) {
            KeepAlive();
        } else if (SyncOnce()) {
            const ULONGLONG tick = NowTick();
            m_dwLastReplyTick.store(tick, std::memory_order_relaxed);
            m_dwSyncTick.store(tick, std::memory_order_release);  // publishes the time base
        }
    }
    m_socket = INVALID_SOCKET;
    return 0;
}

ULONGLONG CNetTime::MachineNtpSeconds() noexcept
{
    FILETIME ft{};
    ::GetSystemTimeAsFileTime(&ft);
    const ULONGLONG units = FileTimeTicks(ft);
    return units > kFileTimeOf1900 ? (units - kFileTimeOf1900) / 10'000'000 : 0;
}

std::optional<SntpTimestamp> CNetTime::NewTransmitTimestamp() noexcept
{
    // The seconds are the machine's, as a server expects; the 32 random bits below them are what
    // an outsider would have to guess to forge a reply.
    SntpTimestamp stamp{static_cast<std::uint32_t>(MachineNtpSeconds()), 0};
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&stamp.fraction), sizeof stamp.fraction,
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::nullopt;
    if (stamp == SntpTimestamp{})
        stamp.fraction = 1;  // all zero would read as "no request open"
    return stamp;
}

void CNetTime::SendRequests() noexcept
{
    BYTE request[kSntpPacketSize] = {};
    const u_long firstWord = ::htonl(kRequestFirstWord);
    std::memcpy(request, &firstWord, sizeof firstWord);

    for (std::size_t i = 0; i < m_servers.size(); ++i) {
        // A new request replaces the last one: an answer to the old one no longer counts.
        m_outstanding[i] = {};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = ::htons(m_port);
        to.sin_addr.s_addr = ::inet_addr(m_servers[i]);
        if (to.sin_addr.s_addr == INADDR_NONE)
            continue;  // a malformed entry must never turn into a broadcast
        const std::optional<SntpTimestamp> transmit = NewTransmitTimestamp();
        if (!transmit)
            continue;
        const u_long transmitWords[] = {::htonl(transmit->seconds), ::htonl(transmit->fraction)};
        std::memcpy(request + kRequestTransmitOffset, transmitWords, sizeof transmitWords);
        m_outstanding[i] = *transmit;
        (void)::sendto(m_socket, reinterpret_cast<const char*>(request), kSntpPacketSize, 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

bool CNetTime::WaitReadable(long waitMs) noexcept
{
    if (m_socket != INVALID_SOCKET) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(m_socket, &readSet);
        timeval wait{0, waitMs * 1000};
        const int ready = ::select(0, &readSet, nullptr, nullptr, &wait);
        if (ready != SOCKET_ERROR)
            return ready > 0;
    }
    // No socket or a failing select: wait out the round instead of spinning.
    ::Sleep(static_cast<DWORD>(waitMs));
    return false;
}

bool CNetTime::ReceiveReply(DWORD& seconds, DWORD& fraction) noexcept
{
    // Room for more than one packet, so that an over-long datagram reads as over-long.
    std::uint8_t packet[kSntpPacketSize * 2];
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int length = ::recvfrom(m_socket, reinterpret_cast<char*>(packet), sizeof packet, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (fromLength != sizeof from)
        return false;
    const std::optional<SntpAnswer> answer =
        AcceptSntpReply(packet, length, from, m_servers, std::span(m_outstanding).first(m_servers.size()), m_port);
    if (!answer)
        return false;
    m_outstanding[answer->server] = {};  // answered: the same reply again is a duplicate
    seconds = answer->transmit.seconds;
    fraction = answer->transmit.fraction;
    m_ulLastServer.store(from.sin_addr.s_addr, std::memory_order_relaxed);
    return true;
}

bool CNetTime::SyncOnce() noexcept
{
    SendRequests();
    const ULONGLONG deadline = NowTick() + kSyncAttemptMs;
    int readableEvents = 0;
    do {
        if (!WaitReadable(kSyncWaitMs))
            continue;
        ++readableEvents;
        DWORD seconds = 0;
        DWORD fraction = 0;
        if (ReceiveReply(seconds, fraction)) {
            m_dwLastReplyTick.store(NowTick(), std::memory_order_relaxed);
            m_ullNtpSeconds.store(NtpSecondsNear(seconds, MachineNtpSeconds()), std::memory_order_relaxed);
            m_dwNtpFraction.store(fraction, std::memory_order_relaxed);
            return true;
        }
        if (readableEvents >= kMaxReadableEventsPerAttempt)
            return false;
    } while (deadline > NowTick() && !StopRequested());
    return false;
}

void CNetTime::KeepAlive() noexcept
{
    SendRequests();
    const ULONGLONG end = NowTick() + kKeepAliveCycleMs;
    do {
        DWORD seconds = 0;
        DWORD fraction = 0;
        // Only the reply tick moves: the time base taken at synchronisation stays for good.
        if (WaitReadable(kKeepAliveWaitMs) && ReceiveReply(seconds, fraction))
            m_dwLastReplyTick.store(NowTick(), std::memory_order_relaxed);
    } while (end > NowTick() && !StopRequested());
}

bool CNetTime::GetNetTime(SYSTEMTIME& st) const noexcept
{
    const ULONGLONG syncTick = m_dwSyncTick.load(std::memory_order_acquire);
    if (syncTick == 0) {
        ::GetSystemTime(&st);
        return false;
    }
    const ULONGLONG now = NowTick();
    NtpToSystemTime(m_ullNtpSeconds.load(std::memory_order_relaxed), m_dwNtpFraction.load(std::memory_order_relaxed),
                    now - syncTick, st);
    return IsReplyFresh(now, m_dwLastReplyTick.load(std::memory_order_relaxed));
}

CNetTime::State CNetTime::ReadState() const noexcept
{
    State state;
    // Synchronisation is never undone: seen here, GetNetTime below reads network time too.
    state.bSynchronised = m_dwSyncTick.load(std::memory_order_acquire) != 0;
    SYSTEMTIME machine{};
    ::GetSystemTime(&machine);
    (void)GetNetTime(state.utc);  // the connected flag is not part of a seal: the reply's age is
    if (!state.bSynchronised)
        return state;
    state.ulLastServer = m_ulLastServer.load(std::memory_order_relaxed);
    state.llClockOffsetMs = ToMilliseconds(machine) - ToMilliseconds(state.utc);
    state.llReplyAgeMs = static_cast<LONGLONG>(NowTick() - m_dwLastReplyTick.load(std::memory_order_relaxed));
    return state;
}

LONGLONG CNetTime::ToMilliseconds(const SYSTEMTIME& st) noexcept
{
    long long ms = 0;
    return MsOfSystemTime(st, ms) ? ms : 0;
}

bool CNetTime::IsReplyFresh(ULONGLONG nowTick, ULONGLONG lastReplyTick) noexcept
{
    // Signed: a reply stored after `nowTick` was read is simply fresh.
    return static_cast<LONGLONG>(nowTick - lastReplyTick) <= kConnectedWithinMs;
}

ULONGLONG CNetTime::NtpSecondsNear(DWORD seconds, ULONGLONG machineSeconds) noexcept
{
    // The signed 32-bit distance from the machine's clock to the reply, taken modulo 2^32, is the
    // shortest way round: the reply sits in whichever era that lands in, across the 2036 wrap too.
    const auto distance = static_cast<std::int32_t>(seconds - static_cast<DWORD>(machineSeconds));
    const LONGLONG nearest = static_cast<LONGLONG>(machineSeconds) + distance;
    // Nothing lies before 1900: a machine clock near it reads the reply in the first era.
    return static_cast<ULONGLONG>(nearest >= 0 ? nearest : nearest + static_cast<LONGLONG>(kEraSeconds));
}

void CNetTime::NtpToSystemTime(ULONGLONG seconds, DWORD fraction, ULONGLONG elapsedMs, SYSTEMTIME& st) noexcept
{
    // The divisor is 2^32 - 1, so an all-ones fraction rounds to a full 1000 ms and carries.
    const auto fractionMs = static_cast<WORD>(static_cast<double>(fraction) * 1000.0 / 4294967295.0 + 0.5);
    const ULONGLONG ms = elapsedMs % 1000 + fractionMs;
    st.wMilliseconds = static_cast<WORD>(ms % 1000);

    const ULONGLONG total = seconds + elapsedMs / 1000 + ms / 1000;
    st.wSecond = static_cast<WORD>(total % 60);
    st.wMinute = static_cast<WORD>(total / 60 % 60);
    st.wHour = static_cast<WORD>(total / 3600 % 24);

    const int julianDay = static_cast<int>(total / 86400) + kJulianDayOf1900;
    st.wDayOfWeek = static_cast<WORD>((julianDay + 1) % 7);  // 0 is Sunday
    DayNumberToDate(julianDay, st.wYear, st.wMonth, st.wDay);
}

void CNetTime::DayNumberToDate(int julianDay, WORD& year, WORD& month, WORD& day) noexcept
{
    // Days are counted in 400-year cycles from a year starting in March, so the leap day ends
    // each counted year.
    const int n = 4 * julianDay - 6884477;
    const int century = n / 146097;
    const int dayOfCentury = (n - 146097 * century) / 4;
    const int yearOfCentury = (4 * dayOfCentury + 3) / 1461;
    const int dayOfYear = (4 * dayOfCentury + 7 - 1461 * yearOfCentury) / 4;
    const int marchMonth = (5 * dayOfYear - 3) / 153;
    day = static_cast<WORD>((5 * dayOfYear - 153 * marchMonth + 2) / 5);

    int fullYear = 100 * century + yearOfCentury;
    if (marchMonth < 10) {
        month = static_cast<WORD>(marchMonth + 3);
    } else {
        month = static_cast<WORD>(marchMonth - 9);
        ++fullYear;
    }
    year = static_cast<WORD>(fullYear);
}

HRESULT CNetTime::ToTimeValue(const SYSTEMTIME& st, __time64_t& value) noexcept
{
    value = 0;
    if (st.wYear < 1900)
        return S_OK;
    if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > 31 || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59)
        return E_FAIL;

    std::tm fields{};
    fields.tm_sec = st.wSecond;
    fields.tm_min = st.wMinute;
    fields.tm_hour = st.wHour;
    fields.tm_mday = st.wDay;
    fields.tm_mon = st.wMonth - 1;
    fields.tm_year = st.wYear - 1900;
    fields.tm_isdst = -1;
    const __time64_t result = ::_mktime64(&fields);
    if (result == -1)
        return E_INVALIDARG;
    value = result;
    return S_OK;
}
