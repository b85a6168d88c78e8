#pragma once

#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include <memory>

namespace Validator {

// Not built yet: the header-level checks (name, vendor, dependencies,
// scripts, file modes and owners). Until then they record nothing and pass.
class PackageChecks {
public:
    PackageChecks(const Config& config, const RpmMeta& meta)
        : m_config(std::make_shared<const Config>(config)), m_meta(std::make_shared<const RpmMeta>(meta))
    {
    }
    void setColor(bool on) { Logger::setColor(on); }
    // True when the checks failed.
    bool run() { return m_logger.takeStepVerdict(m_config->fullChecks()); }

private:
    std::shared_ptr<const Config> m_config;
    std::shared_ptr<const RpmMeta> m_meta;
    Logger m_logger;
};

} // namespace Validator
