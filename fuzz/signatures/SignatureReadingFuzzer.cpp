// Runs the whole reading side of libtorvel over arbitrary file contents:
// block location, block parsing, and every accessor of every block.
// Run with -close_fd_mask=2: the library's diagnostics would drown
// libFuzzer's own output.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <torvel/torvel.h>

namespace {

std::string scratchPath()
{
    std::string pattern = "/tmp/fuzz-signatures.XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        std::abort();
    close(fd);
    return pattern;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchPath();
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size)
        std::abort();
    std::fclose(out);

    auto file = PackageSignatures::FileWithCmses::fromPath(path.c_str(), "r");
    if (!file)
        std::abort();
    (void)file->isRpmPackage();
    for (const PackageSignatures::Cms& cms : file->cmses()) {
        const auto certificate = cms.certificate();
        (void)certificate->subject();
        (void)certificate->toDer();
        (void)cms.signature();
        for (int index = -1; index < 4; ++index) {
            (void)cms.fileSignature(index);
            (void)cms.trustletSignature(index);
        }
        for (const auto& rotation : cms.rotationChain()->rotations()) {
            (void)rotation->oldCertificate()->keyId();
            (void)rotation->newCertificate()->keyId();
        }
        (void)cms.rotationChain()->previousKeyids();
    }
    return 0;
}
