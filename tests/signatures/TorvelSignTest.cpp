// torvel's sign, rotate and verify commands, dump of file signatures, and
// signed packages still read by rpm and unpacked by rpm2cpio | cpio.

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "Vetrik.h"

using namespace SignatureFixtures;
using PackageSignatures::FileWithCmses;

namespace {

TestKit::RunResult torvel(const std::vector<std::string>& arguments, const TestKit::RunOptions& options = {})
{
    std::vector<std::string> argv {TORVEL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return TestKit::run(argv, options);
}

std::string signedLine(int n, int total, const std::string& path)
{
    return "Signed ( " + std::to_string(n) + " / " + std::to_string(total) + " ) \"" + path + "\"\n";
}

size_t blockCount(const std::string& path)
{
    return FileWithCmses::fromPath(path.c_str(), "r")->locateCmses().size();
}

} // namespace

class TorvelSignTest : public ::testing::Test {
protected:
    std::vector<std::string> signArguments(const Signer& signer, const std::vector<std::string>& rest = {})
    {
        std::vector<std::string> arguments {"sign", "-k", signer.key, "-c", signer.certificate};
        arguments.insert(arguments.end(), rest.begin(), rest.end());
        return arguments;
    }

    std::string package(const std::string& name, const std::string& compressor = "zstd")
    {
        TestKit::Package description;
        description.name = name;
        description.compressor = compressor;
        description.entries = {TestKit::file("/usr/share/" + name + "/data.txt", "payload of " + name + "\n"),
                               TestKit::file("/usr/bin/" + name, "#!/bin/sh\n", 0755)};
        return TestKit::buildRpm(description, m_dir.path());
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigtorvelsign"};
};

TEST_F(TorvelSignTest, SignsPackagesAndReportsProgress)
{
    const std::string one = package("com.example.one");
    const auto signedOne = torvel(signArguments(m_pki.developer, {one}));
    EXPECT_EQ(signedOne.exitCode, 0) << signedOne.err;
    EXPECT_EQ(signedOne.err, signedLine(1, 1, one));
    EXPECT_EQ(signedOne.out, "");
    EXPECT_EQ(blockCount(one), 1u);

    // Three packages on at most three threads; each number once, in any order.
    const std::vector<std::string> three {package("com.example.a"), package("com.example.b"), package("com.example.c")};
    const auto parallel = torvel(signArguments(m_pki.developer, {"--jobs", "8", three[0], three[1], three[2]}));
    EXPECT_EQ(parallel.exitCode, 0) << parallel.err;
    std::vector<std::string> lines = TestKit::lines(parallel.err);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected;
    for (int n = 1; n <= 3; ++n) {
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind("Signed ( " + std::to_string(n) + " / 3 ) \"", 0) == 0;
        });
        ASSERT_NE(line, lines.end()) << parallel.err;
        expected.push_back(*line);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    for (const std::string& path : three) {
        EXPECT_EQ(blockCount(path), 1u);
        EXPECT_NE(parallel.err.find("\"" + path + "\"\n"), std::string::npos);
    }

    // Keys and certificate are read, nothing is signed.
    const auto nothing = torvel(signArguments(m_pki.developer));
    EXPECT_EQ(nothing.exitCode, 0);
    EXPECT_EQ(nothing.err, "");
}

TEST_F(TorvelSignTest, ChoosesTheBlockVersionByThePayloadCompressor)
{
    for (const std::string compressor : {"zstd", "gzip", "xz"}) {
        const std::string path = package("com.example." + compressor, compressor);
        ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
        const auto blocks = FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].version, compressor == "zstd" ? 3u : 2u) << compressor;
    }
}

