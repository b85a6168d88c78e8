#pragma once

#include "core/IValidator.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Validator {

// The import statements of every QML file of the package, judged against
// the profile's allowed, unstable, deprecated and reserved imports; also
// notes whether the application uses the UI toolkit module, so that the
// final step can compare it with the desktop file's application type.
class QmlImports final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override;

private:
    // Whether a relative directory import names a directory of the
    // application's own QML tree, seen from the file being validated.
    bool isLocalImport(std::string_view directory) const;
    void classify(const std::string& entry);
    const std::unordered_set<std::string_view>& packagePaths();

    std::string m_path;
    std::string m_fullPath;
    // Every import judged so far in this package. An import is judged once:
    // a later file that repeats it would only repeat the same finding.
    std::unordered_set<std::string> m_imports;
    std::unordered_set<std::string_view> m_packagePaths;
    bool m_packagePathsKnown = false;
};

// `relative` joined to the directory `base` (an absolute path), with "."
// and ".." steps and repeated or trailing slashes resolved without looking
// at any file system. ".." above the root stays at the root.
std::string joinLexically(std::string_view base, std::string_view relative);

} // namespace Validator
