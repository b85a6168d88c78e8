#pragma once

/* Layout of the private ASN.1 structures; the public header keeps them opaque. */

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include "torvel/Asn1Structures.h"

struct FileSignature_st {
    ASN1_INTEGER* index;
    ASN1_OCTET_STRING* value;
};

struct FileSignatures_st {
    ASN1_INTEGER* version;
    STACK_OF(FileSignature)* signatures;
};

struct ProofOfRotationSignedAttrs_st {
    X509* oldCert;
    X509* newCert;
};

struct ProofOfRotation_st {
    ProofOfRotationSignedAttrs* signedAttrs;
    X509_ALGOR* oldSignatureAlgorithm;
    ASN1_OCTET_STRING* oldSignature;
    X509_ALGOR* newSignatureAlgorithm;
    ASN1_OCTET_STRING* newSignature;
};
