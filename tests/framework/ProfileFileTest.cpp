#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>

#include "framework/Handles.h"
#include "framework/ProfileFile.h"
#include "support/TestSupport.h"

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;
using testsupport::Utf16LeWithBom;
using testsupport::WriteText;

namespace {

// What an ordinary UTF-16 reader on the host makes of the file (iconv honours the byte-order mark).
std::string DecodeOnHost(const std::wstring& path)
{
    int exitCode = -1;
    std::string text =
        testsupport::RunHost("iconv -f UTF-16 -t UTF-8 '" + testsupport::UnixPath(path) + "'", &exitCode);
    EXPECT_EQ(exitCode, 0) << text;
    return text;
}

TEST(ProfileFileParse, TakesTheSignedDecimalNumberAtTheStart)
{
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"-8"), -8);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"+13"), 13);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"  7"), 7);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"42 minutes"), 42);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"007"), 7);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"abc"), 0);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L""), 0);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"-"), 0);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"- 5"), 0);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"0x10"), 0);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"\x0661\x0662"), 0);  // digits of another script
}

TEST(ProfileFileParse, OutOfRangeNumbersSaturate)
{
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"2147483647"), INT_MAX);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"-2147483648"), INT_MIN);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"2147483648"), INT_MAX);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"-2147483649"), INT_MIN);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"99999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(CProfileFile::ParseLeadingInt(L"-99999999999999999999999999999999x"), INT_MIN);
}

TEST(ProfileFile, MissingFileGivesDefaultsAndIsNotCreatedByReading)
{
    TempFolder folder;
    CProfileFile profile(folder.File(L"Lumeno.INI"));
    EXPECT_EQ(profile.ReadInt(L"基础", L"保留时长", 1), 1);
    EXPECT_EQ(profile.ReadInt(L"基础", L"保留时长", -3), -3);
    EXPECT_EQ(profile.ReadString(L"基础", L"存储位置"), L"");
    EXPECT_FALSE(profile.ReadValue(L"基础", L"存储位置").has_value());
    EXPECT_FALSE(FileExists(folder.File(L"Lumeno.INI")));
}

TEST(ProfileFile, PresentValuesFollowTheIntegerRule)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    WriteBytes(path, Utf16LeWithBom(L"[s]\r\nneg=-8\r\nzero=0\r\nword=abc\r\nempty=\r\nhuge=12345678901234\r\n"));
    CProfileFile profile(path);
    EXPECT_EQ(profile.ReadInt(L"s", L"neg", 5), -8);
    EXPECT_EQ(profile.ReadInt(L"s", L"zero", 5), 0);
    EXPECT_EQ(profile.ReadInt(L"s", L"word", 5), 0);
    EXPECT_EQ(profile.ReadInt(L"s", L"empty", 5), 0);  // present but without digits
    EXPECT_EQ(profile.ReadInt(L"s", L"huge", 5), INT_MAX);
    EXPECT_EQ(profile.ReadInt(L"s", L"missing", 5), 5);
    EXPECT_EQ(profile.ReadInt(L"other", L"neg", 5), 5);
    ASSERT_TRUE(profile.ReadValue(L"s", L"empty").has_value());
    EXPECT_EQ(*profile.ReadValue(L"s", L"empty"), L"");
}

TEST(ProfileFile, NewFileIsUtf16WithBomAndChineseNamesRoundTrip)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    CProfileFile profile(path);
    ASSERT_TRUE(profile.WriteString(L"视频附加内容", L"名称", L"张三 (主账户)"));
    ASSERT_TRUE(profile.WriteInt(L"视频附加内容", L"时间2时区", -8));
    ASSERT_TRUE(profile.WriteInt(L"基础", L"保留时长", 0));

    const auto bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes.size() % 2, 0u);

    const std::string text = DecodeOnHost(path);
    EXPECT_NE(text.find("[视频附加内容]"), std::string::npos) << text;
    EXPECT_NE(text.find("名称=张三 (主账户)"), std::string::npos) << text;
    EXPECT_NE(text.find("时间2时区=-8"), std::string::npos) << text;
    EXPECT_NE(text.find("[基础]"), std::string::npos) << text;
    EXPECT_NE(text.find("保留时长=0"), std::string::npos) << text;

    profile.Flush();  // read back from disk, not from the platform's cache
    CProfileFile reader(path);
    EXPECT_EQ(reader.ReadString(L"视频附加内容", L"名称"), L"张三 (主账户)");
    EXPECT_EQ(reader.ReadInt(L"视频附加内容", L"时间2时区", 0), -8);
    EXPECT_EQ(reader.ReadInt(L"基础", L"保留时长", 1), 0);
}

TEST(ProfileFile, ExistingUtf16FileIsKeptAsItIs)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    const std::wstring original = L"; 用户的注释\r\n[其他]\r\n键=值\r\n";
    WriteBytes(path, Utf16LeWithBom(original));
    CProfileFile profile(path);
    ASSERT_TRUE(profile.WriteString(L"基础", L"存储位置", L"D:\\录像"));
    const auto expectedStart = Utf16LeWithBom(original);
    const auto bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), expectedStart.size());
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), bytes.begin()));
    profile.Flush();
    EXPECT_EQ(profile.ReadString(L"其他", L"键"), L"值");
    EXPECT_EQ(profile.ReadString(L"基础", L"存储位置"), L"D:\\录像");
}

