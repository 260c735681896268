#include "app/resource.h"
#include "engine/AviFileReader.h"
#include "engine/OverlayClock.h"
#include "engine/RecordThread.h"
#include "support/RecordingFiles.h"
#include "support/SntpStandIn.h"
#include "support/TestDesktop.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"
#include "timestore/RecordingName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <memory>
#include <regex>
#include <vector>

using namespace testsupport;

namespace {

constexpr std::uint16_t kPort = 12423;
constexpr COLORREF kPlain = RGB(200, 200, 200);
const char* const kServers[] = {"127.0.0.1"};

// SNTP seconds of a UTC calendar time.
std::uint32_t NtpSeconds(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s)
{
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    SYSTEMTIME epoch{};
    epoch.wYear = 1900;
    epoch.wMonth = 1;
    epoch.wDay = 1;
    FILETIME a, b;
    SystemTimeToFileTime(&st, &a);
    SystemTimeToFileTime(&epoch, &b);
    const auto ticks = [](FILETIME f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<std::uint32_t>((ticks(a) - ticks(b)) / 10000000ULL);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
    return true;
}

std::vector<std::wstring> Recordings(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    lumeno::UniqueFind find(FindFirstFileW((folder + L"\\*.AVI").c_str(), &fd));
    if (find) {
        do {
            if (std::wstring(fd.cFileName) != CRecordThread::kTempFileName)
                names.push_back(fd.cFileName);
        } while (FindNextFileW(find.Get(), &fd));
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Positions(const std::wstring& path)
{
    AviFileFigures figures;
    return SUCCEEDED(ReadAviFileFigures(path, figures)) ? static_cast<int>(figures.dwLength) : -1;
}

// The server answers with a fixed transmit time chosen by the test; the client's readings then
// advance with its own tick count.
class RecordThreadTest : public ::testing::Test {
protected:
    void StartTimeServer(std::uint32_t seconds)
    {
        m_server = std::make_unique<SntpStandIn>(
            std::vector<std::string>{"127.0.0.1"}, kPort,
            [seconds](const SntpRequest&) { return std::vector<SntpDatagram>{{SntpReply(seconds, 0)}}; });
        m_netTime.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &m_netTime, 0, nullptr));
        ASSERT_TRUE(WaitUntil([&] { return m_netTime.IsSynchronised(); }, 15000));
    }

    void SetOverlay(int zone, std::wstring name, std::wstring platform, std::wstring account)
    {
        std::atomic_store(&m_overlay, std::make_shared<const OverlaySettings>(
                                          OverlaySettings{zone, std::move(name), std::move(platform), std::move(account)}));
    }

    std::unique_ptr<CRecordThread> MakeRecorder()
    {
        return std::make_unique<CRecordThread>(m_netTime, [this] { return std::atomic_load(&m_overlay); });
    }

    void TearDown() override
    {
        (void)m_netTime.Stop(10000);
        m_server.reset();
    }

    AviLibrary m_avi;
    TempFolder m_folder{L"record"};
    CNetTime m_netTime{kServers, kPort};
    std::unique_ptr<SntpStandIn> m_server;
    std::shared_ptr<const OverlaySettings> m_overlay = std::make_shared<const OverlaySettings>();
};

}  // namespace

TEST_F(RecordThreadTest, ShortRecordingMakesOneNamedFileAndOneNotification)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(m_folder.Path(), 60, FALSE, desktop.NotifyWindow()));
    ASSERT_TRUE(desktop.WaitForCount(1, 5000)) << "the start-up scan posts one notification";

    const CDateTime before = GetCurrentDate();
    recorder->SetRecording(TRUE);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(m_folder.File(L"RECORDING.AVI")); }, 3000));
    Sleep(2500);
    recorder->SetRecording(FALSE);
    ASSERT_TRUE(desktop.WaitForCount(2, 10000));
    Sleep(500);
    EXPECT_EQ(desktop.Count(), 2) << "exactly one notification for the finished file";

    const auto names = Recordings(m_folder.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_FALSE(FileExists(m_folder.File(L"RECORDING.AVI")));
    CVideoInfo parsed;
    ASSERT_TRUE(ParseRecordingName(parsed, names[0]));
    const double startSeconds = (parsed.m_dtStart.m_dt - before.m_dt) * 86400.0;
    EXPECT_GE(startSeconds, -0.5);
    EXPECT_LE(startSeconds, 2.5) << "the name is the local time the file started";

    const int positions = Positions(m_folder.File(names[0]));
    EXPECT_GE(positions, 23);
    EXPECT_LE(positions, 28);
    EXPECT_EQ(recorder->m_storage.ReadFigures().nCount, 1u);

    // Idle: Stop returns at once.
    const ULONGLONG t0 = GetTickCount64();
    recorder->Stop();
    EXPECT_LT(GetTickCount64() - t0, 1000u);
}

