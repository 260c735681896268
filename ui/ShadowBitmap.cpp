#include "ui/ShadowBitmap.h"

#include <algorithm>
#include <cmath>

namespace {

class ShadowImage {
public:
    ShadowImage(std::uint32_t* pixels, int width, int height) : m_pixels(pixels), m_width(width), m_height(height) {}

    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }

    // Bottom-up: image row y lives at memory row height - 1 - y.
    std::uint32_t& At(int x, int y) { return m_pixels[static_cast<size_t>(m_height - 1 - y) * m_width + x]; }

    void FillRow(int y, int from, int to, std::uint32_t value)
    {
        from = std::max(from, 0);
        to = std::min(to, m_width);
        for (int x = from; x < to; ++x)
            At(x, y) = value;
    }

private:
    std::uint32_t* m_pixels;
    int m_width;
    int m_height;
};

class ShadowKernel {
public:
    explicit ShadowKernel(const ShadowParams& p)
        : m_radius(p.size > p.sharpness ? p.size : p.sharpness), m_values(static_cast<size_t>(Side() * Side()))
    {
        const int innerRadius = p.size > p.sharpness ? p.size - p.sharpness : 0;
        for (int i = -m_radius; i <= m_radius; ++i) {
            for (int j = -m_radius; j <= m_radius; ++j) {
                const double dist = std::sqrt(static_cast<double>(i * i + j * j));
                std::uint32_t value = 0;
                if (dist < innerRadius) {
                    value = ShadowColourProduct(p.colour, p.darkness);
                } else if (dist <= m_radius) {
                    const double fade = 1.0 - (dist - innerRadius) / (p.sharpness + 1);
                    value = ShadowColourProduct(p.colour, static_cast<int>(p.darkness * fade));
                }
                m_values[static_cast<size_t>((i + m_radius) * Side() + (j + m_radius))] = value;
            }
        }
    }

    [[nodiscard]] int Radius() const { return m_radius; }

    // Every kernel cell raises the pixel under it to at least the cell's value (as 32-bit numbers).
    void StampAt(ShadowImage& image, int x, int y) const
    {
        for (int i = -m_radius; i <= m_radius; ++i) {
            const int py = y + i;
            if (py < 0 || py >= image.Height())
                continue;
            for (int j = -m_radius; j <= m_radius; ++j) {
                const int px = x + j;
                if (px < 0 || px >= image.Width())
                    continue;
                const std::uint32_t value = m_values[static_cast<size_t>((i + m_radius) * Side() + (j + m_radius))];
                std::uint32_t& pixel = image.At(px, py);
                pixel = std::max(pixel, value);
            }
        }
    }

private:
    [[nodiscard]] int Side() const { return 2 * m_radius + 1; }

    int m_radius;
    std::vector<std::uint32_t> m_values;
};

}  // namespace

std::uint32_t ShadowColourProduct(std::uint32_t colour, int alpha)
{
    const auto a = static_cast<std::uint32_t>(std::clamp(alpha, 0, 255));
    const std::uint32_t red = colour & 0xFF;
    const std::uint32_t green = (colour >> 8) & 0xFF;
    const std::uint32_t blue = (colour >> 16) & 0xFF;
    return a << 24 | (red * a / 255) << 16 | (green * a / 255) << 8 | (blue * a / 255);
}

void RenderShadowPixels(std::uint32_t* pixels, int parentWidth, const std::vector<ShadowSpan>& parentRows,
                        const ShadowParams& params)
{
    const int W = parentWidth;
    const int H = static_cast<int>(parentRows.size());
    const int s = params.size;
    const int SW = W + 2 * s;
    const int SH = H + 2 * s;
    if (SW <= 0 || SH <= 0 || W <= 0 || H <= 0)
        return;
    ShadowImage image(pixels, SW, SH);
    const ShadowSpan empty{W, 0};

    // Anchor table: the window's rows, shifted by the shadow's margin, framed by empty entries.
    const int M = std::max(H, SH);
    std::vector<ShadowSpan> anchors(static_cast<size_t>(M) + 2, empty);
    for (int py = 0; py < H; ++py) {
        const ShadowSpan row = parentRows[static_cast<size_t>(py)];
        anchors[static_cast<size_t>(1 + std::max(s, 0) + py)] =
            row.left < row.right ? ShadowSpan{row.left + s, row.right + s} : empty;
    }

    // Erosion: one pixel off every side per pass.
    std::vector<ShadowSpan> next(anchors.size(), empty);
    for (int pass = 0; pass < params.sharpness - s; ++pass) {
        for (int i = 1; i <= M; ++i) {
            const ShadowSpan& above = anchors[static_cast<size_t>(i - 1)];
            const ShadowSpan& here = anchors[static_cast<size_t>(i)];
            const ShadowSpan& below = anchors[static_cast<size_t>(i + 1)];
            next[static_cast<size_t>(i)] = ShadowSpan{std::max({above.left, here.left, below.left}) + 1,
                                                      std::min({above.right, here.right, below.right}) - 1};
        }
        anchors.swap(next);
    }

    const ShadowKernel kernel(params);
    const int R = kernel.Radius();
    const int rowBase = 1 + std::max(0, -s);
    auto eroded = [&](int y) { return anchors[static_cast<size_t>(rowBase + y)]; };

    // Edges: stamp the kernel along the parts of each row not covered by the rows above and below.
    for (int y = R; y <= SH - R - 1; ++y) {
        const ShadowSpan row = eroded(y);
        if (row.left >= row.right)
            continue;
        const ShadowSpan above = eroded(y - 1);
        const ShadowSpan below = eroded(y + 1);
        int x = row.left;
        const int leftEnd = std::min(row.right, std::max(above.left, below.left) + 1);
        for (; x < leftEnd; ++x)
            kernel.StampAt(image, x, y);
        for (x = std::max(x, std::min(above.right, below.right) - 1); x < row.right; ++x)
            kernel.StampAt(image, x, y);
    }

    // Solid inside, and a fully transparent hole where the window's own pixels lie.
    const std::uint32_t solid = ShadowColourProduct(params.colour, params.darkness);
    const int y0 = std::min(R, std::max(0, s - params.offsetY));
    const int y1 = std::max(SH - R, std::min(H + s - params.offsetY, SH));
    for (int y = y0; y < y1; ++y) {
        const ShadowSpan row = eroded(y);
        const int py = y + params.offsetY - s;
        if (py < 0 || py >= H) {
            image.FillRow(y, row.left, row.right, solid);
            continue;
        }
        const ShadowSpan parent = parentRows[static_cast<size_t>(py)];
        const int holeLeft = (parent.left < parent.right ? parent.left : W) - params.offsetX + s;
        const int holeRight = (parent.left < parent.right ? parent.right : 0) - params.offsetX + s;
        image.FillRow(y, row.left, std::min(row.right, holeLeft), solid);
        image.FillRow(y, std::max(0, holeLeft), std::min(SW, holeRight), 0);
        image.FillRow(y, std::max(row.left, holeRight), row.right, solid);
    }
}
