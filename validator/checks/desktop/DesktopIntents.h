#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

#include <optional>
#include <unordered_set>
#include <vector>

namespace Validator {

// The third desktop-entry checker: the intents of the sandbox section, and
// every background task or service group with its name, keys, type,
// executable, permissions and run conditions.
class DesktopIntents final : public ISubValidator {
public:
    using ISubValidator::ISubValidator;

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
    std::optional<AppManifest::ManifestEntry> m_entry;
    std::string m_section;
    // A set: a hostile file may list many permissions and many tasks.
    std::unordered_set<std::string> m_permissions;
};

} // namespace Validator
