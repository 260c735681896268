#pragma once

// A stand-in SNTP server in the test process, a socket per address, answering as the test's responder
// says, with the request's transmit time as originate unless a datagram goes out as it is (a forgery).
// Use 127.0.0.1: under Wine only that loopback address is bound as itself and answers from itself.

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "framework/SocketHandle.h"  // and winsock2.h
#include "framework/WinsockSession.h"

namespace testsupport {

struct SntpRequest {
    int index = 0;                    // 0 for the first request this server received
    std::string askedAddress;         // the address the client sent it to
    std::vector<std::uint8_t> bytes;  // the datagram as received
};
struct SntpDatagram {
    std::vector<std::uint8_t> bytes;  // sent from the socket the request arrived on
    bool asIs = false;                // true: no originate time is filled in
};
using SntpResponder = std::function<std::vector<SntpDatagram>(const SntpRequest&)>;

// A 48-byte server reply carrying the given time as its receive and transmit times; originate zero.
[[nodiscard]] std::vector<std::uint8_t> SntpReply(std::uint32_t seconds, std::uint32_t fraction, std::uint8_t mode = 4,
                                                  std::uint8_t stratum = 2);
// The reply with `originate` (8 bytes, as in a request's transmit field) as its originate time.
[[nodiscard]] std::vector<std::uint8_t> WithOriginate(std::vector<std::uint8_t> reply,
                                                      std::span<const std::uint8_t> originate);
// The transmit field of a request (8 bytes); empty for a datagram too short to have one.
[[nodiscard]] std::span<const std::uint8_t> TransmitField(const SntpRequest& request);

class SntpStandIn {
public:
    SntpStandIn(std::vector<std::string> addresses, std::uint16_t port, SntpResponder responder);
    ~SntpStandIn() { Shutdown(); }
    void Shutdown();  // closes every socket; afterwards nothing answers
    [[nodiscard]] bool IsListening() const { return m_listening; }
    [[nodiscard]] ULONGLONG LastSentTick() const { return m_lastSentTick; }  // tick before the latest send; 0: never

private:
    void Serve();
    CWinsockSession m_winsock;
    SntpResponder m_responder;
    std::vector<std::string> m_addresses;
    std::vector<lumeno::UniqueSocket> m_sockets;  // one per address
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::atomic<ULONGLONG> m_lastSentTick{0};
    std::thread m_thread;
};

}  // namespace testsupport
