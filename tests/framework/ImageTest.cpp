#include <gtest/gtest.h>
#include <shlwapi.h>

#include <array>
#include <cstdint>
#include <vector>

#include "res/resource.h"
#include "framework/DcCache.h"
#include "framework/Image.h"
#include "support/Canvas.h"

using testsupport::Canvas;

using lumeno::CDcCache;
using lumeno::CImage;

namespace {

// A 3 x 2 RGBA PNG, rows top to bottom, pixels as (R, G, B, A):
//   (10, 20, 30, 128)  (255, 0, 0, 255)  (0, 255, 0, 0)
//   (1, 2, 3, 64)      (200, 100, 50, 255)  (0, 0, 255, 200)
constexpr std::array<std::uint8_t, 92> kPng3x2 = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06, 0x00, 0x00, 0x00, 0x9D, 0x74, 0x66, 0x1A, 0x00, 0x00, 0x00, 0x23, 0x49,
    0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xE0, 0x12, 0x91, 0x6B, 0xF8, 0xCF, 0xC0, 0xF0, 0x9F, 0xE1, 0x3F, 0x03, 0x03,
    0x03, 0x23, 0x13, 0xB3, 0xC3, 0x89, 0x14, 0xA3, 0xFF, 0x0C, 0x0C, 0xFF, 0x4F, 0x00, 0x00, 0x5B, 0xD8, 0x08, 0x24,
    0x50, 0x51, 0xA1, 0xDA, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// A stream from the system's own implementation, so these tests do not depend on ours.
lumeno::ComRef<IStream> SystemStream(const void* data, std::size_t size)
{
    lumeno::ComRef<IStream> stream(::SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size)));
    return stream;
}

std::vector<std::uint8_t> ResourceBytes(UINT id, LPCWSTR type)
{
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!found)
        return {};
    const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    return {bytes, bytes + ::SizeofResource(nullptr, found)};
}

void ExpectNear(COLORREF actual, int r, int g, int b, int tolerance = 1)
{
    EXPECT_NEAR(GetRValue(actual), r, tolerance);
    EXPECT_NEAR(GetGValue(actual), g, tolerance);
    EXPECT_NEAR(GetBValue(actual), b, tolerance);
}

void SetBgr(CImage& image, int x, int y, COLORREF color)
{
    std::uint8_t* p = image.GetPixelAddress(x, y);
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
}

}  // namespace

TEST(ImageGeometry, CreateGivesPitchAndPixelAddressForBothDepths)
{
    CImage rgb;
    ASSERT_TRUE(rgb.Create(3, 2, 24));
    EXPECT_EQ(rgb.GetPitch(), 12);  // 9 bytes rounded up to whole 32-bit words
    EXPECT_EQ(rgb.GetBPP(), 24);
    EXPECT_FALSE(rgb.HasAlpha());
    EXPECT_EQ(rgb.GetPixelAddress(2, 1), rgb.GetBits() + 1 * 12 + 2 * 3);
    EXPECT_EQ(rgb.GetPixelAddress(3, 0), nullptr);

    CImage argb;
    ASSERT_TRUE(argb.Create(5, 4, 32, true));
    EXPECT_EQ(argb.GetPitch(), 20);
    EXPECT_TRUE(argb.HasAlpha());
    EXPECT_EQ(argb.GetPixelAddress(4, 3), argb.GetBits() + 3 * 20 + 16);

    CImage bad;
    EXPECT_FALSE(bad.Create(0, 4, 32));
    EXPECT_FALSE(bad.Create(4, 4, 16));
    EXPECT_FALSE(bad.Create(4, 4, 24, true));  // alpha needs 32 bits
    EXPECT_TRUE(bad.IsNull());
}

TEST(ImageLoad, PngWithAlphaBecomes32BitBgraWithStraightAlpha)
{
    auto stream = SystemStream(kPng3x2.data(), kPng3x2.size());
    ASSERT_TRUE(stream);
    CImage image;
    ASSERT_EQ(image.Load(stream.Get()), S_OK);
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetBPP(), 32);
    EXPECT_TRUE(image.HasAlpha());
    EXPECT_GE(image.GetPitch(), 12);

    struct Expected {
        int x, y;
        std::uint8_t b, g, r, a;
    };
    for (const Expected& e :
         {Expected{0, 0, 30, 20, 10, 128}, Expected{1, 0, 0, 0, 255, 255}, Expected{0, 1, 3, 2, 1, 64},
          Expected{1, 1, 50, 100, 200, 255}, Expected{2, 1, 255, 0, 0, 200}}) {
        const std::uint8_t* p = image.GetBits() + e.y * image.GetPitch() + e.x * 4;
        EXPECT_EQ(p[0], e.b) << e.x << "," << e.y;
        EXPECT_EQ(p[1], e.g) << e.x << "," << e.y;
        EXPECT_EQ(p[2], e.r) << e.x << "," << e.y;
        EXPECT_EQ(p[3], e.a) << e.x << "," << e.y;
    }
    EXPECT_EQ(image.GetPixelAddress(2, 0)[3], 0);
}

