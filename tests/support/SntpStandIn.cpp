#include "support/SntpStandIn.h"

#include <cstring>

namespace testsupport {

namespace {

lumeno::UniqueSocket OpenBound(const std::string& address, std::uint16_t port)
{
    lumeno::UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!s)
        return s;
    // Wine binds a UDP socket for any loopback address but 127.0.0.1 as 0.0.0.0 on the loopback
    // device and refuses a second such bind on the same port unless both sockets allow reuse.
    const BOOL reuse = TRUE;
    (void)::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(port);
    local.sin_addr.s_addr = ::inet_addr(address.c_str());
    if (::bind(s.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        s.Reset();
    return s;
}

void PutBigEndian32(std::uint8_t* at, std::uint32_t value)
{
    const u_long networkOrder = ::htonl(value);
    std::memcpy(at, &networkOrder, sizeof networkOrder);
}

}  // namespace

std::vector<std::uint8_t> SntpReply(std::uint32_t seconds, std::uint32_t fraction, std::uint8_t mode,
                                    std::uint8_t stratum)
{
    std::vector<std::uint8_t> reply(48, 0);
    reply[0] = static_cast<std::uint8_t>((1 << 3) | (mode & 0x07));  // version 1, like the request
    reply[1] = stratum;
    reply[2] = 4;                         // poll
    reply[3] = 0xEC;                      // precision -20
    PutBigEndian32(&reply[32], seconds);  // receive timestamp
    PutBigEndian32(&reply[36], fraction);
    PutBigEndian32(&reply[40], seconds);  // transmit timestamp
    PutBigEndian32(&reply[44], fraction);
    return reply;
}

SntpStandIn::SntpStandIn(std::vector<std::string> addresses, std::uint16_t port, SntpResponder responder,
                         std::string spareAddress)
    : m_port(port), m_responder(std::move(responder))
{
    m_listening = m_winsock.IsStarted();
    for (const std::string& address : addresses) {
        Endpoint endpoint{address, OpenBound(address, port), OpenBound(address, static_cast<std::uint16_t>(port + 1))};
        m_listening = m_listening && endpoint.asked && endpoint.otherPort;
        m_endpoints.push_back(std::move(endpoint));
    }
    if (!spareAddress.empty()) {
        m_otherAddress = OpenBound(spareAddress, port);
        m_listening = m_listening && m_otherAddress;
    }
    m_thread = std::thread([this] { Serve(); });
}

SntpStandIn::~SntpStandIn()
{
    Shutdown();
}

void SntpStandIn::Shutdown()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_endpoints.clear();
    m_otherAddress.Reset();
    m_listening = false;
}

std::vector<ULONGLONG> SntpStandIn::RequestTicks() const
{
    std::lock_guard<std::mutex> lock(m_ticksLock);
    return m_requestTicks;
}

void SntpStandIn::Serve()
{
    while (!m_stop) {
        fd_set readSet;
        FD_ZERO(&readSet);
        for (const Endpoint& endpoint : m_endpoints)
            if (endpoint.asked)
                FD_SET(endpoint.asked.Get(), &readSet);
        timeval wait{0, 50 * 1000};
        const int ready = ::select(0, &readSet, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR)
            ::Sleep(50);
        if (ready <= 0)
            continue;
        for (const Endpoint& endpoint : m_endpoints) {
            if (!endpoint.asked || !FD_ISSET(endpoint.asked.Get(), &readSet))
                continue;
            std::uint8_t buffer[512];
            sockaddr_in client{};
            int clientLength = sizeof client;
            const int length = ::recvfrom(endpoint.asked.Get(), reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                                          reinterpret_cast<sockaddr*>(&client), &clientLength);
            if (length < 0)
                continue;
            const ULONGLONG tick = ::GetTickCount64();
            SntpRequest request;
            request.index = m_requestCount++;
            request.askedAddress = endpoint.address;
            request.bytes.assign(buffer, buffer + length);
            if (request.index == 0)
                m_firstRequestTick = tick;
            {
                std::lock_guard<std::mutex> lock(m_ticksLock);
                m_requestTicks.push_back(tick);
            }
            Answer(endpoint, client, request);
        }
    }
}

void SntpStandIn::Answer(const Endpoint& endpoint, const sockaddr_in& client, const SntpRequest& request)
{
    for (const SntpDatagram& datagram : m_responder(request)) {
        SOCKET from = endpoint.asked.Get();
        if (datagram.source == SntpDatagram::Source::OtherAddress)
            from = m_otherAddress.Get();
        else if (datagram.source == SntpDatagram::Source::OtherPort)
            from = endpoint.otherPort.Get();
        m_lastSentTick = ::GetTickCount64();
        (void)::sendto(from, reinterpret_cast<const char*>(datagram.bytes.data()),
                       static_cast<int>(datagram.bytes.size()), 0, reinterpret_cast<const sockaddr*>(&client),
                       sizeof client);
    }
}

}  // namespace testsupport
