// The default desktop checks on real packages: allowed groups, the two
// vendor groups, and Name, Icon, Type, Exec and the application type of
// "Desktop Entry". One test per rule, each a table of desktop files and the
// exact lines vetrik prints for them.

#include "DesktopEntryTest.h"

using namespace DesktopEntry;
using TestKit::error;
using TestKit::info;
using TestKit::warning;

namespace {

std::string groupDisallowed(const std::string& group) { return error("[desktop] '" + group + "' group is disallowed"); }
std::string invalidValue(const std::string& value, const std::string& key)
{
    return error("[desktop] invalid value '" + value + "' in 'X-Taliro-Application/" + key + "' field");
}
std::string invalidField(const std::string& key, const std::string& group)
{
    return error("[desktop] invalid field name '" + key + "' in '" + group + "' group");
}
// Two lines: the message holds a line break.
std::vector<std::string> invalidColor(const std::string& value, const std::string& key)
{
    return {error("[desktop] invalid value '" + value + "' in 'X-Taliro-SplashScreen/" + key + "' field. "),
            "The expected value is a color in hex format (#RRGGBB)."};
}
template <typename... Parts>
std::vector<std::string> concat(const Parts&... parts)
{
    std::vector<std::string> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

const std::string NameMissing = error("[desktop] Missing valid Name declaration inside");
const std::string NameIllegal = error("[desktop] Name contains illegal characters");
const std::string IconInvalid = error("[desktop] Missing valid Icon declaration inside, must be Icon=" + N);
const std::string TypeInvalid = error("[desktop] Missing valid Type declaration inside");
const std::string ExecInvalid = error("[desktop] Missing valid Exec declaration inside");
const std::string QmlOnly = info("[desktop] Application is a QML-only app");
const std::string TypeMustBeVarnel = error("[desktop] X-Olvex-Application-Type must be varnel-qt5 for pelora-qml apps");
const std::string TypeShouldBeVarnel = warning("[desktop] X-Olvex-Application-Type should be varnel-qt5 (not a Varnel app?)");
const std::string TypeMissing = error("[desktop] X-Olvex-Application-Type not declared (use varnel-qt5 for QML apps)");

class DesktopDefaultTest : public DesktopEntryTest {};

TEST_F(DesktopDefaultTest, GroupsAreAllowedByName)
{
    const std::string valid = Entry + Sandbox;
    expectLines({
        {valid + "[X-Taliro-Application]\nOrientation=All\n[X-Taliro-SplashScreen]\nGradientStartColor=#FFF\n"
                 "[Attestation]\nActionOnBadAttestation=None\n[X-Taliro-Capabilities]\nInput=Mouse\n"
                 "[X-Task Sync]\nType=periodic\n[X-Service Net]\nType=worker\n",
         {}},
        // In file order; "X-Task" must be followed by a space.
        {valid + "[Foo]\n[X-Share Method Email]\n[X-Taskforce]\n",
         {groupDisallowed("Foo"), groupDisallowed("X-Share Method Email"), groupDisallowed("X-Taskforce")}},
        {with(Entry, "Type", "Application\nX-Share-Methods=Email;Sms") + Sandbox + "[X-Share Method Email]\n[X-Share Method Fax]\n",
         {groupDisallowed("X-Share Method Fax")}},
    });
}

TEST_F(DesktopDefaultTest, ApplicationSectionTakesOrientationsAndIconMode)
{
    const std::string valid = Entry + Sandbox;
    expectLines({
        {valid + "[X-Taliro-Application]\nOrientation=Portrait;Landscape\nLargeScreenOrientation=PortraitInverted\n"
                 "SmallScreenOrientation=LandscapeMask\nMediumScreenOrientation=None\nExtraLargeScreenOrientation=PortraitMask\n"
                 "IconMode=Crop\n",
         {}},
        // Values are case-sensitive; keys are reported in file order.
        {valid + "[X-Taliro-Application]\nOrientation=portrait;Landscape;Upside\nSize=Big\nIconMode=Fit;Scale\n",
         {invalidValue("portrait", "Orientation"), invalidValue("Upside", "Orientation"),
          invalidField("Size", "X-Taliro-Application"), invalidValue("Fit", "IconMode")}},
    });
}

TEST_F(DesktopDefaultTest, SplashScreenTakesTwoColours)
{
    const std::string valid = Entry + Sandbox;
    const auto splash = [&](const std::string& start, const std::string& end) {
        return valid + "[X-Taliro-SplashScreen]\nGradientStartColor=" + start + "\nGradientEndColor=" + end + "\n";
    };
    expectLines({
        {splash("#FFF", "#00ff00"), {}},
        {splash("#GG0000", "00FF00"),
         concat(invalidColor("#GG0000", "GradientStartColor"), invalidColor("00FF00", "GradientEndColor"))},
        {splash("#12345", "#1234567"),
         concat(invalidColor("#12345", "GradientStartColor"), invalidColor("#1234567", "GradientEndColor"))},
        // Only hexadecimal digits: no sign, no blank, no "0x".
        {splash("#-FF", "#0x12ab"), concat(invalidColor("#-FF", "GradientStartColor"), invalidColor("#0x12ab", "GradientEndColor"))},
        {splash("# FF", "#FFF"), invalidColor("# FF", "GradientStartColor")},
        {valid + "[X-Taliro-SplashScreen]\nColor=#FFF\n", {invalidField("Color", "X-Taliro-SplashScreen")}},
        // The groups are examined in file order.
        {valid + "[X-Taliro-SplashScreen]\nColor=#FFF\n[X-Taliro-Application]\nSize=Big\n",
         {invalidField("Color", "X-Taliro-SplashScreen"), invalidField("Size", "X-Taliro-Application")}},
    });
}

TEST_F(DesktopDefaultTest, NameIsPresentAndVisible)
{
    expectLines({
        {entryWith("Name", "Пример\u00a0приложения 2"), {}},
        {entryWith("Name", "日本語アプリ"), {}},
        {entryWith("Name", ""), {NameMissing, NameIllegal}},
        {entryWith("Name", std::nullopt), {NameMissing, NameIllegal}},
        {entryWith("Name", "Tab\there"), {NameIllegal}},
        {entryWith("Name", "Zero\u200dwidth"), {NameIllegal}},      // format
        {entryWith("Name", "Private\ue000"), {NameIllegal}},        // private use
        {entryWith("Name", "Line\u2028break"), {NameIllegal}},      // line separator
        {entryWith("Name", "Thin\u2009space"), {NameIllegal}},      // space separator other than the two
        {entryWith("Name", "Unassigned\u0378"), {NameIllegal}},
        // Not UTF-8: a stray byte, an overlong form, a surrogate, a cut
        // sequence, a code point above U+10FFFF.
        {entryWith("Name", "Bad\xff" "byte"), {NameIllegal}},
        {entryWith("Name", "Over\xc0\xaf" "long"), {NameIllegal}},
        {entryWith("Name", "Sur\xed\xa0\x80" "rogate"), {NameIllegal}},
        {entryWith("Name", "Cut\xe2\x82"), {NameIllegal}},
        {entryWith("Name", "Big\xf4\x90\x80\x80"), {NameIllegal}},
    });
}

TEST_F(DesktopDefaultTest, IconAndTypeAreFixed)
{
    expectLines({
        {entryWith("Icon", "other.app"), {IconInvalid}},
        {entryWith("Icon", std::nullopt), {IconInvalid}},
        {entryWith("Type", "Link"), {TypeInvalid}},
        {entryWith("Type", "application"), {TypeInvalid}},
        {entryWith("Type", std::nullopt), {TypeInvalid}},
    });
}

TEST_F(DesktopDefaultTest, ExecRunsThePackageOrTheLauncherWithIt)
{
    expectLines({
        {entryWith("Exec", N), {}},
        {entryWith("Exec", "/usr/bin/" + N + " --fullscreen"), {}},
        {entryWith("Exec", N + " %u"), {}},
        {entryWith("Exec", "/usr/bin/other.app"), {ExecInvalid}},
        {entryWith("Exec", "/usr/bin/" + N + ".extra"), {ExecInvalid}},
        {entryWith("Exec", "pelora-qml" + N), {ExecInvalid}},
        {entryWith("Exec", "pelora-qml  " + N), {ExecInvalid}},
        {entryWith("Exec", std::nullopt), {ExecInvalid}},
        // The launcher forms make the application QML-only: the package then
        // needs the launcher library, and no main executable of its own.
        {entryWith("Exec", "pelora-qml " + N),
         {QmlOnly, error("[libtaliroapp] Add Requires: libtaliroapp-launcher to the .spec file"),
          error("[binary] Main binary must not exist. Desktop file uses pelora-qml")}},
    });
    // A web application starts the browser, and nothing else.
    expectLines(
        {
            {entryWith("Exec", TestKit::browserCommand + " --app=" + N), {}},
            {entryWith("Exec", "/usr/bin/" + N), {ExecInvalid}},
        },
        "pwa");
}

TEST_F(DesktopDefaultTest, ApplicationTypeShouldBeTheToolkits)
{
    expectLines({
        {entryWith("X-Olvex-Application-Type", "qt5"), {TypeShouldBeVarnel}},
        {entryWith("X-Olvex-Application-Type", "no-invoker"), {TypeShouldBeVarnel}},
        {entryWith("X-Olvex-Application-Type", "Qt5"), {TypeMissing}},
        {entryWith("X-Olvex-Application-Type", std::nullopt), {TypeMissing}},
    });
    // A QML-only application must declare it.
    const auto qmlOnly = [](TestKit::Package& package) {
        std::erase_if(package.entries, [](const TestKit::Entry& entry) { return entry.path == "/usr/bin/" + N; });
        package.requirements = {"libtaliroapp-launcher"};
        package.noarch = true;
    };
    const std::string launcher = with(Entry, "Exec", "pelora-qml " + N);
    expectLines(
        {
            {launcher + Sandbox, {QmlOnly}},
            {with(launcher, "X-Olvex-Application-Type", "qt5") + Sandbox, {QmlOnly, TypeMustBeVarnel}},
            {with(launcher, "X-Olvex-Application-Type", std::nullopt) + Sandbox, {QmlOnly, TypeMustBeVarnel}},
        },
        "regular", qmlOnly);
}

} // namespace
