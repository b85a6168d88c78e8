// torvel saying why: the reason line before each refusal's own unchanged
// line, verify naming the failing block under --verbose and --json (checked
// against the JSON Schemas in signtool/schemas), info's exit status, and the
// warning of sign -f about other signers' blocks it removes.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "JsonSchemaCheck.h"
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

std::vector<std::string> signArguments(const Signer& signer, const std::string& path,
                                       const std::vector<std::string>& rest = {})
{
    std::vector<std::string> arguments {"sign", "-k", signer.key, "-c", signer.certificate};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    arguments.push_back(path);
    return arguments;
}

const std::string verifySchema = std::string(TORVEL_SCHEMA_DIR) + "/torvel-verify.schema.json";
const std::string dumpSchema = std::string(TORVEL_SCHEMA_DIR) + "/torvel-dump.schema.json";

bool hasOpensslErrorLine(const std::string& text)
{
    return text.find(":error:") != std::string::npos;
}

void flipByte(const std::string& path, int64_t offset)
{
    Bytes bytes = readBytes(path);
    bytes.at(size_t(offset)) ^= 0x01;
    writeBytes(path, bytes);
}

} // namespace

class TorvelReasonsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TestKit::TempDir("sigreasonsbase");
        TestKit::Package description;
        description.name = "com.example.reasons";
        description.entries = {TestKit::file("/usr/share/com.example.reasons/data.txt", "data\n")};
        s_package = TestKit::buildRpm(description, s_dir->path());
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    // A copy of the package signed by these signers, in order, with torvel.
    std::string signedCopy(const std::string& name, const std::vector<const Signer*>& signers)
    {
        const std::string path = m_dir / name;
        std::filesystem::copy_file(s_package, path, std::filesystem::copy_options::overwrite_existing);
        for (const Signer* signer : signers) {
            const auto run = torvel(signArguments(*signer, path));
            if (run.exitCode != 0)
                throw std::runtime_error("could not sign " + name + ": " + run.err);
        }
        return path;
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigreasons"};
    static TestKit::TempDir* s_dir;
    static std::string s_package;
};

TestKit::TempDir* TorvelReasonsTest::s_dir = nullptr;
std::string TorvelReasonsTest::s_package;

