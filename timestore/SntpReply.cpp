#include "timestore/SntpReply.h"

#include <cstring>

namespace {

constexpr std::uint8_t kModeServer = 4;
constexpr std::uint8_t kLowestStratum = 1;
constexpr std::uint8_t kHighestStratum = 15;
constexpr int kOriginateOffset = 24;
constexpr int kTransmitOffset = 40;

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) noexcept
{
    u_long networkOrder = 0;
    std::memcpy(&networkOrder, bytes, sizeof networkOrder);
    return ::ntohl(networkOrder);
}

SntpTimestamp ReadTimestamp(const std::uint8_t* bytes) noexcept
{
    return {ReadBigEndian32(bytes), ReadBigEndian32(bytes + 4)};
}

// Anyone can send a datagram to the client's port; only a server it asked may set its clock, and
// only with the answer to the request it has open there. Matching the originate time to that
// request's unpredictable transmit time is what keeps a sender off the path from forging an answer
// by guessing the client's port alone.
std::optional<std::size_t> AskedServerAwaiting(const sockaddr_in& sender, const SntpTimestamp& originate,
                                               std::span<const char* const> askedServers,
                                               std::span<const SntpTimestamp> outstanding,
                                               std::uint16_t askedPort) noexcept
{
    constexpr SntpTimestamp kNone{};
    if (sender.sin_family != AF_INET || sender.sin_port != ::htons(askedPort) || originate == kNone)
        return std::nullopt;
    for (std::size_t i = 0; i < askedServers.size() && i < outstanding.size(); ++i) {
        const unsigned long address = ::inet_addr(askedServers[i]);
        if (address != INADDR_NONE && address == sender.sin_addr.s_addr && outstanding[i] == originate)
            return i;
    }
    return std::nullopt;
}

}  // namespace

std::optional<SntpAnswer> AcceptSntpReply(const std::uint8_t* datagram, int length, const sockaddr_in& sender,
                                          std::span<const char* const> askedServers,
                                          std::span<const SntpTimestamp> outstanding, std::uint16_t askedPort) noexcept
{
    // An over-long datagram is not a plain SNTP answer either.
    if (datagram == nullptr || length != kSntpPacketSize)
        return std::nullopt;
    const std::optional<std::size_t> server =
        AskedServerAwaiting(sender, ReadTimestamp(datagram + kOriginateOffset), askedServers, outstanding, askedPort);
    if (!server)
        return std::nullopt;
    const std::uint8_t mode = datagram[0] & 0x07;
    const std::uint8_t stratum = datagram[1];
    if (mode != kModeServer || stratum < kLowestStratum || stratum > kHighestStratum)
        return std::nullopt;
    // An unsynchronised server may answer with an all-zero time: that is no time at all.
    const SntpTimestamp transmit = ReadTimestamp(datagram + kTransmitOffset);
    if (transmit == SntpTimestamp{})
        return std::nullopt;
    return SntpAnswer{*server, transmit};
}
