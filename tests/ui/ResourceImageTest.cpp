#include "ui/ResourceImage.h"
#include "ui/StreamEx.h"

#include "res/resource.h"
#include "support/Canvas.h"

using testsupport::Canvas;

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

using lumeno::CImage;
using lumeno::LoadResourceImage;
using lumeno::PremultiplyAlpha;

namespace {

struct ImageResource {
    UINT id;
    LPCWSTR type;  // nullptr: "IMG"
    int width;
    int height;
    bool alpha;
    const char* name;
};

constexpr std::array<ImageResource, 9> kImages = {{
    {IDB_CLOSE, L"PNG", 39, 20, true, "IDB_CLOSE"},
    {IDB_MINIMIZE, L"PNG", 39, 20, true, "IDB_MINIMIZE"},
    {IDB_SETTINGS, L"PNG", 130, 118, true, "IDB_SETTINGS"},
    {IDB_START_DISABLED, L"PNG", 130, 118, true, "IDB_START_DISABLED"},
    {IDB_START, L"PNG", 130, 118, true, "IDB_START"},
    {IDB_STOP_DISABLED, L"PNG", 130, 118, true, "IDB_STOP_DISABLED"},
    {IDB_STOP, L"PNG", 130, 118, true, "IDB_STOP"},
    {IDB_LOGO, L"PNG", 61, 18, true, "IDB_LOGO"},
    {IDB_BANNER, nullptr, 330, 30, false, "IDB_BANNER"},
}};

// The caption glyph colours of the three strip frames: normal, pointer over, pressed.
constexpr std::array<COLORREF, 3> kFrameColours = {RGB(255, 255, 255), RGB(158, 220, 248), RGB(61, 142, 180)};

const std::uint8_t* Pixel(CImage& image, int x, int y)
{
    return image.GetPixelAddress(x, y);
}

}  // namespace

TEST(PremultiplyAlpha, ScalesColourByAlphaAndKeepsAlpha)
{
    CImage image;
    ASSERT_TRUE(image.Create(4, 2, 32, true));
    auto set = [&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
        std::uint8_t* p = image.GetPixelAddress(x, y);
        p[0] = b, p[1] = g, p[2] = r, p[3] = a;
    };
    set(0, 0, 200, 100, 50, 128);
    set(1, 0, 200, 100, 50, 255);
    set(2, 0, 200, 100, 50, 0);
    set(3, 0, 255, 255, 255, 1);
    set(3, 1, 199, 3, 254, 254);  // the last pixel of the last row is reached too
    PremultiplyAlpha(image);

    auto expect = [&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
        const std::uint8_t* p = image.GetPixelAddress(x, y);
        EXPECT_EQ(p[0], b) << x << "," << y;
        EXPECT_EQ(p[1], g) << x << "," << y;
        EXPECT_EQ(p[2], r) << x << "," << y;
        EXPECT_EQ(p[3], a) << x << "," << y;
    };
    expect(0, 0, 100, 50, 25, 128);
    expect(1, 0, 200, 100, 50, 255);  // opaque: unchanged
    expect(2, 0, 0, 0, 0, 0);         // transparent: all zero
    expect(3, 0, 1, 1, 1, 1);
    expect(3, 1, 198, 2, 253, 254);  // truncating division: 199 * 254 / 255 = 198.2
}

TEST(PremultiplyAlpha, LeavesEmptyAndOpaqueImagesAlone)
{
    CImage empty;
    PremultiplyAlpha(empty);
    EXPECT_TRUE(empty.IsNull());

    // A 24-bit image has no alpha byte: treating every fourth byte as alpha would wreck it.
    CImage rgb;
    ASSERT_TRUE(rgb.Create(4, 1, 24));
    for (int i = 0; i < 12; ++i)
        rgb.GetBits()[i] = static_cast<std::uint8_t>(100 + i);
    rgb.GetBits()[3] = 0;
    PremultiplyAlpha(rgb);
    EXPECT_EQ(rgb.GetBits()[0], 100);
    EXPECT_EQ(rgb.GetBits()[4], 104);
    EXPECT_EQ(rgb.GetBits()[11], 111);
}

