// PNG sizes read with GIL over libpng: every colour type decodes, and a
// file is never decoded unless its header declares the expected size.

#include "checks/icon/PngSize.h"
#include "package/PackagedFile.h"

#include "Png.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <png.h>

namespace Validator {
namespace {

// The test's files are the machine's own; the icon validator opens its
// files beneath the extraction root the same way.
bool isPngOfSize(const std::string& path, std::uint32_t width, std::uint32_t height)
{
    std::optional<PackagedFile> file = PackagedFile::openHostFile(path);
    return file && Validator::isPngOfSize(*file, width, height);
}

TEST(PngSizeTest, EveryKindOfImageDecodes)
{
    TestKit::TempDir dir;
    struct Kind {
        const char* name;
        int colorType;
        int bitDepth;
        bool interlaced;
    };
    for (const Kind& kind : {Kind{"rgba", PNG_COLOR_TYPE_RGBA, 8, false}, Kind{"rgb", PNG_COLOR_TYPE_RGB, 8, false},
                             Kind{"rgb16", PNG_COLOR_TYPE_RGB, 16, false}, Kind{"gray", PNG_COLOR_TYPE_GRAY, 8, false},
                             Kind{"gray1", PNG_COLOR_TYPE_GRAY, 1, false}, Kind{"gray-alpha", PNG_COLOR_TYPE_GA, 8, false},
                             Kind{"palette", PNG_COLOR_TYPE_PALETTE, 8, false},
                             Kind{"palette4", PNG_COLOR_TYPE_PALETTE, 4, false},
                             Kind{"interlaced", PNG_COLOR_TYPE_RGBA, 8, true}}) {
        const std::string path = dir / (std::string(kind.name) + ".png");
        TestKit::writeFile(path, TestKit::png(86, 86, kind.colorType, kind.bitDepth, kind.interlaced));
        EXPECT_TRUE(isPngOfSize(path, 86, 86)) << kind.name;
        EXPECT_FALSE(isPngOfSize(path, 108, 108)) << kind.name;
        EXPECT_FALSE(isPngOfSize(path, 86, 87)) << kind.name;
    }
}

TEST(PngSizeTest, BrokenFilesAreNotOfAnySize)
{
    TestKit::TempDir dir;
    const std::string good = TestKit::png(128, 128);
    // The last image data chunk is followed by the 12-byte end chunk.
    std::string corrupt = good;
    for (std::size_t i = corrupt.size() - 60; i < corrupt.size() - 20; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"header-only", good.substr(0, 33)},
        {"corrupt", corrupt},
        {"signature-only", good.substr(0, 8)},
        {"jpeg", "\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9"},
        {"empty", ""},
        // A header claiming 128 rows with data for one.
        {"short-data", TestKit::pngHeaderOnly(128, 128)},
    };
    for (const auto& [name, content] : files) {
        TestKit::writeFile(dir / name, content);
        EXPECT_FALSE(isPngOfSize(dir / name, 128, 128)) << name;
    }
    EXPECT_FALSE(isPngOfSize(dir / "missing", 128, 128));
    EXPECT_FALSE(isPngOfSize(dir.path(), 128, 128));
    EXPECT_FALSE(isPngOfSize("/dev/zero", 128, 128));
}

TEST(PngSizeTest, HugeDeclaredImagesAreNotDecoded)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "huge", TestKit::pngHeaderOnly(100000, 100000));
    // Decoding would need 40 GB; reading the header needs nothing.
    EXPECT_FALSE(isPngOfSize(dir / "huge", 172, 172));
    EXPECT_FALSE(isPngOfSize(dir / "huge", 100000, 172));
}

} // namespace
} // namespace Validator