TEST_F(TorvelSignTest, SignedPackagesStayReadableByRpm)
{
    for (const std::string compressor : {"gzip", "xz", "zstd"}) {
        SCOPED_TRACE(compressor);
        const std::string name = "com.example.read" + compressor;
        const std::string path = package(name, compressor);
        const std::string queried = TestKit::run({"rpm", "-qp", path}).out;
        for (const Signer* signer : {&m_pki.developer, &m_pki.seclab, &m_pki.client}) {
            ASSERT_EQ(torvel(signArguments(*signer, {path})).exitCode, 0);
            const size_t blocks = blockCount(path);
            SCOPED_TRACE(std::to_string(blocks) + " blocks");
            const auto query = TestKit::run({"rpm", "-qp", path});
            EXPECT_EQ(query.exitCode, 0) << query.err;
            EXPECT_EQ(query.out, queried);
            const std::string into = m_dir / (name + std::to_string(blocks));
            std::filesystem::create_directories(into);
            const auto unpacked =
                TestKit::run({"sh", "-c", "rpm2cpio \"$1\" | cpio -idm --quiet", "sh", path}, {{}, {}, into, "", 60});
            EXPECT_EQ(unpacked.exitCode, 0) << unpacked.err;
            EXPECT_EQ(TestKit::readFile(into + "/usr/share/" + name + "/data.txt"), "payload of " + name + "\n");
            EXPECT_EQ(TestKit::readFile(into + "/usr/bin/" + name), "#!/bin/sh\n");
        }
        const auto verified = torvel({"verify", "-r", m_pki.ca.certificate, path});
        EXPECT_EQ(verified.exitCode, 0) << verified.err;
    }
}

TEST_F(TorvelSignTest, RefusesPathsThatAreNoPackageFiles)
{
    const std::string good = package("com.example.good");
    const std::string missing = m_dir / "missing.rpm";
    const std::string directory = m_dir / "tree";
    std::filesystem::create_directories(directory);

    const auto notADirectoryRun = torvel(signArguments(m_pki.developer, {good, directory}));
    EXPECT_EQ(notADirectoryRun.exitCode, 1);
    EXPECT_EQ(notADirectoryRun.err, directory + " is a directory. Use -R option to run recursively.\n");
    EXPECT_EQ(blockCount(good), 0u);

    for (const bool recursive : {false, true}) {
        std::vector<std::string> rest {good, missing};
        if (recursive)
            rest.insert(rest.begin(), "-R");
        const auto absent = torvel(signArguments(m_pki.developer, rest));
        EXPECT_EQ(absent.exitCode, 1) << recursive;
        EXPECT_EQ(absent.err, missing + " does not exist.\n");
        EXPECT_EQ(blockCount(good), 0u);
    }

    const std::string plain = m_dir / "plain.rpm";
    TestKit::writeFile(plain, "not a package");
    const auto notRpm = torvel(signArguments(m_pki.developer, {plain}));
    EXPECT_EQ(notRpm.exitCode, 1);
    EXPECT_EQ(notRpm.err, "File \"" + plain + "\" doesn't looks like RPM package\n");
    EXPECT_EQ(TestKit::readFile(plain), "not a package");

    // A lead without a readable header.
    const std::string broken = m_dir / "broken.rpm";
    TestKit::writeFile(broken, std::string("\xED\xAB\xEE\xDB", 4) + std::string(200, 'x'));
    const auto unreadable = torvel(signArguments(m_pki.developer, {broken}));
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_NE(unreadable.err.find("Could not read header from package\n"), std::string::npos) << unreadable.err;
}

