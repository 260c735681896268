#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <sstream>

#include "support/PositionMap.h"
#include "engine/RecordThread.h"
#include "framework/DcCache.h"
#include "framework/PointFont.h"
#include "res/resource.h"
#include "support/RecordingFiles.h"
#include "support/SntpStandIn.h"
#include "support/TestDesktop.h"
#include "timestore/NetTime.h"
#include "timestore/RecordingName.h"
#include "timestore/SealLog.h"
#include "timestore/Sealer.h"

using namespace testsupport;

namespace {

const char* const kServers[] = {"127.0.0.1"};

std::vector<std::wstring> Recordings(const std::wstring& folder)  // finished ones, full paths, oldest first
{
    std::wistringstream names(ListFolder(folder));
    std::vector<std::wstring> paths;
    for (std::wstring name; names >> name;)  // not the temp file, nor the program's sub-folder
        if (name != CRecordThread::kTempFileName && name.back() != L'\\')
            paths.push_back(folder + L"\\" + name);
    return paths;
}

std::vector<CSealRecord> RecordingSeals(const std::wstring& folder)
{
    return SealRecords(CSealer::LogPath(folder), "recording");
}

// Rows of the last composed frame (bottom-up) unlike the overlay over the plain grey desktop: the box
// darkening 200 to 200 × 115 / 255 from (W-380, 24), the banner at (W-376, 24), the texts in the overlay
// font in their cells (the clocks as the frame has them). The pointer's rows are left out.
int Misplaced(const CRecordThread& r, bool connected, const wchar_t* zoneLabel, const OverlaySettings& s)
{
    const int w = r.Width(), h = r.Height(), ih = r.Banner().GetHeight();
    lumeno::CImage expected;
    (void)expected.Create(w, h, 32);
    const lumeno::CLentDc dc(expected.GetHBITMAP()), banner(r.Banner().GetHBITMAP());
    const lumeno::UniqueBrush plain(CreateSolidBrush(RGB(200, 200, 200))), dark(CreateSolidBrush(RGB(90, 90, 90)));
    const RECT all{0, 0, w, h}, box{w - 380, 24, w, ih + 96};
    FillRect(dc.Get(), &all, plain.Get()), FillRect(dc.Get(), &box, dark.Get());
    BitBlt(dc.Get(), w - 376, 24, r.Banner().GetWidth(), ih, banner.Get(), 0, 0, SRCCOPY);
    const lumeno::UniqueFont font = lumeno::CreatePointFont(110, L"宋体");
    const lumeno::SelectGuard selectFont(dc.Get(), font.Get());
    SetBkMode(dc.Get(), TRANSPARENT);
    const std::wstring state = connected ? L"连接正常" : L"连接异常", clock8 = r.m_lastTexts[3],
                       clock2 = r.m_lastTexts[5];
    std::wstring texts[9] = {L"网络：", state,     L"北京时间：", clock8,   zoneLabel,
                             clock2,    L"姓名：", L"平台：",     L"帐号："};
    texts[6] += s.strName, texts[7] += s.strPlatform, texts[8] += s.strAccount;
    const int cells[9][2] = {{376, 28}, {336, 28}, {376, 52}, {306, 52}, {376, 76},
                             {306, 76}, {186, 28}, {186, 52}, {186, 76}};  // from the right edge, below the banner
    for (int i = 0; i < 9; ++i) {
        RECT cell{w - cells[i][0], ih + cells[i][1], w - cells[i][0] + 186, ih + cells[i][1] + 20};
        SetTextColor(dc.Get(), i != 1 ? RGB(255, 255, 255) : connected ? RGB(0, 255, 0) : RGB(255, 0, 0));
        DrawTextW(dc.Get(), texts[i].c_str(), -1, &cell, DT_SINGLELINE);
    }
    GdiFlush();
    // A 16-bit screen shows the desktop's grey to within a few steps (the overlay is drawn in 32 bits).
    const int slack = ScreenBits() < 24 ? 8 : 0;
    int wrong = 0;
    for (int y = 0; y < h - 100; ++y) {  // rows above the pointer
        const std::uint8_t *got = r.FrameBits() + (h - 1 - y) * w * 4, *want = expected.GetPixelAddress(0, y);
        wrong += !std::equal(got, got + w * 4, want, [&](int a, int b) { return std::abs(a - b) <= slack; });
    }
    return wrong;
}

// Encoding longer than the tick (a sleep for its cost, not a wait), as on a screen too large for it.
struct SlowEncodingRecorder : CRecordThread {
    using CRecordThread::CRecordThread;
    ~SlowEncodingRecorder() override { Stop(); }  // the encoder thread calls into this class
    static constexpr DWORD kEncodeMs = 250;
    void WritePicture(int slot) override { Sleep(kEncodeMs), CRecordThread::WritePicture(slot); }
};

// Plain C far slower than the tick (a sleep before each picture), the processor's code quick.
struct SlowPlainCRecorder : CRecordThread {
    using CRecordThread::CRecordThread;
    ~SlowPlainCRecorder() override { Stop(); }
    void WritePicture(int slot) override
    {
        if (m_writer.m_encoder.GetPath() == CXvidEncoder::Path::kPlainC)
            Sleep(SlowEncodingRecorder::kEncodeMs);
        CRecordThread::WritePicture(slot);
        m_nProcessorPictures += m_writer.m_encoder.GetPath() == CXvidEncoder::Path::kProcessor ? 1 : 0;
    }
    std::atomic<int> m_nProcessorPictures{0};
};

class RecordThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_desktop.Shown()) << "the test desktop never reached the screen"; }
    void TearDown() override { (void)m_netTime.Stop(10000); }
    AviLibrary m_avi;
    TempFolder m_folder{L"record"};
    TestDesktop m_desktop{RGB(200, 200, 200), WM_STORAGE_CHANGED};
    CNetTime m_netTime{kServers, 12423};
};

}  // namespace

