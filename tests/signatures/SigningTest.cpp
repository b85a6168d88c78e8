// Adding signature blocks: who may sign where, what each block covers
// (checked with the openssl tool), that the package is replaced as a whole
// with its mode and links kept, and that a failed signing leaves the file
// exactly as it was.

#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "TorvelHandles.h"
#include "container/BlockLayout.h"
#include "container/ReplacementName.h"

using namespace SignatureFixtures;
using PackageSignatures::CmsLocation;
using PackageSignatures::FileWithCmses;

namespace {

struct SignOptions {
    bool replace = false;
    bool zstdFrame = false;
    bool signFiles = true;
    EVP_PKEY* taKey = nullptr;
    ProofOfRotationChain* chain = nullptr;
};

bool signWith(const std::string& path, const Signer& signer, const SignOptions& options = {})
{
    const LoadedSigner loaded = load(signer);
    auto file = FileWithCmses::fromPath(path);
    return file
           && file->sign(loaded.certificate.get(), loaded.key.get(), options.taKey, TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256,
                         options.chain, options.replace, options.zstdFrame, options.signFiles);
}

std::vector<CmsLocation> blocksOf(const std::string& path)
{
    return FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
}

std::vector<PackageSignatures::Group> groupsOf(const std::string& path)
{
    std::vector<PackageSignatures::Group> groups;
    for (const auto& cms : FileWithCmses::fromPath(path.c_str(), "r")->cmses())
        groups.push_back(cms.certificate()->group());
    return groups;
}

} // namespace

class SigningTest : public ::testing::Test {
protected:
    std::string package(const std::string& name = "com.example.app")
    {
        return buildPackage(m_dir.path(), name);
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigsign"};
};

TEST_F(SigningTest, SignersTakeTheirPositionsInOrder)
{
    const std::string path = package();
    const Bytes bare = readBytes(path);
    EXPECT_FALSE(signWith(path, m_pki.client));
    EXPECT_FALSE(signWith(path, m_pki.seclab));
    EXPECT_FALSE(signWith(path, m_pki.noGroup));
    EXPECT_EQ(readBytes(path), bare);

    ASSERT_TRUE(signWith(path, m_pki.developer));
    const Bytes developerOnly = readBytes(path);
    EXPECT_FALSE(signWith(path, m_pki.developer));
    EXPECT_FALSE(signWith(path, m_pki.developerMdm));
    EXPECT_EQ(readBytes(path), developerOnly);

    ASSERT_TRUE(signWith(path, m_pki.seclab));
    EXPECT_FALSE(signWith(path, m_pki.seclab));
    ASSERT_TRUE(signWith(path, m_pki.client));
    EXPECT_FALSE(signWith(path, m_pki.client));
    EXPECT_FALSE(signWith(path, m_pki.client, {.replace = false}));
    EXPECT_EQ(groupsOf(path), (std::vector {PackageSignatures::GroupDeveloper, PackageSignatures::GroupSeclab,
                                            PackageSignatures::GroupClient}));
    // The earlier blocks are untouched by the later ones.
    const Bytes all = readBytes(path);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + long(developerOnly.size())), developerOnly);

    // A client after a client is never added, and neither is a fourth block.
    const std::string other = package("com.example.other");
    ASSERT_TRUE(signWith(other, m_pki.developer));
    ASSERT_TRUE(signWith(other, m_pki.client));
    EXPECT_FALSE(signWith(other, m_pki.client));
    EXPECT_FALSE(signWith(other, m_pki.seclab));
    EXPECT_EQ(blocksOf(other).size(), 2u);
}

TEST_F(SigningTest, ReplacingTakesTheSignersOwnPlace)
{
    using PackageSignatures::GroupClient;
    using PackageSignatures::GroupDeveloper;
    using PackageSignatures::GroupSeclab;
    const std::string path = package();
    const Bytes bare = readBytes(path);
    ASSERT_TRUE(signWith(path, m_pki.developer));
    ASSERT_TRUE(signWith(path, m_pki.seclab));

    ASSERT_TRUE(signWith(path, m_pki.seclab, {.replace = true}));
    EXPECT_EQ(groupsOf(path), (std::vector {GroupDeveloper, GroupSeclab}));
    ASSERT_TRUE(signWith(path, m_pki.client, {.replace = true}));
    EXPECT_EQ(groupsOf(path), (std::vector {GroupDeveloper, GroupSeclab, GroupClient}));
    ASSERT_TRUE(signWith(path, m_pki.client, {.replace = true}));
    EXPECT_EQ(groupsOf(path), (std::vector {GroupDeveloper, GroupSeclab, GroupClient}));

    // A developer starts over: the new block is the only one.
    ASSERT_TRUE(signWith(path, m_pki.developerMdm, {.replace = true}));
    const std::vector<CmsLocation> blocks = blocksOf(path);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].offset, int64_t(bare.size()));
    EXPECT_EQ(readBytes(path).size(), bare.size() + blocks[0].size + 12);
    EXPECT_EQ(FileWithCmses::fromPath(path)->cmses()[0].certificate()->keyId(), m_pki.developerMdm.keyId);

    ASSERT_TRUE(signWith(path, m_pki.client, {.replace = true}));
    ASSERT_TRUE(signWith(path, m_pki.client, {.replace = true}));
    EXPECT_EQ(groupsOf(path), (std::vector {GroupDeveloper, GroupClient}));
    EXPECT_FALSE(signWith(path, m_pki.seclab, {.replace = true}));
    EXPECT_EQ(groupsOf(path), (std::vector {GroupDeveloper, GroupClient}));
}

