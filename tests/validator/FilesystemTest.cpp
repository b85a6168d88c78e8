// The validator's file-system queries: the platform root, its OS version,
// and directories and permissions of the host's files.

#include "package/Error.h"
#include "package/Filesystem.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace Validator {
namespace {

using TestKit::PlatformRoot;

TEST(PlatformRootTest, OsVersionAndRoot)
{
    EXPECT_EQ(Validator::Filesystem::rootFs(), "/");
    PlatformRoot root;
    EXPECT_EQ(Validator::Filesystem::rootFs(), root.dir.path());
    EXPECT_THROW(Validator::Filesystem::osVersion(), Common::Error);
    TestKit::writeFile(root.dir / "etc/os-release", "NAME=Taliro\nVERSION_ID_LIKE=x\nVERSION_ID=5.1.0.1\nVERSION_ID=9\n");
    EXPECT_EQ(Validator::Filesystem::osVersion(), "5.1.0.1");
    TestKit::writeFile(root.dir / "etc/os-release", "VERSION_ID=\"5.1\"\n");
    EXPECT_EQ(Validator::Filesystem::osVersion(), "\"5.1\"");
    TestKit::writeFile(root.dir / "etc/os-release", "NAME=Taliro\n");
    try {
        Validator::Filesystem::osVersion();
        FAIL();
    } catch (const Common::Error& e) {
        EXPECT_EQ(e.code().value(), 2);
        EXPECT_STREQ(e.what(), "Couldn't retrieve Taliro OS version");
    }
    // A named pipe is not waited on.
    std::filesystem::remove(root.dir / "etc/os-release");
    ASSERT_EQ(::mkfifo((root.dir / "etc/os-release").c_str(), 0644), 0);
    EXPECT_THROW(Validator::Filesystem::osVersion(), Common::Error);
}

TEST(FilesystemQueries, DirectoriesAndPermissions)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "exec", "#!/bin/sh\n", 0755);
    TestKit::writeFile(dir / "plain", "x", 0644);
    EXPECT_TRUE(Validator::Filesystem::isDirectory(dir.path()));
    EXPECT_FALSE(Validator::Filesystem::isDirectory(dir / "missing"));
    EXPECT_FALSE(Validator::Filesystem::isDirectory(dir / "plain"));
    const auto ownerExec = std::filesystem::perms::owner_exec;
    EXPECT_TRUE(Validator::Filesystem::hasPermission(dir / "exec", ownerExec));
    EXPECT_FALSE(Validator::Filesystem::hasPermission(dir / "plain", ownerExec));
    EXPECT_FALSE(Validator::Filesystem::hasPermission(dir.path(), ownerExec));
    Validator::Filesystem::createDirectories(dir / "a/b/c");
    EXPECT_TRUE(Validator::Filesystem::isDirectory(dir / "a/b/c"));
    Validator::Filesystem::removeAll(dir / "a");
    EXPECT_FALSE(Validator::Filesystem::isDirectory(dir / "a"));
    EXPECT_THROW(Validator::Filesystem::createDirectories(dir / "plain/sub"), Common::Error);
}

} // namespace
} // namespace Validator
