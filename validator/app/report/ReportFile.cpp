#include "app/report/ReportFile.h"

#include "app/InterruptCleanup.h"
#include "common/PosixIo.h"
#include "common/VisibleText.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Validator {

namespace {

// Set to anything, the report is written under a named temporary file as on
// a file system without unnamed files; the end-to-end tests take both ways.
constexpr const char* kNamedTemporaryVariable = "VETRIK_NAMED_REPORT_TEMPORARY";

// As the kernel's own bound on the links of one path (MAXSYMLINKS).
constexpr int kMostLinks = 40;

std::string errorText(int error)
{
    return std::strerror(error);
}

// Where a shell's `>` would write: the path with the symbolic links at its
// end followed as far as they lead. A link to nothing leads to the name the
// report will be made under.
bool followLinks(std::string& path, std::string& error)
{
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            error = errorText(errno);
            return false;
        }
        if (!S_ISLNK(st.st_mode))
            return true;
        if (links == kMostLinks) {
            error = errorText(ELOOP);
            return false;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
            error = errorText(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        target.resize(static_cast<std::size_t>(length));
        const fs::path directory = fs::path(path).parent_path();
        path = target.starts_with('/') || directory.empty() ? target : (directory / target).string();
    }
}

bool isRpmPackage(const std::string& path)
{
    // The lead every RPM package starts with.
    static constexpr unsigned char kMagic[] = {0xed, 0xab, 0xee, 0xdb};
    const Common::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    unsigned char lead[sizeof kMagic] = {};
    return ::pread(fd.get(), lead, sizeof lead, 0) == static_cast<ssize_t>(sizeof lead)
        && std::memcmp(lead, kMagic, sizeof lead) == 0;
}

// Why the existing file `target` must not be replaced by the report, if it
// must not: it is what the run reads.
std::optional<std::string> inputAt(const std::string& path, const struct stat& target,
                                   const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs) {
        struct stat st {};
        if (::stat(input.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino)
            return "it is the package " + Common::visibleText(input);
    }
    // A report named after a shell pattern's first match (--report *.rpm)
    // would destroy a package the caller meant to check.
    if (isRpmPackage(path))
        return std::string("it is an RPM package");
    return std::nullopt;
}

// A short hidden name, whatever the length of the report's own: a valid
// report name never becomes too long for its temporary.
std::string temporaryName()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        const auto fallback = static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(std::rand());
        std::memcpy(random, &fallback, std::min(sizeof random, sizeof fallback));
    }
    std::string name = ".vetrik-";
    for (const unsigned char byte : random)
        name += kLetters[byte % (sizeof kLetters - 1)];
    return name;
}

// An unnamed file in `directory` that can be linked into it later, or
// nothing (errno set) where the file system or /proc does not allow that.
Common::UniqueFd unnamedFile(int directory)
{
    if (std::getenv(kNamedTemporaryVariable)) {
        errno = EOPNOTSUPP;
        return {};
    }
    Common::UniqueFd fd(::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    // Linked later through its /proc entry, the one way an unprivileged
    // process can give such a file a name.
    if (fd && ::access(("/proc/self/fd/" + std::to_string(fd.get())).c_str(), F_OK) != 0) {
        errno = EOPNOTSUPP;
        return {};
    }
    return fd;
}

bool unnamedFilesUnsupported(int error)
{
    // EISDIR from kernels that predate O_TMPFILE (it includes O_DIRECTORY),
    // EOPNOTSUPP from file systems without it.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

} // namespace

std::unique_ptr<ReportFile> ReportFile::create(const std::string& path, const std::vector<std::string>& inputs,
                                               std::string& error)
{
    std::string target = path;
    if (!followLinks(target, error))
        return nullptr;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            // Renaming over a directory, a device or a pipe is never what the
            // caller meant.
            error = "not a regular file";
            return nullptr;
        }
        if (std::optional<std::string> input = inputAt(target, st, inputs)) {
            error = *input;
            return nullptr;
        }
    }
    const fs::path targetPath(target);
    std::string name = targetPath.filename().string();
    if (name.empty()) {
        error = "not a file name";
        return nullptr;
    }
    const fs::path parent = targetPath.parent_path();
    Common::UniqueFd directory(::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        error = errorText(errno);
        return nullptr;
    }

    Common::UniqueFd file = unnamedFile(directory.get());
    if (file)
        return std::unique_ptr<ReportFile>(new ReportFile(std::move(directory), std::move(name), std::move(file), {}));
    if (!unnamedFilesUnsupported(errno)) {
        error = errorText(errno);
        return nullptr;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = temporaryName();
        // Registered before it exists, so no interrupt finds it unregistered.
        InterruptCleanup::setReportTemporary(directory.get(), temporary);
        file.reset(::openat(directory.get(), temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file)
            return std::unique_ptr<ReportFile>(
                new ReportFile(std::move(directory), std::move(name), std::move(file), std::move(temporary)));
        const int failure = errno;
        InterruptCleanup::setReportTemporary(-1, {});
        if (failure != EEXIST) {
            error = errorText(failure);
            return nullptr;
        }
    }
    error = errorText(EEXIST);
    return nullptr;
}

