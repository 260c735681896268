#include "timestore/TimeStampToken.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <vector>

#include "framework/DateTime.h"
#include "framework/Handles.h"
#include "timestore/DerReader.h"
#include "timestore/TrustRoots.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* kTstInfoOid = "1.2.840.113549.1.9.16.1.4";
constexpr const char* kContentTypeOid = "1.2.840.113549.1.9.3";
constexpr const char* kMessageDigestOid = "1.2.840.113549.1.9.4";
constexpr const char* kExtendedKeyUsageOid = "2.5.29.37";
constexpr const char* kTimeStampingOid = "1.3.6.1.5.5.7.3.8";
// Tokens are a few kilobytes; a larger one is refused before any decoder sees it (and its base64
// must fit in a seal record).
constexpr std::size_t kMaxTokenBytes = 32 * 1024;

std::string_view View(const CRYPT_DATA_BLOB& blob)
{
    return {reinterpret_cast<const char*>(blob.pbData), blob.cbData};
}

// A message parameter as bytes; empty when it cannot be read.
std::vector<BYTE> Param(HCRYPTMSG message, DWORD type, DWORD index = 0)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0 || size > kMaxTokenBytes * 4)
        return {};
    std::vector<BYTE> bytes(size);
    if (!CryptMsgGetParam(message, type, index, bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

// The digest of the contents with the algorithm the signer names; empty for an algorithm not known.
std::string Digest(const char* algorithmOid, std::string_view data)
{
    const std::string oid = algorithmOid ? algorithmOid : "";
    const wchar_t* algorithm = oid == "2.16.840.1.101.3.4.2.1"   ? BCRYPT_SHA256_ALGORITHM
                               : oid == "2.16.840.1.101.3.4.2.2" ? BCRYPT_SHA384_ALGORITHM
                               : oid == "2.16.840.1.101.3.4.2.3" ? BCRYPT_SHA512_ALGORITHM
                                                                 : nullptr;
    lumeno::UniqueCryptAlgorithm provider;
    lumeno::UniqueCryptHash hash;
    DWORD length = 0, got = 0;
    if (!algorithm || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider.Put(), algorithm, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptGetProperty(provider.Get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                                          sizeof length, &got, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(provider.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                       static_cast<ULONG>(data.size()), 0)))
        return {};
    std::string digest(length, '\0');
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), reinterpret_cast<PUCHAR>(digest.data()), length, 0)))
        return {};
    return digest;
}

// The one value of a signed attribute; false when it is missing or not exactly one.
bool OneAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid, std::string_view& value)
{
    int found = 0;
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (attribute.pszObjId && std::string_view(attribute.pszObjId) == oid) {
            if (++found > 1 || attribute.cValue != 1)
                return false;
            value = View(attribute.rgValue[0]);
        }
    }
    return found == 1;
}

// Present, critical, and timeStamping alone: some chain engines let a certificate without any
// extended key usage pass a usage check.
bool OnlyTimeStamping(PCCERT_CONTEXT cert)
{
    const CERT_EXTENSION* extension = CertFindExtension(kExtendedKeyUsageOid, cert->pCertInfo->cExtension,
                                                        cert->pCertInfo->rgExtension);
    if (!extension || !extension->fCritical)
        return false;
    CDerReader::Element usages, usage;
    if (!CDerReader::Single(View(extension->Value), CDerReader::kSequence, usages))
        return false;
    CDerReader list(usages.content);
    return list.Read(CDerReader::kObjectId, usage) && list.AtEnd() &&
           CDerReader::ObjectId(usage.content) == kTimeStampingOid;
}

std::string ChainProblem(DWORD status)
{
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return "its signer's certificate does not chain to a trusted root (an untrusted root)";
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return "its signer's certificate chain was not valid at its genTime";
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return "its signer's certificate chain is not valid for time stamping";
    if (status & CERT_TRUST_IS_REVOKED)
        return "its signer's certificate is revoked";
    return "its signer's certificate chain is not valid (status " + std::to_string(status) + ")";
}

