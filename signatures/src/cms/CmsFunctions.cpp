#include "torvel/CmsFunctions.h"

#include <cstdio>
#include <cstdlib>

#include <openssl/cms.h>
#include <openssl/evp.h>

#include "certificates/CertificateFacts.h"
#include "cms/Asn1Internal.h"
#include "cms/CmsReading.h"
#include "cms/LargeData.h"
#include "common/OpenSslHandles.h"
#include "core/Oids.h"

using namespace PackageSignatures;

namespace {

// Blocks are made with exactly one signer; anything else is refused by every
// reader of the signer's data.
CMS_SignerInfo* soleSigner(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* signers = cms == nullptr ? nullptr : CMS_get0_SignerInfos(cms);
    const int count = signers == nullptr ? 0 : sk_CMS_SignerInfo_num(signers);
    if (count == 0) {
        std::fprintf(stderr, "No signers found in CMS\n");
        return nullptr;
    }
    if (count > 1) {
        std::fprintf(stderr, "CMSes with multiple signers are not supported (found: %d)\n", count);
        return nullptr;
    }
    return sk_CMS_SignerInfo_value(signers, 0);
}

// The DER of a signed attribute whose single value is a SEQUENCE; null
// when the signer has no such attribute.
const ASN1_STRING* sequenceAttribute(CMS_SignerInfo* signer, int nid)
{
    const int position = CMS_signed_get_attr_by_NID(signer, nid, -1);
    if (position < 0)
        return nullptr;
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, position);
    ASN1_TYPE* value = attribute == nullptr ? nullptr : X509_ATTRIBUTE_get0_type(attribute, 0);
    static const ASN1_STRING emptySequence {};
    if (value == nullptr || value->type != V_ASN1_SEQUENCE || value->value.sequence == nullptr)
        return &emptySequence; // present but not decodable
    return value->value.sequence;
}

template <typename T, T* (*Decode)(T**, const unsigned char**, long)>
T* decodeWhole(const ASN1_STRING* der)
{
    const unsigned char* cursor = der->data;
    if (cursor == nullptr || der->length <= 0)
        return nullptr;
    return Decode(nullptr, &cursor, der->length);
}

} // namespace

namespace PackageSignatures {

CMS_SignerInfo* onlySignerInfo(CMS_ContentInfo* cms)
{
    STACK_OF(CMS_SignerInfo)* signers = cms == nullptr ? nullptr : CMS_get0_SignerInfos(cms);
    return signers != nullptr && sk_CMS_SignerInfo_num(signers) == 1 ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
}

X509* onlyCertificate(CMS_ContentInfo* cms)
{
    const Common::OpenSsl::X509StackHandle certificates(cms == nullptr ? nullptr : CMS_get1_certs(cms));
    return certificates && sk_X509_num(certificates.get()) == 1 ? sk_X509_value(certificates.get(), 0) : nullptr;
}

std::optional<ProofOfRotationChain*> decodeRotationChain(CMS_ContentInfo* cms)
{
    CMS_SignerInfo* signer = onlySignerInfo(cms);
    const ASN1_STRING* der = signer == nullptr ? nullptr : sequenceAttribute(signer, Oids::rotationChain());
    if (der == nullptr)
        return std::nullopt;
    return decodeWhole<ProofOfRotationChain, d2i_ProofOfRotationChain>(der);
}

std::optional<int64_t> signingTime(CMS_ContentInfo* cms)
{
    CMS_SignerInfo* signer = onlySignerInfo(cms);
    const int position = signer == nullptr ? -1 : CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1);
    X509_ATTRIBUTE* attribute = position < 0 ? nullptr : CMS_signed_get_attr(signer, position);
    const ASN1_TYPE* value = attribute == nullptr ? nullptr : X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return std::nullopt;
    return epochSeconds(value->value.asn1_string);
}

} // namespace PackageSignatures

extern "C" {

CMS_ContentInfo* cms_from_der(const unsigned char* data, long len)
{
    CMS_ContentInfo* cms = nullptr;
    if (data != nullptr && len > 0) {
        Common::OpenSsl::BioHandle source(dataSource(data, size_t(len)));
        if (source)
            cms = d2i_CMS_bio(source.get(), nullptr);
    }
    if (cms == nullptr)
        std::fprintf(stderr, "Could not decode DER CMS\n");
    return cms;
}

X509* cms_get_certificate(CMS_ContentInfo* cms)
{
    const Common::OpenSsl::X509StackHandle certificates(cms == nullptr ? nullptr : CMS_get1_certs(cms));
    if (!certificates || sk_X509_num(certificates.get()) == 0) {
        std::fprintf(stderr, "Could not get signers from CMS\n");
        return nullptr;
    }
    if (sk_X509_num(certificates.get()) != 1) {
        std::fprintf(stderr, "CMS must contain only one signer\n");
        return nullptr;
    }
    // The CMS keeps its own reference once our stack lets go of ours.
    return sk_X509_value(certificates.get(), 0);
}

char* cms_get_signature(CMS_ContentInfo* cms)
{
    CMS_SignerInfo* signer = soleSigner(cms);
    if (signer == nullptr)
        return nullptr;
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signer);
    const int length = signature == nullptr ? 0 : ASN1_STRING_length(signature);
    auto* text = static_cast<char*>(std::malloc(size_t(4 * ((length + 2) / 3) + 1)));
    if (text == nullptr)
        return nullptr;
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text), length > 0 ? ASN1_STRING_get0_data(signature) : nullptr,
                    length);
    return text;
}

FileSignatures* cms_get_file_signatures(CMS_ContentInfo* cms, int kind)
{
    if (kind != CMS_FILE_SIGNATURES_IMA && kind != CMS_FILE_SIGNATURES_TA) {
        std::fprintf(stderr, "Unknown kind of file signatures: %d\n", kind);
        return nullptr;
    }
    CMS_SignerInfo* signer = soleSigner(cms);
    if (signer == nullptr)
        return nullptr;
    const int nid = kind == CMS_FILE_SIGNATURES_IMA ? Oids::packageFileSignatures() : Oids::packageTrustletSignatures();
    const ASN1_STRING* der = sequenceAttribute(signer, nid);
    if (der == nullptr) {
        // Blocks made with file signatures carry both attributes, but a
        // missing trusted-application list is the common case and not news.
        if (kind == CMS_FILE_SIGNATURES_IMA)
            std::fprintf(stderr, "No file signatures found in CMS\n");
        return nullptr;
    }
    FileSignatures* signatures = decodeWhole<FileSignatures, d2i_FileSignatures>(der);
    if (signatures == nullptr)
        std::fprintf(stderr, "Could not deserialize FileSignatures sequence\n");
    return signatures;
}

ProofOfRotationChain* cms_get_rotation_chain(CMS_ContentInfo* cms)
{
    CMS_SignerInfo* signer = soleSigner(cms);
    if (signer == nullptr)
        return nullptr;
    const ASN1_STRING* der = sequenceAttribute(signer, Oids::rotationChain());
    if (der == nullptr)
        return nullptr;
    ProofOfRotationChain* chain = decodeWhole<ProofOfRotationChain, d2i_ProofOfRotationChain>(der);
    if (chain == nullptr)
        std::fprintf(stderr, "Could not deserialize ProofOfRotationChain sequence\n");
    return chain;
}

} // extern "C"
