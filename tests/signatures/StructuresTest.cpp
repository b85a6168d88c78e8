// Group vocabulary, the CMS readers and the signature-block object.

#include <cstdlib>

#include <gtest/gtest.h>

#include <openssl/objects.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "common/LibcHandles.h"
#include "TorvelHandles.h"

using namespace SignatureFixtures;
using namespace PackageSignatures;

TEST(GroupVocabulary, ParsesGroupWords)
{
    EXPECT_EQ(groupFromString("developer"), GroupDeveloper);
    EXPECT_EQ(groupFromString("developer:mdm"), GroupDeveloper);
    EXPECT_EQ(groupFromString("seclab:anything"), GroupSeclab);
    EXPECT_EQ(groupFromString("client"), GroupClient);
    EXPECT_EQ(groupFromString("Developer"), GroupNone);
    EXPECT_EQ(groupFromString(""), GroupNone);
    EXPECT_EQ(groupFromString(":developer"), GroupNone);
    EXPECT_EQ(groupFromString(nullptr), GroupNone);
}

TEST(GroupVocabulary, ParsesSubgroupWords)
{
    EXPECT_EQ(subgroupFromString("developer"), SubgroupRegular);
    EXPECT_EQ(subgroupFromString("developer:mdm"), SubgroupMdm);
    EXPECT_EQ(subgroupFromString("developer:Market"), SubgroupNone);
    EXPECT_EQ(subgroupFromString("developer:market"), SubgroupMarket);
    EXPECT_EQ(subgroupFromString("developer:extended"), SubgroupExtended);
    EXPECT_EQ(subgroupFromString("developer:antivirus"), SubgroupAntivirus);
    EXPECT_EQ(subgroupFromString("developer:auth"), SubgroupAuth);
    EXPECT_EQ(subgroupFromString("developer:systemapp"), SubgroupSystemApp);
    EXPECT_EQ(subgroupFromString("developer:substitutecomponent"), SubgroupSubstituteComponent);
    // "regular" is a printed name only.
    EXPECT_EQ(subgroupFromString("developer:regular"), SubgroupNone);
    EXPECT_EQ(subgroupFromString("developer:"), SubgroupNone);
    EXPECT_EQ(subgroupFromString(nullptr), SubgroupNone);
}

TEST(GroupVocabulary, PrintsTexts)
{
    EXPECT_EQ(groupToString(GroupNone), "");
    EXPECT_EQ(groupToString(GroupDeveloper), "developer");
    EXPECT_EQ(groupToString(GroupSeclab), "seclab");
    EXPECT_EQ(groupToString(GroupClient), "client");
    EXPECT_EQ(subgroupToString(SubgroupNone), "<unknown>");
    EXPECT_EQ(subgroupToString(SubgroupRegular), "regular");
    EXPECT_EQ(subgroupToString(SubgroupSubstituteComponent), "substitutecomponent");
    EXPECT_EQ(subgroupToString(Subgroup(9)), "<unknown>");
    EXPECT_EQ(subgroupToString(Subgroup(-1)), "<unknown>");
}

TEST(ObjectIdentifiers, AreRegisteredWhenTheLibraryLoads)
{
    const std::pair<const char*, const char*> expected[] = {
        {"packageSigning", "1.2.643.2.81.1.1.1"},
        {"certificateGroup", "1.2.643.2.81.1.2.1"},
        {"packageFileSignatures", "1.2.643.2.81.1.3.1"},
        {"rotationChain", "1.2.643.2.81.1.3.2"},
        {"packageTrustletSignatures", "1.2.643.2.81.1.3.3"},
    };
    for (const auto& [name, oid] : expected) {
        const int nid = OBJ_sn2nid(name);
        ASSERT_NE(nid, NID_undef) << name;
        char text[64];
        OBJ_obj2txt(text, sizeof text, OBJ_nid2obj(nid), 1);
        EXPECT_STREQ(text, oid);
    }
    EXPECT_STREQ(OBJ_nid2ln(OBJ_sn2nid("rotationChain")), "Key Rotation Chain");
}

class CmsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_content = m_dir / "content.bin";
        TestKit::writeFile(m_content, "package bytes");
    }
    Bytes content() const { return readBytes(m_content); }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigcms"};
    std::string m_content;
};

