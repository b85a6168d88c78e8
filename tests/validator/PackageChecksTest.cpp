// The header-level package checks on real packages built with rpmbuild.

#include "checks/PackageChecks.h"
#include "core/Config.h"
#include "core/Logger.h"
#include "core/Profile.h"
#include "package/RpmMeta.h"

#include "Findings.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace Validator {
namespace {

using TestKit::StderrCapture;

using ::testing::ElementsAre;
using TestKit::critical;
using TestKit::error;
using TestKit::info;
using TestKit::warning;
using ::testing::IsEmpty;

const std::string N = "com.example.app";

struct Outcome {
    std::vector<std::string> lines;  // standard error, line by line
    bool failed = false;
};

// A package that passes every check under every profile but mdm.
TestKit::Package cleanPackage()
{
    TestKit::Package package;
    package.name = N;
    package.entries = {
        TestKit::directory("/usr/share/" + N),
        TestKit::file("/usr/share/" + N + "/data.txt", "data\n"),
    };
    return package;
}

class PackageChecksTest : public ::testing::Test {
protected:
    Outcome check(const TestKit::Package& package, Profile profile = Profile::Regular, bool fullChecks = true)
    {
        RpmMeta meta(TestKit::buildRpm(package, work.path()));
        Config config(profile);
        config.setFullChecks(fullChecks);
        PackageChecks checks(config, meta);
        Outcome outcome;
        StderrCapture capture;
        outcome.failed = checks.run();
        outcome.lines = TestKit::lines(capture.text());
        return outcome;
    }