// The chain's error status at `when`: with the system's roots, then with only the extra roots.
DWORD ChainStatus(PCCERT_CONTEXT cert, HCERTSTORE messageStore, const FILETIME& when, const CTrustRoots& roots)
{
    LPSTR usage[] = {const_cast<LPSTR>(kTimeStampingOid)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    FILETIME at = when;
    DWORD status = CERT_TRUST_IS_UNTRUSTED_ROOT;
    {
        lumeno::UniqueCertChain chain;
        if (CertGetCertificateChain(nullptr, cert, &at, messageStore, &para, 0, nullptr,
                                    const_cast<PCCERT_CHAIN_CONTEXT*>(chain.Put())))
            status = chain.Get()->TrustStatus.dwErrorStatus;
    }
    if (status == CERT_TRUST_NO_ERROR || roots.Count() == 0)
        return status;
    // The header of the oldest system that has exclusive roots: a larger cbSize is refused by
    // some engines, and this layout ends before the later dwExclusiveFlags.
    CERT_CHAIN_ENGINE_CONFIG config{};
    static_assert(sizeof(CERT_CHAIN_ENGINE_CONFIG) == (sizeof(void*) == 8 ? 80 : 48));
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots.Store();
    lumeno::UniqueCertChainEngine engine;
    lumeno::UniqueCertChain chain;
    if (!CertCreateCertificateChainEngine(&config, engine.Put()) ||
        !CertGetCertificateChain(engine.Get(), cert, &at, messageStore, &para, 0, nullptr,
                                 const_cast<PCCERT_CHAIN_CONTEXT*>(chain.Put())))
        return status;
    return chain.Get()->TrustStatus.dwErrorStatus;
}

}  // namespace

