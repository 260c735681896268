#include "timestore/TrustRoots.h"

#include <vector>

namespace {

// A root file is a few kilobytes; anything this large is not one.
constexpr ULONGLONG kMaxFileBytes = 1 << 20;

bool AddDer(HCERTSTORE store, std::string_view der)
{
    return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
}

}  // namespace

CTrustRoots::CTrustRoots()
    : m_hStore(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr))
{
}

bool CTrustRoots::AddFile(const std::wstring& path)
{
    const lumeno::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<ULONGLONG>(size.QuadPart) > kMaxFileBytes)
        return false;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
        return false;
    return AddBytes(bytes);
}

bool CTrustRoots::AddBytes(std::string_view bytes)
{
    if (!m_hStore || bytes.empty())
        return false;
    int added = 0;
    static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----", kEnd = "-----END CERTIFICATE-----";
    if (bytes.find(kBegin) == std::string_view::npos) {
        added += AddDer(m_hStore.Get(), bytes) ? 1 : 0;
    } else {
        for (std::size_t at = bytes.find(kBegin); at != std::string_view::npos; at = bytes.find(kBegin, at + 1)) {
            const std::size_t end = bytes.find(kEnd, at);
            if (end == std::string_view::npos)
                break;
            const std::string_view base64 = bytes.substr(at + kBegin.size(), end - at - kBegin.size());
            DWORD length = 0;
            if (!CryptStringToBinaryA(base64.data(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr,
                                      &length, nullptr, nullptr) || length == 0)
                continue;
            std::vector<BYTE> der(length);
            if (CryptStringToBinaryA(base64.data(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, der.data(),
                                     &length, nullptr, nullptr))
                added += AddDer(m_hStore.Get(),
                                std::string_view(reinterpret_cast<const char*>(der.data()), length)) ? 1 : 0;
        }
    }
    m_nCount += added;
    return added > 0;
}
