#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "framework/ProfileFile.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

// A file the program may not write (read-only, or held open by another program) is refused whole.
TEST(ProfileFile, ReadOnlyOrLockedFileRefusesWritesAndKeepsEveryByte)
{
    const std::string ansi = "[x]\r\nk=1\r\n";
    for (const auto& original :
         {Utf16LeWithBom(L"[基础]\r\n保留时长=5\r\n"), std::vector<std::uint8_t>(ansi.begin(), ansi.end())}) {
        for (const bool locked : {false, true}) {
            TempFolder folder;
            const std::wstring path = folder.File(L"Lumeno.INI");
            WriteBytes(path, original);
            ASSERT_TRUE(locked || SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
            {
                lumeno::UniqueFile lock(locked ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                             FILE_ATTRIBUTE_NORMAL, nullptr)
                                               : INVALID_HANDLE_VALUE);
                CProfileFile profile(path);
                EXPECT_FALSE(profile.WriteInt(L"基础", L"保留时长", 9)) << locked;
                EXPECT_FALSE(profile.WriteString(L"基础", L"存储位置", L"C:\\")) << locked;
                profile.Flush();
            }
            EXPECT_EQ(ReadBytes(path), original) << locked;
            EXPECT_FALSE(FileExists(path + L".new"));
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

}  // namespace
