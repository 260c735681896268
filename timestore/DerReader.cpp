#include "timestore/DerReader.h"

namespace {

std::uint8_t Byte(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

}  // namespace

bool CDerReader::Next(Element& element)
{
    if (m_rest.size() < 2)
        return false;
    const std::uint8_t tag = Byte(m_rest, 0);
    if ((tag & 0x1F) == 0x1F)
        return false;  // multi-byte tags appear nowhere in what we read
    std::size_t length = Byte(m_rest, 1), header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        // 0x80 is the indefinite form (BER only); more than four bytes of length is absurd here.
        if (count == 0 || count > 4 || m_rest.size() < 2 + count || Byte(m_rest, 2) == 0)
            return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = length << 8 | Byte(m_rest, 2 + i);
        if (length < 0x80)
            return false;  // DER wants the short form for these
        header += count;
    }
    if (length > m_rest.size() - header)
        return false;
    element.tag = tag;
    element.content = m_rest.substr(header, length);
    element.whole = m_rest.substr(0, header + length);
    m_rest.remove_prefix(header + length);
    return true;
}

bool CDerReader::Read(std::uint8_t tag, Element& element)
{
    CDerReader copy = *this;
    Element found;
    if (PeekTag() != tag || !copy.Next(found))
        return false;
    element = found;
    *this = copy;
    return true;
}

bool CDerReader::Enter(std::uint8_t tag, CDerReader& inner)
{
    Element element;
    if (!Read(tag, element))
        return false;
    inner = CDerReader(element.content);
    return true;
}

bool CDerReader::Single(std::string_view bytes, std::uint8_t tag, Element& element)
{
    CDerReader reader(bytes);
    return reader.Read(tag, element) && reader.AtEnd();
}

std::string CDerReader::ObjectId(std::string_view content)
{
    if (content.empty() || (Byte(content, content.size() - 1) & 0x80))
        return {};
    std::string dotted;
    unsigned long long value = 0;
    bool first = true;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const std::uint8_t b = Byte(content, i);
        if (value == 0 && b == 0x80)
            return {};  // a padded sub-identifier
        if (value >> 50)
            return {};
        value = value << 7 | (b & 0x7F);
        if (b & 0x80)
            continue;
        if (first) {
            const unsigned long long top = value < 40 ? 0 : value < 80 ? 1 : 2;
            dotted = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            dotted += '.';
            dotted += std::to_string(value);
        }
        value = 0;
    }
    return dotted;
}

bool CDerReader::MinimalInteger(std::string_view content)
{
    if (content.empty())
        return false;
    if (content.size() == 1)
        return true;
    const std::uint8_t a = Byte(content, 0), b = Byte(content, 1);
    return !(a == 0x00 && !(b & 0x80)) && !(a == 0xFF && (b & 0x80));
}

bool CDerReader::PositiveInteger(std::string_view content)
{
    return MinimalInteger(content) && !(Byte(content, 0) & 0x80) && content.find_first_not_of('\0') != std::string_view::npos;
}

long long CDerReader::SmallInteger(std::string_view content)
{
    if (!MinimalInteger(content) || (Byte(content, 0) & 0x80) || content.size() > 8)
        return -1;
    unsigned long long value = 0;
    for (const char c : content)
        value = value << 8 | static_cast<std::uint8_t>(c);
    return value >> 62 ? -1 : static_cast<long long>(value);
}
