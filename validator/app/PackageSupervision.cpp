#include "app/PackageSupervision.h"

#include "app/DriverLines.h"
#include "app/ExtractionRoot.h"
#include "app/InterruptCleanup.h"
#include "app/PackageValidation.h"
#include "app/TreeRemoval.h"
#include "app/report/ReportChannel.h"
#include "common/ChildProcess.h"
#include "package/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Validator {

namespace {

// What the package argument is when it exists but is no regular file. Such
// an argument is refused before anything opens it: opening a named pipe
// blocks until a writer comes, and a device or a directory is no package. A
// missing or unreadable file is left to the header step, which reports it.
std::optional<std::string> nonRegularKind(const std::string& package)
{
    struct stat st {};
    if (::stat(package.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return std::nullopt;
    if (S_ISDIR(st.st_mode))
        return "a directory";
    if (S_ISFIFO(st.st_mode))
        return "a named pipe";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    if (S_ISCHR(st.st_mode))
        return "a character device";
    if (S_ISBLK(st.st_mode))
        return "a block device";
    return "of an unknown type";
}

// The forks of a package's own supervising process (--jobs): its child dies
// with it, so that stopping the supervisor stops everything below it.
pid_t forkDying()
{
    flushAllOutput();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        Common::dieWithParent(parent, 1);
    }
    return pid;
}

// Forks the validating child with `forkChild`, and waits for it and then
// for everything it left behind (this process is a child subreaper), so
// that nothing writes into the root any more once the verdict is given.
// `Child` is the owner that reaps the child as `forkChild`'s children must
// be reaped.
template <typename Child>
bool superviseChild(const std::string& package, const RunOptions& options, const std::string& root,
                    const std::string& rootError, pid_t (*forkChild)(), ReportChannel* channel)
{
    const pid_t pid = forkChild();
    if (pid == 0)
        validateInThisProcess(package, options, root, rootError, channel);
    if (pid < 0)
        return notValidated(channel, package, std::string("cannot start the validation: ") + std::strerror(errno));
    Child child(pid);
    const int status = child.wait();
    Common::waitForAdoptedProcesses();
    return childFailed(package, status, channel);
}

} // namespace

bool supervisePackage(const std::string& package, const RunOptions& options, ReportChannel* channel)
{
    printProgress(package);
    if (const std::optional<std::string> kind = nonRegularKind(package))
        return notValidated(channel, package, "not a package file: " + *kind);
    // Made here, so that this process removes it whatever becomes of the
    // child that fills it.
    std::string rootError;
    const std::optional<ExtractionRoot> root = ExtractionRoot::create(rootError);
    return superviseChild<InterruptCleanup::Child>(package, options, root ? root->path() : std::string(), rootError,
                                                   InterruptCleanup::forkChild, channel);
}

bool supervisePackageInOwnProcess(const std::string& package, const RunOptions& options, const std::string& root,
                                  const std::string& rootError, ReportChannel* channel)
{
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    printProgress(package);
    if (const std::optional<std::string> kind = nonRegularKind(package))
        return notValidated(channel, package, "not a package file: " + *kind);
    const bool failed = superviseChild<Common::ChildProcess>(package, options, root, rootError, forkDying, channel);
    // Everything below this process has ended, so the tree is quiet: it is
    // removed here, beside the other packages' work, rather than by the
    // process that starts the packages, which then only makes sure (and
    // removes it itself when this process crashed).
    if (!root.empty())
        removeTree(root);
    return failed;
}

bool childFailed(const std::string& package, int status, ReportChannel* channel)
{
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code != 0 && code != 1)
            notValidated(channel, package, "validation ended with exit status " + std::to_string(code));
        return code != 0;
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return notValidated(channel, package,
                            "validation crashed: signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")");
    }
    return notValidated(channel, package, "validation ended abnormally");
}

} // namespace Validator
