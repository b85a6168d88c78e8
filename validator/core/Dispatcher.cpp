#include "core/Dispatcher.h"

#include "core/PackageMessages.h"

namespace Validator {

Dispatcher::Dispatcher(const Config& config, const RpmMeta& meta)
    : Dispatcher(config, std::make_shared<const RpmMeta>(meta))
{
}

Dispatcher::Dispatcher(const Config& config, std::shared_ptr<const RpmMeta> meta)
    : m_context{std::make_shared<const Config>(config), std::move(meta), std::make_shared<Logger>()}
    , m_validators(makeValidators(m_context))
{
}

Dispatcher::~Dispatcher() = default;

void Dispatcher::setUnpackDir(const std::string& directory)
{
    *m_context.unpackedTree = UnpackedTree(directory);
}

bool Dispatcher::stepVerdict()
{
    return m_context.logger->takeStepVerdict(m_context.config->fullChecks());
}

bool Dispatcher::validateFile(const std::string& path, const std::string& fullPath)
{
    m_currentPath = path;
    m_currentFullPath = fullPath;
    // Findings whose message names no path concern the file at hand.
    m_context.logger->setCurrentFile(m_currentPath);
    for (auto& [key, validator] : m_validators) {
        if (validator->accepts(m_currentPath, m_currentFullPath))
            validator->validate(m_currentPath, m_currentFullPath);
    }
    m_context.logger->clearCurrentFile();
    return stepVerdict();
}

bool Dispatcher::finish()
{
    for (auto& [key, validator] : m_validators)
        validator->finish();
    Logger& logger = *m_context.logger;
    if (m_context.meta->arch() != "noarch" && logger.getFlag(Flag::QmlOnlyApp)
        && !logger.getFlag(Flag::ArchSpecificContent))
        logger.add(PackageMessage::QmlOnlyShouldBeNoarch);
    return stepVerdict();
}

} // namespace Validator
