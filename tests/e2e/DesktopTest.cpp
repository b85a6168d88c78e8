// The desktop validator on real packages: which file it takes, a missing,
// broken or special desktop file, files under /usr/share/common/, the
// ExecDBus command, and QML-only applications through to the executable
// validator's final step and the architecture check.

#include "DesktopEntryTest.h"

#include "deskinfo/ManifestEntry.h"

using namespace DesktopEntry;
using TestKit::error;
using TestKit::info;
using TestKit::warning;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string Broken = error("[desktop] Broken desktop file");
const std::string Missing = error("[desktop] Desktop file is missing");
const std::string ExecDBusIncorrect = error("[tervane] ExecDBus is incorrect, template rules are equal to Exec section");
const std::string NoSuchFile = "ExecDBus error: No such file or directory";
const std::string QmlOnly = info("[desktop] Application is a QML-only app");
const std::string Libexec = "/usr/libexec/" + N + "/";
std::string notAllowedHere(const std::string& path) { return error("[" + path + "] Installation not allowed in this location"); }

class DesktopTest : public DesktopEntryTest {
protected:
    static void removeEntry(TestKit::Package& package, const std::string& path)
    {
        std::erase_if(package.entries, [&](const TestKit::Entry& entry) { return entry.path == path; });
    }

    // A QML-only application: the launcher runs it, so there is no main
    // executable, and the package requires the launcher library.
    TestKit::Package qmlOnly(const std::string& exec = "pelora-qml " + N)
    {
        TestKit::Package package = withDesktop(entryWith("Exec", exec));
        removeEntry(package, "/usr/bin/" + N);
        package.requirements = {"libtaliroapp-launcher"};
        return package;
    }
};

TEST_F(DesktopTest, OnlyTheDesktopFileNamedAfterThePackageIsExamined)
{
    auto valid = check(application());
    EXPECT_EQ(valid.exitCode, 0) << valid.result.rawErr;
    EXPECT_THAT(valid.lines, IsEmpty());

    // Another desktop file, also one beside it, is not offered to the checks.
    TestKit::Package other = application();
    removeEntry(other, TestKit::desktopPath(N));
    other.entries.push_back(TestKit::file("/usr/share/applications/other.app.desktop", "not a desktop file\n"));
    auto outcome = check(other);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines, ElementsAre(notAllowedHere("/usr/share/applications/other.app.desktop"), Missing));
}

TEST_F(DesktopTest, MissingDesktopFileIsAnErrorOnlyWhereTheProfileRequiresOne)
{
    TestKit::Package package = application();
    removeEntry(package, TestKit::desktopPath(N));
    auto regular = check(package, "regular");
    EXPECT_EQ(regular.exitCode, 1);
    EXPECT_THAT(regular.lines, ElementsAre(Missing));
    auto extended = check(package, "extended");
    EXPECT_EQ(extended.exitCode, 0);
    EXPECT_THAT(extended.lines, ElementsAre(warning("Desktop file is missing, no validation for tervane section")));
}

TEST_F(DesktopTest, FileTheReaderRefusesIsBrokenAndMissing)
{
    expectLines({
        {"[Desktop Entry]\nthis is not a key\n", {Broken, Missing}},
        {"Name=before any group\n[Desktop Entry]\n", {Broken, Missing}},
        {"[Desktop Entry\n", {Broken, Missing}},
        {"[Desktop Entry]\nEncoding=latin1\n", {Broken, Missing}},
        // Empty is well-formed: every check reports what it misses.
        {"",
         {error("[desktop] Missing valid Name declaration inside"), error("[desktop] Name contains illegal characters"),
          error("[desktop] Missing valid Icon declaration inside, must be Icon=" + N),
          error("[desktop] Missing valid Type declaration inside"), error("[desktop] Missing valid Exec declaration inside"),
          error("[desktop] X-Olvex-Application-Type not declared (use varnel-qt5 for QML apps)"),
          error("[tervane] X-Application section should be specified in desktop file")}},
    });
}