// On, off, on into a missing folder, across a file's end and an overrun tick: the latest switch wins, the
// folder is retried, 600 positions of 100 ms a file, and Stop finishes, announces and catalogues both.
TEST_F(RecordThreadTest, FilesOf600PositionsFollowWallTimeThroughAStall)
{
    const std::wstring folder = m_folder.File(L"later");
    std::atomic<DWORD> stallMs{0};  // the overlay source runs in every tick: a stall there makes it overrun
    CRecordThread recorder(m_netTime, [&] { return Sleep(stallMs.exchange(0)), nullptr; }, ProgramBanner());
    ASSERT_TRUE(recorder.Start(folder, 60, FALSE, m_desktop.NotifyWindow()));
    const CDateTime before = GetCurrentDate();
    const ULONGLONG on = GetTickCount64();
    for (const BOOL record : {TRUE, FALSE, TRUE})
        recorder.SetRecording(record);
    ASSERT_TRUE(WaitUntil([&] { return recorder.FailedOpens() >= 3; }, 20000)) << "the missing folder was tried";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + L"\\" + CRecordThread::kTempFileName); }, 10000));
    const ULONGLONG opened = GetTickCount64();
    stallMs = 3000;  // about 30 positions without a picture
    ASSERT_TRUE(WaitUntil([&] { return m_desktop.Count() >= 2; }, 120000)) << "the first file was announced";
    const ULONGLONG stopping = GetTickCount64();
    recorder.Stop();
    const ULONGLONG stopped = GetTickCount64();
    const auto files = Recordings(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(recorder.m_storage.ReadFigures().nCount, 2u);
    EXPECT_TRUE(WaitUntil([&] { return m_desktop.Count() >= 3; }, 10000)) << "the second file was announced";
    const std::string first = PositionMap(files[0]), second = PositionMap(files[1]);
    EXPECT_EQ(first.size(), 600u);
    EXPECT_EQ(first.substr(0, 1) + second.substr(0, 1), "KK");
    EXPECT_NE(first.find(std::string(25, '.')), std::string::npos) << "the stalled tick's positions stay empty";
    const auto total = static_cast<long long>(first.size() + second.size());  // slack: wake-ups, change of file
    EXPECT_GE(total, static_cast<long long>(stopping - opened) / 100 - 15);
    EXPECT_LE(total, static_cast<long long>(stopped - on) / 100 + 5);
    EXPECT_EQ(DecodeErrors(files[0]) + DecodeErrors(files[1]), "");
    // Named after their local start times, in whole seconds: at opening, and 600 positions later.
    const auto startAfterOn = [&](int i) {
        return (ParseRecordingStart(files[i].substr(files[i].size() - 19)).m_dt - before.m_dt) * 86400.0;
    };
    EXPECT_NEAR(startAfterOn(0), 0.0, 1.0 + (opened - on) / 1000.0);
    EXPECT_NEAR(startAfterOn(1) - startAfterOn(0), 60.0, 2.5);
    const auto seals = RecordingSeals(folder);
    ASSERT_EQ(seals.size(), 2u);
    for (const CSealRecord& seal : seals)
        EXPECT_EQ(seal.Get("encoder") + " " + seal.Get("processor_from"), "plain_c -")
            << "a stalled capture is no slow encoder: plain C throughout";
}

