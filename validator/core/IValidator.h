#pragma once

#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include <memory>
#include <string>

namespace Validator {

// The three objects every check of one package run shares.
struct ValidationContext {
    std::shared_ptr<const Config> config;
    std::shared_ptr<const RpmMeta> meta;
    std::shared_ptr<Logger> logger;
};

// Root of every validator and section checker: checks one file, recording
// findings in the logger.
class ISubValidator {
public:
    explicit ISubValidator(ValidationContext context) : m_context(std::move(context)) {}
    virtual ~ISubValidator() = default;

    // `path` is the file's path in the package header (/usr/bin/app);
    // `fullPath` is the same path below the unpack directory.
    virtual void validate(const std::string& path, const std::string& fullPath) = 0;

protected:
    const Config& config() const { return *m_context.config; }
    const RpmMeta& meta() const { return *m_context.meta; }
    Logger& logger() const { return *m_context.logger; }
    const ValidationContext& context() const { return m_context; }

private:
    ValidationContext m_context;
};

// A validator the dispatcher offers every file to.
class IValidator : public ISubValidator {
public:
    using ISubValidator::ISubValidator;

    // Whether this validator wants to check the file.
    virtual bool accepts(const std::string& path, const std::string& fullPath) = 0;
    // Package-wide checks after every file was offered.
    virtual void finish() = 0;
};

} // namespace Validator
