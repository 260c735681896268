#pragma once

// A stand-in SNTP server inside the test process: one Winsock UDP socket per address it answers
// for, served by its own thread. What it sends back for each request is decided by a responder
// the test supplies, so tests can answer well, badly, late, or from addresses nobody asked.
// Use loopback addresses (127.0.0.x) only. Under Wine only 127.0.0.1 is bound as itself: a socket
// bound to another loopback address listens on every loopback address of its port and its
// datagrams leave from 127.0.0.1. So answers that must come from the asked address need the
// client to ask 127.0.0.1, and 127.0.0.1 is the one reliable "other" address.

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/SocketHandle.h"
#include "framework/WinsockSession.h"

namespace testsupport {

struct SntpRequest {
    int index = 0;                    // 0 for the first request this server received
    std::string askedAddress;         // the address the client sent it to
    std::vector<std::uint8_t> bytes;  // the datagram as received
};

struct SntpDatagram {
    enum class Source {
        AskedSocket,   // from the address and port that were asked
        OtherAddress,  // from the spare address given to the constructor, same port
        OtherPort,     // from the asked address, but another port
    };
    std::vector<std::uint8_t> bytes;
    Source source = Source::AskedSocket;
};

using SntpResponder = std::function<std::vector<SntpDatagram>(const SntpRequest&)>;

// A 48-byte server reply carrying the given transmit time; the fields tests vary are parameters.
[[nodiscard]] std::vector<std::uint8_t> SntpReply(std::uint32_t seconds, std::uint32_t fraction, std::uint8_t mode = 4,
                                                  std::uint8_t stratum = 2);

class SntpStandIn {
public:
    // Answers on every address in `addresses` at `port`; spareAddress (none when empty) serves the
    // OtherAddress source.
    SntpStandIn(std::vector<std::string> addresses, std::uint16_t port, SntpResponder responder,
                std::string spareAddress = {});
    ~SntpStandIn();
    SntpStandIn(const SntpStandIn&) = delete;
    SntpStandIn& operator=(const SntpStandIn&) = delete;

    // Closes every socket; afterwards nothing answers.
    void Shutdown();

    [[nodiscard]] bool IsListening() const { return m_listening; }
    [[nodiscard]] int RequestCount() const { return m_requestCount.load(); }
    // GetTickCount64 when the first/latest request arrived and when the latest datagram went out (0: never).
    [[nodiscard]] ULONGLONG FirstRequestTick() const { return m_firstRequestTick.load(); }
    [[nodiscard]] ULONGLONG LastSentTick() const { return m_lastSentTick.load(); }
    [[nodiscard]] std::vector<ULONGLONG> RequestTicks() const;

private:
    struct Endpoint {
        std::string address;
        lumeno::UniqueSocket asked;      // bound to address:port
        lumeno::UniqueSocket otherPort;  // bound to address:port+1
    };
    void Serve();
    void Answer(const Endpoint& endpoint, const sockaddr_in& client, const SntpRequest& request);

    CWinsockSession m_winsock;
    std::uint16_t m_port;
    SntpResponder m_responder;
    std::vector<Endpoint> m_endpoints;
    lumeno::UniqueSocket m_otherAddress;  // bound to the spare address, same port
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requestCount{0};
    std::atomic<ULONGLONG> m_firstRequestTick{0};
    std::atomic<ULONGLONG> m_lastSentTick{0};
    mutable std::mutex m_ticksLock;
    std::vector<ULONGLONG> m_requestTicks;
    std::thread m_thread;
};

}  // namespace testsupport
