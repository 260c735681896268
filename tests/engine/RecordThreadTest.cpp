#include "res/resource.h"
#include "engine/AviFileReader.h"
#include "engine/OverlayClock.h"
#include "engine/RecordThread.h"
#include "framework/PointFont.h"
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
std::uint32_t NtpSeconds(int y, int mo, int d, int h, int mi, int s)
{
    const SYSTEMTIME st = MakeSystemTime(y, mo, d, h, mi, s);
    const SYSTEMTIME epoch = MakeSystemTime(1900, 1, 1);
    FILETIME a, b;
    SystemTimeToFileTime(&st, &a);
    SystemTimeToFileTime(&epoch, &b);
    const auto ticks = [](FILETIME f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<std::uint32_t>((ticks(a) - ticks(b)) / 10000000ULL);
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

namespace {

// A pixel of a decoded top-down RGB24 frame, or of the recorder's bottom-up 32-bit frame buffer.
struct Rgb {
    int r, g, b;
};

class DecodedFrame {
public:
    DecodedFrame(std::vector<std::uint8_t> bytes, int w, int h) : m_bytes(std::move(bytes)), m_w(w), m_h(h) {}
    [[nodiscard]] bool Complete() const { return m_bytes.size() == static_cast<std::size_t>(m_w) * m_h * 3; }
    [[nodiscard]] Rgb At(int x, int y) const
    {
        const std::uint8_t* p = &m_bytes[(static_cast<std::size_t>(y) * m_w + x) * 3];
        return {p[0], p[1], p[2]};
    }

private:
    std::vector<std::uint8_t> m_bytes;
    int m_w, m_h;
};

Rgb ComposedAt(const CRecordThread& recorder, int x, int y)
{
    const int h = recorder.Height();
    const std::uint8_t* p = recorder.FrameBits() + (static_cast<std::size_t>(h - 1 - y) * recorder.Width() + x) * 4;
    return {p[2], p[1], p[0]};
}

DecodedFrame DecodeFrame(const std::wstring& file, int index, int w, int h)
{
    TempFolder out(L"frame");
    int rc = 0;
    const std::string log =
        RunHost("ffmpeg -nostdin -v error -i '" + UnixPath(file) + "' -vf 'select=eq(n\\," + std::to_string(index) +
                    ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + UnixPath(out.File(L"f.rgb")) + "'",
                &rc);
    EXPECT_EQ(rc, 0) << log;
    return DecodedFrame(ReadBytes(out.File(L"f.rgb")), w, h);
}

int Grey(Rgb c) { return (c.r + c.g + c.b) / 3; }

// Pixels of a text cell that stand out from the box's darkened background.
template <typename PixelAt>
int InkInCell(PixelAt at, int x, int y, int background)
{
    int ink = 0;
    for (int dy = 0; dy < CRecordThread::kCellHeight; ++dy)
        for (int dx = 0; dx < CRecordThread::kCellWidth; ++dx)
            if (std::abs(Grey(at(x + dx, y + dy)) - background) > 60)
                ++ink;
    return ink;
}

template <typename PixelAt>
int CountColour(PixelAt at, int x, int y, bool wantGreen)
{
    int n = 0;
    for (int dy = 0; dy < CRecordThread::kCellHeight; ++dy)
        for (int dx = 0; dx < CRecordThread::kCellWidth; ++dx) {
            const Rgb c = at(x + dx, y + dy);
            const bool green = c.g > 150 && c.r < 110 && c.b < 110;
            const bool red = c.r > 150 && c.g < 110 && c.b < 110;
            n += wantGreen ? green : red;
        }
    return n;
}

// The cell as GDI draws `text` in the overlay font on a uniform background: what the frame must hold.
std::vector<std::uint32_t> ReferenceCell(const std::wstring& text, int background, COLORREF colour)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = CRecordThread::kCellWidth;
    bi.bmiHeader.biHeight = -CRecordThread::kCellHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    lumeno::WindowDc screen(nullptr);
    lumeno::UniqueBitmap bmp(CreateDIBSection(screen.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    lumeno::UniqueMemoryDc dc(CreateCompatibleDC(screen.Get()));
    lumeno::SelectGuard selBmp(dc.Get(), bmp.Get());
    const lumeno::UniqueFont font = lumeno::CreatePointFont(110, L"宋体");
    lumeno::SelectGuard selFont(dc.Get(), font.Get());
    lumeno::UniqueBrush brush(CreateSolidBrush(RGB(background, background, background)));
    RECT rc{0, 0, CRecordThread::kCellWidth, CRecordThread::kCellHeight};
    FillRect(dc.Get(), &rc, brush.Get());
    SetBkMode(dc.Get(), TRANSPARENT);
    SetTextColor(dc.Get(), colour);
    DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE);
    GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    return std::vector<std::uint32_t>(p, p + CRecordThread::kCellWidth * CRecordThread::kCellHeight);
}

// Compares the first `width` columns of a cell: cells of one row overlap, and later texts may
// cover the right part of an earlier cell.
void ExpectCellShows(const CRecordThread& recorder, int x, int y, const std::wstring& text, int background,
                     int width = CRecordThread::kCellWidth)
{
    const auto reference = ReferenceCell(text, background, RGB(255, 255, 255));
    int differing = 0;
    for (int dy = 0; dy < CRecordThread::kCellHeight; ++dy)
        for (int dx = 0; dx < width; ++dx) {
            const Rgb c = ComposedAt(recorder, x + dx, y + dy);
            const std::uint32_t px = static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b);
            differing += px != (reference[static_cast<std::size_t>(dy) * CRecordThread::kCellWidth + dx] & 0xFFFFFF);
        }
    EXPECT_EQ(differing, 0) << "cell at " << x << "," << y << " does not show " << Narrow(text);
}

}  // namespace

// The overlay on frames decoded from a recording of a plain grey desktop.
TEST_F(RecordThreadTest, OverlayOnAPlainDesktop)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    StartTimeServer(NtpSeconds(2024, 6, 1, 12, 0, 0));
    SetOverlay(-5, L"张三", L"MT5", L"88001234");
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(m_folder.Path(), 60, FALSE, desktop.NotifyWindow()));
    recorder->SetRecording(TRUE);
    Sleep(1500);
    recorder->Stop();
    const auto names = Recordings(m_folder.Path());
    ASSERT_EQ(names.size(), 1u);

    const int w = recorder->Width(), h = recorder->Height();
    const int ih = recorder->Banner().GetHeight();
    ASSERT_EQ(ih, 30);
    const DecodedFrame frame = DecodeFrame(m_folder.File(names[0]), 5, w, h);
    ASSERT_TRUE(frame.Complete());
    auto at = [&](int x, int y) { return frame.At(x, y); };
    const int boxLeft = w - 380, boxTop = 24, boxBottom = 24 + ih + 72;  // bottom exclusive

    // Outside the box and away from the pointer nothing changes.
    int samples = 0, plain = 0;
    for (int y = 0; y < h; y += 23)
        for (int x = 0; x < w; x += 29) {
            const bool inBox = x >= boxLeft - 2 && y >= boxTop - 2 && y < boxBottom + 2;
            const bool nearPointer = x < 100 && y > h - 100;
            if (inBox || nearPointer)
                continue;
            ++samples;
            plain += std::abs(Grey(at(x, y)) - 200) <= 8;
        }
    EXPECT_GE(plain, samples * 99 / 100) << plain << " of " << samples;

    // The box darkens to 115/255: 200 becomes 90. Column W-379 holds no text or banner.
    for (int y = boxTop + 1; y < boxBottom - 1; y += 3)
        EXPECT_NEAR(Grey(at(w - 379, y)), 90, 10) << "y " << y;
    EXPECT_NEAR(Grey(at(w - 379, boxBottom + 2)), 200, 10);
    EXPECT_NEAR(Grey(at(boxLeft - 3, 60)), 200, 10);

    // The banner sits at (W-376, 24) at its own size.
    long long diff = 0;
    int n = 0;
    auto& banner = const_cast<lumeno::CImage&>(recorder->Banner());
    for (int y = 2; y < ih - 2; y += 2)
        for (int x = 2; x < banner.GetWidth() - 2; x += 3) {
            const std::uint8_t* p = banner.GetPixelAddress(x, y);
            const Rgb c = at(w - 376 + x, 24 + y);
            diff += std::abs(c.r - p[2]) + std::abs(c.g - p[1]) + std::abs(c.b - p[0]);
            n += 3;
        }
    EXPECT_LT(diff / n, 14) << "mean difference from the banner";

    // The state is green while the server answers; every cell holds text.
    EXPECT_GE(CountColour(at, w - 336, ih + 28, true), 15);
    const int cells[9][2] = {{w - 376, ih + 28}, {w - 336, ih + 28}, {w - 376, ih + 52},
                             {w - 306, ih + 52}, {w - 376, ih + 76}, {w - 306, ih + 76},
                             {w - 186, ih + 28}, {w - 186, ih + 52}, {w - 186, ih + 76}};
    for (const auto& cell : cells)
        EXPECT_GE(InkInCell(at, cell[0], cell[1], 90), 10) << "cell at " << cell[0] << "," << cell[1];

    // Once the server stops answering for more than 4.5 s the state turns red.
    m_server->Shutdown();
    SYSTEMTIME st;
    ASSERT_TRUE(WaitUntil([&] { return !m_netTime.GetNetTime(st); }, 10000));
    recorder->ComposeFrame();
    auto composed = [&](int x, int y) { return ComposedAt(*recorder, x, y); };
    EXPECT_GE(CountColour(composed, w - 336, ih + 28, false), 15);
    EXPECT_EQ(CountColour(composed, w - 336, ih + 28, true), 0);
    EXPECT_EQ(recorder->m_lastTexts[1], L"连接异常");
    EXPECT_EQ(recorder->m_lastTexts[6], L"姓名：张三");
    EXPECT_EQ(recorder->m_lastTexts[7], L"平台：MT5");
    EXPECT_EQ(recorder->m_lastTexts[8], L"帐号：88001234");
    for (int i : {6, 7, 8})
        ExpectCellShows(*recorder, cells[i][0], cells[i][1], recorder->m_lastTexts[i], 90);
}