// Files up to the desktop-entry layer's limits are judged in full; one
// line or one byte more and the file is broken. Each file at a limit is
// a valid entry, so that nothing but the limit decides.
TEST_F(DesktopTest, FilesAtTheLimitsAreJudgedAndFilesBeyondThemBroken)
{
    using AppManifest::ManifestEntry;
    const auto numbered = [](std::size_t count, const std::string& before, const std::string& after) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i)
            out += before + std::to_string(i) + after;
        return out;
    };
    // Share-method groups, each allowed by the list of the entry: `groups`
    // groups in all with the entry's two.
    const auto withGroups = [&](std::size_t groups) {
        const std::string methods = numbered(groups - 2, "m", ";");
        return Entry + "X-Share-Methods=" + methods + "\n" + Sandbox + numbered(groups - 2, "[X-Share Method m", "]\n");
    };
    // Translations that no check reads: `keys` keys in all with the entry's
    // eight.
    const auto withKeys = [&](std::size_t keys) { return Entry + numbered(keys - 8, "Comment[l", "]=x\n") + Sandbox; };
    // A comment that no check reads: `bytes` bytes in all.
    const auto withBytes = [](std::size_t bytes) {
        return Entry + "Comment=" + std::string(bytes - Entry.size() - Sandbox.size() - 9, 'x') + "\n" + Sandbox;
    };
    ASSERT_EQ(withBytes(ManifestEntry::kMaxFileBytes).size(), ManifestEntry::kMaxFileBytes);
    expectLines({
        {withGroups(ManifestEntry::kMaxGroups), {}},
        {withGroups(ManifestEntry::kMaxGroups + 1), {Broken, Missing}},
        {withKeys(ManifestEntry::kMaxKeys), {}},
        {withKeys(ManifestEntry::kMaxKeys + 1), {Broken, Missing}},
        {withBytes(ManifestEntry::kMaxFileBytes), {}},
        {withBytes(ManifestEntry::kMaxFileBytes + 1), {Broken, Missing}},
    });
}

TEST_F(DesktopTest, DesktopFileThatIsNoRegularFileIsNeverRead)
{
    for (const TestKit::Entry& entry : {TestKit::symlink(TestKit::desktopPath(N), "/dev/zero"),
                                        TestKit::symlink(TestKit::desktopPath(N), "/dev/stdin"),
                                        TestKit::fifo(TestKit::desktopPath(N)), TestKit::directory(TestKit::desktopPath(N))}) {
        TestKit::Package package = application();
        removeEntry(package, TestKit::desktopPath(N));
        package.entries.push_back(entry);
        if (entry.kind == TestKit::Entry::Kind::Directory)
            package.entries.push_back(TestKit::file(TestKit::desktopPath(N) + "/inside", "[Desktop Entry]\n"));
        TestKit::RunOptions options;
        options.timeoutSeconds = 60;
        // What /dev/stdin would give if it were read: a valid desktop file.
        options.standardInput = TestKit::validDesktopFile(N);
        auto outcome = check(package, "regular", options);
        EXPECT_FALSE(outcome.result.run.timedOut) << entry.target;
        EXPECT_LT(outcome.result.run.maxRssKiB, 100 * 1024) << entry.target;
        EXPECT_THAT(outcome.lines, ElementsAre(Broken, Missing)) << entry.target;
    }
}

TEST_F(DesktopTest, CommonFilesStayInTheOrganisationsDirectory)
{
    const std::string common = "/usr/share/common/";
    const auto addCommonFiles = [&](TestKit::Package& package) {
        package.entries.push_back(TestKit::directory(common + "org.example"));
        package.entries.push_back(TestKit::file(common + "org.example/data/x", "x\n"));
        package.entries.push_back(TestKit::file(common + "org.examplex/y", "y\n"));
        package.entries.push_back(TestKit::file(common + "other/z", "z\n"));
    };
    expectLines(
        {
            {Entry + Sandbox, {notAllowedHere(common + "org.examplex/y"), notAllowedHere(common + "other/z")}},
            // Without a sandbox section there is no organisation to own any.
            {Entry,
             {error("[tervane] X-Application section should be specified in desktop file"),
              notAllowedHere(common + "org.example"), notAllowedHere(common + "org.example/data/x"),
              notAllowedHere(common + "org.examplex/y"), notAllowedHere(common + "other/z")}},
        },
        "regular", addCommonFiles);
}

