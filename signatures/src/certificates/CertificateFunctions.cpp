#include "torvel/CertificateFunctions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "certificates/CertificateFacts.h"
#include "common/VisibleText.h"
#include "core/Digests.h"
#include "core/Oids.h"
#include "core/PrivateKeys.h"
#include "core/RegularFile.h"

using namespace PackageSignatures;

namespace {

char* copyString(const char* data, size_t len)
{
    auto* copy = static_cast<char*>(std::malloc(len + 1));
    if (copy != nullptr) {
        std::memcpy(copy, data, len);
        copy[len] = '\0';
    }
    return copy;
}

Common::Libc::FileHandle openForReading(const char* path, std::string& failure)
{
    return openRegularStream(path, failure);
}

std::string shown(const char* path)
{
    return Common::visibleText(path == nullptr ? "" : path);
}

} // namespace

extern "C" {

EVP_PKEY* private_key_read(const char* path, const char* passphrase)
{
    std::string failure;
    std::optional<PrivateKeySource> source = PrivateKeySource::open(path, failure);
    if (!source) {
        std::fprintf(stderr, "Could not open private key \"%s\": %s\n", shown(path).c_str(), failure.c_str());
        return nullptr;
    }
    Common::OpenSsl::EvpPkeyHandle key = source->read(passphrase);
    if (!key && !source->inToken())
        std::fprintf(stderr, "Could not read private key \"%s\" (wrong passphrase?)\n", shown(path).c_str());
    return key.release();
}

X509* certificate_read(const char* path)
{
    std::string failure;
    const Common::Libc::FileHandle file = openForReading(path, failure);
    if (!file) {
        std::fprintf(stderr, "Could not open certificate \"%s\": %s\n", shown(path).c_str(), failure.c_str());
        return nullptr;
    }
    X509* certificate = PEM_read_X509(file.get(), nullptr, nullptr, nullptr);
    if (certificate == nullptr) {
        std::fprintf(stderr, "Could not parse certificate \"%s\"\n", shown(path).c_str());
        return nullptr;
    }
    // OpenSSL decodes a certificate's extensions lazily, on first use, and
    // its check for having done so takes no lock. Decoding them here makes
    // the certificate safe to share between threads that sign with it.
    X509_check_purpose(certificate, -1, 0);
    return certificate;
}

X509_STORE* certificate_store_read(const char* path)
{
    const TrustedCertificates trusted = readTrustedCertificates(path);
    if (!trusted.store) {
        if (trusted.allocationFailed)
            std::fprintf(stderr, "Failed to allocate X509 store\n");
        else
            std::fprintf(stderr, "Could not open certificate store \"%s\": %s\n", shown(path).c_str(),
                         trusted.failure.c_str());
        return nullptr;
    }
    for (int i = 0; i < trusted.refused; ++i)
        std::fprintf(stderr, "Could not add CA certificate to X509 store\n");
    return trusted.store;
}

char* certificate_get_subject(X509* certificate)
{
    X509_NAME* subject = certificate == nullptr ? nullptr : X509_get_subject_name(certificate);
    const int position = subject == nullptr ? -1 : X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (position < 0) {
        std::fprintf(stderr, "No common name found\n");
        return nullptr;
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, position));
    unsigned char* utf8 = nullptr;
    const int length = data == nullptr ? -1 : ASN1_STRING_to_UTF8(&utf8, data);
    const Common::OpenSsl::BytesHandle owned(utf8);
    if (length < 0) {
        std::fprintf(stderr, "Could not get common name data\n");
        return nullptr;
    }
    return copyString(reinterpret_cast<const char*>(owned.get()), size_t(length));
}

char* certificate_get_group(X509* certificate)
{
    const GroupReading reading = readCertificateGroup(certificate);
    switch (reading.eligibility) {
    case SigningEligibility::NoCertificate:
    case SigningEligibility::NoExtendedKeyUsage:
        std::fprintf(stderr, "Failed to get certificate extensions\n");
        return nullptr;
    case SigningEligibility::NoPackageSigningUsage:
        std::fprintf(stderr, "Package signing not allowed (there is no corresponding extended key usage)\n");
        return nullptr;
    case SigningEligibility::NoGroupExtension:
        std::fprintf(stderr, "Failed to get package group from certificate\n");
        return nullptr;
    case SigningEligibility::UnknownGroup:
    case SigningEligibility::Eligible:
        break;
    }
    return copyString(reading.text.data(), reading.text.size());
}

char* certificate_get_keyid(X509* certificate)
{
    const ASN1_OCTET_STRING* identifier = certificate == nullptr ? nullptr : X509_get0_subject_key_id(certificate);
    if (identifier == nullptr) {
        std::fprintf(stderr, "Failed to extract keyid from certificate\n");
        return nullptr;
    }
    const std::string text = lowerHex(ASN1_STRING_get0_data(identifier), size_t(ASN1_STRING_length(identifier)));
    return copyString(text.data(), text.size());
}

int certificate_verify(X509* certificate, X509_STORE* store)
{
    Common::OpenSsl::X509StoreCtxHandle context(X509_STORE_CTX_new());
    if (!context || certificate == nullptr || store == nullptr
        || X509_STORE_CTX_init(context.get(), store, certificate, nullptr) != 1) {
        std::fprintf(stderr, "Couldn't initialize x509 store context\n");
        return 0;
    }
    return X509_verify_cert(context.get()) == 1 ? 1 : 0;
}

} // extern "C"
