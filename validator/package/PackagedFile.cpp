#include "package/PackagedFile.h"

#include "package/UnpackedTree.h"

#include "common/PosixIo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Validator {

namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

} // namespace

std::optional<PackagedFile> PackagedFile::open(const UnpackedTree& tree, std::string_view path)
{
    return fromDescriptor(tree.open(path, kReadFlags));
}

std::optional<PackagedFile> PackagedFile::openHostFile(const std::string& path)
{
    return fromDescriptor(Common::UniqueFd(::open(path.c_str(), kReadFlags)));
}

std::optional<PackagedFile> PackagedFile::fromDescriptor(Common::UniqueFd fd)
{
    if (!fd)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // Regular files never block; clearing the flag keeps reads plain.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return PackagedFile(std::move(fd), static_cast<std::uint64_t>(st.st_size));
}

ssize_t PackagedFile::read(void* buffer, std::size_t length)
{
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_remaining));
    if (length == 0)
        return 0;
    const ssize_t n = Common::retryOnInterrupt([&] { return ::read(m_fd.get(), buffer, length); });
    if (n > 0)
        m_remaining -= static_cast<std::uint64_t>(n);
    return n;
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
