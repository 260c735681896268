#include "framework/Sha256.h"

#include "framework/Hex.h"

#include <bcrypt.h>

#include <algorithm>
#include <memory>

namespace {

// Reads of a quarter megabyte: fast enough, and fine-grained when a caller paces the work.
constexpr DWORD kReadBytes = 1 << 18;

bool Ok(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

CSha256::CSha256()
{
    if (!Ok(BCryptOpenAlgorithmProvider(m_hAlgorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return;
    // No object buffer: the provider allocates its own (Windows 7 and later).
    if (!Ok(BCryptCreateHash(m_hAlgorithm.Get(), m_hHash.Put(), nullptr, 0, nullptr, 0, 0)))
        m_hHash.Reset();
}

void CSha256::Update(const void* data, std::size_t size)
{
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (IsReady() && !m_bFailed && size > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        m_bFailed = !Ok(BCryptHashData(m_hHash.Get(), bytes, part, 0));
        bytes += part;
        size -= part;
    }
}

std::string CSha256::FinishHex()
{
    UCHAR digest[kDigestBytes];
    if (!IsReady() || m_bFailed || !Ok(BCryptFinishHash(m_hHash.Get(), digest, sizeof digest, 0)))
        return {};
    m_hHash.Reset();
    return HexOf(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string CSha256::OfText(std::string_view text)
{
    CSha256 hash;
    hash.Update(text.data(), text.size());
    return hash.FinishHex();
}

std::string CSha256::OfFile(HANDLE file, ULONGLONG& size, const std::function<void()>& betweenReads)
{
    size = 0;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return {};
    CSha256 hash;
    const auto buffer = std::make_unique<std::uint8_t[]>(kReadBytes);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kReadBytes, &read, nullptr))
            return {};
        if (read == 0)
            break;
        hash.Update(buffer.get(), read);
        size += read;
        if (betweenReads)
            betweenReads();
    }
    return hash.FinishHex();
}
