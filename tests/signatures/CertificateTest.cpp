// Key and certificate readers, key ids, chain checks and certificate issuance,
// checked against the openssl command-line tool.

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "common/LibcHandles.h"

using namespace SignatureFixtures;
using namespace PackageSignatures;

namespace {

std::string gostKeyIdOf(const std::string& certificatePath)
{
    const std::string dir = certificatePath + ".d";
    TestKit::writeFile(dir + "/x", "");
    openssl({"x509", "-engine", "gost", "-in", certificatePath, "-pubkey", "-noout", "-out", dir + "/pub.pem"});
    openssl({"pkey", "-engine", "gost", "-pubin", "-in", dir + "/pub.pem", "-outform", "DER", "-out", dir + "/pub.der"});
    const std::string out = openssl({"dgst", "-engine", "gost", "-md_gost12_256", "-r", dir + "/pub.der"});
    return out.substr(0, out.find(' '));
}

std::string extensionsText(const std::string& certificatePath)
{
    const std::string text = openssl({"x509", "-engine", "gost", "-in", certificatePath, "-noout", "-text"});
    return text.substr(text.find("X509v3 extensions:"));
}

size_t position(const std::string& text, const std::string& what)
{
    const size_t found = text.find(what);
    EXPECT_NE(found, std::string::npos) << what << " in\n" << text;
    return found;
}

} // namespace

class IssuanceTest : public ::testing::Test {
protected:
    std::string rsaKey(const std::string& name)
    {
        const std::string path = m_dir / (name + ".key");
        openssl({"genrsa", "-out", path, "2048"});
        return path;
    }
    std::string gostKey(const std::string& name)
    {
        const std::string path = m_dir / (name + ".key");
        openssl({"genpkey", "-engine", "gost", "-algorithm", "gost2012_256", "-pkeyopt", "paramset:A", "-out", path});
        return path;
    }
    std::string request(const std::string& key, const std::string& commonName)
    {
        const std::string path = key + ".csr";
        openssl({"req", "-engine", "gost", "-new", "-key", key, "-subj", "/CN=" + commonName, "-out", path});
        return path;
    }

    TestKit::TempDir m_dir {"sigissue"};
};

TEST_F(IssuanceTest, IssuedCertificatesInteroperateWithOpenssl)
{
    for (const bool gost : {false, true}) {
        SCOPED_TRACE(gost ? "GOST R 34.10-2012" : "RSA");
        const std::string prefix = gost ? "gost" : "rsa";
        const std::string caKey = gost ? gostKey(prefix + "ca") : rsaKey(prefix + "ca");
        const std::string ca = m_dir / (prefix + "ca.pem");
        ASSERT_EQ(make_ca_certificate(ca.c_str(), caKey.c_str(), "Interop CA"), 0);
        const std::string userKey = gost ? gostKey(prefix + "user") : rsaKey(prefix + "user");
        const std::string user = m_dir / (prefix + "user.pem");
        ASSERT_EQ(make_certificate(user.c_str(), request(userKey, "Interop Developer").c_str(), caKey.c_str(),
                                   ca.c_str(), "developer:extended"),
                  0);

        EXPECT_NE(openssl({"verify", "-engine", "gost", "-purpose", "smimesign", "-CAfile", ca, user}).find(": OK"),
                  std::string::npos);

        const std::string caText = extensionsText(ca);
        EXPECT_LT(position(caText, "X509v3 Basic Constraints: critical\n                CA:TRUE"),
                  position(caText, "X509v3 Key Usage: critical\n                Certificate Sign, CRL Sign"));
        EXPECT_LT(position(caText, "X509v3 Key Usage"), position(caText, "X509v3 Subject Key Identifier"));
        EXPECT_EQ(caText.find("Authority Key Identifier"), std::string::npos);

        const std::string userText = extensionsText(user);
        const size_t keyUsage = position(userText, "X509v3 Key Usage: critical\n                Digital Signature");
        const size_t subjectKeyId = position(userText, "X509v3 Subject Key Identifier");
        const size_t authorityKeyId = position(userText, "X509v3 Authority Key Identifier");
        const size_t extendedKeyUsage =
            position(userText, "X509v3 Extended Key Usage: critical\n                E-mail Protection, 1.2.643.2.81.1.1.1");
        const size_t group = position(userText, "1.2.643.2.81.1.2.1:");
        EXPECT_LT(group, position(userText, "developer:extended"));
        EXPECT_LT(keyUsage, subjectKeyId);
        EXPECT_LT(subjectKeyId, authorityKeyId);
        EXPECT_LT(authorityKeyId, extendedKeyUsage);
        EXPECT_LT(extendedKeyUsage, group);

        const Certificate caCertificate = Certificate::readCertificateFromFile(ca.c_str());
        const Certificate userCertificate = Certificate::readCertificateFromFile(user.c_str());
        EXPECT_EQ(userCertificate.keyId(), gostKeyIdOf(user));
        EXPECT_EQ(caCertificate.keyId(), gostKeyIdOf(ca));
        EXPECT_TRUE(std::regex_match(userCertificate.keyId(), std::regex("[0-9a-f]{64}")));
        EXPECT_EQ(userCertificate.subject(), "Interop Developer");
        EXPECT_EQ(userCertificate.group(), GroupDeveloper);
        EXPECT_EQ(userCertificate.subgroup(), SubgroupExtended);
        EXPECT_TRUE(userCertificate.verify(ca.c_str()));
        // The authority key id is the CA's own key id.
        std::string printedKeyId;
        for (size_t i = 0; i < caCertificate.keyId().size(); i += 2)
            printedKeyId += (i ? ":" : "") + caCertificate.keyId().substr(i, 2);
        for (char& c : printedKeyId)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_GT(position(userText, printedKeyId), authorityKeyId);
    }
}

