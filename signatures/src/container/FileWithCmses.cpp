#include "torvel/FileWithCmses.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/PosixIo.h"
#include "common/VisibleText.h"
#include "container/BlockLocation.h"
#include "container/ChangeLock.h"
#include "container/FileRange.h"
#include "container/PackageReplacement.h"
#include "core/RegularFile.h"

namespace PackageSignatures {

namespace {

// fopen's modes as open flags; -1 for a mode fopen would refuse.
int openFlags(const char* mode)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    int flags = 0;
    switch (mode[0]) {
    case 'r': flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return -1;
    }
    if (std::strchr(mode, 'x') != nullptr)
        flags |= O_EXCL;
    return flags;
}

// The path of a stream the caller opened, as the kernel knows it.
std::string descriptorPath(int fd)
{
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

FileWithCmses::FileWithCmses(FILE* stream)
    : m_stream(stream)
{
}

FileWithCmses::~FileWithCmses() = default;

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr || openFlags(mode) < 0) {
        errno = EINVAL;
        return nullptr;
    }
    std::string failure;
    Common::UniqueFd fd = openRegularFile(path, openFlags(mode), failure);
    if (!fd) {
        if (failure == notRegularFile)
            errno = EINVAL;
        return nullptr;
    }
    Common::Libc::FileHandle stream = Common::streamOf(std::move(fd), mode);
    if (!stream)
        return nullptr;
    auto file = std::make_unique<FileWithCmses>(stream.release());
    file->m_path = path;
    return file;
}

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const char* path)
{
    if (path == nullptr)
        return nullptr;
    if (auto file = fromPath(path, "r+"))
        return file;
    // Nothing else than a regular file is opened, in any mode.
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "torvel: %s is %s\n", Common::visibleText(path).c_str(), notRegularFile);
        errno = EINVAL;
        return nullptr;
    }
    std::fprintf(stderr,
                 "torvel: trying to reopen %s in read-only mode, as it failed to open in read-write mode "
                 "(some features that modify a file may fail with an error)\n",
                 Common::visibleText(path).c_str());
    std::fflush(stderr);
    return fromPath(path, "r");
}

std::unique_ptr<FileWithCmses> FileWithCmses::fromPath(const std::string& path)
{
    return fromPath(path.c_str());
}

int FileWithCmses::fd() const
{
    return fileno(m_stream.get());
}

bool FileWithCmses::isRpmPackage() const
{
    static constexpr unsigned char rpmLeadMagic[] = {0xED, 0xAB, 0xEE, 0xDB};
    const std::vector<uint8_t> head = readFileRange(m_stream.get(), 0, sizeof rpmLeadMagic);
    return head.size() == sizeof rpmLeadMagic && std::memcmp(head.data(), rpmLeadMagic, sizeof rpmLeadMagic) == 0;
}

std::vector<CmsLocation> FileWithCmses::locateCmses() const
{
    std::vector<CmsLocation> locations;
    if (!m_stream)
        return locations;
    for (const LocatedBlock& block : locatePackageBlocks(fd()).blocks)
        locations.push_back(block.location);
    return locations;
}

std::vector<Cms> FileWithCmses::cmses() const
{
    std::vector<Cms> result;
    for (const CmsLocation& location : locateCmses())
        result.emplace_back(readFileRange(m_stream.get(), location.offset, location.end));
    return result;
}

bool FileWithCmses::isReadOnly() const
{
    const int flags = fcntl(fd(), F_GETFL);
    return flags < 0 || (flags & O_ACCMODE) == O_RDONLY;
}

std::string FileWithCmses::displayPath() const
{
    return Common::visibleText(m_path.empty() ? descriptorPath(fd()) : m_path);
}

std::optional<std::string> FileWithCmses::lockForChange()
{
    // Each round either finds the path still naming the locked file, or
    // follows a replacement some other signer has just renamed into place.
    constexpr int rounds = 64;
    for (int round = 0; round < rounds; ++round) {
        if (Common::retryOnInterrupt([&] { return flock(fd(), LOCK_EX); }) != 0) {
            std::fprintf(stderr, "Could not lock \"%s\": %s\n", displayPath().c_str(), std::strerror(errno));
            return std::nullopt;
        }
        const std::string path = m_path.empty() ? descriptorPath(fd()) : m_path;
        char* resolved = path.empty() ? nullptr : realpath(path.c_str(), nullptr);
        const std::string realPath = resolved ? resolved : "";
        std::free(resolved);
        struct stat named;
        struct stat locked;
        if (realPath.empty() || stat(realPath.c_str(), &named) != 0 || fstat(fd(), &locked) != 0) {
            std::fprintf(stderr, "Could not find \"%s\" again: %s\n", displayPath().c_str(), std::strerror(errno));
            flock(fd(), LOCK_UN);
            return std::nullopt;
        }
        if (sameFile(named, locked))
            return realPath;
        std::string failure;
        Common::UniqueFd reopened = openRegularFile(path.c_str(), isReadOnly() ? O_RDONLY : O_RDWR, failure);
        Common::Libc::FileHandle stream =
            reopened ? Common::streamOf(std::move(reopened), isReadOnly() ? "r" : "r+") : nullptr;
        if (!stream) {
            std::fprintf(stderr, "Could not reopen \"%s\": %s\n", displayPath().c_str(),
                         failure.empty() ? std::strerror(errno) : failure.c_str());
            flock(fd(), LOCK_UN);
            return std::nullopt;
        }
        // Closing the replaced file's stream gives up its lock.
        m_stream.reset(stream.release());
    }
    std::fprintf(stderr, "Could not lock \"%s\": it keeps being replaced\n", displayPath().c_str());
    return std::nullopt;
}

bool FileWithCmses::deleteCmses(bool onlyLast)
{
    if (!m_stream)
        return false;
    const std::optional<std::string> realPath = lockForChange();
    if (!realPath)
        return false;
    const ChangeLock lock(*this);
    const bool readOnly = isReadOnly();
    if (!readOnly)
        removeStaleReplacements(*realPath);

    const PackageBlocks found = locatePackageBlocks(fd());
    if (found.blocks.empty())
        return true;
    if (readOnly) {
        std::fprintf(stderr, "Could not delete signatures from \"%s\": the file is read-only\n",
                     displayPath().c_str());
        return false;
    }
    const size_t first = onlyLast ? found.blocks.size() - 1 : 0;
    for (size_t index = first; index < found.blocks.size(); ++index) {
        if (!found.blocks[index].wellFormed()) {
            std::fprintf(stderr, "Could not delete signatures from \"%s\": signature block %zu is malformed\n",
                         displayPath().c_str(), index + 1);
            return false;
        }
    }
    // One truncation: a kill leaves either all the blocks or none of those
    // being removed.
    std::fflush(m_stream.get());
    if (ftruncate(fd(), off_t(found.blocks[first].start)) != 0) {
        std::fprintf(stderr, "Could not delete signatures from \"%s\": %s\n", displayPath().c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace PackageSignatures
