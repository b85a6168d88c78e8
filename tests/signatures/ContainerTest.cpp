// Trailer codec and block location, reading and removal in package files.

#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <torvel/torvel.h>

#include "SignatureFixtures.h"

using namespace SignatureFixtures;
using PackageSignatures::FileWithCmses;

TEST(CmsHeaderCodec, WritesBothFormsByteForByte)
{
    EXPECT_EQ(hex(CmsHeader(2, 0x01020304).serialize()), "04030201" "02000000" "bb919ff0");
    EXPECT_EQ(hex(CmsHeader(3, 5).serialize()), "05000000" "03000000" "bb919ff0");
    EXPECT_EQ(hex(CmsHeader(1, 0x0000000102030405L).serialize()), "0504030201000000" "838e9ff0");
    EXPECT_EQ(hex(CmsHeader(0, 7).serialize()), "0700000000000000" "838e9ff0");
    // The current form keeps only the low 32 bits of the size.
    EXPECT_EQ(hex(CmsHeader(2, 0x100000002L).serialize()), "02000000" "02000000" "bb919ff0");
    EXPECT_EQ(CmsHeader().size(), 12);
    EXPECT_EQ(CmsHeader().version, 0u);
    EXPECT_EQ(CmsHeader().derSize, 0);
}

TEST(CmsHeaderCodec, ReadsTheLastTwelveBytes)
{
    Bytes buffer {0xAA, 0xBB};
    const Bytes trailer = currentTrailer(0x8000FFFFu, 7);
    buffer.insert(buffer.end(), trailer.begin(), trailer.end());
    const auto current = CmsHeader::read(buffer.data(), long(buffer.size()));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->version, 7u);
    EXPECT_EQ(current->derSize, 0x8000FFFFL); // zero-extended

    const Bytes legacy = legacyTrailer(0x0000000500000009ULL);
    const auto old = CmsHeader::read(legacy.data(), long(legacy.size()));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->version, 1u);
    EXPECT_EQ(old->derSize, 0x0000000500000009L);

    EXPECT_FALSE(CmsHeader::read(legacy.data(), 11));
    Bytes wrongMagic = legacy;
    wrongMagic.back() = 0xF1;
    EXPECT_FALSE(CmsHeader::read(wrongMagic.data(), long(wrongMagic.size())));

    for (unsigned version : {0u, 1u, 2u, 3u}) {
        const Bytes written = CmsHeader(version, 1234).serialize();
        const auto back = CmsHeader::read(written.data(), long(written.size()));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->version, version == 0 ? 1u : version);
        EXPECT_EQ(back->derSize, 1234);
    }
}

class FileWithCmsesTest : public ::testing::Test {
protected:
    std::string package(const Bytes& body)
    {
        const std::string path = m_dir / ("file" + std::to_string(m_count++));
        writeBytes(path, body);
        return path;
    }

    TestKit::TempDir m_dir {"sigcontainer"};
    int m_count = 0;
    // Not an RPM package: blocks may reach down to its first byte.
    const Bytes m_bare = Bytes {0x7F, 'E', 'L', 'F', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
};

TEST_F(FileWithCmsesTest, ShortAndEmptyFilesHaveNoBlocks)
{
    for (size_t size : {0, 4, 11}) {
        const std::string path = package(Bytes(size, 0x83));
        auto file = FileWithCmses::fromPath(path);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->cmses().empty());
        EXPECT_TRUE(file->deleteCmses(false));
        EXPECT_EQ(readBytes(path).size(), size);
    }
}

TEST_F(FileWithCmsesTest, RecognisesTheRpmLeadMagic)
{
    EXPECT_TRUE(FileWithCmses::fromPath(package({0xED, 0xAB, 0xEE, 0xDB, 1, 2}))->isRpmPackage());
    EXPECT_FALSE(FileWithCmses::fromPath(package({0xED, 0xAB, 0xEE}))->isRpmPackage());
    EXPECT_FALSE(FileWithCmses::fromPath(package({0xED, 0xAB, 0xEE, 0xDC, 0}))->isRpmPackage());
}