ReportFile::ReportFile(Common::UniqueFd directory, std::string name, Common::UniqueFd file, std::string temporary)
    : m_directory(std::move(directory)), m_name(std::move(name)), m_file(std::move(file)),
      m_temporary(std::move(temporary))
{
}

ReportFile::~ReportFile()
{
    if (!m_file)
        return;
    m_file.reset();
    if (!m_temporary.empty())
        ::unlinkat(m_directory.get(), m_temporary.c_str(), 0);
    forgetTemporary();
}

void ReportFile::forgetTemporary()
{
    if (!m_temporary.empty())
        InterruptCleanup::setReportTemporary(-1, {});
    m_temporary.clear();
}

void ReportFile::write(std::string_view bytes)
{
    if (m_writeError == 0 && !Common::writeAll(m_file.get(), bytes))
        m_writeError = errno;
}

void ReportFile::rewriteStart(std::string_view bytes)
{
    off_t offset = 0;
    while (!bytes.empty() && m_writeError == 0) {
        const ssize_t n = Common::retryOnInterrupt(
            [&] { return ::pwrite(m_file.get(), bytes.data(), bytes.size(), offset); });
        if (n <= 0) {
            // A write that moves nothing would loop for ever: a full device.
            m_writeError = n < 0 ? errno : ENOSPC;
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
}

// Gives the unnamed file its name. Straight under the target's name when
// there is none yet; otherwise under a temporary name renamed over the
// target, the one way to replace a file atomically.
bool ReportFile::link(std::string& error)
{
    const std::string self = "/proc/self/fd/" + std::to_string(m_file.get());
    if (::linkat(AT_FDCWD, self.c_str(), m_directory.get(), m_name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != EEXIST) {
        error = errorText(errno);
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporary = temporaryName();
        InterruptCleanup::setReportTemporary(m_directory.get(), m_temporary);
        if (::linkat(AT_FDCWD, self.c_str(), m_directory.get(), m_temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        const int failure = errno;
        forgetTemporary();
        if (failure != EEXIST) {
            error = errorText(failure);
            return false;
        }
    }
    error = errorText(EEXIST);
    return false;
}

bool ReportFile::commit(std::string& error)
{
    if (!m_file) {
        error = "already written";
        return false;
    }
    if (m_writeError == 0 && ::fsync(m_file.get()) != 0)
        m_writeError = errno;
    if (m_writeError != 0) {
        error = errorText(m_writeError);
        return false;
    }
    if (m_temporary.empty() && !link(error))
        return false;
    if (!m_temporary.empty() && ::renameat(m_directory.get(), m_temporary.c_str(), m_directory.get(), m_name.c_str()) != 0) {
        error = errorText(errno);
        return false;
    }
    forgetTemporary();
    m_file.reset();
    return true;
}

} // namespace Validator
