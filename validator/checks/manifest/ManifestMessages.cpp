#include "checks/manifest/ManifestMessages.h"

#include "checks/manifest/ManifestRules.h"

#include <iterator>

namespace Validator {

namespace {

constexpr PathArgument kNoPath = PathArgument::None;

std::string knownKeys()
{
    std::string text;
    for (const ManifestRules::KnownKey& key : ManifestRules::knownKeys())
        text += std::string(key.name) + ": " + std::string(key.kind) + "\n";
    return text;
}

constexpr MessageSpec kManifestMessages[] = {
    {LogLevel::Error, "[manifest] manifest file contains invalid JSON", "manifest-invalid-json", kNoPath,
     "The manifest /manifest.json must be one JSON object of at most 1 MiB; the platform reads the application's "
     "minimum OS versions from it. Write it as an object, for example {\"minOSVersion\": \"5.0\"}.",
     knownKeys},
    {LogLevel::Warning, "[{0}] Unknown manifest key", "manifest-key-unknown", kNoPath,
     "The manifest holds a key the platform does not read; it is ignored, which is rarely what was meant. Remove the "
     "key or correct its spelling.",
     knownKeys},
    {LogLevel::Error, "[{0}] Manifest key has wrong type", "manifest-key-wrong-type", kNoPath,
     "A manifest key has a value of the wrong JSON type, for example the string \"true\" where a boolean is read. "
     "Write the value as the type below.",
     knownKeys},
    {LogLevel::Error, "[manifest] missing minOSVersion field", "manifest-min-os-version-missing", kNoPath,
     "The manifest must say from which OS version on the application runs: minOSVersion, a version such as \"5.0.1\" "
     "or a list with one minimum per release branch the application supports, such as [\"5.0.1\", \"4.0.2\"]. Add "
     "it."},
    {LogLevel::Error, "[manifest] invalid version in minOSVersion field", "manifest-min-os-version-invalid", kNoPath,
     "minOSVersion must be a string, or a non-empty array of strings; each a version of decimal parts joined by "
     "dots. Write it in that form."},
    {LogLevel::Error, "[manifest] package minOSVersion incompatible with this OS version",
     "manifest-min-os-version-incompatible", kNoPath,
     "The OS version vetrik validates against (VERSION_ID of etc/os-release below KVD_ROOT_FS) is below every "
     "minimum the manifest lists for its branch: the largest minimum, or within a smaller entry's branch (4.0.2 "
     "covers 4.0.2 up to 4.1), so the application would not be offered to this system. Lower minOSVersion if the "
     "application runs on it, or add an entry for its branch."},
};
static_assert(coversEveryCode(kManifestMessages, ManifestMessage::IncompatibleOsVersion));

constexpr MessageGroup kGroup("manifest", kManifestMessages);

} // namespace

const MessageGroup& messageGroupOf(ManifestMessage)
{
    return kGroup;
}

} // namespace Validator
