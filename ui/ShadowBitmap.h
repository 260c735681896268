#pragma once

// The pixels of a window's drop shadow, computed from the window's outline alone so that they can be
// checked without any window: a blurred copy of the outline, offset, with a fully transparent hole
// where the window itself lies. CDropShadow samples the outline and puts the result on screen.

#include <cstdint>
#include <vector>

struct ShadowParams {
    int size;       // how many pixels the shadow is larger than the window on each side
    int sharpness;  // width of the blurred edge
    int darkness;   // alpha of the solid part, 0..255
    int offsetX;    // position of the shadow relative to the window
    int offsetY;
    std::uint32_t colour;  // COLORREF: red in the low byte
};

// A half-open pixel range left <= x < right of one row; empty when left >= right.
struct ShadowSpan {
    int left;
    int right;
};

// The premultiplied BGRA value (alpha << 24 | red << 16 | green << 8 | blue) of the colour at an alpha.
[[nodiscard]] std::uint32_t ShadowColourProduct(std::uint32_t colour, int alpha);

// Fills a zeroed bottom-up 32-bit image of (W + 2 × size) × (H + 2 × size) pixels, where W is
// parentWidth and H the number of parentRows; parentRows[y] is the window's row y as the span
// (first, last + 1) of its pixels, or (W, 0) when the row has none. Image row 0 is the top row and is
// the last row in memory.
void RenderShadowPixels(std::uint32_t* pixels, int parentWidth, const std::vector<ShadowSpan>& parentRows,
                        const ShadowParams& params);
