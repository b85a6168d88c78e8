// The QML imports validator on real packages: import statements of QML
// files judged against the profile's lists, directory imports, the
// toolkit import's final check, hostile files.

#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using TestKit::error;
using TestKit::warning;

namespace {

const std::string N = "org.example.qml";
const std::string Qml = "/usr/share/" + N + "/qml/";

std::string notAllowed(const std::string& import) { return error("[" + import + "] Import is not allowed"); }
std::string unstable(const std::string& import) { return warning("[" + import + "] Import is unstable or deprecated"); }
const std::string VarnelType =
    warning("[desktop] X-Olvex-Application-Type should be varnel-qt5 for apps importing Pelora.Varnel in QML");

class QmlImportsPackageTest : public FileValidatorTest {
protected:
    QmlImportsPackageTest() : FileValidatorTest(N, "qml") {}

    // The application with QML files (path, content) added.
    TestKit::Package withQml(const std::vector<std::pair<std::string, std::string>>& files)
    {
        TestKit::Package package = application();
        for (const auto& [path, content] : files)
            package.entries.push_back(TestKit::file(path, content));
        return package;
    }
};

TEST_F(QmlImportsPackageTest, ImportsAreJudgedByTheProfilesLists)
{
    struct Case {
        std::string header;
        std::vector<std::string> regular;
        std::vector<std::string> extended;
    };
    const std::vector<Case> cases = {
        {"import QtQuick 2.6\nimport Taliro.Workspace 1.0\n", {}, {}},
        // Unlisted imports outside the reserved name spaces pass.
        {"import com.example.Widgets 1.0\nimport Local\n", {}, {}},
        {"import Taliro.Controls 1.0\n", {unstable("Taliro.Controls 1.0")}, {unstable("Taliro.Controls 1.0")}},
        {"import QtWebEngine 1.2\n", {unstable("QtWebEngine 1.2")}, {unstable("QtWebEngine 1.2")}},
        {"import QtQuick 2.7\n", {notAllowed("QtQuick 2.7")}, {notAllowed("QtQuick 2.7")}},
        {"import Pelora.Secret\n", {notAllowed("Pelora.Secret")}, {notAllowed("Pelora.Secret")}},
        {"import org.kde.bluezqt\n", {notAllowed("org.kde.bluezqt")}, {notAllowed("org.kde.bluezqt")}},
        // The extended profile allows one more and deprecates two more.
        {"import Pelora.Settings.Networking.Vpn 1.0\n", {notAllowed("Pelora.Settings.Networking.Vpn 1.0")}, {}},
        {"import Pelora.Homescreen 1.1\n", {notAllowed("Pelora.Homescreen 1.1")}, {unstable("Pelora.Homescreen 1.1")}},
        // A qualifier ends the line's statements; several statements share
        // a line; the header ends with the line that opens the first object.
        {"import QtQuick 2.7 as Q; import Qt.After 1.0\nimport QtQml 2.9; import QtQml 2.10\nItem {\nimport Qt.Hidden 1.0\n",
         {notAllowed("QtQuick 2.7"), notAllowed("QtQml 2.9"), notAllowed("QtQml 2.10")},
         {notAllowed("QtQuick 2.7"), notAllowed("QtQml 2.9"), notAllowed("QtQml 2.10")}},
        {"importx QtQuick 2.9\nimport\n", {}, {}},
    };
    for (const Case& c : cases) {
        const TestKit::Package package = withQml({{Qml + "main.qml", c.header + "Item {}\n"}});
        for (const auto& [profile, expected] : {std::pair{"regular", c.regular}, std::pair{"extended", c.extended}}) {
            const Outcome outcome = check(package, profile);
            EXPECT_THAT(outcome.lines, ElementsAreArray(expected)) << profile << ": " << c.header;
            const bool failed = std::any_of(expected.begin(), expected.end(),
                                            [](const std::string& line) { return line.starts_with("(ERROR)"); });
            EXPECT_EQ(outcome.exitCode, failed ? 1 : 0) << profile << ": " << c.header;
        }
    }
}

TEST_F(QmlImportsPackageTest, EveryQmlFileCountsAndEachImportIsReportedOnce)
{
    const Outcome outcome = check(withQml({
        {Qml + "a.qml", "import QtQuick 2.7\nimport Taliro.Controls 1.0\n"},
        // Anywhere in the package; a repeated import adds nothing.
        {"/usr/share/" + N + "/b.qml", "import QtQuick 2.7\nimport QtQml 2.9\n"},
        {Qml + "notqml.txt", "import QtQuick 2.8\n"},
        {Qml + "c.QML", "import QtQuick 2.8\n"},
    }));
    EXPECT_EQ(outcome.exitCode, 1);
    // Files in header order: /usr/share/N/b.qml before /usr/share/N/qml/a.qml.
    EXPECT_THAT(outcome.lines, ElementsAre(notAllowed("QtQuick 2.7"), notAllowed("QtQml 2.9"),
                                           unstable("Taliro.Controls 1.0")));
}

TEST_F(QmlImportsPackageTest, DirectoryImports)
{
    TestKit::Package package = withQml({
        {Qml + "pages/main.qml",
         "import \"../components\"\nimport \"/usr/share/" + N + "/qml/components\"\nimport \"../elsewhere\"\n"
         "import \"../../qml/pages/./\"\nimport \"../../../../usr/lib/qt5\"\nimport \"/tmp\"\n"},
        {Qml + "components/Button.qml", "import QtQuick 2.6\n"},
    });
    package.entries.push_back(TestKit::directory(Qml + "components"));
    package.entries.push_back(TestKit::directory(Qml + "pages"));
    const Outcome outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    // Absolute ones are refused with their quotes; relative ones within the
    // application's QML tree are its own, the others name no listed module.
    EXPECT_THAT(outcome.lines,
                ElementsAre(notAllowed("\"/usr/share/" + N + "/qml/components\""), notAllowed("\"/tmp\"")));
}

TEST_F(QmlImportsPackageTest, ToolkitImportIsComparedWithTheApplicationTypeAtTheEnd)
{
    // A desktop file that declares another application type: the warning
    // comes, once, at the end.
    TestKit::Package undeclared = withQml({
        {Qml + "a.qml", "import Pelora.Varnel 1.0\nimport QtQuick 2.7\n"},
        {Qml + "b.qml", "import Pelora.Varnel 1.0\n"},
    });
    std::string desktop = TestKit::validDesktopFile(N);
    const std::string declared = "X-Olvex-Application-Type=varnel-qt5\n";
    desktop.replace(desktop.find(declared), declared.size(), "X-Olvex-Application-Type=qt5\n");
    TestKit::setDesktopFile(undeclared, desktop);
    const Outcome outcome = check(undeclared);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines,
                ElementsAre(warning("[desktop] X-Olvex-Application-Type should be varnel-qt5 (not a Varnel app?)"),
                            notAllowed("QtQuick 2.7"), VarnelType));

