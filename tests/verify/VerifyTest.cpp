#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "engine/OverlayClock.h"
#include "engine/RecordThread.h"
#include "framework/DcCache.h"
#include "framework/PointFont.h"
#include "res/resource.h"
#include "support/RecordingFiles.h"
#include "support/TestDesktop.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"
#include "timestore/RecordingName.h"
#include "timestore/SealLog.h"
#include "timestore/Sha256.h"
#include "tools/verify/FolderCheck.h"
#include "tools/verify/FolderExport.h"
#include "tools/verify/FrameDecoder.h"
#include "tools/verify/Moment.h"

using namespace testsupport;

namespace {

const char* const kServers[] = {"127.0.0.1"};

void CopyFolder(const std::wstring& from, const std::wstring& to)
{
    for (const std::wstring sub : {L"", L"\\LumenoData"}) {
        CreateDirectoryW((to + sub).c_str(), nullptr);
        std::wistringstream names(ListFolder(from + sub));
        for (std::wstring name; names >> name;)
            if (name.back() != L'\\') {
                ASSERT_TRUE(CopyFileW((from + sub + L"\\" + name).c_str(), (to + sub + L"\\" + name).c_str(), FALSE));
            }
    }
}

std::vector<std::string> LogLines(const std::wstring& folder)
{
    std::vector<std::string> lines;
    for (const CSealLog::Line& line : CSealLog::ReadLines(folder + L"\\LumenoData\\seals.log"))
        lines.push_back(line.text);
    return lines;
}

void WriteLogLines(const std::wstring& folder, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    WriteText(folder + L"\\LumenoData\\seals.log", text);
}

// LumenoVerify.exe beside this test program; its output and exit status.
std::string RunVerifier(const std::wstring& arguments, DWORD& exitCode)
{
    TempFolder out(L"verify-out");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    lumeno::UniqueFile output(CreateFileW(out.File(L"out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = self;
    exe = exe.substr(0, exe.rfind(L'\\')) + L"\\LumenoVerify.exe";
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = output.Get();
    PROCESS_INFORMATION pi{};
    exitCode = 999;
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return "cannot start " + Narrow(exe);
    const lumeno::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(pi.hProcess, 300000);
    GetExitCodeProcess(pi.hProcess, &exitCode);
    output.Reset();
    const auto bytes = ReadBytes(out.File(L"out.txt"));
    return std::string(bytes.begin(), bytes.end());
}

// Three real recordings of a few seconds each with pauses between them, made once by the recording
// thread on a plain grey screen; every test works on its own copy.
class VerifyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_session = std::make_unique<TempFolder>(L"session");
        TestDesktop desktop(RGB(200, 200, 200), WM_STORAGE_CHANGED);
        ASSERT_TRUE(desktop.Shown());
        CNetTime netTime{kServers, 12441};
        const auto overlay = std::make_shared<const OverlaySettings>(OverlaySettings{0, L"张三", L"MT5", L"88001234"});
        CRecordThread recorder(netTime, [&] { return overlay; });
        ASSERT_TRUE(recorder.Start(s_session->Path(), 60, FALSE, desktop.NotifyWindow()));
        for (int file = 0; file < 3; ++file) {
            recorder.SetRecording(TRUE);
            Sleep(4000);  // the length of the recording, not a wait for anything
            recorder.SetRecording(FALSE);
            ASSERT_TRUE(WaitUntil([&] { return desktop.Count() >= file + 2; }, 60000)) << "file " << file;
            Sleep(2500);  // time not recorded: a gap in the timeline
        }
        recorder.Stop();
        ASSERT_TRUE(recorder.m_storage.m_sealer.WaitIdle(60000));
    }
    static void TearDownTestSuite() { s_session.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_session);
        CopyFolder(s_session->Path(), m_copy.Path());
        m_check.Run();
        ASSERT_EQ(m_check.m_recordings.size(), 3u) << m_check.Report();
    }
    std::string Name(int i) const { return m_check.m_recordings.at(i).strName; }
    std::wstring File(int i) const { return m_copy.File(Widen(Name(i))); }
    CFolderCheck Recheck() const
    {
        CFolderCheck check(m_copy.Path());
        check.Run();
        return check;
    }

    static std::unique_ptr<TempFolder> s_session;
    AviLibrary m_avi;
    TempFolder m_copy{L"copy"};
    CFolderCheck m_check{m_copy.Path()};
};
std::unique_ptr<TempFolder> VerifyTest::s_session;

}  // namespace

