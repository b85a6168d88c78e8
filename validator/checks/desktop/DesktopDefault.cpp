#include "checks/desktop/DesktopDefault.h"

#include "checks/desktop/DesktopMessages.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <unordered_set>

namespace Validator {

namespace {

constexpr std::string_view kApplicationGroup = "X-Taliro-Application";
constexpr std::string_view kSplashGroup = "X-Taliro-SplashScreen";

constexpr std::string_view kAllowedGroups[] = {
    "Desktop Entry", "X-Application", "X-Tervane", "Tervane", "X-Taliro-Application",
    "X-Taliro-SplashScreen", "Attestation", "X-Taliro-Capabilities",
};

constexpr std::string_view kOrientationKeys[] = {
    "Orientation", "SmallScreenOrientation", "MediumScreenOrientation", "LargeScreenOrientation",
    "ExtraLargeScreenOrientation",
};
constexpr std::string_view kOrientationValues[] = {
    "None", "All", "Portrait", "PortraitMask", "Landscape", "LandscapeMask", "PortraitInverted", "LandscapeInverted",
};
constexpr std::string_view kIconModeKey = "IconMode";
constexpr std::string_view kIconModeValues[] = {"Scale", "Crop"};
constexpr std::string_view kSplashKeys[] = {"GradientStartColor", "GradientEndColor"};
constexpr std::string_view kOtherApplicationTypes[] = {"no-invoker", "generic", "qtquick2", "qt5"};

template <typename Range>
bool isOneOf(std::string_view text, const Range& range)
{
    return std::find(std::begin(range), std::end(range), text) != std::end(range);
}

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
        allowed.insert("X-Share Method " + method);
    for (const std::string& group : groups) {
        if (allowed.count(group) || group.starts_with("X-Task ") || group.starts_with("X-Service "))
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

void DesktopDefault::checkExec()
{
    const std::string& name = meta().name();
    std::vector<std::string> forms;
    if (config().name() == "pwa")
        forms = {"/usr/bin/org.brevane.browserstandalone"};
    else
        forms = {name, "/usr/bin/" + name, "pelora-qml " + name, "taliro-qml " + name};
    const std::string exec = m_entry.exec();
    const auto matches = [&exec](const std::string& form) {
        return exec == form || (exec.starts_with(form) && exec[form.size()] == ' ');
    };
    if (std::none_of(forms.begin(), forms.end(), matches)) {
        logger().add(DesktopMessage::ExecInvalid);
        return;
    }
    if (exec.starts_with("pelora-qml ") || exec.starts_with("taliro-qml ")) {
        logger().setFlag(Flag::QmlOnlyApp, true);
        logger().add(DesktopMessage::QmlOnlyApp);
    }
}

void DesktopDefault::checkApplicationType()
{
    const std::string type = m_entry.value("X-Olvex-Application-Type");
    if (type == "varnel-qt5")
        logger().setFlag(Flag::VarnelQt5Declared, true);
    else if (logger().getFlag(Flag::QmlOnlyApp))
        logger().add(DesktopMessage::ApplicationTypeMustBeVarnel);
    else if (isOneOf(type, kOtherApplicationTypes))
        logger().add(DesktopMessage::ApplicationTypeShouldBeVarnel);
    else
        logger().add(DesktopMessage::ApplicationTypeMissing);
}

} // namespace Validator
