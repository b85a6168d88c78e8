#pragma once

#include <string>

namespace Validator {

class ReportChannel;
struct RunOptions;

// In the process forked to validate one package: chooses its profile,
// reads its header, unpacks and checks it in `root` (made by the parent,
// which removes it; empty when it could not be made, and `rootError` says
// why), and ends the process with _exit: status 0 for a package that
// passed, 1 for one that failed or could not be validated.
[[noreturn]] void validateInThisProcess(const std::string& package, const RunOptions& options, const std::string& root,
                                        const std::string& rootError, ReportChannel* channel);

} // namespace Validator
