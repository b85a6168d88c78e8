#pragma once

#include "common/RpmHandles.h"

#include <functional>
#include <string>
#include <vector>

#include <rpm/rpmtag.h>

namespace Validator {
struct FileInfo;
}

namespace Common::Rpm {

// An open package and its header. Reads the header only, never the payload.
class Reader {
public:
    // Throws Common::Error: FileNotFound when the file cannot be opened,
    // BadPackageFileFormat when its header cannot be read or is rejected.
    explicit Reader(const std::string& path);

    // Throws Common::Error (BadPackageFileFormat) when the tag is absent.
    std::string stringTag(rpmTagVal tag) const;
    std::string stringTag(rpmTagVal tag, const std::string& fallback) const;

    // Names of the dependencies under `tag` (versions and flags dropped).
    std::vector<std::string> dependencyNames(rpmTagVal tag) const;

    // File entries in header order.
    void forEachFile(const std::function<void(Validator::FileInfo&&)>& visit) const;

private:
    FdHandle m_fd;
    HeaderHandle m_header;
};

} // namespace Common::Rpm