std::string CTimeStampToken::Check(std::string_view token, std::string_view imprint, std::string_view nonce,
                                   const CTrustRoots& roots, Checked& checked)
{
    checked = {};
    CDerReader::Element whole;
    if (token.empty() || token.size() > kMaxTokenBytes || !CDerReader::Single(token, CDerReader::kSequence, whole))
        return "its token is not a well-formed signed message";
    lumeno::UniqueCryptMessage message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.Get(), reinterpret_cast<const BYTE*>(token.data()),
                                    static_cast<DWORD>(token.size()), TRUE))
        return "its token is not a well-formed signed message";
    DWORD type = 0, size = sizeof type, signers = 0;
    const std::vector<BYTE> inner = Param(message.Get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    if (!CryptMsgGetParam(message.Get(), CMSG_TYPE_PARAM, 0, &type, &size) || type != CMSG_SIGNED ||
        inner.empty() || std::string(reinterpret_cast<const char*>(inner.data())) != kTstInfoOid)
        return "its token is not a signed time-stamp";
    size = sizeof signers;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1)
        return "its token does not have exactly one signer";

    // Some decoders hand the contents back still inside their OCTET STRING, others without it.
    const std::vector<BYTE> contentBytes = Param(message.Get(), CMSG_CONTENT_PARAM);
    std::string_view content(reinterpret_cast<const char*>(contentBytes.data()), contentBytes.size());
    if (CDerReader::Element wrapped; CDerReader::Single(content, CDerReader::kOctetString, wrapped))
        content = wrapped.content;
    std::string problem;
    if (!CTimeStampInfo::Parse(content, checked.info, problem))
        return problem;

    const std::vector<BYTE> signerInfo = Param(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM);
    const lumeno::UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.Get()));
    if (signerInfo.empty() || !store)
        return "its token carries no signer certificate";
    const lumeno::UniqueCertContext cert(CertGetSubjectCertificateFromStore(
        store.Get(), kEncoding, reinterpret_cast<CERT_INFO*>(const_cast<BYTE*>(signerInfo.data()))));
    if (!cert)
        return "its token carries no signer certificate";
    wchar_t name[256] = {};
    (void)CertGetNameStringW(cert.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    for (const wchar_t* c = name; *c; ++c)
        checked.strSigner += *c < 0x80 ? static_cast<char>(*c) : '?';

    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof verify;
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(cert.Get());
    if (!CryptMsgControl(message.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify))
        return "its signature does not verify";

    // The signature covers the signed attributes; only the messageDigest among them ties the
    // signature to the time-stamp itself.
    const std::vector<BYTE> attributeBytes = Param(message.Get(), CMSG_SIGNER_AUTH_ATTR_PARAM);
    const std::vector<BYTE> signerBytes = Param(message.Get(), CMSG_SIGNER_INFO_PARAM);
    if (attributeBytes.empty() || signerBytes.empty())
        return "its signature has no signed attributes";
    const auto& attributes = *reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributeBytes.data());
    const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());
    std::string_view contentType, digest;
    CDerReader::Element typeId, digestValue;
    if (!OneAttribute(attributes, kContentTypeOid, contentType) ||
        !CDerReader::Single(contentType, CDerReader::kObjectId, typeId) ||
        CDerReader::ObjectId(typeId.content) != kTstInfoOid)
        return "its signed attributes do not name a time-stamp";
    const std::string computed = Digest(signer.HashAlgorithm.pszObjId, content);
    if (!OneAttribute(attributes, kMessageDigestOid, digest) ||
        !CDerReader::Single(digest, CDerReader::kOctetString, digestValue) || computed.empty() ||
        digestValue.content != computed)
        return "its signed contents were changed after signing (the message digest does not match)";

    if (checked.info.strImprint != imprint)
        return "it is a token over another hash (its message imprint is not the hash it names)";
    if (!nonce.empty() && checked.info.strNonce != nonce)
        return "it answers another request (its nonce is not ours)";
    if (!OnlyTimeStamping(cert.Get()))
        return "its signer's certificate lacks the timeStamping usage (present, critical and alone)";
    const ULONGLONG ticks = static_cast<ULONGLONG>(checked.info.llGenTimeMs) * 10000;
    const FILETIME when = TicksFileTime(ticks);
    if (const DWORD status = ChainStatus(cert.Get(), store.Get(), when, roots); status != CERT_TRUST_NO_ERROR)
        return ChainProblem(status);
    return {};
}

std::string CTimeStampToken::FromReply(std::string_view reply, std::string& problem)
{
    CDerReader::Element top, status, token;
    CDerReader body, statusInfo;
    if (!CDerReader::Single(reply, CDerReader::kSequence, top) || !(body = CDerReader(top.content)).Enter(CDerReader::kSequence, statusInfo) ||
        !statusInfo.Read(CDerReader::kInteger, status))
        return problem = "the answer is not a time-stamp reply", std::string();
    const long long granted = CDerReader::SmallInteger(status.content);
    if (granted != 0 && granted != 1)
        return problem = "the authority refused the request (status " + std::to_string(granted) + ")", std::string();
    if (!body.Read(CDerReader::kSequence, token) || !body.AtEnd())
        return problem = "the reply holds no token", std::string();
    return std::string(token.whole);
}

std::string CTimeStampToken::ToBase64(std::string_view bytes)
{
    DWORD length = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    if (bytes.empty() || !CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()),
                                               static_cast<DWORD>(bytes.size()), flags, nullptr, &length))
        return {};
    std::string text(length, '\0');
    if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), flags,
                              text.data(), &length))
        return {};
    text.resize(length);
    while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

bool CTimeStampToken::FromBase64(std::string_view text, std::string& bytes)
{
    if (text.empty() || text.size() > kMaxTokenBytes * 2 ||
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
            std::string_view::npos)
        return false;
    DWORD length = 0;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &length,
                              nullptr, nullptr))
        return false;
    bytes.assign(length, '\0');
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &length, nullptr, nullptr))
        return false;
    bytes.resize(length);
    return true;
}
