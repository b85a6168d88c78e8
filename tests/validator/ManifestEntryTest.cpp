// The desktop-entry layer: which files it reads, how it splits lists, and
// what it answers for groups and keys that are not there.

#include "deskinfo/ManifestEntry.h"

#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <glib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using AppManifest::ManifestEntry;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

class ManifestEntryTest : public ::testing::Test {
protected:
    ManifestEntry parse(const std::string& content)
    {
        const std::string path = dir / ("entry" + std::to_string(++m_files) + ".desktop");
        TestKit::writeFile(path, content);
        auto entry = ManifestEntry::fromFilename(path);
        if (!entry)
            throw std::runtime_error("not parsed: " + content);
        return std::move(*entry);
    }

    TestKit::TempDir dir{"manifest-entry"};

private:
    int m_files = 0;
};

TEST_F(ManifestEntryTest, ListsSplitAtSemicolonsWithEscapesResolved)
{
    struct Case {
        std::string value;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases = {
        {"a;b", {"a", "b"}},
        // A last empty item is no item, an inner one is.
        {"a;b;", {"a", "b"}},
        {"a;;b", {"a", "", "b"}},
        {";", {""}},
        {"", {}},
        {"  a; b ", {"a", " b "}},
        {"a\\;b;c\\sd\\te\\\\", {"a;b", "c d\te\\"}},
        // GKeyFile refuses these lists; they are split all the same, with
        // what could not be interpreted kept as written.
        {"a\\qb;c", {"a\\qb", "c"}},
        {"Bad\xff;ok;", {"Bad\xff", "ok"}},
        {"a\\;b\xfe;end\\", {"a;b\xfe", "end\\"}},
        // GKeyFile would also warn on standard error about this one.
        {"a\\qb;c\\", {"a\\qb", "c\\"}},
    };
    // Whatever GLib would log is recorded instead of printed.
    std::vector<std::string> logged;
    const GLogFunc previous = g_log_set_default_handler(
        [](const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
            static_cast<std::vector<std::string>*>(data)->push_back(message);
        },
        &logged);
    for (const Case& c : cases) {
        const ManifestEntry entry = parse("[G]\nlist=" + c.value + "\n");
        EXPECT_THAT(entry.stringVectorValue("G", "list"), ElementsAreArray(c.items)) << c.value;
    }
    g_log_set_default_handler(previous, nullptr);
    EXPECT_THAT(logged, IsEmpty());
}

TEST_F(ManifestEntryTest, MissingGroupsAndKeysGiveEmptyResults)
{
    const ManifestEntry entry = parse("[Desktop Entry]\nName=App\n[Empty]\n");
    EXPECT_TRUE(entry.containsGroup("Empty"));
    EXPECT_FALSE(entry.containsGroup("Missing"));
    EXPECT_THAT(entry.groupKeys("Empty"), IsEmpty());
    EXPECT_THAT(entry.groupKeys("Missing"), IsEmpty());
    EXPECT_FALSE(entry.contains("Missing", "Name"));
    EXPECT_FALSE(entry.contains("Empty", "Name"));
    EXPECT_EQ(entry.value("Missing", "Name"), "");
    EXPECT_EQ(entry.value("Exec"), "");
    EXPECT_THAT(entry.stringVectorValue("Missing", "Name"), IsEmpty());
    EXPECT_THAT(entry.stringVectorValue("Desktop Entry", "Missing"), IsEmpty());
    EXPECT_EQ(entry.nameUnlocalized(), "App");
    EXPECT_EQ(entry.icon(), "");
    EXPECT_EQ(entry.type(), "");
    // No sandbox section at all.
    EXPECT_EQ(entry.appName(), "");
    EXPECT_EQ(entry.appOrgname(), "");
    EXPECT_THAT(entry.appPermissions(), IsEmpty());
}

TEST_F(ManifestEntryTest, GroupsAndKeysInFileOrderAndRawValues)
{
    const ManifestEntry entry = parse("# comment\n[B]\nz=1\nName[de]=x\n[A]\n[B]\ny=\\s2\nz=3\n");
    // A group opened again is one group, at its first place; a key given
    // again takes the later value.
    EXPECT_THAT(entry.groups(), ElementsAre("B", "A"));
    EXPECT_THAT(entry.groupKeys("B"), ::testing::IsSupersetOf({"z", "Name[de]", "y"}));
    EXPECT_EQ(entry.value("B", "z"), "3");
    EXPECT_EQ(entry.value("B", "y"), "\\s2");
    // Bytes that are not UTF-8 are kept for the caller to judge.
    EXPECT_EQ(parse("[Desktop Entry]\nName=A\xff\n").nameUnlocalized(), "A\xff");
    // The viewed value is the copied one, and empty for a missing key.
    for (const auto& [group, key] : {std::pair<std::string, std::string>{"B", "z"}, {"B", "y"}, {"A", "z"}, {"C", "z"}}) {
        std::string seen = "unset";
        entry.viewValue(group, key, [&seen](std::string_view value) { seen = value; });
        EXPECT_EQ(seen, entry.value(group, key)) << group << "/" << key;
    }
}

TEST_F(ManifestEntryTest, SandboxAccessorsReadTheLaterSection)
{
    const std::string tervane = "[X-Tervane]\nApplicationName=t\nOrganizationName=org.t\nPermissions=T\n";
    const std::string application = "[X-Application]\nApplicationName=a\nOrganizationName=org.a\nPermissions=A;B\n";
    const ManifestEntry both = parse(tervane + application);
    EXPECT_EQ(both.appName(), "t");
    EXPECT_EQ(both.appOrgname(), "org.t");
    EXPECT_THAT(both.appPermissions(), ElementsAre("T"));
    const ManifestEntry all = parse("[Tervane]\nApplicationName=old\n" + application + tervane);
    EXPECT_EQ(all.appName(), "old");
    EXPECT_THAT(all.appPermissions(), IsEmpty());
    EXPECT_THAT(parse(application).appPermissions(), ElementsAre("A", "B"));
}

TEST_F(ManifestEntryTest, OnlyRegularFilesGKeyFileAcceptsAreEntries)
{
    const std::string refused = dir / "refused";
    for (const char* content : {"[G]\nno equals sign\n", "key=before group\n", "[G\n", "[G]\nk[=v\n"}) {
        TestKit::writeFile(refused, content);
        EXPECT_FALSE(ManifestEntry::fromFilename(refused)) << content;
    }

    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir / "zero";
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    for (const std::string& path : {fifo, zero, dir.path(), dir / "missing"})
        EXPECT_FALSE(ManifestEntry::fromFilename(path)) << path;

    // Larger than any desktop file: refused before a byte is read.
    const std::string huge = dir / "huge";
    TestKit::writeFile(huge, "[G]\n");
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(ManifestEntry::kMaxFileBytes) + 1), 0);
    EXPECT_FALSE(ManifestEntry::fromFilename(huge));
    ASSERT_EQ(::truncate(huge.c_str(), 4), 0);
    EXPECT_TRUE(ManifestEntry::fromFilename(huge));
}

