// The start-up recovery and scan over one file of each kind, and over a folder of damaged and hostile
// files: nothing crashes or hangs, intact recordings are catalogued, nothing is deleted for good.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/SealLog.h"
#include "timestore/StorageFolder.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

std::mt19937 g_noise(20261207);  // the same mutations in every run
std::uint32_t Next()
{
    return g_noise() >> 8;
}

// Where every chunk of a RIFF file has its id, its size and its data: the offsets that matter.
void ChunkOffsets(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to, std::vector<std::size_t>& out)
{
    while (from + 8 <= to) {
        std::uint32_t size = 0;
        std::memcpy(&size, &b[from + 4], 4);
        out.insert(out.end(), {from, from + 4, from + 8});
        const bool list = std::memcmp(&b[from], "RIFF", 4) == 0 || std::memcmp(&b[from], "LIST", 4) == 0;
        if (list)
            ChunkOffsets(b, from + 12, std::min<std::size_t>(from + 8 + size, to), out);
        from += 8 + size + (size & 1);
    }
}

std::size_t Entries(const std::wstring& folder)
{
    std::size_t n = 0;
    WIN32_FIND_DATAW e{};
    lumeno::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &e));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.Get(), &e) != FALSE)
        n += e.cFileName[0] != L'.';
    return n;
}

// Wine recycles into the freedesktop trash only when its folders exist; else it deletes.
std::wstring TrashFiles()
{
    return Widen("Z:" + RunHost("t=\"$XDG_DATA_HOME/Trash\" && mkdir -p \"$t/files\" \"$t/info\" && printf %s \"$t/files\""));
}

}  // namespace

