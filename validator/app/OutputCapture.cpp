#include "app/OutputCapture.h"

#include "common/PosixIo.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Validator {

Common::UniqueFd makeCapture()
{
    return Common::UniqueFd(::memfd_create("vetrik-output", MFD_CLOEXEC));
}

bool outputsShareDestination()
{
    struct stat out {}, err {};
    if (::fstat(STDOUT_FILENO, &out) != 0 || ::fstat(STDERR_FILENO, &err) != 0)
        return false;
    return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

void copyCapture(int capture, int destination)
{
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = Common::retryOnInterrupt([&] { return ::pread(capture, buffer, sizeof buffer, offset); });
        if (n <= 0 || !Common::writeAll(destination, buffer, static_cast<std::size_t>(n)))
            return;
        offset += n;
    }
}

} // namespace Validator
