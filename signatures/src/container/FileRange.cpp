#include "container/FileRange.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace PackageSignatures {

namespace {
constexpr int64_t readChunk = 8192;
}

std::vector<uint8_t> readFileRange(FILE* stream, int64_t start, int64_t end)
{
    if (stream == nullptr || start < 0 || start >= end)
        return {};
    const int fd = fileno(stream);
    std::vector<uint8_t> bytes(size_t(end - start));
    int64_t done = 0;
    while (done < end - start) {
        const int64_t want = std::min(readChunk, end - start - done);
        const ssize_t got = pread(fd, bytes.data() + done, size_t(want), off_t(start + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        done += got;
    }
    return bytes;
}

} // namespace PackageSignatures
