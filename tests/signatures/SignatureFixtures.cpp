#include "SignatureFixtures.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <torvel/torvel.h>

#include "common/LibcHandles.h"
#include "container/BlockLayout.h"

namespace SignatureFixtures {

std::string openssl(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv {"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const TestKit::RunResult result = TestKit::run(argv);
    if (result.exitCode != 0)
        throw std::runtime_error("openssl failed: " + result.out + result.err);
    return result.out;
}

Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void appendBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

namespace {

void appendLe(Bytes& out, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace

Bytes legacyTrailer(uint64_t size)
{
    Bytes out;
    appendLe(out, size, 8);
    appendLe(out, 0xF09F8E83u, 4);
    return out;
}

Bytes currentTrailer(uint32_t size, uint32_t version)
{
    Bytes out;
    appendLe(out, size, 4);
    appendLe(out, version, 4);
    appendLe(out, 0xF09F91BBu, 4);
    return out;
}

Bytes blockV1(const Bytes& der) { return concat({der, legacyTrailer(der.size())}); }
Bytes blockV2(const Bytes& der) { return concat({der, currentTrailer(uint32_t(der.size()), 2)}); }

Bytes blockV3(const Bytes& der)
{
    Bytes frame {0x50, 0x2A, 0x4D, 0x18};
    appendLe(frame, der.size() + 12, 4);
    return concat({frame, der, currentTrailer(uint32_t(der.size()), 3)});
}

Bytes blockOfVersion(int version, const Bytes& der)
{
    switch (version) {
    case 1: return blockV1(der);
    case 2: return blockV2(der);
    default: return blockV3(der);
    }
}

Bytes tlv(uint8_t tag, const Bytes& content)
{
    Bytes out {tag};
    const size_t length = content.size();
    if (length < 0x80) {
        out.push_back(uint8_t(length));
    } else {
        Bytes lengthBytes;
        for (size_t rest = length; rest > 0; rest >>= 8)
            lengthBytes.insert(lengthBytes.begin(), uint8_t(rest));
        out.push_back(uint8_t(0x80 | lengthBytes.size()));
        out.insert(out.end(), lengthBytes.begin(), lengthBytes.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes derInteger(long value)
{
    Bytes content;
    do {
        content.insert(content.begin(), uint8_t(value));
        value >>= 8;
    } while (value != 0 && value != -1);
    if (value == 0 && (content.front() & 0x80))
        content.insert(content.begin(), 0);
    return tlv(0x02, content);
}

Bytes derOctets(const Bytes& value) { return tlv(0x04, value); }

Bytes derSequence(const std::vector<Bytes>& items)
{
    Bytes content;
    for (const Bytes& item : items)
        content.insert(content.end(), item.begin(), item.end());
    return tlv(0x30, content);
}

Bytes fileSignaturesDer(const std::vector<std::pair<long, Bytes>>& entries)
{
    std::vector<Bytes> signatures;
    for (const auto& [index, value] : entries)
        signatures.push_back(derSequence({derInteger(index), derOctets(value)}));
    return derSequence({derInteger(1), derSequence(signatures)});
}

Bytes proofOfRotationDer(const Bytes& oldCertificateDer, const Bytes& newCertificateDer)
{
    // sha256WithRSAEncryption with NULL parameters
    const Bytes algorithm = derSequence({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}), {0x05, 0x00}});
    return derSequence({derSequence({oldCertificateDer, newCertificateDer}), algorithm, derOctets({1, 2, 3}),
                        algorithm, derOctets({4, 5, 6})});
}

Bytes certificateDer(const std::string& pemPath)
{
    return PackageSignatures::Certificate::readCertificateFromFile(pemPath.c_str()).toDer();
}

namespace {

// Both kinds of key as the openssl tool makes them; the certificate comes
// from the library's issuer.
Signer issueInto(const std::string& directory, const std::string& caKey, const std::string& caCertificate,
                 const std::string& name, const char* group, bool gost)
{
    Signer signer;
    signer.key = directory + "/" + name + ".key";
    signer.certificate = directory + "/" + name + ".pem";
    const std::string request = directory + "/" + name + ".csr";
    if (gost) {
        openssl({"genpkey", "-engine", "gost", "-algorithm", "gost2012_256", "-pkeyopt", "paramset:A", "-out",
                 signer.key});
        openssl({"req", "-engine", "gost", "-new", "-key", signer.key, "-subj", "/CN=" + name, "-out", request});
    } else {
        openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", signer.key, "-subj", "/CN=" + name,
                 "-out", request});
    }
    if (make_certificate(signer.certificate.c_str(), request.c_str(), caKey.c_str(), caCertificate.c_str(), group)
        != 0)
        throw std::runtime_error("could not issue " + name);
    signer.keyId = PackageSignatures::Certificate::readCertificateFromFile(signer.certificate.c_str()).keyId();
    return signer;
}

// A signer of the shared set by its file names; the key id is read again.
Signer storedSigner(const std::string& directory, const std::string& name)
{
    Signer signer {directory + "/" + name + ".key", directory + "/" + name + ".pem", {}};
    if (!std::filesystem::is_regular_file(signer.key) || !std::filesystem::is_regular_file(signer.certificate))
        throw std::runtime_error("the test keys in " + directory + " lack " + name);
    signer.keyId = PackageSignatures::Certificate::readCertificateFromFile(signer.certificate.c_str()).keyId();
    return signer;
}

struct SignerName {
    Signer Pki::*member;
    const char* name;
    const char* group;
    bool gost;
};

// One row per signer of the set: made by makePki, read back by Pki.
constexpr SignerName signerNames[] = {
    {&Pki::developer, "developer", "developer", false},
    {&Pki::developerMdm, "developermdm", "developer:mdm", false},
    {&Pki::seclab, "seclab", "seclab", false},
    {&Pki::client, "client", "client", false},
    {&Pki::noGroup, "nogroup", nullptr, false},
    {&Pki::gostDeveloper, "gostdeveloper", "developer", true},
    {&Pki::gostSeclab, "gostseclab", "seclab", true},
    {&Pki::secondDeveloper, "second", "developer", false},
    {&Pki::stranger, "stranger", "developer", false},
};

// A certificate the library's issuer never makes: one whose validity
// ended yesterday, otherwise as the issuer makes a developer's.
void issueExpired(const std::string& out, const std::string& caKeyPath, const std::string& caCertificatePath,
                  const std::string& keyPath, const std::string& name, const char* group)
{
    const Common::OpenSsl::EvpPkeyHandle caKey = loadKey(caKeyPath);
    const Common::OpenSsl::X509Handle caCertificate(certificate_read(caCertificatePath.c_str()));
    const Common::OpenSsl::EvpPkeyHandle key = loadKey(keyPath);
    Common::OpenSsl::X509Handle certificate(X509_new());
    constexpr long day = 86400;
    bool made = caKey && caCertificate && key && certificate && X509_set_version(certificate.get(), 2) == 1
                && ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 4242) == 1
                && X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -2 * day) != nullptr
                && X509_gmtime_adj(X509_getm_notAfter(certificate.get()), -day) != nullptr
                && X509_set_pubkey(certificate.get(), key.get()) == 1
                && X509_NAME_add_entry_by_NID(X509_get_subject_name(certificate.get()), NID_commonName, MBSTRING_UTF8,
                                              reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0)
                       == 1
                && X509_set_issuer_name(certificate.get(), X509_get_subject_name(caCertificate.get())) == 1;
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, caCertificate.get(), certificate.get(), nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_key_usage, "critical,digitalSignature"},
        {NID_subject_key_identifier, "hash"},
        {NID_authority_key_identifier, "keyid:always"},
        {NID_ext_key_usage, "critical,emailProtection,packageSigning"},
        {OBJ_txt2nid("certificateGroup"), group},
    };
    for (const auto& [nid, value] : extensions) {
        const Common::OpenSsl::X509ExtensionHandle extension(
            made ? X509V3_EXT_conf_nid(nullptr, &context, nid, value) : nullptr);
        made = extension && X509_add_ext(certificate.get(), extension.get(), -1) == 1;
    }
    made = made && X509_sign(certificate.get(), caKey.get(), EVP_sha256()) > 0;
    const Common::Libc::FileHandle file(made ? std::fopen(out.c_str(), "w") : nullptr);
    if (!file || PEM_write_X509(file.get(), certificate.get()) != 1)
        throw std::runtime_error("could not issue the expired certificate " + out);
}

} // namespace

