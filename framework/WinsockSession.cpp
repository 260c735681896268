#include "framework/WinsockSession.h"

CWinsockSession::CWinsockSession() noexcept
{
    WSADATA data{};
    if (::WSAStartup(kRequestedVersion, &data) != 0)
        return;
    m_bStarted = true;
    m_wVersion = data.wVersion;
}

CWinsockSession::~CWinsockSession()
{
    if (m_bStarted)
        (void)::WSACleanup();
}
