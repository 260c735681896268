#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/StorageFolder.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

CDateTime At(int day, int hour, int minute, int second)
{
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 1;
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return CDateTime::FromSystemTime(st);
}

// A record without a file; the duration tells records apart.
void AddBare(CVideoStore& store, CDateTime start, int duration)
{
    CVideoInfo record;
    record.m_dtStart = start;
    record.m_nDuration = duration;
    std::move(record).AddToStore(store);
}

std::vector<std::wstring> Names(const CVideoStore& store)
{
    std::vector<std::wstring> names;
    store.ForEachRecord([&](const CVideoInfo& r) { names.push_back(MakeVideoFileName(r.m_dtStart)); });
    return names;
}

std::vector<int> Durations(const CVideoStore& store)
{
    std::vector<int> durations;
    store.ForEachRecord([&](const CVideoInfo& r) { durations.push_back(r.m_nDuration); });
    return durations;
}

// The value of a handle made now. Handle tables hand out free slots before growing, so this stays
// put while handles are balanced and climbs with every leaked one. (GetProcessHandleCount is a
// stub that reports 0 under Wine; the slot works on both.)
std::uintptr_t FreshHandleSlot()
{
    lumeno::UniqueHandle probe(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return reinterpret_cast<std::uintptr_t>(probe.Get());
}

class VideoStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store.m_strFolder = m_folder.Path();
        m_store.m_nRetainMinutes = 24 * 60;
        m_temp = m_folder.File(kTemporaryRecordingName);
    }
    // A finished temporary recording of `frames` positions, ready to commit.
    void Record(int frames) { WriteRecording(m_temp, frames); }
    void RecordFrom(const std::wstring& templateFile)
    {
        ASSERT_TRUE(CopyFileW(templateFile.c_str(), m_temp.c_str(), FALSE));
    }

    AviLibrary m_avi;
    TempFolder m_folder{L"store"};
    TempFolder m_templates{L"templates"};
    CVideoStore m_store;
    std::wstring m_temp;
};

}  // namespace

TEST(VideoStoreOrderTest, NewestFirstWhateverTheOrderOfAdding)
{
    CVideoStore store;
    AddBare(store, At(1, 10, 0, 0), 1);
    AddBare(store, At(1, 10, 2, 0), 2);
    AddBare(store, At(1, 10, 1, 0), 3);
    EXPECT_EQ(Durations(store), (std::vector<int>{2, 3, 1}));

    // Equal start times: the one added first stays in front.
    CVideoStore equal;
    AddBare(equal, At(1, 10, 0, 0), 1);
    AddBare(equal, At(1, 10, 0, 0), 2);
    AddBare(equal, At(1, 9, 0, 0), 3);
    AddBare(equal, At(1, 10, 0, 0), 4);
    EXPECT_EQ(Durations(equal), (std::vector<int>{1, 2, 4, 3}));
}

TEST(VideoStoreOrderTest, InvalidStartsGoToTheTailAndArePassedOver)
{
    const CDateTime invalid(0.0, CDateTime::kInvalid);
    CVideoStore store;
    AddBare(store, invalid, 1);
    AddBare(store, At(1, 10, 0, 0), 2);
    AddBare(store, invalid, 3);
    AddBare(store, At(1, 9, 0, 0), 4);
    AddBare(store, At(1, 11, 0, 0), 5);
    // Every insertion walks past invalid records, so valid ones added after an invalid one stay
    // behind it, still in order among themselves.
    EXPECT_EQ(Durations(store), (std::vector<int>{1, 5, 2, 3, 4}));
}

TEST(VideoStoreOrderTest, RecordWithoutSizeCountsZeroBytes)
{
    CVideoStore store;
    AddBare(store, At(1, 10, 0, 0), 60);
    AddBare(store, At(1, 10, 1, 0), 60);
    const CVideoStore::Figures figures = store.ReadFigures();
    EXPECT_EQ(figures.nCount, 2u);
    EXPECT_EQ(figures.ullBytes, 0u);
}

TEST_F(VideoStoreTest, CommitNamesTheFileAndCataloguesItsRealDuration)
{
    Record(600);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(3, 9, 5, 7), 600));
    Record(19);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(3, 9, 6, 7), 19));
    Record(7);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(3, 9, 7, 7), 7));

    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240103-090507.AVI 20240103-090607.AVI 20240103-090707.AVI");
    EXPECT_EQ(Durations(m_store), (std::vector<int>{0, 1, 60}));

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(m_folder.File(L"20240103-090507.AVI").c_str(), GetFileExInfoStandard, &data));
    DWORD allocated = 0;
    m_store.ForEachRecord([&](const CVideoInfo& r) {
        if (r.m_nDuration == 60) {
            allocated = r.m_dwSize;
        }
    });
    EXPECT_GE(allocated, data.nFileSizeLow);
    EXPECT_GE(m_store.ReadFigures().ullBytes, allocated);
}

