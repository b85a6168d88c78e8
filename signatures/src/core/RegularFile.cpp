#include "core/RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/LibcHandles.h"

namespace PackageSignatures {

const char* const notRegularFile = "not a regular file";

int openRegularFile(const char* path, int flags, std::string& failure)
{
    if (path == nullptr) {
        failure = std::strerror(EINVAL);
        return -1;
    }
    // Checked before opening too: opening some devices does something.
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        failure = notRegularFile;
        return -1;
    }
    const bool truncate = (flags & O_TRUNC) != 0;
    const int fd = open(path, (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        failure = std::strerror(errno);
        return -1;
    }
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const int blocking = regular ? fcntl(fd, F_GETFL) : -1;
    if (!regular || blocking < 0 || fcntl(fd, F_SETFL, blocking & ~O_NONBLOCK) != 0
        || (truncate && ftruncate(fd, 0) != 0)) {
        failure = regular ? std::strerror(errno) : notRegularFile;
        close(fd);
        return -1;
    }
    return fd;
}

Common::Libc::FileHandle openRegularStream(const char* path, std::string& failure)
{
    const int fd = openRegularFile(path, O_RDONLY, failure);
    if (fd < 0)
        return nullptr;
    Common::Libc::FileHandle stream(fdopen(fd, "r"));
    if (!stream) {
        failure = std::strerror(errno);
        close(fd);
    }
    return stream;
}

std::optional<std::string> readRegularFile(const char* path, size_t limit, std::string& failure)
{
    const int fd = openRegularFile(path, O_RDONLY, failure);
    if (fd < 0)
        return std::nullopt;
    std::string contents;
    char piece[4096];
    while (true) {
        const ssize_t got = read(fd, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || contents.size() + size_t(got) > limit) {
            failure = got < 0 ? std::strerror(errno) : "file too large";
            close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        contents.append(piece, size_t(got));
    }
    close(fd);
    return contents;
}

} // namespace PackageSignatures
