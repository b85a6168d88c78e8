// The demo a new user runs first: scripts/demo.sh builds both samples with
// rpmbuild, samples/hello passes without a finding and samples/broken fails
// with the findings it was made to show, each explained.

#include "DriverFixture.h"
#include "Findings.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using ::testing::ElementsAre;
using ::testing::IsSupersetOf;
using TestKit::error;
using TestKit::warning;

namespace {

TEST(DemoTest, HelloPassesBrokenFailsAndTheDemoSaysSoAndExplainsEveryFinding)
{
    TestKit::RunOptions options;
    options.env = {{"VETRIK", TestKit::Vetrik::path()}};
    options.timeoutSeconds = 300;
    const auto result = TestKit::run({std::string(TALIRO_SOURCE_DIR) + "/scripts/demo.sh"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::vector<std::string> out = TestKit::lines(result.out);
    const std::vector<std::string> err = TestKit::lines(result.err);

    // Each sample's verdict, in plain words.
    const auto said = [&out](const std::string& line) { return std::find(out.begin(), out.end(), line) != out.end(); };
    EXPECT_TRUE(said("   vetrik must PASS it under the default profile (regular): exit status 0, no finding."));
    EXPECT_TRUE(said("   => exit status 0: passed, as it must.")) << result.out;
    EXPECT_TRUE(said("   => exit status 1: failed, as it must.")) << result.out;

    // samples/hello draws no finding at all; samples/broken exactly those it
    // was made for.
    std::vector<std::string> findings;
    for (const std::string& line : err) {
        if (line.starts_with("("))
            findings.push_back(line);
    }
    const std::string n = "org.example.broken";
    EXPECT_THAT(findings,
                ElementsAre(error("[/opt/" + n + "/notes.txt] Installation not allowed in this location "
                                  "[install-location-not-allowed]"),
                            error("[desktop] X-Olvex-Application-Type not declared (use varnel-qt5 for QML apps) "
                                  "[desktop-application-type-missing]"),
                            error("[Bogus] Permission is not allowed [sandbox-permission-not-allowed]"),
                            error("[/usr/share/icons/hicolor/172x172/apps/" + n
                                  + ".png] Icon not found or file resolution is incorrect [icon-missing-or-wrong-size]"),
                            error("[/usr/share/" + n + "/settings.conf] Hardcoded path found [hardcoded-home-path]"),
                            warning("[rpath] The rpath in binary is empty [rpath-empty]")))
        << result.err;

    // Then every one of those rules explained.
    EXPECT_THAT(out, IsSupersetOf({"desktop-application-type-missing", "hardcoded-home-path",
                                   "icon-missing-or-wrong-size", "install-location-not-allowed", "rpath-empty",
                                   "sandbox-permission-not-allowed"}));
}

} // namespace
