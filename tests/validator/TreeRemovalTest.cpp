// Removing an extraction root with a bounded number of descriptors,
// whatever the package made of it.

#include "app/TreeRemoval.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Validator {
namespace {

// Runs removeTree in a child process that may hold no more than five
// descriptors (standard input, output and error included); its exit status
// is 0 when removeTree reported success.
int removeWithFiveDescriptors(const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::close_range(3, ~0U, 0);
        const rlimit limit {5, 5};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(99);
        ::_exit(removeTree(path) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(TreeRemovalTest, TreesOfEveryShapeGoWithFiveDescriptors)
{
    TestKit::TempDir outside{"outside"};
    TestKit::writeFile(outside / "keep/marker", "host file\n");
    struct Case {
        const char* what;
        void (*make)(const std::string& root, const std::string& outside);
    };
    const Case cases[] = {
        {"an empty root", [](const std::string&, const std::string&) {}},
        {"files and directories",
         [](const std::string& root, const std::string&) {
             for (int i = 0; i < 50; ++i)
                 TestKit::writeFile(root + "/usr/share/d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x");
         }},
        {"links to the host, which are never followed",
         [](const std::string& root, const std::string& outside) {
             fs::create_directories(root + "/usr");
             fs::create_directory_symlink(outside + "/keep", root + "/usr/keep");
             fs::create_symlink(outside + "/keep/marker", root + "/marker");
         }},
        {"a tree deeper than PATH_MAX (6000 bytes of names)",
         [](const std::string& root, const std::string&) {
             int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
             for (int level = 0; level < 1000; ++level) {
                 ::mkdirat(fd, "level", 0755);
                 const int next = ::openat(fd, "level", O_RDONLY | O_DIRECTORY);
                 ::close(fd);
                 fd = next;
             }
             ::close(::openat(fd, "leaf", O_CREAT | O_WRONLY, 0644));
             ::close(fd);
         }},
        {"directories without any permission",
         [](const std::string& root, const std::string&) {
             TestKit::writeFile(root + "/locked/inner/file", "x");
             ::chmod((root + "/locked/inner").c_str(), 0);
             ::chmod((root + "/locked").c_str(), 0);
         }},
    };
    for (const Case& c : cases) {
        TestKit::TempDir parent{"tree"};
        const std::string root = parent / "dir.root";
        fs::create_directory(root);
        c.make(root, outside.path());
        EXPECT_EQ(removeWithFiveDescriptors(root), 0) << c.what;
        EXPECT_FALSE(fs::exists(fs::symlink_status(root))) << c.what;
        EXPECT_EQ(TestKit::readFile(outside / "keep/marker"), "host file\n") << c.what;
    }
    // Nothing there is nothing to remove.
    EXPECT_EQ(removeWithFiveDescriptors(outside / "missing"), 0);
}

} // namespace
} // namespace Validator
