#include "framework/ProfileFile.h"

#include "framework/Handles.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

// Two defaults no stored value can equal at the same time: a key is missing only when the platform
// hands back each of them.
constexpr const wchar_t* kAbsentA = L"\x1F<absent>";
constexpr const wchar_t* kAbsentB = L"\x1E<absent>";

constexpr std::uint8_t kUtf16LeBom[] = {0xFF, 0xFE};
constexpr std::uint8_t kUtf16BeBom[] = {0xFE, 0xFF};
constexpr std::uint8_t kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
// A settings file is a few hundred bytes; anything this large is not rewritten.
constexpr LONGLONG kMaxConvertedBytes = 64LL << 20;

bool StartsWith(const std::vector<std::uint8_t>& bytes, const std::uint8_t* prefix, size_t count)
{
    if (bytes.size() < count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != prefix[i])
            return false;
    }
    return true;
}

bool WriteWhole(HANDLE file, const void* data, size_t size)
{
    DWORD written = 0;
    return size == 0 || (WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

// The text the platform reads from a file without a UTF-16LE mark.
std::wstring DecodeForeign(const std::vector<std::uint8_t>& bytes)
{
    std::wstring text;
    if (StartsWith(bytes, kUtf16BeBom, 2)) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<wchar_t>((bytes[i] << 8) | bytes[i + 1]));
        return text;
    }
    UINT codePage = CP_ACP;
    size_t offset = 0;
    if (StartsWith(bytes, kUtf8Bom, 3)) {
        codePage = CP_UTF8;
        offset = 3;
    }
    const auto* source = reinterpret_cast<const char*>(bytes.data() + offset);
    const int sourceLength = static_cast<int>(bytes.size() - offset);
    if (sourceLength == 0)
        return text;
    const int length = MultiByteToWideChar(codePage, 0, source, sourceLength, nullptr, 0);
    if (length <= 0)
        return text;
    text.resize(static_cast<size_t>(length));
    MultiByteToWideChar(codePage, 0, source, sourceLength, text.data(), length);
    return text;
}

}  // namespace

int CProfileFile::ParseLeadingInt(std::wstring_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
        negative = text[i] == L'-';
        ++i;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > limit)
            magnitude = limit;  // saturate and keep consuming digits
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

std::wstring CProfileFile::ReadWithDefault(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) const
{
    // The platform reports a cut value by filling the buffer to one short of its size; grow until
    // the value fits.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD copied = GetPrivateProfileStringW(section, key, fallback, buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), m_strPath.c_str());
        if (copied + 1 < buffer.size() || buffer.size() > kMaxValueChars)
            return std::wstring(buffer.data(), std::min<size_t>(copied, kMaxValueChars));
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::wstring> CProfileFile::ReadValue(const wchar_t* section, const wchar_t* key) const
{
    if (m_strPath.empty())
        return std::nullopt;
    std::wstring value = ReadWithDefault(section, key, kAbsentA);
    if (value == kAbsentA && ReadWithDefault(section, key, kAbsentB) == kAbsentB)
        return std::nullopt;
    return value;
}

int CProfileFile::ReadInt(const wchar_t* section, const wchar_t* key, int nDefault) const
{
    const std::optional<std::wstring> value = ReadValue(section, key);
    return value ? ParseLeadingInt(*value) : nDefault;
}

std::wstring CProfileFile::ReadString(const wchar_t* section, const wchar_t* key) const
{
    return ReadValue(section, key).value_or(std::wstring());
}

bool CProfileFile::WriteInt(const wchar_t* section, const wchar_t* key, int value)
{
    return WriteString(section, key, std::to_wstring(value));
}

bool CProfileFile::WriteString(const wchar_t* section, const wchar_t* key, const std::wstring& value)
{
    if (m_strPath.empty())
        return false;
    // Windows refuses to write a read-only file even for administrators; asking first gives the same
    // outcome where the process could override the attribute (a superuser running Wine).
    const DWORD attributes = GetFileAttributesW(m_strPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    // Writing into a file the platform would keep in an ANSI code page would garble the names.
    if (!EnsureUnicodeFile())
        return false;
    return WritePrivateProfileStringW(section, key, value.c_str(), m_strPath.c_str()) != FALSE;
}

void CProfileFile::Flush() const
{
    if (!m_strPath.empty())
        (void)WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_strPath.c_str());
}

bool CProfileFile::EnsureUnicodeFile()
{
    const wchar_t* path = m_strPath.c_str();
    std::vector<std::uint8_t> bytes;
    {
        lumeno::UniqueFile existing(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!existing) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                return false;
            lumeno::UniqueFile created(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            return created && WriteWhole(created.Get(), kUtf16LeBom, sizeof(kUtf16LeBom));
        }
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(existing.Get(), &size))
            return false;
        if (size.QuadPart > kMaxConvertedBytes)
            return true;  // not a file this program wrote; leave it to the platform as it is
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!bytes.empty() && (!ReadFile(existing.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read,
                                         nullptr) || read != bytes.size()))
            return false;
    }
    if (StartsWith(bytes, kUtf16LeBom, 2))
        return true;

    // Another encoding (or an empty file): rewrite it as UTF-16LE holding exactly the text the
    // platform reads from it, through a temporary file so that a failure leaves the original intact.
    const std::wstring text = DecodeForeign(bytes);
    const std::wstring tempPath = m_strPath + L".new";
    {
        lumeno::UniqueFile temp(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!temp)
            return false;
        if (!WriteWhole(temp.Get(), kUtf16LeBom, sizeof(kUtf16LeBom)) ||
            !WriteWhole(temp.Get(), text.data(), text.size() * sizeof(wchar_t))) {
            temp.Reset();
            DeleteFileW(tempPath.c_str());
            return false;
        }
    }
    Flush();  // the platform must not write its cached copy over the converted file
    if (!MoveFileExW(tempPath.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(tempPath.c_str());
        return false;
    }
    return true;
}