TEST_F(TorvelSignTest, SignsTreesRecursively)
{
    const std::string tree = m_dir / "tree";
    std::filesystem::create_directories(tree + "/nested/deeper");
    const std::string top = package("com.example.top");
    const std::string deep = package("com.example.deep");
    std::filesystem::rename(top, tree + "/top.rpm");
    std::filesystem::rename(deep, tree + "/nested/deeper/deep.rpm");
    TestKit::writeFile(tree + "/nested/readme.txt", "not signed");
    const auto run = torvel(signArguments(m_pki.developer, {"-R", tree}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(blockCount(tree + "/top.rpm"), 1u);
    EXPECT_EQ(blockCount(tree + "/nested/deeper/deep.rpm"), 1u);
    EXPECT_EQ(TestKit::readFile(tree + "/nested/readme.txt"), "not signed");
    EXPECT_EQ(TestKit::lines(run.err).size(), 2u);
}

TEST_F(TorvelSignTest, ChecksItsOptions)
{
    const std::string path = package("com.example.options");
    const auto noKey = torvel({"sign", "-c", m_pki.developer.certificate, path});
    EXPECT_EQ(noKey.exitCode, 1);
    EXPECT_EQ(noKey.err, "Option '--key' is required but not set.\n");

    for (const std::string jobs : {"0", "-2", "two", "1.5", ""}) {
        const auto refused = torvel(signArguments(m_pki.developer, {"--jobs", jobs, path}));
        EXPECT_EQ(refused.exitCode, 1) << jobs;
        EXPECT_EQ(refused.err, "Option '--jobs' needs a positive integer, got \"" + jobs + "\".\n");
    }
    EXPECT_EQ(blockCount(path), 0u);

    const auto algorithm = torvel(signArguments(m_pki.developer, {"--ta-key", m_pki.taKey, "--ta-sign-algo", "PSS", path}));
    EXPECT_EQ(algorithm.exitCode, 1);
    EXPECT_EQ(algorithm.err, "Unknown TA signing algorithm \"PSS\" (possible values: RSASSA_PKCS1_PSS_MGF1_SHA256, "
                             "RSASSA_PKCS1_V1_5_SHA256).\n");
    // Without a TA key the algorithm is not looked at.
    EXPECT_EQ(torvel(signArguments(m_pki.developer, {"--ta-sign-algo", "PSS", path})).exitCode, 0);

    const auto help = torvel({"sign", "--help"});
    EXPECT_NE(help.out.find("sign [command options] [paths...]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("-j, --jobs <jobs>"), std::string::npos);
    // The default is the pool's own maximum, the number of processor threads.
    EXPECT_NE(help.out.find("Maximum amount of jobs to run in parallel\n                                 (default "
                            + std::to_string(std::thread::hardware_concurrency()) + ")."),
              std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("--no-content-sign <glob>"), std::string::npos);
}

TEST_F(TorvelSignTest, ReplacesWithForceAndStopsAfterAFailure)
{
    const std::string path = package("com.example.force");
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
    ASSERT_EQ(torvel(signArguments(m_pki.seclab, {path})).exitCode, 0);
    const auto again = torvel(signArguments(m_pki.developer, {path}));
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "\"" + path + "\": a developer signs only a package without signature blocks, and it has 2 "
                         "blocks: 1 developer \"developer\", 2 seclab \"seclab\" (-f replaces them)\nCould not sign \""
                             + path + "\"\n");
    EXPECT_EQ(blockCount(path), 2u);
    const auto forced = torvel(signArguments(m_pki.developerMdm, {"-f", path}));
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(blockCount(path), 1u);
    EXPECT_EQ(FileWithCmses::fromPath(path)->cmses()[0].certificate()->keyId(), m_pki.developerMdm.keyId);

    // One thread: the first failure stops the packages after it.
    const std::string later = package("com.example.later");
    const auto stopped = torvel(signArguments(m_pki.developer, {"-j", "1", path, later}));
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.err, "\"" + path + "\": a developer signs only a package without signature blocks, and it has "
                           "1 block: 1 developer \"developermdm\" (-f replaces them)\nCould not sign \""
                               + path + "\"\n");
    EXPECT_EQ(blockCount(later), 0u);
}

TEST_F(TorvelSignTest, SkipsContentSigningForMatchingNames)
{
    const std::string skipped = package("com.example.skipme");
    const std::string kept = package("org.example.keepme");
    const auto run = torvel(signArguments(m_pki.developer, {"--no-content-sign", "com.example.+(skip|x)me", skipped, kept}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(FileWithCmses::fromPath(skipped)->cmses()[0].fileSignature(0).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No file signatures found in CMS\n");
    EXPECT_FALSE(FileWithCmses::fromPath(kept)->cmses()[0].fileSignature(0).empty());
}

TEST_F(TorvelSignTest, SignsWithTaKeysAndPassphrases)
{
    TestKit::Package description;
    description.name = "com.example.tee";
    description.entries = {TestKit::file("/usr/lib/optee_armtz/8aaaf200-2450-11e4-abe2-0002a5d5c51b.ta", "TA"),
                           TestKit::file("/usr/share/tee/readme", "readme")};
    const std::string path = TestKit::buildRpm(description, m_dir.path());

    const auto noTaKey = torvel(signArguments(m_pki.developer, {path}));
    EXPECT_EQ(noTaKey.exitCode, 1);
    EXPECT_EQ(noTaKey.err, "TA key is absent yet there are TAs in RPM!\nCould not sign files in package\nCould not sign \""
                               + path + "\"\n");

    openssl({"pkey", "-in", m_pki.developer.key, "-aes256", "-passout", "pass:secret", "-out", m_dir / "dev.enc.key"});
    openssl({"pkey", "-in", m_pki.taKey, "-aes256", "-passout", "pass:tee", "-out", m_dir / "ta.enc.key"});
    TestKit::RunOptions options;
    options.env = {{"KEY_PASSPHRASE", "secret"}, {"TA_KEY_PASSPHRASE", "tee"}};
    const auto run = torvel({"sign", "-k", m_dir / "dev.enc.key", "-c", m_pki.developer.certificate, "--ta-key",
                             m_dir / "ta.enc.key", "--ta-sign-algo", "RSASSA_PKCS1_PSS_MGF1_SHA256", path},
                            options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto cms = FileWithCmses::fromPath(path)->cmses().at(0);
    const Bytes ta = cms.trustletSignature(0);
    ASSERT_GT(ta.size(), 32u);
    // The algorithm field (bytes 12 to 15) is TEE_ALG_RSASSA_PKCS1_PSS_MGF1_SHA256.
    EXPECT_EQ(std::string(ta.begin() + 24, ta.begin() + 32), "30494170");

    options.env = {{"KEY_PASSPHRASE", "wrong"}};
    const auto wrong = torvel(signArguments(m_pki.developer, {}), options);
    EXPECT_EQ(wrong.exitCode, 0); // that key is not encrypted
    const auto refused = torvel({"sign", "-k", m_dir / "dev.enc.key", "-c", m_pki.developer.certificate, path}, options);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "Could not read private key \"" + m_dir / "dev.enc.key" + "\" (wrong passphrase?)\n");
}

TEST_F(TorvelSignTest, RotatesKeysAndSignsWithTheChain)
{
    const std::string chain = m_dir / "chain.pem";
    const auto rotated = torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                                 "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate,
                                 "-o", chain});
    EXPECT_EQ(rotated.exitCode, 0) << rotated.err;
    EXPECT_EQ(rotated.out + rotated.err, "");
    const Signer third = m_pki.issue("third", "developer");
    const std::string longer = m_dir / "longer.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developerMdm.key, "--old-cert", m_pki.developerMdm.certificate,
                      "--new-key", third.key, "--new-cert", third.certificate, "-p", chain, "--out", longer})
                  .exitCode,
              0);

    const std::string path = package("com.example.rotated");
    const auto signedRun = torvel(signArguments(third, {"-r", longer, path}));
    EXPECT_EQ(signedRun.exitCode, 0) << signedRun.err;
    const auto dump = torvel({"dump", path});
    EXPECT_EQ(dump.out.rfind("\tRotation: " + m_pki.developer.keyId + " -> " + m_pki.developerMdm.keyId + "\n\tRotation: "
                                 + m_pki.developerMdm.keyId + " -> " + third.keyId + "\nSubject: third\n",
                             0),
              0u)
        << dump.out;
    EXPECT_EQ(torvel({"verify", "-r", m_pki.ca.certificate, path}).exitCode, 0);

    const auto unlinked = torvel({"rotate", "--old-key", m_pki.seclab.key, "--old-cert", m_pki.seclab.certificate,
                                  "--new-key", third.key, "--new-cert", third.certificate, "-p", chain, "-o",
                                  m_dir / "bad.pem"});
    EXPECT_EQ(unlinked.exitCode, 1);
    EXPECT_EQ(unlinked.err, "New SKID from proof[0] does not match old SKID from proof[1]\n"
                            "The chain \""
                                + chain + "\" ends with the key " + m_pki.developerMdm.keyId
                                + ", not with the old certificate's key " + m_pki.seclab.keyId
                                + "; a rotation continues from the newest key of the chain\n"
                                  "Could not create proof-of-rotation chain: "
                                + m_dir / "bad.pem" + "\n");
    const auto missing = torvel({"rotate", "--old-key", m_pki.seclab.key, "--old-cert", m_pki.seclab.certificate,
                                 "--new-key", third.key, "--new-cert", third.certificate});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Option '--out' is required but not set.\n");
}

