// vetrik choosing its profile from the developer certificate of a package,
// and the two reading steps behind that choice.

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