TEST_F(FileWithCmsesTest, LocatesBlocksOfEachVersionWithTheirLayout)
{
    const Bytes& der = sampleCms(0);
    Bytes v2 = m_bare;
    const Bytes block2 = blockV2(der);
    v2.insert(v2.end(), block2.begin(), block2.end());
    auto file = FileWithCmses::fromPath(package(v2));
    auto locations = file->locateCmses();
    ASSERT_EQ(locations.size(), 1u);
    EXPECT_EQ(v2.size(), m_bare.size() + der.size() + 12);
    EXPECT_EQ(locations[0].offset, long(m_bare.size()));
    EXPECT_EQ(locations[0].end, long(m_bare.size() + der.size()));
    EXPECT_EQ(locations[0].version, 2u);
    EXPECT_EQ(locations[0].size, long(der.size()));
    ASSERT_EQ(file->cmses().size(), 1u);
    EXPECT_EQ(file->cmses()[0].data(), der);

    Bytes v3 = m_bare;
    const Bytes block3 = blockV3(der);
    v3.insert(v3.end(), block3.begin(), block3.end());
    EXPECT_EQ(v3.size(), m_bare.size() + der.size() + 20);
    EXPECT_EQ(Bytes(v3.begin() + long(m_bare.size()), v3.begin() + long(m_bare.size()) + 8),
              (Bytes {0x50, 0x2A, 0x4D, 0x18, uint8_t(der.size() + 12), uint8_t((der.size() + 12) >> 8), 0, 0}));
    locations = FileWithCmses::fromPath(package(v3))->locateCmses();
    ASSERT_EQ(locations.size(), 1u);
    EXPECT_EQ(locations[0].offset, long(m_bare.size() + 8));
    EXPECT_EQ(locations[0].version, 3u);

    Bytes v1 = m_bare;
    const Bytes block1 = blockV1(der);
    v1.insert(v1.end(), block1.begin(), block1.end());
    locations = FileWithCmses::fromPath(package(v1))->locateCmses();
    ASSERT_EQ(locations.size(), 1u);
    EXPECT_EQ(locations[0].version, 1u);
    EXPECT_EQ(locations[0].size, long(der.size()));
}

TEST_F(FileWithCmsesTest, ListsMixedBlocksInFileOrderAndDeletesThem)
{
    const Bytes &first = sampleCms(1), &second = sampleCms(2), &third = sampleCms(3);
    Bytes body = m_bare;
    for (const Bytes& block : {blockV2(first), blockV3(second), blockV3(third)})
        body.insert(body.end(), block.begin(), block.end());
    const std::string path = package(body);
    auto file = FileWithCmses::fromPath(path);
    const auto cmses = file->cmses();
    ASSERT_EQ(cmses.size(), 3u);
    EXPECT_EQ(cmses[0].data(), first);
    EXPECT_EQ(cmses[1].data(), second);
    EXPECT_EQ(cmses[2].data(), third);

    // The third block goes with its frame header.
    ASSERT_TRUE(file->deleteCmses(true));
    EXPECT_EQ(readBytes(path).size(), body.size() - third.size() - 20);
    ASSERT_EQ(file->cmses().size(), 2u);
    EXPECT_EQ(file->cmses()[1].data(), second);

    ASSERT_TRUE(file->deleteCmses(false));
    EXPECT_EQ(readBytes(path), m_bare);
    EXPECT_TRUE(file->cmses().empty());
}

