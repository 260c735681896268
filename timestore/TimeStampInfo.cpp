#include "timestore/TimeStampInfo.h"

#include <windows.h>

#include "framework/DateTime.h"
#include "timestore/DerReader.h"
#include "timestore/SealRecord.h"
#include "framework/Hex.h"

bool CTimeStampInfo::Parse(std::string_view der, CTimeStampInfo& info, std::string& problem)
{
    info = {};
    CDerReader::Element top, version, policy, algorithm, hashed, serial, time, nonce;
    CDerReader::Element skipped;
    CDerReader body, imprint, algorithmId;
    if (!CDerReader::Single(der, CDerReader::kSequence, top))
        return problem = "its signed contents are not a time-stamp (TSTInfo)", false;
    body = CDerReader(top.content);
    if (!body.Read(CDerReader::kInteger, version) || CDerReader::SmallInteger(version.content) != 1)
        return problem = "its TSTInfo is not version 1", false;
    if (!body.Read(CDerReader::kObjectId, policy) || (info.strPolicy = CDerReader::ObjectId(policy.content)).empty())
        return problem = "its TSTInfo has no readable policy", false;
    if (!body.Enter(CDerReader::kSequence, imprint) || !imprint.Enter(CDerReader::kSequence, algorithmId) ||
        !algorithmId.Read(CDerReader::kObjectId, algorithm) || !imprint.Read(CDerReader::kOctetString, hashed) ||
        !imprint.AtEnd())
        return problem = "its TSTInfo has no readable message imprint", false;
    if (CDerReader::ObjectId(algorithm.content) != kSha256Oid || hashed.content.size() != 32 ||
        !(algorithmId.AtEnd() || (algorithmId.Read(CDerReader::kNull, skipped) && skipped.content.empty() &&
                                  algorithmId.AtEnd())))
        return problem = "its message imprint is not a SHA-256 hash", false;
    info.strImprint = std::string(hashed.content);
    if (!body.Read(CDerReader::kInteger, serial) || !CDerReader::MinimalInteger(serial.content) || serial.content.size() > 20)
        return problem = "its TSTInfo has no readable serial number", false;
    info.strSerial = HexOf(serial.content);
    if (!body.Read(CDerReader::kGeneralizedTime, time) || !ParseGeneralizedTime(time.content, info.llGenTimeMs))
        return problem = "its genTime is not a valid time", false;
    const std::size_t dot = time.content.find('.');
    info.llLatitudeMs = dot == std::string_view::npos ? 1000 : time.content.size() - dot - 2 >= 3 ? 1
                                                       : time.content.size() - dot - 2 == 2 ? 10 : 100;
    if (CDerReader accuracy; body.Enter(CDerReader::kSequence, accuracy)) {
        // seconds, [0] milliseconds, [1] microseconds, each optional
        const std::uint8_t tags[] = {CDerReader::kInteger, 0x80, 0x81};
        const long long scale[] = {1000000, 1000, 1};
        long long micros = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            CDerReader::Element part;
            const long long value = accuracy.Read(tags[i], part) ? CDerReader::SmallInteger(part.content) : 0;
            if (value < 0 || value > 1000000000)
                return problem = "its accuracy is not valid", false;
            micros += value * scale[i];
        }
        if (!accuracy.AtEnd())
            return problem = "its accuracy is not valid", false;
        info.llLatitudeMs += (micros + 999) / 1000;
    }
    (void)body.Read(CDerReader::kBoolean, skipped);  // ordering: not needed for what a stamp proves
    if (body.Read(CDerReader::kInteger, nonce)) {
        if (!CDerReader::MinimalInteger(nonce.content))
            return problem = "its nonce is not a valid integer", false;
        info.strNonce = std::string(nonce.content);
    }
    (void)body.Read(CDerReader::kContext0, skipped);  // the TSA's name
    (void)body.Read(CDerReader::kContext1, skipped);  // extensions
    if (!body.AtEnd())
        return problem = "its TSTInfo holds unexpected fields", false;
    return true;
}

bool CTimeStampInfo::ParseGeneralizedTime(std::string_view text, long long& ms)
{
    // YYYYMMDDhhmmss, an optional fraction without trailing zeros, then Z (DER's only form).
    if (text.size() < 15 || text.back() != 'Z')
        return false;
    const std::string_view whole = text.substr(0, 14), rest = text.substr(14, text.size() - 15);
    if (whole.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    int milli = 0;
    if (!rest.empty()) {
        if (rest.size() < 2 || rest[0] != '.' || rest.back() == '0' ||
            rest.find_first_not_of("0123456789", 1) != std::string_view::npos)
            return false;
        for (std::size_t i = 1; i < 4; ++i)
            milli = milli * 10 + (i < rest.size() ? rest[i] - '0' : 0);
    }
    const auto number = [&](std::size_t at, std::size_t n) {
        int value = 0;
        for (std::size_t i = 0; i < n; ++i)
            value = value * 10 + (whole[at + i] - '0');
        return value;
    };
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(number(0, 4)), st.wMonth = static_cast<WORD>(number(4, 2));
    st.wDay = static_cast<WORD>(number(6, 2)), st.wHour = static_cast<WORD>(number(8, 2));
    st.wMinute = static_cast<WORD>(number(10, 2)), st.wSecond = static_cast<WORD>(number(12, 2));
    st.wMilliseconds = static_cast<WORD>(milli);
    FILETIME ft{};
    SYSTEMTIME back{};
    // The round trip refuses 31 April, 29 February of common years, hour 24 and second 60.
    if (st.wYear < 1601 || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || !SystemTimeToFileTime(&st, &ft) ||
        !FileTimeToSystemTime(&ft, &back) || back.wDay != st.wDay || back.wMonth != st.wMonth)
        return false;
    ms = static_cast<long long>(FileTimeTicks(ft) / 10000);
    return true;
}

std::string CTimeStampInfo::FormatUtc(long long ms)
{
    SYSTEMTIME st{};
    if (!SystemTimeOfMs(ms, st))
        return "-";
    return FormatSealTime(st, true);
}
