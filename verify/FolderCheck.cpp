#include "verify/FolderCheck.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "framework/Handles.h"
#include "framework/Utf8.h"
#include "timestore/RecordingName.h"
#include "framework/Sha256.h"
#include "verify/Moment.h"

namespace {

// Gaps shorter than this are the hand-over from one file to the next, not time without recording.
constexpr long long kGapMs = 1000;

std::string LineText(int line, const CSealRecord& record)
{
    std::string text = "line " + std::to_string(line) + " (seq " + record.Get(CSealRecord::kSeqKey);
    if (record.Has("name"))
        text += ", " + record.Get("name");
    return text + ")";
}

struct Present {
    ULONGLONG size = 0;
    std::string hash;
    bool bRead = false;
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

void CFolderCheck::Run()
{
    m_findings.clear();
    m_recordings.clear();
    ReadExportScope();
    CheckChain();
    CheckFiles();
    CheckAnchors();
}

void CFolderCheck::CheckAnchors()
{
    m_anchor.Run(m_sealed, m_roots);
    for (const CAnchorCheck::Problem& problem : m_anchor.m_problems)
        m_findings.push_back({problem.nLine, problem.strText, true});
}

void CFolderCheck::ReadExportScope()
{
    m_bExport = false;
    const std::vector<CSealLog::Line> scope = CSealLog::ReadLines(m_strFolder + L"\\LumenoData\\" + kExportScopeName);
    CSealRecord fields;
    if (scope.empty() || CSealRecord::Parse(scope.front().text, fields) != CSealRecord::Parsed::kOk)
        return;
    m_bExport = ParseMoment(fields.Get("from"), m_llExportFrom) && ParseMoment(fields.Get("to"), m_llExportTo);
}

void CFolderCheck::CheckChain()
{
    m_lines = CSealLog::ReadLines(LogPath(), &m_bLogFound);
    m_nRecords = 0;
    m_strHead.clear();
    m_sealed.clear();
    std::vector<CSealRecord> records(m_lines.size());
    std::vector<CSealRecord::Parsed> parsed(m_lines.size(), CSealRecord::Parsed::kMalformed);
    std::multiset<long long> seqs;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        parsed[i] = CSealRecord::Parse(m_lines[i].text, records[i]);
        if (parsed[i] != CSealRecord::Parsed::kMalformed)
            seqs.insert(records[i].GetNumber(CSealRecord::kSeqKey));
    }

    std::string previous = CSealRecord::kNoPrevious;
    long long lastSeq = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const int line = static_cast<int>(i) + 1;
        const CSealRecord& record = records[i];
        if (parsed[i] == CSealRecord::Parsed::kMalformed) {
            const bool continued = i + 1 < m_lines.size() && records[i + 1].Get(CSealRecord::kKindKey) == "resumed" &&
                                   records[i + 1].Get("cut_sha256") == CSha256::OfText(m_lines[i].text);
            if (continued)
                m_findings.push_back({line,
                                      "record cut short (the program stopped while writing it); continued at line " +
                                          std::to_string(line + 1),
                                      false});
            else if (!m_lines[i].ended)
                m_findings.push_back({line, "last record cut short (the program stopped while writing it)", false});
            else
                m_findings.push_back({line, "not a seal record: damaged or edited", true});
            continue;
        }
        const long long seq = record.GetNumber(CSealRecord::kSeqKey);
        if (parsed[i] == CSealRecord::Parsed::kOk)
            m_sealed.push_back({line, record});
        if (parsed[i] == CSealRecord::Parsed::kBadHash)
            m_findings.push_back({line, LineText(line, record) + ": edited: its contents do not match its own hash"});
        else if (record.Get(CSealRecord::kPrevKey) != previous) {
            if (seq > lastSeq + 1) {
                bool moved = false;
                for (long long s = lastSeq + 1; s < seq; ++s)
                    moved = moved || seqs.count(s) > 0;
                m_findings.push_back(
                    {line, moved ? LineText(line, record) + ": out of order: seq " + std::to_string(lastSeq + 1) +
                                       " belongs before it (records moved or swapped)"
                                 : "records seq " + std::to_string(lastSeq + 1) +
                                       (seq - 1 > lastSeq + 1 ? " to " + std::to_string(seq - 1) : "") +
                                       " removed before " + LineText(line, record)});
            } else if (seq <= lastSeq) {
                m_findings.push_back(
                    {line, LineText(line, record) + (seqs.count(seq) > 1
                                                         ? ": inserted (its place is taken by another record)"
                                                         : ": out of order after seq " + std::to_string(lastSeq) +
                                                               " (records moved or swapped)")});
            } else {
                m_findings.push_back(
                    {line, LineText(line, record) +
                               ": does not follow the record before it (a record was replaced or inserted)"});
            }
        } else if (seq != lastSeq + 1) {
            m_findings.push_back({line, LineText(line, record) + ": numbered out of sequence"});
        }
        previous = record.Get(CSealRecord::kHashKey);
        lastSeq = std::max(lastSeq, seq);
        ++m_nRecords;
        m_strHead = previous;
    }
}

