#include <gtest/gtest.h>

#include "support/PositionMap.h"
#include "media/VideoFileWriter.h"
#include "support/RecordingFiles.h"

using namespace testsupport;

namespace {

constexpr int kW = 320, kH = 240;

// A desktop-like frame at a screen depth as GetDIBits gives it: bottom-up, 16-bit as X1R5G5B5.
std::vector<std::uint8_t> Frame(int tick, int depth)
{
    std::vector<std::uint8_t> bits = DesktopLikeFrame(kW, kH, tick), packed;
    for (std::size_t i = 0; depth == 16 && i < bits.size(); i += 4) {
        const int v = (bits[i + 2] >> 3) << 10 | (bits[i + 1] >> 3) << 5 | bits[i] >> 3;
        packed.insert(packed.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    }
    return depth == 16 ? packed : bits;
}

}  // namespace

// One encoder, three files of 73 frames (not a multiple of the key interval: without a key frame at
// each open, later files would start mid-group); the middle one from a 16-bit screen.
TEST(VideoFileWriterTest, EveryFileStartsWithAKeyFrameAndPlaysTheRightWayRound)
{
    const AviLibrary avi;
    const TempFolder folder(L"writer");
    CVideoFileWriter writer;
    writer.CreateEncoder(kW, kH);
    for (int file = 0, tick = 0; file < 3; ++file) {
        SCOPED_TRACE(file);
        const int depth = file == 1 ? 16 : 32;
        writer.m_strTempPath = folder.File(std::to_wstring(file) + L".avi");
        ASSERT_EQ(writer.OpenVideoFile(), S_OK);
        std::string reported;
        for (int i = 0; i < 73; ++i, ++tick) {
            ASSERT_EQ(writer.WriteFrame(depth, Frame(tick, depth).data()), S_OK);
            reported += writer.m_encoder.m_bKeyFrame ? 'K' : '_';
        }
        writer.ReleaseVideoFile();
        const std::string map = PositionMap(writer.m_strTempPath);
        EXPECT_EQ(map, reported);
        EXPECT_EQ(map[0], 'K');
        EXPECT_EQ(map.find(std::string(50, '_')), std::string::npos) << "key frames at most 50 apart";
        EXPECT_EQ(DecodeErrors(writer.m_strTempPath), "");
        const auto rgb = DecodeFrameRgb(writer.m_strTempPath, 0);
        ASSERT_EQ(rgb.size(), kW * kH * 3u);
        int top[3] = {}, bottom[3] = {};  // sums of R, G, B over 20 rows near the top and the bottom
        for (int i = 0; i < 20 * kW * 3; ++i)
            top[i % 3] += rgb[5 * kW * 3 + i], bottom[i % 3] += rgb[(kH - 25) * kW * 3 + i];
        EXPECT_GT(top[2] - top[0], 60 * 20 * kW) << "the dark blue title bar on top";
        EXPECT_GT(bottom[1], 200 * 20 * kW) << "light cells at the bottom";
    }
}
