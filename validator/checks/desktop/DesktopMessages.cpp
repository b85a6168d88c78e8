#include "checks/desktop/DesktopMessages.h"

#include "checks/desktop/DesktopDefault.h"
#include "checks/desktop/DesktopTables.h"
#include "checks/desktop/DesktopTervane.h"
#include "checks/desktop/IniSection.h"
#include "core/RuleText.h"

#include <iterator>

namespace Validator {

namespace {

using namespace DesktopTables;
using RuleText::joined;
constexpr PathArgument kNoPath = PathArgument::None;

std::string keyValues(std::span<const KeyValues> table)
{
    std::string text;
    for (const KeyValues& entry : table)
        text += std::string(entry.key) + ": " + (entry.values.empty() ? "no subtype" : joined(entry.values)) + "\n";
    return text;
}

std::string allowedGroups()
{
    std::vector<std::string> taskGroups;
    for (std::string_view prefix : kTaskGroupPrefixes)
        taskGroups.push_back(std::string(prefix) + "NAME");
    return joined(kAllowedGroups) + "\n" + std::string(kShareMethodPrefix) + "M for every M that \"X-Share-Methods\" lists\n"
        + joined(taskGroups, " and ") + " (background tasks and services)\n";
}

std::string applicationValues()
{
    return std::string(kApplicationGroup) + ", keys " + joined(kOrientationKeys) + ": " + joined(kOrientationValues)
        + "\n" + std::string(kApplicationGroup) + ", key " + std::string(kIconModeKey) + ": " + joined(kIconModeValues)
        + "\n";
}

std::string vendorKeys()
{
    return std::string(kApplicationGroup) + ": " + joined(kOrientationKeys) + ", " + std::string(kIconModeKey) + "\n"
        + std::string(kSplashGroup) + ": " + joined(kSplashKeys) + "\n";
}

std::string splashKeys()
{
    return joined(kSplashKeys) + ": #RGB or #RRGGBB, hexadecimal digits\n";
}

std::string execForms(const Config& config)
{
    return joined(DesktopDefault::execForms(config, "N"));
}

std::string acceptedExec()
{
    return RuleText::perProfile(execForms) + "(N is the package name; each form alone or followed by a space and arguments)\n";
}

std::string applicationTypes()
{
    return std::string(kVarnelApplicationType) + ": no finding\n" + joined(kOtherApplicationTypes)
        + ": a warning, and an error for a QML-only application\n";
}

std::string sandboxKeys()
{
    return "every profile: " + joined(kSandboxKeys) + "\n" + std::string(kSystemServiceProfile) + " also: "
        + joined(kMdmSandboxKeys) + "\n";
}

std::string organizationAlphabet()
{
    return std::string(kOrganizationAlphabet) + "\n";
}

std::string reservedFragments()
{
    return joined(kReservedNameFragments) + "\n";
}

std::string systemServiceUser()
{
    return "ExecSystemServiceUser=" + std::string(kSystemServiceUser) + ", ExecSystemServiceGroup="
        + std::string(kSystemServiceGroup) + "\n";
}

std::string permissions()
{
    return RuleText::addedToRegular(&Config::allowedPermissions)
        + "and any name@qualifier (one \"@\", neither first nor last)\n";
}

std::string launcherLibraries()
{
    return joined(kLauncherLibraries) + " (for QML-only applications only)\n";
}

std::string taskKeys()
{
    return joined(kTaskKeys) + "\n";
}

std::string standardIntents()
{
    return joined(kStandardIntents) + ", and any name that starts with X-\n";
}

std::string intentFlags()
{
    return joined(kIntentFlags) + "\n";
}

std::string taskTypes()
{
    return joined(kTaskTypes) + "\n";
}

std::string forbiddenTaskPermissions()
{
    return "never: " + joined(kForbiddenTaskPermissions) + ", and " + std::string(kImplicitTaskPermission)
        + " (implicit)\n";
}

std::string conditions()
{
    return keyValues(kConditions);
}

std::string attestationValues()
{
    return keyValues(kAttestationKeys);
}

std::string capabilities()
{
    return keyValues(kCapabilities);
}

bool requiresDesktopFile(const Config& config)
{
    return config.requiresDesktopFile();
}

bool toleratesMissingDesktopFile(const Config& config)
{
    return !config.requiresDesktopFile();
}

bool runsSystemServices(const Config& config)
{
    return DesktopTervane::runsSystemServices(config);
}

constexpr MessageSpec kDesktopMessages[] = {
    {LogLevel::Error, "[desktop] Broken desktop file", "desktop-file-broken", kNoPath,
     "The desktop file /usr/share/applications/N.desktop must be a readable desktop entry: group headers, key=value "
     "lines and comments, no group or key given twice, at most 1 MiB, 1000 groups and 20000 keys. Everything else "
     "vetrik knows about the application (its name, icon, command, sandbox and permissions) comes from this file, so "
     "none of it can be checked. Fix the line the desktop-entry parser stops at; a key repeated within "
     "X-Taliro-Capabilities is refused by its stricter reader too."},
    {LogLevel::Error, "[desktop] Desktop file is missing", "desktop-file-missing", kNoPath,
     "An application package must install its desktop entry as /usr/share/applications/N.desktop, N being the "
     "package name: the launcher shows the application through it and the sandbox takes its permissions from it. A "
     "desktop file under any other name is not looked at. Install the file under that name; a desktop file that "
     "could not be read is reported as missing too.",
     nullptr, requiresDesktopFile},
    {LogLevel::Warning, "Desktop file is missing, no validation for tervane section", "desktop-file-missing-unchecked",
     kNoPath,
     "Under this profile an application may come without the desktop entry /usr/share/applications/N.desktop, but "
     "then its sandbox section, permissions and background tasks are not checked either. Install the desktop file if "
     "the package has a user interface or runs in the sandbox.",
     nullptr, toleratesMissingDesktopFile},
    {LogLevel::Error, "[desktop] '{0}' group is disallowed", "desktop-group-not-allowed", kNoPath,
     "A desktop file may only hold the groups the platform reads; any other group would be ignored or misread. "
     "Remove the group, or rename it to the one meant.",
     allowedGroups},
    {LogLevel::Error, "[desktop] invalid value '{0}' in '{1}/{2}' field", "desktop-application-value-invalid", kNoPath,
     "The orientation and icon-mode keys of X-Taliro-Application take lists of fixed, case-sensitive values; the "
     "launcher ignores what it does not know. Use the values below, separated by \";\".",
     applicationValues},
    {LogLevel::Error, "[desktop] invalid field name '{0}' in '{1}' group", "desktop-vendor-key-invalid", kNoPath,
     "The vendor groups X-Taliro-Application and X-Taliro-SplashScreen hold only the keys the launcher reads. "
     "Remove the key or correct its spelling.",
     vendorKeys},
    {LogLevel::Error,
     "[desktop] invalid value '{0}' in '{1}/{2}' field. \nThe expected value is a color in hex format (#RRGGBB).",
     "desktop-splash-color-invalid", kNoPath,
     "The splash screen's gradient colours are \"#\" and three or six hexadecimal digits. Write the colour in that "
     "form, for example #1a2b3c or #fff.",
     splashKeys},
    {LogLevel::Error, "[desktop] Missing valid Name declaration inside", "desktop-name-missing", kNoPath,
     "The Desktop Entry group needs a non-empty Name (the untranslated one): it is what the launcher shows under the "
     "icon. Add Name=... with the application's name."},
    {LogLevel::Error, "[desktop] Name contains illegal characters", "desktop-name-illegal-characters", kNoPath,
     "The untranslated Name must be valid UTF-8 made of visible characters and plain or no-break spaces: no control, "
     "format, private-use or unassigned characters, no line or paragraph separators, no other spaces. Such "
     "characters can hide or disguise the name in the launcher. Remove them from the Name."},
    {LogLevel::Error, "[desktop] Missing valid Icon declaration inside, must be Icon={0}", "desktop-icon-invalid",
     kNoPath,
     "Icon in the Desktop Entry group must be exactly the package name, so that the launcher finds the icons the "
     "package installs under /usr/share/icons/hicolor/SxS/apps/N.png. Set Icon=N, as the message shows."},
    {LogLevel::Error, "[desktop] Missing valid Type declaration inside", "desktop-type-invalid", kNoPath,
     "Type in the Desktop Entry group must be exactly Application; links and directories cannot be installed as "
     "applications. Set Type=Application."},
    {LogLevel::Error, "[desktop] Missing valid Exec declaration inside", "desktop-exec-invalid", kNoPath,
     "Exec must start the package's own program in one of the forms below (a QML-only application starts the QML "
     "launcher with its name; a web application the platform's browser), so that the launcher and the sandbox know "
     "what runs. Write Exec in one of these forms.",
     acceptedExec},
    {LogLevel::Info, "[desktop] Application is a QML-only app", "desktop-qml-only-application", kNoPath,
     "Exec starts the QML launcher (pelora-qml N or taliro-qml N), so the application is QML-only. That is no fault; "
     "it changes what else is required: Requires: libtaliroapp-launcher, no /usr/bin/N, X-Olvex-Application-Type="
     "varnel-qt5, and a noarch package."},
    {LogLevel::Error, "[desktop] X-Olvex-Application-Type must be varnel-qt5 for pelora-qml apps",
     "desktop-application-type-must-be-varnel", kNoPath,
     "A QML-only application runs in the Varnel toolkit's launcher, and only the application type varnel-qt5 makes "
     "the platform start it that way. Add X-Olvex-Application-Type=varnel-qt5 to the Desktop Entry group.",
     applicationTypes},
    {LogLevel::Warning, "[desktop] X-Olvex-Application-Type should be varnel-qt5 (not a Varnel app?)",
     "desktop-application-type-not-varnel", kNoPath,
     "The Desktop Entry group declares one of the older application types. They still work, but the platform's "
     "launcher and booster are made for varnel-qt5. Declare X-Olvex-Application-Type=varnel-qt5 unless the "
     "application really needs the older way of starting.",
     applicationTypes},
    {LogLevel::Error, "[desktop] X-Olvex-Application-Type not declared (use varnel-qt5 for QML apps)",
     "desktop-application-type-missing", kNoPath,
     "The key X-Olvex-Application-Type in the Desktop Entry group of /usr/share/applications/N.desktop tells the "
     "platform how to start the application; it is missing or has an unknown value. Add "
     "X-Olvex-Application-Type=varnel-qt5 (no finding, for QML and native applications alike) or one of the older "
     "types (a warning).",
     applicationTypes},
};
static_assert(coversEveryCode(kDesktopMessages, DesktopMessage::ApplicationTypeMissing));

constexpr MessageSpec kSandboxMessages[] = {
    {LogLevel::Error, "[tervane] X-Application section should be specified in desktop file", "sandbox-section-missing",
     kNoPath,
     "The desktop file must have the sandbox section X-Application: it names the organisation and application (and "
     "so the sandbox the application runs in) and its permissions. Add an [X-Application] group with "
     "OrganizationName, ApplicationName and Permissions."},
    {LogLevel::Error, "[tervane] Tervane section is not allowed (use X-Application instead)", "sandbox-tervane-section",
     kNoPath,
     "The sandbox section's oldest name, Tervane, is no longer read. Rename the group to X-Application."},
    {LogLevel::Warning,
     "[tervane] \"X-Tervane\" section will be deprecated in future versions, please use \"X-Application\" instead",
     "sandbox-x-tervane-deprecated", kNoPath,
     "The sandbox section is still read under its older name X-Tervane, but that name will go. Rename the group to "
     "X-Application."},
    {LogLevel::Error, "[tervane] Multiple tervane sections are not allowed, please use only \"X-Application\"",
     "sandbox-multiple-sections", kNoPath,
     "Only one sandbox section may be present; with several, only the last of X-Application, X-Tervane, Tervane is "
     "read, which is rarely what was meant. Keep one group, named X-Application."},
    {LogLevel::Error, "[{0}] X-Tervane key is not allowed", "sandbox-key-not-allowed", kNoPath,
     "The sandbox section holds only the keys the sandbox reads; the system-service keys only under the profile that "
     "may run system services. Remove the key or correct its spelling.",
     sandboxKeys},
    {LogLevel::Error, "[tervane] OrganizationName contains illegal characters", "sandbox-organization-illegal-characters",
     kNoPath,
     "OrganizationName must be non-empty and written in lower-case letters, digits, \".\", \"_\" and \"-\": it "
     "becomes part of paths and D-Bus names. Write it in those characters, for example org.example.",
     organizationAlphabet},
    {LogLevel::Error, "[tervane] OrganizationName may not start with a number", "sandbox-organization-starts-with-digit",
     kNoPath,
     "No component of OrganizationName may start with a digit (org.1example), since it becomes part of D-Bus names, "
     "where such components are invalid. Start every component with a letter."},
    {LogLevel::Error,
     "[tervane] OrganizationName should follow reverse domain notation (at least up to second-level domain), e.g.: "
     "\"org.example\".",
     "sandbox-organization-not-reverse-domain", kNoPath,
     "OrganizationName must be a reverse domain name of at least two components, such as org.example: no leading, "
     "trailing or doubled dots. Together with ApplicationName it must spell the package name."},
    {LogLevel::Error, "[tervane] ApplicationName contains illegal characters", "sandbox-application-name-illegal-characters",
     kNoPath,
     "ApplicationName must start with a letter, \"_\" or \"-\" and go on with letters, digits, \"_\", \"-\" and "
     "\".\". Rename the application accordingly (and the package with it)."},
    {LogLevel::Warning, "[tervane] ExecDBus and/or ExecSystemService will not work, remove \"-\" from Application name",
     "sandbox-application-name-hyphen", kNoPath,
     "A \"-\" in ApplicationName is allowed, but D-Bus names cannot hold one, so D-Bus activation and system "
     "services will not work for the application. Use \"_\" or no separator instead."},
    {LogLevel::Error, "[tervane] ApplicationName contains reserved prefix {0}", "sandbox-application-name-reserved",
     kNoPath,
     "ApplicationName must not contain the fragments the platform uses for the instances, tasks and services it "
     "derives from an application's name. Rename the application.",
     reservedFragments},
    {LogLevel::Error, "[tervane] Package name too long (maximum is 80 characters)", "sandbox-package-name-too-long",
     kNoPath,
     "The package name, which is also OrganizationName.ApplicationName, may be at most 80 bytes long: it becomes part "
     "of paths, D-Bus names and unit names with limits of their own. Choose a shorter name."},
    {LogLevel::Error,
     "[tervane] OrganizationName and ApplicationName pair should form a package name (e.g. for package "
     "\"com.example.app\" ApplicationName must be \"app\" and OrganizationName must be \"com.example\").",
     "sandbox-name-pair-mismatch", kNoPath,
     "OrganizationName, a dot and ApplicationName must spell the package name exactly: the sandbox finds the "
     "application's files by that name. Correct either the two keys or the package name."},
    {LogLevel::Error,
     "[tervane] If application use system service, desktop file should include ExecSystemService, ExecSystemServiceUser "
     "and ExecSystemServiceGroup keys",
     "sandbox-system-service-incomplete", kNoPath,
     "A system service is declared with all three keys ExecSystemService, ExecSystemServiceUser and "
     "ExecSystemServiceGroup, or with none of them; with only some, the service cannot be started. Add the missing "
     "keys or remove the others.",
     nullptr, runsSystemServices},
    {LogLevel::Error, "[tervane] ExecSystemService is incorrect, template rules are equal to ExecStart section",
     "sandbox-system-service-path", kNoPath,
     "ExecSystemService must start a program of the package below /usr/libexec/N/; a system service runs with more "
     "rights than the application and only the package's own helper may be started that way. Install the service "
     "program there and name it in ExecSystemService.",
     nullptr, runsSystemServices},
    {LogLevel::Error,
     "[tervane] System service user should be \"pelora-mdm\", system service group should be \"privileged\"",
     "sandbox-system-service-user", kNoPath,
     "A system service runs as one fixed user and group, which the platform sets up for device management. Set the "
     "two keys to the values below.",
     systemServiceUser, runsSystemServices},
    {LogLevel::Error, "[{0}] Permission is not allowed", "sandbox-permission-not-allowed", kNoPath,
     "Permissions of the sandbox section may only name the permissions the package's profile grants; a name outside "
     "them would be refused by the sandbox at run time, or grant what the profile must not. Remove the permission, "
     "correct its spelling (names are case-sensitive), or publish under a profile that grants it.",
     permissions},
    {LogLevel::Error, "[libtaliroapp] Invalid Requires: {0}", "launcher-requires-invalid", kNoPath,
     "Only a QML-only application (Exec starts pelora-qml or taliro-qml) may depend on the QML launcher; a native "
     "application starts its own program and must not pull the launcher in. Remove the Requires from the spec file, "
     "or make the application QML-only.",
     launcherLibraries},
    {LogLevel::Error, "[libtaliroapp] Add Requires: libtaliroapp-launcher to the .spec file", "launcher-requires-missing",
     kNoPath,
     "A QML-only application is started by the QML launcher, which the package must require so that it is installed. "
     "Add Requires: libtaliroapp-launcher to the spec file.",
     launcherLibraries},
    {LogLevel::Error,
     "[tervane] Application name contains illegal \"-\" symbol. It will cause ExecDBus and/or ExecSystemService failure "
     "in future",
     "sandbox-application-name-hyphen-service", kNoPath,
     "The application declares ExecDBus or a system service, both of which use a D-Bus name derived from "
     "ApplicationName, and D-Bus names cannot hold \"-\". Remove the \"-\" from ApplicationName (and the package "
     "name)."},
    {LogLevel::Error, "[tervane] ExecDBus is incorrect, template rules are equal to Exec section", "sandbox-exec-dbus-invalid",
     kNoPath,
     "ExecDBus must start the package's own program: /usr/bin/N, or a program of the package below /usr/libexec/N. "
     "D-Bus activation must not start anything else in the application's sandbox. Point ExecDBus at one of these."},
};
static_assert(coversEveryCode(kSandboxMessages, SandboxMessage::ExecDBusIncorrect));

constexpr MessageSpec kIntentsMessages[] = {
    {LogLevel::Error, "[desktop] Key '{0}' disallowed for background tasks", "task-key-not-allowed", kNoPath,
     "A background task or service group (X-Task NAME, X-Service NAME) holds only the keys the task scheduler reads. "
     "Remove the key or correct its spelling.",
     taskKeys},
    {LogLevel::Error, "Invalid intent specification: {0}", "intent-invalid", kNoPath,
     "Each entry of Intents is a name (a capital letter, then letters, digits and \"-\"; or X- and such a name), "
     "optionally \"/\" and a qualifier, optionally \":\" and flags separated by \"|\". Write the intent in that form, "
     "for example OpenURI:gui."},
    {LogLevel::Error, "Non standard intent name: {0}", "intent-not-standard", kNoPath,
     "An intent is one the platform defines, or a custom one whose name starts with X-. Use a standard intent or "
     "prefix the custom one with X-.",
     standardIntents},
    {LogLevel::Error, "Unknown intent flag: {0}", "intent-flag-unknown", kNoPath,
     "The flags after \":\" in an intent are a fixed set. Remove the flag or correct it.", intentFlags},
    {LogLevel::Error, "Invalid background task specification: {0}", "task-name-invalid", kNoPath,
     "A task group is named X-Task or X-Service, one or more spaces, and a name of a letter followed by at least one "
     "letter or digit. Rename the group."},
    {LogLevel::Error, "Unsupported background task type: {0}", "task-type-unsupported", kNoPath,
     "Type of a task group must be one the task scheduler runs; an empty or missing Type is reported too. Set Type "
     "to one of these.",
     taskTypes},
    {LogLevel::Error, "Invalid characters in executable name: {0}", "task-exec-name-invalid", kNoPath,
     "A task's Exec may start N or /usr/bin/N, or a program named N.suffix or /usr/bin/N.suffix, where the suffix "
     "is a letter followed by letters, digits, \"-\" and \"_\". Rename the program."},
    {LogLevel::Error, "Executable missing or in wrong path: {0}", "task-exec-location-invalid", kNoPath,
     "A task's Exec must start the package's own program, N, /usr/bin/N, or N.suffix there; a task must not run "
     "anything else. Point Exec at such a program."},
    {LogLevel::Error, "Permission not allowed for tasks: {0}", "task-permission-forbidden", kNoPath,
     "Background tasks run without the user watching, so they may not use the permissions below, whatever the "
     "application has. Remove the permission from the task.",
     forbiddenTaskPermissions},
    {LogLevel::Error, "BaseTask permission is implicit, please remove it", "task-permission-base-task", kNoPath,
     "Every task has the BaseTask permission; naming it is an error. Remove it from the task's Permissions."},
    {LogLevel::Error, "Task permission needs to be in application too: {0}", "task-permission-not-in-application",
     kNoPath,
     "A task may only use permissions the application itself has in its sandbox section. Add the permission to the "
     "section's Permissions, or remove it from the task."},
    {LogLevel::Error, "Invalid condition specification: {0}", "task-condition-invalid", kNoPath,
     "A condition is a lower-case name (letters, digits, \"-\"), optionally \":\" and a subtype of the same form. "
     "Write it in that form, for example internet:wifi."},
    {LogLevel::Error, "Unknown task condition: {0}", "task-condition-unknown", kNoPath,
     "Conditions are the ones the task scheduler knows. Use one of these.", conditions},
    {LogLevel::Error, "Unknown {0} condition subtype: {1}", "task-condition-subtype-unknown", kNoPath,
     "Each condition takes only its own subtypes, and most take none. Use one of these, or the condition alone.",
     conditions},
};
static_assert(coversEveryCode(kIntentsMessages, IntentsMessage::UnknownConditionSubtype));

constexpr MessageSpec kAttestationMessages[] = {
    {LogLevel::Error, "[desktop] no key '{0}' in '{1}' group", "attestation-key-missing", kNoPath,
     "An Attestation group must say what happens when the application fails attestation. Add the key, or remove the "
     "group.",
     attestationValues},
    {LogLevel::Error, "[desktop] invalid key '{0}' in '{1}' group", "attestation-key-invalid", kNoPath,
     "The Attestation group holds only the keys below. Remove the key or correct it.", attestationValues},
    {LogLevel::Error, "[desktop] invalid value '{0}' for '{1}' key", "attestation-value-invalid", kNoPath,
     "The keys of the Attestation group take fixed, case-sensitive values. Use one of these.", attestationValues},
};
static_assert(coversEveryCode(kAttestationMessages, AttestationMessage::ValueInvalid));

constexpr MessageSpec kCapabilitiesMessages[] = {
    {LogLevel::Error, "[desktop] invalid value '{0}' for '{1}' key", "capabilities-value-invalid", kNoPath,
     "Each key of X-Taliro-Capabilities takes a \";\"-separated list of fixed, case-sensitive values; an empty item "
     "(a trailing \";\") counts as a value too. Use these values.",
     capabilities},
    {LogLevel::Error, "[desktop] invalid key '{0}' in '{1}' group", "capabilities-key-invalid", kNoPath,
     "X-Taliro-Capabilities holds only the keys below. Remove the key or correct it.", capabilities},
};
static_assert(coversEveryCode(kCapabilitiesMessages, CapabilitiesMessage::KeyInvalid));

constexpr MessageGroup kDesktopMessageGroup("desktop", kDesktopMessages);
constexpr MessageGroup kSandboxMessageGroup("sandbox section", kSandboxMessages);
constexpr MessageGroup kIntentsMessageGroup("intents and background tasks", kIntentsMessages);
constexpr MessageGroup kAttestationMessageGroup("attestation", kAttestationMessages);
constexpr MessageGroup kCapabilitiesMessageGroup("capabilities", kCapabilitiesMessages);

} // namespace

const MessageGroup& messageGroupOf(DesktopMessage)
{
    return kDesktopMessageGroup;
}

const MessageGroup& messageGroupOf(SandboxMessage)
{
    return kSandboxMessageGroup;
}

const MessageGroup& messageGroupOf(IntentsMessage)
{
    return kIntentsMessageGroup;
}

const MessageGroup& messageGroupOf(AttestationMessage)
{
    return kAttestationMessageGroup;
}

const MessageGroup& messageGroupOf(CapabilitiesMessage)
{
    return kCapabilitiesMessageGroup;
}

} // namespace Validator
