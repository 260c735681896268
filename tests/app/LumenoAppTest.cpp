#include "app/LumenoApp.h"

#include "framework/ProfileFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::ReadUtf16File;
using testsupport::Utf16LeWithBom;
using testsupport::WriteBytes;

// Readable failure messages instead of raw bytes.
void PrintTo(const OverlaySettings& s, std::ostream* os)
{
    *os << "{" << s.nTimeZone2 << ", " << testsupport::Narrow(s.strName) << ", " << testsupport::Narrow(s.strPlatform)
        << ", " << testsupport::Narrow(s.strAccount) << "}";
}

namespace {

struct Record {
    std::wstring strStoragePath;
    int nRetentionMinutes;
    int bAutoRecord;
    int nTimeZone2;
    std::wstring strName, strPlatform, strAccount;
    int bAutoClearOtherFiles;
    bool operator==(const Record&) const = default;
};

Record RecordOf(const CLumenoApp& app)
{
    return {app.m_strStoragePath, app.m_nRetentionMinutes, app.m_bAutoRecord, app.m_nTimeZone2,
            app.m_strName,        app.m_strPlatform,       app.m_strAccount,  app.m_bAutoClearOtherFiles};
}

void Assign(CLumenoApp& app, const Record& record)
{
    app.m_strStoragePath = record.strStoragePath;
    app.m_nRetentionMinutes = record.nRetentionMinutes;
    app.m_bAutoRecord = record.bAutoRecord;
    app.m_nTimeZone2 = record.nTimeZone2;
    app.m_strName = record.strName;
    app.m_strPlatform = record.strPlatform;
    app.m_strAccount = record.strAccount;
    app.m_bAutoClearOtherFiles = record.bAutoClearOtherFiles;
}

const Record kSample{L"D:\\交易录像", 120, 1, 8, L"王小明", L"文华财经", L"8800-123", 1};

// A fresh application object loading the file from disk (not from the platform's cache).
Record LoadFresh(const std::wstring& dir)
{
    CLumenoApp app;
    app.PointProfileAt(dir);
    CProfileFile(app.GetProfilePath()).Flush();
    app.ExchangeSettings(FALSE);
    return RecordOf(app);
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override { m_app.PointProfileAt(m_folder.Path()); }
    std::wstring IniPath() const { return m_folder.File(L"Lumeno.INI"); }

    TempFolder m_folder{L"settings"};
    CLumenoApp m_app;
};

TEST_F(Settings, ProfileIsLumenoIniInTheGivenDirectory)
{
    EXPECT_EQ(m_app.m_strAppDir, m_folder.Path());
    EXPECT_EQ(m_app.GetProfilePath(), IniPath());
    m_app.PointProfileAt(m_folder.Path() + L"\\");
    EXPECT_EQ(m_app.GetProfilePath(), IniPath());
}

TEST_F(Settings, ConstructedEmptyAndNoFileGivesEveryDefault)
{
    const Record zero{L"", 0, 0, 0, L"", L"", L"", 0};
    EXPECT_EQ(RecordOf(CLumenoApp()), zero);
    EXPECT_EQ(m_app.ExchangeSettings(FALSE), 0);
    EXPECT_EQ(RecordOf(m_app), (Record{L"", 1, 0, 0, L"", L"", L"", 0}));
    EXPECT_FALSE(FileExists(IniPath()));

    // The delete-other-files flag keeps its current value when its key is missing.
    m_app.m_bAutoClearOtherFiles = 1;
    m_app.ExchangeSettings(FALSE);
    EXPECT_EQ(m_app.m_bAutoClearOtherFiles, 1);
}

TEST_F(Settings, EverythingRoundTripsThroughTheFile)
{
    Assign(m_app, kSample);
    EXPECT_EQ(m_app.ExchangeSettings(TRUE), 0);
    EXPECT_EQ(LoadFresh(m_folder.Path()), kSample);

    const std::wstring text = ReadUtf16File(IniPath());
    ASSERT_FALSE(text.empty()) << "not UTF-16LE with a byte-order mark";
    EXPECT_NE(text.find(L"[基础]"), std::wstring::npos);
    EXPECT_NE(text.find(L"[常规]"), std::wstring::npos);
    EXPECT_NE(text.find(L"[视频附加内容]"), std::wstring::npos);
    const std::wstring keysInOrder[] = {L"存储位置=D:\\交易录像", L"保留时长=120", L"自动清除其他文件=1",
                                        L"自动开始录像=1",        L"时间2时区=8",  L"名称=王小明",
                                        L"平台=文华财经",         L"帐号=8800-123"};
    size_t last = 0;
    for (const auto& line : keysInOrder) {
        const size_t at = text.find(line);
        ASSERT_NE(at, std::wstring::npos) << testsupport::Narrow(line);
        EXPECT_GT(at, last) << testsupport::Narrow(line);
        last = at;
    }
}

TEST_F(Settings, StoredValuesLoadWithoutCorrection)
{
    WriteBytes(IniPath(), Utf16LeWithBom(L"[基础]\r\n存储位置=C:\\rec\r\n保留时长=0\r\n自动清除其他文件=yes\r\n"
                                         L"[常规]\r\n自动开始录像=7\r\n"
                                         L"[视频附加内容]\r\n时间2时区=-8\r\n名称=\r\n"));
    m_app.ExchangeSettings(FALSE);
    EXPECT_EQ(RecordOf(m_app), (Record{L"C:\\rec", 0, 7, -8, L"", L"", L"", 0}));

    m_app.ExchangeSettings(TRUE);
    const std::wstring text = ReadUtf16File(IniPath());
    EXPECT_NE(text.find(L"时间2时区=-8\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"保留时长=0\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"自动清除其他文件=0\r\n"), std::wstring::npos);
    EXPECT_EQ(LoadFresh(m_folder.Path()), RecordOf(m_app));
}

TEST_F(Settings, SavingAfterChangingOnlyTheAccountRewritesAllEightKeys)
{
    Assign(m_app, kSample);
    m_app.ExchangeSettings(TRUE);
    // Someone else empties the file behind the program's back; the record is the only copy consulted.
    CProfileFile(IniPath()).Flush();
    WriteBytes(IniPath(), Utf16LeWithBom(L"; emptied\r\n"));
    m_app.m_strAccount = L"9900-456";
    m_app.ExchangeSettings(TRUE);
    Record expected = kSample;
    expected.strAccount = L"9900-456";
    EXPECT_EQ(LoadFresh(m_folder.Path()), expected);
}

TEST_F(Settings, ReadOnlyFileFailsQuietlyAndTheRecordKeepsTheNewValues)
{
    Assign(m_app, kSample);
    m_app.ExchangeSettings(TRUE);
    const auto before = ReadBytes(IniPath());
    ASSERT_TRUE(SetFileAttributesW(IniPath().c_str(), FILE_ATTRIBUTE_READONLY));

    m_app.m_strName = L"赵六";
    m_app.m_nRetentionMinutes = 5;
    EXPECT_EQ(m_app.ExchangeSettings(TRUE), 0);
    EXPECT_EQ(m_app.m_strName, L"赵六");
    EXPECT_EQ(m_app.m_nRetentionMinutes, 5);
    EXPECT_EQ(m_app.GetOverlaySettings()->strName, L"赵六");  // takes effect from the next frame all the same
    EXPECT_EQ(ReadBytes(IniPath()), before);
    EXPECT_EQ(LoadFresh(m_folder.Path()), kSample);
    ASSERT_TRUE(SetFileAttributesW(IniPath().c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST_F(Settings, GarbageOrBinaryFileLoadsDefaultsAndIsRepairedBySaving)
{
    std::mt19937 random(17);
    std::vector<std::uint8_t> binary(16 * 1024);
    for (auto& byte : binary)
        byte = static_cast<std::uint8_t>(random());
    const std::string text = "\x01\x02garbage ]]] [[[ ===\r\n[\xE5\x9F\xBA\r\n=\r\n\xFF\xFF\xFF";
    for (const auto& input : {binary, std::vector<std::uint8_t>(text.begin(), text.end())}) {
        WriteBytes(IniPath(), input);
        CProfileFile(IniPath()).Flush();
        CLumenoApp app;
        app.PointProfileAt(m_folder.Path());
        app.ExchangeSettings(FALSE);
        EXPECT_EQ(RecordOf(app), (Record{L"", 1, 0, 0, L"", L"", L"", 0}));
        Assign(app, kSample);
        app.ExchangeSettings(TRUE);
        EXPECT_EQ(RecordOf(app), kSample);
        EXPECT_EQ(LoadFresh(m_folder.Path()), kSample);
    }
}

TEST_F(Settings, TenThousandCharacterNameRoundTrips)
{
    std::wstring name;
    for (int i = 0; i < 10000; ++i)
        name.push_back(i % 3 == 0 ? L'名' : static_cast<wchar_t>(L'A' + i % 26));
    Assign(m_app, kSample);
    m_app.m_strName = name;
    m_app.ExchangeSettings(TRUE);
    Record expected = kSample;
    expected.strName = name;
    const Record loaded = LoadFresh(m_folder.Path());
    EXPECT_EQ(loaded.strName.size(), 10000u);
    EXPECT_TRUE(loaded == expected);
}

TEST(OverlayPublication, SnapshotChangesOnlyWhenPublished)
{
    CLumenoApp app;
    ASSERT_NE(app.GetOverlaySettings(), nullptr);
    EXPECT_EQ(*app.GetOverlaySettings(), OverlaySettings{});

    app.m_nTimeZone2 = -5;
    app.m_strName = L"甲";
    app.m_strPlatform = L"乙";
    app.m_strAccount = L"丙";
    EXPECT_EQ(*app.GetOverlaySettings(), OverlaySettings{});
    const auto held = app.GetOverlaySettings();
    app.PublishOverlaySettings();
    EXPECT_EQ(*app.GetOverlaySettings(), (OverlaySettings{-5, L"甲", L"乙", L"丙"}));
    EXPECT_EQ(*held, OverlaySettings{});  // a snapshot a frame is drawing from never changes under it
}

TEST(OverlayPublication, LoadingPublishesTheLoadedValues)
{
    TempFolder folder;
    WriteBytes(folder.File(L"Lumeno.INI"),
               Utf16LeWithBom(L"[视频附加内容]\r\n时间2时区=-3\r\n名称=甲\r\n平台=乙\r\n帐号=丙\r\n"));
    CLumenoApp app;
    app.PointProfileAt(folder.Path());
    app.ExchangeSettings(FALSE);
    EXPECT_EQ(*app.GetOverlaySettings(), (OverlaySettings{-3, L"甲", L"乙", L"丙"}));
}

// Generation i of the overlay; the lengths vary so that a torn copy would show.
OverlaySettings Generation(int i)
{
    const std::wstring tag = std::to_wstring(i);
    return {i % 26 - 12, L"name" + tag + std::wstring(static_cast<size_t>(i % 40), L'名'),
            L"platform" + tag + std::wstring(static_cast<size_t>(i % 13), L'p'),
            tag + std::wstring(static_cast<size_t>(i % 29), L'#')};
}

TEST(OverlayPublication, ReaderAlwaysSeesACompleteOldOrNewSet)
{
    constexpr int kReplacements = 100000;
    CLumenoApp app;
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 1; i <= kReplacements; ++i) {
            const OverlaySettings next = Generation(i);
            app.m_nTimeZone2 = next.nTimeZone2;
            app.m_strName = next.strName;
            app.m_strPlatform = next.strPlatform;
            app.m_strAccount = next.strAccount;
            app.PublishOverlaySettings();
        }
        writerDone = true;
    });

    long reads = 0;
    long torn = 0;
    int lastGeneration = 0;
    bool wentBack = false;
    for (;;) {
        const bool finished = writerDone.load();
        const auto snapshot = app.GetOverlaySettings();
        ++reads;
        const int generation = snapshot->strAccount.empty() ? 0 : std::stoi(snapshot->strAccount);
        const OverlaySettings expected = generation == 0 ? OverlaySettings{} : Generation(generation);
        if (!(*snapshot == expected))
            ++torn;
        if (generation < lastGeneration)
            wentBack = true;
        lastGeneration = generation;
        if (finished)
            break;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(wentBack);
    EXPECT_EQ(lastGeneration, kReplacements);
    EXPECT_GT(reads, 1);
    EXPECT_EQ(*app.GetOverlaySettings(), Generation(kReplacements));
}

// Tests of the Run value put back whatever "Lumeno" held before them.
class AutoRun : public ::testing::Test {
protected:
    static constexpr const wchar_t* kExe = L"C:\\Program Files\\Lumeno\\Lumeno.exe";

    void SetUp() override
    {
        DWORD size = 0;
        if (SHGetValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName, &m_savedType, nullptr,
                        &size) == ERROR_SUCCESS) {
            m_saved.resize(size);
            m_hadValue = SHGetValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName, &m_savedType,
                                     m_saved.data(), &size) == ERROR_SUCCESS;
        }
        SHDeleteValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName);
        m_app.SetExecutablePath(kExe);
    }
    void TearDown() override
    {
        if (m_hadValue)
            SHSetValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName, m_savedType, m_saved.data(),
                        static_cast<DWORD>(m_saved.size()));
        else
            SHDeleteValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName);
    }

    static void Store(DWORD type, const std::wstring& text)
    {
        ASSERT_EQ(SHSetValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName, type, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    // The stored value's type and raw bytes; type REG_NONE when there is none.
    static std::pair<DWORD, std::vector<std::uint8_t>> Stored()
    {
        std::vector<std::uint8_t> bytes(4096);
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(bytes.size());
        if (SHGetValueW(HKEY_CURRENT_USER, CLumenoApp::kRunKey, CLumenoApp::kRunValueName, &type, bytes.data(),
                        &size) != ERROR_SUCCESS)
            return {REG_NONE, {}};
        bytes.resize(size);
        return {type, bytes};
    }
    static std::vector<std::uint8_t> BytesOf(const std::wstring& text)
    {
        std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(wchar_t));
        memcpy(bytes.data(), text.c_str(), bytes.size());
        return bytes;
    }

    CLumenoApp m_app;
    bool m_hadValue = false;
    DWORD m_savedType = REG_NONE;
    std::vector<std::uint8_t> m_saved;
};