void CFolderCheck::CheckFiles()
{
    // What the chain says last about each name: sealed, then perhaps removed.
    std::map<std::string, std::size_t> byName;
    std::vector<std::pair<CSealRecord, CSealRecord>> last;  // recording record, removal record
    for (const CSealLog::Line& line : m_lines) {
        CSealRecord record;
        if (CSealRecord::Parse(line.text, record) == CSealRecord::Parsed::kMalformed)
            continue;
        const std::string kind = record.Get(CSealRecord::kKindKey), name = record.Get("name");
        if (kind == "recording") {
            byName[name] = last.size();
            last.push_back({record, {}});
        } else if (kind == "removed" && byName.count(name)) {
            last[byName[name]].second = record;
        }
    }

    std::map<std::string, Present> present;  // recording-named files in the folder
    WIN32_FIND_DATAW entry{};
    const lumeno::UniqueFind finder(FindFirstFileW((m_strFolder + L"\\*").c_str(), &entry));
    if (finder) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ParseRecordingStart(entry.cFileName).IsValid())
                present[ToUtf8(entry.cFileName)] = Measure(m_strFolder + L"\\" + entry.cFileName);
        } while (FindNextFileW(finder.Get(), &entry));
    }

    for (const auto& [name, index] : byName) {
        (void)name;
        const auto& [seal, removal] = last[index];
        Recording r;
        r.strName = seal.Get("name");
        r.seal = seal;
        r.llPositions = std::max(seal.GetNumber("positions", 0), 0LL);
        r.llDropped = std::max(seal.GetNumber("dropped", 0), 0LL);
        if (!ParseMoment(seal.Get("start_local"), r.llStartMs))
            r.llStartMs = 0;
        const auto file = present.find(r.strName);
        if (file == present.end()) {
            if (!removal.m_fields.empty()) {
                r.verdict = Verdict::kMissingExplained;
                r.strDetail = "removed (" + removal.Get("reason") + ") at " + removal.Get("at_utc");
            } else if (m_bExport && (r.EndMs() <= m_llExportFrom || r.llStartMs > m_llExportTo)) {
                r.verdict = Verdict::kNotExported;
            } else {
                r.verdict = Verdict::kMissingUnexplained;
                r.strDetail = "sealed, not in the folder, and no record says it was removed";
            }
        } else if (!file->second.bRead) {
            r.verdict = Verdict::kAltered;
            r.strDetail = "cannot be read";
        } else if (std::to_string(file->second.size) != seal.Get("size")) {
            r.verdict = Verdict::kAltered;
            r.strDetail = "size " + std::to_string(file->second.size) + " bytes, sealed " + seal.Get("size") +
                          (static_cast<long long>(file->second.size) < seal.GetNumber("size") ? " (cut short)" : "");
        } else if (file->second.hash != seal.Get("sha256")) {
            r.verdict = Verdict::kAltered;
            r.strDetail = "contents differ from the seal (SHA-256 " + file->second.hash.substr(0, 16) + "..., sealed " +
                          seal.Get("sha256").substr(0, 16) + "...)";
        } else {
            r.verdict = Verdict::kIntact;
        }
        m_recordings.push_back(std::move(r));
    }
    std::sort(m_recordings.begin(), m_recordings.end(),
              [](const Recording& a, const Recording& b) { return a.llStartMs < b.llStartMs; });

    for (const auto& [name, file] : present) {
        if (byName.count(name))
            continue;
        Recording r;
        r.strName = name;
        r.verdict = Verdict::kUnsealed;
        r.strDetail = "no seal record knows this file";
        // A sealed recording moved to another name still carries its sealed contents.
        for (const Recording& sealed : m_recordings)
            if (file.bRead && sealed.verdict == Verdict::kMissingUnexplained && sealed.seal.Get("sha256") == file.hash)
                r.strDetail = "holds the sealed contents of " + sealed.strName + " (renamed)";
        m_recordings.push_back(std::move(r));
    }
}

