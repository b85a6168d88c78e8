// Issuing the platform's CA certificate and the end-user certificates it signs.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "core/Digests.h"
#include "core/Oids.h"
#include "core/PrivateKeys.h"
#include "core/RandomSeed.h"
#include "core/RegularFile.h"
#include "core/ReplacingFile.h"
#include "torvel/CertificateFunctions.h"

using namespace PackageSignatures;

namespace {

constexpr size_t maximumCommonNameLength = 255;
constexpr long validitySeconds = 756864000; // 8760 days

// 12 random bytes (kept positive) followed by the issuing time in
// nanoseconds, little-endian: unique even for certificates issued within the
// same second, and still telling roughly when a certificate was made.
bool setSerialNumber(X509* certificate)
{
    unsigned char serial[20];
    PackageSignatures::seedRandomGenerator();
    if (RAND_bytes(serial, 12) != 1) {
        std::fprintf(stderr, "Could not set X509 serial\n");
        return false;
    }
    serial[0] &= 0x7F;
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t nanoseconds = uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
    for (int i = 0; i < 8; ++i)
        serial[12 + i] = uint8_t(nanoseconds >> (8 * i));

    const Common::OpenSsl::BignumHandle number(BN_bin2bn(serial, sizeof serial, nullptr));
    const Common::OpenSsl::Asn1IntegerHandle integer(number ? BN_to_ASN1_INTEGER(number.get(), nullptr) : nullptr);
    if (!integer || X509_set_serialNumber(certificate, integer.get()) != 1) {
        std::fprintf(stderr, "Could not set X509 serial\n");
        return false;
    }
    return true;
}

bool setVersionAndValidity(X509* certificate)
{
    if (X509_set_version(certificate, 2) == 1 && X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr
        && X509_gmtime_adj(X509_getm_notAfter(certificate), validitySeconds) != nullptr)
        return true;
    std::fprintf(stderr, "Could not set X509 version and validity\n");
    return false;
}

bool attach(X509* certificate, Common::OpenSsl::X509ExtensionHandle extension)
{
    if (!extension) {
        std::fprintf(stderr, "Could not allocate new X509 extension\n");
        return false;
    }
    if (X509_add_ext(certificate, extension.get(), -1) != 1) {
        std::fprintf(stderr, "Could not add X509 extension\n");
        return false;
    }
    return true;
}

bool addExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value)
{
    return attach(certificate, Common::OpenSsl::X509ExtensionHandle(X509V3_EXT_conf_nid(nullptr, context, nid, value)));
}

bool addSubjectKeyIdentifier(X509* certificate)
{
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate);
    if (publicKey == nullptr) {
        std::fprintf(stderr, "Certificate is malformed: no public key found\n");
        return false;
    }
    const auto identifier = keyIdentifierOf(publicKey);
    if (!identifier)
        return false;
    Common::OpenSsl::Asn1OctetStringHandle octets(ASN1_OCTET_STRING_new());
    if (!octets || ASN1_OCTET_STRING_set(octets.get(), identifier->data(), int(identifier->size())) != 1) {
        std::fprintf(stderr, "Could not allocate new X509 extension\n");
        return false;
    }
    return attach(certificate,
                  Common::OpenSsl::X509ExtensionHandle(X509V3_EXT_i2d(NID_subject_key_identifier, 0, octets.get())));
}

bool sign(X509* certificate, EVP_PKEY* issuerKey)
{
    const EVP_MD* digest = defaultDigest(issuerKey);
    const std::unique_lock<std::mutex> turn = exclusiveUse(issuerKey);
    if (digest == nullptr || X509_sign(certificate, issuerKey, digest) <= 0) {
        std::fprintf(stderr, "Certificate signing failed\n");
        return false;
    }
    return true;
}