    // A platform root with a developer-mode file keeps the profile quiet.
    void SetUp() override
    {
        TestKit::writeFile(root / "var/lib/developer-moded/developer-moded.conf",
                           "[developermode]\nvalidationEnabled=true\n");
        ::setenv("KVD_ROOT_FS", root.path().c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("KVD_ROOT_FS");
        Logger::setColor(false);
    }

    TestKit::TempDir root{"pkgchecks-root"};
    TestKit::TempDir work{"pkgchecks"};
};

TEST_F(PackageChecksTest, CleanPackagePassesUnderEveryProfileWithoutExclusiveProvide)
{
    for (Profile profile : {Profile::Regular, Profile::Extended, Profile::Antivirus, Profile::Auth, Profile::Market,
                            Profile::SystemApp, Profile::Pwa}) {
        Outcome outcome = check(cleanPackage(), profile);
        EXPECT_THAT(outcome.lines, IsEmpty()) << profileName(profile);
        EXPECT_FALSE(outcome.failed) << profileName(profile);
    }
}

TEST_F(PackageChecksTest, NameNeedsThreeNonEmptyComponents)
{
    const std::string refused = error("Package name should follow reverse domain notation (e.g. \"org.example.app\")");
    // rpmbuild itself refuses names with ".." or a leading dot.
    for (const char* name : {"com.example", "example", "com.example."}) {
        TestKit::Package package;
        package.name = name;
        Outcome outcome = check(package);
        EXPECT_THAT(outcome.lines, ElementsAre(refused)) << name;
        EXPECT_TRUE(outcome.failed) << name;
    }
    for (const char* name : {"com.example.app", "org.example.my-app.extra"}) {
        TestKit::Package package;
        package.name = name;
        Outcome outcome = check(package);
        EXPECT_THAT(outcome.lines, IsEmpty()) << name;
        EXPECT_FALSE(outcome.failed) << name;
    }
}

TEST_F(PackageChecksTest, VendorKestilIsDiscouragedAnyOtherRefused)
{
    TestKit::Package package = cleanPackage();
    package.vendor = "kestil";
    Outcome kestil = check(package);
    EXPECT_THAT(kestil.lines, ElementsAre(warning("[vendor] Vendor is set to kestil, this is not recommended")));
    EXPECT_FALSE(kestil.failed);

    package.vendor = "Kestil Labs";
    Outcome other = check(package);
    EXPECT_THAT(other.lines,
                ElementsAre(error("[vendor] Vendor is set to Kestil Labs. Setting a vendor in RPM is not allowed")));
    EXPECT_TRUE(other.failed);
}

TEST_F(PackageChecksTest, ProvidesOnlyOwnNamesDesktopEntriesAndPermittedMimeHandlers)
{
    TestKit::Package package = cleanPackage();
    package.noarch = false;  // adds the self-provide "N(x86-64)"
    package.provides = {
        "application()",
        "application(" + N + ".desktop)",
        N + "-data",
        "mimehandler(text/plain)",
        "libfoo.so.1",
        "application(other.desktop)",
        "mimehandler(application/x-rpm)",
        "mdm-client",
    };
    const std::string rpmHandlerRefused =
        error("[mimehandler(application/x-rpm)] Provides: mimehandler(application/x-rpm) is not allowed in RPM");
    Outcome outcome = check(package);
    // Provides are stored sorted by name.
    EXPECT_THAT(outcome.lines, ElementsAre(error("[application(other.desktop)] Provides: application(other.desktop) is "
                                                 "not allowed in RPM"),
                                           error("[libfoo.so.1] Provides: libfoo.so.1 is not allowed in RPM"),
                                           error("[mdm-client] Provides: mdm-client is not allowed in RPM"),
                                           rpmHandlerRefused));
    EXPECT_TRUE(outcome.failed);

    TestKit::Package rpmHandler = cleanPackage();
    rpmHandler.provides = {"mimehandler(application/x-rpm)"};
    for (Profile profile : {Profile::Extended, Profile::Auth, Profile::SystemApp})
        EXPECT_THAT(check(rpmHandler, profile).lines, ElementsAre(rpmHandlerRefused)) << profileName(profile);
}

TEST_F(PackageChecksTest, MdmPackageMustProvideAndConflictWithTheMarker)
{
    Outcome without = check(cleanPackage(), Profile::Mdm);
    EXPECT_THAT(without.lines, ElementsAre(error("[mdm-client] Provides: mdm-client must be specified in RPM"),
                                           error("[mdm-client] Conflicts: mdm-client must be specified in RPM")));
    EXPECT_TRUE(without.failed);

    TestKit::Package marked = cleanPackage();
    marked.provides = {"mdm-client"};
    marked.conflicts = {"mdm-client"};
    Outcome with = check(marked, Profile::Mdm);
    EXPECT_THAT(with.lines, IsEmpty());
    EXPECT_FALSE(with.failed);

    // The marker does not excuse other conflicts.
    marked.conflicts.push_back("other-client");
    EXPECT_THAT(check(marked, Profile::Mdm).lines,
                ElementsAre(error("[other-client] Conflicts: other-client is not allowed in RPM")));
}

TEST_F(PackageChecksTest, ConflictsAndObsoletesAreRefusedWhateverTheProfile)
{
    TestKit::Package package = cleanPackage();
    package.conflicts = {"mdm-client", "other-app"};
    package.obsoletes = {"old-app < 2"};
    EXPECT_THAT(check(package).lines, ElementsAre(error("[mdm-client] Conflicts: mdm-client is not allowed in RPM"),
                                                  error("[other-app] Conflicts: other-app is not allowed in RPM"),
                                                  error("[old-app] Obsoletes: old-app is not allowed in RPM")));

    package.conflicts.clear();
    package.provides = {"mdm-client"};
    package.conflicts = {"mdm-client"};
    Outcome mdm = check(package, Profile::Mdm);
    EXPECT_THAT(mdm.lines, ElementsAre(error("[old-app] Obsoletes: old-app is not allowed in RPM")));
    EXPECT_TRUE(mdm.failed);
}

TEST_F(PackageChecksTest, RequiresAllowedUnstableDeprecatedOrRefused)
{
    TestKit::Package package = cleanPackage();
    package.requirements = {
        "qt5-qtsvg",                      // allowed dependency
        "libQt5Core.so.5()(64bit)",       // allowed library, by expression
        "libc.so.6(GLIBC_2.17)(64bit)",   // allowed dependency, by expression
        "taliro-controls",                // unstable dependency
        "libpcsclite.so.1",               // unstable library
        "libpng15.so.15(PNG15_0)",        // deprecated dependency
        "libpeloraapp.so.1",              // deprecated library
        "libfoo.so.1()(64bit)",
        "libc.so.6(GLIBC_PRIVATE)(64bit)",
    };
    Outcome outcome = check(package);
    EXPECT_THAT(outcome.lines, ElementsAre(error("[libc.so.6(GLIBC_PRIVATE)] Dependency is not allowed"),
                                           error("[libfoo.so.1] Dependency is not allowed"),
                                           warning("[libpcsclite.so.1] Dependency is unstable or deprecated"),
                                           warning("[libpeloraapp.so.1] Dependency is unstable or deprecated"),
                                           warning("[libpng15.so.15(PNG15_0)] Dependency is unstable or deprecated"),
                                           warning("[taliro-controls] Dependency is unstable or deprecated")));
    EXPECT_TRUE(outcome.failed);

    TestKit::Package unstableOnly = cleanPackage();
    unstableOnly.requirements = {"taliro-controls"};
    EXPECT_FALSE(check(unstableOnly).failed) << "a warning never fails the checks";

    // Profiles widen the lists: connman-qt5 is allowed from extended on.
    TestKit::Package connman = cleanPackage();
    connman.requirements = {"connman-qt5"};
    EXPECT_THAT(check(connman).lines, ElementsAre(error("[connman-qt5] Dependency is not allowed")));
    EXPECT_THAT(check(connman, Profile::Extended).lines, IsEmpty());
}

TEST_F(PackageChecksTest, ScriptsAreCriticalEvenWithCriticalChecksOnly)
{
    TestKit::Package program = cleanPackage();
    program.scriptPrograms = {{"posttrans", "/usr/bin/true"}};
    Outcome outcome = check(program, Profile::Regular, false);
    EXPECT_THAT(outcome.lines, ElementsAre(critical("[scripts] Script sections are not allowed in RPM")));
    EXPECT_TRUE(outcome.failed);

    TestKit::Package body = cleanPackage();
    body.scripts = {{"pre", "true"}, {"postun", "true"}};
    EXPECT_THAT(check(body).lines, ElementsAre(critical("[scripts] Script sections are not allowed in RPM")));
}

TEST_F(PackageChecksTest, ErrorsFailOnlyWithFullChecks)
{
    TestKit::Package package = cleanPackage();
    package.obsoletes = {"old-app"};
    Outcome full = check(package, Profile::Regular, true);
    Outcome criticalOnly = check(package, Profile::Regular, false);
    const auto expected = ElementsAre(error("[old-app] Obsoletes: old-app is not allowed in RPM"));
    EXPECT_THAT(full.lines, expected);
    EXPECT_TRUE(full.failed);
    EXPECT_THAT(criticalOnly.lines, expected) << "errors are still printed";
    EXPECT_FALSE(criticalOnly.failed);
}

TEST_F(PackageChecksTest, ExecutableFilesOnlyWhereProgramsAndPluginsLive)
{
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/" + N + "/";
    package.entries = {
        TestKit::file("/usr/bin/" + N, "#!/bin/sh\n", 0755),
        TestKit::file("/usr/libexec/" + N + "/helper", "#!/bin/sh\n", 0755),
        TestKit::file("/usr/lib/qt5/qml/Example/libplugin.so", "elf", 0755),
        TestKit::file("/usr/lib/qt5/qml/Example/tool", "#!/bin/sh\n", 0755),
        TestKit::directory("/usr/share/" + N),
        TestKit::file(share + "group-only.sh", "#!/bin/sh\n", 0654),
        TestKit::file(share + "lib/libx.so.1", "elf", 0755),
        TestKit::file(share + "other-only.sh", "#!/bin/sh\n", 0645),
        TestKit::file(share + "run.sh", "#!/bin/sh\n", 0755),
    };
    Outcome outcome = check(package);
    // Only the owner's execute bit makes a file a program.
    EXPECT_THAT(outcome.lines, ElementsAre(error("[/usr/lib/qt5/qml/Example/tool] File must not be executable"),
                                           error("[" + share + "run.sh] File must not be executable")));
    EXPECT_TRUE(outcome.failed);
}

TEST_F(PackageChecksTest, RegularFileModeAndOwnerChecksInOrder)
{
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/" + N + "/";
    TestKit::Entry everything = TestKit::file(share + "all", "x", 06777);
    everything.user = "nobody";
    everything.group = "nobody";
    TestKit::Entry users = TestKit::file(share + "users.txt", "x");
    users.group = "users";
    TestKit::Entry mine = TestKit::file(share + "mine.txt", "x");
    mine.user = "defaultuser";
    package.entries = {
        TestKit::file("/usr/bin/" + N, "#!/bin/sh\n", 04755),
        TestKit::directory("/usr/share/" + N),
        everything,
        mine,
        TestKit::file(share + "shared.txt", "x", 0666),
        TestKit::file(share + "sticky.txt", "x", 01644),
        users,
    };
    Outcome outcome = check(package);
    EXPECT_THAT(outcome.lines, ElementsAre(error("[/usr/bin/" + N + "] Found setuid, setgid or sticky bit set"),
                                           error("[" + share + "all] Found setuid, setgid or sticky bit set"),
                                           error("[" + share + "all] File must not be executable"),
                                           error("[" + share + "all] Group or World writable file"),
                                           error("[" + share + "all] User owner should be root"),
                                           error("[" + share + "all] Group owner should be root"),
                                           error("[" + share + "mine.txt] User owner should be root"),
                                           error("[" + share + "shared.txt] Group or World writable file"),
                                           error("[" + share + "sticky.txt] Found setuid, setgid or sticky bit set"),
                                           error("[" + share + "users.txt] Group owner should be root")));
    EXPECT_TRUE(outcome.failed);
}

TEST_F(PackageChecksTest, WritableDirectoriesAreErrorsButOnlyWarningsForAuth)
{
    TestKit::Package package = cleanPackage();
    TestKit::Entry owned = TestKit::directory("/usr/share/" + N + "/owned", 02755);
    owned.user = "nobody";
    package.entries = {
        TestKit::directory("/usr/share/" + N, 0777),
        TestKit::file("/usr/share/" + N + "/data.txt", "data\n"),
        TestKit::directory("/usr/share/" + N + "/group", 0775),
        TestKit::file("/usr/share/" + N + "/group/x", "x"),
        owned,
        TestKit::file("/usr/share/" + N + "/owned/x", "x"),
    };
    Outcome regular = check(package);
    EXPECT_THAT(regular.lines, ElementsAre(error("[/usr/share/" + N + "] Group or World writable directory"),
                                           error("[/usr/share/" + N + "/group] Group or World writable directory")));
    EXPECT_TRUE(regular.failed);

    Outcome auth = check(package, Profile::Auth);
    EXPECT_THAT(auth.lines, ElementsAre(warning("[/usr/share/" + N + "] Group or World writable directory"),
                                        warning("[/usr/share/" + N + "/group] Group or World writable directory")));
    EXPECT_FALSE(auth.failed);

    TestKit::Package file = cleanPackage();
    file.entries.push_back(TestKit::file("/usr/share/" + N + "/shared.txt", "x", 0664));
    EXPECT_THAT(check(file, Profile::Auth).lines,
                ElementsAre(warning("[/usr/share/" + N + "/shared.txt] Group or World writable file")));
}

TEST_F(PackageChecksTest, LinksMustTargetPackagedPaths)
{
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/" + N + "/";
    package.entries = {
        TestKit::directory("/usr/share/" + N),
        TestKit::symlink(share + "a", "../" + N + "/b"),
        TestKit::symlink(share + "abs", share + "b"),
        TestKit::file(share + "b", "b"),
        TestKit::symlink(share + "dot", "./b"),
        TestKit::symlink(share + "libc", "/usr/lib/libc.so.6"),
        TestKit::symlink(share + "same", "b"),
        TestKit::directory(share + "sub"),
        TestKit::file(share + "sub/c", "c"),
        TestKit::symlink(share + "sub/up", "../b"),
        TestKit::symlink(share + "to-dir", "sub"),
        TestKit::symlink(share + "too-high", "../../../../../../etc/passwd"),
        TestKit::symlink(share + "up-and-back", "../../../../../usr/share/" + N + "/b"),
    };
    const auto notice = [](const std::string& link) {
        return info("[" + link + "] Beware that symbolic links are only allowed for exclusive paths");
    };
    const auto refused = [](const std::string& link, const std::string& target) {
        return error("[" + link + "] Symbolic link is targeting to not allowed path for it: " + target);
    };
    Outcome outcome = check(package);
    // "./" is not normalised away, and a walk past the top stays at the root.
    EXPECT_THAT(outcome.lines, ElementsAre(notice(share + "a"), notice(share + "abs"), notice(share + "dot"),
                                           refused(share + "dot", "./b"), notice(share + "libc"),
                                           refused(share + "libc", "/usr/lib/libc.so.6"), notice(share + "same"),
                                           notice(share + "sub/up"), notice(share + "to-dir"),
                                           notice(share + "too-high"), refused(share + "too-high", "etc/passwd"),
                                           notice(share + "up-and-back")));
    EXPECT_TRUE(outcome.failed);

    TestKit::Package fine = cleanPackage();
    fine.entries.push_back(TestKit::symlink(share + "link", "data.txt"));
    Outcome passing = check(fine);
    EXPECT_THAT(passing.lines, ElementsAre(notice(share + "link")));
    EXPECT_FALSE(passing.failed) << "the notice alone never fails";
}

TEST_F(PackageChecksTest, EmptyDirectoriesAreReportedAfterTheEntries)
{
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/" + N + "/";
    package.entries = {
        TestKit::directory("/usr/share/" + N),
        TestKit::directory(share + "empty"),
        // Neither is below "empty/", though both sort close to it.
        TestKit::file(share + "empty.txt", "x"),
        TestKit::file(share + "empty0", "x"),
        TestKit::directory(share + "full"),
        TestKit::file(share + "full/x", "x", 0666),
        TestKit::directory(share + "nested"),
        TestKit::directory(share + "nested/leaf"),
    };
    Outcome outcome = check(package);
    EXPECT_THAT(outcome.lines, ElementsAre(error("[" + share + "full/x] Group or World writable file"),
                                           warning("[" + share + "empty] Empty directory (can be omitted during "
                                                   "package installation)"),
                                           warning("[" + share + "nested/leaf] Empty directory (can be omitted "
                                                   "during package installation)")));
}

TEST_F(PackageChecksTest, VersionControlAndEditorLeftoversAreRefused)
{
    TestKit::Package package = cleanPackage();
    const std::string share = "/usr/share/" + N + "/";
    package.entries = {
        TestKit::directory("/usr/share/" + N),
        TestKit::file(share + ".git", "gitdir: elsewhere\n"),
        TestKit::file(share + ".gitignore", "*.o\n"),
        TestKit::file(share + "notes.DS_Store", "x"),
        TestKit::directory(share + "repo.hg"),
        TestKit::file(share + "repo.hg/store", "x"),
        TestKit::file(share + "x.swp", "x"),
        TestKit::file(share + "x.swp.txt", "x"),
    };
    const auto refused = [](const std::string& path) {
        return error("[" + path + "] Installation not allowed in this location: forbidden file extension");
    };
    Outcome outcome = check(package);
    EXPECT_THAT(outcome.lines,
                ElementsAre(refused(share + ".git"), refused(share + "notes.DS_Store"), refused(share + "repo.hg"),
                            refused(share + "x.swp")));
    EXPECT_TRUE(outcome.failed);
}

TEST_F(PackageChecksTest, EntriesOfOtherTypesAreRefusedBeforeTheNameCheck)
{
    TestKit::Package package = cleanPackage();
    package.entries.push_back(TestKit::fifo("/usr/share/" + N + "/pipe.swp", 0666));
    Outcome outcome = check(package);
    // The mode of a pipe is not examined.
    EXPECT_THAT(outcome.lines,
                ElementsAre(error("[/usr/share/" + N + "/pipe.swp] Failed to read file attributes"),
                            error("[/usr/share/" + N + "/pipe.swp] Installation not allowed in this location: forbidden "
                                  "file extension")));
    EXPECT_TRUE(outcome.failed);
}

TEST_F(PackageChecksTest, ColourChoiceReachesTheTags)
{
    TestKit::Package package = cleanPackage();
    package.obsoletes = {"old-app"};
    RpmMeta meta(TestKit::buildRpm(package, work.path()));
    Config config(Profile::Regular);
    PackageChecks checks(config, meta);
    checks.setColor(true);
    StderrCapture capture;
    EXPECT_TRUE(checks.run());
    EXPECT_EQ(capture.text(), "\033[31m(ERROR)\t\t\033[m[old-app] Obsoletes: old-app is not allowed in RPM\n");
}

} // namespace
} // namespace Validator