TEST_F(SigningTest, Version3BlocksAreSkippableFrames)
{
    const std::string plain = package("com.example.plain");
    const std::string framed = package("com.example.framed");
    const size_t plainSize = readBytes(plain).size();
    const size_t bareSize = readBytes(framed).size();
    ASSERT_TRUE(signWith(plain, m_pki.developer, {.signFiles = false}));
    ASSERT_TRUE(signWith(framed, m_pki.developer, {.zstdFrame = true, .signFiles = false}));
    const std::vector<CmsLocation> blocks = blocksOf(framed);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].version, 3u);
    EXPECT_EQ(blocksOf(plain)[0].version, 2u);
    const Bytes bytes = readBytes(framed);
    ASSERT_EQ(bytes.size(), bareSize + blocks[0].size + 20);
    const uint32_t frameLength = uint32_t(blocks[0].size + 12);
    EXPECT_EQ(Bytes(bytes.begin() + long(bareSize), bytes.begin() + long(bareSize) + 8),
              (Bytes {0x50, 0x2A, 0x4D, 0x18, uint8_t(frameLength), uint8_t(frameLength >> 8),
                      uint8_t(frameLength >> 16), uint8_t(frameLength >> 24)}));
    // Eight bytes of frame header are all that version 3 adds.
    EXPECT_EQ(readBytes(plain).size() - plainSize - blocksOf(plain)[0].size + 8,
              bytes.size() - bareSize - blocks[0].size);
}

TEST_F(SigningTest, OpensslAcceptsEveryBlockOverTheBytesItCovers)
{
    for (const bool gost : {false, true}) {
        SCOPED_TRACE(gost ? "GOST R 34.10-2012" : "RSA");
        const std::string path = package(gost ? "com.example.gost" : "com.example.rsa");
        const Bytes bare = readBytes(path);
        ASSERT_TRUE(signWith(path, gost ? m_pki.gostDeveloper : m_pki.developer));
        const Bytes firstSigned = readBytes(path);
        ASSERT_TRUE(signWith(path, gost ? m_pki.gostSeclab : m_pki.seclab, {.zstdFrame = true}));
        ASSERT_TRUE(signWith(path, m_pki.client));

        const auto [first, firstCovered] = blockAndCoveredBytes(path, 0);
        EXPECT_EQ(firstCovered, bare);
        const auto [second, secondCovered] = blockAndCoveredBytes(path, 1);
        // Exactly the first block's DER and trailer.
        EXPECT_EQ(secondCovered, Bytes(firstSigned.begin() + long(bare.size()), firstSigned.end()));
        EXPECT_EQ(secondCovered, blockV2(first));
        const auto [third, thirdCovered] = blockAndCoveredBytes(path, 2);
        Bytes secondWithTrailer = second;
        const Bytes trailer = currentTrailer(uint32_t(second.size()), 3);
        secondWithTrailer.insert(secondWithTrailer.end(), trailer.begin(), trailer.end());
        EXPECT_EQ(thirdCovered, secondWithTrailer);

        EXPECT_TRUE(opensslVerifies(first, firstCovered, m_pki.ca.certificate, m_dir.path()));
        EXPECT_TRUE(opensslVerifies(second, secondCovered, m_pki.ca.certificate, m_dir.path()));
        EXPECT_TRUE(opensslVerifies(third, thirdCovered, m_pki.ca.certificate, m_dir.path()));
        // And over nothing else: the package with one byte changed.
        Bytes changed = bare;
        changed[changed.size() / 2] ^= 1;
        EXPECT_FALSE(opensslVerifies(first, changed, m_pki.ca.certificate, m_dir.path()));

        // Signer named by its key id, the key's default digest, detached.
        writeBytes(m_dir / "third.der", third);
        const std::string printed = openssl({"cms", "-cmsout", "-print", "-inform", "DER", "-in", m_dir / "third.der"});
        EXPECT_NE(printed.find("subjectKeyIdentifier"), std::string::npos);
        EXPECT_NE(printed.find("eContent: <ABSENT>"), std::string::npos);
        writeBytes(m_dir / "first.der", first);
        const std::string firstPrinted = openssl({"cms", "-engine", "gost", "-cmsout", "-print", "-inform", "DER",
                                                  "-in", m_dir / "first.der"});
        EXPECT_NE(firstPrinted.find(gost ? "(1.2.643.7.1.1.2.2)" : "sha256 (2.16.840.1.101.3.4.2.1)"),
                  std::string::npos);
        // Both file-signature attributes in the developer's block only.
        EXPECT_NE(firstPrinted.find("(1.2.643.2.81.1.3.1)"), std::string::npos);
        EXPECT_NE(firstPrinted.find("(1.2.643.2.81.1.3.3)"), std::string::npos);
        EXPECT_EQ(printed.find("(1.2.643.2.81.1.3.1)"), std::string::npos);
    }
}