TEST_F(VideoStoreTest, RecordingsStartedInTheSameSecondAreAllKept)
{
    WriteRecording(m_folder.File(L"20240101-100003.AVI"), 10);  // left over, not in the catalogue
    const int frames[] = {600, 300, 100, 50};
    for (int n : frames) {
        Record(n);
        ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 10, 0, 0), n));
    }
    EXPECT_EQ(Names(m_store), (std::vector<std::wstring>{L"20240101-100004.AVI", L"20240101-100002.AVI",
                                                         L"20240101-100001.AVI", L"20240101-100000.AVI"}));
    EXPECT_EQ(Durations(m_store), (std::vector<int>{5, 10, 30, 60}));
    EXPECT_FALSE(FileExists(m_temp));
    EXPECT_EQ(ReadAviDuration(m_folder.File(L"20240101-100003.AVI")), 1u);  // untouched
}

TEST_F(VideoStoreTest, FailedRenameCataloguesNothing)
{
    EXPECT_FALSE(m_store.CommitRecording(m_temp, At(1, 10, 0, 0), 600));  // no temporary file at all

    Record(100);
    CVideoStore elsewhere;
    elsewhere.m_strFolder = m_folder.File(L"absent");
    EXPECT_FALSE(elsewhere.CommitRecording(m_temp, At(1, 10, 0, 0), 100));
    EXPECT_EQ(m_store.ReadFigures().nCount, 0u);
    EXPECT_EQ(elsewhere.ReadFigures().nCount, 0u);
    EXPECT_TRUE(FileExists(m_temp));  // the recording is not lost
}

TEST_F(VideoStoreTest, InvalidStartStillGetsARecordingName)
{
    Record(100);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, CDateTime(0.0, CDateTime::kInvalid), 100));
    const std::vector<std::wstring> names = Names(m_store);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(ParseRecordingStart(names[0]).IsValid()) << Narrow(names[0]);
    EXPECT_TRUE(FileExists(m_folder.File(names[0])));
}

TEST_F(VideoStoreTest, RetentionByDurationOnFilesFoundAtStartUp)
{
    WriteRecording(m_folder.File(L"20240101-120000.AVI"), 10000);
    WriteRecording(m_folder.File(L"20240101-110000.AVI"), 5000);
    WriteRecording(m_folder.File(L"20240101-100000.AVI"), 4000);
    WriteRecording(m_folder.File(L"20240101-090000.AVI"), 100);
    m_store.m_nRetainMinutes = 25;  // 1500 s: 1000 + 500 fit exactly
    m_store.ScanFolder();
    EXPECT_EQ(Durations(m_store), (std::vector<int>{1000, 500}));
    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240101-110000.AVI 20240101-120000.AVI");
}

TEST_F(VideoStoreTest, NewestLongerThanTheLimitDeletesEverything)
{
    WriteRecording(m_folder.File(L"20240101-120000.AVI"), 6010);
    WriteRecording(m_folder.File(L"20240101-110000.AVI"), 100);
    m_store.m_nRetainMinutes = 10;
    m_store.ScanFolder();
    EXPECT_EQ(m_store.ReadFigures().nCount, 0u);
    EXPECT_EQ(ListFolder(m_folder.Path()), L"");
}

TEST_F(VideoStoreTest, RetentionZeroKeepsOnlyNewerEmptyRecordings)
{
    m_store.m_nRetainMinutes = 0;
    Record(20);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 10, 0, 0), 20));
    EXPECT_EQ(ListFolder(m_folder.Path()), L"");

    Record(5);  // under a second
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 11, 0, 0), 5));
    Record(20);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 9, 0, 0), 20));
    EXPECT_EQ(Names(m_store), std::vector<std::wstring>{L"20240101-110000.AVI"});
    EXPECT_EQ(ListFolder(m_folder.Path()), L"20240101-110000.AVI");
}