TEST_F(TorvelSignTest, VerifiesPackagesInOrder)
{
    const std::string good = package("com.example.good");
    const std::string unsignedPackage = package("com.example.unsigned");
    const std::string later = package("com.example.later");
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {good, later})).exitCode, 0);

    const auto ok = torvel({"verify", "--root-cert", m_pki.ca.certificate, good, later});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.out, "Signatures successfully verified for \"" + good + "\"\nSignatures successfully verified for \""
                          + later + "\"\n");

    const auto stops = torvel({"verify", "-r", m_pki.ca.certificate, good, unsignedPackage, later});
    EXPECT_EQ(stops.exitCode, 1);
    EXPECT_EQ(stops.out, "Signatures successfully verified for \"" + good + "\"\n");
    EXPECT_EQ(stops.err, "The package has no signature blocks to verify\nCould not verify signatures for \""
                             + unsignedPackage + "\"\n");

    const std::string missing = m_dir / "missing.rpm";
    const auto notThere = torvel({"verify", "-r", m_pki.ca.certificate, missing, good});
    EXPECT_EQ(notThere.exitCode, 1);
    EXPECT_NE(notThere.err.find("Could not open file \"" + missing + "\"\n"), std::string::npos);
    EXPECT_EQ(notThere.out, "");

    // The bundle comes from the library configuration unless given.
    TestKit::RunOptions configured;
    TestKit::writeFile(m_dir / "root/etc/torvel/torvel.conf", "[main]\nroot_ca_cert_path=" + m_pki.ca.certificate + "\n");
    configured.env = {{"TORVEL_ROOTFS", m_dir / "root"}};
    EXPECT_EQ(torvel({"verify", good}, configured).exitCode, 0);
    TestKit::writeFile(m_dir / "root/etc/torvel/torvel.conf", "[main]\ndatabase_path=/x.db\n");
    const auto noBundle = torvel({"verify", good}, configured);
    EXPECT_EQ(noBundle.exitCode, 1);
    EXPECT_EQ(noBundle.err, "No path to root certificate bundle provided (use -r option).\n");
}

