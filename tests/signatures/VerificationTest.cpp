// Verifying packages block by block, the legacy embedded-digest form, and
// proofs of rotation with the chains they make.

#include <filesystem>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"
#include "TorvelHandles.h"

using namespace SignatureFixtures;
using PackageSignatures::FileWithCmses;
using PackageSignatures::RotationChain;
using PackageSignatures::RotationChainVerification;
using PackageSignatures::VerificationFailure;

namespace {

using Common::OpenSsl::CmsHandle;
using Common::OpenSsl::X509StoreHandle;
using Common::Torvel::ProofOfRotationChainHandle;

CmsHandle parse(const Bytes& der)
{
    return CmsHandle(cms_from_der(der.data(), long(der.size())));
}

} // namespace

class VerificationTest : public ::testing::Test {
protected:
    std::string bareFile(const std::string& name)
    {
        const std::string path = m_dir / name;
        TestKit::writeFile(path, "package bytes of " + name);
        return path;
    }

    // Appends a block made by `openssl cms` over what a block at this
    // position covers: everything for the first block, the previous
    // block's DER and trailer for a later one.
    void appendBlock(const std::string& path, const Signer& signer, int version = 2,
                     const std::vector<std::string>& extra = {})
    {
        const Bytes file = readBytes(path);
        const auto blocks = FileWithCmses::fromPath(path.c_str(), "r")->locateCmses();
        const size_t start = blocks.empty() || version == 1 ? 0 : size_t(blocks.back().offset);
        const std::string covered = m_dir / "covered";
        writeBytes(covered, Bytes(file.begin() + long(start), file.end()));
        appendBytes(path, blockOfVersion(version, opensslCmsSign(covered, signer, extra)));
    }

    PackageSignatures::VerificationResult verify(const std::string& path)
    {
        return FileWithCmses::fromPath(path)->verify(m_pki.ca.certificate.c_str());
    }

    X509StoreHandle store() const
    {
        return X509StoreHandle(certificate_store_read(m_pki.ca.certificate.c_str()));
    }

    const Pki& m_pki = Pki::instance();
    TestKit::TempDir m_dir {"sigverify"};
};

TEST_F(VerificationTest, AcceptsEveryOrderOfSignersTheCheckAllows)
{
    const std::vector<std::vector<const Signer*>> accepted {
        {&m_pki.developer},
        {&m_pki.developer, &m_pki.seclab},
        {&m_pki.developer, &m_pki.client},
        {&m_pki.developer, &m_pki.seclab, &m_pki.client},
        {&m_pki.developerMdm, &m_pki.client, &m_pki.client},
    };
    int n = 0;
    for (const auto& signers : accepted) {
        const std::string path = bareFile("accepted" + std::to_string(n++));
        int version = 2;
        for (const Signer* signer : signers)
            appendBlock(path, *signer, version++);
        EXPECT_TRUE(FileWithCmses::fromPath(path)->verifyCmses(m_pki.ca.certificate.c_str())) << path;
    }

    const std::vector<std::pair<std::vector<const Signer*>, int>> refused {
        {{&m_pki.seclab}, 0},
        {{&m_pki.client}, 0},
        {{&m_pki.noGroup}, 0},
        {{&m_pki.developer, &m_pki.developer}, 1},
        {{&m_pki.developer, &m_pki.seclab, &m_pki.seclab}, 2},
    };
    for (const auto& [signers, misplaced] : refused) {
        const std::string path = bareFile("refused" + std::to_string(n++));
        for (const Signer* signer : signers)
            appendBlock(path, *signer);
        const auto result = verify(path);
        EXPECT_EQ(result.failure, VerificationFailure::MisplacedSigner) << path;
        EXPECT_EQ(result.blockIndex, misplaced) << path;
        EXPECT_FALSE(FileWithCmses::fromPath(path)->verifyCmses(m_pki.ca.certificate.c_str()));
    }
}

