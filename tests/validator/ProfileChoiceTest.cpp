// vetrik choosing its profile from the developer certificate of a package,
// and the two reading steps behind that choice.

#include <functional>

#include <sys/stat.h>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <Vetrik.h>

#include "SignatureFixtures.h"
#include "package/Error.h"
#include "package/PackageCmses.h"

using namespace SignatureFixtures;

namespace {

constexpr const char* fallback = "Incorrect certificate, falling back to \"regular\" profile...";

std::string selected(const std::string& profile)
{
    return "The " + profile + " profile was selected for validation";
}

bool hasLine(const TestKit::VetrikResult& result, const std::string& line)
{
    for (const std::string& finding : result.findings)
        if (finding == line)
            return true;
    return false;
}

} // namespace

class ProfileChoiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TestKit::TempDir("sigprofile");
        s_package = buildPackage(s_dir->path());
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    // A copy of the bare package with blocks by these signers appended,
    // each made with openssl over the bytes it covers.
    std::string signedCopy(const std::vector<std::pair<const Signer*, int>>& blocks)
    {
        const std::string path = m_dir / ("package" + std::to_string(m_count++) + ".rpm");
        writeBytes(path, readBytes(s_package));
        std::string covered = path + ".covered";
        writeBytes(covered, readBytes(s_package));
        for (const auto& [signer, version] : blocks) {
            const Bytes block = blockOfVersion(version, opensslCmsSign(covered, *signer));
            appendBytes(path, block);
            writeBytes(covered, block);
        }
        return path;
    }

    TestKit::VetrikResult vetrik(const std::string& package) const { return m_vetrik({package}); }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigprofilerun"};
    TestKit::Vetrik m_vetrik;
    int m_count = 0;
    static TestKit::TempDir* s_dir;
    static std::string s_package;
};

TestKit::TempDir* ProfileChoiceTest::s_dir = nullptr;
std::string ProfileChoiceTest::s_package;

TEST_F(ProfileChoiceTest, DeveloperBlocksOfEveryVersionSelectTheirSubgroup)
{
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        const auto regular = vetrik(signedCopy({{&m_pki.developer, version}}));
        EXPECT_TRUE(hasLine(regular, selected("regular"))) << regular.rawErr;
        EXPECT_FALSE(hasLine(regular, fallback));

        const auto mdm = vetrik(signedCopy({{&m_pki.developerMdm, version}, {&m_pki.seclab, 2}}));
        EXPECT_TRUE(hasLine(mdm, selected("mdm"))) << mdm.rawErr;
    }
}

TEST_F(ProfileChoiceTest, FallsBackWithoutADeveloperFirstBlock)
{
    const auto unsignedRun = vetrik(signedCopy({}));
    EXPECT_TRUE(hasLine(unsignedRun, fallback)) << unsignedRun.rawErr;

    const auto seclabFirst = vetrik(signedCopy({{&m_pki.seclab, 2}, {&m_pki.developerMdm, 3}}));
    EXPECT_TRUE(hasLine(seclabFirst, fallback)) << seclabFirst.rawErr;
    EXPECT_FALSE(hasLine(seclabFirst, selected("mdm")));

    // A first block that does not parse has a certificate without group.
    const std::string broken = m_dir / "broken.rpm";
    writeBytes(broken, readBytes(s_package));
    appendBytes(broken, blockV2(Bytes {0x30, 0x03, 0x02, 0x01, 0x00}));
    const auto unparsable = vetrik(broken);
    EXPECT_TRUE(hasLine(unparsable, "Could not decode DER CMS")) << unparsable.rawErr;
    EXPECT_TRUE(hasLine(unparsable, fallback));
}

TEST_F(ProfileChoiceTest, SubgroupsWithoutAProfileFallBack)
{
    // Issued with the subgroup word written out, or one no profile uses.
    static const Signer spelledOut = m_pki.issue("devregular", "developer:regular");
    static const Signer substitute = m_pki.issue("devsubstitute", "developer:substitutecomponent");
    for (const Signer* signer : {&spelledOut, &substitute}) {
        const auto run = vetrik(signedCopy({{signer, 2}}));
        EXPECT_TRUE(hasLine(run, fallback)) << run.rawErr;
    }
    const auto named = m_vetrik({"--profile", "extended", signedCopy({{&m_pki.developerMdm, 2}})});
    EXPECT_FALSE(hasLine(named, selected("mdm")));
}

TEST_F(ProfileChoiceTest, ReadingStepsThrowTheirErrorCodes)
{
    const std::string missing = m_dir / "missing.rpm";
    testing::internal::CaptureStderr();
    try {
        Validator::readPackageCmses(missing);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_EQ(error.code(), Common::ErrorCode::FileNotFound);
        EXPECT_EQ(std::string(error.what()), "Couldn't open RPM package for reading cmses: " + missing);
    }
    testing::internal::GetCapturedStderr();

    const auto cmses = Validator::readPackageCmses(signedCopy({{&m_pki.seclab, 2}, {&m_pki.developer, 2}}));
    ASSERT_EQ(cmses.size(), 2u);
    try {
        Validator::developerCertificate(cmses);
        ADD_FAILURE() << "no exception";
    } catch (const Common::Error& error) {
        EXPECT_EQ(error.code(), Common::ErrorCode::MissingDeveloperSignature);
        EXPECT_EQ(std::string(error.what()), "Package doesn't have developer certificate");
    }
    EXPECT_THROW(Validator::developerCertificate({}), Common::Error);

    const auto developer =
        Validator::developerCertificate(Validator::readPackageCmses(signedCopy({{&m_pki.developerMdm, 3}})));
    EXPECT_EQ(developer.keyId(), m_pki.developerMdm.keyId);
    EXPECT_EQ(developer.subgroup(), PackageSignatures::SubgroupMdm);
}

