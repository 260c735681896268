#include "verify/AnchorCheck.h"

#include <map>

#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"
#include "timestore/TrustRoots.h"
#include "verify/Moment.h"

namespace {

// "2026-12-07T06:02:48.250Z" as milliseconds since 1601; false for anything else.
bool ParseUtc(std::string text, long long& ms)
{
    if (text.size() != 24 || text[10] != 'T' || text.back() != 'Z')
        return false;
    text[10] = ' ';
    text.pop_back();
    return ParseMoment(text, ms);
}

std::string Where(const CAnchorCheck::Numbered& stamp)
{
    return "line " + std::to_string(stamp.nLine) + " (seq " + stamp.record.Get(CSealRecord::kSeqKey) + ", stamp by " +
           stamp.record.Get("tsa") + ")";
}

}  // namespace

void CAnchorCheck::Run(const std::vector<Numbered>& records, const CTrustRoots& roots)
{
    *this = {};
    std::map<long long, const Numbered*> bySeq;  // records met so far
    long long lastGenTime = 0, coveredUpTo = 0;
    std::string lastGenText;
    const auto checkStamp = [&](const Numbered& entry) {
        const CSealRecord& r = entry.record;
        const long long covers = r.GetNumber("covers_seq");
        const std::string coversHash = r.Get("covers_hash");
        const auto covered = bySeq.find(covers);
        std::string imprint, token;
        if (covered == bySeq.end() || covered->second->record.Get(CSealRecord::kHashKey) != coversHash)
            return m_problems.push_back({entry.nLine, Where(entry) + ": covers seq " + std::to_string(covers) +
                                                          ", which is not in the chain before it with that hash"});
        if (!CTimeStampRequest::HexToBytes(coversHash, imprint) || !CTimeStampToken::FromBase64(r.Get("token"), token))
            return m_problems.push_back({entry.nLine, Where(entry) + ": bad token: not readable"});
        CTimeStampToken::Checked checked;
        if (const std::string problem = CTimeStampToken::Check(token, imprint, {}, roots, checked); !problem.empty())
            return m_problems.push_back({entry.nLine, Where(entry) + ": bad token: " + problem});
        const std::string genText = CTimeStampInfo::FormatUtc(checked.info.llGenTimeMs);
        if (r.Get("gen_time") != genText || r.Get("serial") != checked.info.strSerial)
            return m_problems.push_back({entry.nLine, Where(entry) + ": its gen_time or serial is not the token's (" +
                                                          genText + ", " + checked.info.strSerial + ")"});
        if (checked.info.llGenTimeMs < lastGenTime)
            m_problems.push_back({entry.nLine, Where(entry) + ": genTime goes back: " + genText +
                                                   " comes after a stamp of " + lastGenText});
        // Recordings first covered by this stamp cannot have started after it vouched for them (give
        // or take what the token itself allows).
        for (auto it = bySeq.upper_bound(coveredUpTo); it != bySeq.end() && it->first <= covers; ++it) {
            const CSealRecord& earlier = it->second->record;
            long long start = 0;
            if (earlier.Get(CSealRecord::kKindKey) == "recording" && ParseUtc(earlier.Get("start_utc"), start) &&
                start > checked.info.llGenTimeMs + checked.info.llLatitudeMs)
                m_problems.push_back({entry.nLine, Where(entry) + ": time contradiction: " + earlier.Get("name") +
                                                       " (seq " + std::to_string(it->first) + ") starts at " +
                                                       earlier.Get("start_utc") + ", after the genTime " + genText +
                                                       " that covers it"});
        }
        lastGenTime = std::max(lastGenTime, checked.info.llGenTimeMs);
        lastGenText = genText;
        ++m_nStamps;
        if (covers >= m_nAnchoredSeq) {
            m_nAnchoredSeq = covers;
            m_strGenTime = genText;
            m_strTsa = r.Get("tsa");
        }
        coveredUpTo = std::max(coveredUpTo, covers);
    };
    for (const Numbered& entry : records) {
        const long long seq = entry.record.GetNumber(CSealRecord::kSeqKey);
        m_nLastSeq = std::max(m_nLastSeq, seq);
        if (entry.record.Get(CSealRecord::kKindKey) == "stamp")
            checkStamp(entry);
        bySeq[seq] = &entry;  // a later stamp may cover a stamp too
    }
    for (const Numbered& entry : records) {
        const long long seq = entry.record.GetNumber(CSealRecord::kSeqKey);
        const std::string kind = entry.record.Get(CSealRecord::kKindKey);
        if (kind == "recording" && seq <= m_nAnchoredSeq)
            m_strAnchoredName = entry.record.Get("name");
        if (kind == "stamp" || seq <= m_nAnchoredSeq)
            continue;
        if (m_nUnanchored++ == 0)
            m_nFirstUnanchoredSeq = seq;
        m_nUnanchoredRecordings += kind == "recording" ? 1 : 0;
    }
}

std::string CAnchorCheck::Summary() const
{
    std::string text = "Anchored: ";
    if (m_nAnchoredSeq == 0)
        text += "nothing (no good time stamp)";
    else
        text += "up to seq " + std::to_string(m_nAnchoredSeq) +
                (m_strAnchoredName.empty() ? "" : " (recording " + m_strAnchoredName + ")") + " by " + m_strGenTime +
                " (UTC), by " + m_strTsa + "; " + std::to_string(m_nStamps) + " good stamps";
    if (m_nUnanchored > 0)
        text += "; not anchored yet: seq " + std::to_string(m_nFirstUnanchoredSeq) + " onwards (" +
                std::to_string(m_nUnanchored) + " records, " + std::to_string(m_nUnanchoredRecordings) +
                " recordings)";
    else if (m_nAnchoredSeq > 0)
        text += "; every record is anchored";
    return text;
}