TEST_F(AutoRun, EnableWritesTheQuotedPathAndDisableDeletesIt)
{
    EXPECT_FALSE(m_app.ApplyAutoRun(TRUE, FALSE));
    EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, TRUE));
    const auto [type, bytes] = Stored();
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, BytesOf(L"\"C:\\Program Files\\Lumeno\\Lumeno.exe\""));  // null included
    EXPECT_TRUE(m_app.ApplyAutoRun(TRUE, TRUE));
    EXPECT_TRUE(m_app.ApplyAutoRun(TRUE, FALSE));  // the query ignores bEnable

    EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, FALSE));
    EXPECT_EQ(Stored().first, static_cast<DWORD>(REG_NONE));
    EXPECT_FALSE(m_app.ApplyAutoRun(TRUE, FALSE));
    EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, FALSE));  // disabling with no value succeeds
}

TEST_F(AutoRun, PathInOtherLetterCaseCountsAsRegisteredAndEnablingWritesNothing)
{
    const std::wstring otherCase = L"\"c:\\PROGRAM FILES\\lumeno\\LUMENO.EXE\"";
    Store(REG_SZ, otherCase);
    EXPECT_TRUE(m_app.ApplyAutoRun(TRUE, FALSE));
    EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, TRUE));
    EXPECT_EQ(Stored().second, BytesOf(otherCase));
}

