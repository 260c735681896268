#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "res/resource.h"
#include "ui/ResourceImage.h"
#include "ui/StreamEx.h"

using lumeno::CImage;

namespace {

TEST(ResourceImage, BytesThatAreNoPictureLeaveTheImageEmpty)
{
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDB_LOGO), L"PNG");
    ASSERT_NE(found, nullptr);
    const auto* png = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    const std::vector<std::uint8_t> whole(png, png + ::SizeofResource(nullptr, found));
    std::vector<std::uint8_t> scrambled = whole;
    std::reverse(scrambled.begin() + 8, scrambled.end());  // a PNG signature before bytes that are no PNG
    // Nothing, the scrambled PNG, and the real PNG cut off inside its pixel data.
    for (const auto& bytes : {std::vector<std::uint8_t>{}, scrambled, std::vector(whole.begin(), whole.end() - 200)}) {
        CImage image;
        ASSERT_TRUE(image.Create(2, 2, 32, true));  // a failed load also drops what was there
        EXPECT_NE(image.Load(lumeno::IStreamEx::Create(bytes.data(), bytes.size()).Get()), S_OK) << bytes.size();
        EXPECT_TRUE(image.IsNull());
    }
    // A missing resource, and one of the program's resources that is no picture (the manifest).
    for (const auto& [type, id] : {std::pair<LPCWSTR, UINT>{L"PNG", 4242}, {MAKEINTRESOURCEW(24), 1}}) {
        CImage image;
        EXPECT_FALSE(lumeno::LoadResourceImage(type, image, id));
        EXPECT_TRUE(image.IsNull());
    }
    CImage logo;  // the same path does decode a real picture
    EXPECT_TRUE(lumeno::LoadResourceImage(L"PNG", logo, IDB_LOGO));
    EXPECT_FALSE(logo.IsNull());
}

}  // namespace
