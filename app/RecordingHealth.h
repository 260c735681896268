#pragma once

// Whether recording that is switched on really reaches the disk, and for how long the disk will
// last: the main window asks once a second and shows a warning picture, a tip and one balloon per
// incident. Plain arithmetic over figures the caller gathers, so that it can be checked without a
// window, a disk or a clock. Used on the user-interface thread only.

#include <windows.h>

#include <deque>
#include <string>

class CRecordingHealth {
public:
    static constexpr ULONGLONG kStallMs = 10000;           // no frame written for this long: a fault
    static constexpr int kLowSpaceMinutes = 30;            // the disk fills within this: a warning
    static constexpr ULONGLONG kRateWindowMs = 120000;     // the write rate is measured over this
    static constexpr ULONGLONG kMinRateSpanMs = 20000;     // and not trusted over less

    enum class State { kOk, kNotWriting, kLowSpace };

    struct Sample {
        ULONGLONG ullNowMs = 0;            // GetTickCount64()
        bool bRecording = false;           // recording switched on by the user
        ULONGLONG ullLastWriteMs = 0;      // when a frame last reached the file (0: never); may be later than ullNowMs
        ULONGLONG ullBytesWritten = 0;     // frame data written so far
        bool bFreeKnown = false;           // the free space could be asked
        ULONGLONG ullFreeBytes = 0;
        int nRetentionMinutes = 0;
        int nCataloguedMinutes = 0;        // recordings kept so far
    };

    // Takes the figures of this moment; returns the state they amount to.
    State Update(const Sample& sample);

    [[nodiscard]] State Current() const { return m_state; }
    [[nodiscard]] int MinutesLeft() const { return m_nMinutesLeft; }
    // True once after a change into a fault: the caller shows one balloon for it.
    [[nodiscard]] bool TakeNewIncident();
    // The tip for the current state; empty when all is well.
    [[nodiscard]] std::wstring Describe() const;

private:
    State m_state = State::kOk;
    int m_nMinutesLeft = 0;
    bool m_bNewIncident = false;
    bool m_bWasRecording = false;
    ULONGLONG m_ullRecordingSinceMs = 0;
    std::deque<std::pair<ULONGLONG, ULONGLONG>> m_history;  // (time, bytes written) of recent samples
};