TEST_F(TorvelReasonsTest, EveryRefusalSaysWhyJustBeforeItsOwnLine)
{
    const std::string chain = m_dir / "chain.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                      "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate, "-o", chain})
                  .exitCode,
              0);
    openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", m_dir / "user.key", "-subj", "/CN=User",
             "-out", m_dir / "user.csr"});
    const std::string missing = m_dir / "missing.rpm";

    struct Case {
        const char* what;
        // Makes what the case needs and gives the arguments.
        std::function<std::vector<std::string>()> arrange;
        std::string reason;
        std::string ownLine; // the command's line of old, last
        std::string unchanged = {}; // a file the refusal must leave as it was
    };
    const auto p = [&](const char* name) { return m_dir / name; };
    const std::vector<Case> cases {
        {"a developer after a laboratory",
         [&] { return signArguments(m_pki.developer, signedCopy("lab.rpm", {&m_pki.developer, &m_pki.seclab})); },
         "\"" + p("lab.rpm") + "\": a developer signs only a package without signature blocks, and it has 2 blocks: "
                               "1 developer \"developer\", 2 seclab \"seclab\" (-f replaces them)",
         "Could not sign \"" + p("lab.rpm") + "\"", p("lab.rpm")},
        {"a laboratory without a developer",
         [&] { return signArguments(m_pki.seclab, signedCopy("bare.rpm", {})); },
         "\"" + p("bare.rpm") + "\": a seclab signs only after the developer, and the package has no signature blocks",
         "Could not sign \"" + p("bare.rpm") + "\"", p("bare.rpm")},
        {"anyone after a developer and a client",
         [&] { return signArguments(m_pki.seclab, signedCopy("client.rpm", {&m_pki.developer, &m_pki.client})); },
         "\"" + p("client.rpm") + "\": no one may sign after a developer and a client; the package has 2 blocks: "
                                  "1 developer \"developer\", 2 client \"client\"",
         "Could not sign \"" + p("client.rpm") + "\"", p("client.rpm")},
        {"a fourth block",
         [&] {
             return signArguments(m_pki.seclab,
                                  signedCopy("full.rpm", {&m_pki.developer, &m_pki.seclab, &m_pki.client}));
         },
         "\"" + p("full.rpm") + "\": the package already has 3 blocks: 1 developer \"developer\", 2 seclab "
                                "\"seclab\", 3 client \"client\", and three is the most",
         "Could not sign \"" + p("full.rpm") + "\"", p("full.rpm")},
        {"a key that does not match its certificate",
         [&] {
             return std::vector<std::string> {"sign", "-k", m_pki.seclab.key, "-c", m_pki.developer.certificate,
                                              signedCopy("mismatch.rpm", {})};
         },
         "\"" + p("mismatch.rpm") + "\": the key does not match the certificate \"developer\": they hold different "
                                    "public keys",
         "Could not sign \"" + p("mismatch.rpm") + "\"", p("mismatch.rpm")},
        {"a CA certificate",
         [&] { return signArguments(m_pki.ca, signedCopy("ca.rpm", {})); },
         "\"" + p("ca.rpm") + "\": the certificate \"Test Root CA\" has no extended key usage, so it may not sign "
                              "packages (it is a CA certificate, which issues certificates)",
         "Could not sign \"" + p("ca.rpm") + "\"", p("ca.rpm")},
        {"a certificate without the package-signing usage",
         [&] { return signArguments(m_pki.noGroup, signedCopy("nogroup.rpm", {})); },
         "\"" + p("nogroup.rpm") + "\": the certificate \"nogroup\" lacks the package-signing extended key usage",
         "Could not sign \"" + p("nogroup.rpm") + "\"", p("nogroup.rpm")},
        {"verify without blocks",
         [&] { return std::vector<std::string> {"verify", "-r", m_pki.ca.certificate, signedCopy("none.rpm", {})}; },
         "The package has no signature blocks to verify", "Could not verify signatures for \"" + p("none.rpm") + "\""},
        {"verify with a bundle that is not there",
         [&] {
             return std::vector<std::string> {"verify", "-r", p("nobundle.pem"),
                                              signedCopy("nobundle.rpm", {&m_pki.developer})};
         },
         "Could not open certificate store \"" + p("nobundle.pem") + "\": No such file or directory",
         "Could not verify signatures for \"" + p("nobundle.rpm") + "\""},
        {"delete of a file that is not there", [&] { return std::vector<std::string> {"delete", missing}; },
         "\"" + missing + "\" cannot be read: No such file or directory", "Could not open file \"" + missing + "\""},
        {"rotate with an old key that is not the old certificate's",
         [&] {
             return std::vector<std::string> {"rotate", "--old-key", m_pki.seclab.key, "--old-cert",
                                              m_pki.developer.certificate, "--new-key", m_pki.developerMdm.key,
                                              "--new-cert", m_pki.developerMdm.certificate, "-o", p("out.pem")};
         },
         "The old key does not match the old certificate \"" + m_pki.developer.certificate + "\"",
         "Could not create proof-of-rotation chain: " + p("out.pem")},
        {"rotate on from a key the chain does not end with",
         [&] {
             return std::vector<std::string> {"rotate", "--old-key", m_pki.stranger.key, "--old-cert",
                                              m_pki.stranger.certificate, "--new-key", m_pki.secondDeveloper.key,
                                              "--new-cert", m_pki.secondDeveloper.certificate, "-p", chain, "-o",
                                              p("out.pem")};
         },
         "The chain \"" + chain + "\" ends with the key " + m_pki.developerMdm.keyId
             + ", not with the old certificate's key " + m_pki.stranger.keyId
             + "; a rotation continues from the newest key of the chain",
         "Could not create proof-of-rotation chain: " + p("out.pem"), chain},
        {"makecertca with a key that is not there",
         [&] { return std::vector<std::string> {"makecertca", "-k", p("none.key"), "-c", "X", "-o", p("ca2.pem")}; },
         "The CA key \"" + p("none.key") + "\" cannot be read: No such file or directory",
         "Could not issue CA certificate: " + p("ca2.pem")},
        {"makecert with a CA certificate that is not there",
         [&] {
             return std::vector<std::string> {"makecert", "-i", p("user.csr"), "-k", m_pki.ca.key, "-c",
                                              p("none.pem"), "-g", "developer", "-o", p("user.pem")};
         },
         "The CA certificate \"" + p("none.pem") + "\" cannot be read: No such file or directory",
         "Could not issue end-user certificate: " + p("user.pem")},
        {"makecert with an unknown group",
         [&] {
             return std::vector<std::string> {"makecert", "-i", p("user.csr"), "-k", m_pki.ca.key, "-c",
                                              m_pki.ca.certificate, "-g", "vendor", "-o", p("user.pem")};
         },
         "The group must be developer (alone, or with one of the subgroups antivirus, extended, mdm, auth, market, "
         "systemapp and substitutecomponent after a colon), seclab or client",
         "Unknown group: vendor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> arguments = c.arrange();
        const Bytes before = c.unchanged.empty() ? Bytes() : readBytes(c.unchanged);
        const auto result = torvel(arguments);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        const std::vector<std::string> lines = TestKit::lines(result.err);
        ASSERT_GE(lines.size(), 2u) << result.err;
        EXPECT_EQ(lines.back(), c.ownLine) << result.err;
        EXPECT_EQ(lines[lines.size() - 2], c.reason) << result.err;
        EXPECT_FALSE(hasOpensslErrorLine(result.err)) << result.err;
        if (!c.unchanged.empty()) {
            EXPECT_EQ(readBytes(c.unchanged), before);
        }
    }
}

