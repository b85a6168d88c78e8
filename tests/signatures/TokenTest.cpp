// Keys in a hardware security module: a SoftHSM2 token made for the run
// (pkcs11-tool, RSA keys), copied for each test and reached through its
// own SOFTHSM2_CONF. Every command that takes a private key is given a
// pkcs11: URI, and what it made is checked with the openssl tool against
// the public keys read from the token.

#include <filesystem>
#include <map>
#include <thread>

#include <cstdlib>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "Vetrik.h"
#include "core/TokenPin.h"
#include "TorvelHandles.h"

using namespace SignatureFixtures;
using PackageSignatures::FileWithCmses;

namespace {

TestKit::RunResult torvel(const std::vector<std::string>& arguments,
                          const std::vector<std::pair<std::string, std::string>>& env = {})
{
    std::vector<std::string> argv {TORVEL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    TestKit::RunOptions options;
    options.env = env;
    // No terminal and nothing to read: a PIN prompt would fail or hang.
    options.unsetEnv = {"KEY_PASSPHRASE", "TA_KEY_PASSPHRASE"};
    options.timeoutSeconds = 60;
    return TestKit::run(argv, options);
}

std::string uri(const std::string& object, const std::string& rest = "")
{
    return std::string("pkcs11:token=") + tokenLabel + ";object=" + object + rest;
}

const std::string pinValue = std::string(";pin-value=") + tokenPin;
const std::pair<std::string, std::string> keyPin {"KEY_PASSPHRASE", tokenPin};
const std::pair<std::string, std::string> taKeyPin {"TA_KEY_PASSPHRASE", tokenPin};

const std::string taPath = "/usr/lib/optee_armtz/8aaaf200-2450-11e4-abe2-0002a5d5c51b.ta";

size_t blockCount(const std::string& path)
{
    return FileWithCmses::fromPath(path.c_str(), "r")->locateCmses().size();
}

} // namespace

class TokenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!softHsmInstalled())
            GTEST_SKIP() << "SoftHSM2 is not installed (" << softHsmModule << ")";
        ASSERT_FALSE(m_pki.token.empty()) << "the test set was made without its token";
        // A copy of the run's token per test: a wrong PIN tried here never
        // counts against another test's token.
        std::filesystem::copy(m_pki.token + "/store", m_dir / "store", std::filesystem::copy_options::recursive);
        TestKit::writeFile(m_dir / "softhsm2.conf", softHsmConfiguration(m_dir / "store"));
        setenv("SOFTHSM2_CONF", (m_dir / "softhsm2.conf").c_str(), 1);
        setenv("PKCS11_MODULE_PATH", softHsmModule, 1);
        m_developer = {uri("dev"), m_pki.token + "/dev.pem",
                       PackageSignatures::Certificate::readCertificateFromFile((m_pki.token + "/dev.pem").c_str()).keyId()};
    }

    // Two ordinary files, one of them hard-linked, and a trusted application.
    std::string package(const std::string& name)
    {
        TestKit::Package description;
        description.name = name;
        m_contents.insert({{"/usr/bin/" + name, "#!/bin/sh\necho " + name + "\n"},
                           {"/usr/share/" + name + "/data.txt", std::string(10000, 'd')},
                           {"/usr/share/" + name + "/link.txt", std::string(10000, 'd')},
                           {taPath, "trusted application image"}});
        description.entries = {TestKit::file("/usr/bin/" + name, m_contents["/usr/bin/" + name], 0755),
                               TestKit::file("/usr/share/" + name + "/data.txt", m_contents["/usr/share/" + name + "/data.txt"]),
                               TestKit::hardLink("/usr/share/" + name + "/link.txt", "/usr/share/" + name + "/data.txt"),
                               TestKit::file(taPath, m_contents[taPath])};
        return TestKit::buildRpm(description, m_dir.path());
    }

    std::vector<std::string> signArguments(const std::string& path, const std::string& key = uri("dev"),
                                           const std::string& taKey = uri("ta"))
    {
        return {"sign", "-k", key, "-c", m_developer.certificate, "--ta-key", taKey, path};
    }

    bool verifiesWithPublicKey(const std::string& publicKey, const Bytes& digest, const Bytes& signature)
    {
        writeBytes(m_dir / "digest", digest);
        writeBytes(m_dir / "signature", signature);
        const auto result = TestKit::run({"openssl", "pkeyutl", "-verify", "-pubin", "-inkey", publicKey, "-in",
                                          m_dir / "digest", "-sigfile", m_dir / "signature", "-pkeyopt",
                                          "digest:sha256"});
        return result.exitCode == 0 && result.out.find("Signature Verified Successfully") != std::string::npos;
    }

    // Every block with openssl cms -verify, and every file signature of the
    // developer's block with the public keys read from the token.
    void expectVerifiedWithTheToken(const std::string& path)
    {
        const size_t blocks = blockCount(path);
        ASSERT_GE(blocks, 1u);
        for (size_t i = 0; i < blocks; ++i) {
            const auto [der, covered] = blockAndCoveredBytes(path, i);
            EXPECT_TRUE(opensslVerifies(der, covered, m_pki.ca.certificate, m_dir.path())) << path << " block " << i;
        }
        const auto listed = TestKit::run({"rpm", "-qp", "--qf", "[%{FILENAMES}\\n]", path});
        const std::vector<std::string> files = TestKit::lines(listed.out);
        ASSERT_EQ(files.size(), 4u);
        const auto cms = FileWithCmses::fromPath(path)->cmses().at(0);
        ASSERT_EQ(cms.certificate()->keyId(), m_developer.keyId);
        for (size_t index = 0; index < files.size(); ++index) {
            SCOPED_TRACE(files[index]);
            const std::string& content = m_contents.at(files[index]);
            if (files[index] == taPath) {
                const Bytes text = cms.trustletSignature(int(index));
                Bytes header;
                for (size_t i = 0; i + 1 < text.size(); i += 2)
                    header.push_back(uint8_t(std::stoi(std::string(text.begin() + long(i), text.begin() + long(i) + 2),
                                                       nullptr, 16)));
                ASSERT_EQ(header.size(), 32 + 256 + 40u);
                EXPECT_TRUE(verifiesWithPublicKey(m_pki.token + "/ta.pub.pem", Bytes(header.begin() + 20, header.begin() + 52),
                                                  Bytes(header.begin() + 52, header.begin() + 52 + 256)));
                continue;
            }
            const Bytes value = cms.fileSignature(int(index));
            ASSERT_EQ(value.size(), 9 + 256u);
            TestKit::writeFile(m_dir / "content", content);
            openssl({"dgst", "-sha256", "-binary", "-out", m_dir / "content.sha256", m_dir / "content"});
            EXPECT_TRUE(verifiesWithPublicKey(m_pki.token + "/dev.pub.pem", readBytes(m_dir / "content.sha256"),
                                              Bytes(value.begin() + 9, value.end())));
        }
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigtoken"};
    Signer m_developer;
    std::map<std::string, std::string> m_contents;
};

