#pragma once

// The fixed tables of the desktop-entry checks: what each checker accepts.
// The checkers read them, and the explanations of their rules list them, so
// that what a user is told is what the check does.

#include <cstddef>
#include <span>
#include <string_view>

namespace Validator::DesktopTables {

// A key and the values it may take.
struct KeyValues {
    std::string_view key;
    std::span<const std::string_view> values;
};

// Default checks.
inline constexpr std::string_view kApplicationGroup = "X-Taliro-Application";
inline constexpr std::string_view kSplashGroup = "X-Taliro-SplashScreen";
inline constexpr std::string_view kAllowedGroups[] = {
    "Desktop Entry", "X-Application", "X-Tervane", "Tervane", "X-Taliro-Application",
    "X-Taliro-SplashScreen", "Attestation", "X-Taliro-Capabilities",
};
// Groups named by a prefix: the background task and service groups, which
// the intents checks judge, and one group per share method listed in
// "X-Share-Methods".
inline constexpr std::string_view kTaskGroupPrefixes[] = {"X-Task ", "X-Service "};
inline constexpr std::string_view kShareMethodPrefix = "X-Share Method ";
inline constexpr std::string_view kOrientationKeys[] = {
    "Orientation", "SmallScreenOrientation", "MediumScreenOrientation", "LargeScreenOrientation",
    "ExtraLargeScreenOrientation",
};
inline constexpr std::string_view kOrientationValues[] = {
    "None", "All", "Portrait", "PortraitMask", "Landscape", "LandscapeMask", "PortraitInverted", "LandscapeInverted",
};
inline constexpr std::string_view kIconModeKey = "IconMode";
inline constexpr std::string_view kIconModeValues[] = {"Scale", "Crop"};
inline constexpr std::string_view kSplashKeys[] = {"GradientStartColor", "GradientEndColor"};
inline constexpr std::string_view kApplicationTypeKey = "X-Olvex-Application-Type";
// The UI toolkit's type, the one that draws no finding.
inline constexpr std::string_view kVarnelApplicationType = "varnel-qt5";
// Known older types: accepted with a warning, except for QML-only apps.
inline constexpr std::string_view kOtherApplicationTypes[] = {"no-invoker", "generic", "qtquick2", "qt5"};
// Exec of a QML-only application: the launcher, one space, the package name.
inline constexpr std::string_view kQmlLaunchers[] = {"pelora-qml ", "taliro-qml "};
// The one Exec of a web application (profile "pwa").
inline constexpr std::string_view kBrowserCommand = "/usr/bin/org.brevane.browserstandalone";

// Sandbox section.
inline constexpr std::string_view kSandboxSections[] = {"X-Application", "X-Tervane", "Tervane"};
inline constexpr std::string_view kSandboxKeys[] = {
    "Permissions", "OrganizationName", "ApplicationName", "ExecDBus", "ExportDBusInterfaces", "Intents",
};
// Allowed too under the profile that runs system services ("mdm").
inline constexpr std::string_view kSystemServiceProfile = "mdm";
inline constexpr std::string_view kMdmSandboxKeys[] = {
    "ExecSystemService", "ExecSystemServiceUser", "ExecSystemServiceGroup", "ExecSystemServiceAutostart",
};
inline constexpr std::string_view kSystemServiceKeys[] = {
    "ExecSystemService", "ExecSystemServiceUser", "ExecSystemServiceGroup",
};
inline constexpr std::string_view kSystemServiceUser = "pelora-mdm";
inline constexpr std::string_view kSystemServiceGroup = "privileged";
inline constexpr std::string_view kReservedNameFragments[] = {".instance_", ".task_", ".taliro_", ".service_"};
inline constexpr std::string_view kOrganizationAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz._-";
inline constexpr std::string_view kLauncherLibraries[] = {"libpeloraapp-launcher", "libtaliroapp-launcher"};
inline constexpr std::size_t kMaxPackageName = 80;

// Intents and background tasks.
inline constexpr std::string_view kTaskKeys[] = {"Type", "Exec", "Permissions", "Conditions"};
inline constexpr std::string_view kTaskTypes[] = {"mdmclient", "periodic", "push", "scheduled", "session-start", "worker"};
inline constexpr std::string_view kForbiddenTaskPermissions[] = {"Base", "Audio", "Camera", "Microphone"};
inline constexpr std::string_view kImplicitTaskPermission = "BaseTask";
inline constexpr std::string_view kStandardIntents[] = {"Start", "OpenURI"};
inline constexpr std::string_view kIntentFlags[] = {"gui"};
inline constexpr std::string_view kInternetSubtypes[] = {"wifi", "ethernet", "cellular", "wifi-or-ethernet"};
inline constexpr KeyValues kConditions[] = {
    {"internet", kInternetSubtypes},
    {"battery-not-low", {}},
    {"charging", {}},
    {"idle", {}},
};

// Attestation group.
inline constexpr std::string_view kAttestationGroup = "Attestation";
inline constexpr std::string_view kAttestationActions[] = {"None", "RemoveAll"};
// Every key of the group, each required, with the values it may take.
inline constexpr KeyValues kAttestationKeys[] = {
    {"ActionOnBadAttestation", kAttestationActions},
};

// Capabilities group (its name is kCapabilitiesGroup of IniSection.h).
inline constexpr std::string_view kInputCapabilities[] = {"Mouse", "Tablet"};
inline constexpr std::string_view kInterfaceCapabilities[] = {"ResizeableContent"};
inline constexpr std::string_view kOrientationCapabilities[] = {
    "Landscape", "LandscapeInverted", "Portrait", "PortraitInverted",
};
inline constexpr KeyValues kCapabilities[] = {
    {"Input", kInputCapabilities},
    {"UserInterface", kInterfaceCapabilities},
    {"ScreenOrientation", kOrientationCapabilities},
};

template <typename Range>
constexpr bool isOneOf(std::string_view text, const Range& range)
{
    for (std::string_view entry : range) {
        if (entry == text)
            return true;
    }
    return false;
}

template <typename Range>
constexpr const KeyValues* findKey(std::string_view key, const Range& range)
{
    for (const KeyValues& entry : range) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

} // namespace Validator::DesktopTables
