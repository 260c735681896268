// Recovery of a recording whose writer died: the file as a kill leaves it is the file as it stands
// on disk while the writer still has it open, so the tests copy it at that moment.

#include "engine/AviFileReader.h"
#include "engine/RecordingRepair.h"
#include "engine/VideoFileWriter.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/VideoStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

using namespace testsupport;

namespace {

constexpr int kW = 64, kH = 48;

// A picture that changes a little every frame, so the encoder makes key and predicted frames.
std::vector<std::uint8_t> Picture(int tick)
{
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(kW) * kH * 4, 0x40);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            bits[((y + 20) * kW + x + tick % 50) * 4 + 1] = 0xF0;
    return bits;
}

struct Orphan {
    std::vector<std::uint8_t> bytes;      // the file as a kill after the last write leaves it
    std::vector<std::size_t> chunkEnds;   // where each position's chunk ends in it
};

// Records `positions` positions (every fourth one empty, as a late tick leaves it) and copies the
// file before the writer releases it: no headers, no index.
Orphan RecordAndAbandon(const std::wstring& path, int positions)
{
    CVideoFileWriter writer;
    writer.CreateEncoder(kW, kH);
    writer.m_strTempPath = path;
    EXPECT_TRUE(SUCCEEDED(writer.OpenVideoFile()));
    Orphan orphan;
    for (int i = 0; i < positions; ++i) {
        const auto picture = Picture(i);
        EXPECT_TRUE(SUCCEEDED(i % 4 == 3 ? writer.WriteDroppedFrame() : writer.WriteFrame(32, picture.data())));
        orphan.chunkEnds.push_back(ReadBytes(path).size());
    }
    orphan.bytes = ReadBytes(path);
    writer.ReleaseVideoFile();
    return orphan;
}

// Seconds from a local calendar time to a UTC moment, through the system's own zone rules.
double SecondsFrom(const SYSTEMTIME& local, ULONGLONG utcTicks)
{
    const FILETIME ft{static_cast<DWORD>(utcTicks), static_cast<DWORD>(utcTicks >> 32)};
    SYSTEMTIME utc{}, moment{};
    FILETIME a, b;
    FileTimeToSystemTime(&ft, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &moment);
    SystemTimeToFileTime(&local, &a);
    SystemTimeToFileTime(&moment, &b);
    const auto ticks = [](FILETIME f) { return static_cast<double>((ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime); };
    return (ticks(b) - ticks(a)) / 1e7;
}

class RecordingRepairTest : public ::testing::Test {
protected:
    void SetUp() override { m_store.m_strFolder = m_folder.Path(); }

    // Puts an orphan into the storage folder with the given last write time.
    void PlaceOrphan(const std::vector<std::uint8_t>& bytes, ULONGLONG lastWriteUtc)
    {
        WriteBytes(m_folder.File(L"RECORDING.AVI"), bytes);
        lumeno::UniqueFile file(CreateFileW(m_folder.File(L"RECORDING.AVI").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        const FILETIME ft{static_cast<DWORD>(lastWriteUtc), static_cast<DWORD>(lastWriteUtc >> 32)};
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &ft));
    }

    AviLibrary m_avi;
    TempFolder m_folder{L"repair"};
    CVideoStore m_store;
};

}  // namespace

