// The network time client against a stand-in SNTP server in this process, on loopback addresses.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/WinsockSession.h"
#include "support/SntpStandIn.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"

using testsupport::SntpDatagram;
using testsupport::SntpReply;
using testsupport::SntpRequest;
using testsupport::SntpStandIn;
using testsupport::WaitUntil;

namespace {

// The stand-in's clock: 2035-01-01 00:00:00.250 UTC, far from the machine's own clock, so a
// reading tells by itself whether it came from the network.
constexpr DWORD kServerSeconds = 4260211200u;
constexpr DWORD kServerFraction = 0x40000000u;
constexpr LONGLONG kServerMs = LONGLONG{kServerSeconds} * 1000 + 250;
constexpr LONGLONG kFileTimeMsAt1900 = 9435484800000;  // 1601-01-01 to 1900-01-01

// The client asks two addresses; the stand-in answers on 127.0.0.1 only (see SntpStandIn.h).
const char* const kAskedServers[] = {"127.0.0.2", "127.0.0.1"};
const char* const kAnsweringServer[] = {"127.0.0.1"};
const char* const kSilentServer[] = {"127.0.0.2"};
const char* const kNobody[] = {"127.0.0.4"};

std::uint16_t NextPort()
{
    static std::uint16_t port = 47100;
    port += 2;  // the stand-in also uses port + 1
    return port;
}

LONGLONG MsSince1900(const SYSTEMTIME& st)
{
    FILETIME ft{};
    EXPECT_TRUE(::SystemTimeToFileTime(&st, &ft));
    const ULONGLONG units = (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    return static_cast<LONGLONG>(units / 10000) - kFileTimeMsAt1900;
}

LONGLONG MachineUtcMs()
{
    SYSTEMTIME st{};
    ::GetSystemTime(&st);
    return MsSince1900(st);
}

std::vector<SntpDatagram> Answer(std::vector<std::uint8_t> bytes,
                                 SntpDatagram::Source source = SntpDatagram::Source::AskedSocket)
{
    return {SntpDatagram{std::move(bytes), source}};
}

std::vector<SntpDatagram> GoodAnswer(const SntpRequest&)
{
    return Answer(SntpReply(kServerSeconds, kServerFraction));
}

struct BadKind {
    const char* name;
    std::function<SntpDatagram()> make;
    bool fromUnaskedAddress = false;
};

void PrintTo(const BadKind& kind, std::ostream* os)
{
    *os << kind.name;
}

std::vector<std::uint8_t> Resized(std::size_t size)
{
    std::vector<std::uint8_t> bytes = SntpReply(kServerSeconds, kServerFraction);
    bytes.resize(size, 0x5A);
    return bytes;
}

const BadKind kBadKinds[] = {
    {"47 bytes", [] { return SntpDatagram{Resized(47)}; }},
    {"49 bytes", [] { return SntpDatagram{Resized(49)}; }},
    {"client mode", [] { return SntpDatagram{SntpReply(kServerSeconds, kServerFraction, 3)}; }},
    {"stratum 0", [] { return SntpDatagram{SntpReply(kServerSeconds, kServerFraction, 4, 0)}; }},
    {"stratum 16", [] { return SntpDatagram{SntpReply(kServerSeconds, kServerFraction, 4, 16)}; }},
    {"zero transmit time", [] { return SntpDatagram{SntpReply(0, 0)}; }},
    {"port not asked",
     [] {
         return SntpDatagram{SntpReply(kServerSeconds, kServerFraction), SntpDatagram::Source::OtherPort};
     }},
    // Asked: 127.0.0.2; a perfect reply comes from 127.0.0.1.
    {"address not asked",
     [] {
         return SntpDatagram{SntpReply(kServerSeconds, kServerFraction), SntpDatagram::Source::OtherAddress};
     },
     true},
};

class NetTimeSntpTest : public ::testing::Test {
protected:
    void StartClient(std::span<const char* const> servers)
    {
        m_client = std::make_unique<CNetTime>(servers, m_port);
        m_client->m_hThread.Reset(::CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, m_client.get(), 0, nullptr));
        ASSERT_TRUE(m_client->m_hThread);
    }

    std::unique_ptr<SntpStandIn> StartServer(std::vector<std::string> addresses, testsupport::SntpResponder responder,
                                             std::string spareAddress = {})
    {
        auto server =
            std::make_unique<SntpStandIn>(std::move(addresses), m_port, std::move(responder), std::move(spareAddress));
        EXPECT_TRUE(server->IsListening());
        return server;
    }

    // Stops the client within a bound and checks how its thread ended; returns the time it took.
    ULONGLONG StopClient()
    {
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_TRUE(m_client->Stop(5000));
        const ULONGLONG took = ::GetTickCount64() - start;
        DWORD exitCode = STILL_ACTIVE;
        EXPECT_TRUE(::GetExitCodeThread(m_client->m_hThread.Get(), &exitCode));
        EXPECT_EQ(exitCode, 0u);
        m_client.reset();
        return took;
    }

    void TearDown() override
    {
        if (m_client)
            (void)StopClient();
    }

    // Checks that a reading came from the machine's clock and not from the network.
    void ExpectFallbackReading()
    {
        const LONGLONG before = MachineUtcMs();
        SYSTEMTIME st{};
        const bool connected = m_client->GetNetTime(st);
        const LONGLONG after = MachineUtcMs();
        EXPECT_FALSE(connected);
        EXPECT_GE(MsSince1900(st), before);
        EXPECT_LE(MsSince1900(st), after);
    }

    CWinsockSession m_winsock;
    std::uint16_t m_port = NextPort();
    std::unique_ptr<CNetTime> m_client;
};

}  // namespace

