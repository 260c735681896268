#include "timestore/SealFormat.h"

#include <array>
#include <cstdio>
#include <span>

#include "framework/Sha256.h"

namespace {

using Field = CSealFormat::Field;
using Value = CSealFormat::Value;

constexpr std::string_view kRestoredKey = "restored";

// The fields after `kind`, in the order they are written.
constexpr Field kRecording[] = {
    {"origin", Value::kWord},
    {"name", Value::kName, false},
    {"size", Value::kCount},
    {"sha256", Value::kHash},
    {"start_local", Value::kLocalTime},
    {"start_utc", Value::kUtcTime},
    {"utc_source", Value::kWord},
    {"positions", Value::kCount},
    {"pictures", Value::kCount},
    {"dropped", Value::kCount},
    {"screen", Value::kScreen},
    {"server", Value::kAddress},
    {"offset_start_ms", Value::kSigned},
    {"offset_end_ms", Value::kSigned},
    {"reply_age_ms", Value::kCount},
    {"overlay_name", Value::kText},
    {"overlay_platform", Value::kText},
    {"overlay_account", Value::kText},
    // Which encoder path wrote the file; records written before the path was named lack them.
    {"encoder", Value::kWord, true, true},
    {"processor_from", Value::kCount, true, true},
    {kRestoredKey, Value::kWord, false, true},
    {"sealed_utc", Value::kUtcTime},
};
constexpr Field kRemoved[] = {
    {"name", Value::kName, false}, {"size", Value::kCount},  {"reason", Value::kWord},
    {kRestoredKey, Value::kWord, false, true}, {"at_utc", Value::kUtcTime},
};
constexpr Field kResumed[] = {
    {"cut_line", Value::kCount},
    {"cut_bytes", Value::kCount},
    {"cut_sha256", Value::kHash},
    {"at_utc", Value::kUtcTime},
};
constexpr Field kUnsealed[] = {
    {"name", Value::kName, false},
    {"size", Value::kCount},
    {"at_utc", Value::kUtcTime},
};
constexpr Field kExport[] = {
    {"from", Value::kLocalTime, false},
    {"to", Value::kLocalTime, false},
    {"at_utc", Value::kUtcTime},
};

// A time-stamp authority's token over the record it names (and so over the chain up to it).
constexpr Field kStamp[] = {
    {"covers_seq", Value::kCount, false}, {"covers_hash", Value::kHash, false}, {"tsa", Value::kText, false},
    {"gen_time", Value::kUtcTime, false}, {"serial", Value::kHex, false},   {"token", Value::kBase64, false},
};

struct Kind {
    std::string_view name;
    std::span<const Field> fields;
};
constexpr Kind kKinds[] = {
    {"recording", kRecording}, {"removed", kRemoved}, {"resumed", kResumed}, {"unsealed", kUnsealed}, {"export", kExport},
    {"stamp", kStamp}};

const Kind* FindKind(std::string_view name)
{
    for (const Kind& kind : kKinds)
        if (kind.name == name)
            return &kind;
    return nullptr;
}

bool IsDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsCount(std::string_view text)
{
    return IsDigits(text) && text.size() <= 18 && (text.size() == 1 || text[0] != '0');
}

unsigned Number(std::string_view digits)
{
    unsigned value = 0;
    for (const char c : digits)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value;
}

// "YYYY-MM-DD?HH:MM:SS.mmm" with a real calendar date.
bool IsTime(std::string_view text, char between)
{
    if (text.size() != 23 || text[4] != '-' || text[7] != '-' || text[10] != between || text[13] != ':' ||
        text[16] != ':' || text[19] != '.')
        return false;
    for (const std::size_t at : {0u, 5u, 8u, 11u, 14u, 17u, 20u})
        if (!IsDigits(text.substr(at, at == 0 || at == 20 ? (at == 0 ? 4 : 3) : 2)))
            return false;
    const unsigned year = Number(text.substr(0, 4)), month = Number(text.substr(5, 2)),
                   day = Number(text.substr(8, 2));
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return year >= 1601 && month >= 1 && month <= 12 && day >= 1 &&
           day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0) && Number(text.substr(11, 2)) < 24 &&
           Number(text.substr(14, 2)) < 60 && Number(text.substr(17, 2)) < 60;
}

// The code points of UTF-8 text in order; false at the first byte that is not UTF-8.
template <typename Each>
bool ForEachCodePoint(std::string_view text, Each each)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                 : lead >= 0xF0 && lead < 0xF5   ? 4
                                                                                 : 0;
        if (length == 0 || i + length > text.size())
            return each(i, 1, -1), false;
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return each(i, 1, -1), false;
            point = point << 6 | (next & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return each(i, 1, -1), false;
        if (!each(i, length, static_cast<long>(point)))
            return false;
        i += length;
    }
    return true;
}

// Characters that could pass for something else on a report line or in a path.
bool IsOdd(long point)
{
    return point < 0x20 || (point >= 0x7F && point < 0xA0) || point == 0x200E || point == 0x200F ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069) || point == 0xFEFF;
}

