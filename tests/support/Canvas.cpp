#include "support/Canvas.h"

namespace testsupport {

Canvas::Canvas(int width, int height, COLORREF fill) : m_width(width)
{
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    m_bitmap.Reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    m_bits = static_cast<std::uint32_t*>(bits);
    m_dc.Reset(::CreateCompatibleDC(nullptr));
    m_select = std::make_unique<lumeno::SelectGuard>(m_dc.Get(), m_bitmap.Get());
    for (int i = 0; i < width * height; ++i)
        m_bits[i] = (GetRValue(fill) << 16) | (GetGValue(fill) << 8) | GetBValue(fill);
}

COLORREF Canvas::At(int x, int y) const
{
    ::GdiFlush();
    const std::uint32_t v = m_bits[y * m_width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

}  // namespace testsupport
