#include "verify/FolderCheck.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "framework/Handles.h"
#include "framework/Utf8.h"
#include "timestore/RecordingName.h"
#include "framework/Sha256.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "timestore/SealLogReader.h"
#include "timestore/SealRecord.h"
#include "verify/Moment.h"

namespace {

// Gaps shorter than this are the hand-over from one file to the next, not time without recording.
constexpr long long kGapMs = 1000;
// No recording is longer than this many positions (ten years); a larger count cannot overflow a time.
constexpr long long kMaxPositions = 3'200'000'000LL;

std::string Show(std::string_view text)
{
    return CSealFormat::Printable(text);
}

std::string LineText(long long line, const CSealRecord& record)
{
    std::string text = "line " + std::to_string(line) + " (seq " + record.Get(CSealRecord::kSeqKey);
    if (record.Has("name"))
        text += ", " + Show(record.Get("name"));
    return text + ")";
}

// A recording-named file of the folder, measured once.
struct Present {
    ULONGLONG size = 0;
    std::string hash;
    bool bRead = false;
    long long llEntry = -1;         // the sealed recording that names it
    long long llRenamedFrom = -1;   // a sealed recording whose contents it holds
    long long llUnsealedLine = 0;   // a record of the program saying it could not seal it
    std::string strSealedSize, strSealedHash;
};

Present Measure(const std::wstring& path)
{
    Present present;
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file) {
        present.hash = CSha256::OfFile(file.Get(), present.size);
        present.bRead = !present.hash.empty();
    }
    return present;
}

long long Count(const CSealRecord& record, std::string_view key)
{
    const long long value = record.GetNumber(key, 0);
    return std::clamp(value, 0LL, kMaxPositions);
}

// A malformed line waits for the next one: a `resumed` record naming its hash makes it a cut line.
struct Pending {
    long long llLine = 0;
    std::string strText, strWhy;
    bool bEnded = true;
    bool bActive = false;
};

}  // namespace

const char* VerdictText(CFolderCheck::Verdict verdict)
{
    switch (verdict) {
        case CFolderCheck::Verdict::kIntact:
            return "intact";
        case CFolderCheck::Verdict::kAltered:
            return "ALTERED";
        case CFolderCheck::Verdict::kMissingExplained:
            return "missing, explained";
        case CFolderCheck::Verdict::kMissingUnexplained:
            return "MISSING, UNEXPLAINED";
        case CFolderCheck::Verdict::kUnsealed:
            return "UNSEALED";
        case CFolderCheck::Verdict::kNotExported:
            return "not in this export";
    }
    return "?";
}

std::wstring CFolderCheck::LogPath() const
{
    return m_strFolder + L"\\LumenoData\\" + CSealLog::kFileName;
}

void CFolderCheck::Note(long long line, std::string text, bool tamper)
{
    (tamper ? m_llTamperings : m_llNotes) += 1;
    if (m_findings.size() < kMaxFindings)
        m_findings.push_back({line, std::move(text), tamper});
}

void CFolderCheck::Run()
{
    m_source = Source::kLog;
    m_findings.clear();
    m_recordings.clear();
    m_exports.clear();
    m_reasons.clear();
    m_llTamperings = m_llNotes = m_llLines = m_llEndedLines = m_nRecords = m_llFirstLayout = m_llHeadSeq = 0;
    m_strHead.clear();
    m_bCutAtEnd = false;
    m_anchor.Reset();
    const DWORD attributes = GetFileAttributesW(m_strFolder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_source = Source::kNoFolder;
        return;
    }
    CheckChain();
}

