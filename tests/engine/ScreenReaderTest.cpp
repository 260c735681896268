#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "engine/ScreenReader.h"
#include "framework/DcCache.h"
#include "framework/Handles.h"
#include "framework/Image.h"
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

}  // namespace

// Strips read every row of the screen where the whole read puts it, however the height divides, on
// a screen of bands that differ row by row; one read is taken only where it is far faster.
TEST(ScreenReaderTest, StripsHoldTheWholeReadsPixelsAndGiveWayOnlyToAFarFasterWholeRead)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_NE(h % CScreenReader::StripRows(w), 0) << "the last strip should be a short one";
    const lumeno::WindowDc screen(nullptr);
    // The bands as a picture in a topmost window over the whole screen, painted by this thread.
    lumeno::CImage picture;
    ASSERT_TRUE(picture.Create(w, h, 32));
    {
        const lumeno::CLentDc dc(picture.GetHBITMAP());
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
    SendMessageW(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.GetHBITMAP()));
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

    lumeno::CImage whole, strips;
    ASSERT_TRUE(whole.Create(w, h, 32) && strips.Create(w, h, 32));
    for (auto& [frame, way] : {std::pair{&whole, CScreenReader::Way::kWhole}, {&strips, CScreenReader::Way::kStrips}}) {
        const lumeno::CLentDc dc(frame->GetHBITMAP());
        CScreenReader::Read(way, dc.Get(), screen.Get(), w, h);
        GdiFlush();
    }
    EXPECT_EQ(std::memcmp(whole.GetBits(), strips.GetBits(), static_cast<std::size_t>(whole.GetPitch()) * h), 0);
    for (const int y : {0, 1, 2, 3, h / 2, h - 2, h - 1})  // blue, green, red
        EXPECT_LE(std::abs(whole.GetPixelAddress(w / 2, y)[1] - GetGValue(BandColour(y))), slack) << "row " << y;

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
