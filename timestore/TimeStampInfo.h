#pragma once

// What a time-stamp authority signed (TSTInfo): its policy, the imprint it saw, its serial number,
// the time it vouches for and the nonce of the request. Read strictly from DER: anything a TSA or a
// folder hands us that does not read cleanly is refused with the reason.
// A plain value; any thread.

#include <string>
#include <string_view>

class CTimeStampInfo {
public:
    static constexpr const char* kSha256Oid = "2.16.840.1.101.3.4.2.1";

    // False, with the reason in `problem`, for anything but a well-formed version 1 TSTInfo over a
    // SHA-256 imprint.
    [[nodiscard]] static bool Parse(std::string_view der, CTimeStampInfo& info, std::string& problem);
    // A DER GeneralizedTime's contents ("20261207060248.25Z") as milliseconds since 1601-01-01
    // UTC (finer fractions are cut); false for anything DER does not allow.
    [[nodiscard]] static bool ParseGeneralizedTime(std::string_view text, long long& ms);
    // "2026-12-07T06:02:48.250Z", the form of every UTC time in the seal log.
    [[nodiscard]] static std::string FormatUtc(long long ms);

    std::string strPolicy;
    std::string strImprint;  // the 32 raw bytes
    std::string strSerial;   // hexadecimal
    long long llGenTimeMs = 0;
    // How much later than genTime the moment may really have been: the accuracy the authority
    // states plus the last digit genTime is given to (a whole second when it has no fraction).
    long long llLatitudeMs = 0;
    std::string strNonce;  // the INTEGER's contents; empty when the token has none
};
