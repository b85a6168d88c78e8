#include "cms/LargeData.h"

#include <algorithm>
#include <cstdio>

#include "common/LibcHandles.h"

namespace PackageSignatures {

BIO* dataSource(const unsigned char* data, size_t len)
{
    if (len <= size_t(largestMemorySource))
        return BIO_new_mem_buf(data, int(len));

    Common::Libc::FileHandle temporary(std::tmpfile());
    size_t written = 0;
    while (temporary && written < len) {
        const size_t chunk = std::min<size_t>(8192, len - written);
        if (std::fwrite(data + written, 1, chunk, temporary.get()) != chunk) {
            std::fprintf(stderr, "Could not store inmemory data to temporary file\n");
            return nullptr;
        }
        written += chunk;
    }
    if (!temporary || std::fflush(temporary.get()) != 0) {
        std::fprintf(stderr, "Could not store inmemory data to temporary file\n");
        return nullptr;
    }
    std::rewind(temporary.get());
    BIO* source = BIO_new_fp(temporary.get(), BIO_CLOSE);
    if (source == nullptr) {
        std::fprintf(stderr, "Could not create BIO from temporary file\n");
        return nullptr;
    }
    temporary.release(); // the source closes it now
    return source;
}

} // namespace PackageSignatures
