#pragma once

// The one definition of a seal record's layout: for each kind of record, its fields in the order the
// log writes them and the kind of value each holds. The log writes every record through Arrange and
// everything that reads a log reads it through Read, so the writer and the verifier cannot drift
// apart. A line is `seq`, `kind`, the kind's fields, `prev`, then `hash` (last and only there).
// Plain functions over constant tables; any thread.

#include <string>
#include <string_view>

#include "timestore/SealRecord.h"

class CSealFormat {
public:
    enum class Value : unsigned char {
        kCount,      // decimal digits, no sign, no leading zero, at most 18 digits
        kSigned,     // a count with an optional minus sign
        kHash,       // 64 lower-case hexadecimal digits
        kLocalTime,  // "YYYY-MM-DD HH:MM:SS.mmm"
        kUtcTime,    // "YYYY-MM-DDTHH:MM:SS.mmmZ"
        kWord,       // a-z and '_', 1 to 32 characters
        kName,       // a file name of the folder itself: no path, drive, device name or odd character
        kAddress,    // a dotted IPv4 address
        kScreen,     // "WIDTHxHEIGHT"
        kText,       // any UTF-8 text a user typed (at most 4096 bytes)
        kHex,        // 1 to 40 lower-case hexadecimal digits (a serial number)
        kBase64,     // base64 without line breaks, at most 48000 characters (a time-stamp token)
    };
    struct Field {
        std::string_view key;
        Value value;
        bool bNone = true;      // "-" (not known) is allowed
        bool bOptional = false;  // may be left out (it then says nothing)
    };

    // Which layout a line was read in: the current one, or the first layout of a record written
    // again after a power cut, which holds only the fields the cut left whole and those measured again.
    enum class Layout { kCurrent, kFirstRestored };

    struct Reading {
        CSealRecord::Parsed result = CSealRecord::Parsed::kMalformed;
        Layout layout = Layout::kCurrent;
        std::string strWhy;  // for a malformed line: what is wrong with it
    };

    static constexpr std::size_t kMaxLineBytes = 64 * 1024;

    // Reads a line (no line end) strictly: every key once, in its kind's order, every value of its
    // kind. kBadHash when the line is well formed but its hash does not match (fields are read).
    [[nodiscard]] static Reading Read(std::string_view line, CSealRecord& record);

    // The record as the log writes it: seq, then the kind's fields in their order ("-" for a field
    // that is not given), then prev. False for an unknown kind, an unknown field, or a value not of
    // its field's kind (nothing is written then).
    [[nodiscard]] static bool Arrange(const CSealRecord& record, long long seq, const std::string& prev,
                                      CSealRecord& line);

    // Whether a value is of the kind (without "-").
    [[nodiscard]] static bool Fits(Value value, std::string_view text);
    // A text of the log made safe to print on one report line: control characters, characters that
    // turn the direction of text, and anything that is not UTF-8 are written as escapes.
    [[nodiscard]] static std::string Printable(std::string_view text);
};
