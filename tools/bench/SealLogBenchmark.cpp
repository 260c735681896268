// Measures what a start costs once the seal log has grown: a log of D days of recording around the
// clock (a recording and a retention removal a minute, a time stamp every ten), then the passes a
// start makes over it: the catalogue's look-up of sealed start times (on the thread that starts the
// recorder) and the sealer's opening of the log. A measurement, not a test.
// Usage: bench_SealLogBenchmark [days = 365]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "framework/DateTime.h"
#include "framework/Sha256.h"
#include "support/TestSupport.h"
#include "timestore/RecordingName.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "timestore/Sealer.h"

namespace {

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}


}  // namespace

int main(int argc, char** argv)
{
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 365;
    const int retainedMinutes = 30 * 1440;
    testsupport::TempFolder folder(L"seallog");
    CreateDirectoryW(folder.File(L"LumenoData").c_str(), nullptr);
    const std::wstring logPath = CSealer::LogPath(folder.Path());
    const std::string token(4000, 'A');
    std::string text, prev = CSealRecord::kNoPrevious;
    long long seq = 0, lines = 0;
    std::set<std::wstring> kept;  // the catalogue: the last 30 days
    std::vector<std::string> names;
    const auto append = [&](CSealRecord record) {
        CSealRecord line;
        if (!CSealFormat::Arrange(record, ++seq, prev, line))
            std::abort();
        const std::string sealed = line.Seal();
        prev = sealed.substr(sealed.size() - CSha256::kHexLength);
        text += sealed + "\n";
        ++lines;
    };
    long long firstMs = 0;  // 2024-01-01 00:00
    if (!MsOfSystemTime(SYSTEMTIME{2024, 1, 0, 1, 0, 0, 0, 0}, firstMs))
        return 1;
    const double made = NowMs();
    for (int minute = 0; minute < days * 1440; ++minute) {
        SYSTEMTIME st{};  // local and UTC alike
        if (!SystemTimeOfMs(firstMs + minute * 60000LL, st))
            std::abort();
        const auto at = [&](int ms, bool utc) {
            SYSTEMTIME moment = st;
            moment.wMilliseconds = static_cast<WORD>(ms);
            return FormatSealTime(moment, utc);
        };
        const std::string name = testsupport::Narrow(MakeVideoFileName(CDateTime::FromSystemTime(st)));
        append(CSealRecord{{{"kind", "recording"}, {"origin", "finished"}, {"name", name}, {"size", "83700000"},
                            {"sha256", std::string(64, 'c')}, {"start_local", at(250, false)},
                            {"start_utc", at(250, true)}, {"utc_source", "network"},
                            {"positions", "600"}, {"pictures", "600"}, {"dropped", "0"}, {"screen", "1920x1080"},
                            {"server", "203.107.6.88"}, {"offset_start_ms", "-12"}, {"offset_end_ms", "-13"},
                            {"reply_age_ms", "812"}, {"overlay_name", "张三"}, {"overlay_platform", "MT5"},
                            {"overlay_account", "88001234"}, {"encoder", "plain_c"},
                            {"sealed_utc", at(900, true)}}});
        names.push_back(name);
        if (minute >= retainedMinutes)  // the recording of thirty days ago
            append(CSealRecord{{{"kind", "removed"}, {"name", names[minute - retainedMinutes]}, {"size", "83700000"},
                                {"reason", "retention"},
                                {"at_utc", at(950, true)}}});
        if (minute % 10 == 9)
            append(CSealRecord{{{"kind", "stamp"}, {"covers_seq", std::to_string(seq)}, {"covers_hash", prev},
                                {"tsa", "http://timestamp.digicert.com"}, {"gen_time", at(0, true)},
                                {"serial", "0a1f"}, {"token", token}}});
        if (minute >= days * 1440 - retainedMinutes)
            kept.insert(testsupport::Widen(name));
    }
    testsupport::WriteText(logPath, text);
    std::printf("log of %d days: %lld records, %.0f MB, made in %.0f ms\n", days, lines, text.size() / 1e6,
                NowMs() - made);
    text.clear();
    text.shrink_to_fit();

    double start = NowMs();
    const auto starts = CSealer::SealedStarts(folder.Path(), kept);
    std::printf("sealed start times of %zu catalogued recordings: %.0f ms (found %zu)\n", kept.size(),
                NowMs() - start, starts.size());
    start = NowMs();
    CSealLog log;
    const HRESULT hr = log.Open(logPath);
    std::printf("the sealer opens the log: %.0f ms (hr %08lx, last seq %lld)\n", NowMs() - start,
                static_cast<unsigned long>(hr), log.LastSeq());
    return 0;
}
