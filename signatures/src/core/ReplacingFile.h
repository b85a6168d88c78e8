#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace PackageSignatures {

// An output that replaces its target only when it is complete: bytes go to
// a temporary file beside the target, which is renamed over it on commit.
// Without a commit the temporary file is removed, so a failure never
// destroys or half-writes an existing file.
class ReplacingFile {
public:
    // Null with errno set when the temporary file cannot be made.
    static std::unique_ptr<ReplacingFile> create(const std::string& targetPath);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    FILE* stream() const { return m_stream; }
    // False with errno set when flushing or renaming failed.
    bool commit();

private:
    ReplacingFile(std::string targetPath, std::string temporaryPath, FILE* stream);

    std::string m_targetPath;
    std::string m_temporaryPath;
    FILE* m_stream; // owned until commit or destruction
};

} // namespace PackageSignatures
