// Library configuration and the system developer test that depends on it.

#include <cstdlib>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"

using namespace SignatureFixtures;
using PackageSignatures::Certificate;
using PackageSignatures::Configuration;

namespace {

// Points the default configuration at a root below the test's directory.
class ScopedRoot {
public:
    explicit ScopedRoot(const std::string& root) { setenv("TORVEL_ROOTFS", root.c_str(), 1); }
    ~ScopedRoot() { unsetenv("TORVEL_ROOTFS"); }
};

} // namespace

TEST(LibraryConfiguration, ReadsEveryKeyOfTheMainGroup)
{
    TestKit::TempDir dir("sigconf");
    TestKit::writeFile(dir / "torvel.conf", "[main]\n"
                                            "database_path=/var/lib/torvel/db.sqlite\n"
                                            "root_ca_cert_path=/etc/torvel/ca.pem\n"
                                            "revocation_conf=/etc/torvel/revoked.conf\n"
                                            "developermode_init_conf=/etc/devmode/init.conf\n"
                                            "developermode_runtime_conf=/run/devmode.conf\n"
                                            "system_developer_keyid_path=/etc/torvel/system\\skeyid\n"
                                            "[other]\ndatabase_path=/wrong\n");
    const Configuration configuration(dir / "torvel.conf");
    EXPECT_EQ(configuration.confPath(), dir / "torvel.conf");
    EXPECT_EQ(configuration.databasePath(), "/var/lib/torvel/db.sqlite");
    EXPECT_EQ(configuration.caPath(), "/etc/torvel/ca.pem");
    EXPECT_EQ(configuration.revocationConfPath(), "/etc/torvel/revoked.conf");
    EXPECT_EQ(configuration.developerModeInitialConfPath(), "/etc/devmode/init.conf");
    EXPECT_EQ(configuration.developerModeRuntimeConfPath(), "/run/devmode.conf");
    EXPECT_EQ(configuration.systemDeveloperKeyIdPath(), "/etc/torvel/system keyid"); // GLib unescapes

    // Values are read when asked for.
    TestKit::writeFile(dir / "partial.conf", "[main]\nroot_ca_cert_path=/ca.pem\n");
    const Configuration partial(dir / "partial.conf");
    EXPECT_EQ(partial.caPath(), "/ca.pem");
    EXPECT_EQ(partial.databasePath(), "");
    EXPECT_EQ(Configuration(dir / "missing.conf").caPath(), "");
    TestKit::writeFile(dir / "broken.conf", "this is not a key file\n");
    EXPECT_EQ(Configuration(dir / "broken.conf").caPath(), "");
}

TEST(LibraryConfiguration, DefaultLocationHonoursTheRootPrefix)
{
    unsetenv("TORVEL_ROOTFS");
    EXPECT_EQ(Configuration::defaultConfPath(), "/etc/torvel/torvel.conf");
    EXPECT_EQ(Configuration().confPath(), "/etc/torvel/torvel.conf");

    TestKit::TempDir dir("sigroot");
    TestKit::writeFile(dir / "etc/torvel/torvel.conf", "[main]\nroot_ca_cert_path=/inside/ca.pem\n");
    {
        // A root ending in a slash gives a double slash, which still opens.
        const ScopedRoot root(dir.path() + "/");
        EXPECT_EQ(Configuration().confPath(), dir.path() + "//etc/torvel/torvel.conf");
        EXPECT_EQ(Configuration().caPath(), "/inside/ca.pem");
        EXPECT_EQ(PackageSignatures::defaultCaPath(), "/inside/ca.pem");
    }
    const ScopedRoot root(dir.path());
    EXPECT_EQ(Configuration().caPath(), "/inside/ca.pem");
}

TEST(SystemDeveloperCertificate, ComparesWithTheFirstLineOfTheKeyIdFile)
{
    const Pki& pki = Pki::instance();
    TestKit::TempDir dir("sigsystem");
    const ScopedRoot root(dir.path());
    TestKit::writeFile(dir / "etc/torvel/torvel.conf", "[main]\nsystem_developer_keyid_path=" + dir / "keyid\n");
    const Certificate developer = Certificate::readCertificateFromFile(pki.developer.certificate.c_str());

    TestKit::writeFile(dir / "keyid", pki.developer.keyId + "\nsomething else\n");
    EXPECT_TRUE(developer.isSystemDeveloperCertificate());
    TestKit::writeFile(dir / "keyid", pki.developer.keyId);
    EXPECT_TRUE(developer.isSystemDeveloperCertificate());

    std::string upper = pki.developer.keyId;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    TestKit::writeFile(dir / "keyid", upper + "\n");
    EXPECT_FALSE(developer.isSystemDeveloperCertificate());
    TestKit::writeFile(dir / "keyid", pki.seclab.keyId + "\n");
    EXPECT_FALSE(developer.isSystemDeveloperCertificate());

    // A certificate that could not be read has no key id, and an empty
    // first line must not make it a system certificate.
    TestKit::writeFile(dir / "keyid", "\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Certificate::readCertificateFromFile((dir / "none.pem").c_str()).isSystemDeveloperCertificate());
    testing::internal::GetCapturedStderr();

    std::remove((dir / "keyid").c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(developer.isSystemDeveloperCertificate());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Couldn't retrieve system developer key id\n");
}