TEST_F(NetTimeSntpTest, SynchronisesOnTheFirstAttemptAndCountsElapsedTime)
{
    std::atomic<int> malformedRequests{0};
    const int firstRound = static_cast<int>(std::size(kAnsweringServer));
    auto server = StartServer({"127.0.0.1"}, [&](const SntpRequest& request) {
        const std::vector<std::uint8_t> expected = [] {
            std::vector<std::uint8_t> bytes(48, 0);
            bytes[0] = 0x0B;
            return bytes;
        }();
        if (request.bytes != expected)
            ++malformedRequests;
        // Any later round answers a day later, so the reading shows which round was taken.
        const DWORD seconds = request.index < firstRound ? kServerSeconds : kServerSeconds + 86400;
        return Answer(SntpReply(seconds, kServerFraction));
    });
    StartClient(kAskedServers);
    ASSERT_TRUE(WaitUntil([&] { return m_client->IsSynchronised(); }, 10000));
    const ULONGLONG seenSynchronised = ::GetTickCount64();

    SYSTEMTIME st{};
    const ULONGLONG before = ::GetTickCount64();
    EXPECT_TRUE(m_client->GetNetTime(st));
    const ULONGLONG after = ::GetTickCount64();
    EXPECT_EQ(st.wYear, 2035);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1) << "a later attempt's answer was taken";
    // The time base was taken after the server's first request and before the client was seen
    // synchronised, so the elapsed part of the reading is bounded from both sides.
    const LONGLONG elapsed = MsSince1900(st) - kServerMs;
    EXPECT_GE(elapsed, static_cast<LONGLONG>(before - seenSynchronised) - 1);
    EXPECT_LE(elapsed, static_cast<LONGLONG>(after - server->FirstRequestTick()) + 1);

    ::Sleep(1200);
    SYSTEMTIME later{};
    const ULONGLONG laterBefore = ::GetTickCount64();
    EXPECT_TRUE(m_client->GetNetTime(later));
    const ULONGLONG laterAfter = ::GetTickCount64();
    const LONGLONG advanced = MsSince1900(later) - MsSince1900(st);
    EXPECT_GE(advanced, static_cast<LONGLONG>(laterBefore - after) - 1);
    EXPECT_LE(advanced, static_cast<LONGLONG>(laterAfter - before) + 1);

    EXPECT_EQ(malformedRequests.load(), 0) << "the request must be 0x0B and 47 zero bytes";

    // Stop right after a keep-alive cycle has begun, when most of its 2 s are still ahead.
    const int requestsSoFar = server->RequestCount();
    ASSERT_TRUE(WaitUntil([&] { return server->RequestCount() > requestsSoFar; }, 5000));
    EXPECT_LT(StopClient(), 1200u) << "a synchronised client must stop promptly";
}

