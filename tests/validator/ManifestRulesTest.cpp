// Version parsing and ordering, the branch bound of minimum versions, and
// when the manifest asks for the system's version.

#include "checks/manifest/ManifestRules.h"
#include "core/Logger.h"
#include "package/Error.h"

#include "Findings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Validator::ManifestRules {
namespace {

TEST(ManifestVersionTest, Parsing)
{
    const std::vector<std::pair<std::string, std::optional<Version>>> cases = {
        {"4", Version{4}},
        {"4.0.2", Version{4, 0, 2}},
        {"007.1", Version{7, 1}},
        {"2147483647", Version{2147483647}},
        {"2147483648", std::nullopt},
        {"99999999999999999999.1", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
        {"4.", std::nullopt},
        {".4", std::nullopt},
        {"4..0", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"4.0a", std::nullopt},
        {" 4.0", std::nullopt},
        {"\"4.0\"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseVersion(text), expected) << text;
    // The os-release file may quote its value; nothing else is taken off.
    EXPECT_EQ(parseSystemVersion("\"5.1\""), (Version{5, 1}));
    EXPECT_EQ(parseSystemVersion("'5.1'"), (Version{5, 1}));
    EXPECT_EQ(parseSystemVersion("\"5.1'"), std::nullopt);
    EXPECT_EQ(parseSystemVersion("\""), std::nullopt);
    EXPECT_EQ(parseSystemVersion(" 5.1"), std::nullopt);
}

TEST(ManifestVersionTest, OrderingIsPartByPartAndAPrefixIsSmaller)
{
    const std::vector<std::string> ascending = {"0", "0.0", "0.1", "1", "4", "4.0", "4.0.0", "4.0.1", "4.0.10",
                                                "4.1", "4.10", "10", "2147483647"};
    for (std::size_t i = 0; i + 1 < ascending.size(); ++i)
        EXPECT_LT(*parseVersion(ascending[i]), *parseVersion(ascending[i + 1])) << ascending[i];
    EXPECT_EQ(*parseVersion("04.00"), *parseVersion("4.0"));
}

TEST(ManifestVersionTest, CompatibilityAndBranchBound)
{
    struct Case {
        std::string system;
        std::vector<std::string> minimums;
        bool compatible;
    };
    const std::vector<Case> cases = {
        {"4.0.2", {"4.0.1"}, true},
        {"4.0.2", {"4.0.2"}, true},
        {"4.0.2", {"5.0"}, false},
        // 4.0.2 opens the branch below 4.1.
        {"4.0.2", {"5.0.1", "4.0.2"}, true},
        {"4.0.9", {"5.0.1", "4.0.2"}, true},
        {"4.1", {"5.0.1", "4.0.2"}, false},
        {"4.0.1", {"5.0.1", "4.0.2"}, false},
        {"4.0.2", {"5.0.1", "3.4.0"}, false},
        {"3.4.7", {"5.0.1", "3.4.0"}, true},
        // The order in the list does not matter; the greatest decides first.
        {"5.2", {"4.0.2", "5.0.1"}, true},
        // A two-part minimum opens its major release.
        {"4.9.9", {"5.1", "4.2"}, true},
        {"5.0", {"5.1", "4.2"}, false},
        // A one-part minimum, reached below a newer branch, opens its own
        // major release only.
        {"4.9", {"5.1", "4"}, true},
        {"4", {"5.1", "4"}, true},
        {"5.0", {"5.1", "4"}, false},
        {"3.9", {"5.1", "4"}, false},
        // Raising the largest part does not wrap round.
        {"7.2147483647.5", {"8", "7.2147483647.1"}, true},
        {"7.5", {"8", "2147483647"}, false},
        // Invalid minimums take no part; with none left nothing is compatible.
        {"4.0.2", {"x", "4.0"}, true},
        {"4.0.2", {"x", ""}, false},
        // A quoted system version is read without its quotes; any other
        // invalid one satisfies no minimum.
        {"\"4.0.2\"", {"4.0.1"}, true},
        {"4.0.2-beta", {"1"}, false},
        {"", {"0"}, false},
    };
    for (const Case& c : cases) {
        std::string list;
        for (const std::string& minimum : c.minimums)
            list += minimum + " ";
        EXPECT_EQ(isCompatible(c.system, c.minimums), c.compatible) << c.system << " against " << list;
    }
}

TEST(ManifestTextTest, SystemVersionIsAskedOnlyForAUsableList)
{
    Logger logger;
    TestKit::StderrCapture capture;
    int asked = 0;
    const auto system = [&asked] {
        ++asked;
        return std::string("4.0");
    };
    checkManifest(R"({"minOSVersion": 4})", system, logger);
    checkManifest(R"({"minOSVersion": "4.0"})", system, logger);
    EXPECT_EQ(asked, 1);
    // A failing lookup is not caught here: the driver reports it.
    EXPECT_THROW(checkManifest(
                     R"({"minOSVersion": "4.0"})",
                     []() -> std::string { throw Common::Error(Common::ErrorCode::Internal, "no version"); }, logger),
                 Common::Error);
}

} // namespace
} // namespace Validator::ManifestRules