TEST_F(RecordThreadTest, WithoutTheBannerTheBoxIs72PixelsHigh)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    recorder->m_imgBanner.Destroy();
    ASSERT_GT(recorder->ComposeFrame(), 0);
    const int w = recorder->Width();
    EXPECT_NEAR(Grey(ComposedAt(*recorder, w - 379, 24)), 90, 2);
    EXPECT_NEAR(Grey(ComposedAt(*recorder, w - 379, 24 + 71)), 90, 2);
    EXPECT_NEAR(Grey(ComposedAt(*recorder, w - 379, 24 + 72)), 200, 2);
    EXPECT_NEAR(Grey(ComposedAt(*recorder, w - 379, 23)), 200, 2);
    // The rows start at 28, 52 and 76.
    ExpectCellShows(*recorder, w - 376, 28, L"网络：", 90, 40);
    ExpectCellShows(*recorder, w - 376, 52, L"北京时间：", 90, 70);
    ExpectCellShows(*recorder, w - 186, 76, L"帐号：", 90);
}

TEST_F(RecordThreadTest, ClocksShowTheServersTimeAndRollOverAtMidnight)
{
    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    // 23:59:57 in Beijing: the UTC+8 clock passes midnight into the new year during the test.
    StartTimeServer(NtpSeconds(2024, 12, 31, 15, 59, 57));
    auto recorder = MakeRecorder();
    const int w = recorder->Width(), ih = recorder->Banner().GetHeight();

    bool sawOldYear = false, sawNewYear = false;
    for (int zone : {-5, 0, 8}) {
        SetOverlay(zone, L"", L"", L"");
        SYSTEMTIME before, after;
        ASSERT_TRUE(m_netTime.GetNetTime(before));
        recorder->ComposeFrame();
        ASSERT_TRUE(m_netTime.GetNetTime(after));
        const auto& texts = recorder->m_lastTexts;
        EXPECT_EQ(texts[0], L"网络：");
        EXPECT_EQ(texts[1], L"连接正常");
        EXPECT_EQ(texts[2], L"北京时间：");
        EXPECT_TRUE(texts[3] == FormatOverlayClock(before, 8) || texts[3] == FormatOverlayClock(after, 8))
            << Narrow(texts[3]);
        EXPECT_EQ(texts[4], FormatZoneLabel(zone));
        EXPECT_TRUE(texts[5] == FormatOverlayClock(before, zone) || texts[5] == FormatOverlayClock(after, zone))
            << Narrow(texts[5]);
        EXPECT_EQ(texts[6], L"姓名：");
        // The pixels are those texts, drawn in the overlay font.
        ExpectCellShows(*recorder, w - 306, ih + 52, texts[3], 90, 120);
        ExpectCellShows(*recorder, w - 376, ih + 76, texts[4], 90, 70);
        ExpectCellShows(*recorder, w - 306, ih + 76, texts[5], 90, 120);
        sawOldYear |= texts[3].rfind(L"12-31 23:59:5", 0) == 0;
    }
    EXPECT_EQ(FormatZoneLabel(-5), L"GMT-05h：");
    // The reading is the server's time plus what elapsed since it answered (about a second here).
    EXPECT_TRUE(sawOldYear);
    SetOverlay(8, L"", L"", L"");
    const ULONGLONG end = GetTickCount64() + 8000;
    while (!sawNewYear && GetTickCount64() < end) {
        recorder->ComposeFrame();
        sawNewYear = recorder->m_lastTexts[3].rfind(L"1-1 0:00:0", 0) == 0;
        EXPECT_EQ(recorder->m_lastTexts[3], recorder->m_lastTexts[5]) << "GMT+8 equals Beijing time";
        Sleep(200);
    }
    EXPECT_TRUE(sawNewYear) << Narrow(recorder->m_lastTexts[3]);
}

