#pragma once

// Checks a storage folder (or an export of one) against its seal log: the chain of records, then
// every recording's size and SHA-256, and the timeline the sealed recordings cover.
// One object checks one folder on the thread that calls Run.

#include <string>
#include <vector>

#include "timestore/SealLog.h"
#include "timestore/SealRecord.h"
#include "timestore/TrustRoots.h"
#include "verify/AnchorCheck.h"

class CFolderCheck {
public:
    enum class Verdict { kIntact, kAltered, kMissingExplained, kMissingUnexplained, kUnsealed, kNotExported };

    // A problem of the log itself; bTamper when it means records were changed, removed or moved.
    struct Finding {
        int nLine = 0;
        std::string strText;
        bool bTamper = true;
    };

    struct Recording {
        std::string strName;
        Verdict verdict = Verdict::kUnsealed;
        std::string strDetail;
        CSealRecord seal;         // the last record that names the file (empty for an unsealed file)
        long long llStartMs = 0;  // local start, milliseconds since 1601 (sealed files)
        long long llPositions = 0;
        long long llDropped = 0;
        [[nodiscard]] long long EndMs() const { return llStartMs + llPositions * 100; }
    };

    explicit CFolderCheck(std::wstring folder) : m_strFolder(std::move(folder)) {}

    void Run();
    // Whole chain, every file present intact, nothing missing without a record that explains it.
    [[nodiscard]] bool Passed() const;
    // The readable report: log, recordings, timeline, result.
    [[nodiscard]] std::string Report() const;

    // The sealed recording whose positions cover a local moment, and the first position at or after
    // it; nullptr when no sealed recording covers it.
    [[nodiscard]] const Recording* Find(long long momentMs, long long& position) const;

    [[nodiscard]] std::wstring LogPath() const;
    [[nodiscard]] const std::wstring& Folder() const { return m_strFolder; }

    std::vector<Finding> m_findings;
    std::vector<Recording> m_recordings;  // sealed ones in the order of their records, then unsealed
    std::vector<CSealLog::Line> m_lines;
    bool m_bLogFound = false;
    long long m_nRecords = 0;
    std::string m_strHead;  // hash of the last whole record: the value to note down elsewhere
    bool m_bExport = false;
    long long m_llExportFrom = 0, m_llExportTo = 0;

    static constexpr const wchar_t* kExportScopeName = L"export.txt";

    // Set before Run: roots trusted besides the system's for time stamps, and whether a record
    // not yet covered by a time stamp fails the check.
    CTrustRoots m_roots;
    bool m_bRequireAnchor = false;
    CAnchorCheck m_anchor;

private:
    void CheckChain();
    void CheckAnchors();
    void CheckFiles();
    void ReadExportScope();

    std::wstring m_strFolder;
    std::vector<CAnchorCheck::Numbered> m_sealed;  // whole records with a matching hash, file order
};

[[nodiscard]] const char* VerdictText(CFolderCheck::Verdict verdict);
