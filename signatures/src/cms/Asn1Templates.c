/* Item templates of the private structures. Kept in C because OpenSSL's
 * template macros are written for it. */

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <openssl/asn1t.h>
#include <openssl/pem.h>

#include "cms/Asn1Internal.h"

ASN1_SEQUENCE(FileSignature) = {
    ASN1_SIMPLE(FileSignature, index, ASN1_INTEGER),
    ASN1_SIMPLE(FileSignature, value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(FileSignature)
IMPLEMENT_ASN1_FUNCTIONS(FileSignature)

ASN1_SEQUENCE(FileSignatures) = {
    ASN1_SIMPLE(FileSignatures, version, ASN1_INTEGER),
    ASN1_SEQUENCE_OF(FileSignatures, signatures, FileSignature),
} ASN1_SEQUENCE_END(FileSignatures)
IMPLEMENT_ASN1_FUNCTIONS(FileSignatures)

ASN1_SEQUENCE(ProofOfRotationSignedAttrs) = {
    ASN1_SIMPLE(ProofOfRotationSignedAttrs, oldCert, X509),
    ASN1_SIMPLE(ProofOfRotationSignedAttrs, newCert, X509),
} ASN1_SEQUENCE_END(ProofOfRotationSignedAttrs)
IMPLEMENT_ASN1_FUNCTIONS(ProofOfRotationSignedAttrs)

ASN1_SEQUENCE(ProofOfRotation) = {
    ASN1_SIMPLE(ProofOfRotation, signedAttrs, ProofOfRotationSignedAttrs),
    ASN1_SIMPLE(ProofOfRotation, oldSignatureAlgorithm, X509_ALGOR),
    ASN1_SIMPLE(ProofOfRotation, oldSignature, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ProofOfRotation, newSignatureAlgorithm, X509_ALGOR),
    ASN1_SIMPLE(ProofOfRotation, newSignature, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(ProofOfRotation)
IMPLEMENT_ASN1_FUNCTIONS(ProofOfRotation)

ASN1_ITEM_TEMPLATE(ProofOfRotationChain) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SEQUENCE_OF, 0, proofs, ProofOfRotation)
ASN1_ITEM_TEMPLATE_END(ProofOfRotationChain)
IMPLEMENT_ASN1_ENCODE_FUNCTIONS_fname(ProofOfRotationChain, ProofOfRotationChain, ProofOfRotationChain)

/* No _new: an empty chain is an empty stack. */
void ProofOfRotationChain_free(ProofOfRotationChain* chain)
{
    ASN1_item_free((ASN1_VALUE*)chain, ASN1_ITEM_rptr(ProofOfRotationChain));
}

IMPLEMENT_PEM_rw(ProofOfRotationChain, ProofOfRotationChain, "PROOF OF ROTATION CHAIN", ProofOfRotationChain)

int FileSignatures_count(const FileSignatures* signatures)
{
    return signatures == NULL ? 0 : sk_FileSignature_num(signatures->signatures);
}

FileSignature* FileSignatures_get0_at(const FileSignatures* signatures, int i)
{
    return signatures == NULL ? NULL : sk_FileSignature_value(signatures->signatures, i);
}

long FileSignature_index(const FileSignature* signature)
{
    return signature == NULL ? -1 : ASN1_INTEGER_get(signature->index);
}

const unsigned char* FileSignature_value(const FileSignature* signature, int* len)
{
    if (signature == NULL || signature->value == NULL) {
        if (len != NULL)
            *len = 0;
        return NULL;
    }
    if (len != NULL)
        *len = ASN1_STRING_length(signature->value);
    return ASN1_STRING_get0_data(signature->value);
}

int ProofOfRotationChain_count(const ProofOfRotationChain* chain)
{
    return chain == NULL ? 0 : sk_ProofOfRotation_num(chain);
}

ProofOfRotation* ProofOfRotationChain_get0_at(const ProofOfRotationChain* chain, int i)
{
    return chain == NULL ? NULL : sk_ProofOfRotation_value(chain, i);
}

X509* ProofOfRotation_get0_old_cert(const ProofOfRotation* proof)
{
    return proof == NULL || proof->signedAttrs == NULL ? NULL : proof->signedAttrs->oldCert;
}

X509* ProofOfRotation_get0_new_cert(const ProofOfRotation* proof)
{
    return proof == NULL || proof->signedAttrs == NULL ? NULL : proof->signedAttrs->newCert;
}
