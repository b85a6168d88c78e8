// Files of an unpacked package are reached beneath its root, links of the
// package read as if the root were "/": by openat2 and by the walk that
// stands in for it, alike.

#include "package/UnpackedTree.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace Validator {
namespace {

std::optional<std::string> readAll(const Common::UniqueFd& fd)
{
    if (!fd)
        return std::nullopt;
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

class UnpackedTreeTest : public ::testing::Test {
protected:
    UnpackedTreeTest()
    {
        // The host's file lies beside the root; the package holds a file of
        // its own at the same path below the root, which is what an
        // absolute link to that path means in the package.
        TestKit::writeFile(outside(), "host secret");
        TestKit::writeFile(root() + outside(), "package's own copy");
        TestKit::writeFile(root() + "/usr/share/app/data", "own data");
        TestKit::writeFile(root() + "/usr/bin/app", "main");
        link("/usr/share/app/data", "/usr/share/app/absolute");
        link("../app/data", "/usr/share/app/relative");
        link("/usr/share", "/usr/share/app/share");
        link("share/app/data", "/usr/share/app/through-directory");
        link("/", "/usr/share/app/root");
        link("../../../usr/bin/app", "/usr/share/app/up-three");
        link(outside(), "/usr/share/app/to-host");
        link(climb() + outside().substr(1), "/usr/share/app/climbing");
        // A directory of this machine the package has no copy of.
        TestKit::writeFile(other / "secret", "other host secret");
        link(other.path(), "/usr/share/app/host-directory");
        link("host-directory/secret", "/usr/share/app/through-host-directory");
        link("loop", "/usr/share/app/loop");
        link("nowhere", "/usr/share/app/dangling");
        link("/proc/self/fd/0", "/usr/share/app/magic");
    }

    static std::string climb()
    {
        std::string up;
        for (int i = 0; i < 30; ++i)
            up += "../";
        return up;
    }

    std::string root() const { return tree.path(); }
    std::string outside() const { return host / "secret"; }
    void link(const std::string& target, const std::string& path)
    {
        fs::create_directories(fs::path(root() + path).parent_path());
        fs::create_symlink(target, root() + path);
    }

    TestKit::TempDir host{"unpacked-host"};
    TestKit::TempDir other{"unpacked-other"};
    TestKit::TempDir tree{"unpacked-tree"};
};

TEST_F(UnpackedTreeTest, PathsResolveAsIfTheRootWereSlash)
{
    struct Case {
        std::string path;
        std::optional<std::string> text;  // nullopt: not reached, with `error`
        int error = 0;
    };
    const std::string own = "own data";
    const std::string ownCopy = "package's own copy";
    const std::vector<Case> cases = {
        {"/usr/share/app/data", own},
        {"usr/share/app/data", own},
        {"/usr/share/app/absolute", own},
        {"/usr/share/app/relative", own},
        {"/usr/share/app/through-directory", own},
        {"/usr/share/app/share/app/absolute", own},
        {"/usr/share/app/root/usr/share/app/data", own},
        {"/usr/share/app/up-three", std::string("main")},
        {"/../../../usr/share/./app//data", own},
        {"/usr/share/app/root/../../../usr/share/app/data", own},
        // Links meant for this machine's files lead to the package's own
        // file of that path, or to nothing.
        {"/usr/share/app/to-host", ownCopy},
        {"/usr/share/app/climbing", ownCopy},
        {"/usr/share/app/through-host-directory", std::nullopt, ENOENT},
        {"/usr/share/app/host-directory/secret", std::nullopt, ENOENT},
        {"/usr/share/app/magic", std::nullopt, ENOENT},
        {"/usr/share/app/loop", std::nullopt, ELOOP},
        {"/usr/share/app/dangling", std::nullopt, ENOENT},
        {"/usr/share/app/data/", std::nullopt, ENOTDIR},
        {"/usr/share/app/data/x", std::nullopt, ENOTDIR},
        {"", std::nullopt, ENOENT},
    };
    const UnpackedTree unpacked(root());
    ASSERT_TRUE(unpacked.hasRoot());
    const Common::UniqueFd rootFd(::open(root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(rootFd);
    const std::vector<std::pair<std::string, std::function<Common::UniqueFd(const std::string&)>>> ways = {
        {"openat2", [&](const std::string& path) { return unpacked.open(path, O_RDONLY); }},
        {"walk", [&](const std::string& path) { return openInRootByWalking(rootFd.get(), path, O_RDONLY); }},
    };
    for (const auto& [way, open] : ways) {
        for (const Case& c : cases) {
            errno = 0;
            const Common::UniqueFd fd = open(c.path);
            const int error = errno;
            EXPECT_EQ(readAll(fd), c.text) << way << ": " << c.path;
            if (!c.text) {
                EXPECT_EQ(error, c.error) << way << ": " << c.path << ": " << std::strerror(error);
            }
        }
    }
}

TEST_F(UnpackedTreeTest, ResolvedPathsAndStatusStayInThePackage)
{
    const UnpackedTree unpacked(root());
    EXPECT_EQ(unpacked.resolve("/"), "/");
    EXPECT_EQ(unpacked.resolve("/usr/share/app/up-three"), "/usr/bin/app");
    EXPECT_EQ(unpacked.resolve("/usr/share/app/through-directory"), "/usr/share/app/data");
    EXPECT_EQ(unpacked.resolve("/usr/share/app/root/.."), "/");
    EXPECT_EQ(unpacked.resolve("/usr/share/app/to-host"), outside());
    errno = 0;
    EXPECT_EQ(unpacked.resolve("/usr/share/app/through-host-directory"), std::nullopt);
    EXPECT_EQ(errno, ENOENT);

    const auto isDirectory = [&](const std::string& path) {
        const auto status = unpacked.status(path);
        return status && S_ISDIR(status->st_mode);
    };
    EXPECT_TRUE(isDirectory("/usr/share/app/share"));
    EXPECT_TRUE(isDirectory("/usr/share/app/root"));
    EXPECT_FALSE(isDirectory("/usr/share/app/host-directory"));
    EXPECT_FALSE(isDirectory("/usr/share/app/absolute"));

    // A tree without a root reaches nothing.
    const UnpackedTree none;
    EXPECT_FALSE(none.open("/usr/share/app/data", O_RDONLY));
    EXPECT_FALSE(UnpackedTree(root() + "/missing").open("/usr/share/app/data", O_RDONLY));
}

} // namespace
} // namespace Validator
