// Recovery of a recording whose writer died: the file as a kill leaves it is the file as it stands
// on disk while the writer still has it open, so the tests copy it at that moment.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "media/AviFileReader.h"
#include "media/RecordingRepair.h"
#include "media/VideoFileWriter.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

constexpr int kW = 64, kH = 48;
constexpr ULONGLONG kLastWrite = 133541046673000000ULL;  // 2024-03-05 09:31:07.300 UTC as FILETIME ticks

struct Orphan {
    std::vector<std::uint8_t> bytes;     // the file as a kill after the last write leaves it
    std::vector<std::size_t> chunkEnds;  // where each position's chunk ends in it
};

// Records `positions` positions of a picture that changes a little every frame (key and predicted
// frames; every fourth position empty, as a late tick leaves it) and copies the file before the
// writer releases it: no headers, no index.
Orphan RecordAndAbandon(const std::wstring& path, int positions)
{
    CVideoFileWriter writer;
    writer.CreateEncoder(kW, kH);
    writer.m_strTempPath = path;
    EXPECT_TRUE(SUCCEEDED(writer.OpenVideoFile()));
    Orphan orphan;
    for (int i = 0; i < positions; ++i) {
        std::vector<std::uint8_t> picture(static_cast<std::size_t>(kW) * kH * 4, 0x40);
        for (int p = 0; p < 64; ++p)
            picture[((p / 8 + 20) * kW + p % 8 + i % 50) * 4 + 1] = 0xF0;
        EXPECT_TRUE(SUCCEEDED(i % 4 == 3 ? writer.WriteDroppedFrame() : writer.WriteFrame(32, picture.data())));
        orphan.chunkEnds.push_back(ReadBytes(path).size());
    }
    orphan.bytes = ReadBytes(path);
    writer.ReleaseVideoFile();
    return orphan;
}

// Seconds from a local calendar time, through the system's own zone rules, to a UTC moment.
double SecondsFrom(const SYSTEMTIME& local, ULONGLONG utcTicks)
{
    SYSTEMTIME utc{};
    FILETIME named{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    SystemTimeToFileTime(&utc, &named);
    const auto namedTicks = (ULONGLONG{named.dwHighDateTime} << 32) | named.dwLowDateTime;
    return (static_cast<double>(utcTicks) - static_cast<double>(namedTicks)) / 1e7;
}

}  // namespace

// Killed at any byte: every complete chunk is recovered under the true start's name and plays; what
// holds no complete picture, or is not ours to take, is left exactly as it is.
TEST(RecordingRepair, RecoversEveryCompleteChunkAndLeavesWhatItCannotReadUntouched)
{
    AviLibrary avi;
    TempFolder folder{L"repair"};
    CVideoStore store;
    store.m_strFolder = folder.Path();
    const std::wstring path = folder.File(L"RECORDING.AVI");
    constexpr int kPositions = 80;  // pictures for more than one key frame interval
    const Orphan orphan = RecordAndAbandon(folder.File(L"source.avi"), kPositions);
    ASSERT_TRUE(DeleteFileW(folder.File(L"source.avi").c_str()));
    const auto cut = [&](std::size_t size) {
        return std::vector<std::uint8_t>(orphan.bytes.begin(),
                                         orphan.bytes.begin() + static_cast<std::ptrdiff_t>(size));
    };
    std::vector<std::uint8_t> firstLost = orphan.bytes, noise(70000);  // a full disk swallowed the first picture:
    const char id[] = "00d";                                           // decoding starts at the next key frame
    std::fill(std::search(firstLost.begin(), firstLost.end(), id, id + 3) + 8,
              firstLost.begin() + static_cast<std::ptrdiff_t>(orphan.chunkEnds[0]), 0);
    std::mt19937 random(7);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random() >> 24);
    const std::pair<std::vector<std::uint8_t>, int> cases[] = {
        // the file, the positions recovered (0: none)
        {orphan.bytes, kPositions},                                   // killed right after a write
        {cut(orphan.chunkEnds[kPositions - 2] + 5), kPositions - 1},  // inside the last chunk's header
        {cut(orphan.chunkEnds[kPositions - 1] - 1), kPositions - 1},  // one byte short of the last chunk
        {cut(orphan.chunkEnds[9]), 10},
        {firstLost, kPositions},
        {{}, 0},
        {cut(orphan.chunkEnds[0] - 1), 0},  // cut inside the first picture
        {noise, 0},
    };
    for (const auto& [bytes, positions] : cases) {
        SCOPED_TRACE("size " + std::to_string(bytes.size()) + ", positions " + std::to_string(positions));
        WriteBytes(path, bytes);
        lumeno::UniqueFile file(
            CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        const FILETIME lastWrite{static_cast<DWORD>(kLastWrite), static_cast<DWORD>(kLastWrite >> 32)};
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &lastWrite));
        file.Reset();
        ASSERT_EQ(store.RecoverOrphan(path), positions > 0);
        if (positions == 0) {
            EXPECT_EQ(ReadBytes(path), bytes);
            continue;
        }
        EXPECT_FALSE(FileExists(path));
        EXPECT_FALSE(FileExists(folder.File(L"LumenoData\\RECOVERING.AVI")));
        WIN32_FIND_DATAW found{};
        lumeno::UniqueFind find(FindFirstFileW(folder.File(L"2*.AVI").c_str(), &found));
        ASSERT_TRUE(find);
        const std::wstring recovered = folder.File(found.cFileName);
        EXPECT_FALSE(FindNextFileW(find.Get(), &found)) << "one recording";
        find.Reset();
        AviFileFigures figures;
        ASSERT_TRUE(SUCCEEDED(ReadAviFileFigures(recovered, figures)));
        EXPECT_EQ(figures.dwLength, static_cast<DWORD>(positions));
        EXPECT_EQ(figures.dwRate, 10u);
        EXPECT_EQ(DecodeErrors(recovered), "");
        SYSTEMTIME named{};
        ASSERT_TRUE(ParseRecordingStart(found.cFileName).ToSystemTime(named));
        EXPECT_LE(std::abs(SecondsFrom(named, kLastWrite - static_cast<ULONGLONG>(positions - 1) * 1000000ULL)), 1.0);
        ASSERT_TRUE(DeleteFileW(recovered.c_str()));
    }
    // Another process still writing it: opened without sharing elsewhere, it is not an orphan.
    WriteBytes(path, orphan.bytes);
    lumeno::UniqueFile held(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(store.RecoverOrphan(path));
    held.Reset();
    EXPECT_EQ(ReadBytes(path), orphan.bytes);
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
        const int encoded = encoder.EncodeFrame(32, bits.data());
        ASSERT_GT(encoded, 0);
        const auto first = static_cast<std::size_t>(encoded);
        int width = 0, height = 0;
        EXPECT_TRUE(CRecordingRepair::ReadPictureSize(encoder.Output(), first, width, height));
        EXPECT_EQ(std::pair(width, height), std::pair(w, h));
        EXPECT_TRUE(CRecordingRepair::IsKeyFrame(encoder.Output(), first));
        const auto second = static_cast<std::size_t>(encoder.EncodeFrame(32, bits.data()));
        EXPECT_FALSE(CRecordingRepair::IsKeyFrame(encoder.Output(), second));
        EXPECT_FALSE(CRecordingRepair::ReadPictureSize(encoder.Output(), second, width, height));
    }
}
