#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <set>

#include "support/SntpStandIn.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"
#include "timestore/OverlaySettings.h"
#include "timestore/SealContext.h"

using namespace testsupport;

namespace {

// Milliseconds since 1900-01-01 of a reading, by the platform's calendar.
LONGLONG MsSince1900(const SYSTEMTIME& st)
{
    ULARGE_INTEGER t{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, reinterpret_cast<FILETIME*>(&t)));
    return static_cast<LONGLONG>(t.QuadPart / 10000) - 9435484800000;
}

std::string Text(const SYSTEMTIME& st)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
    return text;
}

}  // namespace

TEST(NetTimeTest, ReadingsAgreeWithThePlatformsCalendarAndCarryMilliseconds)
{
    // The last second of each day of the first two eras of the 32-bit seconds field (up to 2172).
    for (ULONGLONG days = 0; days < 0x1FFFFFFFFull / 86400; ++days) {
        SYSTEMTIME st{}, expected{};
        CNetTime::NtpToSystemTime(days * 86400 + 86399, 0, 0, st);
        const ULONGLONG units = (days * 86400 + 86399) * 10'000'000 + 94354848000000000;  // since 1601
        const FILETIME ft{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &expected));
        ASSERT_EQ(Text(st), Text(expected)) << "day " << days;
    }
    constexpr DWORD k2024 = 3913056000u;  // 2024-01-01 00:00:00 UTC, a Monday
    const std::tuple<ULONGLONG, DWORD, ULONGLONG, const char*> cases[] = {
        {k2024, 0xFFF00000u, 0, "2024-01-01 00:00:01.000 1"},               // 999.76 ms round up to a second
        {k2024, 8589935u, 1999, "2024-01-01 00:00:02.001 1"},               // 2 ms + 1.999 s
        {k2024 + 3599, 0x80000000u, 61250, "2024-01-01 01:01:00.750 1"},    // .500 + 61.250 s
        {k2024, 0, 50ull * 86400 * 1000 + 7, "2024-02-20 00:00:00.007 2"},  // beyond 32 bits of ms
        {0xFFFFFFFFu, 0x80000000u, 600, "2036-02-07 06:28:16.100 4"},       // carried over the wrap
    };
    for (const auto& [seconds, fraction, elapsedMs, expected] : cases) {
        SYSTEMTIME st{};
        CNetTime::NtpToSystemTime(seconds, fraction, elapsedMs, st);
        EXPECT_EQ(Text(st), expected);
    }
}

TEST(NetTimeTest, AReplysSecondsAreReadInTheEraNearestTheMachinesClock)
{
    constexpr ULONGLONG kWrap = 1ull << 32;  // 2036-02-07 06:28:16 UTC
    constexpr ULONGLONG k2024 = 3913056000u;
    const std::tuple<ULONGLONG, DWORD, const char*> cases[] = {
        // machine clock, reply's seconds field, the reading
        {kWrap - 5, 0xFFFFFFFDu, "2036-02-07 06:28:13.000 4"},  // both before the wrap
        {kWrap - 5, 2, "2036-02-07 06:28:18.000 4"},            // the server already past it
        {kWrap + 5, 0xFFFFFFFEu, "2036-02-07 06:28:14.000 4"},  // the server not yet past it
        {kWrap + 5, 3, "2036-02-07 06:28:19.000 4"},            // both after the wrap
        {kWrap, 0, "2036-02-07 06:28:16.000 4"},
        {k2024, k2024 + 3600, "2024-01-01 01:00:00.000 1"},
        {k2024, 2, "2036-02-07 06:28:18.000 4"},                        // twelve years ahead is nearer than 124 behind
        {kWrap + 2016466304u, 2016466304u, "2100-01-01 00:00:00.000 5"},  // in the second era
        {10, 0xFFFFFFF0u, "2036-02-07 06:28:00.000 4"},                 // never before 1900
        {0, static_cast<DWORD>(k2024), "2024-01-01 00:00:00.000 1"},
    };
    for (const auto& [machine, seconds, expected] : cases) {
        SYSTEMTIME st{};
        CNetTime::NtpToSystemTime(CNetTime::NtpSecondsNear(seconds, machine), 0, 0, st);
        EXPECT_EQ(Text(st), expected) << "machine " << machine << ", reply " << seconds;
    }
}

TEST(NetTimeTest, AReplyUpTo4500MsOldCountsAsConnected)
{
    const ULONGLONG reply = 10'000'000;
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply, reply));
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply + 4500, reply));
    EXPECT_FALSE(CNetTime::IsReplyFresh(reply + 4501, reply));
    EXPECT_TRUE(CNetTime::IsReplyFresh(reply - 20, reply)) << "a reply newer than the reading is fresh";
}

