#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "torvel/Cms.h"
#include "torvel/Export.h"

namespace PackageSignatures {

// One block found at the end of a file.
struct CmsLocation {
    int64_t offset = 0;  // first DER byte
    int64_t end = 0;     // offset + size: where the trailer starts
    uint32_t version = 0;
    int64_t size = 0;    // DER length
};

// A package file with the signature blocks appended to it. Blocks are located
// afresh by every operation, so nothing taken earlier follows later changes.
class TORVEL_EXPORT FileWithCmses {
public:
    // Takes ownership of the stream.
    explicit FileWithCmses(FILE* stream);
    ~FileWithCmses();
    FileWithCmses(const FileWithCmses&) = delete;
    FileWithCmses& operator=(const FileWithCmses&) = delete;

    static std::unique_ptr<FileWithCmses> fromPath(const char* path, const char* mode);
    // Read-write, falling back to read-only with a notice on standard error.
    static std::unique_ptr<FileWithCmses> fromPath(const char* path);
    static std::unique_ptr<FileWithCmses> fromPath(const std::string& path);

    int fd() const;
    bool isRpmPackage() const;
    std::vector<Cms> cmses() const;
    // Truncates the file before the last block (onlyLast) or before the first
    // one, which removes them all.
    bool deleteCmses(bool onlyLast);

    // In file order; empty when the file cannot be mapped.
    std::vector<CmsLocation> locateCmses() const;

private:
    struct StreamCloser {
        void operator()(FILE* stream) const noexcept { std::fclose(stream); }
    };
    std::unique_ptr<FILE, StreamCloser> m_stream;
};

} // namespace PackageSignatures
