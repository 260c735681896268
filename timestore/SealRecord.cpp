#include "timestore/SealRecord.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "framework/DateTime.h"
#include "framework/Sha256.h"
#include "timestore/SealFormat.h"

const std::string CSealRecord::kNoPrevious(CSha256::kHexLength, '0');

void CSealRecord::Set(std::string_view key, std::string value)
{
    for (auto& field : m_fields) {
        if (field.first == key) {
            field.second = std::move(value);
            return;
        }
    }
    m_fields.emplace_back(std::string(key), std::move(value));
}

std::string CSealRecord::Get(std::string_view key) const
{
    for (const auto& field : m_fields)
        if (field.first == key)
            return field.second;
    return {};
}

bool CSealRecord::Has(std::string_view key) const
{
    for (const auto& field : m_fields)
        if (field.first == key)
            return true;
    return false;
}

long long CSealRecord::GetNumber(std::string_view key, long long fallback) const
{
    const std::string text = Get(key);
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return text.empty() || error != std::errc() || end != text.data() + text.size() ? fallback : value;
}

std::string CSealRecord::Seal() const
{
    std::string line;
    for (const auto& [key, value] : m_fields) {
        if (key == kHashKey)
            continue;
        if (!line.empty())
            line += '\t';
        line += key + '=' + Escape(value);
    }
    return line + "\t" + std::string(kHashKey) + "=" + CSha256::OfText(line);
}

CSealRecord::Parsed CSealRecord::Parse(std::string_view line, CSealRecord& record)
{
    return CSealFormat::Read(line, record).result;
}

std::string CSealRecord::Escape(std::string_view value)
{
    std::string text;
    for (const char c : value) {
        switch (c) {
            case '\\':
                text += "\\\\";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\n':
                text += "\\n";
                break;
            default:
                text += c;
        }
    }
    return text;
}

bool CSealRecord::Unescape(std::string_view text, std::string& value)
{
    value.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\t' || text[i] == '\n' || text[i] == '\r')
            return false;
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
            case '\\':
                value += '\\';
                break;
            case 't':
                value += '\t';
                break;
            case 'r':
                value += '\r';
                break;
            case 'n':
                value += '\n';
                break;
            default:
                return false;
        }
    }
    return true;
}

bool ParseSealTime(std::string_view text, bool utc, long long& ms)
{
    if (!CSealFormat::Fits(utc ? CSealFormat::Value::kUtcTime : CSealFormat::Value::kLocalTime, text))
        return false;
    const auto number = [&](std::size_t at, std::size_t digits) {
        unsigned value = 0;
        (void)std::from_chars(text.data() + at, text.data() + at + digits, value);
        return static_cast<WORD>(value);
    };
    const SYSTEMTIME st{number(0, 4), number(5, 2), 0, number(8, 2), number(11, 2), number(14, 2), number(17, 2),
                        number(20, 3)};
    return MsOfSystemTime(st, ms);
}

std::string FormatSealTime(const SYSTEMTIME& st, bool utc)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u.%03u%s", st.wYear, st.wMonth, st.wDay,
                  utc ? 'T' : ' ', st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, utc ? "Z" : "");
    return text;
}
