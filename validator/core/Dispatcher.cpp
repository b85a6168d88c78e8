#include "core/Dispatcher.h"

#include "checks/Executable.h"
#include "checks/Path.h"
#include "checks/PendingValidators.h"
#include "core/PackageMessages.h"

namespace Validator {

Dispatcher::Dispatcher(const Config& config, const RpmMeta& meta)
    : m_context{std::make_shared<const Config>(config), std::make_shared<const RpmMeta>(meta),
                std::make_shared<Logger>()}
{
    // The key order is the order in which every file is offered and the
    // final checks run.
    m_desktop = std::make_shared<Desktop>(m_context);
    m_validators[0] = m_desktop;
    m_validators[1] = std::make_shared<Executable>(m_context);
    m_validators[2] = std::make_shared<QmlImports>(m_context);
    m_validators[3] = std::make_shared<Icon>(m_context);
    m_validators[4] = std::make_shared<Integrityd>(m_context);
    m_validators[5] = std::make_shared<Manifest>(m_context);
    m_validators[6] = std::make_shared<Path>(m_context);
    m_validators[7] = std::make_shared<ConfigurationParameterFile>(m_context);
}

Dispatcher::~Dispatcher() = default;

void Dispatcher::setUnpackDir(const std::string& directory)
{
    m_desktop->setUnpackDir(directory);
}

bool Dispatcher::stepVerdict()
{
    return m_context.logger->takeStepVerdict(m_context.config->fullChecks());
}

bool Dispatcher::validateFile(const std::string& path, const std::string& fullPath)
{
    m_currentPath = path;
    m_currentFullPath = fullPath;
    for (auto& [key, validator] : m_validators) {
        if (validator->accepts(m_currentPath, m_currentFullPath))
            validator->validate(m_currentPath, m_currentFullPath);
    }
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