// The untouched session: three intact files with two gaps between them, and the program agrees.
TEST_F(VerifyTest, ARealSessionVerifiesIntact)
{
    EXPECT_TRUE(m_check.Passed()) << m_check.Report();
    EXPECT_EQ(m_check.m_nRecords, 3);
    for (const auto& r : m_check.m_recordings) {
        EXPECT_EQ(r.verdict, CFolderCheck::Verdict::kIntact) << r.strName;
        EXPECT_NEAR(static_cast<double>(r.llPositions), 40.0, 15.0) << r.strName;
        EXPECT_EQ(r.seal.Get("overlay_name") + r.seal.Get("overlay_account"), "张三88001234");
        EXPECT_EQ(r.seal.Get("sha256"), RunHost("sha256sum '" + UnixPath(File(0)) + "' | cut -c1-64").substr(0, 64))
            << "first file's hash, as the host computes it";
        break;
    }
    DWORD exitCode = 0;
    const std::string out = RunVerifier(L"\"" + m_copy.Path() + L"\"", exitCode);
    EXPECT_EQ(exitCode, 0u) << out;
    EXPECT_NE(out.find("Result: PASS"), std::string::npos) << out;
    std::size_t gaps = 0;
    for (std::size_t at = out.find("  gap "); at != std::string::npos; at = out.find("  gap ", at + 1))
        ++gaps;
    EXPECT_EQ(gaps, 2u) << out;
}

