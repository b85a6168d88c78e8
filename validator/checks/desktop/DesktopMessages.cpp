#include "checks/desktop/DesktopMessages.h"

#include <iterator>

namespace Validator {

namespace {

constexpr MessageSpec kDesktopMessages[] = {
    {LogLevel::Error, "[desktop] Broken desktop file"},
    {LogLevel::Error, "[desktop] Desktop file is missing"},
    {LogLevel::Warning, "Desktop file is missing, no validation for tervane section"},
    {LogLevel::Error, "[desktop] '{0}' group is disallowed"},
    {LogLevel::Error, "[desktop] invalid value '{0}' in '{1}/{2}' field"},
    {LogLevel::Error, "[desktop] invalid field name '{0}' in '{1}' group"},
    // The line break is part of the message.
    {LogLevel::Error, "[desktop] invalid value '{0}' in '{1}/{2}' field. \nThe expected value is a color in hex format (#RRGGBB)."},
    {LogLevel::Error, "[desktop] Missing valid Name declaration inside"},
    {LogLevel::Error, "[desktop] Name contains illegal characters"},
    {LogLevel::Error, "[desktop] Missing valid Icon declaration inside, must be Icon={0}"},
    {LogLevel::Error, "[desktop] Missing valid Type declaration inside"},
    {LogLevel::Error, "[desktop] Missing valid Exec declaration inside"},
    {LogLevel::Info, "[desktop] Application is a QML-only app"},
    {LogLevel::Error, "[desktop] X-Olvex-Application-Type must be varnel-qt5 for pelora-qml apps"},
    {LogLevel::Warning, "[desktop] X-Olvex-Application-Type should be varnel-qt5 (not a Varnel app?)"},
    {LogLevel::Error, "[desktop] X-Olvex-Application-Type not declared (use varnel-qt5 for QML apps)"},
};
static_assert(std::size(kDesktopMessages) == 16);

constexpr MessageSpec kSandboxMessages[] = {
    {LogLevel::Error, "[tervane] X-Application section should be specified in desktop file"},
    {LogLevel::Error, "[tervane] Tervane section is not allowed (use X-Application instead)"},
    {LogLevel::Warning, "[tervane] \"X-Tervane\" section will be deprecated in future versions, please use \"X-Application\" instead"},
    {LogLevel::Error, "[tervane] Multiple tervane sections are not allowed, please use only \"X-Application\""},
    {LogLevel::Error, "[{0}] X-Tervane key is not allowed"},
    {LogLevel::Error, "[tervane] OrganizationName contains illegal characters"},
    {LogLevel::Error, "[tervane] OrganizationName may not start with a number"},
    {LogLevel::Error, "[tervane] OrganizationName should follow reverse domain notation (at least up to second-level domain), e.g.: \"org.example\"."},
    {LogLevel::Error, "[tervane] ApplicationName contains illegal characters"},
    {LogLevel::Warning, "[tervane] ExecDBus and/or ExecSystemService will not work, remove \"-\" from Application name"},
    {LogLevel::Error, "[tervane] ApplicationName contains reserved prefix {0}"},
    {LogLevel::Error, "[tervane] Package name too long (maximum is 80 characters)"},
    {LogLevel::Error, "[tervane] OrganizationName and ApplicationName pair should form a package name (e.g. for package \"com.example.app\" ApplicationName must be \"app\" and OrganizationName must be \"com.example\")."},
    {LogLevel::Error, "[tervane] If application use system service, desktop file should include ExecSystemService, ExecSystemServiceUser and ExecSystemServiceGroup keys"},
    {LogLevel::Error, "[tervane] ExecSystemService is incorrect, template rules are equal to ExecStart section"},
    {LogLevel::Error, "[tervane] System service user should be \"pelora-mdm\", system service group should be \"privileged\""},
    {LogLevel::Error, "[{0}] Permission is not allowed"},
    {LogLevel::Error, "[libtaliroapp] Invalid Requires: {0}"},
    {LogLevel::Error, "[libtaliroapp] Add Requires: libtaliroapp-launcher to the .spec file"},
    {LogLevel::Error, "[tervane] Application name contains illegal \"-\" symbol. It will cause ExecDBus and/or ExecSystemService failure in future"},
    {LogLevel::Error, "[tervane] ExecDBus is incorrect, template rules are equal to Exec section"},
};
static_assert(std::size(kSandboxMessages) == 21);

constexpr MessageSpec kIntentsMessages[] = {
    {LogLevel::Error, "[desktop] Key '{0}' disallowed for background tasks"},
    {LogLevel::Error, "Invalid intent specification: {0}"},
    {LogLevel::Error, "Non standard intent name: {0}"},
    {LogLevel::Error, "Unknown intent flag: {0}"},
    {LogLevel::Error, "Invalid background task specification: {0}"},
    {LogLevel::Error, "Unsupported background task type: {0}"},
    {LogLevel::Error, "Invalid characters in executable name: {0}"},
    {LogLevel::Error, "Executable missing or in wrong path: {0}"},
    {LogLevel::Error, "Permission not allowed for tasks: {0}"},
    {LogLevel::Error, "BaseTask permission is implicit, please remove it"},
    {LogLevel::Error, "Task permission needs to be in application too: {0}"},
    {LogLevel::Error, "Invalid condition specification: {0}"},
    {LogLevel::Error, "Unknown task condition: {0}"},
    {LogLevel::Error, "Unknown {0} condition subtype: {1}"},
};
static_assert(std::size(kIntentsMessages) == 14);

constexpr MessageSpec kAttestationMessages[] = {
    {LogLevel::Error, "[desktop] no key '{0}' in '{1}' group"},
    {LogLevel::Error, "[desktop] invalid key '{0}' in '{1}' group"},
    {LogLevel::Error, "[desktop] invalid value '{0}' for '{1}' key"},
};
static_assert(std::size(kAttestationMessages) == 3);

constexpr MessageSpec kCapabilitiesMessages[] = {
    {LogLevel::Error, "[desktop] invalid value '{0}' for '{1}' key"},
    {LogLevel::Error, "[desktop] invalid key '{0}' in '{1}' group"},
};
static_assert(std::size(kCapabilitiesMessages) == 2);

constexpr MessageGroup kDesktopGroup("desktop", kDesktopMessages);
constexpr MessageGroup kSandboxGroup("sandbox section", kSandboxMessages);
constexpr MessageGroup kIntentsGroup("intents and background tasks", kIntentsMessages);
constexpr MessageGroup kAttestationGroup("attestation", kAttestationMessages);
constexpr MessageGroup kCapabilitiesGroup("capabilities", kCapabilitiesMessages);

} // namespace

const MessageGroup& messageGroupOf(DesktopMessage)
{
    return kDesktopGroup;
}

const MessageGroup& messageGroupOf(SandboxMessage)
{
    return kSandboxGroup;
}

const MessageGroup& messageGroupOf(IntentsMessage)
{
    return kIntentsGroup;
}

const MessageGroup& messageGroupOf(AttestationMessage)
{
    return kAttestationGroup;
}

const MessageGroup& messageGroupOf(CapabilitiesMessage)
{
    return kCapabilitiesGroup;
}

} // namespace Validator
