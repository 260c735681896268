#pragma once

// Checks the "stamp" records of a seal log as the log is read: each names a record of the chain
// (its seq and hash) and carries a time-stamp authority's token over that hash. A token must check
// (signature, its own digest, imprint, timeStamping usage, a chain to a trusted root at its genTime);
// genTime never goes back along the log; and no recording a stamp covers may claim to have started
// after that stamp's genTime. What the last good stamp covers is "anchored": it existed by then.
// Only the records after the last anchor are kept, so a long log costs no more than its tail.
// One object checks one log on the thread that calls Feed.

#include <functional>
#include <map>
#include <string>

#include "timestore/SealRecord.h"

class CTrustRoots;

class CAnchorCheck {
public:
    // Where problems go: the line of the stamp record and what is wrong with it (printable).
    using Problem = std::function<void(long long line, std::string text)>;

    void Reset() { *this = CAnchorCheck(); }
    // The next whole record whose own hash matches, in the order of the file.
    void Feed(long long line, const CSealRecord& record, const CTrustRoots& roots, const Problem& problem);

    // The report's "Anchored:" line (without the line end).
    [[nodiscard]] std::string Summary() const;
    // Whether every record but the stamps themselves is covered by a good stamp.
    [[nodiscard]] bool AllAnchored() const;

private:
    struct Kept {
        std::string strHash;
        bool bStamp = false;
        bool bRecording = false;
        std::string strName, strStartUtc;
    };

    void CheckStamp(long long line, const CSealRecord& r, const CTrustRoots& roots, const Problem& problem);

    std::map<long long, Kept> m_kept;  // the anchored record and everything after it
    long long m_nStamps = 0;           // good ones
    long long m_nAnchoredSeq = 0;      // the highest seq a good stamp covers
    std::string m_strAnchoredName;     // the last recording up to it
    std::string m_strGenTime, m_strTsa;
    long long m_llLastGenTime = 0;
    std::string m_strLastGenText;
};
