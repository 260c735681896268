#include "support/SntpStandIn.h"

#include <algorithm>

namespace testsupport {

std::vector<std::uint8_t> SntpReply(std::uint32_t seconds, std::uint32_t fraction, std::uint8_t mode,
                                    std::uint8_t stratum)
{
    std::vector<std::uint8_t> reply(48, 0);
    reply[0] = static_cast<std::uint8_t>((1 << 3) | (mode & 0x07));  // version 1, like the request
    reply[1] = stratum;
    for (int i = 0; i < 4; ++i) {  // receive and transmit times, big-endian
        reply[32 + i] = reply[40 + i] = static_cast<std::uint8_t>(seconds >> (24 - 8 * i));
        reply[36 + i] = reply[44 + i] = static_cast<std::uint8_t>(fraction >> (24 - 8 * i));
    }
    return reply;
}

std::vector<std::uint8_t> WithOriginate(std::vector<std::uint8_t> reply, std::span<const std::uint8_t> originate)
{
    if (reply.size() >= 32 && originate.size() == 8)
        std::copy(originate.begin(), originate.end(), reply.begin() + 24);
    return reply;
}

std::span<const std::uint8_t> TransmitField(const SntpRequest& request)
{
    if (request.bytes.size() < 48)
        return {};
    return std::span(request.bytes).subspan(40, 8);
}

SntpStandIn::SntpStandIn(std::vector<std::string> addresses, std::uint16_t port, SntpResponder responder)
    : m_responder(std::move(responder)), m_addresses(std::move(addresses))
{
    m_listening = m_winsock.IsStarted();
    for (const std::string& address : m_addresses) {
        const sockaddr_in local{AF_INET, htons(port), {.S_un = {.S_addr = inet_addr(address.c_str())}}, {}};
        lumeno::UniqueSocket& s = m_sockets.emplace_back(socket(AF_INET, SOCK_DGRAM, 0));
        const DWORD pollMs = 50;  // how soon Shutdown is noticed
        (void)setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&pollMs), sizeof pollMs);
        m_listening = m_listening && s && bind(s.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    m_thread = std::thread([this] { Serve(); });
}

void SntpStandIn::Shutdown()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_sockets.clear();
}

void SntpStandIn::Serve()
{
    for (int requests = 0; m_listening && !m_stop;) {
        for (std::size_t i = 0; i < m_sockets.size(); ++i) {
            std::uint8_t buffer[512];
            sockaddr_in client{};
            int clientLength = sizeof client;
            const SOCKET s = m_sockets[i].Get();  // its recvfrom waits at most pollMs
            const int length = recvfrom(s, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                                        reinterpret_cast<sockaddr*>(&client), &clientLength);
            if (length < 0)
                continue;
            const SntpRequest request{requests++, m_addresses[i], {buffer, buffer + length}};
            for (const SntpDatagram& datagram : m_responder(request)) {
                const std::vector<std::uint8_t> bytes =
                    datagram.asIs ? datagram.bytes : WithOriginate(datagram.bytes, TransmitField(request));
                m_lastSentTick = GetTickCount64();
                (void)sendto(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                             reinterpret_cast<const sockaddr*>(&client), sizeof client);
            }
        }
    }
}

}  // namespace testsupport
