// The facts of a certificate that explain it to a person: who issued it,
// when it is valid, what it may be used for. Nothing here prints: whoever
// asks decides what to say.

#include "certificates/CertificateFacts.h"

#include <ctime>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "common/OpenSslHandles.h"
#include "core/Digests.h"
#include "core/Oids.h"
#include "core/RegularFile.h"

namespace PackageSignatures {

namespace {

// In the order RFC 5280 numbers the bits.
struct KeyUsageBit {
    uint32_t bit;
    const char* name;
};
constexpr KeyUsageBit keyUsageBits[] = {
    {KU_DIGITAL_SIGNATURE, "digitalSignature"},
    {KU_NON_REPUDIATION, "nonRepudiation"},
    {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
    {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
    {KU_KEY_AGREEMENT, "keyAgreement"},
    {KU_KEY_CERT_SIGN, "keyCertSign"},
    {KU_CRL_SIGN, "cRLSign"},
    {KU_ENCIPHER_ONLY, "encipherOnly"},
    {KU_DECIPHER_ONLY, "decipherOnly"},
};

Common::OpenSsl::ExtendedKeyUsageHandle extendedKeyUsage(X509* certificate)
{
    return Common::OpenSsl::ExtendedKeyUsageHandle(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr)));
}

std::string objectName(const ASN1_OBJECT* object)
{
    const int nid = OBJ_obj2nid(object);
    if (nid != NID_undef && OBJ_nid2sn(nid) != nullptr)
        return OBJ_nid2sn(nid);
    char dotted[128];
    const int length = OBJ_obj2txt(dotted, sizeof dotted, object, 1);
    return length > 0 ? std::string(dotted, std::min<size_t>(size_t(length), sizeof dotted - 1)) : std::string();
}

} // namespace

std::string subjectKeyIdText(X509* certificate)
{
    const ASN1_OCTET_STRING* identifier = certificate == nullptr ? nullptr : X509_get0_subject_key_id(certificate);
    return identifier == nullptr ? std::string()
                                 : lowerHex(ASN1_STRING_get0_data(identifier), size_t(ASN1_STRING_length(identifier)));
}

std::string distinguishedName(const X509_NAME* name)
{
    const Common::OpenSsl::BioHandle out(BIO_new(BIO_s_mem()));
    // RFC 2253 order, but UTF-8 left as it is rather than escaped byte by
    // byte: the printer of the line escapes what cannot be shown.
    if (!out || name == nullptr || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(out.get(), &bytes);
    return length > 0 ? std::string(bytes, size_t(length)) : std::string();
}

namespace {

std::string serialText(const ASN1_INTEGER* serial)
{
    const Common::OpenSsl::BignumHandle number(serial == nullptr ? nullptr : ASN1_INTEGER_to_BN(serial, nullptr));
    char* hex = number ? BN_bn2hex(number.get()) : nullptr;
    const Common::OpenSsl::BytesHandle owned(reinterpret_cast<unsigned char*>(hex));
    return hex != nullptr ? std::string(hex) : std::string();
}

std::string commonName(X509_NAME* name)
{
    const int position = name == nullptr ? -1 : X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    const ASN1_STRING* data = position < 0 ? nullptr : X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, position));
    unsigned char* utf8 = nullptr;
    const int length = data == nullptr ? -1 : ASN1_STRING_to_UTF8(&utf8, data);
    const Common::OpenSsl::BytesHandle owned(utf8);
    return length > 0 ? std::string(reinterpret_cast<const char*>(owned.get()), size_t(length)) : std::string();
}

std::string sha256Fingerprint(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    return lowerHex(digest, length);
}

} // namespace

GroupReading readCertificateGroup(X509* certificate)
{
    GroupReading reading;
    if (certificate == nullptr)
        return reading;
    const Common::OpenSsl::ExtendedKeyUsageHandle usage = extendedKeyUsage(certificate);
    if (!usage) {
        reading.eligibility = SigningEligibility::NoExtendedKeyUsage;
        return reading;
    }
    bool packageSigning = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage.get()); ++i)
        packageSigning = packageSigning || OBJ_obj2nid(sk_ASN1_OBJECT_value(usage.get(), i)) == Oids::packageSigning();
    // Anyone can put a group extension into a certificate; only one the CA
    // allowed to sign packages is believed.
    if (!packageSigning) {
        reading.eligibility = SigningEligibility::NoPackageSigningUsage;
        return reading;
    }
    const Common::OpenSsl::Asn1Ia5StringHandle group(
        static_cast<ASN1_IA5STRING*>(X509_get_ext_d2i(certificate, Oids::certificateGroup(), nullptr, nullptr)));
    if (!group) {
        reading.eligibility = SigningEligibility::NoGroupExtension;
        return reading;
    }
    reading.text.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(group.get())),
                        size_t(ASN1_STRING_length(group.get())));
    reading.eligibility = groupFromString(reading.text.c_str()) == GroupNone ? SigningEligibility::UnknownGroup
                                                                              : SigningEligibility::Eligible;
    return reading;
}

TrustedCertificates readTrustedCertificates(const char* path)
{
    TrustedCertificates trusted;
    const Common::Libc::FileHandle file = openRegularStream(path, trusted.failure);
    if (!file)
        return trusted;
    Common::OpenSsl::X509StoreHandle store(X509_STORE_new());
    if (!store) {
        trusted.allocationFailed = true;
        return trusted;
    }
    while (Common::OpenSsl::X509Handle certificate {PEM_read_X509(file.get(), nullptr, nullptr, nullptr)}) {
        if (X509_STORE_add_cert(store.get(), certificate.get()) == 1)
            ++trusted.added;
        else
            ++trusted.refused;
    }
    // Reading ends with a "no start line" error for the end of the file.
    ERR_clear_error();
    trusted.store = store.release();
    return trusted;
}

std::optional<int64_t> epochSeconds(const ASN1_TIME* time)
{
    struct tm broken {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1)
        return std::nullopt;
    return int64_t(timegm(&broken));
}

CertificateDetails certificateDetails(X509* certificate)
{
    CertificateDetails details;
    if (certificate == nullptr)
        return details;
    details.subject = commonName(X509_get_subject_name(certificate));
    details.issuer = distinguishedName(X509_get_issuer_name(certificate));
    details.serialNumber = serialText(X509_get0_serialNumber(certificate));
    details.sha256Fingerprint = sha256Fingerprint(certificate);
    details.notBefore = epochSeconds(X509_get0_notBefore(certificate));
    details.notAfter = epochSeconds(X509_get0_notAfter(certificate));
    // All bits set stands for a certificate without the extension.
    const uint32_t usage = X509_get_key_usage(certificate);
    if (usage != UINT32_MAX) {
        for (const KeyUsageBit& bit : keyUsageBits) {
            if (usage & bit.bit)
                details.keyUsage.push_back(bit.name);
        }
    }
    if (const Common::OpenSsl::ExtendedKeyUsageHandle extended = extendedKeyUsage(certificate)) {
        for (int i = 0; i < sk_ASN1_OBJECT_num(extended.get()); ++i)
            details.extendedKeyUsage.push_back(objectName(sk_ASN1_OBJECT_value(extended.get(), i)));
    }
    const GroupReading group = readCertificateGroup(certificate);
    details.signing = group.eligibility;
    details.groupText = group.text;
    return details;
}

} // namespace PackageSignatures
