#include "support/TestSupport.h"

namespace testsupport {

std::vector<std::uint8_t> DesktopLikeFrame(int w, int h, int tick)
{
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(w) * h * 4);
    const int bx = (tick * 8) % (w > 100 ? w - 100 : 1), by = h / 2;
    for (int y = 0; y < h; ++y) {
        const int top = h - 1 - y;  // bottom-up rows
        std::uint8_t* row = &bits[static_cast<std::size_t>(y) * w * 4];
        for (int x = 0; x < w; ++x) {
            std::uint8_t r = 240, g = 240, b = 240;
            if (top < 30) {
                r = 30; g = 60; b = 120;
            } else if ((x / 96 + top / 24) % 2 == 0) {
                r = 250; g = 250; b = 250;
            }
            // "Digits": dark specks; each tick changes the figures of one cell in eight, about the
            // share of 16×16 blocks that a busy trading screen changes per frame.
            const int cell = x / 96 + (top / 24) * 20;
            const int change = (cell + tick) % 8 == 0 ? tick : 0;
            if (((x * 7 + top * 13 + change) % 97) < 6) {
                r = 20; g = 20; b = 20;
            }
            if (x >= bx && x < bx + 100 && top >= by && top < by + 60) {
                r = 220; g = 40; b = 40;
            }
            std::uint8_t* p = row + x * 4;
            p[0] = b; p[1] = g; p[2] = r; p[3] = 0;
        }
    }
    return bits;
}

}  // namespace testsupport
