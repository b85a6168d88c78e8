#include "package/PackagedFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Validator {

std::optional<PackagedFile> PackagedFile::open(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Regular files never block; clearing the flag keeps reads plain.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return PackagedFile(fd, static_cast<std::uint64_t>(st.st_size));
}

PackagedFile::PackagedFile(PackagedFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size), m_remaining(other.m_remaining)
{
}

PackagedFile& PackagedFile::operator=(PackagedFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
        m_remaining = other.m_remaining;
    }
    return *this;
}

PackagedFile::~PackagedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ssize_t PackagedFile::read(void* buffer, std::size_t length)
{
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_remaining));
    if (length == 0)
        return 0;
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, length);
        if (n > 0)
            m_remaining -= static_cast<std::uint64_t>(n);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::optional<std::string> PackagedFile::readAll(std::size_t maxBytes)
{
    std::string data;
    if (m_size <= maxBytes)
        data.reserve(static_cast<std::size_t>(m_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = read(chunk, sizeof chunk);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + static_cast<std::size_t>(n) > maxBytes)
            return std::nullopt;
        data.append(chunk, static_cast<std::size_t>(n));
    }
}

} // namespace Validator
