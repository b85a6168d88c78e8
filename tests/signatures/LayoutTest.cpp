// Byte layouts written into signature blocks and the rule of who may sign
// where, checked byte for byte and case by case.

#include <gtest/gtest.h>

#include <openssl/obj_mac.h>

#include "BlockLayout.h"
#include "ImaSignature.h"
#include "SignatureFixtures.h"
#include "SigningPosition.h"
#include "TaSignedHeader.h"

using namespace PackageSignatures;
using SignatureFixtures::Bytes;

TEST(ImaSignatureCodec, WritesTheVersion2HeaderByteForByte)
{
    ImaSignature value;
    value.hashAlgorithm = 4;
    value.keyIdTail = {0xDE, 0xAD, 0xBE, 0xEF};
    value.signature = Bytes(0x102, 0x5A);
    const Bytes bytes = value.serialize();
    ASSERT_EQ(bytes.size(), 9u + 0x102);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 9), (Bytes {0x03, 0x02, 0x04, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02}));
    EXPECT_EQ(Bytes(bytes.begin() + 9, bytes.end()), value.signature);

    const auto parsed = ImaSignature::parse(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->hashAlgorithm, 4);
    EXPECT_EQ(parsed->keyIdTail, value.keyIdTail);
    EXPECT_EQ(parsed->signature, value.signature);
}

TEST(ImaSignatureCodec, RefusesWhatIsNotOneValue)
{
    Bytes bytes = ImaSignature {18, {1, 2, 3, 4}, {9, 9, 9}}.serialize();
    EXPECT_FALSE(ImaSignature::parse(bytes.data(), bytes.size() - 1));
    bytes.push_back(0);
    EXPECT_FALSE(ImaSignature::parse(bytes.data(), bytes.size()));
    bytes.pop_back();
    bytes[0] = 2; // not a digital signature
    EXPECT_FALSE(ImaSignature::parse(bytes.data(), bytes.size()));
    bytes[0] = 3;
    bytes[1] = 1; // format version 1
    EXPECT_FALSE(ImaSignature::parse(bytes.data(), bytes.size()));
    EXPECT_FALSE(ImaSignature::parse(nullptr, 0));
}

TEST(ImaSignatureCodec, NamesHashesByTheKernelsCodes)
{
    const std::vector<std::pair<int, int>> codes {
        {NID_md4, 0},    {NID_md5, 1},    {NID_sha1, 2},   {NID_ripemd160, 3},
        {NID_sha256, 4}, {NID_sha384, 5}, {NID_sha512, 6}, {NID_sha224, 7},
        {NID_id_GostR3411_2012_256, 18}, {NID_id_GostR3411_2012_512, 19},
    };
    for (const auto& [nid, code] : codes) {
        ASSERT_TRUE(imaHashAlgorithm(nid)) << nid;
        EXPECT_EQ(*imaHashAlgorithm(nid), code) << nid;
    }
    EXPECT_FALSE(imaHashAlgorithm(NID_sha3_256));
    EXPECT_FALSE(imaHashAlgorithm(NID_id_GostR3411_94));
}

TEST(ImaSignatureCodec, TakesTheLastFourBytesOfTheKeyId)
{
    const Bytes identifier {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(keyIdTail(identifier.data(), identifier.size()), (std::array<uint8_t, 4> {3, 4, 5, 6}));
    EXPECT_EQ(keyIdTail(identifier.data(), 4), (std::array<uint8_t, 4> {1, 2, 3, 4}));
    EXPECT_EQ(keyIdTail(identifier.data(), 3), (std::array<uint8_t, 4> {}));
    EXPECT_EQ(keyIdTail(nullptr, 0), (std::array<uint8_t, 4> {}));
}

TEST(TaSignedHeaderCodec, WritesOpteesSignedHeaderByteForByte)
{
    TaSignedHeader header;
    header.imageSize = 0x01020304;
    header.algorithm = taAlgorithmRsaPkcs1Sha256;
    header.hash = Bytes(32, 0xAA);
    header.signature = Bytes(3, 0xBB);
    for (size_t i = 0; i < header.uuid.size(); ++i)
        header.uuid[i] = uint8_t(0xC0 + i);
    const Bytes bytes = header.serialize();
    ASSERT_EQ(bytes.size(), 32u + 3 + 40);
    const Bytes leading {0x48, 0x53, 0x54, 0x4F, 0x01, 0x00, 0x00, 0x00, 0x04, 0x03,
                         0x02, 0x01, 0x30, 0x48, 0x00, 0x70, 0x20, 0x00, 0x03, 0x00};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20), leading);
    EXPECT_EQ(header.leadingFields(), leading);
    EXPECT_EQ(Bytes(bytes.begin() + 20, bytes.begin() + 52), header.hash);
    EXPECT_EQ(Bytes(bytes.begin() + 52, bytes.begin() + 55), header.signature);
    Bytes trailing(20, 0);
    std::copy(header.uuid.begin(), header.uuid.end(), trailing.begin());
    EXPECT_EQ(Bytes(bytes.begin() + 55, bytes.end()), trailing);
    EXPECT_EQ(header.trailingFields(), trailing);

    const auto parsed = TaSignedHeader::parse(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->serialize(), bytes);
    EXPECT_FALSE(TaSignedHeader::parse(bytes.data(), bytes.size() - 1));
    Bytes wrongMagic = bytes;
    wrongMagic[0] = 0x49;
    EXPECT_FALSE(TaSignedHeader::parse(wrongMagic.data(), wrongMagic.size()));
}

