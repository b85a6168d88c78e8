#pragma once

#include <string>

namespace Validator {

class ReportChannel;
struct RunOptions;

// The supervision of one package: its progress line, the refusal of an
// argument that is no regular file, and otherwise its validation in a child
// process (PackageValidation.h), waited for with everything it started
// before the verdict is given, so that not even a crash of the checks stops
// the run. Returns true when the package failed.

// In the validator's own process, one package at a time: the child is
// known to the interrupt clean-up, and the extraction root is made here.
bool supervisePackage(const std::string& package, const RunOptions& options, ReportChannel* channel);

// In a process of the package's own (--jobs), given the extraction root its
// parent made (empty when it could not, and `rootError` says why): the
// child dies with this process, and this process waits for whatever the
// child leaves behind (it becomes a child subreaper).
bool supervisePackageInOwnProcess(const std::string& package, const RunOptions& options, const std::string& root,
                                  const std::string& rootError, ReportChannel* channel);

// True when a child's end, as waitpid gave it, means a failed package; an
// end other than the child's own verdict gets one line saying what
// happened, and is the reason the report gives.
bool childFailed(const std::string& package, int status, ReportChannel* channel);

} // namespace Validator
