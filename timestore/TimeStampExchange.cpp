#include "timestore/TimeStampExchange.h"

#include <winhttp.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "framework/Handles.h"

namespace {

constexpr DWORD kPollMs = 50;

struct Shared {
    std::mutex lock;
    std::condition_variable done;
    bool bDone = false;
    CTimeStampExchange::Result result;
};

}  // namespace

CTimeStampExchange::Result CTimeStampExchange::Post(const std::wstring& url, const std::string& request,
                                                    DWORD timeoutMs, const std::function<bool()>& giveUp)
{
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, url, request, timeoutMs] {
            Result result;
            try {
                result = Exchange(url, request, timeoutMs);
            } catch (...) {
                result.strProblem = "out of memory";
            }
            std::lock_guard lock(shared->lock);
            shared->result = std::move(result);
            shared->bDone = true;
            shared->done.notify_all();
        }).detach();
    } catch (...) {
        Result none;
        none.strProblem = "no thread for the request";
        return none;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    std::unique_lock lock(shared->lock);
    while (!shared->bDone) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || (giveUp && giveUp())) {
            Result late;
            late.strProblem = now >= deadline ? "no answer within " + std::to_string(timeoutMs / 1000) + " s"
                                              : "given up";
            return late;
        }
        shared->done.wait_for(lock, std::chrono::milliseconds(std::min<ULONGLONG>(kPollMs, deadline - now)));
    }
    return std::move(shared->result);
}

CTimeStampExchange::Result CTimeStampExchange::Exchange(const std::wstring& url, const std::string& request,
                                                        DWORD timeoutMs)
{
    Result result;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || parts.dwHostNameLength == 0)
        return result.strProblem = "not an http or https address", result;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"");
    if (parts.lpszExtraInfo)
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";

    const lumeno::UniqueInternet session(
        WinHttpOpen(L"Lumeno", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    const int limit = static_cast<int>(timeoutMs);
    if (!session || !WinHttpSetTimeouts(session.Get(), limit, limit, limit, limit))
        return result.strProblem = "WinHTTP is not available", result;
    const lumeno::UniqueInternet connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    const lumeno::UniqueInternet call(
        connection ? WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                   : nullptr);
    static constexpr wchar_t kHeaders[] = L"Content-Type: application/timestamp-query\r\n";
    if (!call ||
        !WinHttpSendRequest(call.Get(), kHeaders, static_cast<DWORD>(-1), const_cast<char*>(request.data()),
                            static_cast<DWORD>(request.size()), static_cast<DWORD>(request.size()), 0) ||
        !WinHttpReceiveResponse(call.Get(), nullptr))
        return result.strProblem = "no answer (error " + std::to_string(GetLastError()) + ")", result;
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(call.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != 200)
        return result.strProblem = "HTTP status " + std::to_string(status), result;
    char buffer[8192];
    for (DWORD read = 0;;) {
        if (!WinHttpReadData(call.Get(), buffer, sizeof buffer, &read))
            return result.strProblem = "the answer broke off", result;
        if (read == 0)
            break;
        if (result.strBody.size() + read > kMaxReplyBytes)
            return result.strBody.clear(), result.strProblem = "the answer is too large", result;
        result.strBody.append(buffer, read);
    }
    result.bAnswered = true;
    return result;
}
