#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

#include <unordered_set>
#include <vector>

namespace Validator {

// The third desktop-entry checker: the intents of the sandbox section, and
// every background task or service group with its name, keys, type,
// executable, permissions and run conditions.
class DesktopIntents final : public ISubValidator {
public:
    // `entry` is the desktop file as the desktop validator parsed it, shared
    // by the checkers; it must outlive the checker.
    DesktopIntents(ValidationContext context, const AppManifest::ManifestEntry& entry)
        : ISubValidator(std::move(context)), m_entry(entry)
    {
    }

    void validate(const std::string& path, const std::string& fullPath) override;

private:
    struct Task {
        std::string group;
        std::string type;
        std::string exec;
        std::vector<std::string> permissions;
        std::vector<std::string> conditions;
    };

    void checkIntent(const std::string& intent);
    void checkTask(const Task& task);
    void checkTaskExec(const std::string& exec);
    void checkTaskPermissions(const std::vector<std::string>& permissions);
    void checkTaskConditions(const std::vector<std::string>& conditions);

    std::string m_path;
    std::string m_fullPath;
    const AppManifest::ManifestEntry& m_entry;
    std::string m_section;
    // A set: a hostile file may list many permissions and many tasks.
    std::unordered_set<std::string> m_permissions;
};

} // namespace Validator