// The overlay and its clocks with and without the banner (on two screen sizes and 16 bits), and an
// empty position rather than a corrupt chunk for an encoding error.
TEST_F(RecordThreadTest, OverlayOnWrittenFramesAndAnEmptyPositionForAnEncodingError)
{
    OverlaySettings zhang{0, L"张三", L"MT5", L"88001234"};
    CRecordThread recorder(m_netTime, [&] { return std::make_shared<const OverlaySettings>(zhang); },
                           ProgramBanner());
    CVideoFileWriter& writer = recorder.m_writer;
    const std::wstring file = writer.m_strTempPath = m_folder.File(L"frames.avi");
    ASSERT_EQ(writer.OpenVideoFile(), S_OK);
    std::string reported;  // what each position must hold
    const auto capture = [&] {
        recorder.CaptureFrame();
        reported += !writer.m_encoder.m_hInstance ? '.' : writer.m_encoder.m_bKeyFrame ? 'K' : '_';
    };
    capture();
    ASSERT_EQ(recorder.FrameHeader().biBitCount, 32) << "composed in 32 bits whatever the screen's depth";
    ASSERT_EQ(recorder.Banner().GetHeight(), 30);
    EXPECT_EQ(Misplaced(recorder, false, L"GMT+00h：", zhang), 0) << "before any server answered";
    void* const encoder = std::exchange(writer.m_encoder.m_hInstance, nullptr);  // every encode fails
    capture();
    writer.m_encoder.m_hInstance = encoder;

    const SntpStandIn server(std::vector<std::string>{kServers[0]}, m_netTime.Port(),  // 2024-12-31 16:00:00 UTC
                             [](auto&) { return std::vector<SntpDatagram>{{SntpReply(3944649600u, 0)}}; });
    m_netTime.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &m_netTime, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return m_netTime.IsSynchronised(); }, 15000));
    for (const auto& [zone, label, clock] :
         {std::tuple{-5, L"GMT-05h：", L"12-31 11:00:"}, {8, L"GMT+08h：", L"1-1 0:00:"}}) {
        zhang.nTimeZone2 = zone;
        capture();
        SYSTEMTIME now;
        ASSERT_TRUE(m_netTime.GetNetTime(now) && now.wHour == 16 && now.wMinute == 0) << "the texts hold for a minute";
        EXPECT_EQ(recorder.m_lastTexts[3].substr(0, 9), L"1-1 0:00:") << "Beijing's clock";
        EXPECT_EQ(recorder.m_lastTexts[5], clock + recorder.m_lastTexts[3].substr(9)) << "the same reading";
        EXPECT_EQ(Misplaced(recorder, true, label, zhang), 0) << zone;
        recorder.m_imgBanner.Destroy();  // for the next frame: the box is then 72 rows high
    }
    writer.ReleaseVideoFile();
    EXPECT_EQ(PositionMap(file), reported);
    EXPECT_EQ(DecodeErrors(file), "");
}

// An encoder slower than the tick: positions it cannot take stay empty and the files keep wall
// time, and pictures still queued at the change of file and at Stop all reach their file.
TEST_F(RecordThreadTest, ASlowEncoderLeavesEmptyPositionsAndLosesNoQueuedPicture)
{
    SlowEncodingRecorder recorder(m_netTime, {}, ProgramBanner());
    ASSERT_TRUE(recorder.Start(m_folder.Path(), 60, FALSE, m_desktop.NotifyWindow()));
    recorder.SetRecording(TRUE);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(m_folder.File(CRecordThread::kTempFileName)); }, 10000));
    const ULONGLONG opened = GetTickCount64();
    ASSERT_TRUE(WaitUntil([&] { return m_desktop.Count() >= 2; }, 120000)) << "the first file was announced";
    const ULONGLONG announced = GetTickCount64();
    ASSERT_TRUE(WaitUntil([&] { return recorder.PicturesQueued() >= 2; }, 10000));
    const ULONGLONG stopping = GetTickCount64();
    recorder.Stop();
    const auto files = Recordings(m_folder.Path());
    ASSERT_EQ(files.size(), 2u);
    const std::string first = PositionMap(files[0]), second = PositionMap(files[1]);
    EXPECT_EQ(first.size(), 600u);
    // 600 positions of 100 ms, not 600 pictures of 250 ms.
    EXPECT_LT(announced - opened, 60000u + 8000u);
    const auto pictures = [](const std::string& map) { return map.size() - std::count(map.begin(), map.end(), '.'); };
    EXPECT_GT(first.size() - pictures(first), 300u) << "most ticks found the encoder busy";
    // Taken at their ticks: waiting for the encoder would put pictures of later moments in these positions.
    const auto& late = recorder.m_stats.lateness;
    EXPECT_GE(5 * std::accumulate(late.begin(), late.begin() + 50, 0LL), 4 * recorder.m_stats.nQueued)
        << "four in five pictures were taken within 50 ms of their tick";
    EXPECT_EQ(static_cast<long long>(pictures(first) + pictures(second)), recorder.m_stats.nQueued);
    EXPECT_EQ(recorder.m_stats.nPictures, recorder.m_stats.nQueued);
    const auto total = static_cast<long long>(first.size() + second.size());
    EXPECT_EQ(total, recorder.m_stats.nQueued + recorder.m_stats.nDropped);
    EXPECT_GE(total, static_cast<long long>(stopping - opened) / 100 - 30) << "slack: two changes of file";
    EXPECT_EQ(first.substr(0, 1) + second.substr(0, 1), "KK");
    EXPECT_EQ(DecodeErrors(files[0]) + DecodeErrors(files[1]), "");
    // The health figures count what reached the files: of the pictures queued at Stop, the second was
    // written a whole encoding after it.
    EXPECT_GE(recorder.m_ullLastWriteTick.load(), stopping + SlowEncodingRecorder::kEncodeMs - 50);
    const std::string sizes = RunHost("for f in '" + UnixPath(files[0]) + "' '" + UnixPath(files[1]) +
                                      "'; do ffprobe -v error -select_streams v:0 -show_entries packet=size -of "
                                      "csv=p=0 \"$f\"; done | awk '{s += $1} END {print s}'");
    EXPECT_EQ(std::to_string(recorder.m_ullBytesWritten.load()) + "\n", sizes);
}