TEST_F(TorvelSignTest, DumpsTheFileSignaturesItMade)
{
    const std::string path = package("com.example.dumped");
    ASSERT_EQ(torvel(signArguments(m_pki.developer, {path})).exitCode, 0);
    ASSERT_EQ(torvel(signArguments(m_pki.seclab, {path})).exitCode, 0);
    const auto cmses = FileWithCmses::fromPath(path)->cmses();
    // rpm lists files in path order: 0 /usr/bin/..., 1 /usr/share/.../data.txt
    const auto dump = torvel({"dump", "-f", path});
    EXPECT_EQ(dump.exitCode, 0);
    const std::string expected =
        "0 /usr/bin/com.example.dumped: [IMA] " + hex(cmses[0].fileSignature(0)) + "\n"
        + "1 /usr/share/com.example.dumped/data.txt: [IMA] " + hex(cmses[0].fileSignature(1)) + "\n"
        + "Subject: developer\nGroup: developer\nSubgroup: regular\nKey ID: " + m_pki.developer.keyId + "\n"
        + "Signature: " + cmses[0].signature() + "\n"
        + "Subject: seclab\nGroup: seclab\nSubgroup: regular\nKey ID: " + m_pki.seclab.keyId + "\n"
        + "Signature: " + cmses[1].signature() + "\n";
    EXPECT_EQ(dump.out, expected);
    EXPECT_EQ(hex(cmses[0].fileSignature(0)).substr(0, 14), "030204" + m_pki.developer.keyId.substr(56));
}