TEST_F(IssuanceTest, SerialsAndValidityFollowTheirLayout)
{
    const std::string key = rsaKey("serial");
    const std::string first = m_dir / "first.pem", second = m_dir / "second.pem";
    timespec before {};
    clock_gettime(CLOCK_REALTIME, &before);
    ASSERT_EQ(make_ca_certificate(first.c_str(), key.c_str(), "Serial CA"), 0);
    ASSERT_EQ(make_ca_certificate(second.c_str(), key.c_str(), "Serial CA"), 0);
    timespec after {};
    clock_gettime(CLOCK_REALTIME, &after);

    const std::string serialFirst = openssl({"x509", "-in", first, "-noout", "-serial"});
    const std::string serialSecond = openssl({"x509", "-in", second, "-noout", "-serial"});
    EXPECT_NE(serialFirst, serialSecond);
    // serial=<hex>: up to 40 digits, the last 16 being the time in
    // nanoseconds, little-endian.
    const std::string digits = serialFirst.substr(serialFirst.find('=') + 1, 40);
    ASSERT_GE(digits.size(), 17u);
    const std::string timeHex = digits.substr(digits.size() - 16);
    uint64_t nanoseconds = 0;
    for (int i = 7; i >= 0; --i)
        nanoseconds = nanoseconds << 8 | std::stoul(timeHex.substr(size_t(i) * 2, 2), nullptr, 16);
    const uint64_t start = uint64_t(before.tv_sec) * 1000000000u + uint64_t(before.tv_nsec);
    const uint64_t end = uint64_t(after.tv_sec) * 1000000000u + uint64_t(after.tv_nsec);
    EXPECT_GE(nanoseconds, start);
    EXPECT_LE(nanoseconds, end);

    const std::string text = openssl({"x509", "-in", first, "-noout", "-text"});
    EXPECT_NE(text.find("Version: 3 (0x2)"), std::string::npos);
    const std::string dates = openssl({"x509", "-in", first, "-noout", "-startdate", "-enddate"});
    EXPECT_EQ(TestKit::run({"openssl", "x509", "-in", first, "-noout", "-checkend", "756863000"}).exitCode, 0) << dates;
    EXPECT_NE(TestKit::run({"openssl", "x509", "-in", first, "-noout", "-checkend", "756865000"}).exitCode, 0) << dates;
}

