#include "checks/desktop/DesktopDefault.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTables.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <unordered_set>

namespace Validator {

namespace {

using namespace DesktopTables;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "#RGB" or "#RRGGBB". Only hexadecimal digits follow the "#": a reading
// as a number would also take "# FF", "#-FF" or "#0xF" for a colour.
bool isColor(std::string_view value)
{
    return (value.size() == 4 || value.size() == 7) && value[0] == '#'
        && std::all_of(value.begin() + 1, value.end(), isHexDigit);
}

// Valid UTF-8 (ICU's strict decoding: no overlong forms, no surrogates,
// nothing above U+10FFFF, no cut sequence) whose characters are all visible
// or the two ordinary spaces.
bool isLegalName(std::string_view name)
{
    if (name.empty() || name.size() > static_cast<std::size_t>(INT32_MAX))
        return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(name.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            return false;
        if (c == 0x20 || c == 0xA0)
            continue;
        switch (u_charType(c)) {
        case U_UNASSIGNED:
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_PRIVATE_USE_CHAR:
        case U_SURROGATE:
            return false;
        default:
            break;
        }
    }
    return true;
}

} // namespace

void DesktopDefault::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    logger().setFlag(Flag::DesktopFileSeen, true);
    checkGroups();
    checkName();
    checkIcon();
    checkType();
    checkExec();
    checkApplicationType();
}

void DesktopDefault::checkGroups()
{
    const std::vector<std::string> groups = m_entry.groups();
    for (const std::string& group : groups) {
        if (group == kApplicationGroup)
            checkApplicationSection();
        else if (group == kSplashGroup)
            checkSplashScreen();
    }
    std::unordered_set<std::string> allowed;
    for (std::string_view group : kAllowedGroups)
        allowed.emplace(group);
    for (const std::string& method : m_entry.stringVectorValue("Desktop Entry", "X-Share-Methods"))
        allowed.insert(std::string(kShareMethodPrefix) + method);
    for (const std::string& group : groups) {
        const auto taskGroup = [&group](std::string_view prefix) { return group.starts_with(prefix); };
        if (allowed.count(group) || std::any_of(std::begin(kTaskGroupPrefixes), std::end(kTaskGroupPrefixes), taskGroup))
            continue;
        logger().add(DesktopMessage::GroupDisallowed, {group});
    }
}

void DesktopDefault::checkApplicationSection()
{
    const std::string group(kApplicationGroup);
    for (const std::string& key : m_entry.groupKeys(group)) {
        const bool orientation = isOneOf(key, kOrientationKeys);
        if (!orientation && key != kIconModeKey) {
            logger().add(DesktopMessage::InvalidFieldName, {key, group});
            continue;
        }
        for (const std::string& value : m_entry.stringVectorValue(group, key)) {
            const bool allowed = orientation ? isOneOf(value, kOrientationValues) : isOneOf(value, kIconModeValues);
            if (!allowed)
                logger().add(DesktopMessage::InvalidFieldValue, {value, group, key});
        }
    }
}

void DesktopDefault::checkSplashScreen()
{
    const std::string group(kSplashGroup);
    for (const std::string& key : m_entry.groupKeys(group)) {
        if (!isOneOf(key, kSplashKeys)) {
            logger().add(DesktopMessage::InvalidFieldName, {key, group});
            continue;
        }
        const std::string value = m_entry.value(group, key);
        if (!isColor(value))
            logger().add(DesktopMessage::InvalidColor, {value, group, key});
    }
}

void DesktopDefault::checkName()
{
    // Viewed in place: a Name of any size is judged without a copy of it.
    m_entry.viewValue("Desktop Entry", "Name", [this](std::string_view name) {
        if (name.empty())
            logger().add(DesktopMessage::NameMissing);
        if (!isLegalName(name))
            logger().add(DesktopMessage::NameIllegal);
    });
}

void DesktopDefault::checkIcon()
{
    if (m_entry.icon() != meta().name())
        logger().add(DesktopMessage::IconInvalid, {meta().name()});
}

void DesktopDefault::checkType()
{
    if (m_entry.type() != "Application")
        logger().add(DesktopMessage::TypeInvalid);
}

std::vector<std::string> DesktopDefault::execForms(const Config& config, const std::string& name)
{
    if (config.name() == "pwa")
        return {std::string(kBrowserCommand)};
    std::vector<std::string> forms = {name, "/usr/bin/" + name};
    for (std::string_view launcher : kQmlLaunchers)
        forms.push_back(std::string(launcher) + name);
    return forms;
}

void DesktopDefault::checkExec()
{
    const std::vector<std::string> forms = execForms(config(), meta().name());
    const std::string exec = m_entry.exec();
    const auto matches = [&exec](const std::string& form) {
        return exec == form || (exec.starts_with(form) && exec[form.size()] == ' ');
    };
    if (std::none_of(forms.begin(), forms.end(), matches)) {
        logger().add(DesktopMessage::ExecInvalid);
        return;
    }
    const auto launchedBy = [&exec](std::string_view launcher) { return exec.starts_with(launcher); };
    if (std::any_of(std::begin(kQmlLaunchers), std::end(kQmlLaunchers), launchedBy)) {
        logger().setFlag(Flag::QmlOnlyApp, true);
        logger().add(DesktopMessage::QmlOnlyApp);
    }
}

void DesktopDefault::checkApplicationType()
{
    const std::string type = m_entry.value(std::string(kApplicationTypeKey));
    if (type == kVarnelApplicationType)
        logger().setFlag(Flag::VarnelQt5Declared, true);
    else if (logger().getFlag(Flag::QmlOnlyApp))
        logger().add(DesktopMessage::ApplicationTypeMustBeVarnel);
    else if (isOneOf(type, kOtherApplicationTypes))
        logger().add(DesktopMessage::ApplicationTypeShouldBeVarnel);
    else
        logger().add(DesktopMessage::ApplicationTypeMissing);
}

} // namespace Validator
