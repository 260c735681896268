#pragma once

// Checks a storage folder (or an export of one) against its seal log: the chain of records, then
// every recording's size and SHA-256, and the timeline the sealed recordings cover. Every file of
// the folder is hostile input: the log is read strictly (CSealFormat) and streamed, never held, and
// work and memory grow linearly with the folder and its log. Only the chain decides what may be
// missing: a removal record, or an export record after a recording's seal whose span leaves it out.
// One object checks one folder on the thread that calls Run.

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "timestore/TrustRoots.h"
#include "verify/AnchorCheck.h"

class CFolderCheck {
public:
    enum class Verdict { kIntact, kAltered, kMissingExplained, kMissingUnexplained, kUnsealed, kNotExported };
    // What there was to check at all.
    enum class Source { kLog, kNoFolder, kNoLog, kUnreadableLog, kEmptyLog };

    // A problem of the log itself; bTamper when it means records were changed, removed or moved.
    struct Finding {
        long long llLine = 0;
        std::string strText;  // printable
        bool bTamper = true;
    };

    struct Recording {
        std::string strName;  // as the folder or the log names it (print through CSealFormat::Printable)
        Verdict verdict = Verdict::kUnsealed;
        std::string strDetail;    // printable; a removal's is made by the report
        bool bSealed = false;
        long long llLine = 0;     // the line of the last record that names it
        long long llStartMs = 0;  // local start, milliseconds since 1601; 0 when the seal does not say
        long long llPositions = 0;
        long long llDropped = 0;
        long long llRemovalLine = 0;                     // the removal record that explains it
        const std::string* pRemovalReason = nullptr;     // in m_reasons
        [[nodiscard]] long long EndMs() const { return llStartMs + llPositions * 100; }
    };

    // An export record of the chain: the span it kept, and the chain it was made from (the record
    // before it, whose hash it names as prev).
    struct ExportScope {
        long long llLine = 0;
        long long llFromMs = 0, llToMs = 0;
        long long llSourceSeq = 0;
        std::string strSourceHash;
    };

    // At most this many findings are kept to report; the rest are counted.
    static constexpr std::size_t kMaxFindings = 1000;

    explicit CFolderCheck(std::wstring folder) : m_strFolder(std::move(folder)) {}

    void Run();
    // A log with records, its chain whole, every file present intact, nothing missing without a
    // record that explains it, no file the chain does not know.
    [[nodiscard]] bool Passed() const;
    // The readable report, line by line: log, recordings, timeline, result.
    void Report(const std::function<void(std::string_view)>& out) const;
    [[nodiscard]] std::string Report() const;

    // The sealed recording whose positions cover a local moment, and the first position at or after
    // it; nullptr when no sealed recording covers it.
    [[nodiscard]] const Recording* Find(long long momentMs, long long& position) const;

    [[nodiscard]] std::wstring LogPath() const;
    [[nodiscard]] const std::wstring& Folder() const { return m_strFolder; }
    [[nodiscard]] bool HasTampering() const { return m_llTamperings > 0; }

    Source m_source = Source::kLog;
    std::vector<Finding> m_findings;  // the first kMaxFindings
    long long m_llTamperings = 0, m_llNotes = 0;
    std::deque<Recording> m_recordings;  // sealed ones by their start, then unsealed files
    std::vector<ExportScope> m_exports;  // in the order of the chain
    long long m_llLines = 0;             // lines read, a cut last line included
    long long m_llEndedLines = 0;        // lines read up to the last line end
    long long m_nRecords = 0;
    long long m_llFirstLayout = 0;  // records read in the first layout of a record written again after a cut
    long long m_llHeadSeq = 0;
    bool m_bCutAtEnd = false;  // the log ends in a record cut short: what it was to say is unknown
    std::set<std::string> m_reasons;  // the removals' reasons, each kept once
    std::string m_strHead;  // hash of the last whole record: the value to note down elsewhere

    // Set before Run: roots trusted besides the system's for time stamps, and whether a record not
    // yet covered by a time stamp fails the check.
    CTrustRoots m_roots;
    bool m_bRequireAnchor = false;
    CAnchorCheck m_anchor;

private:
    void CheckChain();
    void Note(long long line, std::string text, bool tamper);

    std::wstring m_strFolder;
};

[[nodiscard]] const char* VerdictText(CFolderCheck::Verdict verdict);
