#pragma once

#include <memory>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <torvel/Asn1Structures.h>

// Owning handles for the OpenSSL objects the tool receives from libtorvel.
namespace SignTool::OpenSsl {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

using X509Handle = std::unique_ptr<X509, Deleter<X509_free>>;
using KeyHandle = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using ChainHandle = std::unique_ptr<ProofOfRotationChain, Deleter<ProofOfRotationChain_free>>;

} // namespace SignTool::OpenSsl