TEST(ImageLoad, JpegBecomes24BitWithoutAlpha)
{
    const auto bytes = ResourceBytes(IDB_BANNER, L"IMG");
    ASSERT_FALSE(bytes.empty());
    auto stream = SystemStream(bytes.data(), bytes.size());
    CImage image;
    ASSERT_EQ(image.Load(stream.Get()), S_OK);
    EXPECT_EQ(image.GetWidth(), 330);
    EXPECT_EQ(image.GetHeight(), 30);
    EXPECT_EQ(image.GetBPP(), 24);
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.GetPitch(), 992);  // 990 bytes rounded up to whole 32-bit words
}

TEST(ImageLoad, FailuresLeaveTheImageEmpty)
{
    CImage image;
    ASSERT_TRUE(image.Create(4, 4, 32, true));
    EXPECT_EQ(image.Load(nullptr), E_POINTER);
    EXPECT_TRUE(image.IsNull());

    ASSERT_TRUE(image.Create(4, 4, 32, true));
    const std::array<std::uint8_t, 64> garbage{0x12, 0x34, 0x56, 0x78, 0x9A};
    auto stream = SystemStream(garbage.data(), garbage.size());
    EXPECT_NE(image.Load(stream.Get()), S_OK);
    EXPECT_TRUE(image.IsNull());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetBits(), nullptr);

    // A PNG cut short is no picture either.
    auto truncated = SystemStream(kPng3x2.data(), 40);
    EXPECT_NE(image.Load(truncated.Get()), S_OK);
    EXPECT_TRUE(image.IsNull());
}

TEST(ImageDraw, EmptyImageDrawsNothingAndReportsFailure)
{
    Canvas canvas(8, 8, RGB(1, 2, 3));
    const CImage empty;
    EXPECT_FALSE(empty.Draw(canvas.Dc(), 0, 0));
    EXPECT_FALSE(empty.AlphaBlend(canvas.Dc(), 0, 0));
    EXPECT_FALSE(empty.AlphaBlend(canvas.Dc(), RECT{0, 0, 4, 4}, RECT{0, 0, 4, 4}));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(canvas.At(x, y), RGB(1, 2, 3));
}

TEST(ImageDraw, OpaqueImageIsCopiedExactly)
{
    CImage image;
    ASSERT_TRUE(image.Create(2, 2, 24));
    SetBgr(image, 0, 0, RGB(10, 20, 30));
    SetBgr(image, 1, 0, RGB(40, 50, 60));
    SetBgr(image, 0, 1, RGB(70, 80, 90));
    SetBgr(image, 1, 1, RGB(255, 0, 128));
    Canvas canvas(4, 4, RGB(0, 0, 0));
    ASSERT_TRUE(image.Draw(canvas.Dc(), 1, 2));
    EXPECT_EQ(canvas.At(1, 2), RGB(10, 20, 30));
    EXPECT_EQ(canvas.At(2, 2), RGB(40, 50, 60));
    EXPECT_EQ(canvas.At(1, 3), RGB(70, 80, 90));
    EXPECT_EQ(canvas.At(2, 3), RGB(255, 0, 128));
    EXPECT_EQ(canvas.At(0, 2), RGB(0, 0, 0));
    EXPECT_EQ(canvas.At(1, 1), RGB(0, 0, 0));
}

TEST(ImageDraw, TransparentColourIsLeftOut)
{
    CImage image;
    ASSERT_TRUE(image.Create(2, 1, 24));
    SetBgr(image, 0, 0, RGB(255, 0, 255));
    SetBgr(image, 1, 0, RGB(0, 0, 200));
    EXPECT_EQ(image.SetTransparentColor(RGB(255, 0, 255)), CLR_INVALID);
    Canvas canvas(2, 1, RGB(0, 160, 0));
    ASSERT_TRUE(image.Draw(canvas.Dc(), 0, 0));
    EXPECT_EQ(canvas.At(0, 0), RGB(0, 160, 0));
    EXPECT_EQ(canvas.At(1, 0), RGB(0, 0, 200));
}