TEST(TaSignedHeaderCodec, ReadsUuidsFromFileNames)
{
    const std::array<uint8_t, 16> expected {0x8a, 0xaa, 0xf2, 0x00, 0x24, 0x50, 0x11, 0xe4,
                                            0xab, 0xe2, 0x00, 0x02, 0xa5, 0xd5, 0xc5, 0x1b};
    EXPECT_EQ(taUuidFromFileName("8aaaf200-2450-11e4-abe2-0002a5d5c51b.ta"), expected);
    EXPECT_EQ(taUuidFromFileName("8aaaf200-2450-11e4-abe20002a5d5c51b.ta"), expected);
    EXPECT_EQ(taUuidFromFileName("8AAAF200-2450-11E4-ABE2-0002A5D5C51B.ta"), expected);
    EXPECT_FALSE(taUuidFromFileName("8aaaf200-2450-11e4-abe2.ta"));
    EXPECT_FALSE(taUuidFromFileName("trustlet.ta"));
    EXPECT_FALSE(taUuidFromFileName(".ta"));
    EXPECT_FALSE(taUuidFromFileName(nullptr));
}

TEST(BlockLayoutCodec, FramesVersion3BlocksAsSkippableFrames)
{
    const Bytes der {0x30, 0x03, 0x02, 0x01, 0x07};
    const Bytes v2 = encodeBlock(2, der.data(), der.size());
    EXPECT_EQ(v2, SignatureFixtures::blockV2(der));
    EXPECT_EQ(v2.size(), der.size() + 12);
    const Bytes v3 = encodeBlock(3, der.data(), der.size());
    EXPECT_EQ(v3, SignatureFixtures::blockV3(der));
    ASSERT_EQ(v3.size(), der.size() + 20);
    EXPECT_EQ(Bytes(v3.begin(), v3.begin() + 8), (Bytes {0x50, 0x2A, 0x4D, 0x18, 17, 0, 0, 0}));

    EXPECT_EQ(blockStart(CmsLocation {100, 105, 3, 5}), 92);
    EXPECT_EQ(blockStart(CmsLocation {100, 105, 2, 5}), 100);
    EXPECT_EQ(blockStart(CmsLocation {7, 12, 3, 5}), 7);
}

TEST(SigningPositionRule, DeveloperFirstThenSeclabOrClientThenClient)
{
    const auto allowed = [](std::vector<Group> blocks, Group signer) {
        return planSigningPosition(blocks, signer, false).allowed;
    };
    EXPECT_TRUE(allowed({}, GroupDeveloper));
    for (const Group signer : {GroupNone, GroupSeclab, GroupClient})
        EXPECT_FALSE(allowed({}, signer)) << signer;
    EXPECT_TRUE(allowed({GroupDeveloper}, GroupSeclab));
    EXPECT_TRUE(allowed({GroupDeveloper}, GroupClient));
    EXPECT_FALSE(allowed({GroupDeveloper}, GroupDeveloper));
    EXPECT_FALSE(allowed({GroupDeveloper}, GroupNone));
    EXPECT_TRUE(allowed({GroupDeveloper, GroupSeclab}, GroupClient));
    EXPECT_FALSE(allowed({GroupDeveloper, GroupSeclab}, GroupSeclab));
    EXPECT_FALSE(allowed({GroupDeveloper, GroupClient}, GroupClient));
    EXPECT_FALSE(allowed({GroupDeveloper, GroupSeclab, GroupClient}, GroupClient));
    EXPECT_EQ(planSigningPosition({GroupDeveloper, GroupSeclab}, GroupClient, false).keptBlocks, 2u);
}

TEST(SigningPositionRule, ReplacingDropsTheSignersOwnBlockOrEveryBlockForADeveloper)
{
    struct Case {
        std::vector<Group> blocks;
        Group signer;
        bool allowed;
        size_t kept;
    };
    const std::vector<Case> cases {
        {{GroupDeveloper}, GroupDeveloper, true, 0},
        {{GroupDeveloper, GroupSeclab}, GroupDeveloper, true, 0},
        {{GroupDeveloper, GroupSeclab, GroupClient}, GroupDeveloper, true, 0},
        {{GroupDeveloper, GroupSeclab}, GroupSeclab, true, 1},
        {{GroupDeveloper, GroupSeclab}, GroupClient, true, 2},
        {{GroupDeveloper, GroupClient}, GroupClient, true, 1},
        {{GroupDeveloper, GroupSeclab, GroupClient}, GroupClient, true, 2},
        {{GroupDeveloper, GroupClient}, GroupSeclab, false, 2},
        {{GroupDeveloper, GroupSeclab, GroupClient}, GroupSeclab, false, 3},
        {{}, GroupClient, false, 0},
    };
    for (const Case& c : cases) {
        const SigningPosition position = planSigningPosition(c.blocks, c.signer, true);
        EXPECT_EQ(position.allowed, c.allowed) << c.blocks.size() << " blocks, signer " << c.signer;
        EXPECT_EQ(position.keptBlocks, c.kept) << c.blocks.size() << " blocks, signer " << c.signer;
    }
}
