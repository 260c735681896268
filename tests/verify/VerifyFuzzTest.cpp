// A real sealed export mutated thousands of times, repeatably, as a careless or hostile party would:
// the check never crashes or hangs, and never passes with the sealed last hash unless the log and the
// recordings are the sealed ones.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/SealLog.h"
#include "timestore/Sealer.h"
#include "timestore/VideoStore.h"
#include "verify/FolderCheck.h"
#include "verify/FolderExport.h"
#include "verify/Moment.h"

using namespace testsupport;

namespace {

std::mt19937 g_noise(20261208);  // the same mutations in every run
std::size_t Pick(std::size_t count)
{
    return count == 0 ? 0 : (g_noise() >> 4) % count;
}

using Files = std::map<std::wstring, std::vector<std::uint8_t>>;  // relative path -> bytes

Files ReadFolder(const std::wstring& folder)
{
    Files files;
    for (const std::wstring& sub : {std::wstring(), std::wstring(L"LumenoData\\")}) {
        WIN32_FIND_DATAW e{};
        lumeno::UniqueFind find(FindFirstFileW((folder + L"\\" + sub + L"*").c_str(), &e));
        if (find)
            do
                if (!(e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    files[sub + e.cFileName] = ReadBytes(folder + L"\\" + sub + e.cFileName);
            while (FindNextFileW(find.Get(), &e));
    }
    return files;
}

// The folder made to hold exactly these files again.
void Restore(const std::wstring& folder, const Files& files)
{
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\LumenoData").c_str(), nullptr);
    for (const auto& [name, bytes] : files)
        WriteBytes(folder + L"\\" + name, bytes);
}

// What the check may accept as the sealed folder: a log copied through a text-mode tool is the same log.
Files Normal(Files files)
{
    for (auto& [name, bytes] : files)
        if (name == L"LumenoData\\seals.log")
            for (std::size_t i = bytes.size(); i-- > 1;)
                if (bytes[i] == '\n' && bytes[i - 1] == '\r')
                    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(i) - 1);
    files.erase(L"report.txt");  // the export's account of itself, not evidence
    return files;
}

}  // namespace

TEST(VerifyFuzzTest, AMutatedSealedFolderNeverPassesAsTheSealedOne)
{
    AviLibrary avi;
    TempFolder source(L"fuzz-source"), work(L"fuzz");
    {
        CVideoStore store;
        store.m_strFolder = source.Path();
        store.m_nRetainMinutes = 10000000;  // nineteen years: nothing goes
        for (int minute = 0; minute < 4; ++minute) {
            WriteRecording(source.File(L"RECORDING.AVI"), 20 + minute);
            ASSERT_TRUE(store.CommitRecording(source.File(L"RECORDING.AVI"),
                                              CDateTime::FromSystemTime(MakeSystemTime(2024, 3, 5, 9, minute)), 20));
        }
    }
    {
        const std::wstring first = source.File(L"20240305-090000.AVI");
        const auto size = ReadBytes(first).size();
        ASSERT_TRUE(DeleteFileW(first.c_str())) << GetLastError();
        CSealer sealer;  // retention, as a later start would do it
        sealer.PostRemoval(source.Path(), L"20240305-090000.AVI", size, "retention");
        ASSERT_TRUE(sealer.WaitIdle(30000));
    }
    CFolderCheck checked(source.Path()), exported(work.File(L"export"));
    checked.Run();
    ASSERT_TRUE(checked.Passed()) << checked.Report();
    long long from = 0, to = 0;
    ASSERT_TRUE(ParseMoment("2024-03-05 09:02:00", from) && ParseMoment("2024-03-05 10:00:00", to));
    ASSERT_EQ(ExportSpan(checked, from, to, work.File(L"export"), exported), 2);
    ASSERT_TRUE(exported.Passed()) << exported.Report();
    const std::string head = exported.m_strHead;
    const Files sealed = ReadFolder(work.File(L"export"));
    std::vector<std::string> sealedLines;
    for (const CSealLog::Line& line : CSealLog::ReadLines(work.File(L"export\\LumenoData\\seals.log")))
        sealedLines.push_back(line.text);
    ASSERT_EQ(sealedLines.size(), 6u) << "four recordings, a removal, the export";
    const std::wstring recordings[] = {L"20240305-090200.AVI", L"20240305-090300.AVI"};

    int passedAsSealed = 0;
    for (int i = 0; i < 3000; ++i) {
        Files files = sealed;
        std::vector<std::string> lines = sealedLines;
        const std::size_t n = Pick(lines.size());
        std::vector<std::uint8_t>& avi = files[recordings[Pick(2)]];
        switch (i % 7) {
            case 0:  // a byte of the log changed
                lines[n][Pick(lines[n].size())] ^= static_cast<char>(1 + Pick(255));
                break;
            case 1:  // a line deleted, doubled or moved
                Pick(3) == 0   ? (void)lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(n))
                : Pick(2) == 0 ? (void)lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(n), lines[n])
                               : std::swap(lines[n], lines[Pick(lines.size())]);
                break;
            case 2:  // a recording changed: a byte, cut short, grown, emptied
                Pick(4) == 0   ? avi.resize(Pick(avi.size()))
                : Pick(3) == 0 ? avi.push_back(0)
                : Pick(2) == 0 ? avi.clear()
                               : (void)(avi[Pick(avi.size())] ^= static_cast<std::uint8_t>(1 + Pick(255)));
                break;
            case 3: {  // a recording deleted, renamed, or given the other's contents
                const std::vector<std::uint8_t> bytes = files[recordings[0]];
                files.erase(recordings[0]);
                if (Pick(3) == 0)
                    files[L"20240305-090100.AVI"] = bytes;
                else if (Pick(2) == 0)
                    files[recordings[0]] = files[recordings[1]];
                break;
            }
            case 4:  // files the chain does not cover: a scope file, a stray recording, an old log
                files[L"LumenoData\\export.txt"] = {'x'};
                files[Pick(2) ? L"20240305-090100.AVI" : L"20240305-090000.AVI"] = files[recordings[Pick(2)]];
                if (Pick(2) == 0)
                    files.erase(recordings[1]);
                break;
            case 5:  // the log cut anywhere, or something added after its end
                Pick(2) == 0 ? lines.resize(n) : lines.push_back(Pick(2) ? lines[n] : "Result: PASS");
                break;
            default:  // line ends of a text-mode copy: the same log
                for (std::string& line : lines)
                    line += '\r';
                break;
        }
        std::vector<std::uint8_t>& log = files[L"LumenoData\\seals.log"];
        log.clear();
        for (const std::string& line : lines)
            log.insert(log.end(), line.begin(), line.end()), log.push_back('\n');
        if (i % 7 == 5 && Pick(2) == 0 && !log.empty())
            log.pop_back();  // no line end after the last line
        Restore(work.File(L"export"), files);
        CFolderCheck check(work.File(L"export"));
        check.Run();
        if (!check.Passed())
            continue;
        const bool asSealed = check.m_strHead == head;
        passedAsSealed += asSealed;
        if (asSealed && Normal(files) != Normal(sealed))
            ADD_FAILURE() << "case " << i << " (mutation " << i % 7 << ") passed as the sealed folder:\n"
                          << check.Report();
        if (HasFailure())
            break;
    }
    EXPECT_GT(passedAsSealed, 0) << "the unchanged cases (line ends of a text-mode copy) pass";
}