// Plain C behind the tick: the processor's code from a key frame on, within the file, no position lost,
// the seal saying where; the next session starts on plain C again.
TEST_F(RecordThreadTest, AnEncoderBehindTheTickTakesTheProcessorsPathWithinTheFile)
{
    SlowPlainCRecorder recorder(m_netTime, {}, ProgramBanner());
    ASSERT_TRUE(recorder.Start(m_folder.Path(), 60, FALSE, m_desktop.NotifyWindow()));
    recorder.SetRecording(TRUE);
    ASSERT_TRUE(WaitUntil([&] { return recorder.m_nProcessorPictures >= 50; }, 60000)) << "the path changed";
    recorder.SetRecording(FALSE);
    ASSERT_TRUE(WaitUntil([&] { return m_desktop.Count() >= 2; }, 10000)) << "the first session's file";
    recorder.SetRecording(TRUE);
    const std::wstring temp = m_folder.File(CRecordThread::kTempFileName);
    ASSERT_TRUE(WaitUntil([&] { return ReadBytes(temp).size() > 4096; }, 10000)) << "a picture reached the file";
    recorder.SetRecording(FALSE);
    recorder.Stop();

    const auto files = Recordings(m_folder.Path());
    const auto seals = RecordingSeals(m_folder.Path());
    ASSERT_EQ(files.size(), 2u);
    ASSERT_EQ(seals.size(), 2u);
    const std::string map = PositionMap(files[0]);
    EXPECT_EQ(seals[0].Get("encoder"), "plain_c_then_processor");
    const long long from = seals[0].GetNumber("processor_from");
    ASSERT_GT(from, 0);
    ASSERT_LT(from, static_cast<long long>(map.size()));
    EXPECT_EQ(seals[0].GetNumber("positions"), static_cast<long long>(map.size()));
    EXPECT_EQ(map.substr(0, 1) + map.substr(static_cast<std::size_t>(from), 1), "KK") << "a key frame at the switch";
    const auto pictures = [](const std::string& part) { return part.size() - std::count(part.begin(), part.end(), '.'); };
    // No picture lost at the switch: the one the encoder took next went to the next position.
    EXPECT_EQ(static_cast<long long>(pictures(map.substr(0, static_cast<std::size_t>(from)))),
              recorder.m_stats.nProcessorFromPicture);
    EXPECT_GT(recorder.m_stats.nStarved, 0) << "plain C held every buffer before the switch";
    const std::string before = map.substr(0, static_cast<std::size_t>(from)), after = map.substr(before.size());
    const auto emptyShare = [&](const std::string& part) { return 1.0 - 1.0 * pictures(part) / part.size(); };
    EXPECT_LT(2 * emptyShare(after), emptyShare(before)) << "the processor's path loses far fewer positions\n" << map;
    EXPECT_EQ(DecodeErrors(files[0]), "");

    const std::string second = PositionMap(files[1]);
    EXPECT_EQ(seals[1].Get("encoder").substr(0, 7), "plain_c") << "the next session starts on plain C";
    EXPECT_EQ(second.substr(0, 1), "K");
    EXPECT_EQ(DecodeErrors(files[1]), "");
    const auto total = static_cast<long long>(map.size() + second.size());
    EXPECT_EQ(total, recorder.m_stats.nQueued + recorder.m_stats.nDropped) << "every position reached its file";
    EXPECT_EQ(static_cast<long long>(pictures(map) + pictures(second)), recorder.m_stats.nPictures);
    EXPECT_EQ(recorder.m_stats.nPictures, recorder.m_stats.nQueued);
}
