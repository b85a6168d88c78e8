#pragma once

#include "core/IValidator.h"

#include <string>
#include <unordered_set>

namespace Validator {

// The launcher icons: under profiles that demand them, one square PNG per
// launcher size, named after the package, in the hicolor theme. Checks the
// pixel size of each one found and reports the missing ones at the end.
class Icon final : public IValidator {
public:
    explicit Icon(ValidationContext context);

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override;

private:
    std::string expectedPath(std::int32_t size) const;

    std::string m_path;
    std::string m_fullPath;
    // Expected icons not seen yet.
    std::unordered_set<std::string> m_outstanding;
};

} // namespace Validator
