#pragma once

// One line of the seal log: tab-separated key=value fields in UTF-8, ending with "hash=", the
// SHA-256 of everything before "\thash=". Values escape backslash, tab, carriage return and line
// feed (\\ \t \r \n), so a line is always one line whatever a user typed into the overlay.
// A plain value; any thread.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CSealRecord {
public:
    static constexpr std::string_view kHashKey = "hash";
    static constexpr std::string_view kPrevKey = "prev";
    static constexpr std::string_view kSeqKey = "seq";
    static constexpr std::string_view kKindKey = "kind";
    // The "previous record" of the first record of a log.
    static const std::string kNoPrevious;

    enum class Parsed { kOk, kMalformed, kBadHash };

    // Adds a field, or replaces the value of one already there (it keeps its place).
    void Set(std::string_view key, std::string value);
    // The value of a field, empty when it is missing.
    [[nodiscard]] std::string Get(std::string_view key) const;
    [[nodiscard]] bool Has(std::string_view key) const;
    // A whole number field; fallback when it is missing or not a number.
    [[nodiscard]] long long GetNumber(std::string_view key, long long fallback = -1) const;

    // The complete line (no line end): every field but "hash", then the hash over them.
    [[nodiscard]] std::string Seal() const;

    // Reads a line (no line end) by the one layout of seal records (CSealFormat): kMalformed for
    // anything else; kBadHash when the hash does not match the rest of the line (the fields are read
    // all the same).
    [[nodiscard]] static Parsed Parse(std::string_view line, CSealRecord& record);

    [[nodiscard]] static std::string Escape(std::string_view value);
    [[nodiscard]] static bool Unescape(std::string_view text, std::string& value);

    std::vector<std::pair<std::string, std::string>> m_fields;
};


struct _SYSTEMTIME;
// "2024-03-05 09:31:07.250" for a local time, "2024-03-05T01:31:07.250Z" for a UTC time.
[[nodiscard]] std::string FormatSealTime(const _SYSTEMTIME& st, bool utc);
// The other way: such a text as milliseconds since 1601-01-01 on its own clock; false for anything
// but that form with a real date and time.
[[nodiscard]] bool ParseSealTime(std::string_view text, bool utc, long long& ms);
