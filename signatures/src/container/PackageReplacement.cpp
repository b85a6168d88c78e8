#include "container/PackageReplacement.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/LibcHandles.h"
#include "common/PosixIo.h"
#include "common/VisibleText.h"
#include "container/ReplacementName.h"

namespace PackageSignatures {

namespace {

constexpr size_t copyPiece = 1 << 16;

struct SplitPath {
    std::string directory;
    std::string name;
};

SplitPath split(const std::string& realPath)
{
    const size_t slash = realPath.rfind('/');
    if (slash == std::string::npos)
        return {".", realPath};
    return {slash == 0 ? "/" : realPath.substr(0, slash), realPath.substr(slash + 1)};
}

std::string randomSuffix()
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[replacementSuffixLength] = {};
    // Uniqueness, not secrecy, is what matters here: without random bytes
    // the process id still tells concurrent writers apart, and a taken name
    // is retried.
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        const unsigned id = unsigned(getpid());
        for (size_t i = 0; i < replacementSuffixLength; ++i)
            bytes[i] = (unsigned char)(id >> (i * 5)) ^ bytes[i];
    }
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += alphabet[byte % (sizeof alphabet - 1)];
    return suffix;
}

// The kept bytes, shared with the package where the file system can
// (reflinks), else copied inside the kernel, else through a buffer.
bool copyPrefix(int from, int to, int64_t length)
{
    loff_t in = 0;
    loff_t out = 0;
    while (in < length) {
        const ssize_t copied =
            Common::retryOnInterrupt([&] { return copy_file_range(from, &in, to, &out, size_t(length - in), 0); });
        if (copied > 0)
            continue;
        if (copied == 0 || !(errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            return false;
        break;
    }
    std::vector<uint8_t> piece(copyPiece);
    while (in < length) {
        const ssize_t got = Common::retryOnInterrupt(
            [&] { return pread(from, piece.data(), size_t(std::min<int64_t>(copyPiece, length - in)), in); });
        if (got <= 0 || lseek(to, out, SEEK_SET) != out || !Common::writeAll(to, piece.data(), size_t(got)))
            return false;
        in += got;
        out += got;
    }
    return lseek(to, out, SEEK_SET) == out;
}

// The new file until it has replaced the package; removed on every other
// way out.
class NewFile {
public:
    explicit NewFile(const SplitPath& package)
        : m_package(package)
    {
        // Unnamed while written: a kill then leaves nothing behind. It is
        // named through /proc just before the rename.
        if (access("/proc/self/fd", X_OK) == 0) {
            m_fd.reset(open(package.directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
            // Other failures (a directory that may not be written) would
            // be the same for a named file.
            if (m_fd || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
                return;
        }
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string candidate = candidateName();
            m_fd.reset(open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (m_fd) {
                m_name = candidate;
                return;
            }
            if (errno != EEXIST)
                return;
        }
    }

    ~NewFile()
    {
        if (!m_name.empty())
            unlink(m_name.c_str());
    }

    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return m_fd.get(); }

    bool name()
    {
        if (!m_name.empty())
            return true;
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string candidate = candidateName();
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_name = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool renameOverPackage()
    {
        const std::string target = m_package.directory + "/" + m_package.name;
        if (rename(m_name.c_str(), target.c_str()) != 0)
            return false;
        m_name.clear();
        return true;
    }

    Common::UniqueFd release() { return std::move(m_fd); }

private:
    std::string candidateName() const
    {
        return m_package.directory + "/" + replacementPrefix(m_package.name) + randomSuffix();
    }

    SplitPath m_package;
    Common::UniqueFd m_fd;
    std::string m_name;
};

void copyOwnerAndMode(int fd, const struct stat& package)
{
    // Changing the owner may clear set-id bits, so the mode comes after it.
    // Only root may give the file away; a group the signer is in may do.
    // Failing both, the file stays the signer's.
    [[maybe_unused]] const bool owned =
        fchown(fd, package.st_uid, package.st_gid) == 0 || fchown(fd, uid_t(-1), package.st_gid) == 0;
    fchmod(fd, package.st_mode & 07777);
}

void syncDirectory(const std::string& directory)
{
    const Common::UniqueFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        fsync(fd.get());
}

} // namespace

void removeStaleReplacements(const std::string& realPath)
{
    const SplitPath package = split(realPath);
    const std::string prefix = replacementPrefix(package.name);
    const Common::Libc::DirHandle directory(opendir(package.directory.c_str()));
    if (!directory)
        return;
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + replacementSuffixLength && name.compare(0, prefix.size(), prefix) == 0)
            unlinkat(dirfd(directory.get()), name.c_str(), 0);
    }
}

Common::UniqueFd replacePackage(int packageFd, const std::string& realPath, int64_t keep, const std::vector<uint8_t>& tail)
{
    const SplitPath package = split(realPath);
    const std::string shown = Common::visibleText(realPath);
    struct stat status;
    if (fstat(packageFd, &status) != 0) {
        std::fprintf(stderr, "Could not read the status of \"%s\": %s\n", shown.c_str(), std::strerror(errno));
        return {};
    }
    NewFile replacement(package);
    if (replacement.fd() < 0) {
        std::fprintf(stderr,
                     "Could not create a file in \"%s\" to replace \"%s\" with: %s (signing replaces the "
                     "package and needs a writable directory)\n",
                     Common::visibleText(package.directory).c_str(), shown.c_str(), std::strerror(errno));
        return {};
    }
    const int fd = replacement.fd();
    if (!copyPrefix(packageFd, fd, keep) || !Common::writeAll(fd, tail.data(), tail.size())) {
        std::fprintf(stderr, "Could not write the signed copy of \"%s\": %s\n", shown.c_str(), std::strerror(errno));
        return {};
    }
    copyOwnerAndMode(fd, status);
    if (fsync(fd) != 0) {
        std::fprintf(stderr, "Could not write the signed copy of \"%s\": %s\n", shown.c_str(), std::strerror(errno));
        return {};
    }
    // Whoever waits for the package's lock finds the new file locked too.
    Common::retryOnInterrupt([&] { return flock(fd, LOCK_EX); });
    if (!replacement.name() || !replacement.renameOverPackage()) {
        std::fprintf(stderr, "Could not replace \"%s\": %s\n", shown.c_str(), std::strerror(errno));
        return {};
    }
    syncDirectory(package.directory);
    return replacement.release();
}

} // namespace PackageSignatures
