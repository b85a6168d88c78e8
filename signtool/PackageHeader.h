#pragma once

#include "common/RpmHandles.h"

namespace PackageSignatures {
class FileWithCmses;
}

namespace SignTool {

// The package header, read from the start of the file through a descriptor
// of its own, so that the file object's stream is left alone. Null with the
// reader's message on standard error when it is no readable RPM package.
Common::Rpm::HeaderHandle readPackageHeader(const PackageSignatures::FileWithCmses& file);

} // namespace SignTool
