// Measures the start-up scan of a storage folder holding N recordings and N/10 other files, for
// growing N, and the memory each catalogued record costs. A measurement, not a test.
// Usage: bench_ScanBenchmark [largest N = 10000]

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/VideoStore.h"

namespace {

double NowMs()
{
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Live bytes handed out by operator new in this program (the catalogue's own allocations).
std::atomic<long long> g_liveBytes{0};

// Resident memory of the whole process in kB as the host kernel sees it (Wine reports no private
// bytes): includes what the platform libraries keep per open file.
long long ResidentKb()
{
    // procfs files report size 0, so read until the end instead of by size.
    lumeno::UniqueFile file(
        CreateFileW(L"Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    const std::size_t at = text.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 6);
}

// 20240101-000000.AVI, one minute apart.
std::wstring RecordingName(int index)
{
    wchar_t name[32];
    const int day = 1 + index / 1440, hour = index / 60 % 24, minute = index % 60;
    std::swprintf(name, std::size(name), L"202401%02d-%02d%02d00.AVI", day, hour, minute);
    return name;
}

void Measure(int recordings, const std::wstring& fullRecording)
{
    const int others = recordings / 10;
    testsupport::TempFolder folder(L"scanbench");
    const double fillStart = NowMs();
    for (int i = 0; i < recordings; ++i)
        CopyFileW(fullRecording.c_str(), folder.File(RecordingName(i)).c_str(), FALSE);
    for (int i = 0; i < others; ++i)
        testsupport::WriteText(folder.File(L"other-" + std::to_wstring(i) + L".txt"), "not a recording");
    const double fillMs = NowMs() - fillStart;

    CVideoStore store;
    store.m_strFolder = folder.Path();
    store.m_nRetainMinutes = 1'000'000;  // keep everything: the scan is measured, not deletion
    store.m_bCleanOtherFiles = 0;
    const long long heapBefore = g_liveBytes, residentBefore = ResidentKb();
    const double scanStart = NowMs();
    store.ScanFolder();
    const double scanMs = NowMs() - scanStart;
    const long long heapAfter = g_liveBytes, residentAfter = ResidentKb();
    const CVideoStore::Figures figures = store.ReadFigures();
    const int files = recordings + others;
    std::printf(
        "%6d recordings + %5d other files: scan %8.1f ms = %6.3f ms/file; catalogued %zu (%.1f MB); "
        "catalogue heap +%.0f bytes/record, resident +%.0f bytes/record  (folder filled in %.0f ms)\n",
        recordings, others, scanMs, scanMs / files, figures.nCount, figures.ullBytes / 1e6,
        static_cast<double>(heapAfter - heapBefore) / recordings,
        (residentAfter - residentBefore) * 1024.0 / recordings, fillMs);
}

// The catalogue's own share: sorted insertion of n records arriving in a shuffled order.
void MeasureInsertion(int n)
{
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        order[static_cast<std::size_t>(i)] = i;
    std::mt19937 shuffle(42);
    std::shuffle(order.begin(), order.end(), shuffle);
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 1;
    st.wDay = 1;
    const CDateTime base = CDateTime::FromSystemTime(st);
    CVideoStore store;
    const double start = NowMs();
    for (int i : order) {
        CVideoInfo record;
        record.m_dtStart = CDateTime(base.m_dt + i / 1440.0, CDateTime::kValid);
        record.m_llStartUtc = UtcTicksOfLocal(record.m_dtStart);
        record.m_nDuration = 60;
        std::move(record).AddToStore(store);
    }
    const double ms = NowMs() - start;
    std::printf("%6d records inserted in shuffled order, no files: %8.1f ms = %6.3f ms/record\n", n, ms, ms / n);
}

}  // namespace

// Counting allocation: the C runtime knows each block's size.
void* operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    g_liveBytes += static_cast<long long>(_msize(p));
    return p;
}
void operator delete(void* p) noexcept
{
    if (!p)
        return;
    g_liveBytes -= static_cast<long long>(_msize(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

int main(int argc, char** argv)
{
    const int largest = argc > 1 ? std::atoi(argv[1]) : 10000;
    testsupport::AviLibrary avi;
    testsupport::TempFolder templates(L"scantemplate");
    const std::wstring full = templates.File(L"full.avi");
    testsupport::WriteRecording(full, 600);  // a full 60-second file's header and index
    std::printf("record: sizeof(CVideoInfo) = %zu bytes, list node = %zu bytes, plus one open file handle\n",
                sizeof(CVideoInfo), sizeof(CVideoInfo) + 2 * sizeof(void*));
    for (int n = largest / 4; n <= largest; n *= 2)
        MeasureInsertion(n);
    for (int n = largest / 4; n <= largest; n *= 2)
        Measure(n, full);
    return 0;
}
