#pragma once

// Material the signature tests build for themselves: keys and certificates
// made with the openssl tool and the library's issuers, signature blocks
// made with `openssl cms`, or with OpenSSL's CMS calls where private signed
// attributes are needed, and the byte layouts appended to packages.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <TestKit.h>

#include "common/OpenSslHandles.h"

namespace SignatureFixtures {

using Bytes = std::vector<uint8_t>;

// Runs openssl with the arguments; throws with its output when it fails.
std::string openssl(const std::vector<std::string>& arguments);

Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& bytes);
void appendBytes(const std::string& path, const Bytes& bytes);
std::string hex(const Bytes& bytes);

// Trailers and whole blocks as they are appended to a package.
Bytes legacyTrailer(uint64_t size);
Bytes currentTrailer(uint32_t size, uint32_t version);
Bytes blockV1(const Bytes& der);
Bytes blockV2(const Bytes& der);
Bytes blockV3(const Bytes& der);
Bytes blockOfVersion(int version, const Bytes& der);

// Minimal DER writer for structures the tests assemble by hand.
Bytes tlv(uint8_t tag, const Bytes& content);
Bytes derInteger(long value);
Bytes derOctets(const Bytes& value);
Bytes derSequence(const std::vector<Bytes>& items);
Bytes fileSignaturesDer(const std::vector<std::pair<long, Bytes>>& entries);
// A proof whose signatures are placeholders: enough for reading.
Bytes proofOfRotationDer(const Bytes& oldCertificateDer, const Bytes& newCertificateDer);

struct Signer {
    std::string key;         // PEM private key path
    std::string certificate; // PEM certificate path
    std::string keyId;       // as the library reports it
};

// A CA and signers issued by it with the library's issuers. A test run makes
// them once (`signature_tests --make-pki DIR`, a CTest fixture that names DIR
// in TALIRO_TEST_PKI); a test program started without that variable makes
// its own. Either way they are made by makePki() alone.
class Pki {
public:
    static const Pki& instance();

    Signer ca;
    Signer developer;    // group text "developer"
    Signer developerMdm; // "developer:mdm"
    Signer seclab;       // "seclab"
    Signer client;       // "client"
    Signer noGroup;      // issued without a group
    Signer gostDeveloper; // GOST R 34.10-2012 key, "developer"
    Signer gostSeclab;    // GOST R 34.10-2012 key, "seclab"
    Signer secondDeveloper; // "developer", a developer's next key
    Signer stranger;        // "developer", someone else altogether
    Signer otherCa;         // a CA of its own that nobody trusts
    Signer throwaway;       // "developer:systemapp", issued by otherCa
    Signer expired;         // "developer:mdm" with the developer's key, valid until yesterday
    std::string taKey;    // RSA key for trusted-application headers
    std::string taPublicKey;
    // The SoftHSM2 token of the set (see makeToken); empty when SoftHSM2 is
    // not installed.
    std::string token;

    // A further end-user certificate issued by the CA, below a directory of
    // this test program's own.
    Signer issue(const std::string& name, const char* group) const;
    Signer issueGost(const std::string& name, const char* group) const;

private:
    explicit Pki(const std::string& directory);
    // Only when no test run made the set for this program.
    std::optional<TestKit::TempDir> m_madeHere;
    TestKit::TempDir m_directory {"sigpki"};
};

// Makes the shared set in `directory`, which appears whole or not at all.
void makePki(const std::string& directory);

// The SoftHSM2 token of the shared set, made with pkcs11-tool when SoftHSM2
// is installed: token `tokenLabel` with user PIN `tokenPin` and three RSA
// keys (objects "dev", "ta" and "ca"). Its directory holds the token's
// store (store/), each key's public key read from the token (NAME.pub.pem),
// and dev.pem, a developer certificate for "dev" issued by the set's CA.
constexpr const char* softHsmModule = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* tokenLabel = "torvel-test";
constexpr const char* tokenPin = "1234";
bool softHsmInstalled();
void makeToken(const std::string& directory, const std::string& caKey, const std::string& caCertificate);
// The configuration SoftHSM2 reads (SOFTHSM2_CONF) for a store directory.
std::string softHsmConfiguration(const std::string& storeDirectory);

Bytes certificateDer(const std::string& pemPath);

// Detached DER CMS over the file made by `openssl cms -sign -binary`.
Bytes opensslCmsSign(const std::string& contentPath, const Signer& signer,
                     const std::vector<std::string>& extraArguments = {});

// A small detached CMS made with `openssl cms`, distinct for each n and
// made once per test program: a well-formed block's DER.
const Bytes& sampleCms(int n);

// A detached CMS with private signed attributes (by object identifier
// short name), each a SEQUENCE value holding the given DER.
Bytes cmsWithAttributes(const Bytes& content, const Signer& signer,
                        const std::vector<std::pair<std::string, Bytes>>& attributes);

// A signer's certificate and key, read with the library's readers.
struct LoadedSigner {
    Common::OpenSsl::X509Handle certificate;
    Common::OpenSsl::EvpPkeyHandle key;
};
LoadedSigner load(const Signer& signer);
Common::OpenSsl::EvpPkeyHandle loadKey(const std::string& path);

// The signer's public key as PEM, for checks with the openssl tool.
std::string publicKeyPem(const Signer& signer, const std::string& directory);

// True when `openssl cms -verify -binary -purpose smimesign` accepts the
// detached DER over the content against the bundle (GOST through the engine).
bool opensslVerifies(const Bytes& der, const Bytes& content, const std::string& caBundle,
                     const std::string& workDir);

// The DER of block i of a package file and the bytes it covers: the package
// for the first block, the previous block's DER and trailer for a later one.
std::pair<Bytes, Bytes> blockAndCoveredBytes(const std::string& path, size_t i);

// A package built by the fixture kit, returned as its path.
std::string buildPackage(const std::string& workDir, const std::string& name = "com.example.app");

} // namespace SignatureFixtures