TEST(LoadResourceImage, EveryImageLoadsWithItsSizeAndAlphaFlag)
{
    for (const ImageResource& r : kImages) {
        SCOPED_TRACE(r.name);
        CImage image;
        ASSERT_TRUE(LoadResourceImage(r.type, image, r.id));
        EXPECT_EQ(image.GetWidth(), r.width);
        EXPECT_EQ(image.GetHeight(), r.height);
        EXPECT_EQ(image.HasAlpha(), r.alpha);
        EXPECT_EQ(image.GetBPP(), r.alpha ? 32 : 24);
    }
}

TEST(LoadResourceImage, BannerIsTheImgTypeAndNotFoundAsPng)
{
    CImage image;
    EXPECT_TRUE(LoadResourceImage(nullptr, image, IDB_BANNER));
    EXPECT_TRUE(LoadResourceImage(L"IMG", image, IDB_BANNER));
    EXPECT_FALSE(LoadResourceImage(L"PNG", image, IDB_BANNER));
    EXPECT_TRUE(image.IsNull());
    EXPECT_FALSE(LoadResourceImage(nullptr, image, IDB_CLOSE));  // PNGs are not under "IMG"
}

TEST(LoadResourceImage, StripsSplitIntoThreeFramesOfTheCaptionColours)
{
    for (UINT id : {UINT(IDB_CLOSE), UINT(IDB_MINIMIZE)}) {
        SCOPED_TRACE(id);
        CImage strip;
        ASSERT_TRUE(LoadResourceImage(L"PNG", strip, id));
        const int frameWidth = strip.GetWidth() / 3;
        ASSERT_EQ(frameWidth, 13);
        for (int frame = 0; frame < 3; ++frame) {
            SCOPED_TRACE(frame);
            const COLORREF colour = kFrameColours[frame];
            int opaque = 0;
            int transparent = 0;
            for (int y = 0; y < strip.GetHeight(); ++y) {
                for (int x = frame * frameWidth; x < (frame + 1) * frameWidth; ++x) {
                    const std::uint8_t* p = Pixel(strip, x, y);
                    if (p[3] == 255) {
                        ++opaque;
                        // Straight alpha: every solid glyph pixel carries the frame's exact colour.
                        EXPECT_EQ(RGB(p[2], p[1], p[0]), colour) << x << "," << y;
                    } else if (p[3] == 0) {
                        ++transparent;
                    }
                }
            }
            EXPECT_GE(opaque, 8);  // a visible glyph
            EXPECT_GE(transparent, 13 * 20 / 2);  // on a mostly transparent background
            // The frame's corners and edges are clear, so frames do not touch each other.
            EXPECT_EQ(Pixel(strip, frame * frameWidth, 0)[3], 0);
            EXPECT_EQ(Pixel(strip, frame * frameWidth + frameWidth - 1, 19)[3], 0);
        }
    }
}

TEST(LoadResourceImage, PremultipliedStripFrameDrawsItsColourOnTheCaption)
{
    CImage strip;
    ASSERT_TRUE(LoadResourceImage(L"PNG", strip, IDB_CLOSE));
    // A pixel that is solid in every frame: the glyph's centre.
    int cx = -1;
    int cy = -1;
    for (int y = 0; y < 20 && cx < 0; ++y)
        for (int x = 0; x < 13 && cx < 0; ++x)
            if (Pixel(strip, x, y)[3] == 255 && Pixel(strip, x + 13, y)[3] == 255 && Pixel(strip, x + 26, y)[3] == 255)
                cx = x, cy = y;
    ASSERT_GE(cx, 0);
    PremultiplyAlpha(strip);

    const COLORREF caption = RGB(19, 179, 253);
    for (int frame = 0; frame < 3; ++frame) {
        Canvas canvas(13, 20, caption);
        ASSERT_TRUE(strip.AlphaBlend(canvas.Dc(), RECT{0, 0, 13, 20}, RECT{frame * 13, 0, frame * 13 + 13, 20}));
        EXPECT_EQ(canvas.At(cx, cy), kFrameColours[frame]) << frame;
        EXPECT_EQ(canvas.At(0, 0), caption) << frame;  // transparent corner shows the caption
    }
}

