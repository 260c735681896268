#pragma once

// A 32-bit top-down DIB section in a memory DC, filled with one colour: a drawing target whose
// pixels the tests can read back exactly.

#include "framework/Handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace testsupport {

class Canvas {
public:
    Canvas(int width, int height, COLORREF fill);
    [[nodiscard]] HDC Dc() const { return m_dc.Get(); }
    [[nodiscard]] COLORREF At(int x, int y) const;

private:
    int m_width;
    lumeno::UniqueBitmap m_bitmap;
    lumeno::UniqueMemoryDc m_dc;
    std::unique_ptr<lumeno::SelectGuard> m_select;  // declared last: puts the DC's bitmap back first
    std::uint32_t* m_bits = nullptr;
};

}  // namespace testsupport
