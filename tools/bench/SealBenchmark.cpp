// Records the real screen across file hand-overs with the recording thread and prints what sealing
// costs: the time to hash each finished 60-second file, and whether the file recorded while the
// previous one was being hashed still got its 600 positions on time (its start 60 s after the
// previous start, and where its empty positions fall: the hashing runs in its first second or so).
// A measurement, not a test; run it with BENCH_PROGRAM=bench_SealBenchmark.exe tools/bench-record.sh 135.

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "engine/RecordThread.h"
#include "media/RecordingRepair.h"
#include "framework/WinsockSession.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"
#include "timestore/RecordingName.h"
#include "timestore/SealLog.h"
#include "framework/Sha256.h"

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 135;
    CWinsockSession winsock;
    g_netTime.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &g_netTime, 0, nullptr));
    {
        testsupport::TempFolder folder(L"bench-seal");
        auto overlay = std::make_shared<const OverlaySettings>(OverlaySettings{-5, L"张三", L"MT5", L"88001234"});
        CRecordThread recorder(g_netTime, [&] { return overlay; }, testsupport::ProgramBanner());
        recorder.Start(folder.Path(), 600, FALSE, nullptr);
        recorder.SetRecording(TRUE);
        Sleep(static_cast<DWORD>(seconds) * 1000);
        recorder.Stop();

        std::map<std::string, std::string> sealed;  // name -> SHA-256
        for (const CSealLog::Line& line : CSealLog::ReadLines(folder.Path() + L"\\LumenoData\\seals.log")) {
            CSealRecord r;
            if (CSealRecord::Parse(line.text, r) == CSealRecord::Parsed::kOk && r.Get("kind") == "recording")
                sealed[r.Get("name")] = r.Get("sha256");
        }
        std::wistringstream names(testsupport::ListFolder(folder.Path()));
        long long previousStart = 0;
        for (std::wstring name; names >> name;) {
            if (name.size() != 19)
                continue;
            const std::wstring path = folder.Path() + L"\\" + name;
            const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            LARGE_INTEGER freq, t0, t1;
            QueryPerformanceFrequency(&freq);
            ULONGLONG size = 0;
            QueryPerformanceCounter(&t0);
            const std::string hash = CSha256::OfFile(file.Get(), size);
            QueryPerformanceCounter(&t1);
            const std::vector<CRecordingRepair::Chunk> chunks = CRecordingRepair::FindChunks(file.Get());
            std::string empty;  // positions without a picture
            for (std::size_t i = 0; i < chunks.size(); ++i)
                if (chunks[i].dwSize == 0)
                    (empty += empty.empty() ? "" : ",") += std::to_string(i);
            const std::string utf8 = testsupport::Narrow(name);
            const long long start = static_cast<long long>(ParseRecordingStart(name).m_dt * 86400.0 + 0.5) * 1000;
            std::printf(
                "%s  %4zu positions  %6.1f MB  hashed in %6.1f ms (%s)  start %+lld s after the previous + 60 s"
                "  empty positions: %s\n",
                utf8.c_str(), chunks.size(), static_cast<double>(size) / 1e6,
                1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart,
                sealed.count(utf8) == 0 ? "no seal"
                : sealed[utf8] == hash  ? "matches its seal"
                                        : "DIFFERS FROM ITS SEAL",
                previousStart ? (start - previousStart - 60000) / 1000 : 0LL, empty.empty() ? "none" : empty.c_str());
            previousStart = start;
        }
    }
    (void)g_netTime.Stop(5000);
    return 0;
}
