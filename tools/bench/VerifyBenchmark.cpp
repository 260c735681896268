// Writes a synthetic storage folder whose seal log holds a million records (by default: two years of
// one-minute recordings, all but the last few removed by retention, each removal a record of its
// own), then checks it as LumenoVerify does (the whole report written, to nowhere) and prints the
// time and the process's peak memory. A measurement, not a test:
//   wine build/i686/bin/bench_VerifyBenchmark.exe [RECORDS] [FOLDER]   (FOLDER is kept for a rerun)

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "framework/Sha256.h"
#include "verify/FolderCheck.h"

namespace {

std::string Hex(std::mt19937_64& noise)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (char& c : hex)
        c = kDigits[noise() & 15];
    return hex;
}

SYSTEMTIME At(long long minute)
{
    const ULONGLONG ticks = (13'350'000'000ULL * 1000 + static_cast<ULONGLONG>(minute) * 60'000) * 10'000;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    return st;
}

// The log of `records` records: recordings, and removals of all but the last `kept` of them.
std::string WriteFolder(const std::wstring& folder, long long records, long long kept)
{
    CreateDirectoryW((folder + L"\\LumenoData").c_str(), nullptr);
    const long long recordings = (records + kept) / 2;
    std::mt19937_64 noise(1);
    lumeno::UniqueFile log(CreateFileW((folder + L"\\LumenoData\\seals.log").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string buffer, prev = CSealRecord::kNoPrevious, presentNames;
    long long seq = 0;
    const auto append = [&](const CSealRecord& record) {
        CSealRecord line;
        if (!CSealFormat::Arrange(record, ++seq, prev, line))
            std::abort();
        const std::string text = line.Seal();
        prev = text.substr(text.size() - 64);
        buffer += text + "\n";
        if (buffer.size() > (1 << 22)) {
            DWORD written = 0;
            WriteFile(log.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr);
            buffer.clear();
        }
    };
    const auto removeFile = [&](long long gone, long long now) {
        const SYSTEMTIME old = At(gone);
        char name[32];
        std::snprintf(name, sizeof name, "%04u%02u%02u-%02u%02u%02u.AVI", old.wYear, old.wMonth, old.wDay, old.wHour,
                      old.wMinute, old.wSecond);
        CSealRecord removal;
        removal.Set("kind", "removed");
        removal.Set("name", name);
        removal.Set("size", "80000000");
        removal.Set("reason", "retention");
        removal.Set("at_utc", FormatSealTime(At(now), true));
        append(removal);
    };
    for (long long i = 0; i < recordings; ++i) {
        const SYSTEMTIME start = At(i);
        CSealRecord r;
        r.Set("kind", "recording");
        r.Set("origin", "finished");
        char name[32];
        std::snprintf(name, sizeof name, "%04u%02u%02u-%02u%02u%02u.AVI", start.wYear, start.wMonth, start.wDay,
                      start.wHour, start.wMinute, start.wSecond);
        std::string size = std::to_string(80'000'000 + noise() % 1000), hash = Hex(noise);
        if (i >= recordings - kept) {  // a real file for the last ones: they are hashed and compared
            const std::wstring path = folder + L"\\" + testsupport::Widen(name);
            testsupport::WriteRecording(path, 30);
            const std::vector<std::uint8_t> bytes = testsupport::ReadBytes(path);
            size = std::to_string(bytes.size());
            hash = CSha256::OfText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        r.Set("name", name);
        r.Set("size", size);
        r.Set("sha256", hash);
        r.Set("start_local", FormatSealTime(start, false));
        r.Set("start_utc", FormatSealTime(start, true));
        r.Set("utc_source", "network");
        for (const char* count : {"positions", "pictures"})
            r.Set(count, "600");
        r.Set("dropped", "0");
        r.Set("screen", "1920x1080");
        r.Set("server", "203.107.6.88");
        r.Set("offset_start_ms", "-12");
        r.Set("offset_end_ms", "-13");
        r.Set("reply_age_ms", "2210");
        r.Set("overlay_name", "张三");
        r.Set("overlay_platform", "MT5");
        r.Set("overlay_account", "88001234");
        r.Set("sealed_utc", FormatSealTime(At(i + 1), true));
        append(r);
        // Retention removes each file a month after it was made.
        if (i >= 43'200 && i - 43'200 < recordings - kept)
            removeFile(i - 43'200, i);
    }
    // A shorter retention at the end: only the last few files stay.
    for (long long gone = std::max(0LL, recordings - 43'200); gone < recordings - kept; ++gone)
        removeFile(gone, recordings);
    DWORD written = 0;
    WriteFile(log.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr);
    return std::to_string(seq);
}

}  // namespace

int main(int argc, char** argv)
{
    const long long records = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
    testsupport::AviLibrary avi;
    testsupport::TempFolder temp(L"bench-verify");
    const std::wstring folder = argc > 2 ? testsupport::Widen(argv[2]) : temp.Path();
    CreateDirectoryW(folder.c_str(), nullptr);
    auto t0 = std::chrono::steady_clock::now();
    const std::string written = WriteFolder(folder, records, 5);
    std::printf("wrote %s records in %.1f s\n", written.c_str(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());

    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    t0 = std::chrono::steady_clock::now();
    CFolderCheck check(folder);
    check.Run();
    unsigned long long reportBytes = 0;
    check.Report([&](std::string_view part) { reportBytes += part.size(); });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    std::printf("checked %lld records, %zu recordings in %.1f s (%s, a report of %llu bytes); peak memory: "
                "%.0f MB private, %.0f MB working set (%.0f MB before the check)\n",
                check.m_nRecords, check.m_recordings.size(), seconds, check.Passed() ? "PASS" : "FAIL", reportBytes,
                after.PeakPagefileUsage / 1048576.0, after.PeakWorkingSetSize / 1048576.0,
                before.PeakPagefileUsage / 1048576.0);
    return 0;
}
