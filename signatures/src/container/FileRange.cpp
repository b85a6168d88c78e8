#include "container/FileRange.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

#include "common/PosixIo.h"

namespace PackageSignatures {

std::vector<uint8_t> readFileRange(FILE* stream, int64_t start, int64_t end)
{
    if (stream == nullptr || start < 0 || start >= end)
        return {};
    const int fd = fileno(stream);
    std::vector<uint8_t> bytes(size_t(end - start));
    if (Common::readFull(fd, bytes.data(), bytes.size(), off_t(start)) != ssize_t(bytes.size()))
        return {};
    return bytes;
}

} // namespace PackageSignatures
