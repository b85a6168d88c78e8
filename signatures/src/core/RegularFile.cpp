#include "core/RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/LibcHandles.h"
#include "common/PosixIo.h"

namespace PackageSignatures {

const char* const notRegularFile = "not a regular file";

Common::UniqueFd openRegularFile(const char* path, int flags, std::string& failure)
{
    if (path == nullptr) {
        failure = std::strerror(EINVAL);
        return {};
    }
    // Checked before opening too: opening some devices does something.
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        failure = notRegularFile;
        return {};
    }
    const bool truncate = (flags & O_TRUNC) != 0;
    Common::UniqueFd fd(open(path, (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
    if (!fd) {
        failure = std::strerror(errno);
        return {};
    }
    const bool regular = fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode);
    const int blocking = regular ? fcntl(fd.get(), F_GETFL) : -1;
    if (!regular || blocking < 0 || fcntl(fd.get(), F_SETFL, blocking & ~O_NONBLOCK) != 0
        || (truncate && ftruncate(fd.get(), 0) != 0)) {
        failure = regular ? std::strerror(errno) : notRegularFile;
        return {};
    }
    return fd;
}

Common::Libc::FileHandle openRegularStream(const char* path, std::string& failure)
{
    Common::UniqueFd fd = openRegularFile(path, O_RDONLY, failure);
    if (!fd)
        return nullptr;
    Common::Libc::FileHandle stream = Common::streamOf(std::move(fd), "r");
    if (!stream)
        failure = std::strerror(errno);
    return stream;
}

std::optional<std::string> readRegularFile(const char* path, size_t limit, std::string& failure)
{
    const Common::UniqueFd fd = openRegularFile(path, O_RDONLY, failure);
    if (!fd)
        return std::nullopt;
    std::optional<std::string> contents = Common::readAll(fd.get(), limit);
    if (!contents)
        failure = errno == EFBIG ? "file too large" : std::strerror(errno);
    return contents;
}

} // namespace PackageSignatures
