#include "app/report/ReportFile.h"

#include "app/InterruptCleanup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Validator {

std::unique_ptr<ReportFile> ReportFile::create(const std::string& path, std::string& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Renaming over a directory, a device or a pipe is never what the
        // caller meant.
        error = "not a regular file";
        return nullptr;
    }
    const std::filesystem::path target(path);
    if (target.filename().empty()) {
        error = "not a file name";
        return nullptr;
    }
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // mkstemp makes it private; a report is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    InterruptCleanup::setReportTemporary(temporary);
    return std::unique_ptr<ReportFile>(new ReportFile(path, std::move(temporary), fd));
}

ReportFile::ReportFile(std::string path, std::string temporary, int fd)
    : m_path(std::move(path)), m_temporary(std::move(temporary)), m_fd(fd)
{
}

ReportFile::~ReportFile()
{
    discard();
}

void ReportFile::discard()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_temporary.c_str());
    InterruptCleanup::setReportTemporary({});
}

void ReportFile::write(std::string_view bytes)
{
    while (!bytes.empty() && m_writeError == 0) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno != EINTR)
                m_writeError = errno;
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool ReportFile::commit(std::string& error)
{
    if (m_fd < 0) {
        error = "already written";
        return false;
    }
    if (m_writeError == 0 && ::fsync(m_fd) != 0)
        m_writeError = errno;
    if (m_writeError == 0 && ::rename(m_temporary.c_str(), m_path.c_str()) != 0)
        m_writeError = errno;
    if (m_writeError != 0) {
        error = std::strerror(m_writeError);
        discard();
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    InterruptCleanup::setReportTemporary({});
    return true;
}

} // namespace Validator
