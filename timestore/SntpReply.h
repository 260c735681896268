#pragma once

// The rule for which datagram on the time client's socket counts as a server's answer, apart from
// the socket so that every way of breaking it can be checked without a network. Plain function;
// any thread.

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// An SNTP timestamp: seconds since 1900-01-01 00:00 UTC (modulo 2^32) and a fraction in units of
// 2^-32 s. All zero means "no time".
struct SntpTimestamp {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;
    friend bool operator==(const SntpTimestamp&, const SntpTimestamp&) = default;
};

// An accepted reply: which of the asked servers sent it and the server's transmit time.
struct SntpAnswer {
    std::size_t server = 0;
    SntpTimestamp transmit;
};

inline constexpr int kSntpPacketSize = 48;

// The answer in a datagram of `length` bytes from `sender`, when it is an acceptable reply to the
// requests sent to `askedServers` (dotted-decimal IPv4) on `askedPort`: it comes from one of those
// addresses and that port, is exactly one SNTP packet, is a server's answer (mode 4) from a
// synchronised server (stratum 1..15), carries a non-zero transmit time, and its originate time
// equals `outstanding[i]`, the transmit time of the request still unanswered at that server
// (all zero when none is). Nothing otherwise. `outstanding` runs parallel to `askedServers`.
[[nodiscard]] std::optional<SntpAnswer> AcceptSntpReply(const std::uint8_t* datagram, int length,
                                                        const sockaddr_in& sender,
                                                        std::span<const char* const> askedServers,
                                                        std::span<const SntpTimestamp> outstanding,
                                                        std::uint16_t askedPort) noexcept;
