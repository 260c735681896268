#pragma once

// The rule for which datagram on the time client's socket counts as a server's answer, apart from
// the socket so that every way of breaking it can be checked without a network. Plain function;
// any thread.

#include <winsock2.h>

#include <cstdint>
#include <optional>
#include <span>

// An SNTP timestamp: seconds since 1900-01-01 00:00 UTC and a fraction in units of 2^-32 s.
struct SntpTimestamp {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;
};

inline constexpr int kSntpPacketSize = 48;

// The transmit time of a datagram of `length` bytes from `sender`, when it is an acceptable reply
// to requests sent to `askedServers` (dotted-decimal IPv4) on `askedPort`: it comes from one of
// those addresses and that port, is exactly one SNTP packet, is a server's answer (mode 4) from a
// synchronised server (stratum 1..15) and carries a non-zero transmit time. Nothing otherwise.
[[nodiscard]] std::optional<SntpTimestamp> AcceptSntpReply(const std::uint8_t* datagram, int length,
                                                           const sockaddr_in& sender,
                                                           std::span<const char* const> askedServers,
                                                           std::uint16_t askedPort) noexcept;
