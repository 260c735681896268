#include <cstring>

#include "support/TestSupport.h"

namespace testsupport {

std::vector<std::uint8_t> DesktopLikeFrame(int w, int h, int tick)
{
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(w) * h * 4);
    const int bx = (tick * 8) % (w > 100 ? w - 100 : 1), by = h / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int top = h - 1 - y, cell = x / 96 + (top / 24) * 20;  // rows are bottom-up
            // Each tick changes the digits (dark dots) of one cell in eight, about the share of
            // 16×16 blocks a busy trading screen changes. 0xRRGGBB is B, G, R, 0 in memory.
            std::uint32_t rgb = top < 30 ? 0x1E3C78 : (x / 96 + top / 24) % 2 == 0 ? 0xFAFAFA : 0xF0F0F0;
            if ((x * 7 + top * 13 + ((cell + tick) % 8 == 0 ? tick : 0)) % 97 < 6)
                rgb = 0x141414;
            if (x >= bx && x < bx + 100 && top >= by && top < by + 60)
                rgb = 0xDC2828;
            std::memcpy(&bits[(static_cast<std::size_t>(y) * w + x) * 4], &rgb, 4);
        }
    return bits;
}

}  // namespace testsupport
