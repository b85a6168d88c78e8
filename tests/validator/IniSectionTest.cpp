// The capabilities group is read by Boost's INI reader into a digest that
// holds little; its verdict and its entries must be those of the reader
// filling an ordinary property tree. Every file of up to four lines from a
// pool of awkward lines is read both ways.

#include "checks/desktop/IniSection.h"
#include "deskinfo/ManifestEntry.h"
#include "package/PackagedFile.h"

#include "TestKit.h"

#include <boost/property_tree/ini_parser.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

namespace Validator {
namespace {

const std::vector<std::string> kValuesOf = {"Input", "UserInterface", "ScreenOrientation"};

// The test's files are the machine's own; the capabilities checker opens
// the desktop file beneath the extraction root the same way.
std::optional<IniEntries> readCapabilitiesSection(const std::string& path, const std::vector<std::string>& valuesOf)
{
    std::optional<PackagedFile> file = PackagedFile::openHostFile(path);
    return file ? Validator::readCapabilitiesSection(*file, valuesOf) : std::nullopt;
}

// What the capabilities checker needs, from a full property tree.
std::optional<IniEntries> throughPropertyTree(const std::string& content)
{
    std::istringstream stream(content);
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::ini_parser::read_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error&) {
        return std::nullopt;
    }
    IniEntries entries;
    const auto section = tree.find(kCapabilitiesGroup);
    if (section == tree.not_found())
        return entries;
    for (const auto& [key, node] : section->second) {
        const bool withValue = std::find(kValuesOf.begin(), kValuesOf.end(), key) != kValuesOf.end();
        entries.emplace_back(key, withValue ? node.data() : std::string());
    }
    return entries;
}

TEST(IniSectionTest, DigestAgreesWithThePropertyTree)
{
    const std::vector<std::string> pool = {
        "[X-Taliro-Capabilities]\n",
        "  [ X-Taliro-Capabilities ]  trailing\r\n",
        "[Desktop Entry]\n",
        "[Unclosed\n",
        "Input = Mouse;Tablet \r\n",
        "Input=Keyboard\n",
        "ScreenOrientation==Portrait\n",
        "Camera=Front\n",
        "Name=x=y\n",
        "no equals sign\n",
        "=value\n",
        "; comment=1\n",
        "\t# comment\n",
        "\n",
        std::string(70, ' ') + "Input" + std::string(70, ' ') + "=long key\n",
    };
    // One memory-backed file rewritten for every case: no disk in the loop.
    const int fd = ::memfd_create("ini-section", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::size_t files = 0, refused = 0, withEntries = 0;
    std::vector<std::size_t> pick;
    const auto check = [&](const std::string& content) {
        ASSERT_EQ(::ftruncate(fd, 0), 0);
        ASSERT_EQ(::pwrite(fd, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
        const auto expected = throughPropertyTree(content);
        const auto actual = readCapabilitiesSection(path, kValuesOf);
        ++files;
        refused += !expected;
        withEntries += expected && !expected->empty();
        ASSERT_EQ(actual.has_value(), expected.has_value()) << content;
        if (expected) {
            ASSERT_EQ(*actual, *expected) << content;
        }
    };
    // Every sequence of up to four lines of the pool.
    std::vector<std::string> level = {""};
    for (int length = 1; length <= 4; ++length) {
        std::vector<std::string> next;
        for (const std::string& prefix : level) {
            for (const std::string& line : pool) {
                next.push_back(prefix + line);
                check(next.back());
                // The last line without its newline, too.
                check(next.back().substr(0, next.back().size() - 1));
            }
        }
        level = std::move(next);
        if (length == 3)
            level.resize(level.size() / 8);  // keeps the run short
    }
    ::close(fd);
    EXPECT_GT(refused, files / 4);
    EXPECT_GT(withEntries, files / 20);
}

TEST(IniSectionTest, FilesThatAreNoRegularFilesAreNotRead)
{
    EXPECT_FALSE(readCapabilitiesSection("/dev/zero", kValuesOf));
    EXPECT_FALSE(readCapabilitiesSection("/nonexistent/file", kValuesOf));
}

std::string numberedLines(std::size_t count, const std::string& before, const std::string& after)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += before + std::to_string(i) + after;
    return out;
}

// The reader holds every section name: it takes no file that the
// desktop-entry layer would refuse for its size, its sections or its keys.
TEST(IniSectionTest, FilesBeyondTheDesktopEntryLimitsAreRefused)
{
    using AppManifest::ManifestEntry;
    constexpr std::size_t sections = ManifestEntry::kMaxGroups;
    constexpr std::size_t keys = ManifestEntry::kMaxKeys;
    const std::string capabilities = std::string("[") + kCapabilitiesGroup + "]\nInput=Mouse\n";
    const std::string other = "[Other]\n";
    const std::string head = capabilities + other + "k=v\n";
    const auto padded = [&head](std::size_t size) { return head + ";" + std::string(size - head.size() - 2, 'c') + "\n"; };
    struct Case {
        std::string what;
        std::string content;
        bool read;
    };
    const std::vector<Case> cases = {
        {"sections at the limit", capabilities + numberedLines(sections - 1, "[S", "]\n"), true},
        {"one section more", capabilities + numberedLines(sections, "[S", "]\n"), false},
        {"keys at the limit", capabilities + other + numberedLines(keys - 1, "k", "=v\n"), true},
        {"one key more", capabilities + other + numberedLines(keys, "k", "=v\n"), false},
        // Comments, ";" ones too, and blank lines are not held.
        {"keys at the limit among comments",
         capabilities + other + numberedLines(keys - 1, "; c=1\n\t# c\n \r\nk", "=v\n"), true},
        {"size at the limit", padded(ManifestEntry::kMaxFileBytes), true},
        {"one byte more", padded(ManifestEntry::kMaxFileBytes + 1), false},
    };
    const TestKit::TempDir dir("ini-limits");
    for (const Case& c : cases) {
        const std::string path = dir / "entry.desktop";
        TestKit::writeFile(path, c.content);
        const auto entries = readCapabilitiesSection(path, kValuesOf);
        EXPECT_EQ(entries.has_value(), c.read) << c.what;
        if (entries && c.read) {
            EXPECT_EQ(*entries, (IniEntries{{"Input", "Mouse"}})) << c.what;
        }
    }
}

} // namespace
} // namespace Validator
