#include "timestore/SntpReply.h"

#include <cstring>

namespace {

constexpr std::uint8_t kModeServer = 4;
constexpr std::uint8_t kLowestStratum = 1;
constexpr std::uint8_t kHighestStratum = 15;
constexpr int kTransmitSecondsOffset = 40;
constexpr int kTransmitFractionOffset = 44;

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) noexcept
{
    u_long networkOrder = 0;
    std::memcpy(&networkOrder, bytes, sizeof networkOrder);
    return ::ntohl(networkOrder);
}

// Anyone can send a datagram to the client's port; only the servers it asked may set its clock.
bool IsAskedServer(const sockaddr_in& sender, std::span<const char* const> askedServers,
                   std::uint16_t askedPort) noexcept
{
    if (sender.sin_family != AF_INET || sender.sin_port != ::htons(askedPort))
        return false;
    for (const char* server : askedServers) {
        const unsigned long address = ::inet_addr(server);
        if (address != INADDR_NONE && address == sender.sin_addr.s_addr)
            return true;
    }
    return false;
}

}  // namespace

std::optional<SntpTimestamp> AcceptSntpReply(const std::uint8_t* datagram, int length, const sockaddr_in& sender,
                                             std::span<const char* const> askedServers,
                                             std::uint16_t askedPort) noexcept
{
    // An over-long datagram is not a plain SNTP answer either.
    if (datagram == nullptr || length != kSntpPacketSize || !IsAskedServer(sender, askedServers, askedPort))
        return std::nullopt;
    const std::uint8_t mode = datagram[0] & 0x07;
    const std::uint8_t stratum = datagram[1];
    if (mode != kModeServer || stratum < kLowestStratum || stratum > kHighestStratum)
        return std::nullopt;
    // An unsynchronised server may answer with an all-zero time: that is no time at all.
    const SntpTimestamp transmit{ReadBigEndian32(datagram + kTransmitSecondsOffset),
                                 ReadBigEndian32(datagram + kTransmitFractionOffset)};
    if (transmit.seconds == 0 && transmit.fraction == 0)
        return std::nullopt;
    return transmit;
}
