#pragma once

// Identifiers OpenSSL assigned to the private object identifiers when the
// library was loaded; NID_undef until then.

namespace PackageSignatures::Oids {

int packageSigning();
int certificateGroup();
int packageFileSignatures();
int rotationChain();
int packageTrustletSignatures();

} // namespace PackageSignatures::Oids
