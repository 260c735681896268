// Records the real screen for a while with the recording thread and prints what each frame costs:
// the stages of composition, encoding and writing, the pictures captured per minute, the share of
// positions that had to be written empty, how late after its tick each picture was taken, CPU time
// per recorded minute, disk use and peak memory. A measurement, not a test; tools/bench-record.sh
// runs it on a busy trading-desk screen of each size.

#include "media/AviFileReader.h"
#include "engine/RecordThread.h"
#include "framework/WinsockSession.h"
#include "support/TestSupport.h"
#include "timestore/NetTime.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>

namespace {
double FileTimeSeconds(const FILETIME& ft)
{
    return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 1e7;
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

// The lateness (ms) below which the given share of the pictures was taken.
int Percentile(const CRecordThread::Statistics& s, double share)
{
    long long total = 0;
    for (const long long n : s.lateness)
        total += n;
    long long seen = 0;
    for (int ms = 0; ms < CRecordThread::kLatenessBuckets; ++ms) {
        seen += s.lateness[static_cast<std::size_t>(ms)];
        if (total > 0 && static_cast<double>(seen) >= share * static_cast<double>(total))
            return ms;
    }
    return -1;
}
}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    CWinsockSession winsock;
    g_netTime.m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &g_netTime, 0, nullptr));
    {
        testsupport::TempFolder folder(L"bench-record");
        // A second argument names a folder that keeps the recordings for a look afterwards.
        const std::wstring keep = argc > 2 ? testsupport::Widen(argv[2]) : L"";
        auto overlay = std::make_shared<const OverlaySettings>(OverlaySettings{-5, L"张三", L"MT5", L"88001234"});
        CRecordThread recorder(g_netTime, [&] { return overlay; }, testsupport::ProgramBanner());
        recorder.Start(keep.empty() ? folder.Path() : keep, 600, FALSE, nullptr);
        const double cpu0 = CpuSeconds();
        const ULONGLONG t0 = GetTickCount64();
        recorder.SetRecording(TRUE);
        Sleep(static_cast<DWORD>(seconds) * 1000);
        recorder.Stop();
        const double wall = (GetTickCount64() - t0) / 1000.0;
        const double cpu = CpuSeconds() - cpu0;

        LARGE_INTEGER freq;
        QueryPerformanceFrequency(&freq);
        const auto& s = recorder.m_stats;
        const double pictures = static_cast<double>(s.nPictures);
        const char* names[] = {"capture", "cursor", "box+banner", "text", "read-out", "encode", "write"};
        std::printf("screen %dx%d, %d s of recording, %.1f s wall\n", recorder.Width(), recorder.Height(), seconds,
                    wall);
        for (int i = 0; i < CRecordThread::kStageCount; ++i)
            std::printf("  %-10s %8.2f ms/frame\n", names[i], 1000.0 * s.ticks[i] / freq.QuadPart / pictures);
        const double positions = pictures + static_cast<double>(s.nDropped);
        std::printf("pictures: %.0f (%.0f per minute), positions %.0f, dropped %.1f%%\n", pictures,
                    pictures * 60.0 / wall, positions, 100.0 * s.nDropped / (positions > 0 ? positions : 1));
        std::printf("empty because the encoder held every buffer: %lld\n", s.nStarved);
        const CScreenReader& reader = recorder.ScreenReader();
        std::printf("screen read %s (at start: whole %.1f ms, strips of %d rows %.1f ms)\n",
                    reader.GetWay() == CScreenReader::Way::kStrips ? "in strips" : "whole", reader.WholeMs(),
                    CScreenReader::StripRows(recorder.Width()), reader.StripsMs());
        if (s.nProcessorFromPicture < 0)
            std::printf("encoder: plain C throughout\n");
        else
            std::printf("encoder: plain C, then the processor's code from picture %lld on\n", s.nProcessorFromPicture);
        std::printf("capture lateness after the tick: median %d ms, p95 %d ms, p99 %d ms\n", Percentile(s, 0.5),
                    Percentile(s, 0.95), Percentile(s, 0.99));
        std::printf("CPU: %.1f s per recorded minute (%.0f%% of one core, this process only)\n", cpu * 60.0 / wall,
                    100.0 * cpu / wall);
        const auto figures = recorder.m_storage.ReadFigures();
        std::printf("disk: %zu files, %.1f MB per recorded minute\n", figures.nCount,
                    static_cast<double>(figures.ullBytes) / 1e6 * 60.0 / wall);
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof(pmc);
        if (K32GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)))
            std::printf("peak working set: %.0f MiB\n", pmc.PeakWorkingSetSize / 1048576.0);
    }
    (void)g_netTime.Stop(5000);
    return 0;
}
