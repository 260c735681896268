#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/SntpStandIn.h"
#include "timestore/SntpReply.h"

namespace {

using Datagram = std::vector<std::uint8_t>;
const char* const kAsked[] = {"10.1.2.3", "192.0.2.7"};

std::optional<SntpTimestamp> Accept(const Datagram& datagram, const char* from, std::uint16_t port = 123)
{
    const sockaddr_in sender{AF_INET, htons(port), {.S_un = {.S_addr = inet_addr(from)}}, {}};
    return AcceptSntpReply(datagram.data(), static_cast<int>(datagram.size()), sender, kAsked, 123);
}

}  // namespace

TEST(SntpReplyTest, OnlyAnAskedServersSynchronisedAnswerWithATimeIsAccepted)
{
    const struct {
        const char* what;
        void (*change)(Datagram&);
        const char* from;
        std::uint16_t port;
        bool accepted;
    } cases[] = {
        {"as sent", [](Datagram&) {}, "192.0.2.7", 123, true},
        {"from the other server, stratum 1", [](Datagram& d) { d[1] = 1; }, "10.1.2.3", 123, true},
        {"stratum 15", [](Datagram& d) { d[1] = 15; }, "10.1.2.3", 123, true},
        {"only a fraction", [](Datagram& d) { std::fill_n(&d[40], 4, 0); }, "10.1.2.3", 123, true},
        {"47 bytes", [](Datagram& d) { d.resize(47); }, "10.1.2.3", 123, false},
        {"49 bytes", [](Datagram& d) { d.resize(49); }, "10.1.2.3", 123, false},
        {"client mode", [](Datagram& d) { d[0] = 0x0B; }, "10.1.2.3", 123, false},
        {"broadcast mode", [](Datagram& d) { d[0] = 0x0D; }, "10.1.2.3", 123, false},
        {"stratum 0", [](Datagram& d) { d[1] = 0; }, "10.1.2.3", 123, false},
        {"stratum 16", [](Datagram& d) { d[1] = 16; }, "10.1.2.3", 123, false},
        {"zero transmit time", [](Datagram& d) { std::fill_n(&d[40], 8, 0); }, "10.1.2.3", 123, false},
        {"address not asked", [](Datagram&) {}, "10.1.2.4", 123, false},
        {"port not asked", [](Datagram&) {}, "10.1.2.3", 124, false},
    };
    for (const auto& c : cases) {
        // Transmit time 0x80000000.40000000; the receive time differs, so neither stands in for the other.
        Datagram datagram = testsupport::SntpReply(0x80000000u, 0x40000000u);
        std::fill_n(&datagram[32], 8, 0x77);
        c.change(datagram);
        const auto transmit = Accept(datagram, c.from, c.port);  // all ones: rejected
        const ULONGLONG got = transmit ? ULONGLONG{transmit->seconds} << 32 | transmit->fraction : ~0ull;
        EXPECT_EQ(got, !c.accepted ? ~0ull : datagram[40] ? 0x8000000040000000u : 0x40000000u) << c.what;
    }
}

TEST(SntpReplyTest, GarbageIsAcceptedOnlyWhenItHappensToFollowTheRule)
{
    std::mt19937 random(20240101);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        Datagram datagram(random() % 2 ? 48 : random() % 100);
        for (std::uint8_t& byte : datagram)
            byte = static_cast<std::uint8_t>(random() % 2 ? random() : 0);
        if (datagram.size() > 1 && random() % 2)  // a server's mode and a stratum near the range, more often
            datagram[0] = (datagram[0] & 0xF8) | 4, datagram[1] %= 17;
        const std::uint16_t port = random() % 8 ? 123 : 124;
        const bool rule = datagram.size() == 48 && (datagram[0] & 7) == 4 && datagram[1] >= 1 && datagram[1] <= 15 &&
                          std::any_of(datagram.begin() + 40, datagram.end(), [](std::uint8_t b) { return b != 0; }) &&
                          port == 123;
        ASSERT_EQ(Accept(datagram, kAsked[i % 2], port).has_value(), rule) << "datagram " << i;
        accepted += rule;
    }
    EXPECT_GT(accepted, 1000);  // the accepting side was reached, not only the rejections
}