// A kill can come at any byte: every complete chunk before it is recovered, under the name of the
// true start (last write less the positions' ticks), and the result plays.
TEST_F(RecordingRepairTest, RecoversEveryCompleteChunkWhereverTheFileWasCut)
{
    constexpr int kPositions = 80;  // pictures for more than one key frame interval
    const Orphan orphan = RecordAndAbandon(m_folder.File(L"source.avi"), kPositions);
    ASSERT_TRUE(DeleteFileW(m_folder.File(L"source.avi").c_str()));
    // 2024-03-05 09:31:07.300 UTC as FILETIME ticks.
    const ULONGLONG lastWrite = 133541046673000000ULL;

    struct Cut {
        std::size_t size;
        int positions;
        bool firstPictureLost;  // a full disk swallowed it: decoding starts at the next key frame
    };
    const Cut cuts[] = {
        {orphan.bytes.size(), kPositions, false},                       // killed right after a write
        {orphan.chunkEnds[kPositions - 2] + 5, kPositions - 1, false},  // inside the last chunk's header
        {orphan.chunkEnds[kPositions - 1] - 1, kPositions - 1, false},  // one byte short of the last chunk
        {orphan.chunkEnds[9], 10, false},
        {orphan.bytes.size(), kPositions, true},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut.size));
        std::vector<std::uint8_t> bytes(orphan.bytes.begin(), orphan.bytes.begin() + static_cast<std::ptrdiff_t>(cut.size));
        if (cut.firstPictureLost) {
            const char id[] = "00d";
            const auto first = std::search(bytes.begin(), bytes.end(), id, id + 3);
            std::fill(first + 8, bytes.begin() + static_cast<std::ptrdiff_t>(orphan.chunkEnds[0]), 0);
        }
        PlaceOrphan(bytes, lastWrite);
        ASSERT_TRUE(m_store.RecoverOrphan(m_folder.File(L"RECORDING.AVI")));

        EXPECT_FALSE(FileExists(m_folder.File(L"RECORDING.AVI")));
        EXPECT_FALSE(FileExists(m_folder.File(L"LumenoData\\RECOVERING.AVI")));
        WIN32_FIND_DATAW found{};
        lumeno::UniqueFind find(FindFirstFileW(m_folder.File(L"2*.AVI").c_str(), &found));
        ASSERT_TRUE(find);
        const std::wstring recovered = m_folder.File(found.cFileName);
        EXPECT_FALSE(FindNextFileW(find.Get(), &found)) << "one recording";
        find.Reset();

        AviFileFigures figures;
        ASSERT_TRUE(SUCCEEDED(ReadAviFileFigures(recovered, figures)));
        EXPECT_EQ(figures.dwLength, static_cast<DWORD>(cut.positions));
        EXPECT_EQ(figures.dwRate, 10u);
        EXPECT_EQ(DecodeErrors(recovered), "");

        SYSTEMTIME named{};
        ASSERT_TRUE(ParseRecordingStart(found.cFileName).ToSystemTime(named));
        EXPECT_LE(std::abs(SecondsFrom(named, lastWrite - static_cast<ULONGLONG>(cut.positions - 1) * 1000000ULL)), 1.0);
        ASSERT_TRUE(DeleteFileW(recovered.c_str()));
    }
}

// What holds no complete picture, or is not ours to take, is left exactly as it is.
TEST_F(RecordingRepairTest, LeavesWhatItCannotReadUntouched)
{
    const Orphan orphan = RecordAndAbandon(m_folder.File(L"source.avi"), 3);
    std::vector<std::uint8_t> random(70000);
    std::mt19937 noise(7);
    for (auto& b : random)
        b = static_cast<std::uint8_t>(noise() >> 24);
    const std::vector<std::vector<std::uint8_t>> unreadable = {
        {},                                                              // empty
        {orphan.bytes.begin(), orphan.bytes.begin() + static_cast<std::ptrdiff_t>(orphan.chunkEnds[0] - 1)},  // cut inside the first picture
        random,
    };
    for (const auto& bytes : unreadable) {
        PlaceOrphan(bytes, 133541046673000000ULL);
        EXPECT_FALSE(m_store.RecoverOrphan(m_folder.File(L"RECORDING.AVI")));
        EXPECT_EQ(ReadBytes(m_folder.File(L"RECORDING.AVI")), bytes);
    }

    // Another process still writing it: opened without sharing elsewhere, it is not an orphan.
    PlaceOrphan(orphan.bytes, 133541046673000000ULL);
    lumeno::UniqueFile held(CreateFileW(m_folder.File(L"RECORDING.AVI").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(m_store.RecoverOrphan(m_folder.File(L"RECORDING.AVI")));
    held.Reset();
    EXPECT_EQ(ReadBytes(m_folder.File(L"RECORDING.AVI")), orphan.bytes);
}

// The picture size and frame types come from the MPEG-4 stream itself, for any screen size.
TEST(RecordingRepairStream, ReadsSizeAndKeyFramesOfEncodedPictures)
{
    for (const auto& [w, h] : {std::pair{64, 48}, std::pair{1920, 1080}, std::pair{1366, 768}}) {
        CXvidEncoder encoder;
        encoder.m_nWidth = w;
        encoder.m_nHeight = h;
        encoder.InitLibrary();
        encoder.CreateInstance();
        const std::vector<std::uint8_t> bits(static_cast<std::size_t>(w) * h * 4, 0x80);
        const int first = encoder.EncodeFrame(32, bits.data());
        ASSERT_GT(first, 0);
        int width = 0, height = 0;
        EXPECT_TRUE(CRecordingRepair::ReadPictureSize(encoder.Output(), static_cast<std::size_t>(first), width, height));
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        EXPECT_TRUE(CRecordingRepair::IsKeyFrame(encoder.Output(), static_cast<std::size_t>(first)));
        const int second = encoder.EncodeFrame(32, bits.data());
        EXPECT_FALSE(CRecordingRepair::IsKeyFrame(encoder.Output(), static_cast<std::size_t>(second)));
        EXPECT_FALSE(CRecordingRepair::ReadPictureSize(encoder.Output(), static_cast<std::size_t>(second), width, height));
    }
}