TEST_F(IssuanceTest, CommonNamesUpTo255BytesAreAccepted)
{
    const std::string key = rsaKey("cn");
    const std::string longest(255, 'n');
    const std::string out = m_dir / "cn.pem";
    ASSERT_EQ(make_ca_certificate(out.c_str(), key.c_str(), longest.c_str()), 0);
    EXPECT_EQ(Certificate::readCertificateFromFile(out.c_str()).subject(), longest);

    const std::string tooLong(256, 'n');
    const std::string refused = m_dir / "refused.pem";
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_ca_certificate(refused.c_str(), key.c_str(), tooLong.c_str()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Common name is too long (max len is 255, got 256)\nCA certificate issuing failed\n");
    struct stat status;
    EXPECT_NE(stat(refused.c_str(), &status), 0);
}

TEST_F(IssuanceTest, FailuresNeverDestroyAnExistingOutput)
{
    const std::string caKey = rsaKey("keep");
    const std::string ca = m_dir / "keep.pem";
    ASSERT_EQ(make_ca_certificate(ca.c_str(), caKey.c_str(), "Keep CA"), 0);
    const std::string original = TestKit::readFile(ca);
    // Temporary files are made beside the output as .keep.pem.XXXXXX.
    const auto leftovers = [&] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            count += entry.path().filename().string().rfind(".keep.pem", 0) == 0;
        return count;
    };

    testing::internal::CaptureStderr();
    EXPECT_EQ(make_ca_certificate(ca.c_str(), (m_dir / "no.key").c_str(), "Keep CA"), -1);
    TestKit::writeFile(m_dir / "bad.key", "not a key\n");
    EXPECT_EQ(make_ca_certificate(ca.c_str(), (m_dir / "bad.key").c_str(), "Keep CA"), -1);
    EXPECT_EQ(make_ca_certificate(ca.c_str(), caKey.c_str(), std::string(300, 'x').c_str()), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "No such file or directory\n"
                   "Could not read private key (wrong passphrase?)\n"
                   "Common name is too long (max len is 255, got 300)\n"
                   "CA certificate issuing failed\n");
    EXPECT_EQ(TestKit::readFile(ca), original);

    // The same for an end-user certificate written over an existing file.
    const std::string userKey = rsaKey("keepuser");
    const std::string csr = request(userKey, "Keep User");
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_certificate(ca.c_str(), csr.c_str(), (m_dir / "bad.key").c_str(), ca.c_str(), "developer"), -1);
    EXPECT_EQ(make_certificate(ca.c_str(), (m_dir / "bad.key").c_str(), caKey.c_str(), ca.c_str(), "developer"), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TestKit::readFile(ca), original);
    EXPECT_EQ(leftovers(), 0);

    // And an output that can be replaced keeps its mode.
    chmod(ca.c_str(), 0640);
    ASSERT_EQ(make_ca_certificate(ca.c_str(), caKey.c_str(), "Keep CA"), 0);
    EXPECT_NE(TestKit::readFile(ca), original);
    struct stat status;
    ASSERT_EQ(stat(ca.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(IssuanceTest, EndUserIssuingChecksRequestAndAuthority)
{
    const Pki& pki = Pki::instance();
    const std::string userKey = rsaKey("checked");
    const std::string csr = request(userKey, "Checked");
    const std::string out = m_dir / "checked.pem";

    testing::internal::CaptureStderr();
    EXPECT_EQ(make_certificate(out.c_str(), (m_dir / "none.csr").c_str(), pki.ca.key.c_str(),
                               pki.ca.certificate.c_str(), nullptr),
              -1);
    EXPECT_EQ(make_certificate(out.c_str(), csr.c_str(), (m_dir / "none.key").c_str(), pki.ca.certificate.c_str(),
                               nullptr),
              -1);
    EXPECT_EQ(make_certificate(out.c_str(), csr.c_str(), pki.ca.key.c_str(), (m_dir / "none.pem").c_str(), nullptr),
              -1);
    EXPECT_EQ(make_certificate(out.c_str(), pki.ca.key.c_str(), pki.ca.key.c_str(), pki.ca.certificate.c_str(),
                               nullptr),
              -1);
    EXPECT_EQ(make_certificate(out.c_str(), csr.c_str(), pki.ca.key.c_str(), csr.c_str(), nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open CSR file: No such file or directory\n"
              "Could not open key file: No such file or directory\n"
              "Could not open CA certificate file: No such file or directory\n"
              "Could not parse CSR from PEM\n"
              "Could not read PEM CA certificate\n");

    // A request whose self-signature does not match its key: swap the key
    // bits of one request into another.
    const std::string otherCsr = request(rsaKey("other"), "Other");
    const std::string tamperedPath = m_dir / "tampered.csr";
    {
        const std::string one = openssl({"req", "-in", csr, "-outform", "DER", "-out", m_dir / "one.der"});
        (void)one;
        Bytes der = readBytes(m_dir / "one.der");
        der[der.size() - 10] ^= 0x01; // inside the signature
        writeBytes(m_dir / "tampered.der", der);
        openssl({"req", "-inform", "DER", "-in", m_dir / "tampered.der", "-out", tamperedPath});
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_certificate(out.c_str(), tamperedPath.c_str(), pki.ca.key.c_str(), pki.ca.certificate.c_str(),
                               nullptr),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "CSR signature verification failed\n");
    (void)otherCsr;

    // An end-user certificate is not its own authority.
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_certificate(out.c_str(), csr.c_str(), pki.developer.key.c_str(), pki.developer.certificate.c_str(),
                               nullptr),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "CA certificate signature verification failed\n");

    // Without a group the certificate cannot sign packages.
    ASSERT_EQ(make_certificate(out.c_str(), csr.c_str(), pki.ca.key.c_str(), pki.ca.certificate.c_str(), nullptr), 0);
    EXPECT_EQ(extensionsText(out).find("1.2.643.2.81.1.1.1"), std::string::npos);
    testing::internal::CaptureStderr();
    const Certificate certificate = Certificate::readCertificateFromFile(out.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Package signing not allowed (there is no corresponding extended key usage)\n");
    EXPECT_EQ(certificate.group(), GroupNone);
    EXPECT_EQ(certificate.subgroup(), SubgroupNone);
    EXPECT_TRUE(certificate.verify(pki.ca.certificate.c_str()));
}

TEST(CertificateReading, GroupNeedsThePackageSigningUsage)
{
    // A certificate with a group comment but no package-signing usage,
    // made entirely by openssl.
    TestKit::TempDir dir("siggroup");
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir / "k.pem", "-subj", "/CN=Sneaky",
             "-out", dir / "sneaky.pem", "-addext", "extendedKeyUsage=emailProtection", "-addext",
             "1.2.643.2.81.1.2.1=ASN1:IA5STRING:developer"});
    const Common::OpenSsl::X509Handle raw(certificate_read((dir / "sneaky.pem").c_str()));
    ASSERT_NE(raw, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(certificate_get_group(raw.get()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Package signing not allowed (there is no corresponding extended key usage)\n");
    const Common::Libc::CStringHandle subject(certificate_get_subject(raw.get()));
    EXPECT_STREQ(subject.get(), "Sneaky");
    const Common::Libc::CStringHandle keyId(certificate_get_keyid(raw.get()));
    ASSERT_NE(keyId, nullptr);
    EXPECT_EQ(std::strlen(keyId.get()), 40u); // openssl's SHA-1 "hash" method
}

TEST(CertificateReading, ReadersReportWhatFailed)
{
    TestKit::TempDir dir("sigreaders");
    TestKit::writeFile(dir / "junk.pem", "junk\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(certificate_read((dir / "none.pem").c_str()), nullptr);
    EXPECT_EQ(certificate_read((dir / "junk.pem").c_str()), nullptr);
    EXPECT_EQ(private_key_read((dir / "none.key").c_str(), nullptr), nullptr);
    EXPECT_EQ(private_key_read((dir / "junk.pem").c_str(), "x"), nullptr);
    EXPECT_EQ(certificate_store_read((dir / "none.pem").c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open certificate \"" + dir / "none.pem" + "\": No such file or directory\n"
              "Could not parse certificate \"" + dir / "junk.pem" + "\"\n"
              "Could not open private key \"" + dir / "none.key" + "\": No such file or directory\n"
              "Could not read private key \"" + dir / "junk.pem" + "\" (wrong passphrase?)\n"
              "Could not open certificate store \"" + dir / "none.pem" + "\": No such file or directory\n");

    testing::internal::CaptureStderr();
    const Certificate unreadable = Certificate::readCertificateFromFile((dir / "none.pem").c_str());
    EXPECT_FALSE(unreadable.verify(Pki::instance().ca.certificate.c_str()));
    EXPECT_TRUE(unreadable.toDer().empty());
    EXPECT_FALSE(unreadable.saveAsPem((dir / "out.pem").c_str()));
    const Certificate garbage = Certificate::fromDer(reinterpret_cast<const unsigned char*>("xx"), 2);
    EXPECT_EQ(garbage.x509(), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not encode X.509 certificate\n"), std::string::npos);
    EXPECT_NE(err.find("Could not save X.509 certificate\n"), std::string::npos);
    EXPECT_NE(err.find("Could not decode X.509 certificate\n"), std::string::npos);
}

TEST(CertificateReading, EncryptedKeysTakeTheirPassphrase)
{
    TestKit::TempDir dir("sigpass");
    openssl({"genrsa", "-aes256", "-passout", "pass:secret", "-out", dir / "enc.key", "2048"});
    EXPECT_NE(Common::OpenSsl::EvpPkeyHandle(private_key_read((dir / "enc.key").c_str(), "secret")), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(private_key_read((dir / "enc.key").c_str(), "wrong"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not read private key \"" + dir / "enc.key" + "\" (wrong passphrase?)\n");
}

TEST(CertificateReading, StoresHoldEveryCertificateOfABundle)
{
    const Pki& pki = Pki::instance();
    TestKit::TempDir dir("sigstore");
    TestKit::TempDir other("sigotherca");
    openssl({"genrsa", "-out", other / "ca.key", "2048"});
    ASSERT_EQ(make_ca_certificate((other / "ca.pem").c_str(), (other / "ca.key").c_str(), "Other CA"), 0);
    TestKit::writeFile(dir / "bundle.pem", TestKit::readFile(other / "ca.pem") + TestKit::readFile(pki.ca.certificate));
    const Certificate developer = Certificate::readCertificateFromFile(pki.developer.certificate.c_str());
    EXPECT_TRUE(developer.verify((dir / "bundle.pem").c_str()));
    EXPECT_FALSE(developer.verify((other / "ca.pem").c_str()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(developer.verify((dir / "none.pem").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open certificate store \"" + dir / "none.pem" + "\": No such file or directory\n");
}

TEST(CertificateReading, SavesPemAndDerCopies)
{
    const Pki& pki = Pki::instance();
    TestKit::TempDir dir("sigsave");
    const Certificate developer = Certificate::readCertificateFromFile(pki.developer.certificate.c_str());
    ASSERT_TRUE(developer.saveAsPem((dir / "copy.pem").c_str()));
    EXPECT_EQ(TestKit::readFile(dir / "copy.pem"), TestKit::readFile(pki.developer.certificate));
    const Bytes der = developer.toDer();
    const Certificate back = Certificate::fromDer(der.data(), der.size());
    EXPECT_EQ(back.keyId(), developer.keyId());
    Certificate copy(back);
    EXPECT_EQ(copy.subject(), "developer");
    copy = Certificate::readCertificateFromFile(pki.seclab.certificate.c_str());
    EXPECT_EQ(copy.group(), GroupSeclab);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(developer.saveAsPem((dir / "missing/dir/copy.pem").c_str()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("No such file or directory"), std::string::npos);
}
