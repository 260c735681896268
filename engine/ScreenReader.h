#pragma once

// Reads the primary screen into the frame being composed: in strips of rows read one after the
// other, or in one read where the first reads of a run found that clearly faster on this machine. A
// frame holds the same pixels either way. Under Wine each read is one X reply that the C library may
// map afresh when it is large: a whole 4K screen took five to twenty times as long as the same screen
// in strips of a quarter megabyte and lost a third of the positions, or was as quick, depending on
// the allocator's history; strips in turn wait longer on a busy X server. On Windows a read of the
// screen may have a cost of its own, which a hundred strips would multiply. So the trial decides,
// and the whole read is kept only where it took less than half the time of the strips.
// Used by the recording thread alone.

#include <windows.h>

#include <vector>

class CScreenReader {
public:
    enum class Way { kWhole, kStrips };
    // Below the size from which the C library maps each block afresh, on 32 and on 64 bits.
    static constexpr int kStripBytes = 256 * 1024;
    static constexpr int kTrials = 5;  // timed reads of each way; their middle one counts

    // Times both ways into `to` (a DC holding a 32-bit frame of the screen's size), keeps the faster.
    void Choose(HDC to, HDC screen, int width, int height);
    void Read(HDC to, HDC screen, int width, int height) const { Read(m_way, to, screen, width, height); }
    static void Read(Way way, HDC to, HDC screen, int width, int height);

    [[nodiscard]] Way GetWay() const { return m_way; }
    [[nodiscard]] double WholeMs() const { return m_dWholeMs; }    // as Choose measured them
    [[nodiscard]] double StripsMs() const { return m_dStripsMs; }
    [[nodiscard]] static int StripRows(int width);
    // One read only when the middle of its times is under half the middle of the strips'.
    [[nodiscard]] static Way Faster(std::vector<double> wholeMs, std::vector<double> stripsMs);

private:
    Way m_way = Way::kStrips;
    double m_dWholeMs = 0, m_dStripsMs = 0;
};
