#pragma once

// Checks the "stamp" records of a seal log: each names a record of the chain (its seq and hash)
// and carries a time-stamp authority's token over that hash. A token must check (signature, its
// own digest, imprint, timeStamping usage, a chain to a trusted root at its genTime); genTime never
// goes back along the log; and no recording a stamp covers may claim to have started after that
// stamp's genTime. What the last good stamp covers is "anchored": it existed by that genTime.
// One object checks one log on the thread that calls Run.

#include <string>
#include <vector>

#include "timestore/SealRecord.h"

class CTrustRoots;

class CAnchorCheck {
public:
    struct Numbered {
        int nLine = 0;
        CSealRecord record;
    };
    struct Problem {
        int nLine = 0;
        std::string strText;
    };

    // `records`: the log's whole records whose own hash matches, in the order of the file.
    void Run(const std::vector<Numbered>& records, const CTrustRoots& roots);

    // The report's "Anchored:" line (without the line end).
    [[nodiscard]] std::string Summary() const;
    // Whether every record but the stamps themselves is covered by a good stamp.
    [[nodiscard]] bool AllAnchored() const { return m_nUnanchored == 0; }

    std::vector<Problem> m_problems;
    int m_nStamps = 0;              // good ones
    long long m_nAnchoredSeq = 0;   // the highest seq a good stamp covers
    std::string m_strAnchoredName;  // the last recording up to it
    std::string m_strGenTime, m_strTsa;
    long long m_nUnanchored = 0;    // records after it, stamps not counted
    long long m_nUnanchoredRecordings = 0;
    long long m_nFirstUnanchoredSeq = 0, m_nLastSeq = 0;
};
