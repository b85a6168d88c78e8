#pragma once

// Owning handles for every C object the library touches. Each deleter is an
// empty struct, so a handle is exactly one pointer wide. Borrowed pointers
// (OpenSSL's get0 results) stay plain pointers; only get1/new results go here.

#include <cstdio>
#include <memory>
#include <type_traits>

#include <glib.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "common/RpmHandles.h"

#include "torvel/Asn1Structures.h"

namespace PackageSignatures::Handles {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

template <typename T, auto FreeFunction>
using Owned = std::unique_ptr<T, Deleter<FreeFunction>>;

using BioPtr = Owned<BIO, BIO_free_all>;
using X509Ptr = Owned<X509, X509_free>;
using X509ReqPtr = Owned<X509_REQ, X509_REQ_free>;
using X509StorePtr = Owned<X509_STORE, X509_STORE_free>;
using X509StoreCtxPtr = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509ExtensionPtr = Owned<X509_EXTENSION, X509_EXTENSION_free>;
using X509NamePtr = Owned<X509_NAME, X509_NAME_free>;
using EvpPkeyPtr = Owned<EVP_PKEY, EVP_PKEY_free>;
using EvpMdCtxPtr = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using EvpPkeyCtxPtr = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using CmsPtr = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using Asn1OctetStringPtr = Owned<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1IntegerPtr = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1Ia5StringPtr = Owned<ASN1_IA5STRING, ASN1_IA5STRING_free>;
using BignumPtr = Owned<BIGNUM, BN_free>;
using EnginePtr = Owned<ENGINE, ENGINE_free>;
using FileSignaturesPtr = Owned<FileSignatures, FileSignatures_free>;
using FileSignaturePtr = Owned<FileSignature, FileSignature_free>;
using ProofOfRotationPtr = Owned<ProofOfRotation, ProofOfRotation_free>;
using ProofOfRotationChainPtr = Owned<ProofOfRotationChain, ProofOfRotationChain_free>;
using ExtendedKeyUsagePtr = Owned<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using CStringPtr = Owned<char, ::free>;
inline void opensslFree(void* memory) { OPENSSL_free(memory); }
using OpenSslStringPtr = Owned<char, opensslFree>;
using OpenSslBytesPtr = Owned<unsigned char, opensslFree>;
using GKeyFilePtr = Owned<GKeyFile, g_key_file_free>;
using GCharPtr = Owned<gchar, g_free>;
using GByteArrayPtr = Owned<GByteArray, g_byte_array_unref>;
using FilePtr = Owned<FILE, fclose>;

// A stack of X.509 objects that holds one reference to each (CMS_get1_certs).
inline void freeX509Stack(STACK_OF(X509)* stack) { sk_X509_pop_free(stack, X509_free); }
using OwnedX509StackPtr = Owned<STACK_OF(X509), freeX509Stack>;

using RpmFdPtr = Common::Rpm::FdHandle;
using RpmHeaderPtr = Common::Rpm::HeaderHandle;
using RpmFilesPtr = Common::Rpm::FilesHandle;
using RpmFiPtr = Common::Rpm::FiHandle;

} // namespace PackageSignatures::Handles