TEST_F(DesktopTest, ExecDBusRunsTheMainExecutableOrAHelperOfThePackage)
{
    // A helper of the package, and links beside it: the command is judged
    // by where it really leads in the package. An absolute link target is
    // the package's own file; one that names this machine's helper leads
    // nowhere in the package.
    const std::string helper = elf();
    const std::string hostHelper = work / ("host" + Libexec + "dbus-service");
    TestKit::writeFile(hostHelper, helper, 0755);
    const auto addHelpers = [&](TestKit::Package& package) {
        package.entries.push_back(TestKit::file(Libexec + "dbus-service", helper, 0755));
        package.entries.push_back(TestKit::symlink(Libexec + "to-main", "../../bin/" + N));
        package.entries.push_back(TestKit::symlink(Libexec + "absolute", Libexec + "dbus-service"));
    };
    const std::string dbus = "ExecDBus=";
    expectLines(
        {
            {Entry + Sandbox + dbus + "/usr/bin/" + N + " --session\n", {}},
            {Entry + Sandbox + dbus + Libexec + "dbus-service\n", {}},
            {Entry + Sandbox + dbus + Libexec + "to-main\n", {ExecDBusIncorrect}},
            {Entry + Sandbox + dbus + Libexec + "absolute\n", {}},
            // A command that cannot be resolved is judged on the /usr/bin form.
            {Entry + Sandbox + dbus + Libexec + "missing\n", {NoSuchFile, ExecDBusIncorrect}},
            {Entry + Sandbox + dbus + "/opt/service\n", {NoSuchFile, ExecDBusIncorrect}},
            {Entry + Sandbox + dbus + N + "\n", {NoSuchFile, ExecDBusIncorrect}},
            // Outside the sandbox section the key means nothing.
            {Entry + dbus + "/opt/service\n" + Sandbox, {}},
        },
        "regular", addHelpers);
    const std::string toHost = "/usr/share/" + N + "/to-host";
    expectLines({{Entry + Sandbox + dbus + toHost + "\n", {NoSuchFile, ExecDBusIncorrect}}}, "regular",
                [&](TestKit::Package& package) { package.entries.push_back(TestKit::symlink(toHost, hostHelper)); });
}

TEST_F(DesktopTest, QmlOnlyApplicationIsJudgedAsOne)
{
    struct QmlCase {
        const char* what;
        TestKit::Package package;
        std::vector<std::string> lines;
    };
    TestKit::Package noarch = qmlOnly();
    noarch.noarch = true;
    TestKit::Package withMain = qmlOnly();
    withMain.entries.push_back(application().entries.front());
    TestKit::Package dbus = qmlOnly();
    TestKit::setDesktopFile(dbus, entryWith("Exec", "pelora-qml " + N) + "ExecDBus=/usr/bin/" + N + "\n");
    const std::vector<QmlCase> cases = {
        // No main executable is expected, and none of the executable
        // validator's final findings comes; without any ELF file the package
        // should be noarch.
        {"arch-specific", qmlOnly(), {QmlOnly, warning("[arch] QML-only RPMs should be noarch")}},
        {"noarch", noarch, {QmlOnly}},
        {"other launcher, arguments", qmlOnly("taliro-qml " + N + " --debug"),
         {QmlOnly, warning("[arch] QML-only RPMs should be noarch")}},
        // Its ELF file makes the package arch-specific rightly.
        {"with a main executable", withMain, {QmlOnly, error("[binary] Main binary must not exist. Desktop file uses pelora-qml")}},
        // /usr/bin/N is accepted as written; resolving it still fails.
        {"ExecDBus of the main executable", dbus, {QmlOnly, NoSuchFile, warning("[arch] QML-only RPMs should be noarch")}},
    };
    for (const QmlCase& c : cases) {
        auto outcome = check(c.package);
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.lines)) << c.what;
        EXPECT_EQ(outcome.exitCode, c.lines.back().starts_with("(ERROR)") ? 1 : 0) << c.what;
    }
}

} // namespace