TEST(ImageDraw, AlphaImageBlendsPerPixelAsPremultiplied)
{
    CImage image;
    ASSERT_TRUE(image.Create(2, 1, 32, true));
    // Premultiplied: half-transparent red, and a fully transparent pixel.
    std::uint8_t* p = image.GetPixelAddress(0, 0);
    p[0] = 0, p[1] = 0, p[2] = 128, p[3] = 128;
    p = image.GetPixelAddress(1, 0);
    p[0] = 0, p[1] = 0, p[2] = 0, p[3] = 0;
    Canvas canvas(2, 1, RGB(255, 255, 255));
    ASSERT_TRUE(image.Draw(canvas.Dc(), 0, 0));
    ExpectNear(canvas.At(0, 0), 255, 127, 127);
    EXPECT_EQ(canvas.At(1, 0), RGB(255, 255, 255));

    Canvas again(2, 1, RGB(255, 255, 255));
    ASSERT_TRUE(image.AlphaBlend(again.Dc(), 0, 0));
    ExpectNear(again.At(0, 0), 255, 127, 127);
    EXPECT_EQ(again.At(1, 0), RGB(255, 255, 255));
}

TEST(ImageDraw, AlphaBlendOfASourceRectangleTakesThoseColumns)
{
    // Three opaque 2-pixel frames side by side: red, green, blue.
    CImage strip;
    ASSERT_TRUE(strip.Create(6, 1, 32, true));
    const std::array<COLORREF, 3> colours{RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
    for (int x = 0; x < 6; ++x) {
        SetBgr(strip, x, 0, colours[x / 2]);
        strip.GetPixelAddress(x, 0)[3] = 255;
    }
    for (int frame = 0; frame < 3; ++frame) {
        Canvas canvas(2, 1, RGB(9, 9, 9));
        ASSERT_TRUE(strip.AlphaBlend(canvas.Dc(), RECT{0, 0, 2, 1}, RECT{frame * 2, 0, frame * 2 + 2, 1}));
        EXPECT_EQ(canvas.At(0, 0), colours[frame]);
        EXPECT_EQ(canvas.At(1, 0), colours[frame]);
    }
}

TEST(ImageDraw, EachDrawReturnsItsDcAndReleasesTheBitmap)
{
    CImage image;
    ASSERT_TRUE(image.Create(2, 2, 24));
    Canvas canvas(2, 2, RGB(0, 0, 0));
    ASSERT_TRUE(image.Draw(canvas.Dc(), 0, 0));
    EXPECT_GE(CDcCache::Shared().FreeCount(), 1u);

    // A bitmap can sit in one DC only: selecting it elsewhere works only if the draw let it go.
    lumeno::UniqueMemoryDc other(::CreateCompatibleDC(nullptr));
    HGDIOBJ previous = ::SelectObject(other.Get(), image.GetHBITMAP());
    EXPECT_NE(previous, nullptr);
    if (previous)
        ::SelectObject(other.Get(), previous);
}

TEST(DcCache, KeepsAtMostItsCapacityAndReusesDcs)
{
    CDcCache cache;
    std::vector<lumeno::UniqueMemoryDc> borrowed;
    for (int i = 0; i < 6; ++i) {
        borrowed.push_back(cache.Borrow());
        ASSERT_TRUE(borrowed.back());
    }
    for (auto& dc : borrowed)
        cache.Return(std::move(dc));
    EXPECT_EQ(cache.FreeCount(), CDcCache::kCapacity);

    lumeno::UniqueMemoryDc again = cache.Borrow();
    EXPECT_EQ(cache.FreeCount(), CDcCache::kCapacity - 1);
    EXPECT_NE(again.Get(), nullptr);
    cache.Return(std::move(again));
    EXPECT_EQ(cache.FreeCount(), CDcCache::kCapacity);
}

TEST(ImageMove, MovedFromImageIsEmpty)
{
    CImage a;
    ASSERT_TRUE(a.Create(3, 3, 32, true));
    const std::uint8_t* bits = a.GetBits();
    CImage b(std::move(a));
    EXPECT_TRUE(a.IsNull());
    EXPECT_EQ(a.GetWidth(), 0);
    EXPECT_EQ(b.GetBits(), bits);
    EXPECT_TRUE(b.HasAlpha());
    CImage c;
    c = std::move(b);
    EXPECT_TRUE(b.IsNull());
    EXPECT_EQ(c.GetWidth(), 3);
}
