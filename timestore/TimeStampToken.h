#pragma once

// Checks a time-stamp token (a CMS SignedData over a TSTInfo) with the system's lower-level
// cryptography calls, since the time-stamp helpers of crypt32 are missing on some systems (Wine).
// What the token must show: a valid signature by its one signer; signed attributes naming TSTInfo
// and a messageDigest equal to the digest of the signed contents (compared here: some crypt32
// builds skip that comparison); the imprint of the hash it is meant to cover; the request's nonce
// when one is given; a signer certificate whose extended key usage is present, critical and only
// timeStamping; and a chain from that certificate, at the token's own genTime, to a root of the
// system's store or of the extra roots. Everything a token holds is treated as hostile.
// Plain functions of a class without state; any thread.

#include <string>
#include <string_view>

#include "timestore/TimeStampInfo.h"

class CTrustRoots;

class CTimeStampToken {
public:
    // A token that passes every check: its TSTInfo and the signer's name.
    struct Checked {
        CTimeStampInfo info;
        std::string strSigner;
    };

    // Empty when the token is good; else the reason, in words that name the fault.
    // `imprint` is the 32 raw bytes; `nonce` the request's nonce (empty: not compared).
    [[nodiscard]] static std::string Check(std::string_view token, std::string_view imprint, std::string_view nonce,
                                           const CTrustRoots& roots, Checked& checked);

    // The token inside a TimeStampResp; empty, with the reason in `problem`, when the authority did
    // not grant one or the answer does not read as a reply.
    [[nodiscard]] static std::string FromReply(std::string_view reply, std::string& problem);

    [[nodiscard]] static std::string ToBase64(std::string_view bytes);
    // The bytes of base64 text (no line breaks); false for anything else.
    [[nodiscard]] static bool FromBase64(std::string_view text, std::string& bytes);
};
