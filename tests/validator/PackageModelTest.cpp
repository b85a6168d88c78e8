// The package model read from real packages built with rpmbuild.

#include "package/Error.h"
#include "package/RpmMeta.h"

#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace Validator {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PackageModelTest : public ::testing::Test {
protected:
    std::string build(const TestKit::Package& package) { return TestKit::buildRpm(package, work.path()); }
    TestKit::TempDir work{"model"};
};

TEST_F(PackageModelTest, HeaderFieldsAndDependencies)
{
    TestKit::Package package;
    package.name = "com.example.app";
    package.version = "2.5";
    package.release = "3";
    package.vendor = "kestil";
    package.noarch = false;
    package.provides = {"libprovided.so.1()(64bit)", "app = 1.0-1"};
    package.conflicts = {"other-app"};
    package.obsoletes = {"old-app < 2"};
    package.requirements = {"libfoo.so.1()(64bit)", "libbar.so()", "libc.so.6(GLIBC_2.17)(64bit)", "/bin/sh",
                            "rtld(GNU_HASH)", "plain-dependency >= 1.0"};
    RpmMeta meta(build(package));
    EXPECT_EQ(meta.name(), "com.example.app");
    EXPECT_EQ(meta.version(), "2.5");
    EXPECT_EQ(meta.release(), "3");
    EXPECT_EQ(meta.vendor(), "kestil");
    EXPECT_EQ(meta.arch(), "x86_64");
    EXPECT_FALSE(meta.hasScripts());
    // Names only; rpmbuild adds the self-provides of an arch package.
    EXPECT_THAT(meta.provides(),
                ElementsAre("app", "com.example.app", "com.example.app(x86-64)", "libprovided.so.1()(64bit)"));
    EXPECT_THAT(meta.conflicts(), ElementsAre("other-app"));
    EXPECT_THAT(meta.obsoletes(), ElementsAre("old-app"));
    // rpmlib features, file and loader dependencies are gone, suffixes cut.
    EXPECT_THAT(meta.requirements(), ElementsAre("libbar.so", "libc.so.6(GLIBC_2.17)", "libfoo.so.1", "plain-dependency"));
}

TEST_F(PackageModelTest, AbsentTagsGiveEmptyValues)
{
    TestKit::Package package;
    RpmMeta meta(build(package));
    EXPECT_EQ(meta.vendor(), "");
    EXPECT_EQ(meta.arch(), "noarch");
    EXPECT_THAT(meta.obsoletes(), IsEmpty());
    EXPECT_THAT(meta.conflicts(), IsEmpty());
    EXPECT_THAT(meta.requirements(), IsEmpty());
    EXPECT_THAT(meta.fileInfos(), IsEmpty());
}

TEST_F(PackageModelTest, AnyScriptSectionCounts)
{
    for (const char* section : {"pre", "post", "preun", "postun", "pretrans", "posttrans"}) {
        TestKit::Package package;
        package.scripts = {{section, "true"}};
        EXPECT_TRUE(RpmMeta(build(package)).hasScripts()) << section;
    }
    TestKit::Package program;
    program.scriptPrograms = {{"posttrans", "/usr/bin/true"}};
    EXPECT_TRUE(RpmMeta(build(program)).hasScripts());
}

TEST_F(PackageModelTest, FileEntriesInHeaderOrderWithModesOwnersAndTargets)
{
    TestKit::Package package;
    TestKit::Entry owned = TestKit::file("/usr/share/com.example.app/owned", "x", 04755);
    owned.user = "nobody";
    owned.group = "users";
    package.entries = {
        TestKit::directory("/usr/share/com.example.app", 0700),
        TestKit::symlink("/usr/share/com.example.app/link", "../com.example.app/owned"),
        owned,
        TestKit::hardLink("/usr/share/com.example.app/same", "/usr/share/com.example.app/owned"),
    };
    RpmMeta meta(build(package));
    ASSERT_EQ(meta.fileInfos().size(), 4u);
    EXPECT_THAT(meta.paths(), ElementsAre("/usr/share/com.example.app", "/usr/share/com.example.app/link",
                                          "/usr/share/com.example.app/owned", "/usr/share/com.example.app/same"));
    const FileInfo& dir = meta.fileInfos()[0];
    EXPECT_TRUE(S_ISDIR(dir.mode));
    EXPECT_EQ(dir.mode & 07777, 0700);
    const FileInfo& link = meta.fileInfos()[1];
    EXPECT_TRUE(S_ISLNK(link.mode));
    EXPECT_EQ(link.linkTarget, "../com.example.app/owned");
    const FileInfo& file = meta.fileInfos()[2];
    EXPECT_TRUE(S_ISREG(file.mode));
    EXPECT_EQ(file.mode & 07777, 04755);
    EXPECT_EQ(file.user, "nobody");
    EXPECT_EQ(file.group, "users");
    EXPECT_EQ(file.linkTarget, "");
    EXPECT_EQ(meta.fileInfos()[3].user, "root");
}

TEST_F(PackageModelTest, UnreadablePackagesThrowWithTheirCodes)
{
    try {
        RpmMeta meta(work / "missing.rpm");
        FAIL() << "no error for a missing file";
    } catch (const Common::Error& e) {
        EXPECT_EQ(e.code(), Common::makeErrorCode(Common::ErrorCode::FileNotFound));
        EXPECT_STREQ(e.what(), "Couldn't open rpm package");
    }
    TestKit::writeFile(work / "text.rpm", "plain text, not a package\n");
    try {
        RpmMeta meta(work / "text.rpm");
        FAIL() << "no error for a text file";
    } catch (const Common::Error& e) {
        EXPECT_EQ(e.code().value(), 26);
        EXPECT_STREQ(e.what(), "Couldn't read rpm package");
    }
}

TEST(RequiresNormalisation, FiltersAndCutsSuffixesTwice)
{
    EXPECT_THAT(RpmMeta::normaliseRequires({"rpmlib(PayloadIsXz)", "/bin/sh", "rtld(GNU_HASH)", "libQt5Core.so.5()(64bit)",
                                            "libc.so.6(GLIBC_2.17)(64bit)", "libbar.so()", "x()()", "keep(64bit)(64bit)(64bit)"}),
                ElementsAre("libQt5Core.so.5", "libc.so.6(GLIBC_2.17)", "libbar.so", "x", "keep(64bit)"));
}

} // namespace
} // namespace Validator
