#include "package/UnpackedTree.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace Validator {

namespace {

// The kernel's own limit of links on one path.
constexpr int kMostLinks = 40;
// Every component the walk takes, and every directory it enters again
// after "..", costs a step. The budget only bounds what a hostile path of
// many ".." costs; real paths take a few dozen steps.
constexpr int kMostSteps = 1 << 16;
// openat2 says EAGAIN when a rename elsewhere raced with a ".." of the
// resolution; it is asked again this often before the walk takes over.
constexpr int kOpenat2Attempts = 8;

int openat2InRoot(int rootFd, const std::string& path, int flags)
{
    open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    // Magic links (/proc/self/fd/N) lead wherever the kernel says; no
    // packaged file needs one.
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how));
}

Common::UniqueFd openDirectoryBelow(int directory, const char* name)
{
    return Common::UniqueFd(::openat(directory, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The directory the root reaches through `entered`, none of them a link.
Common::UniqueFd enterAgain(int rootFd, const std::vector<std::string>& entered, int& steps)
{
    Common::UniqueFd current(::openat(rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& name : entered) {
        if (!current)
            break;
        if (++steps > kMostSteps) {
            errno = ELOOP;
            return {};
        }
        current = openDirectoryBelow(current.get(), name.c_str());
    }
    return current;
}

} // namespace

Common::UniqueFd openInRootByWalking(int rootFd, std::string_view path, int flags)
{
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    // What is still to walk; a link met on the way puts its target in
    // front of the rest.
    std::string pending(path);
    std::size_t at = 0;
    // The directories below the root that lead to `current`: ".." goes
    // back by entering all but the last again from the root, which never
    // asks the file system for a parent that might lie outside.
    std::vector<std::string> entered;
    int steps = 0;
    int links = 0;
    Common::UniqueFd current = enterAgain(rootFd, entered, steps);
    while (current) {
        while (at < pending.size() && pending[at] == '/')
            ++at;
        if (at == pending.size())
            return Common::UniqueFd(::openat(current.get(), ".", flags | O_CLOEXEC));
        const std::size_t end = std::min(pending.find('/', at), pending.size());
        const std::string name = pending.substr(at, end - at);
        at = end;
        if (++steps > kMostSteps) {
            errno = ELOOP;
            return {};
        }
        if (name == ".")
            continue;
        if (name == "..") {
            if (!entered.empty()) {
                entered.pop_back();
                current = enterAgain(rootFd, entered, steps);
            }
            continue;
        }

        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(current.get(), name.c_str(), target, sizeof target);
        if (length >= 0) {
            if (static_cast<std::size_t>(length) == sizeof target) {
                errno = ENAMETOOLONG;
                return {};
            }
            if (++links > kMostLinks) {
                errno = ELOOP;
                return {};
            }
            pending = std::string(target, static_cast<std::size_t>(length)) + pending.substr(at);
            at = 0;
            if (length > 0 && target[0] == '/') {
                entered.clear();
                current = enterAgain(rootFd, entered, steps);
            }
            continue;
        }
        if (errno != EINVAL)
            return {};
        // Not a link. Should it have become one since, O_NOFOLLOW opens
        // the link itself (or fails), never its target.
        if (at == pending.size())
            return Common::UniqueFd(::openat(current.get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
        current = openDirectoryBelow(current.get(), name.c_str());
        entered.push_back(name);
    }
    return {};
}

UnpackedTree::UnpackedTree(const std::string& root)
    : m_root(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), m_rootPath(root)
{
}

Common::UniqueFd UnpackedTree::open(std::string_view path, int flags) const
{
    if (!m_root) {
        errno = EBADF;
        return {};
    }
    if (path.find('\0') != std::string_view::npos) {
        errno = ENOENT;
        return {};
    }
    const std::string name(path);
    for (int attempt = 0; attempt < kOpenat2Attempts; ++attempt) {
        const int fd = openat2InRoot(m_root.get(), name, flags);
        if (fd >= 0)
            return Common::UniqueFd(fd);
        if (errno != EAGAIN)
            break;
    }
    if (errno == ENOSYS || errno == EAGAIN)
        return openInRootByWalking(m_root.get(), path, flags);
    return {};
}

std::optional<struct stat> UnpackedTree::status(std::string_view path) const
{
    const Common::UniqueFd fd = open(path, O_PATH);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return std::nullopt;
    return st;
}

std::optional<std::string> UnpackedTree::resolve(std::string_view path) const
{
    const Common::UniqueFd fd = open(path, O_PATH);
    if (!fd)
        return std::nullopt;
    // The kernel names what a descriptor leads to; both names begin alike
    // because what was reached lies below the root.
    const auto nameOf = [](int descriptor) -> std::optional<std::string> {
        const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
        char name[PATH_MAX];
        const ssize_t length = ::readlink(link.c_str(), name, sizeof name);
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) == sizeof name) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        return std::string(name, static_cast<std::size_t>(length));
    };
    const std::optional<std::string> root = nameOf(m_root.get());
    const std::optional<std::string> reached = nameOf(fd.get());
    if (!root || !reached)
        return std::nullopt;
    if (*root == "/")
        return reached;
    if (*reached == *root)
        return "/";
    if (reached->size() > root->size() && reached->starts_with(*root) && (*reached)[root->size()] == '/')
        return reached->substr(root->size());
    errno = EXDEV;
    return std::nullopt;
}

} // namespace Validator
