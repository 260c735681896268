#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/SntpStandIn.h"
#include "timestore/SntpReply.h"

namespace {

using Datagram = std::vector<std::uint8_t>;
const char* const kAsked[] = {"10.1.2.3", "192.0.2.7"};
// The requests open at the two servers, and one sent to the first server before its open one.
constexpr SntpTimestamp kOpenFirst{0xE9000001u, 0x8F3A61C5u};
constexpr SntpTimestamp kOpenSecond{0xE9000001u, 0x1B77D402u};
constexpr SntpTimestamp kEarlierFirst{0xE8FFFFFFu, 0x5D21E09Au};
constexpr SntpTimestamp kNone{};

Datagram Bytes(const SntpTimestamp& t)
{
    Datagram bytes(8);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(t.seconds >> (24 - 8 * i));
        bytes[4 + i] = static_cast<std::uint8_t>(t.fraction >> (24 - 8 * i));
    }
    return bytes;
}

std::optional<SntpAnswer> Accept(const Datagram& datagram, const char* from, std::uint16_t port,
                                 std::span<const SntpTimestamp> outstanding)
{
    const sockaddr_in sender{AF_INET, htons(port), {.S_un = {.S_addr = inet_addr(from)}}, {}};
    return AcceptSntpReply(datagram.data(), static_cast<int>(datagram.size()), sender, kAsked, outstanding, 123);
}

}  // namespace

TEST(SntpReplyTest, OnlyTheAnswerToTheOpenRequestOfAnAskedSynchronisedServerIsAccepted)
{
    const SntpTimestamp bothOpen[] = {kOpenFirst, kOpenSecond};
    const SntpTimestamp firstAnswered[] = {kNone, kOpenSecond};
    const struct {
        const char* what;
        void (*change)(Datagram&);
        const char* from;
        std::uint16_t port;
        SntpTimestamp originate;
        std::span<const SntpTimestamp> outstanding;
        int server;  // the server it is accepted as; -1 rejected
    } cases[] = {
        {"as sent", [](Datagram&) {}, "192.0.2.7", 123, kOpenSecond, bothOpen, 1},
        {"from the first server, stratum 1", [](Datagram& d) { d[1] = 1; }, "10.1.2.3", 123, kOpenFirst, bothOpen, 0},
        {"stratum 15", [](Datagram& d) { d[1] = 15; }, "10.1.2.3", 123, kOpenFirst, bothOpen, 0},
        {"only a fraction", [](Datagram& d) { std::fill_n(&d[40], 4, 0); }, "10.1.2.3", 123, kOpenFirst, bothOpen, 0},
        {"47 bytes", [](Datagram& d) { d.resize(47); }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"49 bytes", [](Datagram& d) { d.resize(49); }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"client mode", [](Datagram& d) { d[0] = 0x0B; }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"broadcast mode", [](Datagram& d) { d[0] = 0x0D; }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"stratum 0", [](Datagram& d) { d[1] = 0; }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"stratum 16", [](Datagram& d) { d[1] = 16; }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"zero transmit time", [](Datagram& d) { std::fill_n(&d[40], 8, 0); }, "10.1.2.3", 123, kOpenFirst, bothOpen, -1},
        {"address not asked", [](Datagram&) {}, "10.1.2.4", 123, kOpenFirst, bothOpen, -1},
        {"port not asked", [](Datagram&) {}, "10.1.2.3", 124, kOpenFirst, bothOpen, -1},
        // Forged or stale answers from the right address and port.
        {"wrong originate, last bit", [](Datagram&) {}, "10.1.2.3", 123, {0xE9000001u, 0x8F3A61C4u}, bothOpen, -1},
        {"wrong originate, seconds", [](Datagram&) {}, "10.1.2.3", 123, {0xE9000002u, 0x8F3A61C5u}, bothOpen, -1},
        {"zero originate", [](Datagram&) {}, "10.1.2.3", 123, kNone, bothOpen, -1},
        {"zero originate, nothing open", [](Datagram&) {}, "10.1.2.3", 123, kNone, firstAnswered, -1},
        {"an earlier request's originate", [](Datagram&) {}, "10.1.2.3", 123, kEarlierFirst, bothOpen, -1},
        {"the other server's request", [](Datagram&) {}, "10.1.2.3", 123, kOpenSecond, bothOpen, -1},
        {"a duplicate of the accepted answer", [](Datagram&) {}, "10.1.2.3", 123, kOpenFirst, firstAnswered, -1},
        {"the server still open after the other answered", [](Datagram&) {}, "192.0.2.7", 123, kOpenSecond,
         firstAnswered, 1},
    };
    for (const auto& c : cases) {
        // Transmit time 0x80000000.40000000; the receive time differs, so neither stands in for the other.
        Datagram datagram = testsupport::WithOriginate(testsupport::SntpReply(0x80000000u, 0x40000000u),
                                                       Bytes(c.originate));
        std::fill_n(&datagram[32], 8, 0x77);
        c.change(datagram);
        const auto answer = Accept(datagram, c.from, c.port, c.outstanding);
        EXPECT_EQ(answer ? static_cast<int>(answer->server) : -1, c.server) << c.what;
        if (answer) {
            const SntpTimestamp expected{datagram[40] ? 0x80000000u : 0u, 0x40000000u};
            EXPECT_EQ(answer->transmit, expected) << c.what;
        }
    }
}

TEST(SntpReplyTest, GarbageIsAcceptedOnlyWhenItHappensToFollowTheRule)
{
    const SntpTimestamp open[] = {kOpenFirst, kOpenSecond};
    std::mt19937 random(20240101);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        Datagram datagram(random() % 2 ? 48 : random() % 100);
        for (std::uint8_t& byte : datagram)
            byte = static_cast<std::uint8_t>(random() % 2 ? random() : 0);
        if (datagram.size() > 1 && random() % 2)  // a server's mode and a stratum near the range, more often
            datagram[0] = (datagram[0] & 0xF8) | 4, datagram[1] %= 17;
        if (datagram.size() >= 32 && random() % 4)  // mostly the originate of one of the open requests
            datagram = testsupport::WithOriginate(datagram, Bytes(open[random() % 2]));
        const std::uint16_t port = random() % 8 ? 123 : 124;
        const bool rule = datagram.size() == 48 && (datagram[0] & 7) == 4 && datagram[1] >= 1 && datagram[1] <= 15 &&
                          std::any_of(datagram.begin() + 40, datagram.end(), [](std::uint8_t b) { return b != 0; }) &&
                          std::equal(datagram.begin() + 24, datagram.begin() + 32, Bytes(open[i % 2]).begin()) &&
                          port == 123;
        ASSERT_EQ(Accept(datagram, kAsked[i % 2], port, open).has_value(), rule) << "datagram " << i;
        accepted += rule;
    }
    EXPECT_GT(accepted, 500);  // the accepting side was reached, not only the rejections
}
