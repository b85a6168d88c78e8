// Revoked key ids from the revocation file, and the developer mode that
// decides whether the revoke-on-bind keys are revoked.

#include <cstdio>
#include <cstring>
#include <string>

#include "common/GlibHandles.h"
#include "common/VisibleText.h"
#include "database/DatabaseRecord.h"
#include "torvel/Configuration.h"

namespace PackageSignatures {

namespace {

constexpr const char* revokeOnBindGroup = "revoke-on-bind";
constexpr const char* revokeGroup = "revoke";

Common::Glib::KeyFileHandle loadKeyFile(const std::string& path)
{
    Common::Glib::KeyFileHandle keyFile(g_key_file_new());
    if (!g_key_file_load_from_file(keyFile.get(), path.c_str(), G_KEY_FILE_NONE, nullptr))
        return nullptr;
    return keyFile;
}

} // namespace

bool Database::readDeveloperModeConfig(DeveloperModeConfigType type, bool& enabled)
{
    const Configuration configuration(m_record->confPath);
    std::string path;
    if (type == InitialConfig) {
        path = configuration.developerModeInitialConfPath();
    } else {
        if (type != RuntimeConfig)
            std::fprintf(stderr, "Unknown developer mode runtime config type: %d\nUse runtime config by default\n",
                         int(type));
        path = configuration.developerModeRuntimeConfPath();
    }
    const Common::Glib::KeyFileHandle keyFile = loadKeyFile(path);
    if (!keyFile)
        return false;
    const Common::Glib::StringHandle value(g_key_file_get_string(keyFile.get(), "developermode", "enabled", nullptr));
    if (!value)
        return false;
    enabled = std::strcmp(value.get(), "true") == 0;
    return true;
}

bool Database::isDeveloperModeEnabled()
{
    bool enabled = false;
    if (readDeveloperModeConfig(RuntimeConfig, enabled) || readDeveloperModeConfig(InitialConfig, enabled))
        return enabled;
    std::fprintf(stderr, "Could not get developer mode state from config files\n");
    return false;
}

bool Database::processKeyidsFromFile(const std::string& path, const std::string& groupName,
                                     RevokedKeyidsOperation operation)
{
    const Common::Glib::KeyFileHandle keyFile = loadKeyFile(path);
    if (!keyFile)
        return false;
    if (!g_key_file_has_group(keyFile.get(), groupName.c_str()))
        return true;
    // In file order: an unknown type stops here, the entries before it stay applied.
    const Common::Glib::StrvHandle keys(g_key_file_get_keys(keyFile.get(), groupName.c_str(), nullptr, nullptr));
    for (gchar** key = keys.get(); key != nullptr && *key != nullptr; ++key) {
        const Common::Glib::StringHandle value(g_key_file_get_string(keyFile.get(), groupName.c_str(), *key, nullptr));
        const std::string word = value ? value.get() : "";
        RevocationType type;
        if (word == "superseded") {
            type = Superseded;
        } else if (word == "blacklisted") {
            type = Blacklisted;
        } else {
            std::fprintf(stderr, "Unknown revocation type: %s\n", Common::visibleText(word).c_str());
            return false;
        }
        const std::string keyid(*key);
        const bool applied = operation == Revoke ? insertRevokedKeyid(keyid, type) : removeRevokedKeyid(keyid, type);
        if (!applied)
            return false;
    }
    return true;
}

bool Database::processPublicKeys(RevokedKeyidsOperation operation)
{
    return processKeyidsFromFile(Configuration(m_record->confPath).revocationConfPath(), revokeOnBindGroup,
                                 operation);
}

bool Database::trustPublicKeys()
{
    return processPublicKeys(Trust);
}

bool Database::revokePublicKeys()
{
    return processPublicKeys(Revoke);
}

bool Database::updateRevokedKeyids()
{
    const bool bound = isDeveloperModeEnabled() ? trustPublicKeys() : revokePublicKeys();
    const bool revoked =
        processKeyidsFromFile(Configuration(m_record->confPath).revocationConfPath(), revokeGroup, Revoke);
    return revoked && bound;
}

} // namespace PackageSignatures
