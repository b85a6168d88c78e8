// Byte layouts written into signature blocks and the rule of who may sign
// where, checked byte for byte and case by case.

#include <optional>

#include <gtest/gtest.h>

#include <openssl/obj_mac.h>

#include "SignatureFixtures.h"
#include "container/BlockLayout.h"
#include "container/RpmExtent.h"
#include "container/SigningPosition.h"
#include "filesignatures/ImaSignature.h"
#include "filesignatures/TaSignedHeader.h"

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

namespace {

struct IndexEntry {
    uint32_t tag;
    uint32_t type;
    uint32_t offset;
    uint32_t count;
};

void appendBe32(Bytes& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

// A lead and a signature header with the given entries and data, padded to
// a multiple of 8, as rpmbuild writes them.
Bytes rpmStart(const std::vector<IndexEntry>& entries, const Bytes& data)
{
    Bytes out {0xED, 0xAB, 0xEE, 0xDB, 3, 0};
    out.resize(96, 0);
    out[79] = 5; // signature type: header-style signature
    for (uint8_t byte : {0x8E, 0xAD, 0xE8, 0x01, 0x00, 0x00, 0x00, 0x00})
        out.push_back(byte);
    appendBe32(out, uint32_t(entries.size()));
    appendBe32(out, uint32_t(data.size()));
    for (const IndexEntry& entry : entries) {
        appendBe32(out, entry.tag);
        appendBe32(out, entry.type);
        appendBe32(out, entry.offset);
        appendBe32(out, entry.count);
    }
    for (uint8_t byte : data)
        out.push_back(byte);
    out.resize((out.size() + 7) / 8 * 8, 0);
    return out;
}

} // namespace

TEST(RpmExtentCodec, ReadsThePackageLengthFromItsSignatureHeader)
{
    // Data: a 4-byte SIZE of 0x1234 at 0, then a 64-bit LONGSIZE at 4.
    const Bytes data {0, 0, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0xAA};
    const Bytes longer {0, 0, 0x12, 0x34, 0, 0, 0, 1, 0, 0, 0, 0};
    const IndexEntry region {62, 7, 0, 1}; // another tag, left alone
    const IndexEntry size {1000, 4, 0, 1};
    const IndexEntry longSize {270, 5, 4, 1};
    // 96 + 16 + 16 * entries + 13 bytes of data, padded to a multiple of 8.
    const int64_t oneEntry = 96 + 48 + 0x1234;
    const int64_t twoEntries = 96 + 64 + 0x1234;
    const int64_t threeEntries = 96 + 80 + 0x1234;

    struct Case {
        const char* what;
        Bytes bytes;
        std::optional<int64_t> length;
    };
    const std::vector<Case> cases {
        {"SIZE", rpmStart({size}, data), oneEntry},
        {"LONGSIZE", rpmStart({longSize}, data), oneEntry},
        {"both, agreeing", rpmStart({region, size, longSize}, data), threeEntries},
        {"both, disagreeing", rpmStart({size, longSize}, longer), std::nullopt},
        {"no size at all", rpmStart({region}, data), std::nullopt},
        {"SIZE of another type", rpmStart({{1000, 5, 4, 1}}, data), std::nullopt},
        {"SIZE past the data", rpmStart({{1000, 4, 10, 1}}, data), std::nullopt},
        {"SIZE offset far out", rpmStart({{1000, 4, 0xFFFFFFFE, 1}}, data), std::nullopt},
        {"two SIZE values", rpmStart({{1000, 4, 0, 2}}, data), std::nullopt},
        {"no entries", rpmStart({}, data), std::nullopt},
        {"region and SIZE", rpmStart({region, size}, data), twoEntries},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rpmPackageLength(c.bytes.data(), c.bytes.size()), c.length) << c.what;
        // Every byte of the signature section is needed.
        EXPECT_FALSE(rpmPackageLength(c.bytes.data(), c.bytes.size() - 1)) << c.what;
    }

    const Bytes good = rpmStart({size}, data);
    ASSERT_EQ(rpmSignatureSectionEnd(good.data(), good.size()), good.size());
    const std::vector<std::pair<size_t, uint8_t>> damages {
        {0, 0xEE},        // lead magic
        {4, 5},           // lead major version
        {79, 1},          // signature type
        {96, 0x8F},       // header magic
        {100, 1},         // reserved bytes
        {104, 0x01},      // index count 0x01000001: beyond librpm's limit
        {108, 0x01},      // data size 16 MiB and more
    };
    for (const auto& [offset, value] : damages) {
        Bytes damaged = good;
        damaged[offset] = value;
        EXPECT_FALSE(rpmPackageLength(damaged.data(), damaged.size())) << offset;
    }
    EXPECT_FALSE(rpmSignatureSectionEnd(good.data(), rpmStartSize - 1));
    EXPECT_FALSE(rpmPackageLength(nullptr, 0));
}

TEST(RpmExtentCodec, MeasuresPackagesRpmbuildMade)
{
    TestKit::TempDir directory {"sigextent"};
    for (const char* compressor : {"gzip", "zstd", "none"}) {
        TestKit::Package description;
        description.compressor = compressor;
        description.entries = {TestKit::file("/usr/share/extent/data", std::string(5000, 'x'))};
        const Bytes package = SignatureFixtures::readBytes(TestKit::buildRpm(description, directory.path()));
        EXPECT_EQ(rpmPackageLength(package.data(), package.size()), int64_t(package.size())) << compressor;
    }
}