void CFolderCheck::CheckChain()
{
    // The recording-named files of the folder first: what the log says is compared as it is read.
    std::unordered_map<std::string, Present> present;
    std::unordered_map<std::string, std::string> byHash;  // contents -> a file that holds them
    {
        WIN32_FIND_DATAW entry{};
        const lumeno::UniqueFind finder(FindFirstFileW((m_strFolder + L"\\*").c_str(), &entry));
        if (finder) {
            do {
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    ParseRecordingStart(entry.cFileName).IsValid()) {
                    Present& file = present[ToUtf8(entry.cFileName)] = Measure(m_strFolder + L"\\" + entry.cFileName);
                    if (file.bRead)
                        byHash.emplace(file.hash, ToUtf8(entry.cFileName));
                }
            } while (FindNextFileW(finder.Get(), &entry));
        }
    }

    // Sealed recordings in the order of their first seal (a deque never moves an element, so the
    // names stay where byName sees them until the sort at the end).
    std::deque<Recording>& sealed = m_recordings;
    std::unordered_map<std::string_view, std::size_t> byName;
    CSealLogReader reader;
    if (!reader.Open(LogPath())) {
        const DWORD error = GetLastError();
        m_source = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Source::kNoLog
                                                                                   : Source::kUnreadableLog;
    }
    std::string previous = CSealRecord::kNoPrevious;
    long long lastSeq = 0;
    Pending pending;
    const auto settle = [&](const CSealRecord* next) {
        if (!pending.bActive)
            return;
        pending.bActive = false;
        const bool continued = next && next->Get(CSealRecord::kKindKey) == "resumed" &&
                               next->Get("cut_sha256") == CSha256::OfText(pending.strText);
        m_bCutAtEnd = !continued && !pending.bEnded;
        const std::string at = "line " + std::to_string(pending.llLine) + ": ";
        if (continued)
            Note(pending.llLine,
                 at + "record cut short (the program stopped while writing it); continued at line " +
                     std::to_string(pending.llLine + 1),
                 false);
        else if (m_bCutAtEnd)
            Note(pending.llLine, at + "last record cut short (the program stopped while writing it)", false);
        else
            Note(pending.llLine, at + "not a seal record (" + pending.strWhy + "): damaged or edited", true);
    };

    CSealLogReader::Line line;
    CSealRecord record;
    while (m_source == Source::kLog && reader.Next(line)) {
        m_llLines = line.llNumber;
        if (line.ended)
            m_llEndedLines = line.llNumber;
        const CSealFormat::Reading reading =
            line.bTooLong ? CSealFormat::Reading{CSealRecord::Parsed::kMalformed, CSealFormat::Layout::kCurrent,
                                                 "longer than any record"}
                          : CSealFormat::Read(line.text, record);
        if (reading.result == CSealRecord::Parsed::kMalformed) {
            settle(nullptr);
            pending = {line.llNumber, line.bTooLong ? std::string() : line.text, reading.strWhy, line.ended, true};
            continue;
        }
        settle(&record);
        const long long n = line.llNumber;
        const long long seq = record.GetNumber(CSealRecord::kSeqKey);
        if (reading.result == CSealRecord::Parsed::kBadHash)
            Note(n, LineText(n, record) + ": edited: its contents do not match its own hash", true);
        else if (record.Get(CSealRecord::kPrevKey) != previous)
            Note(n,
                 seq > lastSeq + 1 ? "records seq " + std::to_string(lastSeq + 1) +
                                         (seq - 1 > lastSeq + 1 ? " to " + std::to_string(seq - 1) : "") +
                                         " are not before " + LineText(n, record) + " (removed or moved)"
                 : seq <= lastSeq ? LineText(n, record) + ": out of order after seq " + std::to_string(lastSeq) +
                                        " (records moved, swapped or inserted)"
                                  : LineText(n, record) +
                                        ": does not follow the record before it (a record was replaced or inserted)",
                 true);
        else if (seq != lastSeq + 1)
            Note(n, LineText(n, record) + ": numbered out of sequence", true);
        if (reading.layout == CSealFormat::Layout::kFirstRestored)
            ++m_llFirstLayout;
        previous = record.Get(CSealRecord::kHashKey);
        lastSeq = std::max(lastSeq, seq);
        ++m_nRecords;
        m_strHead = previous;
        m_llHeadSeq = lastSeq;

        if (reading.result == CSealRecord::Parsed::kOk)
            m_anchor.Feed(n, record, m_roots, [this](long long at, std::string text) { Note(at, std::move(text), true); });
        const std::string kind = record.Get(CSealRecord::kKindKey);
        if (kind == "export") {
            ExportScope scope{n, 0, 0, seq - 1, record.Get(CSealRecord::kPrevKey)};
            if (ParseMoment(record.Get("from"), scope.llFromMs) && ParseMoment(record.Get("to"), scope.llToMs))
                m_exports.push_back(std::move(scope));
            continue;
        }
        const std::string name = record.Get("name");
        if (kind == "unsealed") {
            if (const auto file = present.find(name); file != present.end())
                file->second.llUnsealedLine = n;
            continue;
        }
        if (kind != "recording" && kind != "removed")
            continue;
        auto known = byName.find(name);
        if (kind == "removed") {
            if (known != byName.end()) {
                sealed[known->second].llRemovalLine = n;
                sealed[known->second].pRemovalReason = &*m_reasons.insert(record.Get("reason")).first;
            }
            continue;
        }
        if (known == byName.end()) {
            sealed.emplace_back().strName = name;
            known = byName.emplace(sealed.back().strName, sealed.size() - 1).first;
        }
        Recording& r = sealed[known->second];
        r.llRemovalLine = 0;  // sealed again after a removal: the newest record speaks
        r.bSealed = true;
        r.llLine = n;
        r.llPositions = Count(record, "positions");
        r.llDropped = Count(record, "dropped");
        if (!ParseMoment(record.Get("start_local"), r.llStartMs))
            r.llStartMs = 0;
        const std::string sealedHash = record.Get("sha256");
        if (const auto file = present.find(name); file != present.end()) {
            file->second.llEntry = static_cast<long long>(known->second);
            file->second.strSealedSize = record.Get("size");
            file->second.strSealedHash = sealedHash;
        } else if (const auto same = byHash.find(sealedHash); same != byHash.end()) {
            present[same->second].llRenamedFrom = static_cast<long long>(known->second);
        }
    }
    settle(nullptr);
    if (reader.Failed())
        Note(m_llLines + 1, "line " + std::to_string(m_llLines + 1) + ": the log cannot be read from here on", true);
    if (m_source == Source::kLog && m_llLines == 0)
        m_source = Source::kEmptyLog;
    byName.clear();

    // Each export covers what was sealed before it: a recording outside the span of any export after
    // its record was left out on purpose. The spans that follow each export, intersected, back to front.
    std::vector<std::pair<long long, long long>> kept(m_exports.size());
    for (std::size_t i = m_exports.size(); i-- > 0;) {
        kept[i] = {m_exports[i].llFromMs, m_exports[i].llToMs};
        if (i + 1 < m_exports.size())
            kept[i] = {std::max(kept[i].first, kept[i + 1].first), std::min(kept[i].second, kept[i + 1].second)};
    }
    const auto leftOut = [&](const Recording& r) {
        const auto after = std::upper_bound(m_exports.begin(), m_exports.end(), r.llLine,
                                            [](long long at, const ExportScope& e) { return at < e.llLine; });
        if (after == m_exports.end() || r.llStartMs == 0)
            return false;
        const auto& [from, to] = kept[static_cast<std::size_t>(after - m_exports.begin())];
        return r.EndMs() <= from || r.llStartMs > to;
    };

    for (Recording& r : sealed) {
        const auto file = present.find(r.strName);
        if (file == present.end()) {
            if (r.llRemovalLine > 0) {
                r.verdict = Verdict::kMissingExplained;  // the report names the record
            } else if (leftOut(r)) {
                r.verdict = Verdict::kNotExported;
            } else {
                r.verdict = Verdict::kMissingUnexplained;
                r.strDetail = "sealed, not in the folder, and no record says it was removed";
            }
        } else if (!file->second.bRead) {
            r.verdict = Verdict::kAltered;
            r.strDetail = "cannot be read";
        } else if (std::to_string(file->second.size) != file->second.strSealedSize) {
            r.verdict = Verdict::kAltered;
            const bool shorter = file->second.strSealedSize != "-" &&
                                 file->second.size < std::strtoull(file->second.strSealedSize.c_str(), nullptr, 10);
            r.strDetail = "size " + std::to_string(file->second.size) + " bytes, sealed " +
                          Show(file->second.strSealedSize) + (shorter ? " (cut short)" : "");
        } else if (file->second.hash != file->second.strSealedHash) {
            r.verdict = Verdict::kAltered;
            r.strDetail = "contents differ from the seal (SHA-256 " + file->second.hash.substr(0, 16) + "..., sealed " +
                          Show(file->second.strSealedHash.substr(0, 16)) + "...)";
        } else {
            r.verdict = Verdict::kIntact;
        }
    }
    std::vector<const std::string*> unsealed;
    for (const auto& [name, file] : present)
        if (file.llEntry < 0)
            unsealed.push_back(&name);
    std::sort(unsealed.begin(), unsealed.end(), [](const auto* a, const auto* b) { return *a < *b; });
    std::vector<Recording> unknown;
    for (const std::string* name : unsealed) {
        const Present& file = present[*name];
        Recording& r = unknown.emplace_back();
        r.strName = *name;
        r.verdict = Verdict::kUnsealed;
        r.strDetail = file.llUnsealedLine > 0 ? "the program could not seal it (line " +
                                                    std::to_string(file.llUnsealedLine) + ")"
                                              : "no seal record knows this file";
        // A sealed recording moved to another name still carries its sealed contents.
        if (file.llRenamedFrom >= 0) {
            const Recording& from = sealed[static_cast<std::size_t>(file.llRenamedFrom)];
            if (from.verdict == Verdict::kMissingUnexplained)
                r.strDetail = "holds the sealed contents of " + Show(from.strName) + " (renamed)";
        }
    }
    // A log is written in the order of time: the sort (and its buffer) is for one that is not.
    const auto byStart = [](const Recording& a, const Recording& b) { return a.llStartMs < b.llStartMs; };
    if (!std::is_sorted(m_recordings.begin(), m_recordings.end(), byStart))
        std::stable_sort(m_recordings.begin(), m_recordings.end(), byStart);
    for (Recording& r : unknown)
        m_recordings.push_back(std::move(r));
}

