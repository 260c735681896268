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
#include "framework/Sha256.h"
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

using Fields = std::vector<std::pair<std::string, std::string>>;
using Files = std::map<std::wstring, std::vector<std::uint8_t>>;  // relative path -> bytes

std::vector<std::string> Lines(const std::vector<std::uint8_t>& log)
{
    std::vector<std::string> lines(1);
    for (const std::uint8_t byte : log)
        byte == '\n' ? (void)lines.emplace_back() : lines.back().push_back(static_cast<char>(byte));
    lines.pop_back();  // after the last line end
    return lines;
}

// A line's fields as a forger sees them (split at tabs and the first '='), its hash dropped.
Fields Split(const std::string& line)
{
    Fields fields;
    for (std::size_t from = 0; from <= line.size();) {
        const std::size_t end = std::min(line.find('\t', from), line.size()), equals = line.find('=', from);
        fields.emplace_back(line.substr(from, std::min(equals, end) - from),
                            equals < end ? line.substr(equals + 1, end - equals - 1) : "");
        from = end + 1;
    }
    if (!fields.empty() && fields.back().first == "hash")
        fields.pop_back();
    return fields;
}

// The line of the fields with its own hash made again.
std::string Seal(const Fields& fields)
{
    std::string body;
    for (const auto& [key, value] : fields)
        body += (body.empty() ? "" : "\t") + key + "=" + value;
    return body + "\thash=" + CSha256::OfText(body);
}

// Every record from `from` on chained to the one before it again, as a forger rewriting the log would.
void Rechain(std::vector<std::string>& lines, std::size_t from)
{
    for (std::size_t i = std::max<std::size_t>(from, 1); i < lines.size(); ++i) {
        Fields fields = Split(lines[i]);
        const std::size_t at = lines[i - 1].rfind("\thash=");
        for (auto& [key, value] : fields)
            if (key == "prev" && at != std::string::npos)
                value = lines[i - 1].substr(at + 6);
        lines[i] = Seal(fields);
    }
}

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
    const std::vector<std::string> sealedLines = Lines(sealed.at(L"LumenoData\\seals.log"));
    ASSERT_EQ(sealedLines.size(), 6u) << "four recordings, a removal, the export";
    const std::wstring recordings[] = {L"20240305-090200.AVI", L"20240305-090300.AVI"};
    const std::string hostile[] = {"", "-", "0", "99999999999999999999", "..\\20240305-090200.AVI", "C:x", "CON",
                                   "NUL.AVI", "a/b", "20240305-090100.AVI\nResult: PASS", "\t", "x\\q",
                                   "2024-02-30 00:00:00.000", "1601-01-01 00:00:00.000", "2099-01-01 00:00:00.000",
                                   "20240305-090100.AVI", "export", "removed", std::string(64, 'f'), "1"};

    int passedAsSealed = 0;
    for (int i = 0; i < 3000; ++i) {
        Files files = sealed;
        std::vector<std::string> lines = sealedLines;
        const std::size_t n = Pick(lines.size());
        Fields fields = Split(lines[n]);
        auto& [key, value] = fields[Pick(fields.size())];
        std::vector<std::uint8_t>& avi = files[recordings[Pick(2)]];
        switch (i % 12) {
            case 0:  // a byte of the log changed
                lines[n][Pick(lines[n].size())] ^= static_cast<char>(1 + Pick(255));
                break;
            case 1:  // a line deleted, doubled or moved
                Pick(3) == 0   ? (void)lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(n))
                : Pick(2) == 0 ? (void)lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(n), lines[n])
                               : std::swap(lines[n], lines[Pick(lines.size())]);
                break;
            case 2:  // a field given a hostile value, the record's own hash made again
            case 3:  // ... and the rest of the chain made again after it
                value = hostile[Pick(std::size(hostile))];
                lines[n] = Seal(fields);
                if (i % 12 == 3)
                    Rechain(lines, n + 1);
                break;
            case 4:  // ... keeping the old hash in a field added after the new one's contents
                value = hostile[Pick(std::size(hostile))];
                fields.emplace_back("hash", lines[n].substr(lines[n].size() - 64));
                fields.emplace_back(hostile[Pick(std::size(hostile))], "1");
                lines[n] = Seal(fields);
                break;
            case 5: {  // a record forged in: a removal or an export that would explain a missing file
                const bool removal = Pick(2) == 0;
                const std::string made =
                    removal ? "seq=0\tkind=removed\tname=" + Narrow(recordings[Pick(2)]) +
                                  "\tsize=1\treason=retention\tat_utc=2024-03-06T00:00:00.000Z\tprev=-"
                            : "seq=0\tkind=export\tfrom=2024-03-05 09:03:00.000\tto=2024-03-05 10:00:00.000\tat_utc=-\tprev=-";
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(n + 1), Seal(Split(made)));
                if (Pick(2) == 0)
                    files.erase(recordings[0]);
                Rechain(lines, n + 1);
                break;
            }
            case 6:  // a recording changed: a byte, cut short, grown, emptied
                Pick(4) == 0   ? avi.resize(Pick(avi.size()))
                : Pick(3) == 0 ? avi.push_back(0)
                : Pick(2) == 0 ? avi.clear()
                               : (void)(avi[Pick(avi.size())] ^= static_cast<std::uint8_t>(1 + Pick(255)));
                break;
            case 7: {  // a recording deleted, renamed, or given the other's contents
                const std::vector<std::uint8_t> bytes = files[recordings[0]];
                files.erase(recordings[0]);
                if (Pick(3) == 0)
                    files[L"20240305-090100.AVI"] = bytes;
                else if (Pick(2) == 0)
                    files[recordings[0]] = files[recordings[1]];
                break;
            }
            case 8:  // files the chain does not cover: a scope file, a stray recording, an old log
                files[L"LumenoData\\export.txt"] = {'x'};
                files[Pick(2) ? L"20240305-090100.AVI" : L"20240305-090000.AVI"] = files[recordings[Pick(2)]];
                if (Pick(2) == 0)
                    files.erase(recordings[1]);
                break;
            case 9:  // the log cut anywhere, or something added after its end
                Pick(2) == 0 ? lines.resize(n) : (void)lines.push_back(hostile[Pick(std::size(hostile))]);
                break;
            case 10:  // line ends of a text-mode copy: the same log
                for (std::string& line : lines)
                    line += '\r';
                break;
            default:  // a few of the above at once
                lines[Pick(lines.size())] += '\t' + key + "=" + value;
                avi.resize(avi.size() / 2);
                std::swap(lines[0], lines[Pick(lines.size())]);
                break;
        }
        std::vector<std::uint8_t>& log = files[L"LumenoData\\seals.log"];
        log.clear();
        for (const std::string& line : lines)
            log.insert(log.end(), line.begin(), line.end()), log.push_back('\n');
        if (i % 12 == 9 && Pick(2) == 0 && !log.empty())
            log.pop_back();  // no line end after the last line
        Restore(work.File(L"export"), files);
        CFolderCheck check(work.File(L"export"));
        check.Run();
        if (!check.Passed())
            continue;
        const bool asSealed = check.m_strHead == head;
        passedAsSealed += asSealed;
        if (asSealed && Normal(files) != Normal(sealed))
            ADD_FAILURE() << "case " << i << " (mutation " << i % 12 << ") passed as the sealed folder:\n"
                          << check.Report();
        if (HasFailure())
            break;
    }
    EXPECT_GT(passedAsSealed, 0) << "the unchanged cases (line ends of a text-mode copy) pass";
}
