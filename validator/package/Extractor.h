#pragma once

#include <string>

namespace Validator {

// Unpacks a package's payload into an extraction root with
// `/usr/bin/rpm2cpio PACKAGE | /usr/bin/cpio -idm`, run in the root. Both
// tools are started by absolute path, never looked up in PATH, and are
// killed when the process that started them dies.
//
// The two tools are started without a shell, joined through this process:
// the archive stream passes through a reader that checks every entry name
// before cpio sees it, so that nothing is ever written outside the root. An
// entry with an absolute name, a ".." component, or a path that leads through
// an entry the archive made a symbolic link is refused and the extraction
// fails.
class UnpackProgress;

class Extractor {
public:
    // 0 on success, non-zero on failure; failure() then says what failed.
    // The working directory of the process is never changed. With
    // `progress`, every accepted entry and every piece handed to cpio is
    // reported there as it happens, for files to be validated while the
    // extraction goes on; the caller reports the end.
    int extract(const std::string& root, const std::string& packagePath, UnpackProgress* progress = nullptr);

    const std::string& failure() const { return m_failure; }

private:
    int fail(std::string reason);

    std::string m_failure;
};

} // namespace Validator
