#include "package/Filesystem.h"

#include "package/Error.h"
#include "package/Log.h"
#include "package/PackagedFile.h"
#include "package/UnpackedTree.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <sstream>

namespace fs = std::filesystem;

namespace Validator::Filesystem {

using Common::Error;
using Common::ErrorCode;

namespace {

constexpr std::size_t kLargestReleaseFile = 1 << 20;

} // namespace

bool isDirectory(const fs::path& path)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        logError() << fs::filesystem_error("status", path, ec).what();
        return false;
    }
    return fs::is_directory(status);
}

bool hasPermission(const fs::path& path, fs::perms mask)
{
    try {
        fs::file_status status = fs::status(path);
        if (!fs::is_regular_file(status))
            return false;
        return (status.permissions() & mask) != fs::perms::none;
    } catch (const fs::filesystem_error& e) {
        logError() << e.what();
        throw Error(ErrorCode::Filesystem, "Couldn't get permissions for: " + path.string());
    }
}

bool isDirectory(const UnpackedTree& tree, const std::string& path)
{
    const std::optional<struct stat> status = tree.status(path);
    if (!status) {
        const std::error_code ec(errno, std::generic_category());
        if (ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            logError() << fs::filesystem_error("status", tree.root() + path, ec).what();
        return false;
    }
    return S_ISDIR(status->st_mode);
}

bool hasPermission(const UnpackedTree& tree, const std::string& path, fs::perms mask)
{
    const std::optional<struct stat> status = tree.status(path);
    if (!status) {
        const std::error_code ec(errno, std::generic_category());
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return false;
        logError() << fs::filesystem_error("status", tree.root() + path, ec).what();
        throw Error(ErrorCode::Filesystem, "Couldn't get permissions for: " + tree.root() + path);
    }
    if (!S_ISREG(status->st_mode))
        return false;
    return (static_cast<fs::perms>(status->st_mode & 07777) & mask) != fs::perms::none;
}

void removeAll(const fs::path& path)
{
    try {
        fs::remove_all(path);
    } catch (const fs::filesystem_error& e) {
        logError() << e.what();
        throw Error(ErrorCode::Filesystem, "Couldn't remove filesystem entry: " + path.string());
    }
}

void createDirectories(const fs::path& path)
{
    try {
        fs::create_directories(path);
    } catch (const fs::filesystem_error& e) {
        logError() << e.what();
        throw Error(ErrorCode::Filesystem, "Couldn't create directory: " + path.string());
    }
}

fs::path rootFs()
{
    const char* root = std::getenv("KVD_ROOT_FS");
    return root ? fs::path(root) : fs::path("/");
}

std::string osVersion()
{
    static constexpr std::string_view kKey = "VERSION_ID=";
    // Read as a regular file only: a named pipe in its place would block.
    auto file = PackagedFile::openHostFile((rootFs() / "etc/os-release").string());
    std::istringstream release(file ? file->readAll(kLargestReleaseFile).value_or(std::string()) : std::string());
    std::string line;
    while (std::getline(release, line)) {
        if (line.compare(0, kKey.size(), kKey) == 0)
            return line.substr(kKey.size());
    }
    throw Error(ErrorCode::Internal, "Couldn't retrieve Taliro OS version");
}

} // namespace Validator::Filesystem
