#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "framework/Image.h"
#include "media/FrameDecoder.h"
#include "media/VideoFileWriter.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

using Chunk = std::vector<std::uint8_t>;

// `count` pictures as the encoder makes them at width × height, the first a key frame with its
// stream header.
std::vector<Chunk> Encoded(int width, int height, int count)
{
    CVideoFileWriter writer;
    writer.CreateEncoder(width, height);
    writer.m_encoder.RequestKeyFrame();
    std::vector<Chunk> chunks;
    for (int i = 0; i < count; ++i) {
        const int size = writer.m_encoder.EncodeFrame(32, DesktopLikeFrame(width, height, i).data());
        EXPECT_GT(size, 0);
        chunks.emplace_back(writer.m_encoder.Output(), writer.m_encoder.Output() + std::max(size, 0));
    }
    return chunks;
}

// A recording whose headers claim 64 × 48 whatever its chunks hold.
std::wstring Forge(const TempFolder& folder, const std::vector<Chunk>& chunks)
{
    static int files = 0;
    const std::wstring path = folder.File(std::to_wstring(++files) + L".avi");
    AviFileRef file;
    AviStreamRef stream;
    EXPECT_EQ(CVideoFileWriter::CreateRecordingFile(path, 64, 48, file, stream), S_OK);
    for (std::size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(AVIStreamWrite(stream.Get(), static_cast<LONG>(i), 1, const_cast<std::uint8_t*>(chunks[i].data()),
                                 static_cast<LONG>(chunks[i].size()), i == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr),
                  0);
    return path;
}

}  // namespace

// A recording handed to us is hostile: the picture is sized from what the decoder reads in the
// stream, never from the file's headers; a stream that changes size midway, or damaged chunks,
// are refused or decoded inside the picture, never written past it.
TEST(FrameDecoderTest, SizesThePictureFromTheStreamAndRefusesWhatDoesNotFit)
{
    const AviLibrary avi;
    const TempFolder folder(L"decoder");
    const std::vector<Chunk> large = Encoded(320, 240, 3), small = Encoded(64, 48, 2);
    lumeno::CImage image;
    CFrameDecoder::Result result;

    ASSERT_EQ(CFrameDecoder::Decode(Forge(folder, large), 2, image, result), S_OK) << "headers lie: 64 × 48";
    EXPECT_EQ(image.GetWidth(), 320);
    EXPECT_EQ(image.GetHeight(), 240);
    EXPECT_EQ(result.llDecoded, 3);

    const std::wstring resized = Forge(folder, {small[0], small[1], large[0]});
    lumeno::CImage before;
    EXPECT_EQ(CFrameDecoder::Decode(resized, 1, before, result), S_OK);
    EXPECT_EQ(before.GetWidth(), 64);
    lumeno::CImage after;
    EXPECT_EQ(CFrameDecoder::Decode(resized, 2, after, result), S_OK) << "a new key frame starts anew";
    EXPECT_EQ(after.GetWidth(), 320);
    // A stream header of another size slipped in before a picture that is no key frame: decoded
    // from the small key frame on, the larger header must be refused, not decoded into 64 × 48.
    const std::uint8_t vop[] = {0, 0, 1, 0xB6};
    const auto header = std::search(large[0].begin(), large[0].end(), vop, vop + 4);
    Chunk slipped(large[0].begin(), header);
    slipped.insert(slipped.end(), large[1].begin(), large[1].end());
    EXPECT_EQ(CFrameDecoder::Decode(Forge(folder, {small[0], slipped}), 1, image, result), E_FAIL);

    // Damaged chunks: what a decoder fed hostile bytes can do wrong here is crash or hang.
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::vector<Chunk> damaged = large;
        Chunk& chunk = damaged[random() % damaged.size()];
        const int kind = round % 3;
        if (kind == 0)
            for (int flips = 1 + random() % 8; flips > 0; --flips)
                chunk[random() % chunk.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
        else if (kind == 1)
            chunk.resize(1 + random() % chunk.size());
        else
            chunk.insert(chunk.begin() + random() % chunk.size(), large[0].begin(), large[0].begin() + 40);
        lumeno::CImage picture;
        if (CFrameDecoder::Decode(Forge(folder, damaged), 2, picture, result) == S_OK) {
            EXPECT_FALSE(picture.IsNull()) << "a decoded picture is never left empty";
        }
    }
}
