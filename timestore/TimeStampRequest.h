#pragma once

// A request to a time-stamp authority: the SHA-256 imprint of what is to be stamped (here a seal
// record's hash), a fresh random nonce so that an old answer cannot be replayed as a new one, and
// certReq so that the answer carries the certificate needed to check it later without us.
// A plain value; any thread.

#include <string>
#include <string_view>

class CTimeStampRequest {
public:
    static constexpr std::size_t kNonceBytes = 8;

    // A request over the 32 bytes that 64 hexadecimal digits stand for; an empty request (Der()
    // empty) when the text is not such a hash or no random nonce could be had.
    [[nodiscard]] static CTimeStampRequest ForHash(std::string_view hexHash);
    // The same with a nonce given (the contents of a positive DER INTEGER), for checks.
    [[nodiscard]] static CTimeStampRequest ForImprint(std::string imprint, std::string nonce);

    [[nodiscard]] const std::string& Der() const { return m_der; }
    [[nodiscard]] const std::string& Imprint() const { return m_imprint; }
    [[nodiscard]] const std::string& Nonce() const { return m_nonce; }

    // The raw bytes of 64 lower- or upper-case hexadecimal digits; false for anything else.
    [[nodiscard]] static bool HexToBytes(std::string_view hex, std::string& bytes);

private:
    std::string m_imprint, m_nonce, m_der;
};
