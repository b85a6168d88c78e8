#include "checks/PackageChecks.h"
#include "core/Config.h"
#include "core/Profile.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

namespace Validator {
namespace {

using TestKit::PlatformRoot;

TEST(ProfileTable, NamesSubgroupsAndList)
{
    EXPECT_EQ(profileByName("systemapp"), Profile::SystemApp);
    EXPECT_EQ(profileByName("pwa"), Profile::Pwa);
    EXPECT_THROW(profileByName("Regular"), std::out_of_range);
    EXPECT_THROW(profileByName(""), std::out_of_range);
    try {
        profileByName("bogus");
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Unknown profile name: bogus");
    }
    EXPECT_EQ(profileBySubgroup(1), Profile::Regular);
    EXPECT_EQ(profileBySubgroup(2), Profile::Antivirus);
    EXPECT_EQ(profileBySubgroup(5), Profile::Auth);
    EXPECT_THROW(profileBySubgroup(0), std::out_of_range);
    EXPECT_THROW(profileBySubgroup(8), std::out_of_range);
    EXPECT_THROW(profileName(static_cast<Profile>(9)), std::out_of_range);
    EXPECT_EQ(profileListText(), "regular, extended, mdm, antivirus, auth, market, systemapp, pwa");
}

TEST(Profiles, SwitchesAndNames)
{
    PlatformRoot root;
    root.developerMode("[developermode]\nvalidationEnabled=true\n");
    struct Expect {
        Profile profile;
        const char* name;
        bool desktopRequired;
        bool icons;
    };
    for (const Expect& e : {Expect{Profile::Regular, "regular", true, true}, Expect{Profile::Extended, "extended", false, false},
                            Expect{Profile::Mdm, "mdm", false, false}, Expect{Profile::Antivirus, "antivirus", false, true},
                            Expect{Profile::Auth, "auth", false, false}, Expect{Profile::Market, "market", true, true},
                            Expect{Profile::SystemApp, "systemapp", true, true}, Expect{Profile::Pwa, "pwa", true, true},
                            Expect{static_cast<Profile>(42), "regular", true, true}}) {
        Config config(e.profile);
        EXPECT_EQ(config.name(), e.name);
        EXPECT_EQ(config.requiresDesktopFile(), e.desktopRequired) << e.name;
        EXPECT_EQ(config.checksIcons(), e.icons) << e.name;
    }
}

TEST(Profiles, EachProfileIsASupersetOfItsBase)
{
    Config regular(Profile::Regular);
    Config mdm(Profile::Mdm);
    Config auth(Profile::Auth);
    EXPECT_EQ(mdm.exclusiveProvide(), "mdm-client");
    EXPECT_EQ(regular.exclusiveProvide(), "");
    // regular and extended entries are in mdm.
    for (const char* permission : {"Internet", "Camera", "VPN", "LogSecurityEvents", "ManagedConfigurationAdmin"})
        EXPECT_TRUE(mdm.allowedPermissions().matches(permission)) << permission;
    EXPECT_FALSE(regular.allowedPermissions().matches("VPN"));
    EXPECT_TRUE(mdm.extraInstallPaths().matches("/usr/lib64/qt5/qml/Module/qmldir"));
    EXPECT_TRUE(mdm.extraInstallPaths().matches("/usr/bin/anything"));
    EXPECT_TRUE(mdm.allowedDependencies().matches("connman-qt5"));
    EXPECT_TRUE(mdm.unstableImports().matches("Pelora.Mdm 1.0"));
    EXPECT_FALSE(auth.unstableImports().matches("Pelora.Mdm 1.0"));
    EXPECT_TRUE(auth.allowedLibraries().matches("libudev.so.1(LIBUDEV_183)"));
    EXPECT_FALSE(auth.allowedLibraries().matches("libudev.so.1(OTHER)"));
    EXPECT_TRUE(Config(Profile::Market).extraInstallPaths().matches("/etc/trusted-sources/store.pem"));
    EXPECT_FALSE(Config(Profile::Market).extraInstallPaths().matches("/etc/trusted-sources/.pem"));
}

TEST(Profiles, BaseListsMatchWholeNamesAndVersionSuffixes)
{
    Config regular(Profile::Regular);
    const PatternSet& libraries = regular.allowedLibraries();
    EXPECT_TRUE(libraries.matches("libQt5Core.so.5(Qt_5.15)"));
    EXPECT_TRUE(libraries.matches("libQt5Core.so.5"));
    EXPECT_FALSE(libraries.matches("libQt5Core.so.5(Qt_5_PRIVATE_API)"));
    EXPECT_TRUE(libraries.matches("libz.so.1"));
    EXPECT_FALSE(libraries.matches("libz.so.1.2"));
    EXPECT_TRUE(libraries.matches("libc.so.6"));
    const PatternSet& dependencies = regular.allowedDependencies();
    EXPECT_TRUE(dependencies.matches("libc.so.6(GLIBC_2.17)"));
    EXPECT_FALSE(dependencies.matches("libc.so.6(GLIBC_PRIVATE)"));
    EXPECT_TRUE(dependencies.matches("libssl.so.1.1(OPENSSL_1_1_1)"));
    EXPECT_TRUE(dependencies.matches("libssl.so.1.1(libssl.so.1.1)"));
    EXPECT_FALSE(dependencies.matches("libssl.so.1.1(OPENSSL_3)"));
    EXPECT_TRUE(regular.allowedImports().matches("QtQuick 2.6"));
    EXPECT_FALSE(regular.allowedImports().matches("QtQuick 2.7"));
    EXPECT_TRUE(regular.reservedImportPatterns().matches("QtQuick 2.7"));
    EXPECT_TRUE(regular.reservedImportPatterns().matches("orgXolvexmobile.thing"));
    EXPECT_FALSE(regular.reservedImportPatterns().matches("org.kde.bluezqt.more"));
    EXPECT_TRUE(regular.forbiddenMimeHandlers().matches("application/x-rpm"));
    EXPECT_TRUE(regular.deprecatedLibraries().matches("libQt5WebChannel.so.5(Qt_5)"));
    EXPECT_TRUE(regular.unstableDependencies().matches("taliro-controls"));
    EXPECT_TRUE(regular.deprecatedDependencies().matches("libpng15.so.15(PNG15_0)"));
}

// Texts of a megabyte and more, as a hostile header carries them, against
// every pattern set of every profile and the package-name check: nothing
// recurses per character, and each set answers as its list says.
TEST(Profiles, EveryPatternSetOfEveryProfileOnMegabyteTexts)
{
    PlatformRoot root;
    root.developerMode("[developermode]\nvalidationEnabled=true\n");
    using SetOf = const PatternSet& (Config::*)() const;
    const std::map<std::string, SetOf> sets = {
        {"extraInstallPaths", &Config::extraInstallPaths},
        {"allowedPermissions", &Config::allowedPermissions},
        {"allowedLibraries", &Config::allowedLibraries},
        {"unstableLibraries", &Config::unstableLibraries},
        {"deprecatedLibraries", &Config::deprecatedLibraries},
        {"allowedDependencies", &Config::allowedDependencies},
        {"unstableDependencies", &Config::unstableDependencies},
        {"deprecatedDependencies", &Config::deprecatedDependencies},
        {"allowedImports", &Config::allowedImports},
        {"unstableImports", &Config::unstableImports},
        {"deprecatedImports", &Config::deprecatedImports},
        {"reservedImportPatterns", &Config::reservedImportPatterns},
        {"forbiddenMimeHandlers", &Config::forbiddenMimeHandlers},
    };
    const std::set<std::string> all = {"regular", "extended", "mdm", "antivirus", "auth", "market", "systemapp", "pwa"};
    const std::string mb(1 << 20, 'a');
    std::string components = "a";
    for (int i = 1; i < 300000; ++i)
        components += ".a";

    struct Row {
        std::string label;
        std::string text;
        bool reverseDomain;
        std::map<std::string, std::set<std::string>> matches;  // set -> profiles; every other pair must not match
    };
    const std::vector<Row> rows = {
        {"Qt Core, megabyte version", "libQt5Core.so.5(" + mb + ")", true, {{"allowedLibraries", all}}},
        {"Qt Core, private API", "libQt5Core.so.5(Qt_5_PRIVATE_API" + mb + ")", true, {}},
        {"Qt Core, no closing parenthesis", "libQt5Core.so.5(" + std::string(1 << 20, '('), true, {}},
        {"libdl, megabyte version", "libdl.so.2(" + mb + ")", true, {{"allowedDependencies", all}}},
        {"libdl, private version", "libdl.so.2(GLIBC_PRIVATE" + mb + ")", true, {}},
        {"libz, line break in the version", "libz.so.1(" + mb + "\n)", true, {}},
        {"libudev of auth", "libudev.so.1(LIBUDEV_" + mb + ")", true, {{"allowedLibraries", {"auth"}}}},
        {"libsystemd of extended", "libsystemd.so.0(" + mb + ")", true,
         {{"deprecatedLibraries", {"extended", "mdm", "auth"}}}},
        {"WebChannel of every profile", "libQt5WebChannel.so.5(" + mb + ")", true, {{"deprecatedLibraries", all}}},
        {"reserved import name space", "Qt" + mb, false, {{"reservedImportPatterns", all}}},
        {"programs", "/usr/bin/" + mb, false, {{"extraInstallPaths", all}}},
        {"QML modules", "/usr/lib64/qt5/qml/" + mb, false, {{"extraInstallPaths", {"extended", "mdm", "auth"}}}},
        {"trusted sources", "/etc/trusted-sources/" + mb + ".pem", false, {{"extraInstallPaths", {"market"}}}},
        {"a megabyte of dots", std::string(1 << 20, '.'), false, {}},
        {"a megabyte of letters", mb, false, {}},
        {"300 000 components", components, true, {}},
        {"empty last component", components + ".", false, {}},
    };

    std::map<std::string, Config> configs;
    for (const std::string& name : all)
        configs.emplace(name, Config(profileByName(name)));
    for (const Row& row : rows) {
        EXPECT_EQ(isReverseDomain(row.text), row.reverseDomain) << row.label;
        for (const auto& [setName, set] : sets) {
            for (const auto& [profile, config] : configs) {
                const auto expected = row.matches.find(setName);
                const bool shouldMatch = expected != row.matches.end() && expected->second.count(profile);
                EXPECT_EQ((config.*set)().matches(row.text), shouldMatch) << row.label << ", " << setName << ", " << profile;
            }
        }
    }
}

TEST(Profiles, ListCounts)
{
    Config regular(Profile::Regular);
    EXPECT_EQ(regular.allowedPermissions().nameCount(), 28u);
    EXPECT_EQ(regular.allowedLibraries().nameCount() + regular.allowedLibraries().expressionCount(), 95u);
    EXPECT_EQ(regular.unstableLibraries().nameCount() + regular.unstableLibraries().expressionCount(), 9u);
    EXPECT_EQ(regular.deprecatedLibraries().nameCount() + regular.deprecatedLibraries().expressionCount(), 10u);
    // One entry is listed twice.
    EXPECT_EQ(regular.allowedDependencies().nameCount() + regular.allowedDependencies().expressionCount(), 92u);
    EXPECT_EQ(regular.allowedImports().nameCount(), 68u);
    EXPECT_EQ(regular.deprecatedImports().nameCount(), 8u);
    EXPECT_EQ(regular.unstableImports().nameCount(), 5u);
    EXPECT_EQ(regular.reservedImportPatterns().expressionCount(), 14u);
    EXPECT_EQ(regular.extraInstallPaths().nameCount() + regular.extraInstallPaths().expressionCount(), 2u);
    EXPECT_EQ(regular.iconSizes(), (std::vector<std::int32_t>{86, 108, 128, 172}));
}

TEST(Profiles, DeveloperModeSettingIsReadBelowThePlatformRoot)
{
    PlatformRoot root;
    root.developerMode("[developermode]\nvalidationEnabled=false\n");
    EXPECT_FALSE(Config(Profile::Regular).fullChecks());
    root.developerMode("[developermode]\nvalidationEnabled=1\n");
    EXPECT_TRUE(Config(Profile::Mdm).fullChecks());
    root.developerMode("[developermode]\nvalidationEnabled=no-idea\n");
    EXPECT_TRUE(Config(Profile::Regular).fullChecks());
    Config config(Profile::Regular);
    config.setFullChecks(false);
    EXPECT_FALSE(config.fullChecks());
}

} // namespace
} // namespace Validator