TEST_F(TorvelReasonsTest, VerifyNamesTheFailingBlockAndWhyInTextAndJson)
{
    const std::string chain = m_dir / "chain.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                      "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate, "-o", chain})
                  .exitCode,
              0);
    const std::string otherBundle = m_pki.otherCa.certificate;
    // A block appended by hand: the DER as given, behind a version-2 trailer.
    const auto withBlock = [&](const std::string& name, const Bytes& der) {
        const std::string path = signedCopy(name, {});
        appendBytes(path, blockV2(der));
        return path;
    };

    struct Expected {
        size_t position; // 1 for the first block
        std::string code;
        std::string reasonStart; // the plain words the reason begins with
    };
    struct Case {
        const char* what;
        std::function<std::string()> arrange; // gives the package
        std::string bundle;
        size_t blocks;
        std::vector<Expected> failures; // each failing block's first problem
        bool opensslFails;              // whether OpenSSL's CMS check has something to say
    };
    const std::vector<Case> cases {
        {"a changed byte of the package",
         [&] {
             const std::string path = signedCopy("package.rpm", {&m_pki.developer, &m_pki.seclab});
             flipByte(path, 200);
             return path;
         },
         m_pki.ca.certificate, 2, {{1, "covered-bytes-changed", "the covered bytes changed"}}, true},
        {"a changed byte of the developer's signature",
         [&] {
             const std::string path = signedCopy("signature.rpm", {&m_pki.developer, &m_pki.seclab});
             const auto blocks = FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
             flipByte(path, blocks.at(0).end - 1);
             return path;
         },
         m_pki.ca.certificate, 2,
         {{1, "signature-mismatch", "signature does not match"}, {2, "covered-bytes-changed", "the previous block changed"}},
         true},
        {"a bundle of another CA", [&] { return signedCopy("otherca.rpm", {&m_pki.developer}); }, otherBundle, 1,
         {{1, "unknown-issuer", "unknown issuer"}}, true},
        {"a developer of a throwaway CA", [&] { return signedCopy("throwaway.rpm", {&m_pki.throwaway}); },
         m_pki.ca.certificate, 1, {{1, "unknown-issuer", "unknown issuer"}}, true},
        {"an expired certificate", [&] { return signedCopy("expired.rpm", {&m_pki.expired}); }, m_pki.ca.certificate,
         1, {{1, "certificate-expired", "expired: its certificate was valid until"}}, true},
        {"a laboratory's block first",
         [&] { return withBlock("seclabfirst.rpm", opensslCmsSign(s_package, m_pki.seclab)); }, m_pki.ca.certificate,
         1, {{1, "misplaced-signer", "misplaced signer: a seclab may not sign block 1"}}, false},
        {"a block of a certificate without the usage",
         [&] { return withBlock("nogroup.rpm", opensslCmsSign(s_package, m_pki.noGroup)); }, m_pki.ca.certificate, 1,
         {{1, "no-package-signing-usage", "not a package signer"}}, false},
        {"a malformed block", [&] { return withBlock("malformed.rpm", Bytes {0x30, 0x03, 0x02, 0x01, 0x00}); },
         m_pki.ca.certificate, 1, {{1, "not-cms", "malformed or truncated"}}, false},
        {"a truncated block",
         [&] {
             Bytes der = opensslCmsSign(s_package, m_pki.developer);
             der.resize(der.size() - 40);
             return withBlock("truncated.rpm", der);
         },
         m_pki.ca.certificate, 1, {{1, "not-cms", "malformed or truncated"}}, false},
        {"a chain that does not end with the signer",
         [&] {
             // torvel refuses to sign so; a block made elsewhere may be.
             const PackageSignatures::RotationChain rotations = PackageSignatures::RotationChain::fromFile(chain.c_str());
             return withBlock("chain.rpm",
                              cmsWithAttributes(readBytes(s_package), m_pki.developer, {{"rotationChain", rotations.der()}}));
         },
         m_pki.ca.certificate, 1,
         {{1, "rotation-key-mismatch", "its proof-of-rotation chain does not end with its signer's key"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.arrange();

        // The library's two checks agree on the verdict.
        testing::internal::CaptureStderr();
        const auto file = FileWithCmses::fromPath(path.c_str(), "r");
        EXPECT_FALSE(file->verifyCmses(c.bundle.c_str()));
        testing::internal::GetCapturedStderr();
        const PackageSignatures::PackageVerification inspected = file->inspect(c.bundle.c_str());
        EXPECT_FALSE(inspected.verified());

        const auto plain = torvel({"verify", "-r", c.bundle, path});
        EXPECT_EQ(plain.exitCode, 1);
        EXPECT_FALSE(hasOpensslErrorLine(plain.err)) << plain.err;
        const std::vector<std::string> lines = TestKit::lines(plain.err);
        ASSERT_EQ(lines.size(), c.failures.size() + 1) << plain.err;
        EXPECT_EQ(lines.back(), "Could not verify signatures for \"" + path + "\"");

        const auto verbose = torvel({"verify", "--verbose", "-r", c.bundle, path});
        EXPECT_EQ(verbose.exitCode, 1);
        EXPECT_EQ(hasOpensslErrorLine(verbose.err), c.opensslFails) << verbose.err;
        EXPECT_EQ(TestKit::lines(verbose.err).back(), lines.back());
        EXPECT_NE(verbose.out.find("Package \"" + path + "\": " + std::to_string(c.blocks)), std::string::npos)
            << verbose.out;

        const auto json = torvel({"verify", "--json", "-r", c.bundle, path});
        EXPECT_EQ(json.exitCode, 1);
        EXPECT_EQ(schemaViolations(verifySchema, json.out), std::vector<std::string>()) << json.out;
        const boost::json::value document = boost::json::parse(json.out);
        const boost::json::object& package = document.at("packages").as_array().at(0).as_object();
        EXPECT_EQ(package.at("verified"), false);
        EXPECT_EQ(package.at("failure").at("code"), "block-failed");
        const boost::json::array& blocks = package.at("blocks").as_array();
        ASSERT_EQ(blocks.size(), c.blocks);

        for (size_t i = 0; i < c.failures.size(); ++i) {
            const Expected& failure = c.failures[i];
            SCOPED_TRACE(failure.code);
            // Text: the line names the block, its signer, and begins with the reason.
            const std::string blockName =
                "Block " + std::to_string(failure.position) + " of " + std::to_string(c.blocks) + " (";
            EXPECT_EQ(lines[i].rfind(blockName, 0), 0u) << lines[i];
            EXPECT_NE(lines[i].find("): " + failure.reasonStart), std::string::npos) << lines[i];
            EXPECT_NE(verbose.out.find("  Verdict: failed: " + failure.reasonStart), std::string::npos) << verbose.out;
            // JSON: the same block with the same reason and its code.
            const boost::json::object& block = blocks.at(failure.position - 1).as_object();
            EXPECT_EQ(block.at("verified"), false);
            const boost::json::object& problem = block.at("problems").as_array().at(0).as_object();
            EXPECT_EQ(problem.at("code"), failure.code.c_str());
            EXPECT_EQ(std::string(problem.at("reason").as_string()).rfind(failure.reasonStart, 0), 0u)
                << problem.at("reason");
            ASSERT_LT(failure.position - 1, inspected.blocks.size());
            EXPECT_FALSE(inspected.blocks[failure.position - 1].problems.empty());
        }
    }
}

TEST_F(TorvelReasonsTest, VerifyDescribesEveryBlockOfAGoodPackage)
{
    const std::string chain = m_dir / "chain.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                      "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate, "-o", chain})
                  .exitCode,
              0);
    const std::string path = signedCopy("good.rpm", {});
    ASSERT_EQ(torvel(signArguments(m_pki.developerMdm, path, {"-r", chain})).exitCode, 0);
    ASSERT_EQ(torvel(signArguments(m_pki.seclab, path)).exitCode, 0);
    ASSERT_EQ(torvel(signArguments(m_pki.client, path)).exitCode, 0);
    const auto blocks = FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
    ASSERT_EQ(blocks.size(), 3u);

    const auto verbose = torvel({"verify", "--verbose", "-r", m_pki.ca.certificate, path});
    EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_EQ(verbose.err, "");
    const std::vector<std::string> lines = TestKit::lines(verbose.out);
    EXPECT_EQ(lines.front(), "Package \"" + path + "\": 3 signature blocks");
    EXPECT_EQ(lines.back(), "Signatures successfully verified for \"" + path + "\"");
    const std::string fingerprint = openssl({"x509", "-in", m_pki.developerMdm.certificate, "-noout", "-fingerprint",
                                             "-sha256"});
    std::string expectedFingerprint;
    for (char c : fingerprint.substr(fingerprint.find('=') + 1))
        if (std::isxdigit(static_cast<unsigned char>(c)))
            expectedFingerprint += char(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& expected : {
             std::string("Block 1 of 3"),
             std::string("  Signer: developermdm"),
             "  Key ID: " + m_pki.developerMdm.keyId,
             "  SHA-256: " + expectedFingerprint,
             std::string("  Issuer: CN=Test Root CA"),
             // Up to the first block's frame header: the package is zstd.
             "  Covers: the package, bytes 0 to " + std::to_string(blocks[0].offset - 8),
             "  Rotation: " + m_pki.developer.keyId + " -> " + m_pki.developerMdm.keyId,
             std::string("Block 3 of 3"),
             "  Covers: block 2, bytes " + std::to_string(blocks[1].offset) + " to "
                 + std::to_string(blocks[2].offset - 8),
         })
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << "\n" << verbose.out;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  Verdict: verified"), 3);

    const auto json = torvel({"verify", "--json", "-r", m_pki.ca.certificate, path});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(schemaViolations(verifySchema, json.out), std::vector<std::string>()) << json.out;
    const boost::json::value document = boost::json::parse(json.out);
    const boost::json::object& package = document.at("packages").as_array().at(0).as_object();
    EXPECT_EQ(package.at("verified"), true);
    EXPECT_TRUE(package.at("failure").is_null());
    const boost::json::array& jsonBlocks = package.at("blocks").as_array();
    ASSERT_EQ(jsonBlocks.size(), 3u);
    EXPECT_EQ(jsonBlocks[0].at("signer").at("sha256"), expectedFingerprint.c_str());
    EXPECT_EQ(jsonBlocks[0].at("covers").at("what"), "package");
    EXPECT_EQ(jsonBlocks[1].at("covers").at("what"), "previous-block");
    EXPECT_EQ(jsonBlocks[2].at("signer").at("group"), "client");
    EXPECT_EQ(jsonBlocks[0].at("rotations").as_array().size(), 1u);

    const auto dump = torvel({"dump", "--json", "-f", path});
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_EQ(schemaViolations(dumpSchema, dump.out), std::vector<std::string>()) << dump.out;
    const boost::json::value dumped = boost::json::parse(dump.out);
    const boost::json::array& dumpedBlocks = dumped.at("packages").as_array().at(0).at("blocks").as_array();
    ASSERT_EQ(dumpedBlocks.size(), 3u);
    EXPECT_EQ(dumpedBlocks[0].at("signer").at("key_id"), m_pki.developerMdm.keyId.c_str());
    EXPECT_EQ(dumpedBlocks[0].at("file_signatures").as_array().size(), 1u);
    EXPECT_EQ(dumpedBlocks[0].at("offset").to_number<int64_t>(), blocks[0].offset);
}

