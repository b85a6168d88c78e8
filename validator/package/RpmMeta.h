#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Validator {

// One file entry of the package header.
struct FileInfo {
    std::uint16_t mode = 0;  // st_mode bits: type and permissions
    std::string path;        // absolute installed path
    std::string linkTarget;  // symlink target; empty for other entries
    std::string user;
    std::string group;
};

// The package model: what the validators know of a package's header.
// Built once per package and read-only afterwards.
class RpmMeta {
public:
    // Throws Common::Error when the package cannot be opened or its header
    // cannot be read; absent tags give empty values.
    explicit RpmMeta(const std::string& packagePath);

    const std::string& name() const { return m_name; }
    const std::string& version() const { return m_version; }
    const std::string& release() const { return m_release; }
    const std::string& vendor() const { return m_vendor; }
    const std::string& arch() const { return m_arch; }
    bool hasScripts() const { return m_hasScripts; }
    const std::vector<std::string>& provides() const { return m_provides; }
    const std::vector<std::string>& obsoletes() const { return m_obsoletes; }
    const std::vector<std::string>& conflicts() const { return m_conflicts; }
    // The Requires names, with rpmlib features, file and loader dependencies
    // removed and "(64bit)" and "()" suffixes cut off. (`requires` is a
    // keyword of C++20, hence the longer name.)
    const std::vector<std::string>& requirements() const { return m_requires; }
    const std::vector<std::string>& paths() const { return m_paths; }
    const std::vector<FileInfo>& fileInfos() const { return m_fileInfos; }

    // Exposed for tests of the normalisation rules.
    static std::vector<std::string> normaliseRequires(std::vector<std::string> names);

private:
    std::string m_name;
    std::string m_version;
    std::string m_release;
    std::string m_vendor;
    std::string m_arch;
    bool m_hasScripts = false;
    std::vector<std::string> m_provides;
    std::vector<std::string> m_obsoletes;
    std::vector<std::string> m_conflicts;
    std::vector<std::string> m_requires;
    std::vector<std::string> m_paths;
    std::vector<FileInfo> m_fileInfos;
};

} // namespace Validator
