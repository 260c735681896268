#include "app/RecordingHealth.h"

#include <algorithm>
#include <utility>

CRecordingHealth::State CRecordingHealth::Update(const Sample& sample)
{
    const State before = m_state;
    if (!sample.bRecording) {
        m_bWasRecording = false;
        m_history.clear();
        m_state = State::kOk;
        return m_state;
    }
    if (!m_bWasRecording) {
        // The grace of the stall rule starts when recording is switched on, not at the last frame
        // of an earlier recording.
        m_bWasRecording = true;
        m_ullRecordingSinceMs = sample.ullNowMs;
    }

    m_history.emplace_back(sample.ullNowMs, sample.ullBytesWritten);
    while (m_history.size() > 2 && sample.ullNowMs - m_history.front().first > kRateWindowMs)
        m_history.pop_front();

    // A frame written after "now" was read is progress, not a wrap-around of the difference.
    const ULONGLONG lastProgress = std::max(sample.ullLastWriteMs, m_ullRecordingSinceMs);
    if (sample.ullNowMs > lastProgress && sample.ullNowMs - lastProgress >= kStallMs) {
        m_state = State::kNotWriting;
    } else {
        m_state = State::kOk;
        const ULONGLONG spanMs = sample.ullNowMs - m_history.front().first;
        const ULONGLONG bytes = sample.ullBytesWritten - m_history.front().second;
        if (sample.bFreeKnown && spanMs >= kMinRateSpanMs && bytes > 0) {
            const double bytesPerMinute = static_cast<double>(bytes) * 60000.0 / static_cast<double>(spanMs);
            const double minutesLeft = static_cast<double>(sample.ullFreeBytes) / bytesPerMinute;
            // Once the kept recordings reach the retention time, every new file is paid for by
            // deleting the oldest: the disk only fills if it runs out before that.
            const int untilRetention = std::max(sample.nRetentionMinutes - sample.nCataloguedMinutes, 0);
            if (minutesLeft < kLowSpaceMinutes && minutesLeft < untilRetention) {
                m_state = State::kLowSpace;
                m_nMinutesLeft = static_cast<int>(minutesLeft);
            }
        }
    }
    if (m_state != State::kOk && m_state != before)
        m_bNewIncident = true;
    return m_state;
}

bool CRecordingHealth::TakeNewIncident()
{
    return std::exchange(m_bNewIncident, false);
}

std::wstring CRecordingHealth::Describe() const
{
    switch (m_state) {
        case State::kNotWriting:
            return L"录像异常：无法写入存储位置";
        case State::kLowSpace:
            return L"磁盘空间不足，约 " + std::to_wstring(m_nMinutesLeft) + L" 分钟后停止录像";
        default:
            return {};
    }
}