TEST_F(TorvelReasonsTest, TheSchemaCheckRejectsWhatBreaksTheSchema)
{
    const auto json = torvel({"verify", "--json", "-r", m_pki.ca.certificate, signedCopy("one.rpm", {&m_pki.developer})});
    ASSERT_EQ(json.exitCode, 0);
    const boost::json::value schema = boost::json::parse(TestKit::readFile(verifySchema));
    const boost::json::value good = boost::json::parse(json.out);
    ASSERT_EQ(schemaViolations(schema, good), std::vector<std::string>());
    const std::vector<std::pair<const char*, std::function<void(boost::json::object&)>>> breakages {
        {"a required member missing", [](boost::json::object& block) { block.erase("signer"); }},
        {"a member the schema does not know", [](boost::json::object& block) { block["extra"] = 1; }},
        {"a value of another type", [](boost::json::object& block) { block["verified"] = "yes"; }},
        {"a value outside the enumeration", [](boost::json::object& block) { block["covers"].as_object()["what"] = "all"; }},
        {"a number below the minimum", [](boost::json::object& block) { block["position"] = 0; }},
        {"a broken certificate", [](boost::json::object& block) { block["signer"].as_object().erase("key_id"); }},
    };
    for (const auto& [what, breakage] : breakages) {
        boost::json::value broken = good;
        breakage(broken.at("packages").as_array().at(0).at("blocks").as_array().at(0).as_object());
        EXPECT_FALSE(schemaViolations(schema, broken).empty()) << what;
    }
}

