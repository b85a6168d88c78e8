#pragma once

// Owning handles for OpenSSL objects: what a new, get1, d2i or PEM_read call
// returns. What a get0 call returns is borrowed and stays a plain pointer.

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/ui.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "common/OwningHandle.h"

namespace Common::OpenSsl {

using BioHandle = Owned<BIO, BIO_free_all>;
using X509Handle = Owned<X509, X509_free>;
using X509ReqHandle = Owned<X509_REQ, X509_REQ_free>;
using X509StoreHandle = Owned<X509_STORE, X509_STORE_free>;
using X509StoreCtxHandle = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509ExtensionHandle = Owned<X509_EXTENSION, X509_EXTENSION_free>;
using EvpPkeyHandle = Owned<EVP_PKEY, EVP_PKEY_free>;
using EvpPkeyCtxHandle = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpMdCtxHandle = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using CmsHandle = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using Asn1IntegerHandle = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1OctetStringHandle = Owned<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1Ia5StringHandle = Owned<ASN1_IA5STRING, ASN1_IA5STRING_free>;
using Asn1StringHandle = Owned<ASN1_STRING, ASN1_STRING_free>;
using ExtendedKeyUsageHandle = Owned<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using BignumHandle = Owned<BIGNUM, BN_free>;
using EngineHandle = Owned<ENGINE, ENGINE_free>;
// A functional reference (ENGINE_init): finishing it also lets go of the
// structural reference that came with it.
using EngineFunctionalHandle = Owned<ENGINE, ENGINE_finish>;
using UiMethodHandle = Owned<UI_METHOD, UI_destroy_method>;

// OPENSSL_free and sk_X509_pop_free are macros, so they get functions to be
// named by.
inline void opensslFree(void* memory) { OPENSSL_free(memory); }
inline void freeX509Stack(STACK_OF(X509)* stack) { sk_X509_pop_free(stack, X509_free); }

// Bytes OpenSSL allocated for the caller (i2d output, UTF-8 conversions).
using BytesHandle = Owned<unsigned char, opensslFree>;
// A stack holding one reference to each of its certificates
// (CMS_get1_certs); a get0 stack is the caller's only to read.
using X509StackHandle = Owned<STACK_OF(X509), freeX509Stack>;

} // namespace Common::OpenSsl
