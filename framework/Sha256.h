#pragma once

// SHA-256 through the system's cryptography provider (bcrypt.dll, present since Windows Vista).
// One object hashes one message; it belongs to the thread that uses it.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/Handles.h"

class CSha256 {
public:
    static constexpr std::size_t kDigestBytes = 32;
    static constexpr std::size_t kHexLength = 64;

    CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    [[nodiscard]] bool IsReady() const { return static_cast<bool>(m_hHash); }
    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hexadecimal digits; empty when hashing failed at any step.
    // The object cannot be used afterwards.
    [[nodiscard]] std::string FinishHex();

    [[nodiscard]] static std::string OfText(std::string_view text);
    // Hashes an open file from its start to its end; the bytes read go to `size`. Empty on a read
    // error. betweenReads, when given, runs after every quarter megabyte (to pace the work).
    [[nodiscard]] static std::string OfFile(HANDLE file, ULONGLONG& size,
                                            const std::function<void()>& betweenReads = {});

private:
    lumeno::UniqueCryptAlgorithm m_hAlgorithm;
    lumeno::UniqueCryptHash m_hHash;
    bool m_bFailed = false;
};