TEST(ProfileFile, FilesInOtherEncodingsAreConvertedWithoutLosingValues)
{
    TempFolder folder;
    // ANSI (no mark), as the platform itself writes a new file.
    const std::wstring ansi = folder.File(L"ansi.ini");
    WriteText(ansi, "[old]\r\nkept=yes\r\nnumber=17\r\n");
    // UTF-8 with a mark, as a text editor might save it.
    const std::wstring utf8 = folder.File(L"utf8.ini");
    WriteText(utf8, "\xEF\xBB\xBF[视频附加内容]\r\n平台=交易平台\r\n");
    // An empty file.
    const std::wstring empty = folder.File(L"empty.ini");
    WriteBytes(empty, {});

    for (const std::wstring& path : {ansi, utf8, empty}) {
        CProfileFile profile(path);
        ASSERT_TRUE(profile.WriteString(L"视频附加内容", L"帐号", L"账号-001"));
        const auto bytes = ReadBytes(path);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xFE);
        profile.Flush();
        EXPECT_EQ(CProfileFile(path).ReadString(L"视频附加内容", L"帐号"), L"账号-001");
        EXPECT_FALSE(FileExists(path + L".new"));
    }
    EXPECT_EQ(CProfileFile(ansi).ReadString(L"old", L"kept"), L"yes");
    EXPECT_EQ(CProfileFile(ansi).ReadInt(L"old", L"number", 0), 17);
    EXPECT_EQ(CProfileFile(utf8).ReadString(L"视频附加内容", L"平台"), L"交易平台");
}

TEST(ProfileFile, LongValuesRoundTripWhole)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    for (size_t length : {255u, 256u, 257u, 511u, 10000u, 100000u}) {
        std::wstring value;
        for (size_t i = 0; i < length; ++i)
            value.push_back(i % 7 == 0 ? L'名' : static_cast<wchar_t>(L'a' + i % 26));
        CProfileFile profile(path);
        ASSERT_TRUE(profile.WriteString(L"视频附加内容", L"名称", value));
        profile.Flush();
        const std::wstring back = CProfileFile(path).ReadString(L"视频附加内容", L"名称");
        EXPECT_EQ(back.size(), length);
        EXPECT_TRUE(back == value) << "length " << length;
    }
}

TEST(ProfileFile, ReadOnlyFileRefusesWritesAndStaysUnchanged)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    for (const auto& original : {Utf16LeWithBom(L"[基础]\r\n保留时长=5\r\n"),
                                 std::vector<std::uint8_t>{'[', 'x', ']', '\r', '\n', 'k', '=', '1', '\r', '\n'}}) {
        WriteBytes(path, original);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        CProfileFile profile(path);
        EXPECT_FALSE(profile.WriteInt(L"基础", L"保留时长", 9));
        EXPECT_FALSE(profile.WriteString(L"基础", L"存储位置", L"C:\\"));
        profile.Flush();
        EXPECT_EQ(ReadBytes(path), original);
        EXPECT_FALSE(FileExists(path + L".new"));
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    }
}

TEST(ProfileFile, FileLockedByAnotherProgramRefusesWritesAndStaysUnchanged)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    for (const auto& original : {Utf16LeWithBom(L"[基础]\r\n保留时长=5\r\n"),
                                 std::vector<std::uint8_t>{'[', 'x', ']', '\r', '\n', 'k', '=', '1', '\r', '\n'}}) {
        WriteBytes(path, original);
        {
            lumeno::UniqueFile lock(
                CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(lock);
            CProfileFile profile(path);
            EXPECT_FALSE(profile.WriteInt(L"基础", L"保留时长", 9));
            EXPECT_FALSE(profile.WriteString(L"基础", L"存储位置", L"C:\\"));
        }
        EXPECT_EQ(ReadBytes(path), original);
        EXPECT_FALSE(FileExists(path + L".new"));
    }
}

TEST(ProfileFile, GarbageAndBinaryFilesAreReadSafelyAndStayWritable)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"Lumeno.INI");
    std::mt19937 random(5);
    std::vector<std::uint8_t> garbage(64 * 1024);
    for (auto& byte : garbage)
        byte = static_cast<std::uint8_t>(random());
    const std::vector<std::vector<std::uint8_t>> inputs = {
        garbage,
        {0xFF, 0xFE, 0x00, 0xD8, 0x00, 0xD8, '[', 0, ']', 0, '=', 0},  // UTF-16 with lone surrogates
        {0xFF, 0xFE, '['},                                             // odd length
        {'[', 0x00, 0x01, ']', '\n', '=', '=', '=', '\n', '[', '[', ']', ']', '\n'},
    };
    for (const auto& input : inputs) {
        WriteBytes(path, input);
        CProfileFile profile(path);
        EXPECT_EQ(profile.ReadInt(L"基础", L"保留时长", 1), 1);
        EXPECT_EQ(profile.ReadString(L"视频附加内容", L"名称"), L"");
        ASSERT_TRUE(profile.WriteInt(L"基础", L"保留时长", 30));
        ASSERT_TRUE(profile.WriteString(L"视频附加内容", L"名称", L"李四"));
        profile.Flush();
        CProfileFile reader(path);
        EXPECT_EQ(reader.ReadInt(L"基础", L"保留时长", 1), 30);
        EXPECT_EQ(reader.ReadString(L"视频附加内容", L"名称"), L"李四");
    }
}

}  // namespace