TEST_F(AutoRun, OtherPathsTypesAndUnquotedPathsCountAsAbsent)
{
    const std::wstring exact = L"\"C:\\Program Files\\Lumeno\\Lumeno.exe\"";
    const std::pair<DWORD, std::wstring> foreign[] = {
        {REG_SZ, L"\"D:\\Old\\Lumeno.exe\""},
        {REG_SZ, L"C:\\Program Files\\Lumeno\\Lumeno.exe"},
        {REG_SZ, exact + L" /minimized"},
        {REG_BINARY, exact},  // the same text under another type
    };
    for (const auto& [type, text] : foreign) {
        Store(type, text);
        EXPECT_FALSE(m_app.ApplyAutoRun(TRUE, FALSE)) << testsupport::Narrow(text);
        EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, TRUE));
        EXPECT_EQ(Stored(), std::make_pair(static_cast<DWORD>(REG_SZ), BytesOf(exact)));

        Store(type, text);
        EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, FALSE));
        EXPECT_EQ(Stored().first, static_cast<DWORD>(REG_NONE));
    }
}

TEST_F(AutoRun, ValueLongerThanTheBufferCountsAsAbsent)
{
    const std::wstring exact = L"\"C:\\Program Files\\Lumeno\\Lumeno.exe\"";
    // 260 characters do not fit with their terminating null into 520 bytes; 259 do.
    const std::wstring fits = exact + std::wstring(259 - exact.size(), L' ');
    const std::wstring tooLong = exact + std::wstring(260 - exact.size(), L' ');
    Store(REG_SZ, tooLong);
    EXPECT_FALSE(m_app.ApplyAutoRun(TRUE, FALSE));
    EXPECT_TRUE(m_app.ApplyAutoRun(FALSE, TRUE));
    EXPECT_EQ(Stored().second, BytesOf(exact));

    Store(REG_SZ, fits);  // fits, but its text differs (trailing blanks)
    EXPECT_FALSE(m_app.ApplyAutoRun(TRUE, FALSE));
}

TEST_F(AutoRun, RunningExecutableIsTheDefault)
{
    CLumenoApp app;
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_TRUE(app.ApplyAutoRun(FALSE, TRUE));
    EXPECT_EQ(Stored().second, BytesOf(L"\"" + std::wstring(path) + L"\""));
    EXPECT_TRUE(app.ApplyAutoRun(FALSE, FALSE));
}

}  // namespace
