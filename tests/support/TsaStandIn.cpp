#include "support/TsaStandIn.h"

#include <cstdlib>

#include "timestore/TimeStampExchange.h"
#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"

namespace testsupport {

TsaStandIn::TsaStandIn() { (void)Start(); }

bool TsaStandIn::Start()
{
    wchar_t source[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LUMENO_SOURCE_DIR", source, MAX_PATH);
    const std::string port = m_port > 0 ? " --port " + std::to_string(m_port) : "";
    DeleteFileW(m_dir.File(L"port").c_str());
    (void)RunHost("nohup python3 '" + Narrow(source) + "/tools/tsa-standin.py' '" + UnixPath(m_dir.Path()) +
                  "'" + port + " > '" + UnixPath(m_dir.File(L"log")) + "' 2>&1 &");
    // Four RSA keys are made at the first start.
    if (!WaitUntil([&] { return FileExists(m_dir.File(L"port")); }, 120000))
        return false;
    const auto bytes = ReadBytes(m_dir.File(L"port"));
    m_port = std::atoi(std::string(bytes.begin(), bytes.end()).c_str());
    return m_port > 0;
}

void TsaStandIn::Kill()
{
    if (FileExists(m_dir.File(L"pid")))
        (void)RunHost("kill $(cat '" + UnixPath(m_dir.File(L"pid")) + "') && rm -f '" + UnixPath(m_dir.File(L"pid")) +
                      "'");
}

int TsaStandIn::Requests() const
{
    int lines = 0;
    for (const std::uint8_t c : ReadBytes(m_dir.File(L"requests")))
        lines += c == '\n' ? 1 : 0;
    return lines;
}

std::string TsaStandIn::TokenFor(const std::string& hexHash) const
{
    const CTimeStampRequest request = CTimeStampRequest::ForHash(hexHash);
    const CTimeStampExchange::Result answer = CTimeStampExchange::Post(Url(), request.Der(), 30000, {});
    m_strProblem = answer.strProblem;
    return answer.bAnswered ? CTimeStampToken::FromReply(answer.strBody, m_strProblem) : std::string();
}

std::string TsaStandIn::LastProblem() const
{
    const auto log = ReadBytes(m_dir.File(L"log"));
    return m_strProblem + "; the stand-in's log:\n" + std::string(log.begin(), log.end());
}

}  // namespace testsupport