    // The valid application declares it: no warning.
    const Outcome declaredType = check(withQml({{Qml + "a.qml", "import Pelora.Varnel 1.0\n"}}));
    EXPECT_EQ(declaredType.exitCode, 0);
    EXPECT_THAT(declaredType.lines, ElementsAre());

    const Outcome otherVersion = check(withQml({{Qml + "a.qml", "import Pelora.Varnel 1.1\n"}}));
    EXPECT_THAT(otherVersion.lines, ElementsAre(notAllowed("Pelora.Varnel 1.1")));
}

TEST_F(QmlImportsPackageTest, SpecialFilesAreNeverRead)
{
    TestKit::Package package = application();
    package.entries.push_back(TestKit::symlink(Qml + "zero.qml", "/dev/zero"));
    package.entries.push_back(TestKit::symlink(Qml + "stdin.qml", "/dev/stdin"));
    package.entries.push_back(TestKit::fifo(Qml + "fifo.qml"));
    package.entries.push_back(TestKit::directory(Qml + "dir.qml"));
    package.entries.push_back(TestKit::file(Qml + "dir.qml/x.txt", "x\n"));
    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    options.standardInput = "import QtQuick 2.9\n";
    const Outcome outcome = check(package, "regular", options);
    EXPECT_FALSE(outcome.result.run.timedOut);
    EXPECT_THAT(outcome.lines, IsEmpty());
}

TEST_F(QmlImportsPackageTest, HugeFilesDoNotGrowMemory)
{
    // 64 MiB on one line, and 64 MiB of lines without a "{", each ending
    // with an import that is still read: four times the memory the run may
    // gain, so a reader that held either would show.
    const std::size_t size = 64u << 20;
    std::string oneLine = "import QtQuick 2.7; ";
    oneLine.resize(size, ' ');
    oneLine += "import QtQml 2.9";
    std::string noBrace;
    noBrace.reserve(size + 32);
    while (noBrace.size() < size)
        noBrace += "import Local 1.0\n";
    noBrace += "import Qt.Last 1.0\n";
    const Outcome small = check(withQml({{Qml + "a.qml", "import QtQuick 2.7; import QtQml 2.9\n"}}));
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file(Qml + "a.qml", std::move(oneLine)));
    package.entries.push_back(TestKit::file(Qml + "b.qml", std::move(noBrace)));
    const Outcome huge = check(package);
    EXPECT_THAT(huge.lines, ElementsAre(notAllowed("QtQuick 2.7"), notAllowed("QtQml 2.9"), notAllowed("Qt.Last 1.0")));
    EXPECT_LT(huge.result.run.maxRssKiB, small.result.run.maxRssKiB + 16 * 1024)
        << "small package: " << small.result.run.maxRssKiB << " KiB";
}

} // namespace
