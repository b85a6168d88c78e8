#include "PackageHeader.h"

#include <cstdio>

#include <unistd.h>

#include <rpm/rpmlib.h>

#include <torvel/FileWithCmses.h>

#include "common/UniqueFd.h"

namespace SignTool {

Common::Rpm::HeaderHandle readPackageHeader(const PackageSignatures::FileWithCmses& file)
{
    // Read once, by whichever thread gets here first.
    static const bool configured = rpmReadConfigFiles(nullptr, nullptr) == 0;
    (void)configured;
    // librpm takes a duplicate of its own, so that closing its handle
    // leaves the file's descriptor open.
    const Common::UniqueFd duplicate(dup(file.fd()));
    Common::Rpm::FdHandle fd(duplicate ? fdDup(duplicate.get()) : nullptr);
    if (!fd || Ferror(fd.get()))
        return nullptr;
    Fseek(fd.get(), 0, SEEK_SET);

    Common::Rpm::TsHandle ts(rpmtsCreate());
    // Only the header's tags are wanted here; the package's own RPM
    // signatures are not what this tool judges.
    rpmtsSetVSFlags(ts.get(), rpmtsVSFlags(ts.get()) | RPMVSF_MASK_NODIGESTS | RPMVSF_MASK_NOSIGNATURES);
    Header header = nullptr;
    const rpmRC result = rpmReadPackageFile(ts.get(), fd.get(), nullptr, &header);
    Common::Rpm::HeaderHandle owned(header);
    if (result == RPMRC_NOTFOUND) {
        std::fprintf(stderr, "Argument is not an RPM package\n");
        return nullptr;
    }
    if (result == RPMRC_FAIL || !owned) {
        std::fprintf(stderr, "Could not read header from package\n");
        return nullptr;
    }
    return owned;
}

} // namespace SignTool
