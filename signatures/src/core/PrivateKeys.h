#pragma once

// Where every private key the library signs with comes from: a PEM file, or
// a key kept in a hardware security module and named by an RFC 7512 PKCS#11
// URI ("pkcs11:token=...;object=..."), reached through OpenSSL's engine
// interface and the "pkcs11" engine (libp11). Every caller that takes a key
// (package signing, TA headers, rotation proofs, certificate issuance) reads
// it through PrivateKeySource, so a URI works wherever a key file does.

#include <mutex>
#include <optional>
#include <string>

#include <openssl/evp.h>

#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"

namespace PackageSignatures {

// True for a location that is a PKCS#11 URI (the scheme, in any case).
bool isTokenKeyUri(const char* location);

// The URI as it may be printed: a PIN written into it as pin-value is
// hidden, and control characters are made visible.
std::string shownTokenUri(const std::string& uri);

class PrivateKeySource {
public:
    // A PEM file is opened at once (only a regular file), so a missing file
    // is reported before anything else is done; a token is only reached by
    // read(). Empty, with the system's reason in `failure`, when the file
    // cannot be opened.
    static std::optional<PrivateKeySource> open(const char* location, std::string& failure);

    bool inToken() const { return !m_file; }

    // The key. `passphrase` decrypts a PEM file (null: OpenSSL asks on the
    // terminal for an encrypted one) or is the token's PIN unless the URI
    // carries one (pin-value, pin-source); a token's PIN is never asked for.
    // Null on failure: a token failure has printed its one line already, a
    // file failure is the caller's to report, each caller in its own words.
    Common::OpenSsl::EvpPkeyHandle read(const char* passphrase);

private:
    std::string m_location;
    Common::Libc::FileHandle m_file;
};

// Held around every private-key operation: for a key in a token it holds
// the lock shared by all token keys, so threads signing with token keys take
// turns at the token (not every engine version tolerates concurrent use of
// one session); for any other key it holds nothing and costs nothing.
std::unique_lock<std::mutex> exclusiveUse(const EVP_PKEY* key);

// Part of the load-time OpenSSL set-up: the slot of an EVP_PKEY where a
// token key keeps its owner (engine reference and mutex).
void registerTokenKeySlot();

} // namespace PackageSignatures
