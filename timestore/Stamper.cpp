#include "timestore/Stamper.h"

#include <algorithm>

#include "framework/Utf8.h"
#include "timestore/SealLog.h"
#include "timestore/TimeStampExchange.h"
#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"

void CStamper::Configure(const StampSettings& settings, const Timing& timing)
{
    m_settings = settings;
    m_timing = timing;
    m_dwRetryMs = timing.dwFirstRetryMs;
    for (const std::wstring& file : settings.rootFiles)
        (void)m_roots.AddFile(file);
}

void CStamper::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_bStop = true;
    }
    m_bStopping = true;
    m_bAbandon = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CStamper::NoteHead(const std::wstring& folder, long long seq, const std::string& hash, bool bRecording)
{
    if (!IsConfigured())
        return;
    std::lock_guard lock(m_lock);
    if (folder != m_head.strFolder)
        m_nLastRecordingSeq = m_nStampedSeq = 0;  // another log: its own chain, its own stamps
    m_head = {folder, seq, hash};
    if (bRecording)
        m_nLastRecordingSeq = seq;
    if (!m_thread.joinable() && !m_bStop)
        m_thread = std::thread([this] { Work(); });
    m_wake.notify_all();
}

void CStamper::StampSoon()
{
    if (!IsConfigured())
        return;
    {
        std::lock_guard lock(m_lock);
        if (m_nLastRecordingSeq <= m_nStampedSeq || m_bStop)
            return;
        m_bUrgent = true;
    }
    m_bAbandon = true;  // an ordinary exchange under way gives way to this one
    m_wake.notify_all();
}

bool CStamper::WaitStamped(DWORD timeoutMs)
{
    std::unique_lock lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_bUrgent || m_bStop; });
}

void CStamper::Work()
{
    std::unique_lock lock(m_lock);
    while (!m_bStop) {
        if (m_nLastRecordingSeq <= m_nStampedSeq) {
            m_bUrgent = false;
            m_idle.notify_all();
            m_wake.wait(lock);
            continue;
        }
        const ULONGLONG now = GetTickCount64();
        ULONGLONG due = std::max(m_ullNextTry, m_ullLastStamp ? m_ullLastStamp + m_settings.nIntervalMinutes * 60000ULL : 0);
        if (m_bUrgent)
            due = now;
        if (now < due) {
            m_wake.wait_for(lock, std::chrono::milliseconds(due - now));
            continue;
        }
        const Head head = m_head;
        const bool urgent = m_bUrgent;
        m_bBusy = true;
        m_bAbandon = false;
        lock.unlock();
        CSealRecord stamp;
        try {
            stamp = Attempt(head, urgent);
        } catch (...) {
            // out of memory: counts as a failed attempt
        }
        const bool stamped = !stamp.m_fields.empty();
        if (stamped) {
            m_ullFailingSince = 0;  // before the record is seen: whoever sees it sees no failure
            m_deliver(head.strFolder, std::move(stamp));
        }
        lock.lock();
        m_bBusy = false;
        const ULONGLONG after = GetTickCount64();
        if (stamped) {
            if (m_head.strFolder == head.strFolder)
                m_nStampedSeq = std::max(m_nStampedSeq, head.nSeq);
            m_ullLastStamp = after;
            m_ullNextTry = 0;
            m_dwRetryMs = m_timing.dwFirstRetryMs;
            ++m_nTokens;
        } else if (!m_bStop && !(m_bAbandon && !urgent)) {
            if (m_ullFailingSince == 0)
                m_ullFailingSince = after;
            m_ullNextTry = after + m_dwRetryMs;
            m_dwRetryMs = std::min(m_dwRetryMs * 2, m_timing.dwMaxRetryMs);
        }
        if (urgent) {
            m_bUrgent = false;  // one try only: the end of a recording or of the program waits for nobody
            m_idle.notify_all();
        }
    }
    m_idle.notify_all();
}

CSealRecord CStamper::Attempt(const Head& head, bool bFinal)
{
    const CTimeStampRequest request = CTimeStampRequest::ForHash(head.strHash);
    if (request.Der().empty())
        return {};
    // A final stamp gives way only to the end of the stamper; an ordinary one also to a final one.
    const auto giveUp = [this, bFinal] { return bFinal ? m_bStopping.load() : m_bAbandon.load(); };
    for (const std::wstring& url : m_settings.urls) {
        const CTimeStampExchange::Result answer = CTimeStampExchange::Post(
            url, request.Der(), bFinal ? m_timing.dwFinalTimeoutMs : m_timing.dwTimeoutMs, giveUp);
        if (!answer.bAnswered && giveUp())
            return {};
        std::string problem;
        const std::string token = answer.bAnswered ? CTimeStampToken::FromReply(answer.strBody, problem) : "";
        CTimeStampToken::Checked checked;
        // A bad token is never sealed: the next address, or a later try, may give a good one.
        if (token.empty() || !CTimeStampToken::Check(token, request.Imprint(), request.Nonce(), m_roots, checked).empty())
            continue;
        CSealRecord stamp;
        stamp.Set(CSealRecord::kKindKey, "stamp");
        stamp.Set("covers_seq", std::to_string(head.nSeq));
        stamp.Set("covers_hash", head.strHash);
        stamp.Set("tsa", ToUtf8(url));
        stamp.Set("gen_time", CTimeStampInfo::FormatUtc(checked.info.llGenTimeMs));
        stamp.Set("serial", checked.info.strSerial);
        stamp.Set("token", CTimeStampToken::ToBase64(token));
        return stamp;
    }
    return {};
}