TEST_F(VideoStoreTest, ThirtyMinutesKeepThirtyFullFilesWhileRunningAndAfterRestart)
{
    const std::wstring full = m_templates.File(L"full.avi");
    WriteRecording(full, 600);
    m_store.m_nRetainMinutes = 30;
    for (int i = 0; i < 40; ++i) {
        RecordFrom(full);
        ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 10, i, 0), 600));
        ASSERT_EQ(m_store.ReadFigures().nCount, static_cast<std::size_t>(std::min(i + 1, 30))) << "commit " << i;
    }
    const std::vector<std::wstring> running = Names(m_store);
    EXPECT_EQ(running.front(), L"20240101-103900.AVI");
    EXPECT_EQ(running.back(), L"20240101-101000.AVI");

    CVideoStore restarted;
    restarted.m_strFolder = m_folder.Path();
    restarted.m_nRetainMinutes = 30;
    m_store.m_list.clear();  // the old process's handles go away with it
    restarted.ScanFolder();
    EXPECT_EQ(Names(restarted), running);
    EXPECT_EQ(restarted.ReadFigures().nCount, 30u);
}

TEST_F(VideoStoreTest, DeletedRecordsReleaseTheirHandles)
{
    const std::wstring tenSeconds = m_templates.File(L"ten.avi");
    WriteRecording(tenSeconds, 100);
    m_store.m_nRetainMinutes = 1;  // six 10-second recordings
    DWORD countWarm = 0, countEnd = 0;
    std::uintptr_t slotWarm = 0, slotEnd = 0;
    for (int i = 0; i < 1000; ++i) {
        RecordFrom(tenSeconds);
        ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 0, 0, 0).AddSeconds(10 * i), 100));
        if (i == 99) {
            ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &countWarm));
            slotWarm = FreshHandleSlot();
        }
    }
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &countEnd));
    slotEnd = FreshHandleSlot();
    EXPECT_EQ(m_store.ReadFigures().nCount, 6u);
    EXPECT_EQ(ListFolder(m_folder.Path()).size(), 6 * (kRecordingNameLength + 1) - 1);
    // 900 leaked file handles would move either figure by hundreds; allow a few lazily made ones.
    EXPECT_LE(countEnd, countWarm + 8);
    EXPECT_LE(slotEnd, slotWarm + 64 * sizeof(HANDLE));
}

TEST_F(VideoStoreTest, CommittingAndReadingFiguresConcurrently)
{
    const std::wstring oneSecond = m_templates.File(L"one.avi");
    WriteRecording(oneSecond, 10);
    m_store.m_nRetainMinutes = 1;  // at most 60 one-second recordings
    RecordFrom(oneSecond);
    ASSERT_TRUE(m_store.CommitRecording(m_temp, At(1, 0, 0, 0), 10));
    // Every copy of the template occupies the same space, so any consistent view has
    // bytes == count × that size; a torn read of the list would break it.
    const ULONGLONG perFile = m_store.ReadFigures().ullBytes;
    ASSERT_GT(perFile, 0u);

    constexpr int kIterations = 10000;
    std::atomic<bool> committing{true};
    std::atomic<int> failures{0};
    std::thread recorder([&] {
        AviLibrary threadAvi;  // like the recording thread, which initialises the library itself
        for (int i = 1; i < kIterations; ++i) {
            if (!CopyFileW(oneSecond.c_str(), m_temp.c_str(), FALSE) ||
                !m_store.CommitRecording(m_temp, At(1, 0, 0, 0).AddSeconds(i), 10))
                ++failures;
        }
        committing = false;
    });
    int reads = 0, inconsistent = 0;
    std::size_t largest = 0;
    while (committing || reads < kIterations) {
        const CVideoStore::Figures figures = m_store.ReadFigures();
        // Between the insertion and its retention pass the catalogue holds one record more.
        if (figures.ullBytes != figures.nCount * perFile || figures.nCount == 0 || figures.nCount > 61)
            ++inconsistent;
        largest = std::max(largest, figures.nCount);
        ++reads;
        std::this_thread::yield();
    }
    recorder.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(inconsistent, 0) << "of " << reads << " reads";
    EXPECT_GE(largest, 60u);
    EXPECT_EQ(m_store.ReadFigures().nCount, 60u);
    const std::vector<std::wstring> names = Names(m_store);
    EXPECT_EQ(names.front(), MakeVideoFileName(At(1, 0, 0, 0).AddSeconds(kIterations - 1)));
    EXPECT_EQ(names.back(), MakeVideoFileName(At(1, 0, 0, 0).AddSeconds(kIterations - 60)));
    EXPECT_EQ(ListFolder(m_folder.Path()).size(), 60 * (kRecordingNameLength + 1) - 1);
}
