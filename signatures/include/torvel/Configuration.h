#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "torvel/Export.h"

typedef struct _GKeyFile GKeyFile;

namespace PackageSignatures {

// File locations shared by the package manager and both programs, read from
// /etc/torvel/torvel.conf (below $TORVEL_ROOTFS when set). Every accessor reads
// the key file at the time of the call; a missing key or file gives "".
class TORVEL_EXPORT Configuration {
public:
    static constexpr const char* defaultLocation = "/etc/torvel/torvel.conf";

    Configuration();
    explicit Configuration(std::string_view path);
    ~Configuration();
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    std::string databasePath() const;
    std::string caPath() const;
    std::string revocationConfPath() const;
    std::string developerModeInitialConfPath() const;
    std::string developerModeRuntimeConfPath() const;
    std::string systemDeveloperKeyIdPath() const;

    const std::string& confPath() const { return m_confPath; }

    // The default location with the TORVEL_ROOTFS prefix applied.
    static std::string defaultConfPath();

private:
    std::string value(const char* key) const;

    // Defined beside the implementation so that GLib stays out of this header.
    struct KeyFileDeleter {
        void operator()(GKeyFile* keyFile) const noexcept;
    };

    std::string m_confPath;
    std::unique_ptr<GKeyFile, KeyFileDeleter> m_keyFile;
};

} // namespace PackageSignatures
