#include "checks/desktop/DesktopTervane.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTables.h"
#include "checks/desktop/EntrySyntax.h"

#include <algorithm>
#include <string_view>

namespace Validator {

namespace {

using namespace DesktopTables;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

} // namespace

void DesktopTervane::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    const std::optional<std::string> section = sandboxSection(m_entry);
    if (!section) {
        logger().add(SandboxMessage::SectionMissing);
        logger().setFlag(Flag::NoSandboxSection, true);
        return;
    }
    m_section = *section;
    checkSections();
    checkKeys();
    checkOrganizationName();
    checkApplicationName();
    checkReservedFragments();
    checkPackageName();
    if (m_entry.contains(m_section, "ExecDBus"))
        m_hyphenIsFatal = m_nameHasHyphen;
    checkSystemService();
    checkPermissions();
    checkLauncherDependency();
    checkHyphen();
}

void DesktopTervane::checkSections()
{
    if (m_entry.containsGroup("Tervane"))
        logger().add(SandboxMessage::TervaneSection);
    const auto present = std::count_if(std::begin(kSandboxSections), std::end(kSandboxSections),
                                       [this](std::string_view group) { return m_entry.containsGroup(std::string(group)); });
    if (present == 1 && m_section == "X-Tervane")
        logger().add(SandboxMessage::XTervaneDeprecated);
    else if (present > 1)
        logger().add(SandboxMessage::MultipleSections);
}

void DesktopTervane::checkKeys()
{
    const bool mdm = runsSystemServices(config());
    for (const std::string& key : m_entry.groupKeys(m_section)) {
        if (!isOneOf(key, kSandboxKeys) && !(mdm && isOneOf(key, kMdmSandboxKeys)))
            logger().add(SandboxMessage::KeyNotAllowed, {key});
    }
}

void DesktopTervane::checkOrganizationName()
{
    const std::string organization = m_entry.appOrgname();
    if (organization.empty() || organization.find_first_not_of(kOrganizationAlphabet) != std::string::npos)
        logger().add(SandboxMessage::OrganizationIllegal);
    bool digitStarts = false;
    for (std::size_t i = 0; i < organization.size() && !digitStarts; ++i)
        digitStarts = isDigit(organization[i]) && (i == 0 || organization[i - 1] == '.');
    if (digitStarts)
        logger().add(SandboxMessage::OrganizationStartsWithNumber);
    if (organization.empty() || organization.front() == '.' || organization.back() == '.'
        || organization.find('.') == std::string::npos || organization.find("..") != std::string::npos)
        logger().add(SandboxMessage::OrganizationNotReverseDomain);
}

void DesktopTervane::checkApplicationName()
{
    m_applicationName = m_entry.appName();
    const std::string& name = m_applicationName;
    const bool legal = !name.empty() && (isLetter(name[0]) || name[0] == '-' || name[0] == '_')
        && std::all_of(name.begin() + 1, name.end(), [](char c) {
               return isLetter(c) || isDigit(c) || c == '_' || c == '-' || c == '.';
           });
    if (!legal)
        logger().add(SandboxMessage::ApplicationNameIllegal);
    if (name.find('-') != std::string::npos) {
        m_nameHasHyphen = true;
        logger().add(SandboxMessage::HyphenWarning);
    }
}

void DesktopTervane::checkReservedFragments()
{
    for (std::string_view fragment : kReservedNameFragments) {
        if (m_applicationName.find(fragment) != std::string::npos)
            logger().add(SandboxMessage::ReservedPrefix, {fragment});
    }
}

void DesktopTervane::checkPackageName()
{
    const std::string& package = meta().name();
    if (package.size() > kMaxPackageName)
        logger().add(SandboxMessage::PackageNameTooLong);
    if (m_entry.appOrgname() + "." + m_applicationName != package)
        logger().add(SandboxMessage::NamePairMismatch);
}

bool DesktopTervane::runsSystemServices(const Config& config)
{
    return config.name() == kSystemServiceProfile;
}

void DesktopTervane::checkSystemService()
{
    if (!runsSystemServices(config()))
        return;
    const auto present = std::count_if(std::begin(kSystemServiceKeys), std::end(kSystemServiceKeys),
                                       [this](std::string_view key) { return m_entry.contains(m_section, std::string(key)); });
    if (present == 0)
        return;
    if (present < 3) {
        logger().add(SandboxMessage::SystemServiceIncomplete);
        return;
    }
    m_hyphenIsFatal = m_nameHasHyphen;
    if (!m_entry.value(m_section, "ExecSystemService").starts_with("/usr/libexec/" + meta().name() + "/"))
        logger().add(SandboxMessage::SystemServiceIncorrect);
    if (m_entry.value(m_section, "ExecSystemServiceUser") != kSystemServiceUser
        || m_entry.value(m_section, "ExecSystemServiceGroup") != kSystemServiceGroup)
        logger().add(SandboxMessage::SystemServiceUser);
}

void DesktopTervane::checkPermissions()
{
    for (const std::string& permission : m_entry.appPermissions()) {
        // A qualified permission ("name@qualifier") is not in the profile's
        // lists; it is accepted as it is.
        const std::size_t at = permission.find('@');
        if (at != std::string::npos && at != 0 && at + 1 != permission.size()
            && permission.find('@', at + 1) == std::string::npos)
            continue;
        if (!config().allowedPermissions().matches(permission))
            logger().add(SandboxMessage::PermissionNotAllowed, {permission});
    }
}

void DesktopTervane::checkLauncherDependency()
{
    const bool qmlOnly = logger().getFlag(Flag::QmlOnlyApp);
    bool launcherRequired = false;
    for (const std::string& requirement : meta().requirements()) {
        if (!isOneOf(requirement, kLauncherLibraries))
            continue;
        if (qmlOnly)
            launcherRequired = true;
        else
            logger().add(SandboxMessage::InvalidRequires, {requirement});
    }
    if (qmlOnly && !launcherRequired)
        logger().add(SandboxMessage::AddLauncherRequires);
}

void DesktopTervane::checkHyphen()
{
    if (m_hyphenIsFatal)
        logger().add(SandboxMessage::HyphenError);
    else if (m_nameHasHyphen)
        logger().add(SandboxMessage::HyphenWarning);
}

} // namespace Validator