TEST_F(VerificationTest, SaysWhatFailedFirst)
{
    const std::string path = bareFile("four");
    EXPECT_EQ(verify(path).failure, VerificationFailure::NoBlocks);
    for (const Signer* signer : {&m_pki.developer, &m_pki.seclab, &m_pki.client, &m_pki.client})
        appendBlock(path, *signer);
    testing::internal::CaptureStderr();
    const auto four = verify(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // no signature was checked
    EXPECT_EQ(four.failure, VerificationFailure::TooManyBlocks);
    EXPECT_EQ(four.blockIndex, -1);
    EXPECT_STREQ(PackageSignatures::describe(four.failure), "the file has more than three signatures");

    const auto noBundle = FileWithCmses::fromPath(path)->verify((m_dir / "none.pem").c_str());
    EXPECT_EQ(noBundle.failure, VerificationFailure::NoTrustedCertificates);

    // A second block of version 4 covers nothing the check knows.
    const std::string unknown = bareFile("unknown");
    appendBlock(unknown, m_pki.developer);
    const Bytes unknownBytes = readBytes(unknown);
    writeBytes(m_dir / "covered", Bytes(unknownBytes.begin() + FileWithCmses::fromPath(unknown)->locateCmses()[0].offset,
                                        unknownBytes.end()));
    Bytes version4 = opensslCmsSign(m_dir / "covered", m_pki.seclab);
    const Bytes trailer = currentTrailer(uint32_t(version4.size()), 4);
    version4.insert(version4.end(), trailer.begin(), trailer.end());
    appendBytes(unknown, version4);
    EXPECT_EQ(verify(unknown).failure, VerificationFailure::UnknownBlockVersion);
    EXPECT_EQ(verify(unknown).blockIndex, 1);

    const std::string garbage = bareFile("garbage");
    appendBytes(garbage, blockV2({0x30, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_EQ(verify(garbage).failure, VerificationFailure::UnparsableBlock);

    // A CA bundle that does not hold the signer's CA.
    openssl({"genrsa", "-out", m_dir / "other.key", "2048"});
    ASSERT_EQ(make_ca_certificate((m_dir / "other.pem").c_str(), (m_dir / "other.key").c_str(), "Other"), 0);
    const std::string good = bareFile("good");
    appendBlock(good, m_pki.developer);
    EXPECT_EQ(FileWithCmses::fromPath(good)->verify((m_dir / "other.pem").c_str()).failure,
              VerificationFailure::InvalidSignature);
}

TEST_F(VerificationTest, AChangedByteInvalidatesTheBlocksCoveringIt)
{
    const std::string path = bareFile("tampered");
    appendBlock(path, m_pki.developer);
    appendBlock(path, m_pki.seclab, 3);
    ASSERT_TRUE(verify(path).verified());
    const Bytes original = readBytes(path);
    const auto blocks = FileWithCmses::fromPath(path)->locateCmses();
    const auto blockValid = [&](const Bytes& file, size_t i) {
        const int64_t start = i == 0 ? 0 : blocks[i - 1].offset;
        const int64_t end = blocks[i].version == 3 ? blocks[i].offset - 8 : blocks[i].offset;
        const CmsHandle cms = parse(Bytes(file.begin() + blocks[i].offset, file.begin() + blocks[i].end));
        return cms && cms_verify(file.data() + start, long(end - start), cms.get(), store().get()) == 1;
    };
    EXPECT_TRUE(blockValid(original, 0));
    EXPECT_TRUE(blockValid(original, 1));

    Bytes package = original;
    package[3] ^= 0x01;
    writeBytes(path, package);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(blockValid(package, 0));
    EXPECT_TRUE(blockValid(package, 1));
    const auto packageResult = verify(path);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("CMS verification failed\n"), std::string::npos);
    EXPECT_EQ(packageResult.failure, VerificationFailure::InvalidSignature);
    EXPECT_EQ(packageResult.blockIndex, 0);

    // A byte of the first block's signature value, the last DER bytes.
    Bytes firstBlock = original;
    firstBlock[size_t(blocks[0].end) - 1] ^= 0x01;
    writeBytes(path, firstBlock);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(blockValid(firstBlock, 0));
    EXPECT_FALSE(blockValid(firstBlock, 1));
    EXPECT_EQ(verify(path).blockIndex, 1);
    testing::internal::GetCapturedStderr();
}

TEST_F(VerificationTest, ChecksTheEmbeddedDigestOfLegacyBlocks)
{
    const std::string path = bareFile("legacy");
    const Bytes content = readBytes(path);
    const auto legacyBlock = [&](const std::string& digestFile) {
        return blockV1(opensslCmsSign(digestFile, m_pki.developer, {"-nodetach"}));
    };
    openssl({"dgst", "-engine", "gost", "-md_gost12_256", "-binary", "-out", m_dir / "digest", path});
    appendBytes(path, legacyBlock(m_dir / "digest"));
    EXPECT_TRUE(verify(path).verified());

    // A version-1 block signs from the start of the file at any position.
    appendBlock(path, m_pki.client, 1);
    EXPECT_TRUE(verify(path).verified());
    writeBytes(path, content);

    const std::string wrong = m_dir / "wrong";
    Bytes digest = readBytes(m_dir / "digest");
    digest[0] ^= 1;
    writeBytes(wrong, digest);
    const CmsHandle differing = parse(opensslCmsSign(wrong, m_pki.developer, {"-nodetach"}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_verify(content.data(), long(content.size()), differing.get(), store().get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Digests differ from each other (signed data was corrupted?)\nCMS verification failed\n");

    digest.pop_back();
    writeBytes(wrong, digest);
    const CmsHandle shorter = parse(opensslCmsSign(wrong, m_pki.developer, {"-nodetach"}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_verify(content.data(), long(content.size()), shorter.get(), store().get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CMS contains digest with wrong length (expected 32, got 31)\nCMS verification failed\n");
}

class RotationTest : public VerificationTest {
protected:
    std::string rotate(const Signer& from, const Signer& to, const char* previous, const std::string& out)
    {
        EXPECT_EQ(make_proof_of_rotation_chain(out.c_str(), previous, from.certificate.c_str(), from.key.c_str(),
                                               to.certificate.c_str(), to.key.c_str()),
                  0);
        return out;
    }

    ProofOfRotationChainHandle readChain(const std::string& path)
    {
        return ProofOfRotationChainHandle(ProofOfRotationChain_read(path.c_str()));
    }

    Bytes chainDer(ProofOfRotationChain* chain)
    {
        unsigned char* der = nullptr;
        const int length = i2d_ProofOfRotationChain(chain, &der);
        const Common::OpenSsl::BytesHandle owned(der);
        return Bytes(der, der + length);
    }

    const Signer& m_second = m_pki.secondDeveloper;
};

TEST_F(RotationTest, ChainsGrowOneRotationAtATime)
{
    const std::string first = rotate(m_pki.developer, m_pki.developerMdm, nullptr, m_dir / "one.pem");
    const std::string both = rotate(m_pki.developerMdm, m_second, first.c_str(), m_dir / "two.pem");
    const ProofOfRotationChainHandle chain = readChain(both);
    ASSERT_EQ(ProofOfRotationChain_count(chain.get()), 2);
    EXPECT_EQ(ProofOfRotationChain_verify(chain.get()), 1);

    const RotationChain value = RotationChain::fromFile(both.c_str());
    EXPECT_EQ(value.size(), 2u);
    EXPECT_EQ(value.previousKeyids(), (std::vector {m_pki.developer.keyId, m_pki.developerMdm.keyId}));
    EXPECT_EQ(value.newestKeyId(), m_second.keyId);
    EXPECT_TRUE(value.containsKeyId(m_pki.developer.keyId));
    EXPECT_TRUE(value.containsKeyId(m_second.keyId));
    EXPECT_FALSE(value.containsKeyId(m_pki.seclab.keyId));
    EXPECT_TRUE(value.verify().verified());
    const RotationChain copy = value;
    EXPECT_EQ(copy.rotations()[1], value.rotations()[1]);
    EXPECT_EQ(copy.der(), chainDer(chain.get()));
    EXPECT_TRUE(RotationChain().verify().verified());
    EXPECT_TRUE(RotationChain().empty());
    EXPECT_EQ(RotationChain().newestKeyId(), "");

    // A rotation that does not start where the chain ends is refused and
    // nothing is written.
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_proof_of_rotation_chain((m_dir / "bad.pem").c_str(), first.c_str(), m_pki.seclab.certificate.c_str(),
                                           m_pki.seclab.key.c_str(), m_second.certificate.c_str(),
                                           m_second.key.c_str()),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "New SKID from proof[0] does not match old SKID from proof[1]\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "bad.pem"));

    testing::internal::CaptureStderr();
    EXPECT_EQ(make_proof_of_rotation_chain((m_dir / "x.pem").c_str(), nullptr, (m_dir / "none.pem").c_str(),
                                           m_pki.developer.key.c_str(), m_second.certificate.c_str(),
                                           m_second.key.c_str()),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not open certificate \"" + m_dir / "none.pem" + "\": No such file or directory\n");
}

TEST_F(RotationTest, ProofsNeedBothSignatures)
{
    const LoadedSigner oldPair = load(m_pki.developer);
    const LoadedSigner newPair = load(m_pki.gostDeveloper);
    ProofOfRotation* proof =
        ProofOfRotation_create(oldPair.certificate.get(), oldPair.key.get(), newPair.certificate.get(), newPair.key.get());
    ASSERT_NE(proof, nullptr);
    EXPECT_EQ(ProofOfRotation_verify(proof), 1);

    // Signed by the wrong new key: the old signature holds, the new one not.
    const LoadedSigner stranger = load(m_pki.gostSeclab);
    ProofOfRotation* forged =
        ProofOfRotation_create(oldPair.certificate.get(), oldPair.key.get(), newPair.certificate.get(), stranger.key.get());
    ASSERT_NE(forged, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProofOfRotation_verify(forged), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not verify new signature in proof-of-rotation\n");

    const ProofOfRotationChainHandle chain(sk_ProofOfRotation_new_null());
    sk_ProofOfRotation_push(chain.get(), proof);
    sk_ProofOfRotation_push(chain.get(), forged);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProofOfRotationChain_verify(chain.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not verify new signature in proof-of-rotation\nCould not verify proof[1]\n");
    const RotationChain value(chain.get());
    testing::internal::CaptureStderr();
    const RotationChainVerification check = value.verify();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(check.failure, RotationChainVerification::Failure::InvalidProof);
    EXPECT_EQ(check.proofIndex, 1);

    EXPECT_EQ(ProofOfRotationChain_verify(nullptr), 1);
}

TEST_F(RotationTest, BlocksCarryTheirChainAndMustEndWithTheirSigner)
{
    const std::string chainPath = rotate(m_pki.developer, m_pki.developerMdm, nullptr, m_dir / "chain.pem");
    const ProofOfRotationChainHandle chain = readChain(chainPath);
    const std::string path = buildPackage(m_dir.path());
    const LoadedSigner mdm = load(m_pki.developerMdm);
    auto file = FileWithCmses::fromPath(path);
    ASSERT_TRUE(file->sign(mdm.certificate.get(), mdm.key.get(), nullptr, 0, chain.get(), false, false, true));
    EXPECT_TRUE(verify(path).verified());
    const auto carried = file->cmses().at(0).rotationChain();
    EXPECT_EQ(carried->previousKeyids(), std::vector {m_pki.developer.keyId});
    EXPECT_EQ(carried->der(), chainDer(chain.get()));

    // The signer refuses chains that do not end with its own key, and
    // chains without rotations.
    const LoadedSigner developer = load(m_pki.developer);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(
        file->sign(developer.certificate.get(), developer.key.get(), nullptr, 0, chain.get(), true, false, true));
    const ProofOfRotationChainHandle empty(sk_ProofOfRotation_new_null());
    EXPECT_FALSE(file->sign(mdm.certificate.get(), mdm.key.get(), nullptr, 0, empty.get(), true, false, true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Last keyid in rotation chain does not match with certificate's keyid\n"
              "Proof-of-rotation chain is malformed, no rotations found\n");

    // Blocks made elsewhere: an empty chain passes, a chain that ends with
    // another key does not.
    const Bytes content = readBytes(m_dir / "chain.pem");
    const CmsHandle withEmpty =
        parse(cmsWithAttributes(content, m_pki.developer, {{"rotationChain", derSequence({})}}));
    const X509StoreHandle trusted = store();
    EXPECT_EQ(cms_verify(content.data(), long(content.size()), withEmpty.get(), trusted.get()), 1);
    const CmsHandle foreign =
        parse(cmsWithAttributes(content, m_pki.developer, {{"rotationChain", chainDer(chain.get())}}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_verify(content.data(), long(content.size()), foreign.get(), trusted.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Last keyid in rotation chain does not match with CMS certificate\n");

    // Two proofs that do not link.
    const std::string other = rotate(m_pki.seclab, m_pki.client, nullptr, m_dir / "other.pem");
    const ProofOfRotationChainHandle unlinked = readChain(other);
    ProofOfRotationChain* broken = sk_ProofOfRotation_new_null();
    sk_ProofOfRotation_push(broken, sk_ProofOfRotation_value(chain.get(), 0));
    sk_ProofOfRotation_push(broken, sk_ProofOfRotation_value(unlinked.get(), 0));
    const CmsHandle brokenCms = parse(cmsWithAttributes(content, m_pki.client, {{"rotationChain", chainDer(broken)}}));
    sk_ProofOfRotation_free(broken); // the proofs belong to the other chains
    testing::internal::CaptureStderr();
    EXPECT_EQ(cms_verify(content.data(), long(content.size()), brokenCms.get(), trusted.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "New SKID from proof[0] does not match old SKID from proof[1]\n"
              "Proof-of-rotation chain verification failed\n");
}
