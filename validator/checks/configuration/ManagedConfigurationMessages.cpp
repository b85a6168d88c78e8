#include "checks/configuration/ManagedConfigurationMessages.h"

#include <iterator>

namespace Validator {

namespace {

constexpr MessageSpec kManagedConfigurationMessages[] = {
    {LogLevel::Error, "[{0}] Configuration parameter file for managed configuration is invalid",
     "managed-configuration-invalid", PathArgument::First,
     "A parameter file /usr/share/N/managed-configuration/SCHEMA.json must be a JSON object whose members are "
     "parameters of the platform's schema SCHEMA, each with a value of the declared type, and must hold every "
     "required parameter; a file without a schema of that name is invalid too. Device management applies these "
     "values, so they must be what the schema expects. Correct the file against "
     "usr/share/managed-configuration/schemas/SCHEMA.json of the platform."},
};
static_assert(coversEveryCode(kManagedConfigurationMessages, ManagedConfigurationMessage::InvalidParameterFile));

constexpr MessageGroup kGroup("managed configuration", kManagedConfigurationMessages);

} // namespace

const MessageGroup& messageGroupOf(ManagedConfigurationMessage)
{
    return kGroup;
}

} // namespace Validator