void makePki(const std::string& directory)
{
    // Made beside its place and renamed into it, so a test never finds half a set.
    const std::string making = directory + ".making";
    std::filesystem::remove_all(making);
    std::filesystem::create_directories(making);
    const std::string caKey = making + "/ca.key";
    const std::string caCertificate = making + "/ca.pem";
    openssl({"genrsa", "-out", caKey, "2048"});
    if (make_ca_certificate(caCertificate.c_str(), caKey.c_str(), "Test Root CA") != 0)
        throw std::runtime_error("could not issue the test CA");
    for (const SignerName& signer : signerNames)
        issueInto(making, caKey, caCertificate, signer.name, signer.group, signer.gost);
    openssl({"genrsa", "-out", making + "/ta.key", "2048"});
    openssl({"pkey", "-in", making + "/ta.key", "-pubout", "-out", making + "/ta.pub.pem"});
    // What a package's author can make without the platform's CA, and a
    // certificate past its end.
    openssl({"genrsa", "-out", making + "/otherca.key", "2048"});
    if (make_ca_certificate((making + "/otherca.pem").c_str(), (making + "/otherca.key").c_str(), "Throwaway CA") != 0)
        throw std::runtime_error("could not issue the other CA");
    issueInto(making, making + "/otherca.key", making + "/otherca.pem", "throwaway", "developer:systemapp", false);
    std::filesystem::copy_file(making + "/developer.key", making + "/expired.key");
    issueExpired(making + "/expired.pem", caKey, caCertificate, making + "/expired.key", "expired", "developer:mdm");
    if (softHsmInstalled())
        makeToken(making + "/token", caKey, caCertificate);
    std::filesystem::remove_all(directory);
    std::filesystem::rename(making, directory);
}

