// The stand-in for the platform's parameter-file library: which files are
// parameter files of a package, and which of them are valid.

#include <ManagedConfiguration/CPFValidator.h>

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using ManagedConfiguration::Validator::CPFValidator;

TEST(ParameterFileTest, OnlyFilesOfTheRuleAreClaimed)
{
    const auto files = CPFValidator::instance("/nonexistent");
    const std::string dir = "/usr/share/org.example.app/managed-configuration/";
    const std::vector<std::pair<std::string, bool>> cases = {
        {dir + "settings.json", true},
        {dir + "vpn-profile_2.v1.json", true},
        {dir + ".hidden.json", false},
        {dir + ".json", false},
        {dir + "sub/settings.json", false},
        {dir + "settings.json.bak", false},
        {dir + "set tings.json", false},
        {"/usr/share/other.app/managed-configuration/settings.json", false},
        {"/usr/share/org.example.app/settings.json", false},
        {"/manifest.json", false},
        {"/etc/integrityd/config.d/org.example.app.json", false},
        {"/usr/share/applications/org.example.app.desktop", false},
    };
    for (const auto& [path, claimed] : cases)
        EXPECT_EQ(files->isConfigurationParameterFile("org.example.app", path), claimed) << path;
    EXPECT_FALSE(files->isConfigurationParameterFile("", "/usr/share//managed-configuration/settings.json"));
}

TEST(ParameterFileTest, StandardSchemasLieBelowThePlatformRoot)
{
    ::setenv("KVD_ROOT_FS", "/some/root", 1);
    EXPECT_EQ(CPFValidator::standardSchemasDirectory(), "/some/root/usr/share/managed-configuration/schemas");
    ::unsetenv("KVD_ROOT_FS");
    EXPECT_EQ(CPFValidator::standardSchemasDirectory(), "/usr/share/managed-configuration/schemas");
}

TEST(ParameterFileTest, ValidityAgainstTheSchema)
{
    TestKit::TempDir dir;
    TestKit::writeFile(dir / "schemas/settings.json", R"({
        "parameters": {"server": "string", "retries": "integer", "ratio": "number", "enabled": "boolean",
                       "hosts": "array", "extra": "object", "odd": "colour"},
        "required": ["server"]})");
    TestKit::writeFile(dir / "schemas/broken.json", R"({"parameters": ["server"]})");
    TestKit::writeFile(dir / "schemas/badrequired.json", R"({"parameters": {}, "required": "server"})");
    const auto files = CPFValidator::instance(dir / "schemas");
    const std::vector<std::pair<std::string, bool>> cases = {
        {R"({"server": "https://mdm.example"})", true},
        {R"({"server": "s", "retries": 3, "ratio": 0.5, "enabled": true, "hosts": [], "extra": {}})", true},
        {R"({"server": "s", "retries": -3, "ratio": 2})", true},
        {R"({"server": "s", "retries": 3.5})", false},
        {R"({"server": "s", "enabled": "true"})", false},
        {R"({"server": "s", "unknown": 1})", false},
        {R"({"server": "s", "odd": "red"})", false},
        {R"({"retries": 3})", false},
        {R"({"server": 1})", false},
        {R"(["server"])", false},
        {R"({"server": "s")", false},
        {"", false},
    };
    for (const auto& [content, valid] : cases) {
        TestKit::writeFile(dir / "unpacked/settings.json", content);
        EXPECT_EQ(files->isValid(dir / "unpacked/settings.json"), valid) << content;
    }
    TestKit::writeFile(dir / "unpacked/broken.json", "{}");
    TestKit::writeFile(dir / "unpacked/badrequired.json", "{}");
    TestKit::writeFile(dir / "unpacked/unknown.json", "{}");
    EXPECT_FALSE(files->isValid(dir / "unpacked/broken.json")) << "schema without a parameters object";
    EXPECT_FALSE(files->isValid(dir / "unpacked/badrequired.json")) << "schema whose required list is not a list";
    EXPECT_FALSE(files->isValid(dir / "unpacked/unknown.json")) << "no schema";
    // Never read: a FIFO would block.
    ASSERT_EQ(::mkfifo((dir / "unpacked/fifo.json").c_str(), 0644), 0);
    TestKit::writeFile(dir / "schemas/fifo.json", R"({"parameters": {}})");
    EXPECT_FALSE(files->isValid(dir / "unpacked/fifo.json"));
}

} // namespace
