#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/StorageFolder.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

// The freedesktop trash of the test environment ($XDG_DATA_HOME/Trash) as a Windows path.
std::wstring TrashFolder()
{
    wchar_t unixPath[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"XDG_DATA_HOME", unixPath, MAX_PATH))
        return {};
    std::wstring path = std::wstring(L"Z:") + unixPath + L"/Trash";
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

// Wine moves files to the trash only when its folders exist; otherwise it deletes them for good.
// A desktop session has them; the test home is made fresh.
std::wstring PrepareTrash()
{
    const std::wstring trash = TrashFolder();
    for (std::size_t i = 0; i <= trash.size(); ++i) {
        if (i == trash.size() || (trash[i] == L'\\' && i > 2))
            CreateDirectoryW(trash.substr(0, i).c_str(), nullptr);
    }
    CreateDirectoryW((trash + L"\\files").c_str(), nullptr);
    CreateDirectoryW((trash + L"\\info").c_str(), nullptr);
    return trash + L"\\files";
}

class StorageFolderTest : public ::testing::Test {
protected:
    AviLibrary m_avi;
    TempFolder m_folder{L"storage"};
};

// A name that no earlier run has put into the trash.
std::wstring UniqueOtherName(const wchar_t* stem)
{
    return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64()) + L".txt";
}

// One of each kind of file the folder rules must tell apart, plus a sub-folder holding a recording.
struct MixedFolder {
    explicit MixedFolder(const TempFolder& folder) : m_folder(folder)
    {
        WriteRecording(folder.File(L"20240101-100000.avi"), 20);  // lower-case extension: a recording
        WriteRecording(folder.File(L"20241301-100000.AVI"), 20);  // month 13
        WriteRecording(folder.File(L"RECORDING.AVI"), 20);        // the file being written
        WriteText(folder.File(L"20240102-100000.AVI"), "not a video");
        WriteRecording(folder.File(L"20240103-100000.AVI"), 9);  // under a second
        WriteRecording(folder.File(L"20240104-100000.AVI"), 20);
        MakeRateBelowOneFramePerSecond(folder.File(L"20240104-100000.AVI"));
        m_note = UniqueOtherName(L"note");
        WriteText(folder.File(m_note), "keep me somewhere");
        CreateDirectoryW(folder.File(L"sub").c_str(), nullptr);
        WriteRecording(folder.File(L"sub\\20240105-100000.AVI"), 20);
        WriteText(folder.File(L"sub\\other.txt"), "inside a sub-folder");
    }
    const TempFolder& m_folder;
    std::wstring m_note;
};

}  // namespace

TEST_F(StorageFolderTest, DurationIsFramesOverTheStreamRate)
{
    WriteRecording(m_folder.File(L"a.avi"), 600);
    WriteRecording(m_folder.File(L"b.avi"), 19);
    WriteRecording(m_folder.File(L"c.avi"), 9);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"a.avi")), 60u);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"b.avi")), 1u);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"c.avi")), 0u);
}

TEST_F(StorageFolderTest, DurationOfNonVideoOrTooSlowStreamIsZero)
{
    WriteText(m_folder.File(L"text.avi"), "RIFF but not really");
    WriteBytes(m_folder.File(L"empty.avi"), {});
    WriteRecording(m_folder.File(L"slow.avi"), 600);
    MakeRateBelowOneFramePerSecond(m_folder.File(L"slow.avi"));
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"text.avi")), 0u);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"empty.avi")), 0u);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"missing.avi")), 0u);
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"slow.avi")), 0u);
}

TEST_F(StorageFolderTest, ScanKeepsOtherFilesWhenCleaningIsOff)
{
    MixedFolder mixed(m_folder);
    const std::wstring before = ListFolder(m_folder.Path());
    const std::wstring subBefore = ListFolder(m_folder.File(L"sub"));

    CVideoStore store;
    store.m_strFolder = m_folder.Path();
    store.m_nRetainMinutes = 60;
    store.m_bCleanOtherFiles = 0;
    EXPECT_EQ(store.ScanFolder(), 0);

    std::vector<std::wstring> names;
    store.ForEachRecord([&](const CVideoInfo& r) { names.push_back(MakeVideoFileName(r.m_dtStart)); });
    EXPECT_EQ(names, std::vector<std::wstring>{L"20240101-100000.AVI"});
    EXPECT_EQ(ListFolder(m_folder.Path()), before);
    EXPECT_EQ(ListFolder(m_folder.File(L"sub")), subBefore);
}

TEST_F(StorageFolderTest, ScanRecyclesOtherFilesButNeverSubFolders)
{
    const std::wstring trashFiles = PrepareTrash();
    MixedFolder mixed(m_folder);
    const std::wstring subBefore = ListFolder(m_folder.File(L"sub"));

    CVideoStore store;
    store.m_strFolder = m_folder.Path();
    store.m_nRetainMinutes = 60;
    store.m_bCleanOtherFiles = 1;
    EXPECT_EQ(store.ScanFolder(), 0);

    EXPECT_EQ(store.ReadFigures().nCount, 1u);
    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240101-100000.avi sub\\");
    EXPECT_EQ(ListFolder(m_folder.File(L"sub")), subBefore);
    // Recycled, not destroyed: the note is in the trash with its contents.
    const std::wstring trashed = trashFiles + L"\\" + mixed.m_note;
    ASSERT_TRUE(FileExists(trashed)) << Narrow(trashed);
    const auto bytes = ReadBytes(trashed);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep me somewhere");
}

TEST_F(StorageFolderTest, ScanOfAMissingFolderIsEmpty)
{
    CVideoStore store;
    store.m_strFolder = m_folder.File(L"absent");
    store.m_nRetainMinutes = 60;
    store.m_bCleanOtherFiles = 1;
    EXPECT_EQ(store.ScanFolder(), 0);
    EXPECT_EQ(store.ReadFigures().nCount, 0u);
}

TEST_F(StorageFolderTest, RegisteredFileIsHeldAgainstChangesByOthers)
{
    const std::wstring path = m_folder.File(L"20240101-100000.AVI");
    WriteRecording(path, 20);
    CVideoStore store;
    store.m_strFolder = m_folder.Path();
    ASSERT_TRUE(RegisterExistingFile(store, path));

    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(MoveFileW(path.c_str(), m_folder.File(L"moved.AVI").c_str()));
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    lumeno::UniqueFile guard(writer);
    // Reading alongside the catalogue stays possible (a player, a copy to a USB stick).
    lumeno::UniqueFile reader(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    EXPECT_TRUE(FileExists(path));
}

TEST_F(StorageFolderTest, RecycleRefusesPathsTheShellBufferCannotHold)
{
    const std::wstring longPath = m_folder.Path() + L"\\" + std::wstring(300, L'x');
    EXPECT_EQ(RecycleFile(longPath), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(RecycleFile(L""), ERROR_FILENAME_EXCED_RANGE);
}