namespace {

std::string untrusted(const std::string& reason)
{
    return "Developer certificate not trusted: " + reason + ", falling back to \"regular\" profile...";
}

// The profile and how it was chosen, from the package line of a JSON Lines report.
std::pair<std::string, std::string> reportedProfile(const std::string& reportPath)
{
    for (const std::string& line : TestKit::lines(TestKit::readFile(reportPath))) {
        const boost::json::value record = boost::json::parse(line);
        if (record.at("type") == "package") {
            const auto text = [](const boost::json::value& value) {
                return value.is_null() ? std::string("null") : std::string(value.as_string());
            };
            return {text(record.at("profile")), text(record.at("profile_source"))};
        }
    }
    return {};
}

} // namespace

TEST_F(ProfileChoiceTest, VerifySignerTakesTheProfileOnlyFromAVerifiedDeveloper)
{
    const auto mutated = [&](const std::vector<std::pair<const Signer*, int>>& blocks, int64_t offsetFromEnd) {
        const std::string path = signedCopy(blocks);
        Bytes bytes = readBytes(path);
        bytes.at(bytes.size() - size_t(offsetFromEnd)) ^= 0x01;
        writeBytes(path, bytes);
        return path;
    };
    const auto withBlock = [&](const Bytes& block) {
        const std::string path = signedCopy({});
        appendBytes(path, block);
        return path;
    };
    Bytes truncated = opensslCmsSign(s_package, m_pki.developerMdm);
    truncated.resize(truncated.size() / 2);

    struct Case {
        const char* what;
        std::function<std::string()> package;
        std::string line;
        std::string profile;
        std::string source;
    };
    const std::vector<Case> cases {
        {"a developer of the platform's CA", [&] { return signedCopy({{&m_pki.developerMdm, 3}}); }, selected("mdm"),
         "mdm", "verified-certificate"},
        {"a developer with a laboratory after it",
         [&] { return signedCopy({{&m_pki.developerMdm, 2}, {&m_pki.seclab, 2}}); }, selected("mdm"), "mdm",
         "verified-certificate"},
        {"a systemapp developer of a throwaway CA", [&] { return signedCopy({{&m_pki.throwaway, 2}}); },
         untrusted("unable to get local issuer certificate"), "regular", "default"},
        {"an expired certificate", [&] { return signedCopy({{&m_pki.expired, 2}}); },
         untrusted("certificate has expired"), "regular", "default"},
        {"a certificate without the package-signing usage", [&] { return signedCopy({{&m_pki.noGroup, 2}}); },
         untrusted("the certificate lacks the package-signing usage or group"), "regular", "default"},
        {"a laboratory's block first", [&] { return signedCopy({{&m_pki.seclab, 2}, {&m_pki.developerMdm, 3}}); },
         untrusted("the first block is signed by a seclab, not a developer"), "regular", "default"},
        // The middle of the payload: the package bytes before the block.
        {"a package changed after it was signed",
         [&] { return mutated({{&m_pki.developerMdm, 2}}, int64_t(readBytes(s_package).size() / 2)); },
         untrusted("the package changed since the developer signed it"), "regular", "default"},
        // The last DER byte, in the signature value: no longer the key's.
        {"a block whose signature was changed", [&] { return mutated({{&m_pki.developerMdm, 2}}, 13); },
         untrusted("the signature was not made with the certificate's key"), "regular", "default"},
        {"a malformed block", [&] { return withBlock(blockV2(Bytes {0x30, 0x03, 0x02, 0x01, 0x00})); },
         untrusted("the developer block is malformed or truncated"), "regular", "default"},
        {"a truncated block", [&] { return withBlock(blockV2(truncated)); },
         untrusted("the developer block is malformed or truncated"), "regular", "default"},
        {"an unsigned package", [&] { return signedCopy({}); }, untrusted("the package has no signature blocks"),
         "regular", "default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string package = c.package();
        const std::string before = TestKit::readFile(package);
        const std::string report = m_dir / "report.jsonl";
        const auto run = m_vetrik({"--ca-bundle", m_pki.ca.certificate, "--report", report, package});
        EXPECT_TRUE(hasLine(run, c.line)) << run.rawErr;
        // One line says it all: neither the old fallback nor a choice besides it.
        EXPECT_FALSE(hasLine(run, fallback)) << run.rawErr;
        EXPECT_EQ(c.source == "verified-certificate", hasLine(run, selected(c.profile))) << run.rawErr;
        EXPECT_EQ(reportedProfile(report), std::make_pair(c.profile, c.source));
        EXPECT_EQ(TestKit::readFile(package), before);
    }
}

TEST_F(ProfileChoiceTest, WithoutVerifySignerAnyCertificateIsStillBelieved)
{
    const std::string throwaway = signedCopy({{&m_pki.throwaway, 2}});
    const std::string report = m_dir / "report.jsonl";

    // What vetrik has always done, and why a pipeline must not rely on it.
    const auto unverified = m_vetrik({"--report", report, throwaway});
    EXPECT_TRUE(hasLine(unverified, selected("systemapp"))) << unverified.rawErr;
    EXPECT_EQ(reportedProfile(report), std::make_pair(std::string("systemapp"), std::string("unverified-certificate")));

    const auto named = m_vetrik({"-p", "extended", "--ca-bundle", m_pki.ca.certificate, "--report", report, throwaway});
    EXPECT_FALSE(hasLine(named, "Incorrect or empty profile name, trying to get profile from certificate..."));
    EXPECT_EQ(reportedProfile(report), std::make_pair(std::string("extended"), std::string("option")));

    // A mistyped -p goes to the certificate, which is then verified.
    const auto mistyped = m_vetrik({"-p", "systemap", "--verify-signer", "--ca-bundle", m_pki.ca.certificate,
                                    "--report", report, throwaway});
    EXPECT_TRUE(hasLine(mistyped, untrusted("unable to get local issuer certificate"))) << mistyped.rawErr;
    EXPECT_EQ(reportedProfile(report), std::make_pair(std::string("regular"), std::string("default")));

    const auto fallingBack = m_vetrik({"--report", report, signedCopy({})});
    EXPECT_TRUE(hasLine(fallingBack, fallback));
    EXPECT_EQ(reportedProfile(report), std::make_pair(std::string("regular"), std::string("default")));

    // --verify-signer alone trusts the library configuration's bundle.
    TestKit::writeFile(m_dir / "root/etc/torvel/torvel.conf", "[main]\nroot_ca_cert_path=" + m_pki.ca.certificate + "\n");
    TestKit::RunOptions configured;
    configured.env = {{"TORVEL_ROOTFS", m_dir / "root"}};
    const auto byConfiguration =
        m_vetrik({"--verify-signer", "--report", report, signedCopy({{&m_pki.developerMdm, 2}})}, configured);
    EXPECT_TRUE(hasLine(byConfiguration, selected("mdm"))) << byConfiguration.rawErr;
    EXPECT_EQ(reportedProfile(report), std::make_pair(std::string("mdm"), std::string("verified-certificate")));
}

TEST_F(ProfileChoiceTest, AnUnusableCaBundleEndsTheRunBeforeAnyPackage)
{
    const std::string package = signedCopy({{&m_pki.developerMdm, 2}});
    const std::string fifo = m_dir / "bundle.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TestKit::writeFile(m_dir / "empty.pem", "");
    TestKit::writeFile(m_dir / "text.pem", "certainly not PEM\n");
    const std::string controlName = m_dir / "bundle\x1b[2K.pem";
    TestKit::writeFile(m_dir / "root/etc/torvel/torvel.conf", "[main]\ndatabase_path=/x.db\n");
    TestKit::RunOptions unconfigured;
    unconfigured.env = {{"TORVEL_ROOTFS", m_dir / "root"}};

    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string line;
    };
    const std::vector<Case> cases {
        {"a missing bundle", {"--ca-bundle", m_dir / "none.pem"},
         "Cannot use the CA bundle \"" + m_dir / "none.pem" + "\": No such file or directory"},
        {"a named pipe", {"--ca-bundle", fifo}, "Cannot use the CA bundle \"" + fifo + "\": it is not a regular file"},
        {"a directory", {"--ca-bundle", m_dir.path()},
         "Cannot use the CA bundle \"" + m_dir.path() + "\": it is not a regular file"},
        {"an empty bundle", {"--ca-bundle", m_dir / "empty.pem"},
         "Cannot use the CA bundle \"" + m_dir / "empty.pem" + "\": it is empty"},
        {"a bundle that is not PEM", {"--verify-signer", "--ca-bundle", m_dir / "text.pem"},
         "Cannot use the CA bundle \"" + m_dir / "text.pem" + "\": it holds no PEM certificate"},
        {"a name with control characters", {"--ca-bundle", controlName},
         "Cannot use the CA bundle \"" + m_dir / "bundle\\x1b[2K.pem" + "\": No such file or directory"},
        {"no bundle configured", {"--verify-signer"},
         "Cannot use the CA bundle \"\": no CA bundle is configured (root_ca_cert_path); name one with --ca-bundle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments = c.options;
        arguments.push_back(package);
        TestKit::RunOptions options = unconfigured;
        options.timeoutSeconds = 30;
        const auto run = m_vetrik(arguments, options);
        EXPECT_FALSE(run.run.timedOut);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.findings, std::vector<std::string> {c.line}) << run.rawErr;
        EXPECT_TRUE(run.out.empty()) << run.out.front();
    }
}