const Pki& Pki::instance()
{
    static const Pki pki([] {
        const char* shared = std::getenv("TALIRO_TEST_PKI");
        return shared != nullptr ? std::string(shared) : std::string();
    }());
    return pki;
}

Pki::Pki(const std::string& sharedDirectory)
{
    std::string directory = sharedDirectory;
    if (directory.empty()) {
        m_madeHere.emplace("sigpkiset");
        directory = m_madeHere->path() + "/pki";
        makePki(directory);
    }
    ca = storedSigner(directory, "ca");
    otherCa = storedSigner(directory, "otherca");
    throwaway = storedSigner(directory, "throwaway");
    expired = storedSigner(directory, "expired");
    for (const SignerName& signer : signerNames)
        this->*signer.member = storedSigner(directory, signer.name);
    taKey = directory + "/ta.key";
    taPublicKey = directory + "/ta.pub.pem";
    if (std::filesystem::is_directory(directory + "/token"))
        token = directory + "/token";
}

Signer Pki::issueGost(const std::string& name, const char* group) const
{
    return issueInto(m_directory.path(), ca.key, ca.certificate, name, group, true);
}

Signer Pki::issue(const std::string& name, const char* group) const
{
    return issueInto(m_directory.path(), ca.key, ca.certificate, name, group, false);
}

Bytes opensslCmsSign(const std::string& contentPath, const Signer& signer,
                     const std::vector<std::string>& extraArguments)
{
    const std::string out = contentPath + ".cms.der";
    std::vector<std::string> arguments {"cms", "-sign", "-binary", "-outform", "DER", "-in", contentPath, "-signer",
                                        signer.certificate, "-inkey", signer.key, "-out", out};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    openssl(arguments);
    return readBytes(out);
}

const Bytes& sampleCms(int n)
{
    static std::map<int, Bytes> made;
    static const TestKit::TempDir directory {"sigsample"};
    auto found = made.find(n);
    if (found == made.end()) {
        const std::string content = directory / ("content" + std::to_string(n));
        TestKit::writeFile(content, "sample " + std::to_string(n));
        found = made.emplace(n, opensslCmsSign(content, Pki::instance().developer)).first;
    }
    return found->second;
}

Bytes cmsWithAttributes(const Bytes& content, const Signer& signer,
                        const std::vector<std::pair<std::string, Bytes>>& attributes)
{
    const LoadedSigner loaded = load(signer);
    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | CMS_USE_KEYID;
    const Common::OpenSsl::CmsHandle cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    CMS_SignerInfo* signerInfo =
        CMS_add1_signer(cms.get(), loaded.certificate.get(), loaded.key.get(), EVP_sha256(), flags);
    if (signerInfo == nullptr)
        throw std::runtime_error("CMS_add1_signer failed");
    for (const auto& [name, der] : attributes) {
        if (CMS_signed_add1_attr_by_NID(signerInfo, OBJ_sn2nid(name.c_str()), V_ASN1_SEQUENCE, der.data(),
                                        int(der.size()))
            != 1)
            throw std::runtime_error("could not add attribute " + name);
    }
    const Common::OpenSsl::BioHandle data(BIO_new_mem_buf(content.data(), int(content.size())));
    if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1)
        throw std::runtime_error("CMS_final failed");
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    const Common::OpenSsl::BytesHandle owned(der);
    return Bytes(der, der + length);
}

LoadedSigner load(const Signer& signer)
{
    LoadedSigner loaded {Common::OpenSsl::X509Handle(certificate_read(signer.certificate.c_str())),
                         loadKey(signer.key)};
    if (!loaded.certificate || !loaded.key)
        throw std::runtime_error("could not load " + signer.certificate);
    return loaded;
}

