#include <gtest/gtest.h>
#include <shlwapi.h>

#include <atomic>
#include <climits>
#include <future>
#include <optional>
#include <thread>
#include <tuple>

#include "app/LumenoApp.h"
#include "app/SingleInstance.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

// Storage folder, retention, auto-record, second time zone, name, platform, account, auto-clear.
using Record = std::tuple<std::wstring, int, int, int, std::wstring, std::wstring, std::wstring, int>;
auto Fields(CLumenoApp& a)
{
    return std::tie(a.m_strStoragePath, a.m_nRetentionMinutes, a.m_bAutoRecord, a.m_nTimeZone2, a.m_strName,
                    a.m_strPlatform, a.m_strAccount, a.m_bAutoClearOtherFiles);
}

// Loads into a fresh object after the platform has dropped its cached copy, so the disk is read.
Record Load(const std::wstring& ini)
{
    CLumenoApp app;
    app.PointProfileAt(ini.substr(0, ini.rfind(L'\\')));
    CProfileFile(ini).Flush();
    app.ExchangeSettings(FALSE);
    // The recording thread draws the loaded values from the first frame on.
    EXPECT_EQ(*app.GetOverlaySettings(),
              (OverlaySettings{app.m_nTimeZone2, app.m_strName, app.m_strPlatform, app.m_strAccount}));
    return Fields(app);
}

// Whatever file is there loads safely (values it holds, else defaults) and creates nothing; saving
// then leaves UTF-16 with a byte-order mark holding every key and whatever else the file held.
TEST(Settings, AnyFileLoadsSafelyAndSavingWritesEveryKeyAsUtf16KeepingTheRest)
{
    using Bytes = std::vector<std::uint8_t>;
    Bytes noise(16 * 1024);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * i * 2654435761u >> 13);
    const std::string text = "\x01garbage ]]] [[[ ===\r\n[\xE5\x9F\xBA\r\n=\r\n\xFF\xFF", ansi = "[old]\r\nkept=17\r\n",
                      utf8 = "\xEF\xBB\xBF[old]\r\nkept=\xE5\x80\xBC\r\n";
    // Without the file the first dialog offers one minute; a file without the key asks like a stored 0.
    const Record firstRun{L"", 1, 0, 0, L"", L"", L"", 0}, defaults{L"", 0, 0, 0, L"", L"", L"", 0};
    // A file of an older copy: the names are the format every copy shares; numbers are read up to
    // their first non-digit and saturate out of range.
    const auto handWritten = Utf16LeWithBom(
        L"[基础]\r\n存储位置=C:\\rec\r\n保留时长=99999999999\r\n自动清除其他文件=yes\r\n"
        L"[常规]\r\n自动开始录像=7 times\r\n[old]\r\nkept=值\r\n[视频附加内容]\r\n"
        L"时间2时区=-99999999999\r\n名称=甲\r\n平台=乙\r\n帐号=丙\r\n");
    const std::tuple<std::optional<Bytes>, Record, std::wstring> files[] = {
        {std::nullopt, firstRun, L""},
        {Bytes{}, defaults, L""},
        {noise, defaults, L""},
        {Bytes(text.begin(), text.end()), defaults, L""},
        {Bytes{0xFE, 0xFF, '[', 0, 0xFA, 0x57, ']', 0}, defaults, L""},  // the other byte order's mark
        {Bytes{0xFF, 0xFE, 0x00, 0xD8, '['}, defaults, L""},             // lone surrogate, odd length
        {Bytes(ansi.begin(), ansi.end()), defaults, L"17"},
        {Bytes(utf8.begin(), utf8.end()), defaults, L"值"},
        {handWritten, Record{L"C:\\rec", INT_MAX, 7, INT_MIN, L"甲", L"乙", L"丙", 0}, L"值"},
    };
    // No value at its default, and a name longer than the first read buffers.
    const Record sample{L"D:\\交易录像", 120, 1, -8, L"王" + std::wstring(300, L'名'), L"文华", L"8800-1", 1};
    for (const auto& [bytes, loaded, kept] : files) {
        SCOPED_TRACE(bytes ? static_cast<int>(bytes->size()) : -1);
        TempFolder folder;
        const std::wstring ini = folder.File(L"Lumeno.INI");
        if (bytes)
            WriteBytes(ini, *bytes);
        EXPECT_EQ(Load(ini), loaded);
        EXPECT_EQ(FileExists(ini), bytes.has_value());
        CLumenoApp app;
        app.PointProfileAt(folder.Path());
        Fields(app) = sample;
        app.ExchangeSettings(TRUE);
        EXPECT_NE(ReadUtf16File(ini), L"");
        EXPECT_EQ(Load(ini), sample);
        EXPECT_EQ(CProfileFile(ini).ReadString(L"old", L"kept"), kept);
        EXPECT_FALSE(FileExists(ini + L".new"));
    }
}

