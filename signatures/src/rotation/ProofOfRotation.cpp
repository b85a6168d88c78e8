// Making and checking proofs of rotation and chains of them.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <openssl/asn1t.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "cms/Asn1Internal.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"
#include "core/Digests.h"
#include "core/PrivateKeys.h"
#include "core/RegularFile.h"
#include "core/ReplacingFile.h"
#include "rotation/RotationChainCheck.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/RotationFunctions.h"

namespace PackageSignatures {

namespace {

bool setCertificate(X509*& field, X509* certificate)
{
    if (certificate == nullptr || X509_up_ref(certificate) != 1)
        return false;
    X509_free(field);
    field = certificate;
    return true;
}

// Signs the DER of the pair with the key's default digest, filling the
// algorithm identifier the way an X.509 signature is filled.
bool signPair(ProofOfRotationSignedAttrs* pair, EVP_PKEY* key, X509_ALGOR* algorithm, ASN1_OCTET_STRING* signature)
{
    const EVP_MD* digest = key == nullptr ? nullptr : defaultDigest(key);
    const std::unique_lock<std::mutex> turn = exclusiveUse(key);
    return digest != nullptr
           && ASN1_item_sign(ASN1_ITEM_rptr(ProofOfRotationSignedAttrs), algorithm, nullptr, signature, pair, key,
                             digest)
                  > 0;
}

int checkPair(ProofOfRotationSignedAttrs* pair, X509_ALGOR* algorithm, ASN1_OCTET_STRING* signature,
              EVP_PKEY* publicKey)
{
    const int result = ASN1_item_verify(ASN1_ITEM_rptr(ProofOfRotationSignedAttrs), algorithm, signature, pair,
                                        publicKey);
    return result == 1 ? 1 : result < 0 ? -1 : 0;
}

const ASN1_OCTET_STRING* subjectKeyId(X509* certificate)
{
    return certificate == nullptr ? nullptr : X509_get0_subject_key_id(certificate);
}

// What ProofOfRotation_verify returns.
int checkProof(ProofOfRotation* proof, Diagnostics diagnostics)
{
    EVP_PKEY* oldKey = X509_get0_pubkey(ProofOfRotation_get0_old_cert(proof));
    EVP_PKEY* newKey = X509_get0_pubkey(ProofOfRotation_get0_new_cert(proof));
    if (oldKey == nullptr || newKey == nullptr)
        return -1;
    const bool print = diagnostics == Diagnostics::Print;
    const int oldResult = checkPair(proof->signedAttrs, proof->oldSignatureAlgorithm, proof->oldSignature, oldKey);
    if (oldResult != 1) {
        if (print)
            std::fprintf(stderr, "Could not verify old signature in proof-of-rotation\n");
        return oldResult;
    }
    const int newResult = checkPair(proof->signedAttrs, proof->newSignatureAlgorithm, proof->newSignature, newKey);
    if (newResult != 1 && print)
        std::fprintf(stderr, "Could not verify new signature in proof-of-rotation\n");
    return newResult;
}

} // namespace

RotationChainCheck checkRotationChain(ProofOfRotationChain* chain, Diagnostics diagnostics)
{
    using Failure = RotationChainVerification::Failure;
    const bool print = diagnostics == Diagnostics::Print;
    const ASN1_OCTET_STRING* previousNew = nullptr;
    for (int i = 0; i < ProofOfRotationChain_count(chain); ++i) {
        ProofOfRotation* proof = ProofOfRotationChain_get0_at(chain, i);
        const int proofResult = checkProof(proof, diagnostics);
        if (proofResult != 1) {
            if (print)
                std::fprintf(stderr, "Could not verify proof[%d]\n", i);
            return {RotationChainVerification {Failure::InvalidProof, i}, proofResult};
        }
        const ASN1_OCTET_STRING* oldId = subjectKeyId(ProofOfRotation_get0_old_cert(proof));
        if (oldId == nullptr) {
            if (print)
                std::fprintf(stderr, "Old certificate in proof[%d] has no SKID\n", i);
            return {RotationChainVerification {Failure::MissingOldKeyId, i}, 0};
        }
        if (i > 0 && ASN1_OCTET_STRING_cmp(oldId, previousNew) != 0) {
            if (print)
                std::fprintf(stderr, "New SKID from proof[%d] does not match old SKID from proof[%d]\n", i - 1, i);
            return {RotationChainVerification {Failure::BrokenLink, i}, 0};
        }
        previousNew = subjectKeyId(ProofOfRotation_get0_new_cert(proof));
        if (previousNew == nullptr) {
            if (print)
                std::fprintf(stderr, "New certificate in proof[%d] has no SKID\n", i);
            return {RotationChainVerification {Failure::MissingNewKeyId, i}, 0};
        }
    }
    return {RotationChainVerification {}, 1};
}

RotationExtension extendRotationChain(const char* outPath, const char* inChainPath, const char* oldCertPath,
                                      const char* oldKeyPath, const char* newCertPath, const char* newKeyPath)
{
    const auto refused = [](RotationRefusal refusal, int proofIndex = -1) {
        return RotationExtension {refusal, proofIndex};
    };
    const Common::OpenSsl::X509Handle oldCertificate(certificate_read(oldCertPath));
    if (!oldCertificate)
        return refused(RotationRefusal::OldCertificateUnreadable);
    const Common::OpenSsl::EvpPkeyHandle oldKey(private_key_read(oldKeyPath, nullptr));
    if (!oldKey)
        return refused(RotationRefusal::OldKeyUnreadable);
    const Common::OpenSsl::X509Handle newCertificate(certificate_read(newCertPath));
    if (!newCertificate)
        return refused(RotationRefusal::NewCertificateUnreadable);
    const Common::OpenSsl::EvpPkeyHandle newKey(private_key_read(newKeyPath, nullptr));
    if (!newKey)
        return refused(RotationRefusal::NewKeyUnreadable);

    Common::Torvel::ProofOfRotationChainHandle chain(inChainPath != nullptr ? ProofOfRotationChain_read(inChainPath)
                                                                  : sk_ProofOfRotation_new_null());
    if (!chain)
        return refused(RotationRefusal::ChainUnreadable);
    Common::Torvel::ProofOfRotationHandle proof(
        ProofOfRotation_create(oldCertificate.get(), oldKey.get(), newCertificate.get(), newKey.get()));
    if (!proof || sk_ProofOfRotation_push(chain.get(), proof.get()) <= 0)
        return refused(RotationRefusal::ProofNotMade);
    proof.release();
    const RotationChainCheck check = checkRotationChain(chain.get());
    if (check.result != 1) {
        using Failure = RotationChainVerification::Failure;
        const int index = check.verification.proofIndex;
        const bool newProof = index == ProofOfRotationChain_count(chain.get()) - 1;
        // Told apart only once the check has failed, so that the lines it
        // prints stay what they were.
        if (newProof && check.verification.failure == Failure::InvalidProof) {
            const bool oldMatches = X509_check_private_key(oldCertificate.get(), oldKey.get()) == 1;
            const bool newMatches = X509_check_private_key(newCertificate.get(), newKey.get()) == 1;
            ERR_clear_error();
            if (!oldMatches)
                return refused(RotationRefusal::OldKeyDoesNotMatchCertificate, index);
            if (!newMatches)
                return refused(RotationRefusal::NewKeyDoesNotMatchCertificate, index);
        }
        if (newProof && check.verification.failure == Failure::BrokenLink)
            return refused(RotationRefusal::ChainDoesNotEndWithOldKey, index);
        return refused(RotationRefusal::InvalidChain, index);
    }

    // The chain replaces the output only once it is written whole.
    const std::unique_ptr<ReplacingFile> output = ReplacingFile::create(outPath == nullptr ? "" : outPath);
    if (!output) {
        std::fprintf(stderr, "Could not open resulting proof-of-rotation chain file: %s\n", std::strerror(errno));
        return refused(RotationRefusal::OutputNotWritten);
    }
    if (PEM_write_ProofOfRotationChain(output->stream(), chain.get()) != 1 || !output->commit()) {
        std::fprintf(stderr, "Could not save resulting proof-of-rotation chain file\n");
        return refused(RotationRefusal::OutputNotWritten);
    }
    return {};
}

} // namespace PackageSignatures