Common::OpenSsl::EvpPkeyHandle loadKey(const std::string& path)
{
    Common::OpenSsl::EvpPkeyHandle key(private_key_read(path.c_str(), nullptr));
    if (!key)
        throw std::runtime_error("could not load " + path);
    return key;
}

std::string publicKeyPem(const Signer& signer, const std::string& directory)
{
    const std::string path = directory + "/" + signer.keyId + ".pub.pem";
    openssl({"x509", "-engine", "gost", "-in", signer.certificate, "-pubkey", "-noout", "-out", path});
    return path;
}

bool opensslVerifies(const Bytes& der, const Bytes& content, const std::string& caBundle, const std::string& workDir)
{
    const std::string derPath = workDir + "/verify.der";
    const std::string contentPath = workDir + "/verify.content";
    writeBytes(derPath, der);
    writeBytes(contentPath, content);
    const TestKit::RunResult result =
        TestKit::run({"openssl", "cms", "-verify", "-engine", "gost", "-binary", "-purpose", "smimesign", "-inform",
                      "DER", "-in", derPath, "-content", contentPath, "-CAfile", caBundle, "-out", "/dev/null"});
    return result.exitCode == 0 && result.err.find("Verification successful") != std::string::npos;
}

std::pair<Bytes, Bytes> blockAndCoveredBytes(const std::string& path, size_t i)
{
    const Bytes file = readBytes(path);
    const auto blocks = PackageSignatures::FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
    const PackageSignatures::CmsLocation& block = blocks.at(i);
    const int64_t start = i == 0 ? 0 : blocks[i - 1].offset;
    const int64_t end = PackageSignatures::blockStart(block);
    return {Bytes(file.begin() + block.offset, file.begin() + block.end),
            Bytes(file.begin() + start, file.begin() + end)};
}

bool softHsmInstalled()
{
    return std::filesystem::exists(softHsmModule);
}

std::string softHsmConfiguration(const std::string& storeDirectory)
{
    return "directories.tokendir = " + storeDirectory + "\nobjectstore.backend = file\nlog.level = ERROR\n";
}

void makeToken(const std::string& directory, const std::string& caKey, const std::string& caCertificate)
{
    const std::string store = directory + "/store";
    std::filesystem::create_directories(store);
    TestKit::writeFile(directory + "/softhsm2.conf", softHsmConfiguration(store));
    TestKit::RunOptions options;
    options.env = {{"SOFTHSM2_CONF", directory + "/softhsm2.conf"}, {"PKCS11_MODULE_PATH", softHsmModule}};
    const auto run = [&](const std::vector<std::string>& argv) {
        const TestKit::RunResult result = TestKit::run(argv, options);
        if (result.exitCode != 0)
            throw std::runtime_error(argv.front() + " failed: " + result.out + result.err);
    };
    const std::string label = tokenLabel;
    const std::string pin = tokenPin;
    run({"pkcs11-tool", "--module", softHsmModule, "--init-token", "--slot", "0", "--label", label, "--so-pin",
         "000000", "--init-pin", "--pin", pin});
    const std::vector<std::pair<std::string, std::string>> keys {{"dev", "01"}, {"ta", "02"}, {"ca", "03"}};
    for (const auto& [name, id] : keys) {
        run({"pkcs11-tool", "--module", softHsmModule, "--token-label", label, "--login", "--pin", pin,
             "--keypairgen", "--key-type", "rsa:2048", "--id", id, "--label", name});
        run({"pkcs11-tool", "--module", softHsmModule, "--token-label", label, "--read-object", "--type", "pubkey",
             "--label", name, "-o", directory + "/" + name + ".pub.der"});
        run({"openssl", "pkey", "-pubin", "-inform", "DER", "-in", directory + "/" + name + ".pub.der", "-out",
             directory + "/" + name + ".pub.pem"});
    }
    // The request is signed in the token by the openssl tool's own use of
    // the engine, not by the library under test.
    run({"openssl", "req", "-new", "-engine", "pkcs11", "-keyform", "engine", "-key",
         "pkcs11:token=" + label + ";object=dev;pin-value=" + pin, "-subj", "/CN=token developer", "-out",
         directory + "/dev.csr"});
    if (make_certificate((directory + "/dev.pem").c_str(), (directory + "/dev.csr").c_str(), caKey.c_str(),
                         caCertificate.c_str(), "developer")
        != 0)
        throw std::runtime_error("could not issue the token developer's certificate");
}

std::string buildPackage(const std::string& workDir, const std::string& name)
{
    TestKit::Package package;
    package.name = name;
    package.entries = {TestKit::file("/usr/share/" + name + "/data.txt", "payload\n"),
                       TestKit::file("/usr/bin/" + name, "#!/bin/sh\n", 0755)};
    return TestKit::buildRpm(package, workDir);
}

} // namespace SignatureFixtures
