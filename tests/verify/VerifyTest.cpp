#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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
#include "framework/Sha256.h"
#include "media/FrameDecoder.h"
#include "verify/FolderCheck.h"
#include "verify/Moment.h"

using namespace testsupport;

namespace {

const char* const kServers[] = {"127.0.0.1"};

std::string Sha256Of(const std::wstring& file)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    return CSha256::OfText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::wstring Upper(std::wstring text)
{
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string QuotedMoment(long long ms) { return " '" + FormatMoment(ms).substr(0, 19) + "'"; }

// How far a cell of the picture is from the overlay clock drawn with the given text: the box's grey
// under white text in the overlay font, compared on the green channel.
long long ClockDistance(lumeno::CImage& frame, const std::wstring& text)
{
    constexpr int kW = CRecordThread::kCellWidth, kH = CRecordThread::kCellHeight;
    const int x0 = frame.GetWidth() - 306, y0 = 30 + 52;  // the Beijing clock's cell below the 30-row banner
    lumeno::CImage cell;
    (void)cell.Create(kW, kH, 32);
    const lumeno::CLentDc dc(cell.GetHBITMAP());
    const lumeno::UniqueBrush box(CreateSolidBrush(RGB(90, 90, 90)));
    const lumeno::UniqueFont font = lumeno::CreatePointFont(110, L"宋体");
    const lumeno::SelectGuard selectFont(dc.Get(), font.Get());
    RECT all{0, 0, kW, kH};
    FillRect(dc.Get(), &all, box.Get());
    SetBkMode(dc.Get(), TRANSPARENT);
    SetTextColor(dc.Get(), RGB(255, 255, 255));
    DrawTextW(dc.Get(), text.c_str(), -1, &all, DT_SINGLELINE);
    GdiFlush();
    long long distance = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            distance += std::abs(frame.GetPixelAddress(x0 + x, y0 + y)[1] - cell.GetPixelAddress(x, y)[1]);
    return distance;
}

SYSTEMTIME UtcOfLocal(long long localMs)
{
    const ULONGLONG ticks = static_cast<ULONGLONG>(localMs) * 10000;
    FILETIME local{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, utc{};
    SYSTEMTIME st{};
    return LocalFileTimeToFileTime(&local, &utc) && FileTimeToSystemTime(&utc, &st), st;
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
        CRecordThread recorder(netTime, [&] { return overlay; }, ProgramBanner());
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
        CopyFolder(s_session->Path(), m_copy.Path());
        m_check.Run();
        ASSERT_EQ(m_check.m_recordings.size(), 3u) << m_check.Report();
    }
    // The record of a line of the copy's log.
    CSealRecord Record(long long line) const
    {
        CSealRecord record;
        const std::vector<CSealLog::Line> lines = CSealLog::ReadLines(m_log);
        EXPECT_EQ(CSealRecord::Parse(lines.at(static_cast<std::size_t>(line - 1)).text, record), CSealRecord::Parsed::kOk);
        return record;
    }
    std::string Name(int i) const { return m_check.m_recordings.at(i).strName; }
    std::wstring File(int i) const { return m_copy.File(Widen(Name(i))); }
    CFolderCheck Recheck(const std::wstring& folder = {}) const
    {
        CFolderCheck check(folder.empty() ? m_copy.Path() : folder);
        check.Run();
        return check;
    }
    static std::unique_ptr<TempFolder> s_session;
    AviLibrary m_avi;
    TempFolder m_copy{L"copy"};
    const std::wstring m_log = m_copy.Path() + L"\\LumenoData\\seals.log";
    CFolderCheck m_check{m_copy.Path()};
};
std::unique_ptr<TempFolder> VerifyTest::s_session;

}  // namespace

// Three intact files; a span exports two of them with the log and checks on its own; a moment gives
// ffmpeg's picture of that position, its overlay clock reading the asked second; a gap is not covered.
TEST_F(VerifyTest, ASessionVerifiesExportsAndAnswersMoments)
{
    EXPECT_TRUE(m_check.Passed()) << m_check.Report();
    EXPECT_EQ(m_check.m_nRecords, 3);
    for (const auto& r : m_check.m_recordings) {
        EXPECT_EQ(r.verdict, CFolderCheck::Verdict::kIntact) << r.strName;
        EXPECT_NEAR(static_cast<double>(r.llPositions), 40.0, 15.0) << r.strName;
        EXPECT_EQ(Record(r.llLine).Get("overlay_name") + Record(r.llLine).Get("overlay_account"), "张三88001234");
    }
    Verified run = RunVerifier(m_copy.Path());
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_TRUE(Holds(run.out, "Result: PASS"));
    const CFolderCheck::Recording& second = m_check.m_recordings[1];
    const long long from = second.llStartMs / 1000 * 1000, moment = from + 2000;  // two whole seconds in
    TempFolder out(L"export");
    const std::wstring target = out.File(L"span");
    run = RunVerifier(m_copy.Path(), " --export" + QuotedMoment(from) + QuotedMoment(from + 120000) + " '" + Narrow(target) +
                                    "'");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_EQ(ListFolder(target), Widen(Name(1) + " " + Name(2)) + L" LumenoData\\ report.txt");
    const CFolderCheck exported = Recheck(target);
    EXPECT_TRUE(exported.Passed()) << exported.Report();
    ASSERT_EQ(exported.m_recordings.size(), 3u);
    EXPECT_EQ(exported.m_recordings[0].verdict, CFolderCheck::Verdict::kNotExported);
    // The export's log is the source's and one record more that seals the span, chained to the source's last.
    const std::vector<std::uint8_t> log = ReadBytes(m_log), exportedLog = ReadBytes(target + L"\\LumenoData\\seals.log");
    ASSERT_GT(exportedLog.size(), log.size());
    EXPECT_TRUE(std::equal(log.begin(), log.end(), exportedLog.begin()));
    CSealRecord scope;
    ASSERT_EQ(CSealRecord::Parse(std::string(exportedLog.begin() + log.size(), exportedLog.end() - 1), scope),
              CSealRecord::Parsed::kOk);
    EXPECT_EQ(scope.Get("seq") + " " + scope.Get("kind") + " " + scope.Get("from") + " " + scope.Get("prev"),
              "4 export " + FormatMoment(from) + " " + m_check.m_strHead);
    EXPECT_TRUE(Holds(exported.Report(), "made from the chain up to seq 3 whose last record's hash is " + m_check.m_strHead));
    // Only into a new or empty folder outside the source, however its path is written.
    for (const std::wstring& refused : {target, m_copy.File(L"LumenoData\\out"), Upper(m_copy.Path()) + L"\\.\\x"})
        EXPECT_EQ(RunVerifier(m_copy.Path(), " --export" + QuotedMoment(from) + QuotedMoment(from + 1000) + " '" +
                                            Narrow(refused) + "'").code, 2) << Narrow(refused);
    EXPECT_FALSE(FileExists(m_copy.File(L"LumenoData\\out")));
    const std::vector<std::uint8_t> report = ReadBytes(target + L"\\report.txt");
    EXPECT_TRUE(Holds(std::string(report.begin(), report.end()), "This export's check:"));
    EditFile(target + L"\\" + Widen(Name(2)), [](auto& b) { b[b.size() / 3] ^= 0x40; });
    EXPECT_EQ(RunVerifier(target).code, 1);
    const std::string when = FormatMoment(moment).substr(0, 19);
    long long position = -1;
    ASSERT_EQ(m_check.Find(moment, position), &second) << when;
    EXPECT_GE(second.llStartMs + position * 100, moment);
    EXPECT_LT(second.llStartMs + position * 100, moment + 100) << "the first picture at or after the moment";
    const std::wstring png = out.File(L"moment.png");
    run = RunVerifier(m_copy.Path(), " --at" + QuotedMoment(moment) + " --png '" + Narrow(png) + "'");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_TRUE(Holds(run.out, when + " is in " + second.strName + " at position " + std::to_string(position)));
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
    for (std::size_t at = 0; at < reference.size(); ++at) {
        const int mine = frame.GetPixelAddress(at / 3 % w, at / 3 / w)[2 - at % 3];
        difference = std::max(difference, std::abs(mine - reference[at]));
        pngDifference += std::abs(mine - static_cast<std::uint8_t>(fromPng[at]));
    }
    // The two decoders differ only in their colour conversion (at most 2 levels); a picture of another
    // moment differs by far more wherever the clock's digits changed.
    EXPECT_LE(difference, 3) << "every pixel within codec noise of ffmpeg's picture";
    EXPECT_LT(pngDifference / reference.size(), 0.01) << "the PNG holds that picture";
    const long long asked = ClockDistance(frame, FormatOverlayClock(UtcOfLocal(moment), 8));
    EXPECT_LT(asked, ClockDistance(frame, FormatOverlayClock(UtcOfLocal(moment - 1000), 8))) << "not the second before";
    EXPECT_LT(asked, ClockDistance(frame, FormatOverlayClock(UtcOfLocal(moment + 1000), 8))) << "not the second after";
    const long long inGap = (second.EndMs() / 1000 + 1) * 1000;
    ASSERT_LT(inGap, m_check.m_recordings[2].llStartMs - 1000);
    EXPECT_EQ(m_check.Find(inGap, position), nullptr);
    run = RunVerifier(m_copy.Path(), " --at" + QuotedMoment(inGap));
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(Holds(run.out, FormatMoment(inGap).substr(0, 19) + " is not covered"));
}

// Each change to the folder or its log is found and named; only a removal the log explains passes.
TEST_F(VerifyTest, EveryTamperIsFoundAndNamed)
{
    const auto reseal = [](std::string& line, const char* key, const char* value) {
        CSealRecord record;  // one field changed and the record's own hash made again
        (void)CSealRecord::Parse(line, record), record.Set(key, value), line = record.Seal();
    };
    const struct {
        const char* what;
        std::function<void(std::vector<std::string>& logLines)> tamper;
        bool passes;
        std::string expected;  // in the report
    } cases[] = {
        {"one byte flipped", [&](auto&) { EditFile(File(1), [](auto& b) { b[b.size() / 2] ^= 0x01; }); }, false,
         "ALTERED               " + Name(1) + ": contents differ"},
        {"truncated", [&](auto&) { EditFile(File(1), [](auto& b) { b.resize(b.size() - 1000); }); }, false,
         " (cut short)"},
        {"renamed to another minute",
         [&](auto&) {
             const CDateTime start = ParseRecordingStart(Widen(Name(1)));
             ASSERT_TRUE(MoveFileW(File(1).c_str(), m_copy.File(MakeVideoFileName(start.AddSeconds(60))).c_str()));
         },
         false, "holds the sealed contents of " + Name(1) + " (renamed)"},
        {"record edited", [](auto& l) { auto& c = l[1][l[1].find("\tpositions=") + 11]; c = c == '9' ? '8' : '9'; },
         false, "line 2 (seq 2, " + Name(1) + "): edited"},
        {"record edited and its own hash made again", [&](auto& lines) { reseal(lines[1], "overlay_name", "李四"); },
         false, "line 3 (seq 3, " + Name(2) + "): does not follow the record before it"},
        {"record's size made absurd, its own hash made again",
         [&](auto& lines) { reseal(lines[1], "size", "99999999999999999999999"); }, false,
         "line 2: not a seal record (the value of size is not of its kind)"},
        {"recording altered, its record rewritten to match with its old hash kept in an added field",
         [&](auto& lines) {
             EditFile(File(1), [](auto& b) { b[b.size() / 2] ^= 0x01; });
             const std::string old = lines[1].substr(lines[1].size() - 64);
             reseal(lines[1], "sha256", Sha256Of(File(1)).c_str());
             lines[1] = lines[1].substr(0, lines[1].size() - 70) + "\thash=" + old + "\tx=1";
             lines[1] += "\thash=" + CSha256::OfText(lines[1]);
         },
         false, "line 2: not a seal record (it does not start with seq and end with prev)"},
        {"every recording deleted, a file of the export's scope planted",
         [&](auto&) {
             for (int i = 0; i < 3; ++i)
                 ASSERT_TRUE(DeleteFileW(File(i).c_str()));
             WriteText(m_copy.File(L"LumenoData\\export.txt"), "from=2000-01-01 00:00:00\tto=2000-01-01 00:00:01");
         },
         false, "MISSING, UNEXPLAINED  " + Name(0)},
        {"a record naming a file outside the folder", [&](auto& lines) { reseal(lines[1], "name", "..\\x.AVI"); },
         false, "line 2: not a seal record (the value of name is not of its kind)"},
        {"a name made to print a report line of its own",
         [&](auto& lines) { reseal(lines[2], "name", "x.AVI\n  intact    y.AVI\nResult: PASS"); }, false,
         "line 3: not a seal record (the value of name is not of its kind)"},
        {"an empty log, the recordings there", [&](auto&) { WriteText(m_log, ""); }, false,
         "Result: FAIL (the seal log is empty: nothing in this folder is sealed)"},
        {"record deleted", [](auto& lines) { lines.erase(lines.begin() + 1); }, false,
         "records seq 2 are not before line 2 (seq 3"},
        {"two records swapped", [](auto& lines) { std::swap(lines[0], lines[1]); }, false,
         "line 2 (seq 1, " + Name(0) + "): out of order after seq 2"},
        {"recording deleted by hand", [&](auto&) { ASSERT_TRUE(DeleteFileW(File(2).c_str())); }, false,
         "MISSING, UNEXPLAINED  " + Name(2)},
        {"recordings deleted by retention",
         [&](auto&) {
             CVideoStore store;  // a start with no retention time left: every recording goes
             store.m_strFolder = m_copy.Path();
             store.m_nRetainMinutes = 0;
             (void)store.ScanFolder();
             ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
             ASSERT_FALSE(FileExists(File(2)));
         },
         true, "missing, explained    " + Name(2) + ": removed (retention)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(m_copy.Path());
        CopyFolder(s_session->Path(), m_copy.Path());
        std::vector<std::string> lines;
        for (const CSealLog::Line& line : CSealLog::ReadLines(m_log))
            lines.push_back(line.text);
        const std::vector<std::string> before = lines;
        c.tamper(lines);
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        if (lines != before)
            WriteText(m_log, text);
        const CFolderCheck check = Recheck();
        EXPECT_EQ(check.Passed(), c.passes) << check.Report();
        EXPECT_TRUE(Holds(check.Report(), c.expected));
        EXPECT_EQ(RunVerifier(m_copy.Path()).code, c.passes ? 0 : 1) << "the program's exit status";
    }
    // The exit status is the folder's verdict whichever way the program runs; its own words say why.
    RemoveTree(m_copy.Path());
    CopyFolder(s_session->Path(), m_copy.Path());
    EditFile(File(0), [](auto& b) { b[b.size() / 2] ^= 0x01; });
    const long long inSecond = m_check.m_recordings[1].llStartMs + 1000;
    EXPECT_EQ(RunVerifier(m_copy.Path(), " --at" + QuotedMoment(inSecond)).code, 1) << "another file altered";
    EXPECT_EQ(RunVerifier(m_copy.Path(), " --at" + QuotedMoment(inSecond - 100000)).code, 1) << "and nothing covered";
    TempFolder out(L"export");
    EXPECT_EQ(RunVerifier(m_copy.Path(), " --export" + QuotedMoment(inSecond) + QuotedMoment(inSecond + 60000) + " '" +
                                         Narrow(out.File(L"span")) + "'")
                  .code,
              1);
    ASSERT_TRUE(DeleteFileW(m_log.c_str()));
    for (const auto& [folder, words] : {std::pair{m_copy.Path(), "Result: FAIL (no seal log: nothing in this folder is sealed)"},
                                        std::pair{m_copy.File(L"none"), "There is no such folder."}}) {
        const Verified run = RunVerifier(folder);
        EXPECT_EQ(run.code, 1) << run.out;
        EXPECT_TRUE(Holds(run.out, words));
    }
}

// A crash while the last record was being written: that line stays cut, the next start continues
// the chain and seals the named file again, and the verifier reports a cut record, not tampering.
TEST_F(VerifyTest, ACutRecordIsContinuedAndNotTakenForTampering)
{
    auto bytes = ReadBytes(m_log);
    const std::string text(bytes.begin(), bytes.end());
    bytes.resize(text.find("\tpositions=", text.rfind('\n', text.size() - 2) + 1) + 5);  // inside its last line
    WriteBytes(m_log, bytes);
    const CFolderCheck cut = Recheck();
    EXPECT_FALSE(cut.Passed()) << "the file whose record was cut is not sealed yet";
    EXPECT_TRUE(Holds(cut.Report(), "note: line 3: last record cut short"));
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
    EXPECT_TRUE(Holds(report, "note: line 3: record cut short (the program stopped while writing it); "
                              "continued at line 4"));
    EXPECT_EQ(report.find("  ! "), std::string::npos) << report;
    EXPECT_EQ(continued.m_recordings.size(), 4u);
    EXPECT_EQ(Record(4).Get("kind") + " " + Record(4).Get("cut_line"), "resumed 3");
    EXPECT_EQ(Record(continued.m_recordings[2].llLine).Get("restored"), "cut") << "sealed again from the cut line's name";
}