Common::OpenSsl::X509Handle buildCaCertificate(EVP_PKEY* key, const char* commonName)
{
    const size_t length = std::strlen(commonName);
    if (length > maximumCommonNameLength) {
        std::fprintf(stderr, "Common name is too long (max len is %zu, got %zu)\n", maximumCommonNameLength, length);
        return nullptr;
    }
    Common::OpenSsl::X509Handle certificate(X509_new());
    if (!certificate || !setVersionAndValidity(certificate.get()) || !setSerialNumber(certificate.get()))
        return nullptr;
    if (X509_set_pubkey(certificate.get(), key) != 1) {
        std::fprintf(stderr, "Could not set X509 public key\n");
        return nullptr;
    }
    // A plain UTF8String entry: the usual MBSTRING call would apply OpenSSL's
    // string table, which caps a common name at 64 characters.
    X509_NAME* name = X509_get_subject_name(certificate.get());
    if (X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char*>(commonName), int(length), -1, 0)
            != 1
        || X509_set_issuer_name(certificate.get(), name) != 1) {
        std::fprintf(stderr, "Could not set X509 name\n");
        return nullptr;
    }
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
    if (!addExtension(certificate.get(), &context, NID_basic_constraints, "critical,CA:TRUE")
        || !addExtension(certificate.get(), &context, NID_key_usage, "critical,keyCertSign,cRLSign")
        || !addSubjectKeyIdentifier(certificate.get()))
        return nullptr;
    if (!sign(certificate.get(), key))
        return nullptr;
    return certificate;
}

Common::OpenSsl::X509Handle buildEndUserCertificate(X509_REQ* request, EVP_PKEY* caKey, X509* caCertificate,
                                         const char* group)
{
    Common::OpenSsl::X509Handle certificate(X509_new());
    if (!certificate || !setVersionAndValidity(certificate.get()) || !setSerialNumber(certificate.get()))
        return nullptr;
    EVP_PKEY* requestKey = X509_REQ_get0_pubkey(request);
    if (requestKey == nullptr) {
        std::fprintf(stderr, "CSR is malformed: no public key found\n");
        return nullptr;
    }
    if (X509_set_pubkey(certificate.get(), requestKey) != 1) {
        std::fprintf(stderr, "Could not set X509 public key\n");
        return nullptr;
    }
    if (X509_set_subject_name(certificate.get(), X509_REQ_get_subject_name(request)) != 1
        || X509_set_issuer_name(certificate.get(), X509_get_subject_name(caCertificate)) != 1) {
        std::fprintf(stderr, "Could not set X509 name\n");
        return nullptr;
    }
    X509V3_CTX context;
    X509V3_set_ctx(&context, caCertificate, certificate.get(), nullptr, nullptr, 0);
    const bool groupGiven = group != nullptr;
    if (!addExtension(certificate.get(), &context, NID_key_usage, "critical,digitalSignature")
        || !addSubjectKeyIdentifier(certificate.get())
        || !addExtension(certificate.get(), &context, NID_authority_key_identifier, "keyid:always")
        || !addExtension(certificate.get(), &context, NID_ext_key_usage,
                         groupGiven ? "critical,emailProtection,packageSigning" : "critical,emailProtection")
        || (groupGiven && !addExtension(certificate.get(), &context, Oids::certificateGroup(), group)))
        return nullptr;
    if (!sign(certificate.get(), caKey))
        return nullptr;
    return certificate;
}

} // namespace

extern "C" {

int make_ca_certificate(const char* outPath, const char* keyPath, const char* commonName)
{
    std::string failure;
    std::optional<PrivateKeySource> keySource = PrivateKeySource::open(keyPath, failure);
    if (!keySource) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return -1;
    }
    // Opened before the key is read, so an unusable output is reported
    // before any passphrase prompt; it replaces the old file only on success.
    const std::unique_ptr<ReplacingFile> output = ReplacingFile::create(outPath == nullptr ? "" : outPath);
    if (!output) {
        std::fprintf(stderr, "%s\n", std::strerror(errno));
        return -1;
    }
    const Common::OpenSsl::EvpPkeyHandle key = keySource->read(nullptr);
    if (!key) {
        if (!keySource->inToken())
            std::fprintf(stderr, "Could not read private key (wrong passphrase?)\n");
        return -1;
    }
    const Common::OpenSsl::X509Handle certificate =
        buildCaCertificate(key.get(), commonName == nullptr ? "" : commonName);
    if (!certificate) {
        std::fprintf(stderr, "CA certificate issuing failed\n");
        return -1;
    }
    if (PEM_write_X509(output->stream(), certificate.get()) != 1 || !output->commit()) {
        std::fprintf(stderr, "Could not save certificate\n");
        return -1;
    }
    return 0;
}