TEST_F(CmsTest, ReadsCertificateAndSignatureOfAnOpensslBlock)
{
    const Bytes der = opensslCmsSign(m_content, m_pki.developerMdm);
    const Cms cms(der);
    EXPECT_EQ(cms.size(), der.size());
    EXPECT_EQ(cms.data(), der);
    const auto certificate = cms.certificate();
    EXPECT_EQ(certificate->subject(), "developermdm");
    EXPECT_EQ(certificate->group(), GroupDeveloper);
    EXPECT_EQ(certificate->subgroup(), SubgroupMdm);
    EXPECT_EQ(certificate->keyId(), m_pki.developerMdm.keyId);
    EXPECT_EQ(cms.certificate(), certificate); // made once

    // The signature is the signer info's value: check it against what
    // openssl prints for the same structure.
    const std::string derPath = m_dir / "block.der";
    writeBytes(derPath, der);
    const std::string parsed = openssl({"cms", "-cmsout", "-inform", "DER", "-in", derPath, "-print"});
    const std::string signature = cms.signature();
    ASSERT_EQ(signature.size(), 344u); // 256 bytes of RSA signature in Base64
    const std::string decodedPath = m_dir / "sig.bin";
    TestKit::writeFile(m_dir / "sig.b64", signature + "\n");
    openssl({"base64", "-d", "-in", m_dir / "sig.b64", "-out", decodedPath});
    const Bytes raw = readBytes(decodedPath);
    ASSERT_EQ(raw.size(), 256u);
    char firstBytes[32];
    std::snprintf(firstBytes, sizeof firstBytes, "0000 - %02x %02x %02x %02x", raw[0], raw[1], raw[2], raw[3]);
    EXPECT_NE(parsed.find(firstBytes), std::string::npos) << parsed;
}