bool CFolderCheck::Passed() const
{
    if (!m_bLogFound && !m_recordings.empty())
        return false;
    for (const Finding& finding : m_findings)
        if (finding.bTamper)
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
        if (r.seal.m_fields.empty() || r.llStartMs == 0 || momentMs <= r.llStartMs - 1000 || momentMs >= r.EndMs())
            continue;
        // The name's second may start up to a second before the first picture: a moment in it
        // shows the first picture. Otherwise the first picture taken at or after the moment.
        position = momentMs <= r.llStartMs ? 0 : (momentMs - r.llStartMs + 99) / 100;
        if (position < r.llPositions)
            return &r;
    }
    return nullptr;
}

std::string CFolderCheck::Report() const
{
    std::string out = "Folder: " + ToUtf8(m_strFolder) + "\n";
    if (m_bExport)
        out += "Export of " + FormatMoment(m_llExportFrom) + " to " + FormatMoment(m_llExportTo) + "\n";
    if (!m_bLogFound)
        out += "Seal log: none (" + ToUtf8(LogPath()) + " is missing)\n";
    else
        out += "Seal log: " + std::to_string(m_nRecords) + " records, last record's hash " +
               (m_strHead.empty() ? "-" : m_strHead) + "\n";
    bool tampered = false;
    for (const Finding& finding : m_findings)
        tampered = tampered || finding.bTamper;
    out += tampered ? "Chain: BROKEN\n" : "Chain: whole\n";
    for (const Finding& finding : m_findings)
        out += std::string(finding.bTamper ? "  ! " : "  note: ") +
               (finding.strText.rfind("line", 0) == 0 || finding.strText.rfind("records", 0) == 0
                    ? finding.strText
                    : "line " + std::to_string(finding.nLine) + ": " + finding.strText) +
               "\n";

    out += "Recordings:\n";
    for (const Recording& r : m_recordings) {
        char verdict[32];
        std::snprintf(verdict, sizeof verdict, "  %-22s", VerdictText(r.verdict));
        out += verdict + r.strName + (r.strDetail.empty() ? "" : ": " + r.strDetail) + "\n";
    }

    out += "Timeline (local time, sealed recordings):\n";
    const Recording* previous = nullptr;
    for (const Recording& r : m_recordings) {
        if (r.seal.m_fields.empty() || r.llStartMs == 0 || r.verdict == Verdict::kNotExported)
            continue;
        if (previous && r.llStartMs - previous->EndMs() >= kGapMs)
            out += "  gap     " + FormatMoment(previous->EndMs()) + " - " + FormatMoment(r.llStartMs, true) + " (" +
                   std::to_string((r.llStartMs - previous->EndMs()) / 1000) + " s not recorded)\n";
        out += "  " + FormatMoment(r.llStartMs) + " - " + FormatMoment(r.EndMs(), true) + "  " + r.strName + "  " +
               std::to_string(r.llPositions) + " positions, " + std::to_string(r.llDropped) + " dropped" +
               (r.verdict == Verdict::kIntact ? "" : std::string("  [") + VerdictText(r.verdict) + "]") + "\n";
        previous = &r;
    }
    out += m_anchor.Summary() + "\n";
    out += Passed() ? "Result: PASS (chain whole, every recording present is intact)\n"
                    : m_bRequireAnchor && !m_anchor.AllAnchored()
                          ? "Result: FAIL (see the lines marked above; not everything is anchored)\n"
                          : "Result: FAIL (see the lines marked above)\n";
    return out;
}
