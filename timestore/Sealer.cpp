#include "timestore/Sealer.h"

#include <shlwapi.h>

#include <optional>

#include "framework/Utf8.h"
#include "media/RecordingRepair.h"
#include "framework/Handles.h"
#include "framework/Sha256.h"
#include "timestore/StorageFolder.h"

namespace {

void SetContext(CSealRecord& record, const char* suffix, const SealContext* context)
{
    const std::string offsetKey = std::string("offset_") + suffix + "_ms";
    record.Set(offsetKey, context && context->bNetworkTime ? std::to_string(context->llClockOffsetMs) : "-");
}

// The encoder's path: "plain_c", "processor", or "plain_c_then_processor" from the position in
// "processor_from" on; "-" for both when not known.
void SetEncoder(CSealRecord& record, const SealEncoder& encoder)
{
    const int from = encoder.nProcessorFrom;
    record.Set("encoder", !encoder.bKnown ? "-" : from < 0 ? "plain_c" : from == 0 ? "processor" : "plain_c_then_processor");
    record.Set("processor_from", encoder.bKnown && from >= 0 ? std::to_string(from) : "-");
}

std::string LocalText(CDateTime start)
{
    SYSTEMTIME st{};
    return start.ToSystemTime(st) ? FormatSealTime(st, false) : "-";
}

// The UTC moment of a local time by the machine's own zone rules (no network time known).
std::string UtcOfLocal(CDateTime start)
{
    SYSTEMTIME local{}, utc{};
    if (!start.ToSystemTime(local) || !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc))
        return "-";
    return FormatSealTime(utc, true);
}

}  // namespace

CSealer::~CSealer()
{
    m_stamper.Stop();  // hands over nothing more
    m_bHurry = true;
    {
        std::lock_guard lock(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::wstring CSealer::LogPath(const std::wstring& folder)
{
    return ProgramDataFolder(folder) + L"\\" + CSealLog::kFileName;
}

void CSealer::PostRecording(const std::wstring& folder, const std::wstring& path, const char* origin, CDateTime start,
                            const SealContext* atStart, const SealContext* atEnd, const SealEncoder& encoder)
{
    Job job{folder, path, {}, {}};
    CSealRecord& r = job.record;
    r.Set(CSealRecord::kKindKey, "recording");
    r.Set("origin", origin);
    r.Set("name", ToUtf8(PathFindFileNameW(path.c_str())));
    for (const char* measured : {"size", "sha256"})
        r.Set(measured, "-");
    if (atStart) {
        r.Set("start_local", FormatSealTime(atStart->local, false));
        r.Set("start_utc", FormatSealTime(atStart->utc, true));
        r.Set("utc_source", atStart->bNetworkTime ? "network" : "machine");
    } else {
        r.Set("start_local", LocalText(start));
        r.Set("start_utc", UtcOfLocal(start));
        r.Set("utc_source", "machine");
    }
    for (const char* measured : {"positions", "pictures", "dropped", "screen"})
        r.Set(measured, "-");
    const SealContext* last = atEnd ? atEnd : atStart;
    r.Set("server", last && !last->strServer.empty() ? last->strServer : "-");
    SetContext(r, "start", atStart);
    SetContext(r, "end", atEnd);
    r.Set("reply_age_ms", last && last->llReplyAgeMs >= 0 ? std::to_string(last->llReplyAgeMs) : "-");
    r.Set("overlay_name", last && last->bOverlay ? ToUtf8(last->strName) : "-");
    r.Set("overlay_platform", last && last->bOverlay ? ToUtf8(last->strPlatform) : "-");
    r.Set("overlay_account", last && last->bOverlay ? ToUtf8(last->strAccount) : "-");
    SetEncoder(r, encoder);
    Post(std::move(job));
}

void CSealer::PostRemoval(const std::wstring& folder, const std::wstring& name, ULONGLONG size, const char* reason)
{
    Job job{folder, {}, {}, {}};
    job.record.Set(CSealRecord::kKindKey, "removed");
    job.record.Set("name", ToUtf8(name));
    job.record.Set("size", std::to_string(size));
    job.record.Set("reason", reason);
    job.record.Set("at_utc", CSealLog::NowUtc());
    Post(std::move(job));
}

void CSealer::ConfigureStamping(const StampSettings& settings, const CStamper::Timing& timing)
{
    m_stamper.Configure(settings, timing);
}

void CSealer::RequestStamp()
{
    if (m_stamper.IsConfigured()) {
        Job job;
        job.bStampSoon = true;
        Post(std::move(job));
    }
}

void CSealer::PostUnsealedCheck(const std::wstring& folder,
                                std::vector<std::pair<std::wstring, ULONGLONG>> recordings)
{
    if (!recordings.empty())
        Post(Job{folder, {}, {}, std::move(recordings)});
}

std::string_view CSealer::NameField(std::string_view line)
{
    // A value holds no tab (it is written as \t), and no other key ends in "\tname".
    const std::size_t from = line.find("\tname=");
    if (from == std::string_view::npos)
        return {};
    const std::string_view rest = line.substr(from + 6);
    return rest.substr(0, rest.find('\t'));
}

std::map<std::wstring, LONGLONG> CSealer::SealedStarts(const std::wstring& folder, const std::set<std::wstring>& names)
{
    std::set<std::string, std::less<>> wanted;
    for (const std::wstring& name : names)
        wanted.insert(ToUtf8(name));
    std::map<std::wstring, LONGLONG> starts;
    (void)CSealLog::ForEachLine(LogPath(folder), [&](CSealLog::Line&& line) {
        // A log grows by a year's records a year: only those of catalogued names are parsed.
        if (!wanted.count(NameField(line.text)))
            return;
        CSealRecord record;
        if (CSealRecord::Parse(line.text, record) == CSealRecord::Parsed::kMalformed)
            return;
        const std::wstring name = FromUtf8(record.Get("name"));
        const std::string kind = record.Get(CSealRecord::kKindKey);
        long long startMs = 0;
        if (!names.count(name) || (kind != "recording" && kind != "removed"))
            return;
        if (kind == "removed" || !ParseSealTime(record.Get("start_utc"), true, startMs)) {
            starts.erase(name);  // a later file of the same name is not this one
            return;
        }
        // Network time when there was one, else the machine's clock: the order is the machine's.
        const long long offsetMs = record.GetNumber("offset_start_ms", 0);
        starts[name] = (startMs + (record.Get("utc_source") == "network" ? offsetMs : 0)) * 10000;
    });
    return starts;
}

void CSealer::Post(Job job)
{
    std::lock_guard lock(m_lock);
    m_queue.push_back(std::move(job));
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Work(); });
    m_wake.notify_one();
}

bool CSealer::WaitIdle(DWORD timeoutMs)
{
    m_bHurry = true;
    std::unique_lock lock(m_lock);
    const bool idle =
        m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_queue.empty() && !m_bBusy; });
    m_bHurry = false;
    return idle;
}

