#include "core/ReplacingFile.h"

#include <cerrno>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/PosixIo.h"

namespace PackageSignatures {

namespace {

// The mode a plain fopen(path, "w") would have given a new file, or the
// existing file's own mode, so replacing a file does not change who may
// read it.
mode_t targetMode(const std::string& targetPath)
{
    struct stat status;
    if (stat(targetPath.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        return status.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

ReplacingFile::ReplacingFile(std::string targetPath, std::string temporaryPath, FILE* stream)
    : m_targetPath(std::move(targetPath))
    , m_temporaryPath(std::move(temporaryPath))
    , m_stream(stream)
{
}

std::unique_ptr<ReplacingFile> ReplacingFile::create(const std::string& targetPath)
{
    if (targetPath.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    const size_t slash = targetPath.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : targetPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    std::string pattern = directory + "." + name + ".XXXXXX";
    std::vector<char> temporaryPath(pattern.begin(), pattern.end());
    temporaryPath.push_back('\0');

    Common::UniqueFd fd(mkstemp(temporaryPath.data()));
    if (!fd)
        return nullptr;
    Common::Libc::FileHandle stream = Common::streamOf(std::move(fd), "w");
    if (!stream) {
        const int error = errno;
        unlink(temporaryPath.data());
        errno = error;
        return nullptr;
    }
    return std::unique_ptr<ReplacingFile>(new ReplacingFile(targetPath, temporaryPath.data(), stream.release()));
}

ReplacingFile::~ReplacingFile()
{
    if (m_stream != nullptr) {
        std::fclose(m_stream);
        unlink(m_temporaryPath.c_str());
    }
}

bool ReplacingFile::commit()
{
    if (m_stream == nullptr)
        return false;
    bool written = std::fflush(m_stream) == 0 && fchmod(fileno(m_stream), targetMode(m_targetPath)) == 0
                   && fsync(fileno(m_stream)) == 0;
    const int error = errno;
    written = std::fclose(m_stream) == 0 && written;
    m_stream = nullptr;
    if (written && rename(m_temporaryPath.c_str(), m_targetPath.c_str()) == 0)
        return true;
    const int failure = written ? errno : error;
    unlink(m_temporaryPath.c_str());
    errno = failure;
    return false;
}

} // namespace PackageSignatures
