#pragma once

#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"
#include "package/UnpackedTree.h"

#include <map>
#include <memory>
#include <string>

namespace Validator {

// The objects every check of one package run shares.
struct ValidationContext {
    std::shared_ptr<const Config> config;
    std::shared_ptr<const RpmMeta> meta;
    std::shared_ptr<Logger> logger;
    // The extraction root, held open from before the payload is unpacked.
    // Every file of the package is opened through it, so that no link of
    // the package leads a check onto this machine's files.
    std::shared_ptr<UnpackedTree> unpackedTree = std::make_shared<UnpackedTree>();
};

// Root of every validator and section checker: checks one file, recording
// findings in the logger.
class ISubValidator {
public:
    explicit ISubValidator(ValidationContext context) : m_context(std::move(context)) {}
    virtual ~ISubValidator() = default;

    // `path` is the file's path in the package header (/usr/bin/app);
    // `fullPath` is the same path below the unpack directory, for what is
    // shown; files are opened by `path` through unpackedTree().
    virtual void validate(const std::string& path, const std::string& fullPath) = 0;

protected:
    const Config& config() const { return *m_context.config; }
    const RpmMeta& meta() const { return *m_context.meta; }
    Logger& logger() const { return *m_context.logger; }
    const ValidationContext& context() const { return m_context; }
    const UnpackedTree& unpackedTree() const { return *m_context.unpackedTree; }

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

// The eight validators of one package run, in dispatch order: the key order
// is the order in which every file is offered and the final checks run.
// Defined beside the validators themselves, so that the framework does not
// depend on them.
std::map<int, std::shared_ptr<IValidator>> makeValidators(const ValidationContext& context);

} // namespace Validator
