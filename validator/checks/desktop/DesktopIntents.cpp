#include "checks/desktop/DesktopIntents.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTables.h"
#include "checks/desktop/EntrySyntax.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

namespace Validator {

namespace {

using namespace DesktopTables;

} // namespace

void DesktopIntents::validate(const std::string& path, const std::string& fullPath)
{
    if (logger().getFlag(Flag::NoSandboxSection))
        return;
    m_path = path;
    m_fullPath = fullPath;
    m_section = sandboxSection(m_entry).value_or(std::string());
    const std::vector<std::string> permissions = m_entry.stringVectorValue(m_section, "Permissions");
    m_permissions.insert(permissions.begin(), permissions.end());
    for (const std::string& intent : m_entry.stringVectorValue(m_section, "Intents"))
        checkIntent(intent);
    for (const std::string& group : m_entry.groups()) {
        const auto taskGroup = [&group](std::string_view prefix) { return group.starts_with(prefix); };
        if (std::none_of(std::begin(kTaskGroupPrefixes), std::end(kTaskGroupPrefixes), taskGroup))
            continue;
        for (const std::string& key : m_entry.groupKeys(group)) {
            if (!isOneOf(key, kTaskKeys))
                logger().add(IntentsMessage::TaskKeyDisallowed, {key});
        }
        checkTask({group, m_entry.value(group, "Type"), m_entry.value(group, "Exec"),
                   m_entry.stringVectorValue(group, "Permissions"), m_entry.stringVectorValue(group, "Conditions")});
    }
}

void DesktopIntents::checkIntent(const std::string& intent)
{
    const std::optional<IntentSpec> spec = parseIntent(intent);
    if (!spec) {
        logger().add(IntentsMessage::InvalidIntent, {intent});
        return;
    }
    if (!isOneOf(spec->name, kStandardIntents) && !spec->name.starts_with("X-")) {
        logger().add(IntentsMessage::NonStandardIntent, {spec->name});
        return;
    }
    if (!spec->flags)
        return;
    // Every "|" splits, so an empty flag list is one empty flag.
    std::string_view flags = *spec->flags;
    for (;;) {
        const std::size_t bar = flags.find('|');
        const std::string_view flag = flags.substr(0, bar);
        if (!isOneOf(flag, kIntentFlags))
            logger().add(IntentsMessage::UnknownIntentFlag, {flag});
        if (bar == std::string_view::npos)
            break;
        flags.remove_prefix(bar + 1);
    }
}

void DesktopIntents::checkTask(const Task& task)
{
    if (!isTaskGroupName(task.group))
        logger().add(IntentsMessage::InvalidTask, {task.group});
    if (!isOneOf(task.type, kTaskTypes))
        logger().add(IntentsMessage::UnsupportedTaskType, {task.type});
    checkTaskExec(task.exec);
    checkTaskPermissions(task.permissions);
    checkTaskConditions(task.conditions);
}

void DesktopIntents::checkTaskExec(const std::string& exec)
{
    if (exec.empty())
        return;
    const std::string_view command = commandOf(exec);
    const std::string& name = meta().name();
    for (const std::string& form : {name, "/usr/bin/" + name}) {
        if (command == form)
            return;
        if (command.size() > form.size() && command.starts_with(form) && command[form.size()] == '.') {
            if (!isExecutableSuffix(command.substr(form.size() + 1)))
                logger().add(IntentsMessage::InvalidExecutableName, {command});
            return;
        }
    }
    logger().add(IntentsMessage::ExecutableMissing, {command});
}

void DesktopIntents::checkTaskPermissions(const std::vector<std::string>& permissions)
{
    for (const std::string& permission : permissions) {
        if (isOneOf(permission, kForbiddenTaskPermissions))
            logger().add(IntentsMessage::TaskPermissionForbidden, {permission});
        else if (permission == kImplicitTaskPermission)
            logger().add(IntentsMessage::BaseTaskImplicit);
        else if (!m_permissions.count(permission))
            logger().add(IntentsMessage::TaskPermissionNotInApplication, {permission});
    }
}

void DesktopIntents::checkTaskConditions(const std::vector<std::string>& conditions)
{
    for (const std::string& text : conditions) {
        const std::optional<ConditionSpec> spec = parseCondition(text);
        if (!spec) {
            logger().add(IntentsMessage::InvalidCondition, {text});
            continue;
        }
        const KeyValues* known = findKey(spec->name, kConditions);
        if (!known) {
            logger().add(IntentsMessage::UnknownCondition, {spec->name});
            continue;
        }
        if (spec->subtype && !isOneOf(*spec->subtype, known->values))
            logger().add(IntentsMessage::UnknownConditionSubtype, {spec->name, *spec->subtype});
    }
}

} // namespace Validator