TEST_F(TokenTest, SignsEveryBlockAndFileWithKeysInTheToken)
{
    const std::string path = package("com.example.token");
    const auto signedRun = torvel(signArguments(path), {keyPin, taKeyPin});
    ASSERT_EQ(signedRun.exitCode, 0) << signedRun.err;
    EXPECT_EQ(signedRun.err, "Signed ( 1 / 1 ) \"" + path + "\"\n");
    // A later block from a key file, over the token's block.
    const auto seclab = torvel({"sign", "-k", m_pki.seclab.key, "-c", m_pki.seclab.certificate, path});
    ASSERT_EQ(seclab.exitCode, 0) << seclab.err;
    ASSERT_EQ(blockCount(path), 2u);
    expectVerifiedWithTheToken(path);
    const auto verified = torvel({"verify", "-r", m_pki.ca.certificate, path});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
}

TEST_F(TokenTest, TakesThePinFromTheUriOrThePassphraseVariableAndFailsCleanly)
{
    const std::string pinFile = m_dir / "pin";
    TestKit::writeFile(pinFile, tokenPin);
    const std::string original = package("com.example.pins");
    const Bytes unsignedBytes = readBytes(original);
    const std::string shownDev = uri("dev");
    struct Case {
        std::string key;
        std::vector<std::pair<std::string, std::string>> env;
        std::string failure; // empty: signs
        std::string taKey = uri("ta");
    };
    const std::vector<Case> cases {
        {uri("dev", pinValue), {taKeyPin}, ""},
        {uri("dev", std::string("?pin-value=") + tokenPin), {taKeyPin}, ""},
        {uri("dev", ";pin-source=file:" + pinFile), {taKeyPin}, ""},
        {uri("dev"), {keyPin, taKeyPin}, ""},
        // The URI's PIN comes first.
        {uri("dev", pinValue), {{"KEY_PASSPHRASE", "9999"}, taKeyPin}, ""},
        {uri("dev"), {{"KEY_PASSPHRASE", "9999"}, taKeyPin},
         "Could not read private key \"" + shownDev + "\": PIN incorrect\n"},
        {uri("dev", ";pin-value=9999"), {taKeyPin},
         "Could not read private key \"" + shownDev + ";pin-value=***\": PIN incorrect\n"},
        {uri("dev"), {taKeyPin}, "Could not read private key \"" + shownDev + "\": the token needs a PIN and none was given\n"},
        {uri("nothing"), {keyPin, taKeyPin},
         "Could not read private key \"" + uri("nothing") + "\": object not found\n"},
        {"pkcs11:token=absent;object=dev", {keyPin, taKeyPin},
         "Could not read private key \"pkcs11:token=absent;object=dev\": object not found\n"},
        {uri("d\x1b[2Jev", pinValue), {taKeyPin},
         "Could not read private key \"" + uri("d\\x1b[2Jev", ";pin-value=***") + "\": object not found\n"},
        // No engine at all (OpenSSL looks for engines in OPENSSL_ENGINES).
        {uri("dev"), {keyPin, taKeyPin, {"OPENSSL_ENGINES", m_dir / "none"}},
         "The 'gost' engine isn't available\n"
         "Could not read private key \"" + shownDev + "\": the \"pkcs11\" engine is not available\n"},
        // The TA key fails as surely as the signing key. (Its PIN is not
        // checked again once the signing key has logged in to the token.)
        {uri("dev"), {keyPin, taKeyPin}, "Could not read private key \"" + uri("nothing") + "\": object not found\n",
         uri("nothing")},
        {m_pki.developer.key, {{"TA_KEY_PASSPHRASE", "9999"}},
         "Could not read private key \"" + uri("ta") + "\": PIN incorrect\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + " " + (c.env.empty() ? "" : c.env[0].first + "=" + c.env[0].second));
        const std::string path = m_dir / "pins.rpm";
        writeBytes(path, unsignedBytes);
        const auto run = torvel(signArguments(path, c.key, c.taKey), c.env);
        EXPECT_FALSE(run.timedOut);
        if (c.failure.empty()) {
            EXPECT_EQ(run.exitCode, 0) << run.err;
            EXPECT_EQ(blockCount(path), 1u);
        } else {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_EQ(run.err, c.failure);
            EXPECT_EQ(readBytes(path), unsignedBytes);
        }
    }
}

TEST_F(TokenTest, IssuesCertificatesWithTheCaKeyInTheToken)
{
    // makecertca and makecert read no passphrase variable: the PIN is in the URI.
    const std::string ca = m_dir / "ca.pem";
    const auto caRun = torvel({"makecertca", "-k", uri("ca", pinValue), "-c", "Token Root", "-o", ca});
    ASSERT_EQ(caRun.exitCode, 0) << caRun.err;
    EXPECT_EQ(openssl({"verify", "-CAfile", ca, ca}), ca + ": OK\n");
    // Its public key is the token's.
    openssl({"x509", "-in", ca, "-pubkey", "-noout", "-out", m_dir / "ca.pub.pem"});
    EXPECT_EQ(TestKit::readFile(m_dir / "ca.pub.pem"), TestKit::readFile(m_pki.token + "/ca.pub.pem"));

    const std::string csr = m_dir / "user.csr";
    openssl({"req", "-new", "-key", m_pki.developer.key, "-subj", "/CN=token issued", "-out", csr});
    const std::string user = m_dir / "user.pem";
    const auto userRun = torvel({"makecert", "-i", csr, "-k", uri("ca", pinValue), "-c", ca, "-g", "developer", "-o", user});
    ASSERT_EQ(userRun.exitCode, 0) << userRun.err;
    EXPECT_EQ(openssl({"verify", "-CAfile", ca, "-purpose", "smimesign", user}), user + ": OK\n");
    // And it signs packages that verify against the token's CA.
    const std::string path = package("com.example.issued");
    ASSERT_EQ(torvel({"sign", "-k", m_pki.developer.key, "-c", user, "--ta-key", m_pki.taKey, path}).exitCode, 0);
    EXPECT_EQ(torvel({"verify", "-r", ca, path}).exitCode, 0);

    // A wrong PIN or a missing key leaves the outputs as they were.
    const std::string userBefore = TestKit::readFile(user);
    const struct {
        std::vector<std::string> arguments;
        std::string out;
        std::string failure;
    } failures[] = {
        {{"makecertca", "-k", uri("ca", ";pin-value=0000"), "-c", "Token Root", "-o", m_dir / "new.pem"},
         m_dir / "new.pem",
         "Could not read private key \"" + uri("ca", ";pin-value=***") + "\": PIN incorrect\n"
         "Could not issue CA certificate: " + m_dir / "new.pem" + "\n"},
        {{"makecert", "-i", csr, "-k", uri("nothing", pinValue), "-c", ca, "-g", "developer", "-o", user}, user,
         "Could not read private key \"" + uri("nothing", ";pin-value=***") + "\": object not found\n"
         "Could not issue end-user certificate: " + user + "\n"},
        {{"makecert", "-i", csr, "-k", uri("ca"), "-c", ca, "-g", "developer", "-o", user}, user,
         "Could not read private key \"" + uri("ca") + "\": the token needs a PIN and none was given\n"
         "Could not issue end-user certificate: " + user + "\n"},
    };
    for (const auto& f : failures) {
        const auto run = torvel(f.arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, f.failure);
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir / "new.pem"));
    EXPECT_EQ(TestKit::readFile(user), userBefore);
}

