#pragma once

// Tells when the encoder has fallen behind the tick for good, so that the recording can move to the
// encoder's faster path before pictures are lost. At each tick the recording thread notes whether
// the encoder was more than a whole picture behind (two or more pictures still waiting, or no free
// frame buffer at all). The encoder has fallen behind when that was so at kBehind of the last kWindow
// ticks: a stall of a second or two (a busy disk) does not count, a screen too large for the
// encoder's path does within about three seconds. The verdict holds until Reset (the end of the
// recording session), so the encoder never flaps between its paths.
// Used by the recording thread alone.

#include <bitset>

class CFallBehindRule {
public:
    static constexpr int kWindow = 30;  // ticks: three seconds
    static constexpr int kBehind = 20;  // two thirds of them

    // Notes one tick; true from the tick at which the encoder counts as fallen behind on.
    bool Note(bool behind)
    {
        if (m_bFallenBehind)
            return true;
        m_nBehind += (behind ? 1 : 0) - (m_ticks[m_nNext] ? 1 : 0);
        m_ticks[m_nNext] = behind;
        m_nNext = (m_nNext + 1) % kWindow;
        m_bFallenBehind = m_nBehind >= kBehind;
        return m_bFallenBehind;
    }
    [[nodiscard]] bool FallenBehind() const { return m_bFallenBehind; }
    void Reset() { *this = CFallBehindRule(); }

private:
    std::bitset<kWindow> m_ticks;  // the last kWindow ticks, a ring from m_nNext
    int m_nNext = 0;
    int m_nBehind = 0;
    bool m_bFallenBehind = false;
};
