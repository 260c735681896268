#include <gtest/gtest.h>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/SealLog.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

class VideoStoreTest : public ::testing::Test {
protected:
    void SetUp() override { m_store.m_strFolder = m_folder.Path(), m_store.m_nRetainMinutes = 24 * 60; }
    BOOL Commit(const SYSTEMTIME& start, int frames)
    {
        WriteRecording(m_temp, frames);
        return m_store.CommitRecording(m_temp, CDateTime::FromSystemTime(start), frames);
    }

    AviLibrary m_avi;
    TempFolder m_folder{L"store"};
    const std::wstring m_temp = m_folder.File(L"RECORDING.AVI");
    CVideoStore m_store;
};

}  // namespace

TEST_F(VideoStoreTest, RecordingsStartedInTheSameSecondTakeTheNextFreeOnes)
{
    WriteText(m_folder.File(L"20231231-235959.AVI"), "left over");  // not in the catalogue
    for (const int frames : {600, 300, 100, 50})
        EXPECT_TRUE(Commit(MakeSystemTime(2023, 12, 31, 23, 59, 59), frames));
    ASSERT_TRUE(m_store.m_sealer.WaitIdle(30000));
    EXPECT_EQ(ListFolder(m_folder.Path()),
              L"20231231-235959.AVI 20240101-000000.AVI 20240101-000001.AVI "
              L"20240101-000002.AVI 20240101-000003.AVI LumenoData\\");
    EXPECT_EQ(ReadBytes(m_folder.File(L"20231231-235959.AVI")).size(), 9u) << "overwritten";
    EXPECT_EQ(m_store.ReadFigures().nCount, 4u);
    // The panel's used space covers at least the largest file.
    EXPECT_GE(m_store.ReadFigures().ullBytes, ReadBytes(m_folder.File(L"20240101-000000.AVI")).size());
}

TEST_F(VideoStoreTest, AFailedCommitKeepsTheRecordingAndCataloguesNothing)
{
    m_store.m_strFolder = m_folder.File(L"absent");
    EXPECT_FALSE(m_store.CommitRecording(m_temp, GetCurrentDate(), 600));  // no temporary file at all
    EXPECT_FALSE(Commit(MakeSystemTime(2024, 1, 1), 100));
    EXPECT_EQ(m_store.ReadFigures().nCount, 0u);
    EXPECT_TRUE(FileExists(m_temp));
}

// Walking from the newest, recordings stay while their summed durations fit the retention time;
// the one that crosses it and every older one go, from the disk too.
TEST_F(VideoStoreTest, RetentionKeepsTheNewestThatFitAndDeletesTheRest)
{
    const struct {
        int minutes;
        std::vector<int> seconds;  // oldest first, one an hour from 10:00
        const wchar_t* kept;
    } cases[] = {{25, {10, 400, 500, 1000}, L"20240101-120000.AVI 20240101-130000.AVI LumenoData\\"},  // 1500 s fit
                 {10, {10, 601}, L"LumenoData\\"}};  // the seal log tells of the deletions
    for (const auto& c : cases) {
        TempFolder folder(L"retention");
        for (std::size_t i = 0; i < c.seconds.size(); ++i)
            WriteRecording(folder.File(L"20240101-" + std::to_wstring(10 + i) + L"0000.AVI"), c.seconds[i] * 10);
        CVideoStore store;
        store.m_strFolder = folder.Path();
        store.m_nRetainMinutes = c.minutes;
        store.ScanFolder();
        ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
        EXPECT_EQ(ListFolder(folder.Path()), c.kept) << c.minutes;
    }
}

// The zone moved eight hours west between the second and the third recording: their names run against
// the order they were made in, which their seals keep. Retention follows the seals, and a recording
// finished now is the newest whatever its name says.
TEST_F(VideoStoreTest, RetentionFollowsWhenRecordingsStartedNotTheirNames)
{
    const std::wstring names[] = {L"20240101-180000.AVI", L"20240101-180100.AVI", L"20240101-100200.AVI",
                                  L"20240101-100300.AVI"};
    CSealLog log;
    ASSERT_EQ(log.Open(CSealer::LogPath(m_folder.Path())), S_OK);
    for (int i = 0; i < 4; ++i) {
        WriteRecording(m_folder.File(names[i]), 600);
        CSealRecord seal;
        seal.Set("kind", "recording"), seal.Set("name", Narrow(names[i])), seal.Set("utc_source", "machine");
        seal.Set("start_utc", "2024-01-01T10:0" + std::to_string(i) + ":00.000Z");
        ASSERT_EQ(log.Append(seal), S_OK);
    }
    log.Close();
    m_store.m_nRetainMinutes = 2;
    (void)m_store.ScanFolder();
    ASSERT_TRUE(m_store.m_sealer.WaitIdle(30000));
    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240101-100200.AVI 20240101-100300.AVI LumenoData\\");
    ASSERT_TRUE(Commit(MakeSystemTime(2024, 1, 1, 10, 1), 600));
    ASSERT_TRUE(m_store.m_sealer.WaitIdle(30000));
    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240101-100100.AVI 20240101-100300.AVI LumenoData\\");
}