TEST_F(SigningTest, DifferentPackagesSignOnDifferentThreads)
{
    // As torvel's jobs do: shared read-only keys, one file per thread.
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(package("com.example.thread" + std::to_string(i)));
    const LoadedSigner developer = load(m_pki.developer);
    const Common::OpenSsl::EvpPkeyHandle taKey = loadKey(m_pki.taKey);
    std::atomic<int> signedCount {0};
    std::vector<std::thread> threads;
    for (const std::string& path : paths) {
        threads.emplace_back([&, path] {
            auto file = FileWithCmses::fromPath(path);
            if (file->sign(developer.certificate.get(), developer.key.get(), taKey.get(),
                           TA_ALGORITHM_RSASSA_PKCS1_PSS_MGF1_SHA256, nullptr, false, true, true)
                && file->verifyCmses(m_pki.ca.certificate.c_str()))
                ++signedCount;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(signedCount.load(), 4);
    for (const std::string& path : paths)
        EXPECT_EQ(blocksOf(path).size(), 1u);
}

TEST_F(SigningTest, ReplacingKeepsModeOwnerAndSymbolicLinks)
{
    const std::string path = package();
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    const std::string link = m_dir / "link.rpm";
    std::filesystem::create_symlink(path, link);
    const std::string hardLink = m_dir / "hard.rpm";
    std::filesystem::create_hard_link(path, hardLink);
    const Bytes before = readBytes(path);

    ASSERT_TRUE(signWith(link, m_pki.developer));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(blocksOf(path).size(), 1u);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    // A hard link keeps the file it named.
    EXPECT_EQ(readBytes(hardLink), before);

    // The object follows the file it replaced the package with.
    const LoadedSigner seclab = load(m_pki.seclab);
    auto file = FileWithCmses::fromPath(link);
    ASSERT_TRUE(file->sign(seclab.certificate.get(), seclab.key.get(), nullptr, 0, nullptr, false, false, true));
    EXPECT_EQ(file->cmses().size(), 2u);
    EXPECT_TRUE(file->verifyCmses(m_pki.ca.certificate.c_str()));
    EXPECT_TRUE(file->deleteCmses(true));
    EXPECT_EQ(blocksOf(path).size(), 1u);
}

TEST_F(SigningTest, NeedsACertificateAndAKey)
{
    const std::string path = package();
    const LoadedSigner developer = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(path);
    EXPECT_FALSE(file->sign(nullptr, developer.key.get(), nullptr, 0, nullptr, false, false, true));
    EXPECT_FALSE(file->sign(developer.certificate.get(), nullptr, nullptr, 0, nullptr, false, false, true));
    EXPECT_TRUE(blocksOf(path).empty());
}

class SigningFailureTest : public SigningTest {
protected:
    // A package whose content cannot be signed without a TA key.
    std::string packageWithTrustedApplication()
    {
        TestKit::Package description;
        description.name = "com.example.trustlet";
        description.entries = {TestKit::file("/usr/lib/optee_armtz/8aaaf200-2450-11e4-abe2-0002a5d5c51b.ta", "TA")};
        return TestKit::buildRpm(description, m_dir.path());
    }

    // Many files, so that a block with file signatures is much longer than
    // one without.
    std::string packageWithManyFiles()
    {
        TestKit::Package description;
        description.name = "com.example.many";
        for (int i = 0; i < 12; ++i)
            description.entries.push_back(TestKit::file("/usr/share/many/f" + std::to_string(i), std::to_string(i)));
        return TestKit::buildRpm(description, m_dir.path());
    }

    // Signs in a child process whose files may not grow beyond `limit`
    // bytes, so that appending fails part of the way through.
    bool signWithFileSizeLimit(const std::string& path, const Signer& signer, const SignOptions& options,
                               rlim_t limit)
    {
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize {limit, limit};
            setrlimit(RLIMIT_FSIZE, &fileSize);
            _exit(signWith(path, signer, options) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

TEST_F(SigningFailureTest, AFailedCmsKeepsTheBlocksReplacingWouldHaveRemoved)
{
    const std::string path = packageWithTrustedApplication();
    ASSERT_TRUE(signWith(path, m_pki.developer, {.signFiles = false}));
    ASSERT_TRUE(signWith(path, m_pki.seclab, {.zstdFrame = true}));
    const Bytes before = readBytes(path);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(signWith(path, m_pki.developer, {.replace = true}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TA key is absent yet there are TAs in RPM!\nCould not sign files in package\n");
    EXPECT_EQ(readBytes(path), before);

    // A rotation chain that does not end with the signer fails later in
    // the CMS, with the same outcome.
    const LoadedSigner developer = load(m_pki.developer);
    const LoadedSigner mdm = load(m_pki.developerMdm);
    const Common::Torvel::ProofOfRotationChainHandle chain(sk_ProofOfRotation_new_null());
    sk_ProofOfRotation_push(chain.get(), ProofOfRotation_create(developer.certificate.get(), developer.key.get(),
                                                                mdm.certificate.get(), mdm.key.get()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(signWith(path, m_pki.developer, {.replace = true, .signFiles = false, .chain = chain.get()}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Last keyid in rotation chain does not match with certificate's keyid\n");
    EXPECT_EQ(readBytes(path), before);

    // Without file signatures the package with a TA signs.
    EXPECT_TRUE(signWith(path, m_pki.developer, {.replace = true, .signFiles = false}));
    EXPECT_EQ(blocksOf(path).size(), 1u);
}

TEST_F(SigningFailureTest, AFailedWriteLeavesTheFileAsItWas)
{
    const std::string path = packageWithManyFiles();
    ASSERT_TRUE(signWith(path, m_pki.developer));
    const Bytes before = readBytes(path);
    EXPECT_FALSE(signWithFileSizeLimit(path, m_pki.seclab, {}, before.size() + 100));
    EXPECT_EQ(readBytes(path), before);
    EXPECT_TRUE(FileWithCmses::fromPath(path)->verifyCmses(m_pki.ca.certificate.c_str()));
    const std::filesystem::path package(path);
    const std::string prefix = PackageSignatures::replacementPrefix(package.filename().string());
    for (const auto& entry : std::filesystem::directory_iterator(package.parent_path()))
        EXPECT_NE(entry.path().filename().string().rfind(prefix, 0), 0u) << "left behind: " << entry.path();
}

TEST_F(SigningFailureTest, AFailedWriteAfterReplacingKeepsTheOldBlocks)
{
    const std::string path = packageWithManyFiles();
    ASSERT_TRUE(signWith(path, m_pki.developer, {.signFiles = false}));
    ASSERT_TRUE(signWith(path, m_pki.seclab));
    const Bytes before = readBytes(path);
    // The new developer block, with its file signatures, is longer than both
    // blocks it replaces, so it cannot be written within the old size.
    EXPECT_FALSE(signWithFileSizeLimit(path, m_pki.developer, {.replace = true}, before.size()));
    EXPECT_EQ(readBytes(path), before);
    EXPECT_TRUE(FileWithCmses::fromPath(path)->verifyCmses(m_pki.ca.certificate.c_str()));
}

TEST_F(SigningFailureTest, ReadOnlyFilesAreNotChanged)
{
    const std::string path = package();
    ASSERT_TRUE(signWith(path, m_pki.developer));
    const Bytes before = readBytes(path);
    const LoadedSigner loaded = load(m_pki.developer);
    auto file = FileWithCmses::fromPath(path.c_str(), "r");
    const LoadedSigner seclab = load(m_pki.seclab);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(file->sign(loaded.certificate.get(), loaded.key.get(), nullptr, 0, nullptr, true, false, true));
    EXPECT_FALSE(file->sign(seclab.certificate.get(), seclab.key.get(), nullptr, 0, nullptr, false, false, true));
    EXPECT_FALSE(file->deleteCmses(false));
    const std::string readOnly = "\"" + path + "\": the file is read-only\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not sign " + readOnly + "Could not sign " + readOnly + "Could not delete signatures from " + readOnly);
    EXPECT_EQ(readBytes(path), before);
}