// A storage folder on a tiny file system that fills up while recording: nothing finished is lost,
// the thread never stops, and recording resumes on its own once there is space again.
TEST_F(RecordThreadTest, AFullDiskLosesNothingFinishedAndRecordingResumes)
{
    const std::wstring folder = m_folder.File(L"small");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::string mountPoint = UnixPath(folder);
    int rc = 0;
    const std::string mountLog = RunHost("mount -t tmpfs -o size=3m tmpfs '" + mountPoint + "'", &rc);
    if (rc != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << mountLog;
    struct Unmount {
        std::string point;
        ~Unmount() { (void)RunHost("umount -l '" + point + "'"); }
    } unmount{mountPoint};

    TestDesktop desktop(kPlain, WM_STORAGE_CHANGED);
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->Start(folder, 60, FALSE, desktop.NotifyWindow()));
    recorder->SetRecording(TRUE);
    Sleep(1500);
    recorder->SetRecording(FALSE);
    ASSERT_TRUE(WaitUntil([&] { return Recordings(folder).size() == 1; }, 10000));
    const std::wstring first = Recordings(folder)[0];
    const auto firstBytes = ReadBytes(folder + L"\\" + first);

    // Fill the file system to the last byte, then record into it.
    (void)RunHost("dd if=/dev/zero of='" + mountPoint + "/filler' bs=64k 2>/dev/null; sync");
    recorder->SetRecording(TRUE);
    Sleep(2500);
    ASSERT_EQ(WaitForSingleObject(recorder->m_hThread.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the thread is still running";

    // Space again: recording goes on by itself.
    ASSERT_EQ(RunHost("rm '" + mountPoint + "/filler' && echo ok"), "ok\n");
    ASSERT_TRUE(WaitUntil(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            return GetFileAttributesExW((folder + L"\\RECORDING.AVI").c_str(), GetFileExInfoStandard, &data) &&
                   data.nFileSizeLow > 20000;
        },
        8000))
        << "recording resumed into a new file";
    Sleep(1500);
    recorder->Stop();

    // The recording finished before the disk filled up is untouched and still plays.
    EXPECT_EQ(ReadBytes(folder + L"\\" + first), firstBytes);
    const auto names = Recordings(folder);
    ASSERT_GE(names.size(), 2u);
    // The last recording, made after space came back, is complete and decodes without error.
    const std::wstring last = folder + L"\\" + names.back();
    EXPECT_GE(Positions(last), 12);
    const std::string errors =
        RunHost("ffmpeg -nostdin -v error -xerror -i '" + UnixPath(last) + "' -f null - 2>&1", &rc);
    EXPECT_EQ(rc, 0) << errors;
    EXPECT_GE(Positions(folder + L"\\" + first), 12);
}