using namespace PackageSignatures;

extern "C" {

ProofOfRotation* ProofOfRotation_create(X509* oldCert, EVP_PKEY* oldKey, X509* newCert, EVP_PKEY* newKey)
{
    Common::Torvel::ProofOfRotationHandle proof(ProofOfRotation_new());
    if (!proof || !setCertificate(proof->signedAttrs->oldCert, oldCert)
        || !setCertificate(proof->signedAttrs->newCert, newCert))
        return nullptr;
    if (!signPair(proof->signedAttrs, oldKey, proof->oldSignatureAlgorithm, proof->oldSignature)) {
        std::fprintf(stderr, "Could not sign proof-of-rotation with old key\n");
        return nullptr;
    }
    if (!signPair(proof->signedAttrs, newKey, proof->newSignatureAlgorithm, proof->newSignature)) {
        std::fprintf(stderr, "Could not sign proof-of-rotation with new key\n");
        return nullptr;
    }
    return proof.release();
}

int ProofOfRotation_verify(ProofOfRotation* proof)
{
    return checkProof(proof, Diagnostics::Print);
}

int ProofOfRotationChain_verify(ProofOfRotationChain* chain)
{
    return checkRotationChain(chain).result;
}

int make_proof_of_rotation_chain(const char* outPath, const char* inChainPath, const char* oldCertPath,
                                 const char* oldKeyPath, const char* newCertPath, const char* newKeyPath)
{
    return extendRotationChain(outPath, inChainPath, oldCertPath, oldKeyPath, newCertPath, newKeyPath).succeeded()
               ? 0
               : -1;
}

ProofOfRotationChain* ProofOfRotationChain_read(const char* path)
{
    std::string failure;
    const Common::Libc::FileHandle stream = PackageSignatures::openRegularStream(path, failure);
    if (!stream) {
        std::fprintf(stderr, "Could not open proof-of-rotation: %s\n", failure.c_str());
        return nullptr;
    }
    ProofOfRotationChain* chain = PEM_read_ProofOfRotationChain(stream.get(), nullptr, nullptr, nullptr);
    if (chain == nullptr)
        std::fprintf(stderr, "Could not read proof-of-rotation chain\n");
    return chain;
}

} // extern "C"
