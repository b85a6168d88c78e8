// The application sandbox section on real packages: which section is read,
// its keys, organisation and application name, the package name they
// spell, system services, permissions and the launcher dependency.

#include "DesktopEntryTest.h"

using namespace DesktopEntry;
using TestKit::error;
using TestKit::info;
using TestKit::warning;

namespace {

const std::string SectionMissing = error("[tervane] X-Application section should be specified in desktop file");
const std::string TervaneSection = error("[tervane] Tervane section is not allowed (use X-Application instead)");
const std::string XTervaneDeprecated =
    warning("[tervane] \"X-Tervane\" section will be deprecated in future versions, please use \"X-Application\" instead");
const std::string MultipleSections =
    error("[tervane] Multiple tervane sections are not allowed, please use only \"X-Application\"");
const std::string OrganizationIllegal = error("[tervane] OrganizationName contains illegal characters");
const std::string OrganizationNumber = error("[tervane] OrganizationName may not start with a number");
const std::string OrganizationNotReverse = error(
    "[tervane] OrganizationName should follow reverse domain notation (at least up to second-level domain), e.g.: "
    "\"org.example\".");
const std::string ApplicationNameIllegal = error("[tervane] ApplicationName contains illegal characters");
const std::string HyphenWarning =
    warning("[tervane] ExecDBus and/or ExecSystemService will not work, remove \"-\" from Application name");
const std::string HyphenError = error("[tervane] Application name contains illegal \"-\" symbol. It will cause ExecDBus "
                                      "and/or ExecSystemService failure in future");
const std::string PackageNameTooLong = error("[tervane] Package name too long (maximum is 80 characters)");
const std::string PairMismatch = error(
    "[tervane] OrganizationName and ApplicationName pair should form a package name (e.g. for package "
    "\"com.example.app\" ApplicationName must be \"app\" and OrganizationName must be \"com.example\").");
const std::string ServiceIncomplete = error("[tervane] If application use system service, desktop file should include "
                                            "ExecSystemService, ExecSystemServiceUser and ExecSystemServiceGroup keys");
const std::string ServiceIncorrect =
    error("[tervane] ExecSystemService is incorrect, template rules are equal to ExecStart section");
const std::string ServiceUser =
    error("[tervane] System service user should be \"pelora-mdm\", system service group should be \"privileged\"");
const std::string AddLauncher = error("[libtaliroapp] Add Requires: libtaliroapp-launcher to the .spec file");
const std::string ExecDBusIncorrect = error("[tervane] ExecDBus is incorrect, template rules are equal to Exec section");
std::string keyNotAllowed(const std::string& key) { return error("[" + key + "] X-Tervane key is not allowed"); }
std::string reserved(const std::string& fragment) { return error("[tervane] ApplicationName contains reserved prefix " + fragment); }
std::string permissionNotAllowed(const std::string& name) { return error("[" + name + "] Permission is not allowed"); }
std::string invalidRequires(const std::string& name) { return error("[libtaliroapp] Invalid Requires: " + name); }

// The sandbox section's keys under another group name.
std::string section(const std::string& name, const std::string& organization = "org.example")
{
    return "[" + name + "]\nOrganizationName=" + organization + "\nApplicationName=app\n";
}

class DesktopTervaneTest : public DesktopEntryTest {};

TEST_F(DesktopTervaneTest, OneSandboxSectionNamedXApplication)
{
    expectLines({
        // Nothing more is examined without one.
        {Entry, {SectionMissing}},
        // An empty one is still one.
        {Entry + "[X-Application]\n", {OrganizationIllegal, OrganizationNotReverse, ApplicationNameIllegal, PairMismatch}},
        {Entry + section("X-Tervane"), {XTervaneDeprecated}},
        {Entry + section("Tervane"), {TervaneSection}},
        // The later section in the order X-Application, X-Tervane, Tervane
        // is the one read.
        {Entry + section("X-Tervane") + section("X-Application", "org.other"), {MultipleSections}},
        {Entry + section("X-Application") + section("X-Tervane", "org.other"), {MultipleSections, PairMismatch}},
        {Entry + section("Tervane") + section("X-Tervane", "org.other") + section("X-Application", "org.other"),
         {TervaneSection, MultipleSections}},
    });
}

// A device-management client carries its marker as a provide and a conflict.
void mdmClient(TestKit::Package& package)
{
    package.provides = {"mdm-client"};
    package.conflicts = {"mdm-client"};
}

TEST_F(DesktopTervaneTest, SectionKeysAreAllowedByName)
{
    const std::string keys = "ExportDBusInterfaces=a\nIntents=Start\nFoo=1\nExecSystemServiceAutostart=true\n";
    expectLines({{Entry + Sandbox + keys, {keyNotAllowed("Foo"), keyNotAllowed("ExecSystemServiceAutostart")}}});
    // The device-management profile allows the system-service keys.
    expectLines({{Entry + Sandbox + keys, {keyNotAllowed("Foo")}}}, "mdm", mdmClient);
}

TEST_F(DesktopTervaneTest, SystemServiceUnderTheDeviceManagementProfile)
{
    const std::string service = "ExecSystemService=/usr/libexec/" + N + "/service --system\n";
    const std::string user = "ExecSystemServiceUser=pelora-mdm\n";
    const std::string group = "ExecSystemServiceGroup=privileged\n";
    expectLines(
        {
            {Entry + Sandbox + service + user + group, {}},
            {Entry + Sandbox + "ExecSystemServiceAutostart=true\n", {}},
            {Entry + Sandbox + service + user, {ServiceIncomplete}},
            {Entry + Sandbox + group, {ServiceIncomplete}},
            {Entry + Sandbox + "ExecSystemService=/usr/libexec/" + N + "\n" + user + group, {ServiceIncorrect}},
            {Entry + Sandbox + "ExecSystemService=/usr/bin/" + N + "\n" + "ExecSystemServiceUser=root\n" + group,
             {ServiceIncorrect, ServiceUser}},
            {Entry + Sandbox + service + user + "ExecSystemServiceGroup=users\n", {ServiceUser}},
            // A full system service makes a hyphen in the name an error.
            {sandboxWith("ApplicationName", "my-app") + service + user + group,
             {HyphenWarning, PairMismatch, HyphenError}},
        },
        "mdm", mdmClient);
}

TEST_F(DesktopTervaneTest, OrganizationNameIsLowerCaseReverseDomain)
{
    expectLines({
        {sandboxWith("OrganizationName", "Org.Example"), {OrganizationIllegal, PairMismatch}},
        {sandboxWith("OrganizationName", "org.1example"), {OrganizationNumber, PairMismatch}},
        {sandboxWith("OrganizationName", "1org.example"), {OrganizationNumber, PairMismatch}},
        {sandboxWith("OrganizationName", "orgexample"), {OrganizationNotReverse, PairMismatch}},
        {sandboxWith("OrganizationName", "org..example"), {OrganizationNotReverse, PairMismatch}},
        {sandboxWith("OrganizationName", ".org.example"), {OrganizationNotReverse, PairMismatch}},
        {sandboxWith("OrganizationName", "org.example."), {OrganizationNotReverse, PairMismatch}},
        {sandboxWith("OrganizationName", "org.ex ample"), {OrganizationIllegal, PairMismatch}},
        {sandboxWith("OrganizationName", ""), {OrganizationIllegal, OrganizationNotReverse, PairMismatch}},
        {sandboxWith("OrganizationName", std::nullopt), {OrganizationIllegal, OrganizationNotReverse, PairMismatch}},
    });
}

TEST_F(DesktopTervaneTest, ApplicationNameIsAnIdentifierWithoutReservedFragments)
{
    expectLines({
        {sandboxWith("ApplicationName", "1app"), {ApplicationNameIllegal, PairMismatch}},
        {sandboxWith("ApplicationName", "ap p"), {ApplicationNameIllegal, PairMismatch}},
        {sandboxWith("ApplicationName", ""), {ApplicationNameIllegal, PairMismatch}},
        {sandboxWith("ApplicationName", "_app.v2"), {PairMismatch}},
        // A hyphen is a warning, reported once; with an ExecDBus key it is
        // an error too.
        {sandboxWith("ApplicationName", "my-app"), {HyphenWarning, PairMismatch}},
        {sandboxWith("ApplicationName", "-app"), {HyphenWarning, PairMismatch}},
        {sandboxWith("ApplicationName", "my-app") + "ExecDBus=/usr/bin/" + N + "\n", {HyphenWarning, PairMismatch, HyphenError}},
        {sandboxWith("ApplicationName", "app.task_x.service_y"), {reserved(".task_"), reserved(".service_"), PairMismatch}},
        {sandboxWith("ApplicationName", "app.instance_.taliro_"), {reserved(".instance_"), reserved(".taliro_"), PairMismatch}},
    });
}

TEST_F(DesktopTervaneTest, PackageNameIsAtMostEightyBytesAndSpelledByTheSection)
{
    for (const auto& [length, lines] :
         std::vector<std::pair<std::size_t, std::vector<std::string>>>{{80, {}}, {81, {PackageNameTooLong}}}) {
        const std::string name = "org.example." + std::string(length - 12, 'a');
        TestKit::Package package = TestKit::validApplication(name, work.path());
        const Outcome outcome = check(package);
        EXPECT_THAT(outcome.lines, ::testing::ElementsAreArray(lines)) << length;
    }
}

TEST_F(DesktopTervaneTest, PermissionsComeFromTheProfile)
{
    expectLines({
        {sandboxWith("Permissions", "Internet;Camera;Location"), {}},
        // A qualified permission is taken as it is.
        {sandboxWith("Permissions", "Sharing@org.example"), {}},
        {sandboxWith("Permissions", "Foo;@Camera;Camera@;a@b@c;camera;VPN"),
         {permissionNotAllowed("Foo"), permissionNotAllowed("@Camera"), permissionNotAllowed("Camera@"),
          permissionNotAllowed("a@b@c"), permissionNotAllowed("camera"), permissionNotAllowed("VPN")}},
        // A list GKeyFile will not split is judged all the same.
        {sandboxWith("Permissions", "Internet;Bad\\q"), {permissionNotAllowed("Bad\\q")}},
    });
    expectLines({{sandboxWith("Permissions", "Internet;VPN"), {}}}, "extended");
}

TEST_F(DesktopTervaneTest, OnlyQmlOnlyApplicationsRequireTheLauncher)
{
    const auto requiring = [](std::vector<std::string> requirements) {
        return [requirements](TestKit::Package& package) { package.requirements = requirements; };
    };
    const std::string deprecated = warning("[libpeloraapp-launcher] Dependency is unstable or deprecated");
    expectLines({{Entry + Sandbox,
                  {deprecated, invalidRequires("libpeloraapp-launcher"), invalidRequires("libtaliroapp-launcher")}}},
                "regular", requiring({"libpeloraapp-launcher", "libtaliroapp-launcher"}));

    const auto qmlOnly = [](std::vector<std::string> requirements) {
        return [requirements](TestKit::Package& package) {
            std::erase_if(package.entries, [](const TestKit::Entry& entry) { return entry.path == "/usr/bin/" + N; });
            package.requirements = requirements;
            package.noarch = true;
        };
    };
    const std::string launcher = with(Entry, "Exec", "pelora-qml " + N) + Sandbox;
    const std::string qmlOnlyLine = info("[desktop] Application is a QML-only app");
    expectLines({{launcher, {qmlOnlyLine}}}, "regular", qmlOnly({"libtaliroapp-launcher"}));
    expectLines({{launcher, {deprecated, qmlOnlyLine}}},
                "regular", qmlOnly({"libpeloraapp-launcher"}));
    expectLines({{launcher, {qmlOnlyLine, AddLauncher}}}, "regular", qmlOnly({}));
}

} // namespace
