#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "engine/ScreenReader.h"
#include "framework/Handles.h"
#include "support/TestDesktop.h"  // ScreenBits
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

// A colour for each band of three rows, unlike its neighbours'.
COLORREF BandColour(int y)
{
    const int band = y / 3;
    return RGB(band * 53 & 255, band * 97 & 255, band * 151 & 255);
}

struct Frame {
    lumeno::UniqueBitmap bitmap;
    std::uint8_t* bits = nullptr;
};

Frame MakeFrame(HDC screen, int width, int height)
{
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Frame frame;
    void* bits = nullptr;
    frame.bitmap.Reset(CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    frame.bits = static_cast<std::uint8_t*>(bits);
    return frame;
}

}  // namespace

// Strips read every row of the screen where the whole read puts it, however the height divides, on
// a screen of bands that differ row by row; one read is taken only where it is far faster.
TEST(ScreenReaderTest, StripsHoldTheWholeReadsPixelsAndGiveWayOnlyToAFarFasterWholeRead)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_NE(h % CScreenReader::StripRows(w), 0) << "the last strip should be a short one";
    const lumeno::WindowDc screen(nullptr);
    // The bands as a picture in a topmost window over the whole screen, painted by this thread.
    Frame picture = MakeFrame(screen.Get(), w, h);
    {
        const lumeno::UniqueMemoryDc dc(CreateCompatibleDC(screen.Get()));
        const lumeno::SelectGuard select(dc.Get(), picture.bitmap.Get());
        for (int y = 0; y < h; y += 3) {
            const RECT band{0, y, w, y + 3};
            const lumeno::UniqueBrush brush(CreateSolidBrush(BandColour(y)));
            FillRect(dc.Get(), &band, brush.Get());
        }
    }
    const HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | SS_BITMAP, 0, 0, w, h,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    const std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> owned(window, &DestroyWindow);
    ASSERT_TRUE(window);
    SendMessageW(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.bitmap.Get()));
    ShowWindow(window, SW_SHOWNOACTIVATE);
    const int slack = ScreenBits() < 24 ? 8 : 0;
    const auto shows = [&](int y) {
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&msg);
        const COLORREF c = GetPixel(screen.Get(), w / 2, y), want = BandColour(y);
        return std::abs(GetRValue(c) - GetRValue(want)) <= slack && std::abs(GetGValue(c) - GetGValue(want)) <= slack &&
               std::abs(GetBValue(c) - GetBValue(want)) <= slack;
    };
    ASSERT_TRUE(WaitUntil([&] { return shows(0) && shows(h / 2 + 1) && shows(h - 1); }, 20000))
        << "the bands never reached the screen";

    const lumeno::UniqueMemoryDc dc(CreateCompatibleDC(screen.Get()));
    Frame whole = MakeFrame(screen.Get(), w, h), strips = MakeFrame(screen.Get(), w, h);
    ASSERT_TRUE(whole.bits && strips.bits);
    for (auto& [frame, way] : {std::pair{&whole, CScreenReader::Way::kWhole}, {&strips, CScreenReader::Way::kStrips}}) {
        const lumeno::SelectGuard select(dc.Get(), frame->bitmap.Get());
        CScreenReader::Read(way, dc.Get(), screen.Get(), w, h);
        GdiFlush();
    }
    EXPECT_EQ(std::memcmp(whole.bits, strips.bits, static_cast<std::size_t>(w) * h * 4), 0);
    for (const int y : {0, 1, 2, 3, h / 2, h - 2, h - 1}) {  // rows are bottom-up; blue, green, red
        const std::uint8_t* pixel = whole.bits + (static_cast<std::size_t>(h - 1 - y) * w + w / 2) * 4;
        EXPECT_LE(std::abs(pixel[1] - GetGValue(BandColour(y))), slack) << "row " << y;
    }

    const struct {
        std::vector<double> whole, strips;
        CScreenReader::Way way;
    } cases[] = {
        {{620, 450, 470}, {145, 22, 25}, CScreenReader::Way::kStrips},  // a 4K screen under Wine
        {{3.0, 2.9, 3.1}, {4.6, 4.4, 4.7}, CScreenReader::Way::kStrips},  // a little slower: kept
        {{20, 21, 22}, {60, 61, 59}, CScreenReader::Way::kWhole},       // a fixed cost a read, times 127
        {{20, 500, 20}, {900, 60, 60}, CScreenReader::Way::kWhole},     // one slow read of each left out
        {{30, 30, 30}, {60, 60, 60}, CScreenReader::Way::kStrips},      // exactly half is not under half
        {{}, {1}, CScreenReader::Way::kStrips},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CScreenReader::Faster(c.whole, c.strips), c.way) << c.whole.size() << " " << c.strips.size();
}