TEST_F(TorvelReasonsTest, InfoFailsForAPathThatIsNoCertificateAndShowsTheRest)
{
    const std::string chain = m_dir / "chain.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                      "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate, "-o", chain})
                  .exitCode,
              0);
    const std::string garbage = m_dir / "garbage.pem";
    TestKit::writeFile(garbage, "not a certificate\n");
    const std::string missing = m_dir / "missing.pem";
    const std::string escapedName = m_dir / "a\x1b[2Kb.pem";
    std::filesystem::copy_file(m_pki.client.certificate, escapedName);
    const std::string fifo = m_dir / "fifo.pem";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto lines = [](const std::string& subject, const std::string& group, const std::string& subgroup,
                          const std::string& keyId) {
        return "Subject: " + subject + "\nGroup: " + group + "\nSubgroup: " + subgroup + "\nKey ID: " + keyId + "\n";
    };
    const std::string empty = lines("", "", "<unknown>", "");

    struct Case {
        const char* what;
        std::vector<std::string> paths;
        int exitCode;
        std::string out;
    };
    const std::vector<Case> cases {
        {"a certificate alone", {m_pki.developer.certificate}, 0,
         lines("developer", "developer", "regular", m_pki.developer.keyId)},
        {"a missing path among certificates", {m_pki.developer.certificate, missing, m_pki.seclab.certificate}, 1,
         m_pki.developer.certificate + ":\n" + lines("developer", "developer", "regular", m_pki.developer.keyId)
             + missing + ":\n" + empty + m_pki.seclab.certificate + ":\n"
             + lines("seclab", "seclab", "regular", m_pki.seclab.keyId)},
        {"a file that is no certificate", {garbage}, 1, empty},
        {"a named pipe", {fifo}, 1, empty},
        {"a rotation chain", {chain}, 0,
         "Rotation chain: 1 rotation (a proof-of-rotation chain, not a certificate)\nKey 1: " + m_pki.developer.keyId
             + " \"developer\"\nKey 2: " + m_pki.developerMdm.keyId + " \"developermdm\"\nChain check: every proof "
                                                                      "holds\n"},
        {"a name with control characters", {escapedName, chain}, 0,
         m_dir / "a\\x1b[2Kb.pem:\n" + lines("client", "client", "regular", m_pki.client.keyId) + chain
             + ":\nRotation chain: 1 rotation (a proof-of-rotation chain, not a certificate)\nKey 1: "
             + m_pki.developer.keyId + " \"developer\"\nKey 2: " + m_pki.developerMdm.keyId
             + " \"developermdm\"\nChain check: every proof holds\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments {"info"};
        arguments.insert(arguments.end(), c.paths.begin(), c.paths.end());
        TestKit::RunOptions options;
        options.timeoutSeconds = 30;
        const auto result = torvel(arguments, options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(result.out, c.out);
    }

    const auto verbose = torvel({"info", "--verbose", m_pki.developer.certificate});
    EXPECT_EQ(verbose.exitCode, 0);
    const std::string serial = openssl({"x509", "-in", m_pki.developer.certificate, "-noout", "-serial"});
    const std::string end = openssl({"x509", "-in", m_pki.developer.certificate, "-noout", "-enddate",
                                     "-dateopt", "iso_8601"});
    const std::vector<std::string> shown = TestKit::lines(verbose.out);
    ASSERT_EQ(shown.size(), 11u) << verbose.out;
    EXPECT_EQ(shown[4], "Issuer: CN=Test Root CA");
    EXPECT_EQ(shown[5], "Serial: " + serial.substr(serial.find('=') + 1, serial.size() - serial.find('=') - 2));
    // openssl says "2050-12-02 23:10:30Z".
    std::string until = end.substr(end.find('=') + 1);
    until = until.substr(0, until.find('\n'));
    until[10] = 'T';
    EXPECT_EQ(shown[7], "Valid until: " + until);
    EXPECT_EQ(shown[8].rfind("SHA-256: ", 0), 0u);
    EXPECT_EQ(shown[9], "Key usage: digitalSignature");
    EXPECT_EQ(shown[10], "Extended key usage: emailProtection, packageSigning");
}

TEST_F(TorvelReasonsTest, ForcedSigningNamesTheBlocksOfOtherSignersItRemoves)
{
    struct Case {
        const char* what;
        std::vector<const Signer*> before;
        const Signer* signer;
        std::string warning; // after the quoted path; empty: none
        size_t blocksAfter;
    };
    const std::vector<Case> cases {
        {"a developer over a laboratory and a client", {&m_pki.developer, &m_pki.seclab, &m_pki.client},
         &m_pki.developerMdm,
         ": replacing removed the signatures of other signers: block 2 by seclab \"seclab\", block 3 by client "
         "\"client\"",
         1},
        {"a developer over a laboratory", {&m_pki.developer, &m_pki.seclab}, &m_pki.developer,
         ": replacing removed the signature of another signer: block 2 by seclab \"seclab\"", 1},
        {"a developer over its own block", {&m_pki.developer}, &m_pki.developerMdm, "", 1},
        {"a laboratory over its own block", {&m_pki.developer, &m_pki.seclab}, &m_pki.seclab, "", 2},
        {"a client over its own block", {&m_pki.developer, &m_pki.seclab, &m_pki.client}, &m_pki.client, "", 3},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = signedCopy("forced" + std::to_string(n++) + ".rpm", c.before);
        const auto result = torvel(signArguments(*c.signer, path, {"-f"}));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string signedLine = "Signed ( 1 / 1 ) \"" + path + "\"\n";
        EXPECT_EQ(result.err, (c.warning.empty() ? "" : "\"" + path + "\"" + c.warning + "\n") + signedLine);
        EXPECT_EQ(FileWithCmses::fromPath(path.c_str(), "r")->locateCmses().size(), c.blocksAfter);
    }
}

TEST_F(TorvelReasonsTest, VerifyWithTheTrustDatabaseRefusesRevokedAndSupersededKeys)
{
    const std::string chain = m_dir / "chain.pem";
    ASSERT_EQ(torvel({"rotate", "--old-key", m_pki.developer.key, "--old-cert", m_pki.developer.certificate,
                      "--new-key", m_pki.developerMdm.key, "--new-cert", m_pki.developerMdm.certificate, "-o", chain})
                  .exitCode,
              0);
    const std::string rotated = signedCopy("rotated.rpm", {});
    ASSERT_EQ(torvel(signArguments(m_pki.developerMdm, rotated, {"-r", chain})).exitCode, 0);
    const std::string bySeclab = signedCopy("seclab.rpm", {&m_pki.developer, &m_pki.seclab});
    // What the package manager's database needs to be made: revocation and
    // developer-mode files, the latter with developer mode off.
    const std::string configuration = m_dir / "torvel.conf";
    TestKit::writeFile(configuration, "[main]\nrevocation_conf=" + m_dir / "revocation.conf"
                                          + "\ndevelopermode_init_conf=" + m_dir / "devmode.conf"
                                          + "\ndevelopermode_runtime_conf=" + m_dir / "devmode.conf\n");
    TestKit::writeFile(m_dir / "revocation.conf", "[revoke]\n");
    TestKit::writeFile(m_dir / "devmode.conf", "[developermode]\nenabled=false\n");
    // One database per case, made by the library as the package manager would.
    const auto database = [&](const std::string& name,
                              const std::vector<std::pair<std::string, PackageSignatures::Database::RevocationType>>&
                                  revoked) {
        const std::string path = m_dir / name;
        PackageSignatures::Database made(path, configuration);
        for (const auto& [keyId, type] : revoked)
            EXPECT_TRUE(made.insertRevokedKeyid(keyId, type));
        return path;
    };
    using Type = PackageSignatures::Database::RevocationType;

    struct Case {
        const char* what;
        std::string package;
        std::string database;
        std::string reason; // empty: verified
    };
    const std::vector<Case> cases {
        {"a blacklisted developer", bySeclab, database("blacklisted.db", {{m_pki.developer.keyId, Type::Blacklisted}}),
         "Block 1 of 2 (developer \"developer\"): revoked: the trust database revokes the key ("
             + m_pki.developer.keyId + ")"},
        {"a superseded developer", bySeclab, database("superseded.db", {{m_pki.developer.keyId, Type::Superseded}}),
         "Block 1 of 2 (developer \"developer\"): superseded: the trust database says a rotation replaced its key ("
             + m_pki.developer.keyId + ")"},
        {"a chain through a blacklisted key", rotated,
         database("chain.db", {{m_pki.developer.keyId, Type::Blacklisted}}),
         "Block 1 of 1 (developer \"developermdm\"): revoked: the trust database revokes the key ("
             + m_pki.developer.keyId + ")"},
        {"a chain whose earlier key a rotation superseded", rotated,
         database("rotated.db", {{m_pki.developer.keyId, Type::Superseded}}), ""},
        {"keys the database does not list", bySeclab, database("other.db", {{m_pki.stranger.keyId, Type::Blacklisted}}),
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes before = readBytes(c.database);
        const auto result = torvel({"verify", "-r", m_pki.ca.certificate, "--database", c.database, c.package});
        if (c.reason.empty()) {
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.err, c.reason + "\nCould not verify signatures for \"" + c.package + "\"\n");
            // The database's word is needed: without it the package verifies.
            EXPECT_EQ(torvel({"verify", "-r", m_pki.ca.certificate, c.package}).exitCode, 0);
        }
        EXPECT_EQ(readBytes(c.database), before);
    }

    const auto missing = torvel({"verify", "-r", m_pki.ca.certificate, "--database", m_dir / "none.db", bySeclab});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "The trust database \"" + m_dir / "none.db" + "\" cannot be read: No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "none.db"));
}
