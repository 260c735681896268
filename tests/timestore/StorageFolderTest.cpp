#include <gtest/gtest.h>

#include <set>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/SealLog.h"
#include "timestore/StorageFolder.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

// The start-up scan over one file of each kind the folder rules tell apart, with and without
// cleaning: only the recordings are catalogued, however short, and the log notes them as not sealed
// (nothing sealed them); every other file is kept or recycled, never destroyed, and nothing inside a
// sub-folder is touched.
TEST(StorageFolderTest, ScanCataloguesRecordingsAndKeepsOrRecyclesEverythingElse)
{
    // Wine recycles into the freedesktop trash only when its folders exist; else it deletes.
    const std::string trash = RunHost(
        "t=\"$XDG_DATA_HOME/Trash\" && mkdir -p \"$t/files\" \"$t/info\" && "
        "rm -f \"$t/files/lumeno-note.txt\" \"$t/info/lumeno-note.txt.trashinfo\" && printf %s \"$t/files\"");
    ASSERT_FALSE(trash.empty());
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
        std::multiset<std::string> unsealed;
        for (const CSealLog::Line& line : CSealLog::ReadLines(log))
            if (CSealRecord record; CSealRecord::Parse(line.text, record) == CSealRecord::Parsed::kOk &&
                                    record.Get("kind") == "unsealed")
                unsealed.insert(record.Get("name"));
        EXPECT_EQ(unsealed, (std::multiset<std::string>{"20240101-100000.avi", "20240103-100000.AVI"}));
        EXPECT_EQ(ListFolder(folder.File(L"sub")), L"20240105-100000.AVI other.txt");
        const auto recycled = ReadBytes(Widen("Z:" + trash + "/lumeno-note.txt"));
        EXPECT_EQ(std::string(recycled.begin(), recycled.end()), clean ? "keep me" : "");
        // The catalogue holds its recordings against deletion, yet lets others read them.
        EXPECT_FALSE(DeleteFileW(folder.File(L"20240101-100000.avi").c_str()));
        EXPECT_FALSE(ReadBytes(folder.File(L"20240101-100000.avi")).empty());
    }
    // Longer than the shell's buffer: refused, not overrun.
    EXPECT_EQ(RecycleFile(std::wstring(MAX_PATH + 1, L'x')), ERROR_FILENAME_EXCED_RANGE);
}