TEST_F(FileWithCmsesTest, IgnoresTrailersThatClaimTooMuch)
{
    Bytes body = m_bare;
    const Bytes trailer = currentTrailer(uint32_t(body.size() + 1), 2); // one byte more than there is
    body.insert(body.end(), trailer.begin(), trailer.end());
    EXPECT_TRUE(FileWithCmses::fromPath(package(body))->cmses().empty());

    // A bogus trailer before a good block ends the scan there.
    Bytes chained = m_bare;
    const Bytes bogus = currentTrailer(1000, 2);
    const Bytes good = blockV2(sampleCms(0));
    chained.insert(chained.end(), bogus.begin(), bogus.end());
    chained.insert(chained.end(), good.begin(), good.end());
    const auto cmses = FileWithCmses::fromPath(package(chained))->cmses();
    ASSERT_EQ(cmses.size(), 1u);
    EXPECT_EQ(cmses[0].data(), sampleCms(0));
}

// Reading, verifying and deleting find the same blocks in hostile endings of
// files, and nothing is ever removed but whole, well-formed blocks above
// the package.
TEST_F(FileWithCmsesTest, HostileTrailersAreNeverRemovedNorCutIntoThePackage)
{
    using Failure = PackageSignatures::VerificationFailure;
    const Bytes rpm = readBytes(buildPackage(m_dir.path()));
    Bytes unsized = rpm;
    unsized[100] = 1; // the signature header's reserved bytes: no length can be read
    const Bytes& cms = sampleCms(0);
    const Bytes notCms(40, 0x30);
    const auto joined = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    struct Case {
        const char* what;
        Bytes body;
        size_t located;
        bool removable;
        Failure failure;
        Bytes bare; // what deleting every block leaves
    };
    const std::vector<Case> cases {
        {"a trailer claiming the whole package", joined({rpm, currentTrailer(uint32_t(rpm.size()), 2)}), 0, false,
         Failure::NoBlocks, {}},
        {"a legacy trailer claiming the whole package", joined({rpm, legacyTrailer(rpm.size())}), 0, false,
         Failure::NoBlocks, {}},
        {"a trailer reaching 8 bytes into the package", joined({rpm, currentTrailer(8, 3)}), 0, false,
         Failure::NoBlocks, {}},
        {"a version-3 block without its frame header", joined({rpm, cms, currentTrailer(uint32_t(cms.size()), 3)}),
         1, false, Failure::MissingFrameHeader, {}},
        {"a trailer claiming a whole file that is no RPM", joined({m_bare, currentTrailer(uint32_t(m_bare.size()), 2)}),
         1, false, Failure::UnparsableBlock, {}},
        {"DER that is no CMS", joined({rpm, blockV2(notCms)}), 1, false, Failure::UnparsableBlock, {}},
        {"garbage after a good block", joined({rpm, blockV3(cms), blockV2(notCms)}), 2, false,
         Failure::UnparsableBlock, {}},
        {"an RPM that does not say how long it is", joined({unsized, blockV2(cms)}), 0, false, Failure::NoBlocks, {}},
        {"a good block", joined({rpm, blockV2(cms)}), 1, true, Failure::InvalidSignature, rpm},
        {"good blocks on a file that is no RPM", joined({m_bare, blockV3(cms), blockV2(cms)}), 2, true,
         Failure::InvalidSignature, m_bare},
    };
    for (const Case& c : cases) {
        const std::string path = package(c.body);
        auto file = FileWithCmses::fromPath(path);
        ASSERT_TRUE(file) << c.what;
        EXPECT_EQ(file->locateCmses().size(), c.located) << c.what;
        EXPECT_EQ(file->cmses().size(), c.located) << c.what;
        testing::internal::CaptureStderr();
        EXPECT_EQ(file->verify(Pki::instance().ca.certificate.c_str()).failure, c.failure) << c.what;
        testing::internal::GetCapturedStderr();
        if (c.removable) {
            EXPECT_TRUE(file->deleteCmses(false)) << c.what;
            EXPECT_EQ(readBytes(path), c.bare) << c.what;
            continue;
        }
        // Without blocks there is nothing to do; with a malformed one the
        // file stays as it is, whichever blocks were asked for.
        testing::internal::CaptureStderr();
        EXPECT_EQ(file->deleteCmses(true), c.located == 0) << c.what;
        EXPECT_EQ(file->deleteCmses(false), c.located == 0) << c.what;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(readBytes(path), c.body) << c.what;
        if (c.located > 0) {
            EXPECT_NE(err.find("signature block " + std::to_string(c.located) + " is malformed"), std::string::npos)
                << c.what << ": " << err;
        }
    }
}