// A stand-in server reading 2035-01-01 00:00:00.250: datagrams that are not the answer to the open
// request (a forged originate, none, the request before's; the forger reads 2030) neither set the
// clock nor keep it connected.
TEST(NetTimeTest, SynchronisesOnceOnTheAnswerToItsOpenRequestAndStaysConnectedOnlyWhileAnswered)
{
    constexpr DWORD kForgedSeconds = 4115491200u, kServerSeconds = 4260211200u;
    constexpr LONGLONG kServerMs = LONGLONG{kServerSeconds} * 1000 + 250;
    const char* const servers[] = {"127.0.0.2", "127.0.0.1"};  // the first one never answers
    CWinsockSession winsock;
    std::atomic<int> badRequests{0};
    std::atomic<bool> staleOnly{false};
    std::set<ULONGLONG> transmitTimes;            // the stand-in's thread only, until it is shut down
    std::vector<std::uint8_t> previousTransmit;  // likewise
    const SntpResponder respond = [&](const SntpRequest& request) {
        const auto transmit = TransmitField(request);
        // No leap warning, version 1, client; zero up to a transmit time no earlier request had.
        badRequests += request.bytes.size() != 48 || request.bytes[0] != 0x0B ||
                       std::any_of(request.bytes.begin() + 1, request.bytes.begin() + 40, [](auto b) { return b != 0; }) ||
                       !transmitTimes.insert(std::accumulate(transmit.begin(), transmit.end(), ULONGLONG{0},
                                                             [](ULONGLONG t, auto b) { return t << 8 | b; }))
                            .second;
        // Every answer after the first is a day later: the time base taken at synchronisation stays.
        const std::vector<std::uint8_t> forged = SntpReply(kForgedSeconds, 0),
                                        real = SntpReply(kServerSeconds + (request.index > 1 ? 86400 : 0), 0x40000000u);
        std::vector<SntpDatagram> replies;
        if (request.index == 0) {  // the first request gets forgeries only, so the attempt times out
            std::vector<std::uint8_t> guess(transmit.begin(), transmit.end());
            guess.back() ^= 1;
            replies = {{WithOriginate(forged, guess), true}, {forged, true}};
        } else if (request.index == 1) {
            replies = {{WithOriginate(forged, previousTransmit), true}, {real}};
        } else {
            replies = {{WithOriginate(real, previousTransmit), staleOnly.load()}};
        }
        previousTransmit.assign(transmit.begin(), transmit.end());
        return replies;
    };
    SntpStandIn server(std::vector<std::string>{"127.0.0.1"}, 47102, respond);
    ASSERT_TRUE(server.IsListening());
    CNetTime client(servers, 47102);

    SYSTEMTIME machine{}, reading{}, synced{}, later{};
    EXPECT_FALSE(client.GetNetTime(reading));  // not synchronised: the machine's UTC clock
    EXPECT_FALSE(MakeSealContext(client, nullptr).bNetworkTime);
    GetSystemTime(&machine);
    EXPECT_NEAR(MsSince1900(machine), MsSince1900(reading), 5000);
    const ULONGLONG started = GetTickCount64();
    client.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &client, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return client.IsSynchronised(); }, 20000));
    const ULONGLONG syncedFrom = GetTickCount64();
    EXPECT_TRUE(client.GetNetTime(synced));
    const ULONGLONG syncedTo = GetTickCount64();
    EXPECT_GE(MsSince1900(synced), kServerMs) << "a forged reply set the clock";
    EXPECT_LE(MsSince1900(synced), kServerMs + static_cast<LONGLONG>(syncedTo - started) + 1);
    // A seal's time state: the server that answered (not the first one asked), the clock's offset.
    const OverlaySettings overlay{0, L"李四", L"CTP", L"7"};
    const SealContext context = MakeSealContext(client, &overlay);
    GetSystemTime(&machine);
    EXPECT_EQ((context.bNetworkTime ? "network " : "local ") + context.strServer, "network 127.0.0.1");
    EXPECT_NEAR(static_cast<double>(context.llClockOffsetMs), MsSince1900(machine) - MsSince1900(synced), 1500.0);
    EXPECT_TRUE(context.llReplyAgeMs >= 0 && context.llReplyAgeMs < 10000) << context.llReplyAgeMs;
    EXPECT_EQ(context.strName + context.strPlatform + context.strAccount, L"李四CTP7");

    // Answers to the request before the open one keep coming, yet the connection turns abnormal; the
    // readings keep the network time base and advance with the tick count.
    staleOnly = true;
    ASSERT_TRUE(WaitUntil([&] { return !client.GetNetTime(reading); }, 20000)) << "stale answers kept it connected";
    EXPECT_LT(GetTickCount64() - server.LastSentTick(), 4500u) << "the stale answers had stopped";
    const ULONGLONG laterFrom = GetTickCount64();
    EXPECT_FALSE(client.GetNetTime(later));
    const ULONGLONG laterTo = GetTickCount64();
    EXPECT_GE(MsSince1900(later) - MsSince1900(synced), static_cast<LONGLONG>(laterFrom - syncedTo) - 1);
    EXPECT_LE(MsSince1900(later) - MsSince1900(synced), static_cast<LONGLONG>(laterTo - syncedFrom) + 1);

    staleOnly = false;
    EXPECT_TRUE(WaitUntil([&] { return client.GetNetTime(reading); }, 20000)) << "never connected again";
    EXPECT_EQ(reading.wDay, 1) << "a later answer replaced the time base";
    // Without replies it turns abnormal once the last one is more than 4.5 s old.
    server.Shutdown();
    ASSERT_TRUE(WaitUntil([&] { return !client.GetNetTime(reading); }, 20000));
    EXPECT_GT(GetTickCount64() - server.LastSentTick(), 4500u) << "disconnected while the last reply was fresh";
    EXPECT_TRUE(client.Stop(20000));
    EXPECT_EQ(badRequests.load(), 0) << "a request is 0x0B, 39 zero bytes and a transmit time of its own";
    EXPECT_GT(transmitTimes.size(), 2u);
}