TEST_F(CmsTest, MissingAttributesAreEmpty)
{
    const Cms cms(opensslCmsSign(m_content, m_pki.developer));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(cms.fileSignature(0).empty());
    EXPECT_TRUE(cms.fileSignature(1).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No file signatures found in CMS\n");

    testing::internal::CaptureStderr();
    EXPECT_TRUE(cms.trustletSignature(0).empty());
    EXPECT_TRUE(cms.rotationChain()->rotations().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(CmsTest, ReadsPrivateFileSignatureAttributes)
{
    const Bytes ima = fileSignaturesDer({{0, {3, 2, 4, 9}}, {2, {0xAA}}, {0, {0xBB}}});
    const Bytes ta = fileSignaturesDer({{1, {'a', 'b', '0', '1'}}});
    const Cms cms(cmsWithAttributes(content(), m_pki.developer,
                                    {{"packageFileSignatures", ima}, {"packageTrustletSignatures", ta}}));
    EXPECT_EQ(cms.fileSignature(0), (Bytes {3, 2, 4, 9})); // the first entry of an index wins
    EXPECT_EQ(cms.fileSignature(2), (Bytes {0xAA}));
    EXPECT_TRUE(cms.fileSignature(1).empty());
    EXPECT_EQ(cms.trustletSignature(1), (Bytes {'a', 'b', '0', '1'}));
    EXPECT_TRUE(cms.trustletSignature(0).empty());
    // Both kinds, each index once, ascending.
    EXPECT_EQ(cms.signedFileIndexes(), (std::vector<long> {0, 1, 2}));
    EXPECT_TRUE(Cms(Bytes {0x30, 0x00}).signedFileIndexes().empty());

    const Common::OpenSsl::CmsHandle parsed(cms_from_der(cms.data().data(), long(cms.size())));
    ASSERT_TRUE(parsed);
    const Common::Torvel::FileSignaturesHandle signatures(cms_get_file_signatures(parsed.get(), 0));
    ASSERT_NE(signatures, nullptr);
    ASSERT_EQ(FileSignatures_count(signatures.get()), 3);
    int length = -1;
    const unsigned char* value = FileSignature_value(FileSignatures_get0_at(signatures.get(), 1), &length);
    EXPECT_EQ(FileSignature_index(FileSignatures_get0_at(signatures.get(), 1)), 2);
    ASSERT_EQ(length, 1);
    EXPECT_EQ(value[0], 0xAA);
    EXPECT_NE(FileSignature_value(FileSignatures_get0_at(signatures.get(), 0), nullptr), nullptr);
}

TEST_F(CmsTest, ReportsAttributesThatDoNotDecode)
{
    const Cms cms(cmsWithAttributes(content(), m_pki.developer,
                                    {{"packageFileSignatures", derSequence({derOctets({1})})},
                                     {"rotationChain", derSequence({derInteger(5)})}}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(cms.fileSignature(0).empty());
    EXPECT_TRUE(cms.rotationChain()->rotations().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not deserialize FileSignatures sequence\n"
              "Could not deserialize ProofOfRotationChain sequence\n");
}

TEST_F(CmsTest, ReadsTheRotationChainAttribute)
{
    const Bytes developer = certificateDer(m_pki.developer.certificate);
    const Bytes mdm = certificateDer(m_pki.developerMdm.certificate);
    const Bytes client = certificateDer(m_pki.client.certificate);
    const Bytes chain = derSequence({proofOfRotationDer(developer, mdm), proofOfRotationDer(mdm, client)});
    const Cms cms(cmsWithAttributes(content(), m_pki.client, {{"rotationChain", chain}}));
    const auto rotations = cms.rotationChain()->rotations();
    ASSERT_EQ(rotations.size(), 2u);
    EXPECT_EQ(rotations[0]->oldCertificate()->keyId(), m_pki.developer.keyId);
    EXPECT_EQ(rotations[0]->newCertificate()->keyId(), m_pki.developerMdm.keyId);
    EXPECT_EQ(rotations[1]->newCertificate()->keyId(), m_pki.client.keyId);
    EXPECT_EQ(cms.rotationChain()->previousKeyids(),
              (std::vector<std::string> {m_pki.developer.keyId, m_pki.developerMdm.keyId}));

    // An empty chain attribute is a chain without rotations.
    const Cms empty(cmsWithAttributes(content(), m_pki.developer, {{"rotationChain", derSequence({})}}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(empty.rotationChain()->rotations().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(CmsTest, ChainsSurvivePemRoundTrips)
{
    const Bytes developer = certificateDer(m_pki.developer.certificate);
    const Bytes seclab = certificateDer(m_pki.seclab.certificate);
    const Bytes chainDer = derSequence({proofOfRotationDer(developer, seclab), proofOfRotationDer(seclab, developer)});
    const unsigned char* cursor = chainDer.data();
    const Common::Torvel::ProofOfRotationChainHandle chain(
        d2i_ProofOfRotationChain(nullptr, &cursor, long(chainDer.size())));
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(ProofOfRotationChain_count(chain.get()), 2);

    const std::string path = m_dir / "chain.pem";
    Common::Libc::FileHandle out(std::fopen(path.c_str(), "w"));
    ASSERT_EQ(PEM_write_ProofOfRotationChain(out.get(), chain.get()), 1);
    out.reset();
    const std::string pem = TestKit::readFile(path);
    EXPECT_EQ(pem.rfind("-----BEGIN PROOF OF ROTATION CHAIN-----\n", 0), 0u);
    EXPECT_NE(pem.find("-----END PROOF OF ROTATION CHAIN-----"), std::string::npos);

    const Common::Torvel::ProofOfRotationChainHandle back(ProofOfRotationChain_read(path.c_str()));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(ProofOfRotationChain_count(back.get()), 2);
    unsigned char* encoded = nullptr;
    const int length = i2d_ProofOfRotationChain(back.get(), &encoded);
    const Common::OpenSsl::BytesHandle ownedEncoded(encoded);
    EXPECT_EQ(Bytes(encoded, encoded + length), chainDer);
    EXPECT_EQ(Certificate(ProofOfRotation_get0_old_cert(ProofOfRotationChain_get0_at(back.get(), 1))).keyId(),
              m_pki.seclab.keyId);
    const RotationChain fromFile = RotationChain::fromFile(path.c_str());
    ASSERT_EQ(fromFile.rotations().size(), 2u);
    EXPECT_EQ(fromFile.rotations()[0]->newCertificate()->keyId(), m_pki.seclab.keyId);

    testing::internal::CaptureStderr();
    EXPECT_EQ(ProofOfRotationChain_read((m_dir / "none.pem").c_str()), nullptr);
    TestKit::writeFile(m_dir / "junk.pem", "junk\n");
    EXPECT_EQ(ProofOfRotationChain_read((m_dir / "junk.pem").c_str()), nullptr);
    EXPECT_TRUE(RotationChain::fromFile((m_dir / "junk.pem").c_str()).rotations().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open proof-of-rotation: No such file or directory\n"
              "Could not read proof-of-rotation chain\n"
              "Could not read proof-of-rotation chain\n");
}

TEST_F(CmsTest, BlocksThatDoNotParseYieldEmptyValues)
{
    const Cms cms(Bytes {0x30, 0x03, 0x02, 0x01, 0x01});
    testing::internal::CaptureStderr();
    const auto certificate = cms.certificate();
    EXPECT_EQ(certificate->x509(), nullptr);
    EXPECT_EQ(certificate->group(), GroupNone);
    EXPECT_EQ(certificate->subgroup(), SubgroupNone);
    EXPECT_EQ(certificate->subject(), "");
    EXPECT_EQ(cms.signature(), "");
    EXPECT_TRUE(cms.fileSignature(0).empty());
    EXPECT_TRUE(cms.rotationChain()->rotations().empty());
    // Parsed once, reported once.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not decode DER CMS\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_from_der(nullptr, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not decode DER CMS\n");
}

TEST_F(CmsTest, RefusesBlocksWithSeveralSignersOrCertificates)
{
    const std::string firstPath = m_dir / "first.der";
    writeBytes(firstPath, opensslCmsSign(m_content, m_pki.developer, {"-nodetach"}));
    const std::string twoPath = m_dir / "two.der";
    openssl({"cms", "-resign", "-binary", "-inform", "DER", "-outform", "DER", "-in", firstPath, "-signer",
             m_pki.seclab.certificate, "-inkey", m_pki.seclab.key, "-out", twoPath});
    const Bytes two = readBytes(twoPath);
    const Common::OpenSsl::CmsHandle parsed(cms_from_der(two.data(), long(two.size())));
    ASSERT_TRUE(parsed);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_get_signature(parsed.get()), nullptr);
    EXPECT_EQ(cms_get_certificate(parsed.get()), nullptr);
    EXPECT_EQ(cms_get_file_signatures(parsed.get(), 1), nullptr);
    EXPECT_EQ(cms_get_rotation_chain(parsed.get()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CMSes with multiple signers are not supported (found: 2)\n"
              "CMS must contain only one signer\n"
              "CMSes with multiple signers are not supported (found: 2)\n"
              "CMSes with multiple signers are not supported (found: 2)\n");

    const Bytes noCertificates = opensslCmsSign(m_content, m_pki.developer, {"-nocerts"});
    const Cms bare(noCertificates);
    testing::internal::CaptureStderr();
    EXPECT_EQ(bare.certificate()->x509(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not get signers from CMS\n");
}

TEST_F(CmsTest, CopiesAndAssignmentsDeriveTheirOwnValues)
{
    const Cms developer(opensslCmsSign(m_content, m_pki.developer));
    const Cms seclab(opensslCmsSign(m_content, m_pki.seclab));
    Cms copy(developer);
    EXPECT_TRUE(copy == developer);
    EXPECT_EQ(copy.certificate()->group(), GroupDeveloper);
    EXPECT_NE(copy.certificate(), developer.certificate());
    copy.assign(seclab.data());
    EXPECT_FALSE(copy == developer);
    EXPECT_EQ(copy.certificate()->group(), GroupSeclab);
    const Bytes raw = developer.data();
    copy.assignRaw(raw.data(), raw.size());
    EXPECT_EQ(copy.certificate()->group(), GroupDeveloper);
}

TEST_F(CmsTest, PicksDeveloperAndClientBlocks)
{
    const Cms developer(opensslCmsSign(m_content, m_pki.developer));
    const Cms seclab(opensslCmsSign(m_content, m_pki.seclab));
    const Cms client(opensslCmsSign(m_content, m_pki.client));
    EXPECT_FALSE(developerCmsFromVector({}));
    EXPECT_FALSE(clientCmsFromVector({}));
    EXPECT_EQ(developerCmsFromVector({developer, seclab, client}), developer);
    EXPECT_EQ(clientCmsFromVector({developer, seclab, client}), client);
    EXPECT_FALSE(developerCmsFromVector({seclab, developer}));
    EXPECT_FALSE(clientCmsFromVector({developer, client, seclab}));
}
