// The icon validator on real packages with PNG files written by libpng:
// presence and pixel size of the launcher icons, profiles without icons,
// and files that are no PNG, are broken, or claim a huge image.

#include "FileValidatorTest.h"
#include "Findings.h"
#include "Png.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using TestKit::error;

namespace {

const std::string N = "org.example.icon";

std::string iconPath(unsigned size)
{
    return "/usr/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/" + N + ".png";
}

std::string wrongIcon(const std::string& path) { return error("[" + path + "] Icon not found or file resolution is incorrect"); }

class IconPackageTest : public FileValidatorTest {
protected:
    IconPackageTest() : FileValidatorTest(N, "icon") {}

    // The application with its icons replaced by `icons` (size, entry).
    TestKit::Package withIcons(const std::vector<TestKit::Entry>& icons)
    {
        TestKit::Package package = application();
        std::erase_if(package.entries, [](const TestKit::Entry& entry) { return entry.path.ends_with(".png"); });
        package.entries.insert(package.entries.end(), icons.begin(), icons.end());
        return package;
    }
};

TEST_F(IconPackageTest, EverySizeMustBeThereAndSquare)
{
    std::string corrupt = TestKit::png(128, 128);
    for (std::size_t i = corrupt.size() - 60; i < corrupt.size() - 20; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    struct Case {
        const char* what;
        std::vector<TestKit::Entry> icons;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"all four, of different kinds",
         {TestKit::file(iconPath(86), TestKit::png(86, 86, PNG_COLOR_TYPE_PALETTE, 4)),
          TestKit::file(iconPath(108), TestKit::png(108, 108, PNG_COLOR_TYPE_GA, 8, true)),
          TestKit::file(iconPath(128), TestKit::png(128, 128, PNG_COLOR_TYPE_RGB, 16)),
          TestKit::file(iconPath(172), TestKit::png(172, 172, PNG_COLOR_TYPE_GRAY, 8))},
         {}},
        {"none", {}, {wrongIcon(iconPath(86)), wrongIcon(iconPath(108)), wrongIcon(iconPath(128)), wrongIcon(iconPath(172))}},
        // Files come in header order, the missing ones at the end.
        {"wrong sizes, a JPEG, a broken image, a size not asked for",
         {TestKit::file(iconPath(86), TestKit::png(86, 86)),
          TestKit::file(iconPath(108), TestKit::png(107, 108)),
          TestKit::file(iconPath(128), corrupt),
          TestKit::file(iconPath(172), "\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9"),
          TestKit::file(iconPath(64), "not an image")},
         {wrongIcon(iconPath(108)), wrongIcon(iconPath(128)), wrongIcon(iconPath(172))}},
        {"one missing, one as large as its header claims",
         {TestKit::file(iconPath(86), TestKit::png(86, 86)), TestKit::file(iconPath(108), TestKit::png(108, 108)),
          TestKit::file(iconPath(172), TestKit::pngHeaderOnly(100000, 100000))},
         {wrongIcon(iconPath(172)), wrongIcon(iconPath(128))}},
    };
    for (const Case& c : cases) {
        const Outcome outcome = check(withIcons(c.icons));
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.expected)) << c.what;
        EXPECT_EQ(outcome.exitCode, c.expected.empty() ? 0 : 1) << c.what;
        // libpng's own complaints about the broken ones never appear.
        EXPECT_THAT(outcome.result.rawErr, ::testing::Not(::testing::HasSubstr("libpng"))) << c.what;
        EXPECT_LT(outcome.result.run.maxRssKiB, 100 * 1024) << c.what;
    }
}

TEST_F(IconPackageTest, ProfilesThatDoNotAskForIconsCheckNone)
{
    const TestKit::Package package = withIcons({TestKit::file(iconPath(108), TestKit::png(107, 108))});
    for (const char* profile : {"extended", "auth"}) {
        const Outcome outcome = check(package, profile);
        EXPECT_THAT(outcome.lines, IsEmpty()) << profile;
    }
    // The antivirus profile needs no desktop file but asks for icons.
    EXPECT_THAT(check(package, "antivirus").lines,
                ElementsAre(wrongIcon(iconPath(108)), wrongIcon(iconPath(86)), wrongIcon(iconPath(128)),
                            wrongIcon(iconPath(172))));
}

TEST_F(IconPackageTest, IconsThatAreNoRegularFilesAreNotRead)
{
    TestKit::Package package = withIcons({TestKit::symlink(iconPath(86), "/dev/zero"), TestKit::fifo(iconPath(108)),
                                          TestKit::file(iconPath(128), TestKit::png(128, 128)),
                                          TestKit::symlink(iconPath(172), iconPath(128).substr(0, iconPath(128).rfind('/')) + "/../../../../../../dev/urandom")});
    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    const Outcome outcome = check(package, "regular", options);
    EXPECT_FALSE(outcome.result.run.timedOut);
    EXPECT_THAT(outcome.lines, ElementsAre(wrongIcon(iconPath(108)), wrongIcon(iconPath(172)), wrongIcon(iconPath(86))));
}

} // namespace
