#include "core/Config.h"

#include "core/profiles/Profiles.h"

#include <functional>
#include <map>

namespace Validator {

namespace {

using Factory = std::function<std::shared_ptr<Configuration::ConfigBase>()>;

template <typename T>
Factory make()
{
    return [] { return std::make_shared<T>(); };
}

const std::map<Profile, Factory>& factories()
{
    static const std::map<Profile, Factory> table = {
        {Profile::Regular, make<Configuration::ConfigRegular>()},
        {Profile::Extended, make<Configuration::ConfigExtended>()},
        {Profile::Mdm, make<Configuration::ConfigMDM>()},
        {Profile::Antivirus, make<Configuration::ConfigAntivirus>()},
        {Profile::Auth, make<Configuration::ConfigAuth>()},
        {Profile::Market, make<Configuration::ConfigMarket>()},
        {Profile::SystemApp, make<Configuration::ConfigSystemApp>()},
        {Profile::Pwa, make<Configuration::ConfigPwa>()},
    };
    return table;
}

} // namespace

Config::Config(Profile profile, DeveloperMode developerMode)
{
    auto it = factories().find(profile);
    m_profile = it != factories().end() ? it->second() : std::make_shared<Configuration::ConfigRegular>();
    if (developerMode == DeveloperMode::Read)
        m_profile->setFullChecks(Configuration::readValidationEnabled());
}

} // namespace Validator
