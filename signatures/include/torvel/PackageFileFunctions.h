#pragma once

// Signatures of single files inside an RPM package, made while its payload
// is walked with librpm's archive reader.

#include <stdbool.h>

#include <openssl/evp.h>

#include "torvel/Export.h"

// The same declarations as librpm's and GLib's own, so that neither set of
// headers is needed here.
typedef struct rpmfi_s* rpmfi;
typedef struct _GByteArray GByteArray;

TORVEL_EXTERN_C_BEGIN

// OP-TEE's algorithm identifiers for signed trusted-application headers.
enum {
    TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256 = 0x70004830,
    TA_ALGORITHM_RSASSA_PKCS1_PSS_MGF1_SHA256 = 0x70414930
};

// Whether the iterator's current file is an OP-TEE trusted application:
// a "*.ta" file directly in /usr/lib/optee_armtz/.
TORVEL_EXPORT bool is_fi_ta(rpmfi fi);

// The lower-case hexadecimal text of the signed header of the current file,
// whose content is read from the archive; release with g_byte_array_unref.
TORVEL_EXPORT GByteArray* rpmfi_ta_shdr(rpmfi fi, EVP_PKEY* taKey, unsigned taAlgorithm);

TORVEL_EXTERN_C_END