TEST_F(FileWithCmsesTest, StackedTrailersAreLookedAtUpToALimit)
{
    // Far more empty trailers than any signer writes: the last 256 are
    // listed, which is enough to refuse the file everywhere.
    Bytes body = m_bare;
    for (int i = 0; i < 5000; ++i) {
        const Bytes trailer = currentTrailer(0, 2);
        body.insert(body.end(), trailer.begin(), trailer.end());
    }
    const std::string path = package(body);
    auto file = FileWithCmses::fromPath(path);
    const auto locations = file->locateCmses();
    ASSERT_EQ(locations.size(), 256u);
    EXPECT_EQ(locations.front().offset, long(body.size() - 256 * 12));
    EXPECT_EQ(locations.back().offset, long(body.size() - 12));
    EXPECT_EQ(file->verify(Pki::instance().ca.certificate.c_str()).failure,
              PackageSignatures::VerificationFailure::TooManyBlocks);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(file->deleteCmses(false));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readBytes(path), body);
}

TEST_F(FileWithCmsesTest, RejectsLegacySizesThatReadAsNegative)
{
    // 0xFFFF...F5 is -11 as a signed size: taken at face value it would put
    // the block past its own trailer.
    for (uint64_t size : {0xFFFFFFFFFFFFFFF5ULL, 0x8000000000000000ULL, 0x7FFFFFFFFFFFFFFFULL}) {
        Bytes body = m_bare;
        const Bytes trailer = legacyTrailer(size);
        body.insert(body.end(), trailer.begin(), trailer.end());
        const std::string path = package(body);
        auto file = FileWithCmses::fromPath(path);
        EXPECT_TRUE(file->cmses().empty()) << size;
        EXPECT_TRUE(file->deleteCmses(false));
        EXPECT_EQ(readBytes(path), body);
    }
}

TEST_F(FileWithCmsesTest, FallsBackToReadOnlyWhenTheFileCannotBeWritten)
{
    // Even root cannot open a running executable for writing (ETXTBSY):
    // give a copy of sleep a signature block and keep it running.
    const std::string path = m_dir / "busy";
    Bytes body = readBytes("/bin/sleep");
    const Bytes block = blockV2(sampleCms(0));
    body.insert(body.end(), block.begin(), block.end());
    writeBytes(path, body);
    chmod(path.c_str(), 0755);
    pid_t child = 0;
    char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("30"), nullptr};
    ASSERT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
    usleep(200000);

    testing::internal::CaptureStderr();
    auto file = FileWithCmses::fromPath(path);
    const std::string err = testing::internal::GetCapturedStderr();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    ASSERT_TRUE(file);
    EXPECT_EQ(err, "torvel: trying to reopen " + path
                       + " in read-only mode, as it failed to open in read-write mode (some features that modify a "
                         "file may fail with an error)\n");
    ASSERT_EQ(file->cmses().size(), 1u);
    EXPECT_EQ(file->cmses()[0].data(), sampleCms(0));
    EXPECT_FALSE(file->deleteCmses(false));
    EXPECT_EQ(readBytes(path), body);
}

TEST_F(FileWithCmsesTest, MissingFilesGiveNoObject)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FileWithCmses::fromPath(m_dir / "missing"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("missing in read-only mode"), std::string::npos);
    EXPECT_FALSE(FileWithCmses::fromPath((m_dir / "missing").c_str(), "r"));
}
