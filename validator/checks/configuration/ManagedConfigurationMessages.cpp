#include "checks/configuration/ManagedConfigurationMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kManagedConfigurationMessages[] = {
    {LogLevel::Error, "[{0}] Configuration parameter file for managed configuration is invalid"},
};
static_assert(std::size(kManagedConfigurationMessages)
              == static_cast<std::size_t>(ManagedConfigurationMessage::InvalidParameterFile) + 1);

constexpr MessageGroup kGroup("managed configuration", kManagedConfigurationMessages);

} // namespace

const MessageGroup& messageGroupOf(ManagedConfigurationMessage)
{
    return kGroup;
}

} // namespace Validator