TEST_F(NetTimeSntpTest, ConnectedFollowsTheServerWhileReadingsKeepTheTimeBase)
{
    auto server = StartServer({"127.0.0.1"}, GoodAnswer);
    StartClient(kAskedServers);
    ASSERT_TRUE(WaitUntil([&] { return m_client->IsSynchronised(); }, 10000));
    SYSTEMTIME st{};
    EXPECT_TRUE(m_client->GetNetTime(st));
    const LONGLONG baseAtSync = MsSince1900(st) - static_cast<LONGLONG>(::GetTickCount64());

    server->Shutdown();
    const ULONGLONG lastSent = server->LastSentTick();
    ASSERT_NE(lastSent, 0u);
    ASSERT_TRUE(WaitUntil([&] { return !m_client->GetNetTime(st); }, 9000)) << "never turned disconnected";
    const ULONGLONG seenDisconnected = ::GetTickCount64();
    EXPECT_GT(seenDisconnected - lastSent, 4500u) << "disconnected while the last reply was at most 4500 ms old";
    EXPECT_LT(seenDisconnected - lastSent, 4500u + 3000u);

    // Still the network time base, advancing with the tick count.
    EXPECT_EQ(st.wYear, 2035);
    const LONGLONG baseNow = MsSince1900(st) - static_cast<LONGLONG>(::GetTickCount64());
    EXPECT_NEAR(static_cast<double>(baseNow), static_cast<double>(baseAtSync), 50.0);

    server = StartServer({"127.0.0.1"}, GoodAnswer);
    EXPECT_TRUE(WaitUntil([&] { return m_client->GetNetTime(st); }, 6000)) << "never connected again";
    EXPECT_EQ(st.wYear, 2035);
}

class NetTimeBadReplyTest : public NetTimeSntpTest, public ::testing::WithParamInterface<BadKind> {};

TEST_P(NetTimeBadReplyTest, NeverSynchronises)
{
    const BadKind kind = GetParam();
    const auto respond = [&](const SntpRequest&) { return std::vector<SntpDatagram>{kind.make()}; };
    std::unique_ptr<SntpStandIn> server;
    if (kind.fromUnaskedAddress) {
        server = StartServer({"127.0.0.2"}, respond, "127.0.0.1");
        StartClient(kSilentServer);
    } else {
        server = StartServer({"127.0.0.1"}, respond);
        StartClient(kAnsweringServer);
    }
    ASSERT_TRUE(WaitUntil([&] { return server->LastSentTick() != 0; }, 5000));
    ::Sleep(600);
    EXPECT_FALSE(m_client->IsSynchronised());
    ExpectFallbackReading();
}

INSTANTIATE_TEST_SUITE_P(Datagrams, NetTimeBadReplyTest, ::testing::ValuesIn(kBadKinds),
                         [](const ::testing::TestParamInfo<BadKind>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ')
                                     c = '_';
                             return name;
                         });

