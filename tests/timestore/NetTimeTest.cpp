#include <gtest/gtest.h>

#include <atomic>

#include "support/SntpStandIn.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"

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
    // The last second of each day the 32-bit seconds field can hold (up to February 2036).
    for (ULONGLONG days = 0; days < 0xFFFFFFFFu / 86400; ++days) {
        SYSTEMTIME st{}, expected{};
        CNetTime::NtpToSystemTime(static_cast<DWORD>(days * 86400 + 86399), 0, 0, st);
        const ULONGLONG units = (days * 86400 + 86399) * 10'000'000 + 94354848000000000;  // since 1601
        const FILETIME ft{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &expected));
        ASSERT_EQ(Text(st), Text(expected)) << "day " << days;
    }
    constexpr DWORD k2024 = 3913056000u;  // 2024-01-01 00:00:00 UTC, a Monday
    const std::tuple<DWORD, DWORD, ULONGLONG, const char*> cases[] = {
        {k2024, 0xFFF00000u, 0, "2024-01-01 00:00:01.000 1"},               // 999.76 ms round up to a second
        {k2024, 8589935u, 1999, "2024-01-01 00:00:02.001 1"},               // 2 ms + 1.999 s
        {k2024 + 3599, 0x80000000u, 61250, "2024-01-01 01:01:00.750 1"},    // .500 + 61.250 s
        {k2024, 0, 50ull * 86400 * 1000 + 7, "2024-02-20 00:00:00.007 2"},  // beyond 32 bits of ms
    };
    for (const auto& [seconds, fraction, elapsedMs, expected] : cases) {
        SYSTEMTIME st{};
        CNetTime::NtpToSystemTime(seconds, fraction, elapsedMs, st);
        EXPECT_EQ(Text(st), expected);
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

// One client against a stand-in server on loopback whose clock reads 2035-01-01 00:00:00.250 UTC,
// far from the machine's, so that a reading tells by itself where it came from.
TEST(NetTimeTest, SynchronisesOnceThenFollowsTheServersReplies)
{
    constexpr DWORD kServerSeconds = 4260211200u;
    constexpr LONGLONG kServerMs = LONGLONG{kServerSeconds} * 1000 + 250;
    const char* const servers[] = {"127.0.0.2", "127.0.0.1"};  // the first one never answers
    CWinsockSession winsock;
    std::atomic<int> answers{0}, badRequests{0};
    const SntpResponder respond = [&](const SntpRequest& request) {
        badRequests += request.bytes.size() != 48 || request.bytes[0] != 0x0B ||  // no leap warning, version 1, client
                       std::any_of(request.bytes.begin() + 1, request.bytes.end(), [](auto b) { return b != 0; });
        // Every answer after the first is a day later: the time base taken at synchronisation stays.
        return std::vector<SntpDatagram>{{SntpReply(kServerSeconds + (answers++ ? 86400 : 0), 0x40000000u)}};
    };
    auto server = std::make_unique<SntpStandIn>(std::vector<std::string>{"127.0.0.1"}, 47102, respond);
    ASSERT_TRUE(server->IsListening());
    CNetTime client(servers, 47102);

    SYSTEMTIME machine{}, reading{}, synced{}, later{};
    EXPECT_FALSE(client.GetNetTime(reading));  // not synchronised: the machine's UTC clock
    GetSystemTime(&machine);
    EXPECT_NEAR(MsSince1900(machine), MsSince1900(reading), 5000);
    const ULONGLONG started = GetTickCount64();
    client.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &client, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return client.IsSynchronised(); }, 15000));
    const ULONGLONG syncedFrom = GetTickCount64();
    EXPECT_TRUE(client.GetNetTime(synced));
    const ULONGLONG syncedTo = GetTickCount64();
    EXPECT_GE(MsSince1900(synced), kServerMs);
    EXPECT_LE(MsSince1900(synced), kServerMs + static_cast<LONGLONG>(syncedTo - started) + 1);

    // Without replies the connection turns abnormal once the last one is more than 4.5 s old; the
    // readings keep the network time base and advance with the tick count.
    server->Shutdown();
    ASSERT_TRUE(WaitUntil([&] { return !client.GetNetTime(reading); }, 20000));
    EXPECT_GT(GetTickCount64() - server->LastSentTick(), 4500u) << "disconnected while the last reply was fresh";
    const ULONGLONG laterFrom = GetTickCount64();
    EXPECT_FALSE(client.GetNetTime(later));
    const ULONGLONG laterTo = GetTickCount64();
    EXPECT_GE(MsSince1900(later) - MsSince1900(synced), static_cast<LONGLONG>(laterFrom - syncedTo) - 1);
    EXPECT_LE(MsSince1900(later) - MsSince1900(synced), static_cast<LONGLONG>(laterTo - syncedFrom) + 1);

    server = std::make_unique<SntpStandIn>(std::vector<std::string>{"127.0.0.1"}, 47102, respond);
    EXPECT_TRUE(WaitUntil([&] { return client.GetNetTime(reading); }, 20000)) << "never connected again";
    EXPECT_EQ(reading.wDay, 1) << "a later answer replaced the time base";
    EXPECT_EQ(badRequests.load(), 0) << "a request is 0x0B and 47 zero bytes";
    EXPECT_TRUE(client.Stop(20000));
}
