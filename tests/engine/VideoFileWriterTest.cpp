#include "engine/AviFileReader.h"
#include "engine/VideoFileWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace testsupport;

namespace {

struct AviLibrary {
    AviLibrary() { AVIFileInit(); }
    ~AviLibrary() { AVIFileExit(); }
};

// Frame of two colour bands: top band and bottom band, as the viewer sees it.
std::vector<std::uint8_t> TwoBands(int w, int h, int bitCount, COLORREF topColour, COLORREF bottomColour)
{
    const int stride = CXvidEncoder::DibStride(w, bitCount);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * h);
    for (int y = 0; y < h; ++y) {
        const bool isTop = (h - 1 - y) < h / 2;
        const COLORREF c = isTop ? topColour : bottomColour;
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &bits[static_cast<std::size_t>(y) * stride + x * (bitCount / 8)];
            if (bitCount == 32) {
                p[0] = GetBValue(c); p[1] = GetGValue(c); p[2] = GetRValue(c); p[3] = 0;
            } else {
                const std::uint16_t v = static_cast<std::uint16_t>(((GetRValue(c) >> 3) << 10) |
                                                                   ((GetGValue(c) >> 3) << 5) | (GetBValue(c) >> 3));
                p[0] = static_cast<std::uint8_t>(v & 0xFF); p[1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return bits;
}

std::string Ffprobe(const std::wstring& file, const std::string& args)
{
    int rc = 0;
    std::string out = RunHost("ffprobe -v error " + args + " '" + UnixPath(file) + "'", &rc);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

// Packet flags from the file's index as ffprobe reads them: one 'K' or '_' per packet.
std::string PacketKeyFlags(const std::wstring& file)
{
    std::string out = Ffprobe(file, "-select_streams v:0 -show_entries packet=flags -of csv=p=0");
    std::string flags;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            flags += line[0] == 'K' ? 'K' : '_';
    return flags;
}

bool DecodesWithoutError(const std::wstring& file)
{
    int rc = 0;
    std::string out = RunHost("ffmpeg -nostdin -v error -xerror -i '" + UnixPath(file) + "' -f null - 2>&1", &rc);
    EXPECT_EQ(out, "");
    return rc == 0;
}

// First decoded frame as RGB24 rows, top row first.
std::vector<std::uint8_t> FirstFrameRgb(const std::wstring& file)
{
    TempFolder out(L"rgb");
    int rc = 0;
    std::string log = RunHost("ffmpeg -nostdin -v error -i '" + UnixPath(file) +
                                  "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + UnixPath(out.File(L"f.rgb")) + "'",
                              &rc);
    EXPECT_EQ(rc, 0) << log;
    return ReadBytes(out.File(L"f.rgb"));
}

class VideoFileWriterTest : public ::testing::Test {
protected:
    AviLibrary m_avi;
    TempFolder m_folder{L"writer"};
};

}  // namespace

TEST_F(VideoFileWriterTest, FullFileAt1080pReadsBackAndDecodes)
{
    constexpr int w = 1920, h = 1080;
    CVideoFileWriter writer;
    writer.CreateEncoder(w, h);
    writer.m_strTempPath = m_folder.File(L"RECORDING.AVI");
    ASSERT_EQ(writer.OpenVideoFile(), S_OK);
    ASSERT_EQ(writer.m_bFileOpen, 1);

    std::string reportedKeys;
    for (int i = 0; i < 600; ++i) {
        auto frame = DesktopLikeFrame(w, h, i);
        ASSERT_EQ(writer.WriteFrame(32, frame.data()), S_OK);
        reportedKeys += writer.m_encoder.m_bKeyFrame ? 'K' : '_';
    }
    EXPECT_EQ(writer.m_nFrameCount, 600);
    writer.ReleaseVideoFile();
    EXPECT_EQ(writer.m_bFileOpen, 0);

    AviFileFigures figures;
    ASSERT_EQ(ReadAviFileFigures(writer.m_strTempPath, figures), S_OK);
    EXPECT_EQ(figures.dwLength, 600u);
    EXPECT_EQ(figures.dwRate, 10u);
    EXPECT_EQ(figures.dwScale, 1u);

    const std::string stream = Ffprobe(writer.m_strTempPath,
                                       "-select_streams v:0 -count_frames -show_entries "
                                       "stream=codec_name,codec_tag_string,r_frame_rate,nb_read_frames,width,height "
                                       "-of default=nw=1");
    EXPECT_NE(stream.find("codec_name=mpeg4"), std::string::npos) << stream;
    EXPECT_NE(stream.find("codec_tag_string=XVID"), std::string::npos) << stream;
    EXPECT_NE(stream.find("r_frame_rate=10/1"), std::string::npos) << stream;
    EXPECT_NE(stream.find("nb_read_frames=600"), std::string::npos) << stream;
    EXPECT_NE(stream.find("width=1920"), std::string::npos) << stream;
    EXPECT_NE(stream.find("height=1080"), std::string::npos) << stream;
    EXPECT_TRUE(DecodesWithoutError(writer.m_strTempPath));

    // The index's key flags are exactly where the encoder reported key frames, at most 50 apart.
    EXPECT_EQ(PacketKeyFlags(writer.m_strTempPath), reportedKeys);
    EXPECT_EQ(reportedKeys.front(), 'K');
    std::size_t last = 0;
    for (std::size_t i = 1; i < reportedKeys.size(); ++i) {
        if (reportedKeys[i] == 'K') {
            EXPECT_LE(i - last, 50u);
            last = i;
        }
    }
}

TEST_F(VideoFileWriterTest, EveryFileOfOneEncoderStartsWithAKeyFrame)
{
    constexpr int w = 320, h = 240;
    CVideoFileWriter writer;
    writer.CreateEncoder(w, h);
    int tick = 0;
    for (int file = 0; file < 3; ++file) {
        writer.m_strTempPath = m_folder.File(L"file" + std::to_wstring(file) + L".avi");
        ASSERT_EQ(writer.OpenVideoFile(), S_OK);
        // 73 frames: not a multiple of the key interval, so a file would otherwise start mid-group.
        for (int i = 0; i < 73; ++i, ++tick) {
            auto frame = DesktopLikeFrame(w, h, tick);
            ASSERT_EQ(writer.WriteFrame(32, frame.data()), S_OK);
            if (i == 0) {
                EXPECT_EQ(writer.m_encoder.m_bKeyFrame, 1) << "file " << file;
            }
        }
        writer.ReleaseVideoFile();
        const std::string flags = PacketKeyFlags(writer.m_strTempPath);
        ASSERT_EQ(flags.size(), 73u);
        EXPECT_EQ(flags.front(), 'K') << "file " << file;
        EXPECT_TRUE(DecodesWithoutError(writer.m_strTempPath));
    }
}

TEST_F(VideoFileWriterTest, ColoursAndOrientationSurviveBothInputDepths)
{
    constexpr int w = 320, h = 240;
    const COLORREF top = RGB(220, 30, 30), bottom = RGB(30, 40, 220);
    for (int bitCount : {32, 16}) {
        CVideoFileWriter writer;
        writer.CreateEncoder(w, h);
        writer.m_strTempPath = m_folder.File(L"depth" + std::to_wstring(bitCount) + L".avi");
        ASSERT_EQ(writer.OpenVideoFile(), S_OK);
        auto bits = TwoBands(w, h, bitCount, top, bottom);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(writer.WriteFrame(bitCount, bits.data()), S_OK);
        writer.ReleaseVideoFile();

        auto rgb = FirstFrameRgb(writer.m_strTempPath);
        ASSERT_EQ(rgb.size(), static_cast<std::size_t>(w) * h * 3);
        auto at = [&](int x, int y) { return &rgb[(static_cast<std::size_t>(y) * w + x) * 3]; };
        for (auto [y, c] : {std::pair{h / 4, top}, std::pair{3 * h / 4, bottom}}) {
            const std::uint8_t* p = at(w / 2, y);
            EXPECT_NEAR(p[0], GetRValue(c), 16) << bitCount << "-bit, row " << y;
            EXPECT_NEAR(p[1], GetGValue(c), 16) << bitCount << "-bit, row " << y;
            EXPECT_NEAR(p[2], GetBValue(c), 16) << bitCount << "-bit, row " << y;
        }
    }
}

TEST_F(VideoFileWriterTest, EncodingErrorKeepsTimelineWithoutCorruptChunk)
{
    constexpr int w = 320, h = 240;
    CVideoFileWriter writer;
    writer.CreateEncoder(w, h);
    writer.m_strTempPath = m_folder.File(L"error.avi");
    ASSERT_EQ(writer.OpenVideoFile(), S_OK);
    for (int i = 0; i < 10; ++i) {
        auto frame = DesktopLikeFrame(w, h, i);
        if (i == 5 || i == 6) {
            // Without an encoder instance every encode fails: the frame must become an empty chunk.
            void* instance = std::exchange(writer.m_encoder.m_hInstance, nullptr);
            EXPECT_LT(writer.m_encoder.EncodeFrame(32, frame.data()), 0);
            EXPECT_EQ(writer.WriteFrame(32, frame.data()), S_OK);
            writer.m_encoder.m_hInstance = instance;
        } else {
            ASSERT_EQ(writer.WriteFrame(32, frame.data()), S_OK);
        }
    }
    EXPECT_EQ(writer.m_nFrameCount, 10);
    writer.ReleaseVideoFile();
    // Positions 5 and 6 are empty chunks; the rest are real pictures.
    auto bytes = ReadBytes(writer.m_strTempPath);
    const std::string raw(bytes.begin(), bytes.end());
    EXPECT_NE(raw.find(std::string("00dc\0\0\0\0", 8)), std::string::npos);

    AviFileFigures figures;
    ASSERT_EQ(ReadAviFileFigures(writer.m_strTempPath, figures), S_OK);
    EXPECT_EQ(figures.dwLength, 10u);
    const std::string flags = PacketKeyFlags(writer.m_strTempPath);
    ASSERT_GE(flags.size(), 8u);
    EXPECT_EQ(flags.front(), 'K');
    EXPECT_TRUE(DecodesWithoutError(writer.m_strTempPath));
}

TEST_F(VideoFileWriterTest, OpeningInAMissingFolderFailsAndLeavesNothingOpen)
{
    CVideoFileWriter writer;
    writer.CreateEncoder(64, 48);
    writer.m_strTempPath = m_folder.File(L"no such folder\\RECORDING.AVI");
    EXPECT_TRUE(FAILED(writer.OpenVideoFile()));
    EXPECT_EQ(writer.m_bFileOpen, 0);
    EXPECT_FALSE(writer.m_pAviFile);
    EXPECT_FALSE(writer.m_pAviStream);
    std::vector<std::uint8_t> frame(64 * 48 * 4);
    EXPECT_EQ(writer.WriteFrame(32, frame.data()), E_UNEXPECTED);
    EXPECT_EQ(writer.m_nFrameCount, 0);
}

TEST_F(VideoFileWriterTest, NonAviFilesFailToOpenForReading)
{
    WriteText(m_folder.File(L"text.avi"), "this is not a video\r\n");
    WriteBytes(m_folder.File(L"empty.avi"), {});
    std::vector<std::uint8_t> garbage(5000);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    WriteBytes(m_folder.File(L"garbage.avi"), garbage);

    // A real recording cut to its first 300 bytes: RIFF header but no index or data.
    CVideoFileWriter writer;
    writer.CreateEncoder(64, 48);
    writer.m_strTempPath = m_folder.File(L"whole.avi");
    ASSERT_EQ(writer.OpenVideoFile(), S_OK);
    std::vector<std::uint8_t> frame(64 * 48 * 4, 0x80);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(writer.WriteFrame(32, frame.data()), S_OK);
    writer.ReleaseVideoFile();
    auto whole = ReadBytes(writer.m_strTempPath);
    ASSERT_GT(whole.size(), 300u);
    WriteBytes(m_folder.File(L"truncated.avi"), std::vector<std::uint8_t>(whole.begin(), whole.begin() + 300));

    for (const wchar_t* name : {L"text.avi", L"empty.avi", L"garbage.avi", L"truncated.avi", L"missing.avi"}) {
        AviFileFigures figures;
        EXPECT_TRUE(FAILED(ReadAviFileFigures(m_folder.File(name), figures))) << Narrow(name);
        EXPECT_EQ(figures.dwLength, 0u);
        EXPECT_EQ(figures.dwRate, 0u);
    }
    AviFileFigures figures;
    ASSERT_EQ(ReadAviFileFigures(writer.m_strTempPath, figures), S_OK);
    EXPECT_EQ(figures.dwLength, 20u);
}