TEST_F(NetTimeSntpTest, TenBadDatagramsEndAnAttemptEarlyButNineDoNot)
{
    // Every kind of rejected datagram counts towards the ten.
    std::vector<BadKind> kinds;
    for (const BadKind& kind : kBadKinds)
        if (!kind.fromUnaskedAddress)
            kinds.push_back(kind);
    const auto burst = [&](int count) {
        std::vector<SntpDatagram> datagrams;
        for (int i = 0; i < count; ++i)
            datagrams.push_back(kinds[i % kinds.size()].make());
        return datagrams;
    };
    const auto gapBetweenAttempts = [&](int badPerRequest) {
        auto server = StartServer({"127.0.0.1"}, [&](const SntpRequest&) { return burst(badPerRequest); });
        StartClient(kAnsweringServer);
        EXPECT_TRUE(WaitUntil([&] { return server->RequestCount() >= 2; }, 8000));
        EXPECT_FALSE(m_client->IsSynchronised());
        (void)StopClient();
        const std::vector<ULONGLONG> ticks = server->RequestTicks();
        m_port = NextPort();
        // No second request at all reads as "never ended early".
        return ticks.size() >= 2 ? ticks[1] - ticks[0] : ~ULONGLONG{0};
    };

    // Ten queued bad datagrams can end the attempt within the same millisecond: a gap of 0 is fine.
    const ULONGLONG afterTen = gapBetweenAttempts(10);
    EXPECT_LT(afterTen, 2500u) << "ten bad datagrams must end the attempt before its deadline";

    const ULONGLONG afterNine = gapBetweenAttempts(9);
    EXPECT_GE(afterNine, 3500u) << "nine bad datagrams must not end the attempt";
}

TEST_F(NetTimeSntpTest, WithoutAnyServerReadingsComeFromTheMachineClock)
{
    StartClient(kNobody);
    const ULONGLONG end = ::GetTickCount64() + 1500;
    int readings = 0;
    while (::GetTickCount64() < end) {
        ExpectFallbackReading();
        ++readings;
        ::Sleep(50);
    }
    EXPECT_GT(readings, 5);
    EXPECT_FALSE(m_client->IsSynchronised());
    EXPECT_LT(StopClient(), 1500u) << "a client waiting for replies must stop promptly";
}

TEST_F(NetTimeSntpTest, ReadersSeeEitherTheMachineClockOrACompleteNetworkReading)
{
    auto server = StartServer({"127.0.0.1"}, GoodAnswer);
    std::atomic<bool> stopReaders{false};
    std::atomic<int> fallbackReadings{0};
    std::atomic<int> networkReadings{0};
    std::atomic<int> otherReadings{0};
    const ULONGLONG started = ::GetTickCount64();

    CNetTime* client = nullptr;
    std::atomic<CNetTime*> published{nullptr};
    const auto reader = [&] {
        CNetTime* c = nullptr;
        while (!(c = published.load()))
            ::Sleep(1);
        while (!stopReaders) {
            const LONGLONG before = MachineUtcMs();
            SYSTEMTIME st{};
            (void)c->GetNetTime(st);
            const LONGLONG after = MachineUtcMs();
            const LONGLONG ms = MsSince1900(st);
            const LONGLONG elapsed = ms - kServerMs;
            if (ms >= before && ms <= after)
                ++fallbackReadings;
            else if (elapsed >= 0 && elapsed <= static_cast<LONGLONG>(::GetTickCount64() - started) + 1)
                ++networkReadings;
            else
                ++otherReadings;
        }
    };

    // Readers are running on an unsynchronised client before its thread starts.
    m_client = std::make_unique<CNetTime>(kAskedServers, m_port);
    client = m_client.get();
    published = client;
    std::thread first(reader);
    std::thread second(reader);
    ::Sleep(200);
    client->m_hThread.Reset(::CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, client, 0, nullptr));
    const bool synchronised = WaitUntil([&] { return client->IsSynchronised(); }, 10000);
    ::Sleep(300);
    stopReaders = true;
    first.join();
    second.join();

    ASSERT_TRUE(synchronised);
    EXPECT_GT(fallbackReadings.load(), 0);
    EXPECT_GT(networkReadings.load(), 0);
    EXPECT_EQ(otherReadings.load(), 0);
}