TEST(LoadResourceImage, RoundButtonsHaveTransparentCornersAndASolidFace)
{
    for (UINT id : {UINT(IDB_SETTINGS), UINT(IDB_START), UINT(IDB_START_DISABLED), UINT(IDB_STOP),
                    UINT(IDB_STOP_DISABLED)}) {
        SCOPED_TRACE(id);
        CImage image;
        ASSERT_TRUE(LoadResourceImage(L"PNG", image, id));
        EXPECT_EQ(Pixel(image, 0, 0)[3], 0);
        EXPECT_EQ(Pixel(image, 129, 0)[3], 0);
        EXPECT_EQ(Pixel(image, 0, 117)[3], 0);
        EXPECT_EQ(Pixel(image, 65, 20)[3], 255);  // the face above the glyph
    }
}

TEST(LoadResourceImage, MissingIdLoadsAsFalseAndAnEmptyImageThatDrawsNothing)
{
    CImage image;
    ASSERT_TRUE(image.Create(2, 2, 32, true));  // a failed load also drops what was there
    EXPECT_FALSE(LoadResourceImage(L"PNG", image, 4242));
    EXPECT_TRUE(image.IsNull());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    PremultiplyAlpha(image);  // what callers do after every PNG load: harmless when empty

    Canvas canvas(4, 4, RGB(5, 6, 7));
    EXPECT_FALSE(image.AlphaBlend(canvas.Dc(), 0, 0));
    EXPECT_FALSE(image.Draw(canvas.Dc(), 0, 0));
    EXPECT_EQ(canvas.At(0, 0), RGB(5, 6, 7));
    EXPECT_EQ(canvas.At(3, 3), RGB(5, 6, 7));

    EXPECT_FALSE(LoadResourceImage(L"NOSUCHTYPE", image, IDB_CLOSE));
    EXPECT_TRUE(image.IsNull());
}

TEST(LoadResourceImage, ResourceBytesThatAreNoPictureLoadAsFalse)
{
    // Real resources of the program whose bytes are not images: the manifest (XML) and the version.
    CImage image;
    EXPECT_FALSE(LoadResourceImage(MAKEINTRESOURCEW(24), image, 1));
    EXPECT_TRUE(image.IsNull());
    EXPECT_FALSE(LoadResourceImage(MAKEINTRESOURCEW(16), image, 1));
    EXPECT_TRUE(image.IsNull());
}

TEST(LoadResourceImage, GarbageStreamDecodesToNothing)
{
    const std::array<std::uint8_t, 32> garbage = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4, 5};
    auto stream = lumeno::IStreamEx::Create(garbage.data(), garbage.size());
    CImage image;
    EXPECT_NE(image.Load(stream.Get()), S_OK);
    EXPECT_TRUE(image.IsNull());
    // The decoder had its own references; ours is still the last one.
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
}

TEST(LoadResourceImage, DecodingLeavesTheStreamWithOneReference)
{
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDB_LOGO), L"PNG");
    ASSERT_NE(found, nullptr);
    const void* bytes = ::LockResource(::LoadResource(nullptr, found));
    auto stream = lumeno::IStreamEx::Create(bytes, ::SizeofResource(nullptr, found));
    CImage image;
    ASSERT_EQ(image.Load(stream.Get()), S_OK);
    EXPECT_EQ(image.GetWidth(), 61);
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
}
