// Reading the import statements of QML files, the lexical join of
// directory imports, and the QML imports validator's final step, whose
// toolkit flag comes from the desktop checks and is set directly here.

#include "checks/qml/QmlImportReader.h"
#include "checks/qml/QmlImports.h"
#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include "Findings.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Validator {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::vector<std::string> importsOf(std::string_view text, std::size_t piece = std::string_view::npos)
{
    QmlImportReader reader;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        if (!reader.feed(text.substr(at, piece)))
            break;
    }
    reader.finish();
    return reader.imports();
}

TEST(QmlImportReaderTest, Statements)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"import QtQuick 2.0\nimport Pelora.Varnel 1.0\n", {"QtQuick 2.0", "Pelora.Varnel 1.0"}},
        {"import QtQuick 2.0 as Q\n", {"QtQuick 2.0"}},
        // What follows a qualifier is not read.
        {"import QtQuick 2.0 as Q; import QtQml 2.2\n", {"QtQuick 2.0"}},
        {"import QtQuick 2.0; import QtQml 2.2\n", {"QtQuick 2.0", "QtQml 2.2"}},
        {";; \t import QtQuick 2.0;;import QtQml\n", {"QtQuick 2.0", "QtQml"}},
        {"import QtQuick\t 2.0\r\n", {"QtQuick 2.0"}},
        {"import \"../components\"\nimport \"/abs\" 1.0\n", {"\"../components\"", "\"/abs\" 1.0"}},
        // An unterminated directory runs to the end of its line.
        {"import \"open dir\nimport QtQml 2.2", {"\"open dir", "QtQml 2.2"}},
        // "import" must be followed by something that is not a letter.
        {"importx QtQuick 2.0\nimport\nimport   \nimportQtQuick 2.0\n", {}},
        {"import\"dir\"\nimport2.0\n", {"\"dir\"", "2.0"}},
        // A statement not at the start of its line is not one.
        {"// import QtQuick 2.0\nx; import QtQml 2.2\n", {}},
        // The header ends with the first line that holds a "{", which is
        // still read to its end.
        {"import A 1.0\nItem { import B 1.0\nimport C 1.0\n", {"A 1.0"}},
        {"import A 1.0; import B 1.0 {\nimport C 1.0\n", {"A 1.0", "B 1.0"}},
        {"import \"{\"\nimport C 1.0\n", {"\"{\""}},
        // No newline at the end; a repeated import is listed once.
        {"import A 1.0\nimport A 1.0\nimport A 2.0", {"A 1.0", "A 2.0"}},
        {std::string("import A\0 1.0\n", 14), {"A"}},
        {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_THAT(importsOf(text), ElementsAreArray(expected)) << text;
        // The same whatever the pieces the file is read in.
        EXPECT_THAT(importsOf(text, 1), ElementsAreArray(expected)) << text;
        EXPECT_THAT(importsOf(text, 3), ElementsAreArray(expected)) << text;
    }
}

TEST(QmlImportReaderTest, MemoryStaysBoundedWhateverTheFile)
{
    // A module name of a megabyte is kept to its first bytes.
    const std::string longName(1 << 20, 'Q');
    EXPECT_THAT(importsOf("import " + longName + " 1.0\n", 65536),
                ElementsAre(longName.substr(0, QmlImportReader::kMaxTokenBytes) + " 1.0"));

    // Reading stops after the largest number of different imports.
    std::string many;
    for (std::size_t i = 0; i < QmlImportReader::kMaxImports + 10; ++i)
        many += "import M" + std::to_string(i) + " 1.0;";
    const std::vector<std::string> imports = importsOf(many);
    ASSERT_EQ(imports.size(), QmlImportReader::kMaxImports);
    EXPECT_EQ(imports.back(), "M" + std::to_string(QmlImportReader::kMaxImports - 1) + " 1.0");

    // Once over, the reader takes no more input.
    QmlImportReader reader;
    EXPECT_FALSE(reader.feed("import A 1.0 {\nimport B 1.0\n"));
    EXPECT_FALSE(reader.feed("import C 1.0\n"));
    reader.finish();
    EXPECT_THAT(reader.imports(), ElementsAre("A 1.0"));
}

TEST(QmlImportsTest, LexicalJoin)
{
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/usr/share/app/qml/pages/", "../components", "/usr/share/app/qml/components"},
        {"/usr/share/app/qml/", "components/", "/usr/share/app/qml/components"},
        {"/usr/share/app/qml/", "./a//b/./c", "/usr/share/app/qml/a/b/c"},
        {"/usr/share/app/qml/", "a/../../qml/x", "/usr/share/app/qml/x"},
        {"/usr/", "../../../../etc", "/etc"},
        {"/", "..", "/"},
        {"/usr/share/", "", "/usr/share"},
    };
    for (const auto& [base, relative, expected] : cases)
        EXPECT_EQ(joinLexically(base, relative), expected) << base << " + " << relative;
}

class QmlImportsFinishTest : public ::testing::Test {
protected:
    QmlImportsFinishTest()
    {
        TestKit::Package package;
        package.name = "org.example.qml";
        meta = std::make_shared<const RpmMeta>(TestKit::buildRpm(package, work.path()));
    }

    std::string finishWith(std::initializer_list<Flag> flags)
    {
        auto logger = std::make_shared<Logger>();
        for (Flag flag : flags)
            logger->setFlag(flag, true);
        QmlImports imports({std::make_shared<const Config>(Profile::Regular), meta, logger});
        TestKit::StderrCapture capture;
        imports.finish();
        return capture.text();
    }

    TestKit::TempDir work{"qml-finish"};
    std::shared_ptr<const RpmMeta> meta;
};

TEST_F(QmlImportsFinishTest, ToolkitImportNeedsTheToolkitApplicationType)
{
    const std::string warning = TestKit::warning(
        "[desktop] X-Olvex-Application-Type should be varnel-qt5 for apps importing Pelora.Varnel in QML");
    EXPECT_EQ(finishWith({Flag::ImportsVarnel}), warning + "\n");
    EXPECT_EQ(finishWith({Flag::ImportsVarnel, Flag::VarnelQt5Declared}), "");
    EXPECT_EQ(finishWith({Flag::VarnelQt5Declared}), "");
    EXPECT_EQ(finishWith({}), "");
}

} // namespace
} // namespace Validator