// The recording thread must only ever see whole published sets, and a set it holds must never change.
TEST(OverlaySettingsSnapshot, OnlyPublishingReplacesItAndAHeldOneNeverChanges)
{
    CLumenoApp app;
    const auto held = app.GetOverlaySettings();
    std::tie(app.m_nTimeZone2, app.m_strName, app.m_strPlatform, app.m_strAccount) =
        std::tuple(-5, L"甲", L"乙", L"丙");
    EXPECT_EQ(*app.GetOverlaySettings(), OverlaySettings{});
    app.PublishOverlaySettings();
    EXPECT_EQ(*app.GetOverlaySettings(), (OverlaySettings{-5, L"甲", L"乙", L"丙"}));
    EXPECT_EQ(*held, OverlaySettings{});
}

// The "Lumeno" Run value as its type and text; REG_NONE when there is none. Given one, stores it first.
std::pair<DWORD, std::wstring> RunValue(const std::optional<std::pair<DWORD, std::wstring>>& store = {})
{
    const auto key = CLumenoApp::kRunKey, name = CLumenoApp::kRunValueName;
    if (store) {
        SHDeleteValueW(HKEY_CURRENT_USER, key, name);
        if (store->first != REG_NONE)
            SHSetValueW(HKEY_CURRENT_USER, key, name, store->first, store->second.c_str(),
                        static_cast<DWORD>((store->second.size() + 1) * sizeof(wchar_t)));
    }
    wchar_t text[1024] = {};
    DWORD type = REG_NONE, size = sizeof(text) - sizeof(wchar_t);
    if (SHGetValueW(HKEY_CURRENT_USER, key, name, &type, text, &size) != ERROR_SUCCESS)
        return {REG_NONE, L""};
    return {type, text};
}

TEST(AutoRun, OnlyTheQuotedPathCountsAndEnableThenDisableLeaveItSetThenGone)
{
    const auto saved = RunValue();  // put back at the end: the prefix may hold a value of its own
    const std::wstring exe = L"C:\\Program Files\\Lumeno\\Lumeno.exe", quoted = L"\"" + exe + L"\"";
    const std::tuple<DWORD, std::wstring, BOOL> cases[] = {
        {REG_NONE, L"", FALSE},      {REG_SZ, L"\"c:\\PROGRAM FILES\\lumeno\\LUMENO.EXE\"", TRUE},
        {REG_SZ, exe, FALSE},        {REG_SZ, L"\"D:\\Old\\Lumeno.exe\"", FALSE},
        {REG_BINARY, quoted, FALSE}, {REG_SZ, quoted + L" /minimized", FALSE},
    };
    CLumenoApp app;
    app.SetExecutablePath(exe);
    for (const auto& [type, text, registered] : cases) {
        SCOPED_TRACE(Narrow(text));
        RunValue(std::pair{type, text});
        EXPECT_EQ(app.ApplyAutoRun(TRUE, FALSE), registered);
        EXPECT_TRUE(app.ApplyAutoRun(FALSE, TRUE));
        EXPECT_EQ(RunValue(), std::make_pair(DWORD{REG_SZ}, registered ? text : quoted));
        EXPECT_TRUE(app.ApplyAutoRun(FALSE, FALSE));
        EXPECT_EQ(RunValue().first, DWORD{REG_NONE});
        EXPECT_TRUE(app.ApplyAutoRun(FALSE, FALSE));  // nothing left to delete is no failure
    }
    wchar_t running[MAX_PATH] = {};
    EXPECT_GT(GetModuleFileNameW(nullptr, running, MAX_PATH), 0u);
    EXPECT_TRUE(CLumenoApp().ApplyAutoRun(FALSE, TRUE));  // no path given: the running program
    EXPECT_EQ(RunValue().second, L"\"" + std::wstring(running) + L"\"");
    RunValue(saved);
}

}  // namespace

