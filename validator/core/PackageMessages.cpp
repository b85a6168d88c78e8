#include "core/PackageMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kPackageMessages[] = {
    {LogLevel::Error, "[{0}] Installation not allowed in this location"},
    {LogLevel::Warning, "[arch] QML-only RPMs should be noarch"},
    {LogLevel::Error, "[debug] Debug symbols or sources must not be included"},
    {LogLevel::Error, "[/usr/bin] Direct package ownership of /usr/bin is disallowed"},
    {LogLevel::Error, "[{0}] Hardcoded path found"},
};

constexpr MessageGroup kGroup("package", kPackageMessages);

} // namespace

const MessageGroup& messageGroupOf(PackageMessage)
{
    return kGroup;
}

} // namespace Validator
