#pragma once

// One private-profile (INI) file: read an integer with a default, read a string, write an integer
// as "%d", write a string. Before the first write the file is made UTF-16LE with a byte-order mark,
// because the platform writes a new file in the ANSI code page and so would turn every Chinese
// section, key and value into question marks on most system locales.
//
// Threads: an instance is used by one thread at a time (the user-interface thread in the program);
// the platform's profile functions serialise access to the file itself.

#include <optional>
#include <string>
#include <string_view>

class CProfileFile {
public:
    // Values longer than this many characters are read cut to it (a guard against absurd files).
    static constexpr size_t kMaxValueChars = size_t{1} << 22;

    CProfileFile() = default;
    explicit CProfileFile(std::wstring path) : m_strPath(std::move(path)) {}

    void SetPath(std::wstring path) { m_strPath = std::move(path); }
    [[nodiscard]] const std::wstring& GetPath() const { return m_strPath; }

    // The signed decimal number at the start of the value; 0 when it has no leading digits;
    // nDefault when the key is missing.
    [[nodiscard]] int ReadInt(const wchar_t* section, const wchar_t* key, int nDefault) const;
    // The stored text, or "" when the key is missing.
    [[nodiscard]] std::wstring ReadString(const wchar_t* section, const wchar_t* key) const;
    // The stored text, or nothing when the key (or the file) is missing.
    [[nodiscard]] std::optional<std::wstring> ReadValue(const wchar_t* section, const wchar_t* key) const;

    [[nodiscard]] bool WriteInt(const wchar_t* section, const wchar_t* key, int value);
    [[nodiscard]] bool WriteString(const wchar_t* section, const wchar_t* key, const std::wstring& value);

    // Makes the platform drop its cached copy of the file, so that the next read sees the disk.
    void Flush() const;

    // The integer rule of ReadInt applied to one value: optional blanks, an optional sign, then
    // decimal digits; out-of-range numbers saturate at the limits of int.
    [[nodiscard]] static int ParseLeadingInt(std::wstring_view text);

private:
    [[nodiscard]] std::wstring ReadWithDefault(const wchar_t* section, const wchar_t* key,
                                               const wchar_t* fallback) const;
    // Creates the file as UTF-16LE with a BOM when it is missing or empty, and rewrites a file in
    // another encoding as UTF-16LE with exactly the text the platform reads from it.
    [[nodiscard]] bool EnsureUnicodeFile();

    std::wstring m_strPath;
};