TEST_F(TokenTest, RotatesFromAKeyInTheToken)
{
    const std::string chain = m_dir / "chain.pem";
    const auto rotated = torvel({"rotate", "--old-key", uri("dev", pinValue), "--old-cert", m_developer.certificate,
                                 "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate,
                                 "-o", chain});
    ASSERT_EQ(rotated.exitCode, 0) << rotated.err;
    const Common::Torvel::ProofOfRotationChainHandle read(ProofOfRotationChain_read(chain.c_str()));
    ASSERT_TRUE(read);
    EXPECT_EQ(ProofOfRotationChain_verify(read.get()), 1);

    const std::string path = package("com.example.rotated");
    const auto signedRun = torvel({"sign", "-k", m_pki.developerMdm.key, "-c", m_pki.developerMdm.certificate,
                                   "--ta-key", m_pki.taKey, "-r", chain, path});
    ASSERT_EQ(signedRun.exitCode, 0) << signedRun.err;
    const auto dump = torvel({"dump", path});
    EXPECT_EQ(dump.out.rfind("\tRotation: " + m_developer.keyId + " -> " + m_pki.developerMdm.keyId + "\n", 0), 0u)
        << dump.out;
    EXPECT_EQ(torvel({"verify", "-r", m_pki.ca.certificate, path}).exitCode, 0);

    const auto refused = torvel({"rotate", "--old-key", uri("dev", ";pin-value=0000"), "--old-cert",
                                 m_developer.certificate, "--new-key", m_pki.developerMdm.key, "--new-cert",
                                 m_pki.developerMdm.certificate, "-o", m_dir / "refused.pem"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "Could not read private key \"" + uri("dev", ";pin-value=***")
                               + "\": PIN incorrect\nCould not create proof-of-rotation chain: " + m_dir / "refused.pem"
                               + "\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "refused.pem"));
}

TEST_F(TokenTest, SignsSeveralPackagesInParallelWithOneTokenKey)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(package("com.example.parallel" + std::to_string(i)));
    std::vector<std::string> arguments {"sign", "--jobs", "2", "-k", uri("dev"), "-c", m_developer.certificate,
                                        "--ta-key", uri("ta")};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const auto run = torvel(arguments, {keyPin, taKeyPin});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(TestKit::lines(run.err).size(), paths.size()) << run.err;
    for (const std::string& path : paths) {
        EXPECT_EQ(blockCount(path), 1u);
        expectVerifiedWithTheToken(path);
    }

    // One package with the whole budget: its files are signed on several
    // threads with the token key while the TA key of the same token signs
    // on the thread that digests the payload.
    const std::string single = package("com.example.threads");
    const auto threaded = torvel({"sign", "--jobs", "3", "-k", uri("dev"), "-c", m_developer.certificate, "--ta-key",
                                  uri("ta"), single},
                                 {keyPin, taKeyPin});
    ASSERT_EQ(threaded.exitCode, 0) << threaded.err;
    expectVerifiedWithTheToken(single);

    // The same through the library, two threads on one token key at once.
    Common::OpenSsl::EvpPkeyHandle key(private_key_read(uri("dev").c_str(), tokenPin));
    Common::OpenSsl::EvpPkeyHandle taKey(private_key_read(uri("ta", pinValue).c_str(), nullptr));
    const Common::OpenSsl::X509Handle certificate(certificate_read(m_developer.certificate.c_str()));
    ASSERT_TRUE(key && taKey && certificate);
    for (const std::string& path : paths)
        ASSERT_TRUE(FileWithCmses::fromPath(path)->deleteCmses(false));
    std::vector<std::thread> threads;
    std::vector<int> signedOk(paths.size(), 0);
    for (size_t i = 0; i < paths.size(); ++i)
        threads.emplace_back([&, i] {
            signedOk[i] = FileWithCmses::fromPath(paths[i])->sign(certificate.get(), key.get(), taKey.get(),
                                                                   TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256, nullptr,
                                                                   false, true, true);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(signedOk[i], 1) << paths[i];
        expectVerifiedWithTheToken(paths[i]);
    }
}

TEST_F(TokenTest, TokenSettingsThatAreNotRegularFilesFailAtOnce)
{
    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string path = package("com.example.settings");
    const Bytes unsignedBytes = readBytes(path);
    const std::string chain = m_dir / "chain.pem";
    const std::string ca = m_dir / "ca.pem";
    const auto commands = [&](const std::string& key) {
        return std::vector<std::vector<std::string>> {
            {"sign", "-k", key, "-c", m_developer.certificate, "--ta-key", m_pki.taKey, path},
            {"makecertca", "-k", key, "-c", "Token Root", "-o", ca},
            {"rotate", "--old-key", key, "--old-cert", m_developer.certificate, "--new-key", m_pki.developerMdm.key,
             "--new-cert", m_pki.developerMdm.certificate, "-o", chain},
        };
    };
    const std::vector<std::string> closing {"", "Could not issue CA certificate: " + ca + "\n",
                                            "Could not create proof-of-rotation chain: " + chain + "\n"};
    struct Case {
        std::string key;
        std::vector<std::pair<std::string, std::string>> env;
        std::string reason;
    };
    const std::vector<Case> cases {
        {uri("dev", ";pin-source=file:" + fifo), {}, "the PIN file \"" + fifo + "\" cannot be read: not a regular file"},
        // Without "file:" the engine takes the value for a path too.
        {uri("dev", ";pin-source=" + fifo), {}, "the PIN file \"" + fifo + "\" cannot be read: not a regular file"},
        {uri("dev", "?pin-source=file:" + fifo), {}, "the PIN file \"" + fifo + "\" cannot be read: not a regular file"},
        {uri("dev", ";pin-source=file:" + m_dir.path()), {},
         "the PIN file \"" + m_dir.path() + "\" cannot be read: not a regular file"},
        {uri("dev", pinValue), {{"PKCS11_MODULE_PATH", fifo}}, "PKCS11_MODULE_PATH \"" + fifo + "\": not a regular file"},
        {uri("dev", pinValue), {{"PKCS11_MODULE_PATH", "libsofthsm2.so"}},
         "PKCS11_MODULE_PATH \"libsofthsm2.so\" is not a path (the module is loaded from its path only)"},
    };
    for (const Case& c : cases) {
        // As printed: a PIN in the URI is hidden.
        std::string shown = c.key;
        if (const size_t pin = shown.find(pinValue); pin != std::string::npos)
            shown.replace(pin, pinValue.size(), ";pin-value=***");
        const auto runs = commands(c.key);
        for (size_t i = 0; i < runs.size(); ++i) {
            SCOPED_TRACE(runs[i].front() + " with " + c.key + (c.env.empty() ? "" : " " + c.env[0].second));
            TestKit::RunOptions options;
            options.env = c.env;
            options.unsetEnv = {"KEY_PASSPHRASE", "TA_KEY_PASSPHRASE"};
            // Generous: a command that waits on the FIFO fails by timing out.
            options.timeoutSeconds = 30;
            std::vector<std::string> argv {TORVEL_PATH};
            argv.insert(argv.end(), runs[i].begin(), runs[i].end());
            const auto run = TestKit::run(argv, options);
            EXPECT_FALSE(run.timedOut);
            EXPECT_EQ(run.exitCode, 1);
            const std::string line = "Could not read private key \"" + shown + "\": " + c.reason + "\n";
            EXPECT_EQ(run.err, line + closing[i]);
        }
        EXPECT_EQ(readBytes(path), unsignedBytes);
        EXPECT_FALSE(std::filesystem::exists(ca));
        EXPECT_FALSE(std::filesystem::exists(chain));
    }
}

TEST_F(TokenTest, ReadsThePinFileItselfAndTakesItsFirstLine)
{
    // A PIN with every character that means something in a URI.
    const std::string pin = "1;2%3&4?5 6";
    TestKit::RunOptions options;
    options.env = {{"SOFTHSM2_CONF", m_dir / "softhsm2.conf"}};
    const auto changed = TestKit::run({"pkcs11-tool", "--module", softHsmModule, "--token-label", tokenLabel, "--login",
                                       "--pin", tokenPin, "--change-pin", "--new-pin", pin},
                                      options);
    ASSERT_EQ(changed.exitCode, 0) << changed.out << changed.err;
    const std::string pinFile = m_dir / "pin file";
    TestKit::writeFile(pinFile, pin + "\nnot the PIN\n");
    const std::string crlfFile = m_dir / "crlf";
    TestKit::writeFile(crlfFile, pin + "\r\n");
    const std::string bigFile = m_dir / "big";
    TestKit::writeFile(bigFile, pin + "\n" + std::string(PackageSignatures::pinFileLimit, '#'));
    struct Case {
        std::string source;
        std::string failure; // empty: issues the certificate
    };
    const std::vector<Case> cases {
        {"file:" + pinFile, ""},
        {pinFile, ""},
        {"FILE:" + crlfFile, ""},
        // The value is percent-decoded, as the engine decodes it.
        {"file:" + (m_dir / "pin%20file"), ""},
        {"file:" + bigFile, "the PIN file \"" + bigFile + "\" cannot be read: file too large"},
        {"file:" + (m_dir / "missing"), "the PIN file \"" + (m_dir / "missing") + "\" cannot be read: No such file or directory"},
        {"|cat " + pinFile, "the pin-source \"|cat " + pinFile + "\" is a command, and only files are read"},
        {"file:%4", "the pin-source \"file:%4\" is not percent-encoded correctly"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string ca = m_dir / "ca.pem";
        std::filesystem::remove(ca);
        const std::string key = uri("ca", ";pin-source=" + c.source);
        const auto run = torvel({"makecertca", "-k", key, "-c", "Token Root", "-o", ca});
        EXPECT_FALSE(run.timedOut);
        if (c.failure.empty()) {
            EXPECT_EQ(run.exitCode, 0) << run.err;
            if (run.exitCode == 0) {
                EXPECT_EQ(openssl({"verify", "-CAfile", ca, ca}), ca + ": OK\n");
            }
        } else {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_EQ(run.err, "Could not read private key \"" + key + "\": "
                                   + c.failure + "\nCould not issue CA certificate: " + ca + "\n");
        }
    }
}

TEST_F(TokenTest, SignsWithOneTokenObjectAsBothKeys)
{
    // The engine hands out the key read first again for the second read.
    const std::string path = package("com.example.samekey");
    const auto run = torvel({"sign", "-k", uri("dev"), "-c", m_developer.certificate, "--ta-key", uri("dev"), path},
                            {keyPin, taKeyPin});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "Signed ( 1 / 1 ) \"" + path + "\"\n");
    ASSERT_EQ(blockCount(path), 1u);
    const auto [der, covered] = blockAndCoveredBytes(path, 0);
    EXPECT_TRUE(opensslVerifies(der, covered, m_pki.ca.certificate, m_dir.path()));
    const auto verified = torvel({"verify", "-r", m_pki.ca.certificate, path});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;

    // Through the library, in one process: both handles free the one key.
    Common::OpenSsl::EvpPkeyHandle key(private_key_read(uri("dev").c_str(), tokenPin));
    Common::OpenSsl::EvpPkeyHandle again(private_key_read(uri("dev").c_str(), tokenPin));
    ASSERT_TRUE(key && again);
    key.reset();
    const Common::OpenSsl::X509Handle certificate(certificate_read(m_developer.certificate.c_str()));
    ASSERT_TRUE(FileWithCmses::fromPath(path)->deleteCmses(false));
    EXPECT_EQ(FileWithCmses::fromPath(path)->sign(certificate.get(), again.get(), again.get(),
                                                  TA_ALGORITHM_RSASSA_PKCS1_V1_5_SHA256, nullptr, false, true, true),
              1);
    EXPECT_EQ(torvel({"verify", "-r", m_pki.ca.certificate, path}).exitCode, 0);
}
