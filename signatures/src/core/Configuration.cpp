#include "torvel/Configuration.h"

#include <cstdlib>

#include <glib.h>

#include "common/GlibHandles.h"
#include "core/RegularFile.h"

namespace PackageSignatures {

namespace {
constexpr const char* mainGroup = "main";
// A handful of paths; anything much larger is not this file.
constexpr size_t maximumSize = 1 << 20;
}

void Configuration::KeyFileDeleter::operator()(GKeyFile* keyFile) const noexcept
{
    g_key_file_free(keyFile);
}

std::string Configuration::defaultConfPath()
{
    // Plain concatenation: the root is whatever the caller wrote, slash or not.
    const char* root = std::getenv("TORVEL_ROOTFS");
    return root == nullptr ? std::string(defaultLocation) : std::string(root) + defaultLocation;
}

Configuration::Configuration()
    : Configuration(defaultConfPath())
{
}

Configuration::Configuration(std::string_view path)
    : m_confPath(path)
    , m_keyFile(g_key_file_new())
{
    // A missing or broken file is not an error here: every path is then
    // empty and whoever needs one reports that.
    std::string failure;
    const std::optional<std::string> text = readRegularFile(m_confPath.c_str(), maximumSize, failure);
    if (text)
        g_key_file_load_from_data(m_keyFile.get(), text->data(), text->size(), G_KEY_FILE_NONE, nullptr);
}

Configuration::~Configuration() = default;

std::string Configuration::value(const char* key) const
{
    const Common::Glib::StringHandle text(g_key_file_get_string(m_keyFile.get(), mainGroup, key, nullptr));
    return text ? std::string(text.get()) : std::string();
}

std::string Configuration::databasePath() const { return value("database_path"); }
std::string Configuration::caPath() const { return value("root_ca_cert_path"); }
std::string Configuration::revocationConfPath() const { return value("revocation_conf"); }
std::string Configuration::developerModeInitialConfPath() const { return value("developermode_init_conf"); }
std::string Configuration::developerModeRuntimeConfPath() const { return value("developermode_runtime_conf"); }
std::string Configuration::systemDeveloperKeyIdPath() const { return value("system_developer_keyid_path"); }

} // namespace PackageSignatures
