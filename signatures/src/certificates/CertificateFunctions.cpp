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

bool allowsPackageSigning(const EXTENDED_KEY_USAGE* usage)
{
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage); ++i) {
        if (OBJ_obj2nid(sk_ASN1_OBJECT_value(usage, i)) == Oids::packageSigning())
            return true;
    }
    return false;
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
    std::string failure;
    const Common::Libc::FileHandle file = openForReading(path, failure);
    if (!file) {
        std::fprintf(stderr, "Could not open certificate store \"%s\": %s\n", shown(path).c_str(), failure.c_str());
        return nullptr;
    }
    Common::OpenSsl::X509StoreHandle store(X509_STORE_new());
    if (!store) {
        std::fprintf(stderr, "Failed to allocate X509 store\n");
        return nullptr;
    }
    while (Common::OpenSsl::X509Handle certificate {PEM_read_X509(file.get(), nullptr, nullptr, nullptr)}) {
        if (X509_STORE_add_cert(store.get(), certificate.get()) != 1)
            std::fprintf(stderr, "Could not add CA certificate to X509 store\n");
    }
    // Reading ends with a "no start line" error for the end of the file.
    ERR_clear_error();
    return store.release();
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
    const Common::OpenSsl::ExtendedKeyUsageHandle usage(
        certificate == nullptr
            ? nullptr
            : static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr)));
    if (!usage) {
        std::fprintf(stderr, "Failed to get certificate extensions\n");
        return nullptr;
    }
    // The group is only believed from a certificate the CA allowed to sign
    // packages; anyone can put a comment extension into a certificate.
    if (!allowsPackageSigning(usage.get())) {
        std::fprintf(stderr, "Package signing not allowed (there is no corresponding extended key usage)\n");
        return nullptr;
    }
    const Common::OpenSsl::Asn1Ia5StringHandle group(
        static_cast<ASN1_IA5STRING*>(X509_get_ext_d2i(certificate, Oids::certificateGroup(), nullptr, nullptr)));
    if (!group) {
        std::fprintf(stderr, "Failed to get package group from certificate\n");
        return nullptr;
    }
    return copyString(reinterpret_cast<const char*>(ASN1_STRING_get0_data(group.get())),
                      size_t(ASN1_STRING_length(group.get())));
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