void CSealer::Work()
{
    // The lowest priority that still keeps up: hashing must never take a core from the capture.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    std::unique_lock lock(m_lock);
    for (;;) {
        const auto ready = [this] { return m_bStop || !m_queue.empty(); };
        if (m_unwritten.empty())
            m_wake.wait(lock, ready);
        else
            m_wake.wait_for(lock, std::chrono::milliseconds(kRetryMs), ready);
        if (m_queue.empty() && m_bStop)
            break;  // every job is sealed
        m_bBusy = true;
        std::optional<Job> job;
        if (!m_queue.empty()) {
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        lock.unlock();
        try {
            if (job)
                Seal(*job);
            else
                WriteUnwritten();  // a full disk may have room again
        } catch (...) {
            // Out of memory while reading: the file stays unsealed and the verifier will say so.
        }
        lock.lock();
        m_bBusy = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
    lock.unlock();
    // The last chance before the program ends; what still fails is reported at the next start.
    try {
        WriteUnwritten();
    } catch (...) {
    }
    m_idle.notify_all();
}

void CSealer::Seal(Job& job)
{
    if (job.bStampSoon) {
        m_stamper.StampSoon();
        return;
    }
    if (!job.check.empty()) {
        CheckUnsealed(job);
        return;
    }
    if (!job.strHashPath.empty()) {
        (void)Measure(job.strHashPath, job.record);
        job.record.Set("sealed_utc", CSealLog::NowUtc());
    }
    m_unwritten.push_back(std::move(job));
    WriteUnwritten();
}

void CSealer::WriteUnwritten()
{
    while (!m_unwritten.empty()) {
        if (!OpenLog(m_unwritten.front().strFolder))
            return;
        const CSealRecord& record = m_unwritten.front().record;
        const HRESULT hr = m_log.Append(record);
        if (FAILED(hr) && hr != E_INVALIDARG) {
            m_log.Close();
            return;
        }  // a record the layout refuses would refuse again forever: it stays unsealed, never blocks the rest
        if (SUCCEEDED(hr))
            m_stamper.NoteHead(m_unwritten.front().strFolder, m_log.LastSeq(), m_log.LastHash(),
                               record.Get(CSealRecord::kKindKey) == "recording");
        m_unwritten.pop_front();
    }
}

void CSealer::CheckUnsealed(const Job& job)
{
    // The last word of the log on each recording: its seal or a notice (true), or its removal.
    std::map<std::string, bool, std::less<>> known;
    for (const auto& [name, size] : job.check)
        known.emplace(ToUtf8(name), false);
    (void)CSealLog::ForEachLine(LogPath(job.strFolder), [&](CSealLog::Line&& line) {
        if (!known.count(NameField(line.text)))
            return;
        CSealRecord record;
        if (CSealRecord::Parse(line.text, record) == CSealRecord::Parsed::kMalformed)
            return;
        const std::string kind = record.Get(CSealRecord::kKindKey);
        const auto it = known.find(record.Get("name"));
        if (it != known.end() && (kind == "recording" || kind == "unsealed" || kind == "removed"))
            it->second = kind != "removed";
    });
    for (const Job& waiting : m_unwritten)
        if (waiting.strFolder == job.strFolder && known.count(waiting.record.Get("name")))
            known[waiting.record.Get("name")] = true;
    for (const auto& [name, size] : job.check) {
        if (known[ToUtf8(name)])
            continue;
        Job notice{job.strFolder, {}, {}, {}};
        notice.record.Set(CSealRecord::kKindKey, "unsealed");
        notice.record.Set("name", ToUtf8(name));
        notice.record.Set("size", std::to_string(size));
        notice.record.Set("at_utc", CSealLog::NowUtc());
        m_unwritten.push_back(std::move(notice));
    }
    WriteUnwritten();
}

bool CSealer::OpenLog(const std::wstring& folder)
{
    const std::wstring path = LogPath(folder);
    if (m_log.IsOpen() && m_log.Path() == path)
        return true;
    std::string fragment;
    if (FAILED(m_log.Open(path, &fragment)))
        return false;
    if (!fragment.empty())
        RestoreCut(folder, fragment);
    return true;
}

void CSealer::RestoreCut(const std::wstring& folder, const std::string& fragment)
{
    // Only fields the cut left whole: every field but the last one, which may be cut short.
    CSealRecord cut;
    for (std::size_t from = 0;;) {
        const std::size_t end = fragment.find('\t', from);
        if (end == std::string::npos)
            break;
        const std::string field = fragment.substr(from, end - from);
        const std::size_t equals = field.find('=');
        std::string value;
        if (equals != std::string::npos && CSealRecord::Unescape(field.substr(equals + 1), value))
            cut.Set(field.substr(0, equals), value);
        from = end + 1;
    }
    const std::string kind = cut.Get(CSealRecord::kKindKey), name = cut.Get("name");
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos)
        return;
    const std::wstring path = folder + L"\\" + FromUtf8(name);
    const bool present = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    CSealRecord again;
    for (const auto& [key, value] : cut.m_fields)
        if (key != CSealRecord::kSeqKey && key != CSealRecord::kPrevKey)
            again.Set(key, value);
    again.Set("restored", "cut");
    if (kind == "recording" && present) {
        (void)Measure(path, again);
        again.Set("sealed_utc", CSealLog::NowUtc());
        (void)m_log.Append(again);
    } else if (kind == "removed" && !present) {
        (void)m_log.Append(again);
    }
}

bool CSealer::Measure(const std::wstring& path, CSealRecord& record)
{
    // No writer may be at work while the file is measured; retention may delete it meanwhile (the
    // removal is sealed after this record), so the hashing must never make that delete fail.
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    ULONGLONG size = 0;
    const std::string hash = CSha256::OfFile(file.Get(), size, [this] {
        if (!m_bHurry)
            Sleep(kPauseAfterReadMs);
    });
    if (hash.empty())
        return false;
    record.Set("size", std::to_string(size));
    record.Set("sha256", hash);
    const std::vector<CRecordingRepair::Chunk> chunks = CRecordingRepair::FindChunks(file.Get());
    std::size_t dropped = 0;
    for (const CRecordingRepair::Chunk& chunk : chunks)
        dropped += chunk.dwSize == 0 ? 1 : 0;
    record.Set("positions", std::to_string(chunks.size()));
    record.Set("pictures", std::to_string(chunks.size() - dropped));
    record.Set("dropped", std::to_string(dropped));
    int width = 0, height = 0;
    if (CRecordingRepair::FindFirstPicture(file.Get(), chunks, width, height) < chunks.size())
        record.Set("screen", std::to_string(width) + "x" + std::to_string(height));
    return true;
}
