#include "timestore/TimeStampRequest.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "framework/Sha256.h"

namespace {

// The DER of one element; every length here is far below 64 KiB.
std::string Element(unsigned char tag, const std::string& content)
{
    std::string der(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        der += static_cast<char>(content.size());
    } else if (content.size() < 0x100) {
        der += '\x81';
        der += static_cast<char>(content.size());
    } else {
        der += '\x82';
        der += static_cast<char>(content.size() >> 8);
        der += static_cast<char>(content.size() & 0xFF);
    }
    return der + content;
}

// AlgorithmIdentifier of SHA-256 (2.16.840.1.101.3.4.2.1) with NULL parameters.
const std::string kSha256Algorithm("\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00", 15);

}  // namespace

CTimeStampRequest CTimeStampRequest::ForHash(std::string_view hexHash)
{
    std::string imprint;
    unsigned char random[kNonceBytes] = {};
    if (!HexToBytes(hexHash, imprint) ||
        !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return {};
    // A positive INTEGER in its shortest form: no leading zero bytes, and one zero byte before a
    // high bit. A nonce of all zeros is drawn with probability 2^-64 and then is 1.
    std::string nonce(reinterpret_cast<const char*>(random), sizeof random);
    nonce.erase(0, std::min(nonce.find_first_not_of('\0'), nonce.size() - 1));
    if (nonce == std::string(1, '\0'))
        nonce = "\x01";
    if (static_cast<unsigned char>(nonce[0]) & 0x80)
        nonce.insert(0, 1, '\0');
    return ForImprint(std::move(imprint), std::move(nonce));
}

CTimeStampRequest CTimeStampRequest::ForImprint(std::string imprint, std::string nonce)
{
    CTimeStampRequest request;
    const std::string body = Element(0x02, "\x01") +                                                // version 1
                             Element(0x30, kSha256Algorithm + Element(0x04, imprint)) +             // imprint
                             Element(0x02, nonce) +                                                 // nonce
                             Element(0x01, "\xff");                                                 // certReq
    request.m_der = Element(0x30, body);
    request.m_imprint = std::move(imprint);
    request.m_nonce = std::move(nonce);
    return request;
}

bool CTimeStampRequest::HexToBytes(std::string_view hex, std::string& bytes)
{
    if (hex.size() != CSha256::kHexLength)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (const char c : hex.substr(i, 2)) {
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                             : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}
