#include "checks/integrityd/IntegritydMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kIntegritydMessages[] = {
    {LogLevel::Error, "[integrityd] integrityd configuration file mismatching package content"},
    {LogLevel::Error, "[integrityd] integrityd configuration file contains invalid JSON"},
};
static_assert(std::size(kIntegritydMessages) == static_cast<std::size_t>(IntegritydMessage::InvalidJson) + 1);

constexpr MessageGroup kGroup("integrity daemon", kIntegritydMessages);

} // namespace

const MessageGroup& messageGroupOf(IntegritydMessage)
{
    return kGroup;
}

} // namespace Validator
