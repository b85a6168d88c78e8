// Runs the whole reading side of libtorvel over arbitrary file contents:
// the RPM length reader, block location, block parsing, every accessor of
// every block, verification against an empty CA bundle, and the inspection
// behind torvel verify --verbose and vetrik --verify-signer.
// Run with -close_fd_mask=2: the library's diagnostics would drown
// libFuzzer's own output.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <torvel/torvel.h>

#include "FuzzInput.h"
#include "container/RpmExtent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The package length must never claim less than the signature section
    // it was read from.
    const std::optional<int64_t> length = PackageSignatures::rpmPackageLength(data, size);
    const std::optional<size_t> sectionEnd = PackageSignatures::rpmSignatureSectionEnd(data, size);
    if (length && (!sectionEnd || *length < int64_t(*sectionEnd)))
        std::abort();

    static const Fuzz::InputFile input = Fuzz::InputFile::temporary("/tmp/fuzz-signatures.XXXXXX");
    static const Fuzz::InputFile emptyFile = Fuzz::InputFile::temporary("/tmp/fuzz-signatures.XXXXXX");
    const std::string& path = input.path();
    const std::string& emptyBundle = emptyFile.path();
    input.write(data, size);

    auto file = PackageSignatures::FileWithCmses::fromPath(path.c_str(), "r");
    if (!file)
        std::abort();
    (void)file->isRpmPackage();
    const auto locations = file->locateCmses();
    for (const PackageSignatures::CmsLocation& location : locations) {
        // Every block lies inside the file, in order, and above the package.
        if (location.offset < 0 || location.end < location.offset || location.end + 12 > int64_t(size))
            std::abort();
        if (length && location.offset < *length)
            std::abort();
    }
    for (const PackageSignatures::Cms& cms : file->cmses()) {
        const auto certificate = cms.certificate();
        (void)certificate->subject();
        (void)certificate->toDer();
        (void)cms.signature();
        for (const long index : cms.signedFileIndexes()) {
            (void)cms.fileSignature(int(index));
            (void)cms.trustletSignature(int(index));
        }
        for (const auto& rotation : cms.rotationChain()->rotations()) {
            (void)rotation->oldCertificate()->keyId();
            (void)rotation->newCertificate()->keyId();
        }
        (void)cms.rotationChain()->previousKeyids();
    }
    const PackageSignatures::VerificationResult verified = file->verify(emptyBundle.c_str());
    // The inspection gives the same verdict, and describes only blocks
    // that lie inside the file.
    const PackageSignatures::PackageVerification inspected = file->inspect(emptyBundle.c_str());
    if (inspected.verified() != verified.verified())
        std::abort();
    for (const PackageSignatures::BlockVerification& block : inspected.blocks) {
        if (block.offset < 0 || block.offset + block.size + 12 > int64_t(size) || block.coveredEnd > block.offset)
            std::abort();
        (void)block.signer->details();
    }
    (void)file->inspectFirstBlock(emptyBundle.c_str());
    return 0;
}
