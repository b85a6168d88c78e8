#include "app/TreeRemoval.h"

#include "common/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace Validator {

namespace {

// As in <dirent.h>, which has no declaration of getdents64 for us: read
// straight from the descriptor, a DIR stream would cost a second one.
struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Common::UniqueFd openDirectory(int parent, const char* name)
{
    Common::UniqueFd fd(::openat(parent, name, kDirectoryFlags));
    if (!fd && errno == EACCES && ::fchmodat(parent, name, S_IRWXU, 0) == 0)
        fd.reset(::openat(parent, name, kDirectoryFlags));
    return fd;
}

// Removes the entry `name` of `directory` unless it is a directory that
// is not empty; returns false for that one, and for one that cannot go.
bool removeEntry(int directory, const char* name, bool& notEmpty)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::unlinkat(directory, name, 0) == 0)
            return true;
        if (errno == EISDIR || errno == EPERM) {
            if (::unlinkat(directory, name, AT_REMOVEDIR) == 0)
                return true;
            if (errno == ENOTEMPTY || errno == EEXIST) {
                notEmpty = true;
                return false;
            }
        }
        if (errno == ENOENT)
            return true;
        // A directory without write permission keeps its entries.
        if (errno != EACCES || attempt > 0 || ::fchmod(directory, S_IRWXU) != 0)
            return false;
    }
    return false;
}

// One pass over the entries of `directory`: removes what it can and names
// the first directory that is not empty, if any.
bool emptyLevel(int directory, std::string& descend, bool& stuck)
{
    alignas(LinuxDirent64) char buffer[16384];
    if (::lseek(directory, 0, SEEK_SET) != 0)
        return false;
    for (;;) {
        const long length = ::syscall(SYS_getdents64, directory, buffer, sizeof buffer);
        if (length < 0)
            return false;
        if (length == 0)
            return true;
        for (long offset = 0; offset < length;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            bool notEmpty = false;
            if (removeEntry(directory, entry->d_name, notEmpty))
                continue;
            if (notEmpty) {
                descend = name;
                return true;
            }
            stuck = true;
        }
    }
}

} // namespace

bool removeTree(const std::string& path)
{
    Common::UniqueFd directory = openDirectory(AT_FDCWD, path.c_str());
    if (!directory)
        return errno == ENOENT;
    // The names from `path` down to `directory`; the tree is walked one
    // level at a time, back up through "..", with no descriptor kept for
    // the levels above.
    std::vector<std::string> below;
    bool stuck = false;
    for (;;) {
        std::string descend;
        if (!emptyLevel(directory.get(), descend, stuck))
            return false;
        if (!descend.empty()) {
            Common::UniqueFd child = openDirectory(directory.get(), descend.c_str());
            if (!child)
                return false;
            directory = std::move(child);
            below.push_back(std::move(descend));
            continue;
        }
        // Anything that could not go would be met again on every pass.
        if (stuck || below.empty())
            break;
        Common::UniqueFd parent(::openat(directory.get(), "..", kDirectoryFlags));
        if (!parent)
            return false;
        directory = std::move(parent);
        if (::unlinkat(directory.get(), below.back().c_str(), AT_REMOVEDIR) != 0)
            return false;
        below.pop_back();
    }
    directory.reset();
    return !stuck && (::rmdir(path.c_str()) == 0 || errno == ENOENT);
}

} // namespace Validator
