#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ui/ShadowBitmap.h"

namespace {

// The values the program uses: size 0, sharpness 5, darkness 150, offset (5, 5), black.
constexpr ShadowParams kInForce{0, 5, 150, 5, 5, 0x000000};

class RenderedShadow {
public:
    RenderedShadow(int width, const std::vector<ShadowSpan>& rows, const ShadowParams& params = kInForce)
        : m_width(width + 2 * params.size),
          m_height(static_cast<int>(rows.size()) + 2 * params.size),
          m_pixels(static_cast<size_t>(m_width * m_height), 0)
    {
        RenderShadowPixels(m_pixels.data(), width, rows, params);
    }
    RenderedShadow(int width, int height, const ShadowParams& params = kInForce)
        : RenderedShadow(width, std::vector<ShadowSpan>(static_cast<size_t>(height), ShadowSpan{0, width}), params)
    {
    }

    [[nodiscard]] std::uint32_t Pixel(int x, int y) const
    {
        return m_pixels[static_cast<size_t>((m_height - 1 - y) * m_width + x)];
    }
    [[nodiscard]] int Alpha(int x, int y) const { return static_cast<int>(Pixel(x, y) >> 24); }
    [[nodiscard]] int MaxAlpha() const
    {
        int maxAlpha = 0;
        for (std::uint32_t p : m_pixels)
            maxAlpha = std::max(maxAlpha, static_cast<int>(p >> 24));
        return maxAlpha;
    }
    [[nodiscard]] const std::vector<std::uint32_t>& Memory() const { return m_pixels; }

private:
    int m_width;
    int m_height;
    std::vector<std::uint32_t> m_pixels;
};

}  // namespace

TEST(ShadowBitmap, ColourProductIsPremultiplied)
{
    EXPECT_EQ(ShadowColourProduct(0x000000, 150), 150u << 24);
    // COLORREF red in the low byte; the result is alpha, red, green, blue from the high byte down.
    EXPECT_EQ(ShadowColourProduct(RGB(255, 128, 10), 150),
              (150u << 24) | (150u << 16) | ((128u * 150 / 255) << 8) | (10u * 150 / 255));
    EXPECT_EQ(ShadowColourProduct(RGB(255, 255, 255), 0), 0u);
    EXPECT_EQ(ShadowColourProduct(RGB(255, 255, 255), 255), 0xFFFFFFFFu);
}

TEST(ShadowBitmap, RectangularParent24x16ToThePixel)
{
    const RenderedShadow shadow(24, 16);
    // Under the parent (columns 0–18 of rows 0–10): fully transparent.
    for (int y = 0; y <= 10; ++y)
        for (int x = 0; x <= 18; ++x)
            ASSERT_EQ(shadow.Pixel(x, y), 0u) << x << "," << y;
    // The right band, row 7, and the bottom band, column 10: the blurred edge.
    const int edge[] = {125, 100, 75, 50, 24};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(shadow.Alpha(19 + i, 7), edge[i]) << "row 7, column " << 19 + i;
        EXPECT_EQ(shadow.Alpha(10, 11 + i), edge[i]) << "column 10, row " << 11 + i;
        // Black: no colour bits, only alpha.
        EXPECT_EQ(shadow.Pixel(19 + i, 7) & 0x00FFFFFFu, 0u);
    }
    // The rounded top end of the right band.
    EXPECT_EQ(shadow.Alpha(19, 1), 46);
    EXPECT_EQ(shadow.Alpha(19, 0), 0);
    // The outermost row: 24 in columns 5–18 only.
    for (int x = 0; x < 24; ++x)
        EXPECT_EQ(shadow.Alpha(x, 15), (x >= 5 && x <= 18) ? 24 : 0) << "row 15, column " << x;
    // Image row 0 is stored last: memory row 0 is the image's bottom row 15.
    EXPECT_EQ(shadow.Memory()[5] >> 24, 24u);
    EXPECT_EQ(shadow.Memory()[static_cast<size_t>(15 * 24 + 19)] >> 24, 0u);
}

TEST(ShadowBitmap, Parent12x12HasOnlyTheCornerOfTheBottomRow)
{
    const RenderedShadow shadow(12, 12);
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(shadow.Alpha(x, 11), (x == 5 || x == 6) ? 24 : 0) << "row 11, column " << x;
}

TEST(ShadowBitmap, TenPixelsIsTooSmallElevenIsVisible)
{
    EXPECT_EQ(RenderedShadow(10, 40).MaxAlpha(), 0);
    EXPECT_EQ(RenderedShadow(40, 10).MaxAlpha(), 0);
    EXPECT_EQ(RenderedShadow(10, 10).MaxAlpha(), 0);
    EXPECT_EQ(RenderedShadow(11, 40).MaxAlpha(), 125);
    EXPECT_EQ(RenderedShadow(40, 11).MaxAlpha(), 125);
    EXPECT_EQ(RenderedShadow(11, 11).MaxAlpha(), 125);
}

TEST(ShadowBitmap, ShapedParentLeavesItsOwnPixelsTransparentOnly)
{
    // Left half of a 24 × 16 window only: the same shadow as a 12 × 16 window, in a wider image.
    const RenderedShadow half(24, std::vector<ShadowSpan>(16, ShadowSpan{0, 12}));
    const RenderedShadow narrow(12, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x)
            ASSERT_EQ(half.Pixel(x, y), x < 12 ? narrow.Pixel(x, y) : 0u) << x << "," << y;
    }
    // Empty rows (a region with a gap) hold no parent pixels: the upper part's blurred bottom edge
    // shows through the gap instead of being cleared.
    std::vector<ShadowSpan> withGap(40, ShadowSpan{0, 40});
    for (int y = 15; y < 25; ++y)
        withGap[static_cast<size_t>(y)] = ShadowSpan{40, 0};
    const RenderedShadow gapped(40, withGap);
    EXPECT_EQ(gapped.Alpha(20, 10), 125);  // over parent row 15, in the gap
    EXPECT_EQ(gapped.Alpha(20, 14), 24);   // over parent row 19, five pixels below the edge
    EXPECT_EQ(gapped.Alpha(20, 4), 0);     // over parent row 9, which covers it
}

TEST(ShadowBitmap, LargerShadowKeepsTheParentHoleAndSolidCore)
{
    // Size 3, sharpness 2: the image grows by 3 pixels on every side and has a solid inner disc.
    const ShadowParams params{3, 2, 200, 0, 0, 0x000000};
    const RenderedShadow shadow(30, 30, params);
    for (int y = 3; y < 33; ++y)
        for (int x = 3; x < 33; ++x)
            ASSERT_EQ(shadow.Pixel(x, y), 0u) << x << "," << y;  // the parent, not shifted
    EXPECT_EQ(shadow.Alpha(2, 18), 200);  // one pixel outside the parent: inside the solid radius
    EXPECT_EQ(shadow.Alpha(0, 0), 0);     // the corner is rounded off
    EXPECT_GT(shadow.Alpha(0, 18), 0);
    EXPECT_LT(shadow.Alpha(0, 18), 200);
}
