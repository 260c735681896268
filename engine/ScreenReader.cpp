#include "engine/ScreenReader.h"

#include <algorithm>

namespace {

double Middle(std::vector<double>& ms)
{
    if (ms.empty())
        return 0;
    std::nth_element(ms.begin(), ms.begin() + static_cast<std::ptrdiff_t>(ms.size() / 2), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int CScreenReader::StripRows(int width)
{
    return std::max(1, kStripBytes / (std::max(width, 1) * 4));
}

void CScreenReader::Read(Way way, HDC to, HDC screen, int width, int height)
{
    if (way == Way::kWhole) {
        BitBlt(to, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        return;
    }
    const int rows = StripRows(width);
    for (int y = 0; y < height; y += rows)
        BitBlt(to, 0, y, width, std::min(rows, height - y), screen, 0, y, SRCCOPY);
}

CScreenReader::Way CScreenReader::Faster(std::vector<double> wholeMs, std::vector<double> stripsMs)
{
    if (wholeMs.empty() || stripsMs.empty())
        return Way::kStrips;
    return 2 * Middle(wholeMs) < Middle(stripsMs) ? Way::kWhole : Way::kStrips;
}

void CScreenReader::Choose(HDC to, HDC screen, int width, int height)
{
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    const auto timed = [&](Way way) {
        QueryPerformanceCounter(&start);
        Read(way, to, screen, width, height);
        GdiFlush();
        QueryPerformanceCounter(&end);
        return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    };
    // Taken in turns, so that a busy moment of the machine weighs on both; the middle time of each
    // leaves out the first read, which also touches the frame's memory for the first time.
    std::vector<double> whole, strips;
    for (int i = 0; i < kTrials; ++i) {
        strips.push_back(timed(Way::kStrips));
        whole.push_back(timed(Way::kWhole));
    }
    m_way = Faster(whole, strips);
    m_dWholeMs = Middle(whole);
    m_dStripsMs = Middle(strips);
}
