#pragma once

// One POST of a time-stamp request to an authority over WinHTTP (with the system's proxy
// settings), answered within a time limit and a size limit. The exchange runs on a short-lived
// thread of its own that shares nothing but its own state, so the caller can give up on a slow
// authority at once (a stop, the end of the program) without waiting for the network: an exchange
// that is given up on ends by itself within its time-outs and touches nothing of the caller's.
// Threads: Post may be called from any thread.

#include <windows.h>

#include <functional>
#include <string>

class CTimeStampExchange {
public:
    // A reply is a few kilobytes; anything larger is not one and is not read further.
    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

    struct Result {
        bool bAnswered = false;  // HTTP 200 and a body within the limits
        std::string strBody;
        std::string strProblem;  // why not, in words
    };

    // Sends `request` to an http:// or https:// URL and waits for the answer at most timeoutMs, or
    // until giveUp() (asked every few tens of milliseconds) says to stop waiting.
    [[nodiscard]] static Result Post(const std::wstring& url, const std::string& request, DWORD timeoutMs,
                                     const std::function<bool()>& giveUp);

private:
    [[nodiscard]] static Result Exchange(const std::wstring& url, const std::string& request, DWORD timeoutMs);
};
