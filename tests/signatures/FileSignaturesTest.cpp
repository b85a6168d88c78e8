// The signatures of the files inside a package: every integrity-subsystem
// value and every trusted-application header is checked with the openssl
// tool against the signer's public key, and laid out byte by byte.

#include <filesystem>
#include <map>
#include <random>

#include <unistd.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "Vetrik.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"

using namespace SignatureFixtures;
using PackageSignatures::Cms;
using PackageSignatures::FileWithCmses;

namespace {

const std::string taDirectory = "/usr/lib/optee_armtz/";
const std::string dashedTa = "8aaaf200-2450-11e4-abe2-0002a5d5c51b.ta";
const std::string joinedTa = "0badcafe-0001-4002-8003deadbeef0004.ta";

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes fromHex(const Bytes& text)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(uint8_t(std::stoi(std::string(text.begin() + long(i), text.begin() + long(i) + 2), nullptr, 16)));
    return bytes;
}

Bytes le(uint32_t value, int width)
{
    Bytes out;
    for (int i = 0; i < width; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
    return out;
}

// The DER of one of a block's file-signature lists.
Bytes listDer(const Cms& cms, int kind)
{
    const Bytes der = cms.data();
    const Common::OpenSsl::CmsHandle parsed(cms_from_der(der.data(), long(der.size())));
    const Common::Torvel::FileSignaturesHandle list(parsed ? cms_get_file_signatures(parsed.get(), kind) : nullptr);
    unsigned char* encoded = nullptr;
    const int length = list ? i2d_FileSignatures(list.get(), &encoded) : 0;
    const Common::OpenSsl::BytesHandle owned(encoded);
    return length > 0 ? Bytes(encoded, encoded + length) : Bytes();
}

// The digest a key signs with by default, from the engine for GOST.
const EVP_MD* defaultDigestOf(EVP_PKEY* key)
{
    int nid = NID_undef;
    if (EVP_PKEY_get_default_digest_nid(key, &nid) <= 0)
        return nullptr;
    if (const EVP_MD* digest = EVP_get_digestbynid(nid))
        return digest;
    const Common::OpenSsl::EngineHandle engine(ENGINE_get_digest_engine(nid));
    return engine ? ENGINE_get_digest(engine.get(), nid) : nullptr;
}

// Whether an integrity value holds a signature, by the certificate's key,
// of the content's digest.
bool integrityValueVerifies(const Bytes& value, const std::string& content, X509* certificate)
{
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate);
    const EVP_MD* digestType = publicKey ? defaultDigestOf(publicKey) : nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digestLength = 0;
    if (digestType == nullptr || value.size() < 9
        || EVP_Digest(content.data(), content.size(), digest, &digestLength, digestType, nullptr) != 1)
        return false;
    const Common::OpenSsl::EvpPkeyCtxHandle context(EVP_PKEY_CTX_new(publicKey, nullptr));
    return context && EVP_PKEY_verify_init(context.get()) == 1
           && EVP_PKEY_CTX_set_signature_md(context.get(), digestType) > 0
           && EVP_PKEY_verify(context.get(), value.data() + 9, value.size() - 9, digest, digestLength) == 1;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace

class FileSignaturesTest : public ::testing::Test {
protected:
    // Header index of every packaged path, in rpm's own order.
    std::map<std::string, int> indexes(const std::string& package)
    {
        const TestKit::RunResult listed = TestKit::run({"rpm", "-qp", "--qf", "[%{FILENAMES}\\n]", package});
        std::map<std::string, int> result;
        int index = 0;
        for (const std::string& path : TestKit::lines(listed.out))
            result[path] = index++;
        return result;
    }

    std::string buildContentPackage(const std::string& name)
    {
        TestKit::Package description;
        description.name = name;
        description.entries = {
            TestKit::file("/usr/bin/" + name, m_contents["/usr/bin/" + name] = "#!/bin/sh\necho app\n", 0755),
            TestKit::directory("/usr/share/" + name),
            TestKit::file("/usr/share/" + name + "/data.txt", m_contents["/usr/share/" + name + "/data.txt"] = "data\n"),
            TestKit::hardLink("/usr/share/" + name + "/link.txt", "/usr/share/" + name + "/data.txt"),
            TestKit::file("/usr/share/" + name + "/empty", m_contents["/usr/share/" + name + "/empty"] = ""),
            TestKit::file("/usr/share/" + name + "/x.ta", m_contents["/usr/share/" + name + "/x.ta"] = "no TA here"),
            TestKit::symlink("/usr/share/" + name + "/sym", "data.txt"),
            TestKit::file(taDirectory + dashedTa, m_contents[taDirectory + dashedTa] = std::string(5000, 'T')),
            TestKit::file(taDirectory + joinedTa, m_contents[taDirectory + joinedTa] = "small TA"),
        };
        m_contents["/usr/share/" + name + "/link.txt"] = "data\n";
        return TestKit::buildRpm(description, m_dir.path());
    }

    Cms signPackage(const std::string& path, const Signer& signer, unsigned taAlgorithm)
    {
        const LoadedSigner loaded = load(signer);
        const Common::OpenSsl::EvpPkeyHandle taKey = loadKey(m_pki.taKey);
        auto file = FileWithCmses::fromPath(path);
        EXPECT_TRUE(file->sign(loaded.certificate.get(), loaded.key.get(), taKey.get(), taAlgorithm, nullptr, false,
                               false, true));
        return file->cmses().at(0);
    }

    // Checks one integrity value over the file's content and returns it.
    void expectIntegrityValue(const Bytes& value, const std::string& content, const Signer& signer, bool gost)
    {
        ASSERT_GE(value.size(), 9u);
        EXPECT_EQ(value[0], 3);
        EXPECT_EQ(value[1], 2);
        EXPECT_EQ(value[2], gost ? 18 : 4);
        EXPECT_EQ(hex(Bytes(value.begin() + 3, value.begin() + 7)), signer.keyId.substr(signer.keyId.size() - 8));
        const size_t length = size_t(value[7]) << 8 | value[8];
        ASSERT_EQ(value.size(), 9 + length);

        TestKit::writeFile(m_dir / "content", content);
        writeBytes(m_dir / "signature", Bytes(value.begin() + 9, value.end()));
        openssl({"dgst", "-engine", "gost", gost ? "-md_gost12_256" : "-sha256", "-binary", "-out", m_dir / "digest",
                 m_dir / "content"});
        std::vector<std::string> verify {"pkeyutl", "-engine", "gost", "-verify", "-pubin", "-inkey",
                                         publicKeyPem(signer, m_dir.path()), "-in", m_dir / "digest", "-sigfile",
                                         m_dir / "signature"};
        if (!gost)
            verify.insert(verify.end(), {"-pkeyopt", "digest:sha256"});
        EXPECT_NE(openssl(verify).find("Signature Verified Successfully"), std::string::npos);
    }

    void expectTrustedApplicationHeader(const Bytes& text, const std::string& content, const Bytes& uuid,
                                        unsigned algorithm)
    {
        const Bytes header = fromHex(text);
        EXPECT_EQ(text.size(), header.size() * 2);
        ASSERT_GE(header.size(), 72u);
        const size_t signatureSize = size_t(header[18]) | size_t(header[19]) << 8;
        EXPECT_EQ(signatureSize, 256u);
        ASSERT_EQ(header.size(), 32 + signatureSize + 40);
        EXPECT_EQ(Bytes(header.begin(), header.begin() + 20),
                  concat({{0x48, 0x53, 0x54, 0x4F}, le(1, 4), le(uint32_t(content.size()), 4), le(algorithm, 4),
                          le(32, 2), le(uint32_t(signatureSize), 2)}));
        const Bytes tail(header.end() - 20, header.end());
        EXPECT_EQ(tail, concat({uuid, le(0, 4)}));

        // The hash covers the leading fields, the UUID and version, then the image.
        writeBytes(m_dir / "hashed", concat({Bytes(header.begin(), header.begin() + 20), tail, bytesOf(content)}));
        openssl({"dgst", "-sha256", "-binary", "-out", m_dir / "hash", m_dir / "hashed"});
        const Bytes hash(header.begin() + 20, header.begin() + 52);
        EXPECT_EQ(hash, readBytes(m_dir / "hash"));
        writeBytes(m_dir / "tasig", Bytes(header.begin() + 52, header.begin() + 52 + long(signatureSize)));
        std::vector<std::string> verify {"pkeyutl", "-verify", "-pubin", "-inkey", m_pki.taPublicKey, "-in",
                                         m_dir / "hash", "-sigfile", m_dir / "tasig", "-pkeyopt", "digest:sha256"};
        if (algorithm == TA_ALGORITHM_RSASSA_PKCS1_PSS_MGF1_SHA256)
            verify.insert(verify.end(), {"-pkeyopt", "rsa_padding_mode:pss", "-pkeyopt", "rsa_pss_saltlen:digest",
                                         "-pkeyopt", "rsa_mgf1_md:sha256"});
        else
            verify.insert(verify.end(), {"-pkeyopt", "rsa_padding_mode:pkcs1"});
        EXPECT_NE(openssl(verify).find("Signature Verified Successfully"), std::string::npos);
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigfiles"};
    std::map<std::string, std::string> m_contents;
};

TEST_F(FileSignaturesTest, EveryRegularFileIsSignedForTheKernelAndOptee)
{
    const Bytes dashedUuid {0x8a, 0xaa, 0xf2, 0x00, 0x24, 0x50, 0x11, 0xe4,
                            0xab, 0xe2, 0x00, 0x02, 0xa5, 0xd5, 0xc5, 0x1b};
    const Bytes joinedUuid {0x0b, 0xad, 0xca, 0xfe, 0x00, 0x01, 0x40, 0x02,
                            0x80, 0x03, 0xde, 0xad, 0xbe, 0xef, 0x00, 0x04};
    struct Variant {
        const char* name;
        bool gost;
        unsigned taAlgorithm;
    };
    for (const Variant variant : {Variant {"com.example.rsa", false, TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256},
                                  Variant {"com.example.gost", true, TA_ALGORITHM_RSASSA_PKCS1_PSS_MGF1_SHA256}}) {
        SCOPED_TRACE(variant.name);
        const std::string name = variant.name;
        const Signer& signer = variant.gost ? m_pki.gostDeveloper : m_pki.developer;
        const std::string package = buildContentPackage(name);
        const Cms cms = signPackage(package, signer, variant.taAlgorithm);
        const auto index = indexes(package);
        ASSERT_EQ(index.size(), 9u);

        for (const std::string& file : {"/usr/bin/" + name, "/usr/share/" + name + "/data.txt",
                                       "/usr/share/" + name + "/empty", "/usr/share/" + name + "/x.ta"}) {
            SCOPED_TRACE(file);
            expectIntegrityValue(cms.fileSignature(index.at(file)), m_contents.at(file), signer, variant.gost);
            EXPECT_TRUE(cms.trustletSignature(index.at(file)).empty());
        }
        // Hard links share the value; links and directories get none.
        EXPECT_EQ(cms.fileSignature(index.at("/usr/share/" + name + "/link.txt")),
                  cms.fileSignature(index.at("/usr/share/" + name + "/data.txt")));
        EXPECT_TRUE(cms.fileSignature(index.at("/usr/share/" + name + "/sym")).empty());
        EXPECT_TRUE(cms.fileSignature(index.at("/usr/share/" + name)).empty());

        for (const auto& [file, uuid] : {std::pair {taDirectory + dashedTa, dashedUuid},
                                         std::pair {taDirectory + joinedTa, joinedUuid}}) {
            SCOPED_TRACE(file);
            EXPECT_TRUE(cms.fileSignature(index.at(file)).empty());
            expectTrustedApplicationHeader(cms.trustletSignature(index.at(file)), m_contents.at(file), uuid,
                                           variant.taAlgorithm);
        }

        // Five ordinary entries (one of them the hard link) and two TAs.
        const Common::OpenSsl::CmsHandle parsed(cms_from_der(cms.data().data(), long(cms.size())));
        using Common::Torvel::FileSignaturesHandle;
        const FileSignaturesHandle ordinary(cms_get_file_signatures(parsed.get(), CMS_FILE_SIGNATURES_IMA));
        const FileSignaturesHandle trustlets(cms_get_file_signatures(parsed.get(), CMS_FILE_SIGNATURES_TA));
        EXPECT_EQ(FileSignatures_count(ordinary.get()), 5);
        EXPECT_EQ(FileSignatures_count(trustlets.get()), 2);
    }
}

TEST_F(FileSignaturesTest, TrustedApplicationsNeedATaKey)
{
    TestKit::Package description;
    description.name = "com.example.trustlet";
    description.entries = {TestKit::file(taDirectory + dashedTa, "TA")};
    const std::string package = TestKit::buildRpm(description, m_dir.path());
    const LoadedSigner developer = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(package);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(file->sign(developer.certificate.get(), developer.key.get(), nullptr, 0, nullptr, false, false, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TA key is absent yet there are TAs in RPM!\nCould not sign files in package\n");
    EXPECT_TRUE(file->locateCmses().empty());

    // An algorithm OP-TEE does not know fails the file and the package.
    const Common::OpenSsl::EvpPkeyHandle taKey = loadKey(m_pki.taKey);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(file->sign(developer.certificate.get(), developer.key.get(), taKey.get(), 0x70005830, nullptr, false,
                            false, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unknown signing algorithm.\nCould not sign file from rpm: " + taDirectory + dashedTa
                  + "\nCould not sign files in package\n");

    // Without file signatures there is nothing to sign the TA with.
    EXPECT_TRUE(file->sign(developer.certificate.get(), developer.key.get(), nullptr, 0, nullptr, false, false, false));
    const Cms cms = file->cmses().at(0);
    EXPECT_TRUE(cms.trustletSignature(0).empty());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(cms.fileSignature(0).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No file signatures found in CMS\n");
}

TEST_F(FileSignaturesTest, BadlyNamedTrustedApplicationsFail)
{
    TestKit::Package description;
    description.name = "com.example.badta";
    description.entries = {TestKit::file(taDirectory + "trustlet.ta", "TA")};
    const std::string package = TestKit::buildRpm(description, m_dir.path());
    const LoadedSigner developer = load(m_pki.developer);
    const Common::OpenSsl::EvpPkeyHandle taKey = loadKey(m_pki.taKey);
    auto file = FileWithCmses::fromPath(package);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(file->sign(developer.certificate.get(), developer.key.get(), taKey.get(),
                            TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256, nullptr, false, false, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Bad UUID!\nFailed to get the UUID of TA.\nCould not sign file from rpm: /usr/lib/optee_armtz/trustlet.ta\n"
              "Could not sign files in package\n");
}

TEST_F(FileSignaturesTest, PackagesWithoutFilesCarryEmptyLists)
{
    TestKit::Package description;
    description.name = "com.example.empty";
    const std::string package = TestKit::buildRpm(description, m_dir.path());
    const LoadedSigner developer = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(package);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(file->sign(developer.certificate.get(), developer.key.get(), nullptr, 0, nullptr, false, false, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Notice: package contains no files\n");
    const Bytes der = file->cmses().at(0).data();
    const Common::OpenSsl::CmsHandle parsed(cms_from_der(der.data(), long(der.size())));
    for (const int kind : {CMS_FILE_SIGNATURES_IMA, CMS_FILE_SIGNATURES_TA}) {
        const Common::Torvel::FileSignaturesHandle list(cms_get_file_signatures(parsed.get(), kind));
        ASSERT_NE(list, nullptr) << kind;
        EXPECT_EQ(FileSignatures_count(list.get()), 0);
    }
}

TEST_F(FileSignaturesTest, FilesThatAreNoPackagesGetOnlyTheBlock)
{
    const std::string path = m_dir / "plain.bin";
    TestKit::writeFile(path, "not a package at all");
    const LoadedSigner developer = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(path);
    EXPECT_TRUE(file->sign(developer.certificate.get(), developer.key.get(), nullptr, 0, nullptr, false, false, true));
    const Bytes der = file->cmses().at(0).data();
    const Common::OpenSsl::CmsHandle parsed(cms_from_der(der.data(), long(der.size())));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_get_file_signatures(parsed.get(), CMS_FILE_SIGNATURES_IMA), nullptr);
    EXPECT_EQ(cms_get_file_signatures(parsed.get(), CMS_FILE_SIGNATURES_TA), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No file signatures found in CMS\n");
    EXPECT_TRUE(opensslVerifies(der, bytesOf("not a package at all"), m_pki.ca.certificate, m_dir.path()));
}

TEST_F(FileSignaturesTest, CmsSignLeavesTheDescriptorAtTheEnd)
{
    const std::string path = m_dir / "plain.bin";
    TestKit::writeFile(path, "0123456789");
    const LoadedSigner developer = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(path);
    ASSERT_EQ(lseek(file->fd(), 4, SEEK_SET), 4);
    size_t length = 0;
    const Common::Libc::MallocHandle<unsigned char> der(
        cms_sign(file->fd(), true, developer.key.get(), nullptr, 0, developer.certificate.get(), nullptr, &length));
    ASSERT_NE(der, nullptr);
    EXPECT_EQ(lseek(file->fd(), 0, SEEK_CUR), 10);
    // From the position it was given: bytes 4 to 9.
    EXPECT_TRUE(opensslVerifies(Bytes(der.get(), der.get() + length), bytesOf("456789"), m_pki.ca.certificate,
                                m_dir.path()));
}

TEST_F(FileSignaturesTest, SigningThreadsChangeNothingButTheTimeItTakes)
{
    // Enough files to keep every thread busy, of sizes that make them finish
    // out of order, with hard links, a directory, a link and a TA among them.
    TestKit::Package description;
    description.name = "com.example.threads";
    const std::string base = "/usr/share/com.example.threads/";
    description.entries.push_back(TestKit::directory(base));
    std::map<std::string, std::string> contents;
    std::mt19937 random(7);
    for (int i = 0; i < 160; ++i) {
        const std::string path = base + "f" + std::to_string(i);
        description.entries.push_back(TestKit::file(path, contents[path] = std::string(random() % 9000, char('a' + i % 26))));
    }
    for (const int i : {3, 77}) {
        const std::string link = base + "link" + std::to_string(i);
        description.entries.push_back(TestKit::hardLink(link, base + "f" + std::to_string(i)));
        contents[link] = contents[base + "f" + std::to_string(i)];
    }
    description.entries.push_back(TestKit::symlink(base + "sym", "f1"));
    description.entries.push_back(TestKit::file(taDirectory + dashedTa, std::string(3000, 'T')));
    const std::string package = TestKit::buildRpm(description, m_dir.path());
    const auto index = indexes(package);
    std::map<long, std::string> contentOfIndex;
    for (const auto& [path, content] : contents)
        contentOfIndex[index.at(path)] = content;

    const Common::OpenSsl::EvpPkeyHandle taKey = loadKey(m_pki.taKey);
    for (const bool gost : {false, true}) {
        SCOPED_TRACE(gost ? "GOST R 34.10-2012" : "RSA");
        const LoadedSigner signer = load(gost ? m_pki.gostDeveloper : m_pki.developer);
        std::vector<std::pair<Bytes, Bytes>> lists; // ordinary, trustlets
        for (const unsigned threads : {1u, 2u, 5u}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            const std::string copy = m_dir / ("threads" + std::to_string(threads) + ".rpm");
            std::filesystem::copy_file(package, copy, std::filesystem::copy_options::overwrite_existing);
            auto file = FileWithCmses::fromPath(copy);
            ASSERT_TRUE(file->sign(signer.certificate.get(), signer.key.get(), taKey.get(),
                                   TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256, nullptr, false, false, true, threads));
            // The package's digest, made alongside the files' signatures.
            EXPECT_TRUE(file->verifyCmses(m_pki.ca.certificate.c_str()));
            const Cms cms = file->cmses().at(0);
            lists.emplace_back(listDer(cms, CMS_FILE_SIGNATURES_IMA), listDer(cms, CMS_FILE_SIGNATURES_TA));
            EXPECT_FALSE(cms.trustletSignature(index.at(taDirectory + dashedTa)).empty());
            for (const auto& [fileIndex, content] : contentOfIndex)
                EXPECT_TRUE(integrityValueVerifies(cms.fileSignature(int(fileIndex)), content,
                                                   signer.certificate.get()))
                    << fileIndex;
        }
        // The trusted application's header is signed with PKCS#1 v1.5 in
        // both cases: the same bytes whatever the threads.
        ASSERT_FALSE(lists.front().first.empty());
        ASSERT_FALSE(lists.front().second.empty());
        for (const auto& [ordinary, trustlets] : lists)
            EXPECT_EQ(trustlets, lists.front().second);
        if (!gost) {
            // Deterministic signatures: the very same list.
            for (const auto& [ordinary, trustlets] : lists)
                EXPECT_EQ(ordinary, lists.front().first);
            continue;
        }
        // Randomised signatures: the same entries in the same order, each
        // value laid out alike (and each verified above).
        std::vector<std::vector<std::pair<long, Bytes>>> entries;
        for (const auto& [ordinary, trustlets] : lists) {
            const unsigned char* cursor = ordinary.data();
            const Common::Torvel::FileSignaturesHandle parsed(d2i_FileSignatures(nullptr, &cursor, long(ordinary.size())));
            ASSERT_NE(parsed, nullptr);
            entries.emplace_back();
            for (int i = 0; i < FileSignatures_count(parsed.get()); ++i) {
                const FileSignature* entry = FileSignatures_get0_at(parsed.get(), i);
                int length = 0;
                const unsigned char* value = FileSignature_value(entry, &length);
                entries.back().emplace_back(FileSignature_index(entry), Bytes(value, value + std::min(length, 9)));
            }
        }
        EXPECT_EQ(entries.front().size(), contentOfIndex.size());
        for (const auto& each : entries)
            EXPECT_EQ(each, entries.front());
    }
}
