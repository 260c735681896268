#pragma once

// Keeps a recording's timeline true: stream position p of a file stands for the 100 ms tick that
// began p × 100 ms after the file started. When a tick overran, the positions it missed are filled
// with empty (dropped) frames before the next picture, so a file always plays in real time.
// Used by the recording thread alone; times are timeGetTime() milliseconds (wrap-safe differences).

#include <windows.h>

class CFramePacer {
public:
    static constexpr int kTickMs = 100;
    static constexpr int kFramesPerFile = 600;

    // A new file starts now: its position 0 is the current tick.
    void StartFile(DWORD nowMs) { m_dwFileStart = nowMs; }

    // Milliseconds since the file started.
    [[nodiscard]] DWORD Elapsed(DWORD nowMs) const { return nowMs - m_dwFileStart; }

    // The position the tick at nowMs stands for (may be kFramesPerFile or more: the file is over).
    [[nodiscard]] int DuePosition(DWORD nowMs) const
    {
        const DWORD ticks = Elapsed(nowMs) / kTickMs;
        return ticks > static_cast<DWORD>(kFramesPerFile) ? kFramesPerFile : static_cast<int>(ticks);
    }

    // Empty positions to write before a picture at nowMs, given the frames already in the file:
    // never more than what is left of the file.
    [[nodiscard]] int DroppedBefore(int frameCount, DWORD nowMs) const
    {
        const int due = DuePosition(nowMs);
        return due > frameCount ? due - frameCount : 0;
    }

    // How long to wait from nowMs until the tick of the given position begins (0 when it has).
    [[nodiscard]] DWORD WaitUntilPosition(int position, DWORD nowMs) const
    {
        const DWORD target = static_cast<DWORD>(position) * kTickMs;
        const DWORD elapsed = Elapsed(nowMs);
        return elapsed >= target ? 0 : target - elapsed;
    }

private:
    DWORD m_dwFileStart = 0;
};
