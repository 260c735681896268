// Records the real screen across file hand-overs with the recording thread and prints what sealing
// costs: the time to hash each finished 60-second file, and whether the file recorded while the
// previous one was being hashed still got its 600 positions on time (its start 60 s after the
// previous start, its dropped positions no more than the first file's). A measurement, not a test;
// run it with BENCH_PROGRAM=bench_SealBenchmark.exe tools/bench-record.sh 130.

#include "engine/RecordThread.h"
#include "framework/WinsockSession.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"
#include "timestore/SealLog.h"
#include "timestore/Sha256.h"
#include "tools/verify/Moment.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 130;
    CWinsockSession winsock;
    g_netTime.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &g_netTime, 0, nullptr));
    {
        testsupport::TempFolder folder(L"bench-seal");
        auto overlay = std::make_shared<const OverlaySettings>(OverlaySettings{-5, L"张三", L"MT5", L"88001234"});
        CRecordThread recorder(g_netTime, [&] { return overlay; });
        recorder.Start(folder.Path(), 600, FALSE, nullptr);
        recorder.SetRecording(TRUE);
        Sleep(static_cast<DWORD>(seconds) * 1000);
        recorder.Stop();
        (void)recorder.m_storage.m_sealer.WaitIdle(120000);

        long long previousStart = 0, firstDropped = -1;
        for (const CSealLog::Line& line : CSealLog::ReadLines(folder.Path() + L"\\LumenoData\\seals.log")) {
            CSealRecord r;
            if (CSealRecord::Parse(line.text, r) != CSealRecord::Parsed::kOk || r.Get("kind") != "recording")
                continue;
            const std::wstring path = folder.Path() + L"\\" + FromUtf8(r.Get("name"));
            LARGE_INTEGER freq, t0, t1;
            QueryPerformanceFrequency(&freq);
            const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            ULONGLONG size = 0;
            QueryPerformanceCounter(&t0);
            const std::string hash = CSha256::OfFile(file.Get(), size);
            QueryPerformanceCounter(&t1);
            long long start = 0;
            (void)ParseMoment(r.Get("start_local"), start);
            const long long dropped = r.GetNumber("dropped");
            if (firstDropped < 0)
                firstDropped = dropped;
            std::printf("%s  %s  %4lld positions  %3lld dropped  %6.1f MB  hashed in %6.1f ms (%s)  start %+6lld ms "
                        "after the previous start + 60 s\n",
                        r.Get("name").c_str(), r.Get("screen").c_str(), r.GetNumber("positions"), dropped,
                        static_cast<double>(size) / 1e6, 1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart,
                        hash == r.Get("sha256") ? "matches its seal" : "DIFFERS FROM ITS SEAL",
                        previousStart ? start - previousStart - 60000 : 0LL);
            previousStart = start;
        }
    }
    (void)g_netTime.Stop(5000);
    return 0;
}
