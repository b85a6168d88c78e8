#include "checks/manifest/ManifestMessages.h"

namespace Validator {

namespace {

constexpr MessageSpec kManifestMessages[] = {
    {LogLevel::Error, "[manifest] manifest file contains invalid JSON"},
    {LogLevel::Warning, "[{0}] Unknown manifest key"},
    {LogLevel::Error, "[{0}] Manifest key has wrong type"},
    {LogLevel::Error, "[manifest] missing minOSVersion field"},
    {LogLevel::Error, "[manifest] invalid version in minOSVersion field"},
    {LogLevel::Error, "[manifest] package minOSVersion incompatible with this OS version"},
};
static_assert(std::size(kManifestMessages) == static_cast<std::size_t>(ManifestMessage::IncompatibleOsVersion) + 1);

constexpr MessageGroup kGroup("manifest", kManifestMessages);

} // namespace

const MessageGroup& messageGroupOf(ManifestMessage)
{
    return kGroup;
}

} // namespace Validator