bool IsReservedDeviceName(std::string_view name)
{
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
        return true;
    // COM1 to COM9 and LPT1 to LPT9, also with the superscript digits ¹ ² ³ Windows treats alike.
    const std::string_view device(base);
    const bool port = device.substr(0, 3) == "COM" || device.substr(0, 3) == "LPT";
    const std::string_view rest = device.size() >= 3 ? device.substr(3) : std::string_view();
    return port && ((rest.size() == 1 && rest[0] >= '0' && rest[0] <= '9') || rest == "\xC2\xB9" ||
                    rest == "\xC2\xB2" || rest == "\xC2\xB3");
}

bool IsName(std::string_view name)
{
    if (name.empty() || name.size() > 255 * 3 || name == "." || name == ".." || name.back() == '.' ||
        name.back() == ' ' || name.find_first_of("\\/:*?\"<>|") != std::string_view::npos ||
        IsReservedDeviceName(name))
        return false;
    return ForEachCodePoint(name, [](std::size_t, std::size_t, long point) { return point >= 0 && !IsOdd(point); });
}

bool IsAddress(std::string_view text)
{
    int parts = 0;
    for (std::size_t from = 0; from <= text.size(); ++parts) {
        std::size_t dot = text.find('.', from);
        if (dot == std::string_view::npos)
            dot = text.size();
        const std::string_view part = text.substr(from, dot - from);
        if (part.size() > 3 || !IsCount(part) || Number(part) > 255)
            return false;
        from = dot + 1;
    }
    return parts == 4;
}

bool FitsField(const Field& field, std::string_view value)
{
    return value == "-" ? field.bNone : CSealFormat::Fits(field.value, value);
}

// Fields of a line between `seq` and `prev`, split at tabs and unescaped.
bool SplitFields(std::string_view body, CSealRecord& record, std::string& why)
{
    constexpr std::size_t kMaxFields = 40;
    for (std::size_t from = 0; from <= body.size();) {
        std::size_t end = body.find('\t', from);
        if (end == std::string_view::npos)
            end = body.size();
        const std::string_view field = body.substr(from, end - from);
        const std::size_t equals = field.find('=');
        std::string value;
        if (equals == std::string_view::npos || !CSealRecord::Unescape(field.substr(equals + 1), value)) {
            why = "field " + std::to_string(record.m_fields.size() + 1) + " is not key=value";
            return false;
        }
        if (record.m_fields.size() == kMaxFields) {
            why = "more fields than any record has";
            return false;
        }
        record.m_fields.emplace_back(std::string(field.substr(0, equals)), std::move(value));
        from = end + 1;
    }
    return true;
}

// The fields between `kind` and `prev` against a kind's layout, as the log writes them now.
bool MatchesCurrent(std::span<const std::pair<std::string, std::string>> given, std::span<const Field> layout,
                    std::string& why)
{
    std::size_t at = 0;
    for (const Field& field : layout) {
        if (at < given.size() && given[at].first == field.key) {
            if (!FitsField(field, given[at].second)) {
                why = "the value of " + std::string(field.key) + " is not of its kind";
                return false;
            }
            ++at;
        } else if (!field.bOptional) {
            why = "field " + std::string(field.key) + " is missing or out of its place";
            return false;
        }
    }
    if (at < given.size())
        why = "field " + given[at].first + " is unknown or out of its place";
    return at == given.size();
}

// The first layout of a record written again after a cut: the layout's fields up to `restored=cut`,
// then some of the remaining ones, still in the layout's order.
bool MatchesFirstRestored(std::span<const std::pair<std::string, std::string>> given, std::span<const Field> layout)
{
    std::size_t next = 0;  // the layout's next field
    bool restored = false;
    for (const auto& [key, value] : given) {
        if (key == kRestoredKey) {
            if (restored || value != "cut")
                return false;
            restored = true;
            continue;
        }
        // Before `restored` every field in its place; after it, fields may be left out.
        while (next < layout.size() && (layout[next].key == kRestoredKey || (restored && layout[next].key != key)))
            ++next;
        if (next == layout.size() || layout[next].key != key || !FitsField(layout[next], value))
            return false;
        ++next;
    }
    return restored;
}

}  // namespace