TEST(HostileFolderTest, DamagedFilesAreOtherFilesIntactOnesRecordingsAndNothingIsLost)
{
    const std::wstring trash = TrashFiles();
    AviLibrary avi;
    TempFolder folder(L"hostile");
    WriteRecording(folder.File(L"template.avi"), 25);
    const std::vector<std::uint8_t> good = ReadBytes(folder.File(L"template.avi"));
    ASSERT_TRUE(DeleteFileW(folder.File(L"template.avi").c_str()));
    std::vector<std::size_t> offsets;
    ChunkOffsets(good, 0, good.size(), offsets);

    // Names of their own in every run: the trash keeps what earlier runs recycled.
    const CDateTime base = GetCurrentDate().AddSeconds(-366 * 86400);
    std::set<std::wstring> intact;
    constexpr int kMutations = 300;
    for (int i = 0; i < kMutations; ++i) {
        std::vector<std::uint8_t> bytes = good;
        const std::size_t at = offsets[Next() % offsets.size()];
        switch (i % 5) {
            case 0:  // cut at a structural offset, give or take a byte
                bytes.resize(std::min(bytes.size(), at + Next() % 3));
                break;
            case 1: {  // an absurd size, rate, count or id
                const std::uint32_t absurd[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, Next()};
                std::memcpy(&bytes[std::min(at, bytes.size() - 4)], &absurd[Next() % 5], 4);
                break;
            }
            case 2:  // noise of any length
                bytes.resize(Next() % 5000);
                for (auto& b : bytes)
                    b = static_cast<std::uint8_t>(Next());
                break;
            case 3:  // a few flipped bytes anywhere
                for (int n = 1 + Next() % 8; n > 0; --n)
                    bytes[Next() % bytes.size()] ^= static_cast<std::uint8_t>(1 + Next() % 255);
                break;
            default:
                break;
        }
        const std::wstring name = MakeVideoFileName(base.AddSeconds(i));
        WriteBytes(folder.File(name), bytes);
        if (bytes == good)
            intact.insert(name);
    }
    // A folder named like a recording, a recording another process holds without sharing, and
    // noise where the file being written would be.
    ASSERT_TRUE(CreateDirectoryW(folder.File(L"20240201-000000.AVI").c_str(), nullptr));
    WriteBytes(folder.File(L"20240202-000000.AVI"), good);
    lumeno::UniqueFile held(CreateFileW(folder.File(L"20240202-000000.AVI").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    WriteBytes(folder.File(L"RECORDING.AVI"), std::vector<std::uint8_t>(3000, 0x5A));
    // A header of stream lists nested 80,000 deep, every size consistent: no reader may recurse into it.
    std::vector<std::uint8_t> nested;
    for (std::uint32_t level = 0, inner = 4; level < 80000; ++level, inner += 12) {
        const std::uint8_t head[12] = {'L', 'I', 'S', 'T', std::uint8_t(inner), std::uint8_t(inner >> 8),
                                       std::uint8_t(inner >> 16), 0, 's', 't', 'r', 'l'};
        nested.insert(nested.begin(), head, head + 12);
    }
    std::memcpy(&nested[8], "hdrl", 4);
    const std::uint32_t total = static_cast<std::uint32_t>(nested.size()) + 4;
    const std::uint8_t riff[12] = {'R', 'I', 'F', 'F', std::uint8_t(total), std::uint8_t(total >> 8),
                                   std::uint8_t(total >> 16), 0, 'A', 'V', 'I', ' '};
    nested.insert(nested.begin(), riff, riff + 12);
    WriteBytes(folder.File(MakeVideoFileName(base.AddSeconds(kMutations))), nested);
    const std::size_t inFolder = Entries(folder.Path()), inTrash = Entries(trash);

    CVideoStore store;
    store.m_strFolder = folder.Path();
    store.m_nRetainMinutes = 1000000;
    store.m_bCleanOtherFiles = TRUE;
    EXPECT_EQ(store.RecoverLeftovers(folder.File(L"RECORDING.AVI")), 0);
    EXPECT_EQ(store.ScanFolder(), 0);

    std::set<std::wstring> catalogued;
    store.ForEachRecord([&](const CVideoInfo& record) {
        catalogued.insert(MakeVideoFileName(record.m_dtStart));
        EXPECT_GE(record.m_nDuration, 1);
    });
    for (const std::wstring& name : intact)
        EXPECT_TRUE(catalogued.count(name)) << Narrow(name);
    // Left: the catalogue, the held file, the folder and the program's sub-folder; the rest is in the trash.
    for (const std::wstring& name : catalogued)
        EXPECT_TRUE(FileExists(folder.File(name))) << Narrow(name);
    EXPECT_TRUE(FileExists(folder.File(L"20240201-000000.AVI")));
    EXPECT_TRUE(FileExists(folder.File(L"20240202-000000.AVI")));
    EXPECT_FALSE(catalogued.count(L"20240202-000000.AVI"));
    const std::size_t left = Entries(folder.Path()) - 1;  // the program's sub-folder is new
    EXPECT_EQ(left, catalogued.size() + 2);
    EXPECT_EQ(Entries(trash) - inTrash, inFolder - left) << "every file that left the folder is in the trash";
}

// With and without cleaning: only recordings are catalogued, however short, and logged as unsealed;
// every other file is kept or recycled, never destroyed, and sub-folders are left alone.
TEST(StorageFolderTest, ScanCataloguesRecordingsAndKeepsOrRecyclesEverythingElse)
{
    const std::wstring trash = TrashFiles();  // without what an earlier run recycled
    DeleteFileW((trash + L"/lumeno-note.txt").c_str());
    DeleteFileW((trash + L"/../info/lumeno-note.txt.trashinfo").c_str());
    AviLibrary avi;
    for (const int clean : {0, 1}) {
        TempFolder folder(L"storage");
        WriteRecording(folder.File(L"20240101-100000.avi"), 20);
        WriteRecording(folder.File(L"20241301-100000.AVI"), 20);  // month 13
        WriteRecording(folder.File(L"RECORDING.AVI"), 20);        // the name of the file being written
        WriteText(folder.File(L"20240102-100000.AVI"), "not a video");
        WriteRecording(folder.File(L"20240103-100000.AVI"), 9);  // under a second: a recording all the same
        WriteRecording(folder.File(L"20240104-100000.AVI"), 20);
        MakeRateBelowOneFramePerSecond(folder.File(L"20240104-100000.AVI"));
        WriteText(folder.File(L"lumeno-note.txt"), "keep me");
        CreateDirectoryW(folder.File(L"sub").c_str(), nullptr);
        WriteRecording(folder.File(L"sub\\20240105-100000.AVI"), 20);
        WriteText(folder.File(L"sub\\other.txt"), "inside a sub-folder");
        const std::wstring log = CSealer::LogPath(folder.Path());
        const std::wstring before = ListFolder(folder.Path());

        CVideoStore store;
        store.m_strFolder = folder.Path();
        store.m_nRetainMinutes = 60;
        store.m_bCleanOtherFiles = clean;
        store.ScanFolder();
        ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
        EXPECT_EQ(store.ReadFigures().nCount, 2u);
        // What was recycled is told in the seal log of the program's sub-folder.
        EXPECT_EQ(ListFolder(folder.Path()), clean ? L"20240101-100000.avi 20240103-100000.AVI LumenoData\\ sub\\" : before);
        std::string unsealed;
        for (const CSealRecord& record : SealRecords(log, "unsealed"))
            unsealed += record.Get("name") + " ";
        EXPECT_EQ(unsealed, "20240101-100000.avi 20240103-100000.AVI ");
        EXPECT_EQ(ListFolder(folder.File(L"sub")), L"20240105-100000.AVI other.txt");
        const auto recycled = ReadBytes(trash + L"/lumeno-note.txt");
        EXPECT_EQ(std::string(recycled.begin(), recycled.end()), clean ? "keep me" : "");
        // The catalogue holds its recordings against deletion, yet lets others read them.
        EXPECT_FALSE(DeleteFileW(folder.File(L"20240101-100000.avi").c_str()));
        EXPECT_FALSE(ReadBytes(folder.File(L"20240101-100000.avi")).empty());
    }
    // Longer than the shell's buffer: refused, not overrun.
    EXPECT_EQ(RecycleFile(std::wstring(MAX_PATH + 1, L'x')), ERROR_FILENAME_EXCED_RANGE);
}