// Each change to the folder or its log is found and named; only a removal the log explains passes.
TEST_F(VerifyTest, EveryTamperIsFoundAndNamed)
{
    const struct {
        const char* what;
        std::function<void()> tamper;
        bool passes;
        std::function<std::string()> expected;  // in the report
    } cases[] = {
        {"one byte flipped",
         [&] {
             auto bytes = ReadBytes(File(1));
             bytes[bytes.size() / 2] ^= 0x01;
             WriteBytes(File(1), bytes);
         },
         false, [&] { return "ALTERED               " + Name(1) + ": contents differ"; }},
        {"truncated",
         [&] {
             auto bytes = ReadBytes(File(1));
             bytes.resize(bytes.size() - 1000);
             WriteBytes(File(1), bytes);
         },
         false, [&] { return " (cut short)"; }},
        {"renamed to another minute",
         [&] {
             const CDateTime start = ParseRecordingStart(Widen(Name(1)));
             ASSERT_TRUE(MoveFileW(File(1).c_str(), m_copy.File(MakeVideoFileName(start.AddSeconds(60))).c_str()));
         },
         false, [&] { return "holds the sealed contents of " + Name(1) + " (renamed)"; }},
        {"record edited",
         [&] {
             auto lines = LogLines(m_copy.Path());
             const std::size_t at = lines[1].find("\tpositions=") + 11;
             lines[1][at] = lines[1][at] == '9' ? '8' : '9';
             WriteLogLines(m_copy.Path(), lines);
         },
         false, [&] { return "line 2 (seq 2, " + Name(1) + "): edited"; }},
        {"record edited and its own hash made again",
         [&] {
             auto lines = LogLines(m_copy.Path());
             CSealRecord record;
             (void)CSealRecord::Parse(lines[1], record);
             record.Set("overlay_name", "李四");
             lines[1] = record.Seal();
             WriteLogLines(m_copy.Path(), lines);
         },
         false, [&] { return "line 3 (seq 3, " + Name(2) + "): does not follow the record before it"; }},
        {"record's size made absurd, its own hash made again",
         [&] {
             auto lines = LogLines(m_copy.Path());
             CSealRecord record;
             (void)CSealRecord::Parse(lines[1], record);
             record.Set("size", "99999999999999999999999");
             lines[1] = record.Seal();
             WriteLogLines(m_copy.Path(), lines);
         },
         false, [&] { return "sealed 99999999999999999999999"; }},
        {"record deleted",
         [&] {
             auto lines = LogLines(m_copy.Path());
             lines.erase(lines.begin() + 1);
             WriteLogLines(m_copy.Path(), lines);
         },
         false, [&] { return "records seq 2 removed before line 2 (seq 3"; }},
        {"two records swapped",
         [&] {
             auto lines = LogLines(m_copy.Path());
             std::swap(lines[0], lines[1]);
             WriteLogLines(m_copy.Path(), lines);
         },
         false, [&] { return "line 1 (seq 2, " + Name(1) + "): out of order"; }},
        {"recording deleted by hand", [&] { ASSERT_TRUE(DeleteFileW(File(2).c_str())); }, false,
         [&] { return "MISSING, UNEXPLAINED  " + Name(2); }},
        {"recordings deleted by retention",
         [&] {
             CVideoStore store;  // a start with no retention time left: every recording goes
             store.m_strFolder = m_copy.Path();
             store.m_nRetainMinutes = 0;
             (void)store.ScanFolder();
             ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
             ASSERT_FALSE(FileExists(File(2)));
         },
         true, [&] { return "missing, explained    " + Name(2) + ": removed (retention)"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(m_copy.Path());
        CopyFolder(s_session->Path(), m_copy.Path());
        c.tamper();
        const CFolderCheck check = Recheck();
        const std::string report = check.Report();
        EXPECT_EQ(check.Passed(), c.passes) << report;
        EXPECT_NE(report.find(c.expected()), std::string::npos) << c.expected() << "\n" << report;
    }
    DWORD exitCode = 0;
    const std::string out = RunVerifier(L"\"" + m_copy.Path() + L"\"", exitCode);
    EXPECT_EQ(exitCode, 0u) << "after retention: " << out;
    ASSERT_TRUE(DeleteFileW((m_copy.Path() + L"\\LumenoData\\seals.log").c_str()));
    WriteText(m_copy.File(L"20240305-093100.AVI"), "planted");
    EXPECT_EQ((RunVerifier(L"\"" + m_copy.Path() + L"\"", exitCode), exitCode), 1u) << "no log, a planted file";
}

namespace {

// How far a cell of the picture is from the overlay clock drawn with the given text: the box's grey
// under white text in the overlay font, compared on the green channel.
long long ClockDistance(const lumeno::CImage& frame, const std::wstring& text)
{
    constexpr int kW = CRecordThread::kCellWidth, kH = CRecordThread::kCellHeight;
    const int x0 = frame.GetWidth() - 306, y0 = 30 + 52;  // the Beijing clock's cell below the 30-row banner
    lumeno::CImage cell;
    (void)cell.Create(kW, kH, 32);
    {
        const lumeno::CLentDc dc(cell.GetHBITMAP());
        const lumeno::UniqueBrush box(CreateSolidBrush(RGB(90, 90, 90)));
        const RECT all{0, 0, kW, kH};
        FillRect(dc.Get(), &all, box.Get());
        const lumeno::UniqueFont font = lumeno::CreatePointFont(110, L"宋体");
        const lumeno::SelectGuard selectFont(dc.Get(), font.Get());
        SetBkMode(dc.Get(), TRANSPARENT);
        SetTextColor(dc.Get(), RGB(255, 255, 255));
        RECT r = all;
        DrawTextW(dc.Get(), text.c_str(), -1, &r, DT_SINGLELINE);
        GdiFlush();
    }
    long long distance = 0;
    auto& decoded = const_cast<lumeno::CImage&>(frame);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            distance += std::abs(decoded.GetPixelAddress(x0 + x, y0 + y)[1] - cell.GetPixelAddress(x, y)[1]);
    return distance;
}

SYSTEMTIME UtcOfLocal(long long localMs)
{
    const ULONGLONG ticks = static_cast<ULONGLONG>(localMs) * 10000;
    FILETIME local{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, utc{};
    SYSTEMTIME st{};
    (void)LocalFileTimeToFileTime(&local, &utc);
    (void)FileTimeToSystemTime(&utc, &st);
    return st;
}

}  // namespace

// A moment inside a recording gives the picture of that moment: the same picture ffmpeg decodes at
// that position, with the overlay clock reading the asked second; a moment in a gap is not covered.
TEST_F(VerifyTest, AMomentGivesItsPictureAndAGapSaysNotCovered)
{
    const CFolderCheck::Recording& second = m_check.m_recordings[1];
    const long long moment = (second.llStartMs / 1000 + 2) * 1000;  // two whole seconds in
    const std::string when = FormatMoment(moment).substr(0, 19);
    long long position = -1;
    ASSERT_EQ(m_check.Find(moment, position), &second) << when;
    EXPECT_GE(second.llStartMs + position * 100, moment);
    EXPECT_LT(second.llStartMs + position * 100, moment + 100) << "the first picture at or after the moment";

    const std::wstring png = m_copy.File(L"moment.png");
    DWORD exitCode = 0;
    const std::string out =
        RunVerifier(L"\"" + m_copy.Path() + L"\" --at \"" + Widen(when) + L"\" --png \"" + png + L"\"", exitCode);
    EXPECT_EQ(exitCode, 0u) << out;
    EXPECT_NE(out.find(when + " is in " + second.strName + " at position " + std::to_string(position)),
              std::string::npos)
        << out;

    lumeno::CImage frame;
    CFrameDecoder::Result decoded;
    ASSERT_EQ(CFrameDecoder::Decode(File(1), position, frame, decoded), S_OK);
    const int w = frame.GetWidth(), h = frame.GetHeight();
    const std::vector<std::uint8_t> reference = DecodeFrameRgb(File(1), static_cast<int>(decoded.llShown));
    const std::string fromPng = RunHost("ffmpeg -v error -i '" + UnixPath(png) + "' -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(w) * h * 3);
    ASSERT_EQ(fromPng.size(), reference.size()) << "the PNG the program wrote";
    int difference = 0;
    double pngDifference = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t at = (static_cast<std::size_t>(y) * w + x) * 3 + c;
                const int mine = frame.GetPixelAddress(x, y)[2 - c];
                difference = std::max(difference, std::abs(mine - reference[at]));
                pngDifference += std::abs(mine - static_cast<std::uint8_t>(fromPng[at]));
            }
    // The two decoders differ only in their colour conversion (at most 2 levels); a picture of another
    // moment differs by far more wherever the clock's digits changed.
    EXPECT_LE(difference, 3) << "every pixel within codec noise of ffmpeg's picture";
    EXPECT_LT(pngDifference / reference.size(), 0.01) << "the PNG holds that picture";

    long long nearest[3];
    for (int k = -1; k <= 1; ++k)
        nearest[k + 1] = ClockDistance(frame, FormatOverlayClock(UtcOfLocal(moment + k * 1000LL), 8));
    EXPECT_LT(nearest[1], nearest[0]) << "the clock reads the asked second, not the one before";
    EXPECT_LT(nearest[1], nearest[2]) << "the clock reads the asked second, not the one after";

    const long long inGap = (second.EndMs() / 1000 + 1) * 1000;
    ASSERT_LT(inGap, m_check.m_recordings[2].llStartMs - 1000);
    EXPECT_EQ(m_check.Find(inGap, position), nullptr);
    const std::string gap = FormatMoment(inGap).substr(0, 19);
    const std::string said = RunVerifier(L"\"" + m_copy.Path() + L"\" --at \"" + Widen(gap) + L"\"", exitCode);
    EXPECT_EQ(exitCode, 3u);
    EXPECT_NE(said.find(gap + " is not covered"), std::string::npos) << said;
}

// A two-minute span from the second recording on: two recordings and the whole log go out, and the
// export checks on its own, the first recording counted as outside it.
TEST_F(VerifyTest, AnExportedSpanVerifiesOnItsOwn)
{
    const long long from = m_check.m_recordings[1].llStartMs / 1000 * 1000;
    TempFolder out(L"export");
    const std::wstring target = out.File(L"span");
    DWORD exitCode = 0;
    const std::string said =
        RunVerifier(L"\"" + m_copy.Path() + L"\" --export \"" + Widen(FormatMoment(from).substr(0, 19)) + L"\" \"" +
                        Widen(FormatMoment(from + 120000).substr(0, 19)) + L"\" \"" + target + L"\"",
                    exitCode);
    EXPECT_EQ(exitCode, 0u) << said;
    EXPECT_EQ(ListFolder(target), Widen(Name(1) + " " + Name(2)) + L" LumenoData\\ report.txt");
    CFolderCheck exported(target);
    exported.Run();
    EXPECT_TRUE(exported.Passed()) << exported.Report();
    ASSERT_EQ(exported.m_recordings.size(), 3u);
    EXPECT_EQ(exported.m_recordings[0].verdict, CFolderCheck::Verdict::kNotExported);
    EXPECT_EQ(ReadBytes(target + L"\\LumenoData\\seals.log"), ReadBytes(m_copy.Path() + L"\\LumenoData\\seals.log"));
    const std::vector<std::uint8_t> reportBytes = ReadBytes(target + L"\\report.txt");
    const std::string report(reportBytes.begin(), reportBytes.end());
    EXPECT_NE(report.find("This export's check:"), std::string::npos);

    // The export keeps its evidence: a change there is found like anywhere else.
    auto bytes = ReadBytes(target + L"\\" + Widen(Name(2)));
    bytes[bytes.size() / 3] ^= 0x40;
    WriteBytes(target + L"\\" + Widen(Name(2)), bytes);
    EXPECT_EQ((RunVerifier(L"\"" + target + L"\"", exitCode), exitCode), 1u);
}

// A crash while the last record was being written: that line stays cut, the next start continues
// the chain and seals the named file again, and the verifier reports a cut record, not tampering.
TEST_F(VerifyTest, ACutRecordIsContinuedAndNotTakenForTampering)
{
    const std::wstring log = m_copy.Path() + L"\\LumenoData\\seals.log";
    auto bytes = ReadBytes(log);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    bytes.resize(text.find("\tpositions=", lastLine) + 5);  // cut inside its fields
    WriteBytes(log, bytes);
    CFolderCheck cut = Recheck();
    EXPECT_FALSE(cut.Passed()) << "the file whose record was cut is not sealed yet";
    EXPECT_NE(cut.Report().find("note: line 3: last record cut short"), std::string::npos) << cut.Report();

    {
        CVideoStore store;  // the next start: a new recording is sealed
        store.m_strFolder = m_copy.Path();
        store.m_nRetainMinutes = 60;
        WriteRecording(m_copy.File(L"RECORDING.AVI"), 20);
        ASSERT_TRUE(store.CommitRecording(m_copy.File(L"RECORDING.AVI"),
                                          CDateTime::FromSystemTime(MakeSystemTime(2030, 1, 1, 12)), 20));
        ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
    }
    const CFolderCheck continued = Recheck();
    const std::string report = continued.Report();
    EXPECT_TRUE(continued.Passed()) << report;
    EXPECT_NE(report.find("note: line 3: record cut short (the program stopped while writing it); continued at line 4"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("  ! "), std::string::npos) << report;
    EXPECT_EQ(continued.m_recordings.size(), 4u);
    EXPECT_EQ(continued.m_recordings[2].seal.Get("restored"), "cut") << "sealed again from the cut line's name";
}