// [证据]: no server key means the public authorities, an empty one none; lists split at ';'; roots
// beside the program; an interval below a minute is ten. Saving never writes these keys.
TEST(Settings, TimeStampKeys)
{
    TempFolder folder(L"stampini");
    const std::wstring ini = folder.File(L"Lumeno.INI");
    const struct {
        const wchar_t* section;  // the [证据] section's lines
        std::vector<std::wstring> urls;
        int interval;
        std::vector<std::wstring> roots;
    } cases[] = {
        {L"", {L"http://timestamp.digicert.com", L"http://timestamp.sectigo.com"}, 10, {}},
        {L"时间戳服务器=\r\n", {}, 10, {}},
        {L"时间戳服务器= http://a/ ;;\thttp://b:8080/x ;\r\n时间戳间隔=3\r\n时间戳根证书=ca.der; C:\\pki\\r.pem\r\n",
         {L"http://a/", L"http://b:8080/x"}, 3, {folder.Path() + L"\\ca.der", L"C:\\pki\\r.pem"}},
        {L"时间戳服务器=http://a/\r\n时间戳间隔=0\r\n", {L"http://a/"}, 10, {}},
        {L"时间戳间隔=-5\r\n", {L"http://timestamp.digicert.com", L"http://timestamp.sectigo.com"}, 10, {}},
    };
    for (const auto& c : cases) {
        WriteBytes(ini, Utf16LeWithBom(L"[基础]\r\n存储位置=C:\\rec\r\n[证据]\r\n" + std::wstring(c.section)));
        CLumenoApp app;
        app.PointProfileAt(folder.Path());
        CProfileFile(ini).Flush();
        app.ExchangeSettings(FALSE);
        const StampSettings settings = app.GetStampSettings();
        EXPECT_EQ(settings.urls, c.urls) << Narrow(c.section);
        EXPECT_EQ(settings.nIntervalMinutes, c.interval) << Narrow(c.section);
        EXPECT_EQ(settings.rootFiles, c.roots) << Narrow(c.section);
        app.ExchangeSettings(TRUE);
        CProfileFile(ini).Flush();
        EXPECT_EQ(ReadUtf16File(ini).find(L"时间戳服务器") != std::wstring::npos,
                  std::wstring(c.section).find(L"时间戳服务器") != std::wstring::npos)
            << "an absent key stays absent: " << Narrow(c.section);
    }
}

// A start while the first one is still ending (its thread here) waits for that end and then runs,
// instead of ending too and leaving nothing recording.
TEST(SingleInstance, ASecondStartWaitsForTheFirstToEndAndThenRuns)
{
    std::promise<void> end;
    std::atomic<int> firstClaimed{-1};
    std::thread first([&] {
        CSingleInstance running;
        firstClaimed = running.Claim() ? 1 : 0;
        end.get_future().wait();
    });
    ASSERT_TRUE(WaitUntil([&] { return firstClaimed != -1; }, 10000));
    ASSERT_EQ(firstClaimed, 1);
    CSingleInstance second;
    EXPECT_FALSE(second.Claim());
    EXPECT_FALSE(second.WaitForRunningToEnd(200)) << "the first one still runs";
    end.set_value();
    EXPECT_TRUE(second.WaitForRunningToEnd(20000));
    first.join();
    std::thread([] { EXPECT_FALSE(CSingleInstance().Claim()) << "the second one holds the name now"; }).join();
}