bool CFolderCheck::Passed() const
{
    if (m_source != Source::kLog || m_nRecords == 0 || m_llTamperings > 0 || m_bCutAtEnd)
        return false;
    for (const Recording& r : m_recordings)
        if (r.verdict == Verdict::kAltered || r.verdict == Verdict::kMissingUnexplained ||
            r.verdict == Verdict::kUnsealed)
            return false;
    return !m_bRequireAnchor || m_anchor.AllAnchored();
}

const CFolderCheck::Recording* CFolderCheck::Find(long long momentMs, long long& position) const
{
    for (const Recording& r : m_recordings) {
        if (!r.bSealed || r.llStartMs == 0 || momentMs <= r.llStartMs - 1000 || momentMs >= r.EndMs())
            continue;
        // The name's second may start up to a second before the first picture: a moment in it
        // shows the first picture. Otherwise the first picture taken at or after the moment.
        position = momentMs <= r.llStartMs ? 0 : (momentMs - r.llStartMs + 99) / 100;
        if (position < r.llPositions)
            return &r;
    }
    return nullptr;
}

void CFolderCheck::Report(const std::function<void(std::string_view)>& out) const
{
    out("Folder: " + Show(ToUtf8(m_strFolder)) + "\n");
    const char* failure = nullptr;
    switch (m_source) {
        case Source::kNoFolder:
            out("There is no such folder.\nResult: FAIL (no folder to check)\n");
            return;
        case Source::kNoLog:
            out("Seal log: none (" + Show(ToUtf8(LogPath())) + " is missing)\n");
            failure = "Result: FAIL (no seal log: nothing in this folder is sealed)\n";
            break;
        case Source::kUnreadableLog:
            out("Seal log: " + Show(ToUtf8(LogPath())) + " cannot be read\n");
            failure = "Result: FAIL (the seal log cannot be read)\n";
            break;
        case Source::kEmptyLog:
            out("Seal log: empty\n");
            failure = "Result: FAIL (the seal log is empty: nothing in this folder is sealed)\n";
            break;
        case Source::kLog:
            out("Seal log: " + std::to_string(m_nRecords) + " records, last record's hash " +
                (m_strHead.empty() ? "-" : m_strHead) + "\n");
            break;
    }
    if (m_llFirstLayout > 0)
        out("  note: " + std::to_string(m_llFirstLayout) +
            " records written again after a power cut are in their first layout (read as such)\n");
    for (const ExportScope& e : m_exports)
        out("Export of " + FormatMoment(e.llFromMs) + " to " + FormatMoment(e.llToMs) + " (line " +
            std::to_string(e.llLine) + "), made from the chain up to seq " + std::to_string(e.llSourceSeq) +
            " whose last record's hash is " + e.strSourceHash + "\n");
    out(m_llTamperings > 0 ? "Chain: BROKEN\n" : "Chain: whole\n");
    for (const Finding& finding : m_findings)
        out(std::string(finding.bTamper ? "  ! " : "  note: ") + finding.strText + "\n");
    if (const long long more = m_llTamperings + m_llNotes - static_cast<long long>(m_findings.size()); more > 0)
        out("  ! ... and " + std::to_string(more) + " more problems of the log\n");

    out("Recordings:\n");
    for (const Recording& r : m_recordings) {
        char verdict[32];
        std::snprintf(verdict, sizeof verdict, "  %-22s", VerdictText(r.verdict));
        const std::string detail = r.verdict == Verdict::kMissingExplained
                                       ? "removed (" + Show(r.pRemovalReason ? *r.pRemovalReason : "") + "), line " +
                                             std::to_string(r.llRemovalLine)
                                       : r.strDetail;
        out(verdict + Show(r.strName) + (detail.empty() ? "" : ": " + detail) + "\n");
    }

    out("Timeline (local time, sealed recordings):\n");
    const Recording* previous = nullptr;
    for (const Recording& r : m_recordings) {
        if (!r.bSealed || r.llStartMs == 0 || r.verdict == Verdict::kNotExported)
            continue;
        if (previous && r.llStartMs - previous->EndMs() >= kGapMs)
            out("  gap     " + FormatMoment(previous->EndMs()) + " - " + FormatMoment(r.llStartMs, true) + " (" +
                std::to_string((r.llStartMs - previous->EndMs()) / 1000) + " s not recorded)\n");
        out("  " + FormatMoment(r.llStartMs) + " - " + FormatMoment(r.EndMs(), true) + "  " + Show(r.strName) + "  " +
            std::to_string(r.llPositions) + " positions, " + std::to_string(r.llDropped) + " dropped" +
            (r.verdict == Verdict::kIntact ? "" : std::string("  [") + VerdictText(r.verdict) + "]") + "\n");
        previous = &r;
    }
    if (!failure)
        out(m_anchor.Summary() + "\n");
    out(failure ? failure
        : Passed() && !m_exports.empty()
            ? "Result: PASS (an export: chain whole, every recording of its span present and intact)\n"
        : Passed()              ? "Result: PASS (chain whole, every recording present is intact)\n"
        : m_nRecords == 0       ? "Result: FAIL (the seal log holds no record)\n"
        : m_bCutAtEnd && m_llTamperings == 0
            ? "Result: FAIL (the log ends in a record cut short: the program continues it at its next start)\n"
        : m_bRequireAnchor && !m_anchor.AllAnchored()
            ? "Result: FAIL (see the lines marked above; not everything is anchored yet)\n"
                                : "Result: FAIL (see the lines marked above)\n");
}

std::string CFolderCheck::Report() const
{
    std::string text;
    Report([&](std::string_view part) { text += part; });
    return text;
}