// `count` lines, each `before` the line's number `after`.
std::string numberedLines(std::size_t count, const std::string& before, const std::string& after)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += before + std::to_string(i) + after;
    return out;
}

// `head` padded by a comment to exactly `size` bytes.
std::string paddedTo(const std::string& head, std::size_t size)
{
    return head + "#" + std::string(size - head.size() - 2, 'c') + "\n";
}

TEST_F(ManifestEntryTest, FilesBeyondTheLimitsAreRefusedThoseAtThemRead)
{
    constexpr std::size_t groups = ManifestEntry::kMaxGroups;
    constexpr std::size_t keys = ManifestEntry::kMaxKeys;
    constexpr std::size_t bytes = ManifestEntry::kMaxFileBytes;
    struct Case {
        std::string what;
        std::string content;
        std::size_t groupsRead;  // 0: refused
    };
    const std::vector<Case> cases = {
        {"groups at the limit", numberedLines(groups, "[G", "]\n"), groups},
        {"one group more", numberedLines(groups + 1, "[G", "]\n"), 0},
        // Each line that opens a group counts, also one that opens a group
        // again, and wherever its blanks put it.
        {"one group opened at the limit", numberedLines(groups, "[G", "]\n").replace(0, 4, "[G1]"), groups - 1},
        {"one group opened once more", numberedLines(groups + 1, "[G", "]\n").replace(0, 4, "[G1]"), 0},
        {"indented groups", numberedLines(groups + 1, " \t[G", "]\n"), 0},
        {"keys at the limit", "[G]\n" + numberedLines(keys, "k", "=v\n"), 1},
        {"one key more", "[G]\n" + numberedLines(keys + 1, "k", "=v\n"), 0},
        {"keys of all groups together",
         "[A]\n" + numberedLines(keys / 2, "a", "=v\n") + "[B]\n" + numberedLines(keys / 2 + 1, "b", "=v\r\n"), 0},
        // GKeyFile drops comments and blank lines: they cost nothing.
        {"keys at the limit among comments",
         "[G]\n" + numberedLines(keys, "  # comment\n\n\t\r\nk", "=v\n") + numberedLines(keys, "#", "\n"), 1},
        {"size at the limit", paddedTo("[G]\nk=v\n", bytes), 1},
        {"one byte more", paddedTo("[G]\nk=v\n", bytes + 1), 0},
        {"a last key without its line feed", "[G]\n" + numberedLines(keys, "k", "=v\n") + "k=last", 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "limits.desktop";
        TestKit::writeFile(path, c.content);
        const auto entry = ManifestEntry::fromFilename(path);
        EXPECT_EQ(entry.has_value(), c.groupsRead != 0) << c.what;
        if (entry) {
            EXPECT_EQ(entry->groups().size(), c.groupsRead) << c.what;
        }
    }
}

// The caller's descriptor is read from the start, whatever was read of it
// before, and is still the caller's afterwards; the same refusals apply.
TEST_F(ManifestEntryTest, DescriptorsTheCallerOpenedAreReadFromTheStart)
{
    const std::string path = dir / "app.desktop";
    TestKit::writeFile(path, "[Desktop Entry]\nName=Opened\n");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char skipped[8];
    ASSERT_EQ(::read(fd, skipped, sizeof skipped), static_cast<ssize_t>(sizeof skipped));
    const auto entry = ManifestEntry::fromDescriptor(fd);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->nameUnlocalized(), "Opened");
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC) << "still open";
    ::close(fd);

    const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);
    EXPECT_FALSE(ManifestEntry::fromDescriptor(directory));
    ::close(directory);
    EXPECT_FALSE(ManifestEntry::fromDescriptor(-1));
}

} // namespace