TEST_F(RecordThreadTest, TheLastWriteWinsAndSignalsCollapse)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(m_folder.Path(), 60, FALSE, desktop.NotifyWindow()));
    recorder->SetRecording(TRUE);
    recorder->SetRecording(FALSE);
    recorder->SetRecording(TRUE);
    Sleep(1500);
    EXPECT_TRUE(FileExists(m_folder.File(L"RECORDING.AVI"))) << "on, off, on ends recording";
    recorder->SetRecording(FALSE);
    recorder->SetRecording(TRUE);
    recorder->SetRecording(FALSE);
    ASSERT_TRUE(desktop.WaitForCount(2, 10000));
    Sleep(1000);
    EXPECT_FALSE(FileExists(m_folder.File(L"RECORDING.AVI"))) << "off, on, off ends idle";
    EXPECT_EQ(Recordings(m_folder.Path()).size(), 1u);
    EXPECT_EQ(desktop.Count(), 2);
}

TEST_F(RecordThreadTest, StopWhileRecordingReturnsWithTheFileCatalogued)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(m_folder.Path(), 60, FALSE, desktop.NotifyWindow()));
    recorder->SetRecording(TRUE);
    Sleep(1500);
    recorder->Stop();
    // Nothing is left to happen after Stop: the file has its final name and is in the catalogue.
    EXPECT_FALSE(FileExists(m_folder.File(L"RECORDING.AVI")));
    const auto names = Recordings(m_folder.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(recorder->m_storage.ReadFigures().nCount, 1u);
    EXPECT_GE(Positions(m_folder.File(names[0])), 12);
}

TEST_F(RecordThreadTest, AMissingFolderIsRetriedUntilItExists)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    const std::wstring folder = m_folder.File(L"later");
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(folder, 60, FALSE, desktop.NotifyWindow()));
    recorder->SetRecording(TRUE);
    Sleep(1000);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + L"\\RECORDING.AVI"); }, 3000))
        << "recording resumes on its own once the folder can be written";
    Sleep(1500);
    recorder->SetRecording(FALSE);
    ASSERT_TRUE(WaitUntil([&] { return Recordings(folder).size() == 1; }, 10000));
    EXPECT_GE(Positions(folder + L"\\" + Recordings(folder)[0]), 12);
}

TEST_F(RecordThreadTest, LongRecordingRollsOverAt600PositionsThatMatchWallTime)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(m_folder.Path(), 60, FALSE, desktop.NotifyWindow()));
    const ULONGLONG on = GetTickCount64();
    recorder->SetRecording(TRUE);
    ASSERT_TRUE(desktop.WaitForCount(2, 75000)) << "the first file is finished after 60 s";
    Sleep(4000);
    const ULONGLONG off = GetTickCount64();
    recorder->Stop();

    const auto names = Recordings(m_folder.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(Positions(m_folder.File(names[0])), 600);
    const int total = 600 + Positions(m_folder.File(names[1]));
    const double wallTicks = static_cast<double>(off - on) / 100.0;
    // One tick of slack at each end: the switch-on wake-up and the tick in progress at Stop.
    EXPECT_NEAR(total, wallTicks, 2.0) << "positions stand for 100 ms of wall time each";

    CVideoInfo first, second;
    ASSERT_TRUE(ParseRecordingName(first, names[0]));
    ASSERT_TRUE(ParseRecordingName(second, names[1]));
    EXPECT_NEAR((second.m_dtStart.m_dt - first.m_dtStart.m_dt) * 86400.0, 60.0, 1.01);

    int rc = 0;
    const std::string packets = RunHost("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                        "stream=nb_read_packets -of csv=p=0 '" +
                                            UnixPath(m_folder.File(names[0])) + "'",
                                        &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::atoi(packets.c_str()), 600);
    const std::string errors = RunHost("ffmpeg -nostdin -v error -xerror -i '" + UnixPath(m_folder.File(names[0])) +
                                       "' -f null - 2>&1",
                                       &rc);
    EXPECT_EQ(rc, 0) << errors;
    std::printf("pictures %lld, dropped positions %lld\n", recorder->m_stats.nPictures, recorder->m_stats.nDropped);
}
