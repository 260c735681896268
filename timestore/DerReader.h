#pragma once

// A strict reader of DER, the encoding of time-stamp requests, replies and tokens. Everything it
// reads may come from a stranger (a time-stamp authority, a folder handed to the verifier), so it
// takes only what DER allows: one-byte tags, definite lengths in their shortest form, contents that
// fit inside their parent. It never copies; the bytes it reads must outlive it.
// A plain value; one thread at a time.

#include <cstdint>
#include <string>
#include <string_view>

class CDerReader {
public:
    static constexpr std::uint8_t kBoolean = 0x01, kInteger = 0x02, kOctetString = 0x04, kNull = 0x05,
                                  kObjectId = 0x06, kUtf8String = 0x0C, kGeneralizedTime = 0x18, kSequence = 0x30,
                                  kSet = 0x31, kContext0 = 0xA0, kContext1 = 0xA1;

    struct Element {
        std::uint8_t tag = 0;
        std::string_view content;  // the bytes after the header
        std::string_view whole;    // header and content
    };

    CDerReader() = default;
    explicit CDerReader(std::string_view bytes) : m_rest(bytes) {}

    [[nodiscard]] bool AtEnd() const { return m_rest.empty(); }
    // The next element, whatever its tag; false (and nothing consumed) when it is not well formed.
    [[nodiscard]] bool Next(Element& element);
    // The next element when it has this tag; false (and nothing consumed) otherwise.
    [[nodiscard]] bool Read(std::uint8_t tag, Element& element);
    // A reader of the contents of the next element with this tag.
    [[nodiscard]] bool Enter(std::uint8_t tag, CDerReader& inner);
    // The tag of the next element, 0 at the end.
    [[nodiscard]] std::uint8_t PeekTag() const { return m_rest.empty() ? 0 : static_cast<std::uint8_t>(m_rest[0]); }

    // A whole input that is exactly one element with this tag.
    [[nodiscard]] static bool Single(std::string_view bytes, std::uint8_t tag, Element& element);
    // The dotted form of an object identifier's contents ("1.2.840.113549"); empty when malformed.
    [[nodiscard]] static std::string ObjectId(std::string_view content);
    // Whether an INTEGER's contents are in their shortest form (DER), and whether it is positive.
    [[nodiscard]] static bool MinimalInteger(std::string_view content);
    [[nodiscard]] static bool PositiveInteger(std::string_view content);
    // A non-negative INTEGER of up to 62 bits; -1 for anything else.
    [[nodiscard]] static long long SmallInteger(std::string_view content);

private:
    std::string_view m_rest;
};