int make_certificate(const char* outPath, const char* csrPath, const char* caKeyPath, const char* caCertPath,
                     const char* group)
{
    std::string failure;
    const Common::Libc::FileHandle requestFile = openRegularStream(csrPath, failure);
    if (!requestFile) {
        std::fprintf(stderr, "Could not open CSR file: %s\n", failure.c_str());
        return -1;
    }
    std::optional<PrivateKeySource> keySource = PrivateKeySource::open(caKeyPath, failure);
    if (!keySource) {
        std::fprintf(stderr, "Could not open key file: %s\n", failure.c_str());
        return -1;
    }
    const Common::Libc::FileHandle caFile = openRegularStream(caCertPath, failure);
    if (!caFile) {
        std::fprintf(stderr, "Could not open CA certificate file: %s\n", failure.c_str());
        return -1;
    }

    const Common::OpenSsl::EvpPkeyHandle caKey = keySource->read(nullptr);
    if (!caKey) {
        if (!keySource->inToken())
            std::fprintf(stderr, "Could not read private key (wrong passphrase?)\n");
        return -1;
    }
    const Common::OpenSsl::X509ReqHandle request(PEM_read_X509_REQ(requestFile.get(), nullptr, nullptr, nullptr));
    if (!request) {
        std::fprintf(stderr, "Could not parse CSR from PEM\n");
        return -1;
    }
    const Common::OpenSsl::X509Handle caCertificate(PEM_read_X509(caFile.get(), nullptr, nullptr, nullptr));
    if (!caCertificate) {
        std::fprintf(stderr, "Could not read PEM CA certificate\n");
        return -1;
    }

    EVP_PKEY* requestKey = X509_REQ_get0_pubkey(request.get());
    const int requestCheck = requestKey == nullptr ? -1 : X509_REQ_verify(request.get(), requestKey);
    if (requestCheck < 0) {
        std::fprintf(stderr, "CSR is invalid\n");
        return -1;
    }
    if (requestCheck == 0) {
        std::fprintf(stderr, "CSR signature verification failed\n");
        return -1;
    }
    EVP_PKEY* caPublicKey = X509_get0_pubkey(caCertificate.get());
    const int caCheck = caPublicKey == nullptr ? -1 : X509_verify(caCertificate.get(), caPublicKey);
    if (caCheck < 0) {
        std::fprintf(stderr, "CA certificate is invalid\n");
        return -1;
    }
    if (caCheck == 0) {
        std::fprintf(stderr, "CA certificate signature verification failed\n");
        return -1;
    }

    const Common::OpenSsl::X509Handle certificate =
        buildEndUserCertificate(request.get(), caKey.get(), caCertificate.get(), group);
    if (!certificate) {
        std::fprintf(stderr, "Certificate issuing failed\n");
        return -1;
    }
    const std::unique_ptr<ReplacingFile> output = ReplacingFile::create(outPath == nullptr ? "" : outPath);
    if (!output) {
        std::fprintf(stderr, "Could not open resulting certificate file: %s\n", std::strerror(errno));
        return -1;
    }
    if (PEM_write_X509(output->stream(), certificate.get()) != 1 || !output->commit()) {
        std::fprintf(stderr, "Could not save resulting certificate file\n");
        return -1;
    }
    return 0;
}

} // extern "C"
