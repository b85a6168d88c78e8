// The torvel program: dispatch, and its reading and certificate commands.

#include <cctype>
#include <set>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "Vetrik.h"

using namespace SignatureFixtures;

namespace {

TestKit::RunResult torvel(const std::vector<std::string>& arguments, const TestKit::RunOptions& options = {})
{
    std::vector<std::string> argv {TORVEL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return TestKit::run(argv, options);
}

std::string certificateLines(const std::string& subject, const std::string& group, const std::string& subgroup,
                             const std::string& keyId)
{
    return "Subject: " + subject + "\nGroup: " + group + "\nSubgroup: " + subgroup + "\nKey ID: " + keyId + "\n";
}

std::string readOnlyNotice(const std::string& path)
{
    return "torvel: trying to reopen " + path
           + " in read-only mode, as it failed to open in read-write mode (some features that modify a file may "
             "fail with an error)\n";
}

} // namespace

class TorvelTest : public ::testing::Test {
protected:
    // A file of package bytes with a developer block (version 2) and a
    // seclab block (version 3) signing the first block, as signers would.
    std::string signedPackage(const std::string& name)
    {
        const std::string path = m_dir / name;
        TestKit::writeFile(path, "bare package " + name);
        const Bytes developer = opensslCmsSign(path, m_pki.developer);
        appendBytes(path, blockV2(developer));
        const std::string previous = m_dir / (name + ".block0");
        writeBytes(previous, blockV2(developer));
        appendBytes(path, blockV3(opensslCmsSign(previous, m_pki.seclab)));
        return path;
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigtorvel"};
};

TEST_F(TorvelTest, DispatchesCommandsByName)
{
    const auto bare = torvel({});
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_NE(bare.out.find("Tool for dealing with package signatures."), std::string::npos);
    EXPECT_NE(bare.out.find("  command        Supported commands are:\n"
                            "                 delete        Delete signature(s) from packages.\n"
                            "                 dump          Dump information about signatures in packages.\n"
                            "                 dumpdb        Show certificates database content.\n"
                            "                 extract-cert  Extract certificate from package.\n"
                            "                 info          Show information about certificate.\n"
                            "                 issyscert     Check whether certificate is system developer's.\n"
                            "                 makecert      Make end-user certificate.\n"
                            "                 makecertca    Make self-signed (CA) certificate.\n"
                            "                 rotate        Rotate keys.\n"
                            "                 sign          Sign packages.\n"
                            "                 verify        Verify package signatures.\n"
                            "                 verify-cert   Verify certificate authority.\n"),
              std::string::npos)
        << bare.out;

    const auto unknown = torvel({"frobnicate", "x"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "Unknown command \"frobnicate\"\n");

    const auto version = torvel({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "torvel 0.9.5\n");

    const auto badOption = torvel({"--frobnicate"});
    EXPECT_EQ(badOption.exitCode, 1);
    EXPECT_EQ(badOption.err, "Unknown option 'frobnicate'.\n");

    const auto commandHelp = torvel({"extract-cert", "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0);
    EXPECT_NE(commandHelp.out.find("extract-cert [command options] package"), std::string::npos) << commandHelp.out;
    EXPECT_NE(commandHelp.out.find("-o, --out <out>"), std::string::npos);
    EXPECT_NE(commandHelp.out.find("Extract last certificate instead of first."), std::string::npos);
}

TEST_F(TorvelTest, EveryCommandsHelpOpensWithWhatItDoes)
{
    // Right under the usage line: one sentence of the command's own.
    std::set<std::string> sentences;
    for (const char* command : {"delete", "dump", "dumpdb", "extract-cert", "info", "issyscert", "makecert",
                                "makecertca", "rotate", "sign", "verify", "verify-cert"}) {
        const auto help = torvel({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        const std::vector<std::string> lines = TestKit::lines(help.out);
        ASSERT_GE(lines.size(), 2u) << help.out;
        EXPECT_NE(lines[0].find(std::string(command) + " [command options]"), std::string::npos) << lines[0];
        std::string sentence;
        for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) {
            EXPECT_LE(lines[i].size(), 79u) << lines[i];
            sentence += (sentence.empty() ? "" : " ") + lines[i];
        }
        EXPECT_TRUE(sentence.size() > 20 && std::isupper(static_cast<unsigned char>(sentence[0]))
                    && sentence.back() == '.' && sentence.find(". ") == std::string::npos)
            << command << ": " << sentence;
        EXPECT_TRUE(sentences.insert(sentence).second) << command << ": " << sentence;
    }
}

TEST_F(TorvelTest, DumpsEveryBlockOfEveryPackage)
{
    const std::string one = signedPackage("one.rpm");
    const std::string bare = m_dir / "bare.rpm";
    TestKit::writeFile(bare, "no blocks here");
    auto file = PackageSignatures::FileWithCmses::fromPath(one);
    const auto cmses = file->cmses();
    ASSERT_EQ(cmses.size(), 2u);

    const std::string expectedOne =
        certificateLines("developer", "developer", "regular", m_pki.developer.keyId) + "Signature: "
        + cmses[0].signature() + "\n" + certificateLines("seclab", "seclab", "regular", m_pki.seclab.keyId)
        + "Signature: " + cmses[1].signature() + "\n";
    const auto single = torvel({"dump", one});
    EXPECT_EQ(single.exitCode, 0);
    EXPECT_EQ(single.out, expectedOne);
    EXPECT_EQ(single.err, "");

    // A file that cannot be read is told apart from one without blocks,
    // and fails the command; the packages after it are still dumped.
    const auto several = torvel({"dump", one, m_dir / "missing.rpm", bare});
    EXPECT_EQ(several.exitCode, 1);
    EXPECT_EQ(several.out, one + ":\n" + expectedOne + m_dir / "missing.rpm" + ":\n" + bare
                               + ":\nNo signatures found in package.\n");
    EXPECT_EQ(several.err, "Could not open file \"" + m_dir / "missing.rpm" + "\": No such file or directory\n");
}

TEST_F(TorvelTest, DumpsFileSignaturesAndRotations)
{
    const std::string package = buildPackage(m_dir.path());
    const Bytes content = readBytes(package);
    const Bytes developer = certificateDer(m_pki.developer.certificate);
    const Bytes mdm = certificateDer(m_pki.developerMdm.certificate);
    // rpm lists files in path order: 0 /usr/bin/com.example.app,
    // 1 /usr/share/com.example.app/data.txt
    const Bytes block = cmsWithAttributes(
        content, m_pki.developerMdm,
        {{"packageFileSignatures", fileSignaturesDer({{1, {0x03, 0x02, 0x04, 0xAB}}})},
         {"packageTrustletSignatures", fileSignaturesDer({{0, {'4', '8', '5', '3'}}})},
         {"rotationChain", derSequence({proofOfRotationDer(developer, mdm)})}});
    appendBytes(package, blockV3(block));

    const auto dump = torvel({"dump", "--file-signatures", package});
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_EQ(dump.err, "");
    const std::string signature = PackageSignatures::Cms(block).signature();
    EXPECT_EQ(dump.out, "0 /usr/bin/com.example.app: [TA] 4853\n"
                        "1 /usr/share/com.example.app/data.txt: [IMA] 030204ab\n"
                        "\tRotation: "
                            + m_pki.developer.keyId + " -> " + m_pki.developerMdm.keyId + "\n"
                            + certificateLines("developermdm", "developer", "mdm", m_pki.developerMdm.keyId)
                            + "Signature: " + signature + "\n");

    // Not a package: the file part is skipped with the reader's message.
    const std::string notRpm = m_dir / "plain.bin";
    TestKit::writeFile(notRpm, "plain bytes");
    appendBytes(notRpm, blockV2(block));
    const auto plain = torvel({"dump", "-f", notRpm});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.err, "Argument is not an RPM package\n");
    EXPECT_EQ(plain.out.rfind("\tRotation: ", 0), 0u) << plain.out;
}

TEST_F(TorvelTest, DeletesBlocks)
{
    const std::string package = signedPackage("del.rpm");
    const size_t signedSize = readBytes(package).size();
    const std::string bare = m_dir / "bare.rpm";
    TestKit::writeFile(bare, "bare package del.rpm");

    const auto last = torvel({"delete", "--last", package, bare});
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_EQ(last.out, "Successfully deleted signature(s) from \"" + package + "\"\n");
    EXPECT_EQ(last.err, "No signatures found in \"" + bare + "\"\n");
    EXPECT_LT(readBytes(package).size(), signedSize);
    EXPECT_EQ(PackageSignatures::FileWithCmses::fromPath(package)->cmses().size(), 1u);

    const auto all = torvel({"delete", package});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(TestKit::readFile(package), "bare package del.rpm");

    const std::string missing = m_dir / "missing.rpm";
    const std::string second = signedPackage("second.rpm");
    const auto failed = torvel({"delete", missing, second});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, readOnlyNotice(missing) + "\"" + missing + "\" cannot be read: No such file or directory\n"
                              + "Could not open file \"" + missing + "\"\n");
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(PackageSignatures::FileWithCmses::fromPath(second)->cmses().size(), 2u);
}

TEST_F(TorvelTest, ExtractsCertificates)
{
    const std::string package = signedPackage("extract.rpm");
    const std::string out = m_dir / "extracted.pem";

    const auto first = torvel({"extract-cert", "-o", out, package});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(TestKit::readFile(out), TestKit::readFile(m_pki.developer.certificate));
    const auto last = torvel({"extract-cert", "--last", "--out", out, package});
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_EQ(TestKit::readFile(out), TestKit::readFile(m_pki.seclab.certificate));

    const auto noOut = torvel({"extract-cert", package});
    EXPECT_EQ(noOut.exitCode, 1);
    EXPECT_EQ(noOut.err, "Option '--out' is required but not set.\n");
    const auto noPackage = torvel({"extract-cert", "-o", out});
    EXPECT_EQ(noPackage.exitCode, 1);
    EXPECT_EQ(noPackage.err, "No package provided.\n");
    const std::string missing = m_dir / "missing.rpm";
    const auto notThere = torvel({"extract-cert", "-o", out, missing});
    EXPECT_EQ(notThere.exitCode, 1);
    EXPECT_EQ(notThere.err, readOnlyNotice(missing) + "Could not open file" + missing);
    const std::string bare = m_dir / "bare.rpm";
    TestKit::writeFile(bare, "bare");
    const auto noBlocks = torvel({"extract-cert", "-o", out, bare});
    EXPECT_EQ(noBlocks.exitCode, 1);
    EXPECT_EQ(noBlocks.err, "Package has no CMSes" + bare);

    // A block without a certificate saves nothing and keeps the old output.
    const std::string broken = m_dir / "broken.rpm";
    TestKit::writeFile(broken, "bare");
    appendBytes(broken, blockV2({0x30, 0x00}));
    const auto unusable = torvel({"extract-cert", "-o", out, broken});
    EXPECT_EQ(unusable.exitCode, 1);
    EXPECT_EQ(TestKit::readFile(out), TestKit::readFile(m_pki.seclab.certificate));
}

TEST_F(TorvelTest, ShowsAndTestsCertificates)
{
    const auto info = torvel({"info", m_pki.developerMdm.certificate, m_pki.client.certificate});
    EXPECT_EQ(info.exitCode, 0);
    // With several paths, each one's lines come after its name.
    EXPECT_EQ(info.out, m_pki.developerMdm.certificate + ":\n"
                            + certificateLines("developermdm", "developer", "mdm", m_pki.developerMdm.keyId)
                            + m_pki.client.certificate + ":\n"
                            + certificateLines("client", "client", "regular", m_pki.client.keyId));
    // A path that is no certificate is a failure, no longer status 0.
    const auto unreadable = torvel({"info", m_dir / "none.pem"});
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.out, certificateLines("", "", "<unknown>", ""));
    EXPECT_EQ(unreadable.err, "Could not open certificate \"" + m_dir / "none.pem" + "\": No such file or directory\n");

    TestKit::writeFile(m_dir / "root/etc/torvel/torvel.conf",
                       "[main]\nsystem_developer_keyid_path=" + m_dir / "root/keyid\n");
    TestKit::writeFile(m_dir / "root/keyid", m_pki.developer.keyId + "\n");
    TestKit::RunOptions options;
    options.env = {{"TORVEL_ROOTFS", m_dir / "root"}};
    const auto sys = torvel({"issyscert", m_pki.developer.certificate, m_pki.seclab.certificate,
                             m_dir / "none.pem", m_pki.client.certificate},
                            options);
    EXPECT_EQ(sys.exitCode, 1);
    EXPECT_EQ(sys.out, "\"" + m_pki.developer.certificate + "\" is a system developer certificate\n\""
                           + m_pki.seclab.certificate + "\" is not a system developer certificate\n");
    EXPECT_EQ(sys.err, m_dir / "none.pem" + " does not exist.\n");
    const auto directory = torvel({"issyscert", m_dir.path()}, options);
    EXPECT_EQ(directory.exitCode, 1);
    EXPECT_EQ(directory.err, m_dir.path() + " is a directory.\n");
    EXPECT_EQ(torvel({"issyscert"}, options).exitCode, 0);
}

TEST_F(TorvelTest, VerifiesCertificateAuthority)
{
    const auto ok = torvel({"verify-cert", "-c", m_pki.developer.certificate, "--ca-cert", m_pki.ca.certificate});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.out, "Successfully verified the certificate's authority\n");

    openssl({"genrsa", "-out", m_dir / "other.key", "2048"});
    ASSERT_EQ(make_ca_certificate((m_dir / "other.pem").c_str(), (m_dir / "other.key").c_str(), "Other"), 0);
    const auto wrong = torvel({"verify-cert", "--cert", m_pki.developer.certificate, "--ca-cert", m_dir / "other.pem"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.err, "Authority verification failed\n");

    const auto noCa = torvel({"verify-cert", "-c", m_pki.developer.certificate});
    EXPECT_EQ(noCa.exitCode, 1);
    EXPECT_EQ(noCa.err, "Option '--ca-cert' is required but not set.\n");
}

TEST_F(TorvelTest, IssuesCertificates)
{
    const std::string caKey = m_dir / "ca.key";
    openssl({"genrsa", "-out", caKey, "2048"});
    const std::string ca = m_dir / "ca.pem";
    const auto madeCa = torvel({"makecertca", "-k", caKey, "-c", "Тестовый УЦ", "-o", ca});
    EXPECT_EQ(madeCa.exitCode, 0);
    EXPECT_EQ(madeCa.out, "Successfully issued CA certificate: " + ca + "\n");
    EXPECT_EQ(PackageSignatures::Certificate::readCertificateFromFile(ca.c_str()).subject(), "Тестовый УЦ");

    const std::string original = TestKit::readFile(ca);
    const auto failedCa = torvel({"makecertca", "--key", m_dir / "none.key", "--common-name", "X", "--out", ca});
    EXPECT_EQ(failedCa.exitCode, 1);
    EXPECT_EQ(failedCa.err, "No such file or directory\nThe CA key \"" + m_dir / "none.key"
                                + "\" cannot be read: No such file or directory\nCould not issue CA certificate: " + ca
                                + "\n");
    EXPECT_EQ(TestKit::readFile(ca), original);

    openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", m_dir / "user.key", "-subj", "/CN=User",
             "-out", m_dir / "user.csr"});
    const auto issue = [&](const std::string& group, bool allowUnknown) {
        std::vector<std::string> arguments {"makecert", "-i", m_dir / "user.csr", "-k", caKey, "-c", ca, "-g", group,
                                            "-o", m_dir / "user.pem"};
        if (allowUnknown)
            arguments.push_back("--allow-unknown-group");
        return torvel(arguments);
    };
    const auto seclab = issue("seclab", false);
    EXPECT_EQ(seclab.exitCode, 0);
    EXPECT_EQ(seclab.out, "Successfully issued end-user certificate: " + m_dir / "user.pem" + "\n");
    EXPECT_EQ(PackageSignatures::Certificate::readCertificateFromFile((m_dir / "user.pem").c_str()).group(),
              PackageSignatures::GroupSeclab);

    const auto seclabWord = issue("seclab:anything", true);
    EXPECT_EQ(seclabWord.exitCode, 1);
    EXPECT_EQ(seclabWord.err, "Invalid group: seclab:anything\nOnly \"developer\" group may have a subgroup\n");
    const auto seclabMdm = issue("seclab:mdm", false);
    EXPECT_EQ(seclabMdm.exitCode, 1);
    EXPECT_EQ(seclabMdm.err, "Invalid group: seclab:mdm\nOnly \"developer\" group may have a subgroup\n");
    const auto regular = issue("developer:regular", false);
    EXPECT_EQ(regular.exitCode, 1);
    const std::string groups = "The group must be developer (alone, or with one of the subgroups antivirus, "
                               "extended, mdm, auth, market, systemapp and substitutecomponent after a colon), "
                               "seclab or client\n";
    EXPECT_EQ(regular.err, groups + "Unknown group: developer:regular\n");
    const auto unknown = issue("vendor", false);
    EXPECT_EQ(unknown.err, groups + "Unknown group: vendor\n");
    const auto allowed = issue("developer:regular", true);
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    const auto mdm = issue("developer:mdm", false);
    EXPECT_EQ(mdm.exitCode, 0);
    EXPECT_EQ(PackageSignatures::Certificate::readCertificateFromFile((m_dir / "user.pem").c_str()).subgroup(),
              PackageSignatures::SubgroupMdm);

    const auto failed = torvel({"makecert", "-i", m_dir / "none.csr", "-k", caKey, "-c", ca, "-g", "client", "-o",
                                m_dir / "user.pem"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "Could not open CSR file: No such file or directory\nThe certificate request \""
                              + m_dir / "none.csr"
                              + "\" cannot be read: No such file or directory\nCould not issue end-user certificate: "
                              + m_dir / "user.pem" + "\n");

    const auto missing = torvel({"makecert", "-k", caKey, "-c", ca, "-o", m_dir / "user.pem"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Option '--in' is required but not set.\n");
}
