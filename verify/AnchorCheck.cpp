#include "verify/AnchorCheck.h"

#include "timestore/SealFormat.h"
#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"
#include "timestore/TrustRoots.h"

void CAnchorCheck::Feed(long long line, const CSealRecord& record, const CTrustRoots& roots, const Problem& problem)
{
    const long long seq = record.GetNumber(CSealRecord::kSeqKey);
    const std::string kind = record.Get(CSealRecord::kKindKey);
    if (kind == "stamp")
        CheckStamp(line, record, roots, problem);
    if (seq > m_nAnchoredSeq)  // a later stamp may cover this one, a stamp too
        m_kept[seq] = {record.Get(CSealRecord::kHashKey), kind == "stamp", kind == "recording", record.Get("name"),
                       record.Get("start_utc")};
}

void CAnchorCheck::CheckStamp(long long line, const CSealRecord& r, const CTrustRoots& roots, const Problem& problem)
{
    const std::string where = "line " + std::to_string(line) + " (seq " + r.Get(CSealRecord::kSeqKey) +
                              ", stamp by " + CSealFormat::Printable(r.Get("tsa")) + ")";
    const long long covers = r.GetNumber("covers_seq");
    const std::string coversHash = r.Get("covers_hash");
    const auto covered = m_kept.find(covers);
    std::string imprint, token;
    if (covered == m_kept.end() || covered->second.strHash != coversHash)
        return problem(line, where + ": covers seq " + std::to_string(covers) +
                                 (covers < m_nAnchoredSeq ? ", behind the stamps before it"
                                                          : ", which is not in the chain before it with that hash"));
    if (!CTimeStampRequest::HexToBytes(coversHash, imprint) || !CTimeStampToken::FromBase64(r.Get("token"), token))
        return problem(line, where + ": bad token: not readable");
    CTimeStampToken::Checked checked;
    if (const std::string bad = CTimeStampToken::Check(token, imprint, {}, roots, checked); !bad.empty())
        return problem(line, where + ": bad token: " + bad);
    const std::string genText = CTimeStampInfo::FormatUtc(checked.info.llGenTimeMs);
    if (r.Get("gen_time") != genText || r.Get("serial") != checked.info.strSerial)
        return problem(line, where + ": its gen_time or serial is not the token's (" + genText + ", " +
                                 checked.info.strSerial + ")");
    if (checked.info.llGenTimeMs < m_llLastGenTime)
        problem(line, where + ": genTime goes back: " + genText + " comes after a stamp of " + m_strLastGenText);
    // Recordings first covered by this stamp cannot have started after it vouched for them (give or
    // take what the token itself allows).
    for (auto it = m_kept.upper_bound(m_nAnchoredSeq); it != m_kept.end() && it->first <= covers; ++it) {
        long long start = 0;
        if (it->second.bRecording && ParseSealTime(it->second.strStartUtc, true, start) &&
            start > checked.info.llGenTimeMs + checked.info.llLatitudeMs)
            problem(line, where + ": time contradiction: " + CSealFormat::Printable(it->second.strName) + " (seq " +
                              std::to_string(it->first) + ") starts at " + it->second.strStartUtc +
                              ", after the genTime " + genText + " that covers it");
        if (it->second.bRecording)
            m_strAnchoredName = it->second.strName;
    }
    m_llLastGenTime = std::max(m_llLastGenTime, checked.info.llGenTimeMs);
    m_strLastGenText = genText;
    ++m_nStamps;
    m_nAnchoredSeq = std::max(m_nAnchoredSeq, covers);
    m_strGenTime = genText;
    m_strTsa = r.Get("tsa");
    // Everything before the anchor is settled; the anchored record stays for stamps that name it again.
    m_kept.erase(m_kept.begin(), m_kept.lower_bound(m_nAnchoredSeq));
}

bool CAnchorCheck::AllAnchored() const
{
    for (auto it = m_kept.upper_bound(m_nAnchoredSeq); it != m_kept.end(); ++it)
        if (!it->second.bStamp)
            return false;
    return true;
}

std::string CAnchorCheck::Summary() const
{
    long long records = 0, recordings = 0, first = 0;
    for (auto it = m_kept.upper_bound(m_nAnchoredSeq); it != m_kept.end(); ++it) {
        if (it->second.bStamp)
            continue;
        first = first ? first : it->first;
        ++records;
        recordings += it->second.bRecording ? 1 : 0;
    }
    std::string text = "Anchored: ";
    if (m_nAnchoredSeq == 0)
        text += "nothing (no good time stamp)";
    else
        text += "up to seq " + std::to_string(m_nAnchoredSeq) +
                (m_strAnchoredName.empty() ? "" : " (recording " + CSealFormat::Printable(m_strAnchoredName) + ")") +
                " by " + m_strGenTime + " (UTC), by " + CSealFormat::Printable(m_strTsa) + "; " +
                std::to_string(m_nStamps) + " good stamps";
    if (records > 0)
        text += "; not anchored yet: seq " + std::to_string(first) + " onwards (" + std::to_string(records) +
                " records, " + std::to_string(recordings) + " recordings)";
    else if (m_nAnchoredSeq > 0)
        text += "; every record is anchored";
    return text;
}