bool CSealFormat::Fits(Value value, std::string_view text)
{
    switch (value) {
        case Value::kCount:
            return IsCount(text);
        case Value::kSigned:
            return IsCount(!text.empty() && text[0] == '-' ? text.substr(1) : text) && text != "-0";
        case Value::kHash:
            return text.size() == CSha256::kHexLength &&
                   text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
        case Value::kLocalTime:
            return IsTime(text, ' ');
        case Value::kUtcTime:
            return text.size() == 24 && text.back() == 'Z' && IsTime(text.substr(0, 23), 'T');
        case Value::kWord:
            return !text.empty() && text.size() <= 32 &&
                   text.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") == std::string_view::npos;
        case Value::kName:
            return IsName(text);
        case Value::kAddress:
            return IsAddress(text);
        case Value::kScreen: {
            const std::size_t x = text.find('x');
            return x != std::string_view::npos && IsCount(text.substr(0, x)) && IsCount(text.substr(x + 1)) &&
                   text.size() <= 11 && Number(text.substr(0, x)) > 0 && Number(text.substr(x + 1)) > 0;
        }
        case Value::kText:
            return text.size() <= 4096 && ForEachCodePoint(text, [](std::size_t, std::size_t, long) { return true; });
        case Value::kHex:
            return !text.empty() && text.size() <= 40 &&
                   text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
        case Value::kBase64: {
            const std::size_t body = text.find_last_not_of('=') + 1;
            return !text.empty() && text.size() <= 48000 && text.size() % 4 == 0 && text.size() - body <= 2 &&
                   text.substr(0, body).find_first_not_of(
                       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") == std::string_view::npos;
        }
    }
    return false;
}

CSealFormat::Reading CSealFormat::Read(std::string_view line, CSealRecord& record)
{
    Reading reading;
    record.m_fields.clear();
    constexpr std::string_view kMarker = "\thash=";
    const std::size_t tail = kMarker.size() + CSha256::kHexLength;
    if (line.size() > kMaxLineBytes) {
        reading.strWhy = "longer than any record";
        return reading;
    }
    if (line.size() <= tail || line.substr(line.size() - tail, kMarker.size()) != kMarker ||
        !Fits(Value::kHash, line.substr(line.size() - CSha256::kHexLength))) {
        reading.strWhy = "it does not end in its hash";
        return reading;
    }
    const std::string_view body = line.substr(0, line.size() - tail);
    if (!SplitFields(body, record, reading.strWhy))
        return reading;
    const auto& fields = record.m_fields;
    const Kind* kind = fields.size() >= 3 && fields[1].first == CSealRecord::kKindKey ? FindKind(fields[1].second)
                                                                                       : nullptr;
    if (fields.size() < 3 || fields[0].first != CSealRecord::kSeqKey || !IsCount(fields[0].second) ||
        fields[0].second == "0" || fields.back().first != CSealRecord::kPrevKey ||
        !Fits(Value::kHash, fields.back().second)) {
        reading.strWhy = "it does not start with seq and end with prev";
        return reading;
    }
    if (!kind) {
        reading.strWhy = "unknown kind of record";
        return reading;
    }
    const std::span<const std::pair<std::string, std::string>> middle(fields.data() + 2, fields.size() - 3);
    if (!MatchesCurrent(middle, kind->fields, reading.strWhy)) {
        if (!MatchesFirstRestored(middle, kind->fields))
            return reading;
        reading.layout = Layout::kFirstRestored;
        reading.strWhy.clear();
    }
    record.m_fields.emplace_back(std::string(CSealRecord::kHashKey), std::string(line.substr(line.size() - 64)));
    reading.result = CSha256::OfText(body) == record.m_fields.back().second ? CSealRecord::Parsed::kOk
                                                                            : CSealRecord::Parsed::kBadHash;
    return reading;
}

bool CSealFormat::Arrange(const CSealRecord& record, long long seq, const std::string& prev, CSealRecord& line)
{
    const Kind* kind = FindKind(record.Get(CSealRecord::kKindKey));
    if (!kind)
        return false;
    for (const auto& [key, value] : record.m_fields) {
        bool known = key == CSealRecord::kKindKey || key == CSealRecord::kSeqKey || key == CSealRecord::kPrevKey ||
                     key == CSealRecord::kHashKey;
        for (const Field& field : kind->fields)
            known = known || field.key == key;
        if (!known)
            return false;
    }
    line.m_fields.clear();
    line.Set(CSealRecord::kSeqKey, std::to_string(seq));
    line.Set(CSealRecord::kKindKey, std::string(kind->name));
    for (const Field& field : kind->fields) {
        if (field.bOptional && !record.Has(field.key))
            continue;
        std::string value = record.Has(field.key) ? record.Get(field.key) : "-";
        if (!FitsField(field, value))
            return false;
        line.Set(field.key, std::move(value));
    }
    line.Set(CSealRecord::kPrevKey, prev);
    return true;
}

std::string CSealFormat::Printable(std::string_view text)
{
    std::string out;
    const auto hex = [&](unsigned value, int digits) {
        char buffer[12];
        std::snprintf(buffer, sizeof buffer, digits == 2 ? "\\x%02X" : "\\u{%04X}", value);
        out += buffer;
    };
    for (std::size_t from = 0; from < text.size();) {
        std::size_t stop = from;
        (void)ForEachCodePoint(text.substr(from), [&](std::size_t at, std::size_t length, long point) {
            stop = from + at + length;
            if (point < 0)
                hex(static_cast<unsigned char>(text[from + at]), 2);
            else if (IsOdd(point))
                point < 0x80 ? hex(static_cast<unsigned>(point), 2) : hex(static_cast<unsigned>(point), 4);
            else
                out.append(text.substr(from + at, length));
            return true;
        });
        from = stop > from ? stop : from + 1;
    }
    return out;
}
