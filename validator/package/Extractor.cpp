#include "package/Extractor.h"

#include "package/CpioEntryGuard.h"
#include "package/UnpackProgress.h"

#include "common/ChildProcess.h"
#include "common/PosixIo.h"
#include "common/VisibleText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <vector>

namespace Validator {

namespace {

// In the child: signals blocked or ignored by the validator must not reach
// the tools that way. The default actions come first, so that no signal
// unblocked here finds anything but them.
void resetSignalsForChild()
{
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Starts the program at the absolute path `program` with the arguments
// `argv` (argv[0] is the name it reports itself by) and `in`/`out`/`err` as
// standard input/output/error, in process group `group` (0: a new group led by the
// child), optionally in `directory`. The program is killed when this process
// dies, so a validation that crashes leaves no tool writing into its root.
// No child when the fork failed; errno then says why.
//
// vfork, not fork: the child borrows this process's memory until it execs
// instead of copying its page tables. A validating process maps some forty
// libraries, and copying their tables, then taking the copy-on-write faults
// in this process while the child has not yet exec'd, cost more than
// starting the tool itself. This thread waits meanwhile; the child only
// makes system calls, which write no memory that this process uses (the
// validator handles its signals on a thread of its own, never in a
// handler), and ends in exec or _exit.
Common::ChildProcess spawn(const char* program, const std::vector<const char*>& argv, int in, int out, int err,
                           pid_t group, const char* directory)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::vfork();
    if (pid != 0)
        return Common::ChildProcess(pid);
    Common::dieWithParent(parent, 127);
    ::setpgid(0, group);
    resetSignalsForChild();
    if (in >= 0 && ::dup2(in, STDIN_FILENO) < 0)
        ::_exit(127);
    if (out >= 0 && ::dup2(out, STDOUT_FILENO) < 0)
        ::_exit(127);
    if (err >= 0 && ::dup2(err, STDERR_FILENO) < 0)
        ::_exit(127);
    if (directory && ::chdir(directory) != 0)
        ::_exit(127);
    ::execv(program, const_cast<char* const*>(argv.data()));
    ::_exit(127);
}

// Passes on what the tools write to standard error, line by line with
// control characters made visible: cpio names the archive entries it cannot
// create, and those names come from the package. A line longer than
// kLongestLine is passed on in parts, so that memory stays bounded. The
// thread ends when the last tool has closed its end of the pipe.
class DiagnosticsRelay {
public:
    explicit DiagnosticsRelay(int fd) : m_thread([fd] { relay(fd); }) {}

private:
    static constexpr std::size_t kLongestLine = 1 << 16;

    // Straight to the descriptor, as one write: the validating thread may
    // hold std::cerr's output back meanwhile.
    static void emit(std::string_view line)
    {
        const std::string text = Common::visibleText(line) + '\n';
        Common::writeAll(STDERR_FILENO, text);
    }

    static void relay(int fd)
    {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t n = Common::retryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t start = 0;
            for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                emit(std::string_view(pending).substr(start, end - start));
            pending.erase(0, start);
            if (pending.size() > kLongestLine) {
                emit(pending);
                pending.clear();
            }
        }
        if (!pending.empty())
            emit(pending);
    }

    std::jthread m_thread;
};

// Passes the archive from `in` to `out` in large pieces while the guard
// follows it. Each piece is judged before any of it is passed on; a header or
// name that the piece ends in the middle of stays behind until the rest has
// come, so that cpio never sees a name before it was judged. Data too large
// for the buffer goes from pipe to pipe without being copied through this
// process. Returns false when the stream could not be passed on.
bool forward(int in, int out, CpioEntryGuard& guard, UnpackProgress* progress)
{
    constexpr std::size_t kBufferSize = 1 << 18;
    std::vector<char> buffer(kBufferSize);
    std::size_t held = 0;        // bytes at the buffer's start not yet passed on
    std::uint64_t passedOn = 0;  // stream offset of buffer[0]
    bool spliceWorks = true;
    while (guard.state() != CpioEntryGuard::State::Refused) {
        if (held == 0 && spliceWorks && guard.skippable() >= kBufferSize) {
            const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(guard.skippable(), 1 << 20));
            const ssize_t n = Common::retryOnInterrupt([&] { return ::splice(in, nullptr, out, nullptr, chunk, SPLICE_F_MOVE | SPLICE_F_MORE); });
            if (n < 0 && errno == EINVAL) {
                spliceWorks = false;
                continue;
            }
            if (n <= 0)
                return n == 0;
            guard.skip(static_cast<std::uint64_t>(n));
            passedOn += static_cast<std::uint64_t>(n);
            if (progress)
                progress->forwarded(passedOn);
            continue;
        }
        const ssize_t n = Common::retryOnInterrupt([&] { return ::read(in, buffer.data() + held, kBufferSize - held); });
        if (n <= 0)
            return n == 0;
        if (guard.state() == CpioEntryGuard::State::Reading)
            guard.feed(buffer.data() + held, static_cast<std::size_t>(n));
        held += static_cast<std::size_t>(n);
        // What follows the trailer is padding, passed on as it is.
        const std::uint64_t judged = guard.state() == CpioEntryGuard::State::Finished ? passedOn + held : guard.judged();
        const auto ready = static_cast<std::size_t>(judged - passedOn);
        if (!Common::writeAll(out, buffer.data(), ready))
            return false;
        passedOn += ready;
        held -= ready;
        if (held > 0)
            std::memmove(buffer.data(), buffer.data() + ready, held);
        if (progress && ready > 0)
            progress->forwarded(passedOn);
    }
    return true;  // a refused entry never reaches cpio
}

// Pipes hold 64 KiB unless asked for more; a larger one lets each tool run
// longer between switches. Left as it is where the system refuses.
void enlarge(int fd)
{
    ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
}

} // namespace

int Extractor::fail(std::string reason)
{
    m_failure = std::move(reason);
    return 1;
}

int Extractor::extract(const std::string& root, const std::string& packagePath, UnpackProgress* progress)
{
    m_failure.clear();
    // Resolved before anything else so that a relative argument names the
    // file the user meant.
    char resolved[PATH_MAX];
    if (!::realpath(packagePath.c_str(), resolved))
        return fail(std::string("cannot resolve the package path: ") + std::strerror(errno));

    Common::PipeEnds archive = Common::makePipe();      // rpm2cpio -> this process
    Common::PipeEnds unpacker = Common::makePipe();     // this process -> cpio
    Common::PipeEnds diagnostics = Common::makePipe();  // standard error of both tools -> this process
    if (!archive.read || !unpacker.read || !diagnostics.read)
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    enlarge(archive.write.get());
    enlarge(unpacker.write.get());

    // Started once the tools hold the pipe's write ends and this process
    // no longer does, and ended (joined) after them: it reads until the
    // last of them has gone.
    std::optional<DiagnosticsRelay> relay;
    Common::ChildProcess converter = spawn("/usr/bin/rpm2cpio", {"/usr/bin/rpm2cpio", resolved, nullptr}, -1,
                                           archive.write.get(), diagnostics.write.get(), 0, nullptr);
    if (!converter)
        return fail(std::string("cannot start rpm2cpio: ") + std::strerror(errno));
    ::setpgid(converter.pid(), converter.pid());
    Common::ChildProcess cpio = spawn("/usr/bin/cpio", {"cpio", "-idm", nullptr}, unpacker.read.get(), -1,
                                      diagnostics.write.get(), converter.pid(), root.c_str());
    // Taken at once: the calls below may set errno again.
    const int cpioStartError = cpio ? 0 : errno;
    if (cpio)
        ::setpgid(cpio.pid(), converter.pid());
    archive.write.reset();
    unpacker.read.reset();
    diagnostics.write.reset();
    // The tools may be forked while other threads run (a caller validating
    // files as they are unpacked): between fork and exec they make only
    // calls that are safe then.
    relay.emplace(diagnostics.read.get());

    CpioEntryGuard guard;
    if (progress)
        guard.setEntryObserver([progress](const CpioEntryGuard::Entry& entry) { progress->entryJudged(entry); });
    // A failure to pass the stream on shows as cpio's failure or a truncated archive.
    if (cpio)
        forward(archive.read.get(), unpacker.write.get(), guard, progress);
    if (guard.state() != CpioEntryGuard::State::Finished) {
        // Stop both tools at once: cpio must not finish a partial entry.
        converter.signal(SIGKILL, true);
    }
    unpacker.write.reset();
    archive.read.reset();
    const int converterStatus = converter.wait();
    const int cpioStatus = cpio ? cpio.wait() : -1;

    if (guard.state() == CpioEntryGuard::State::Refused)
        return fail("refused the payload: " + guard.reason());
    if (cpioStartError != 0)
        return fail(std::string("cannot start cpio: ") + std::strerror(cpioStartError));
    if (!WIFEXITED(converterStatus) || WEXITSTATUS(converterStatus) != 0)
        return fail("rpm2cpio failed");
    if (guard.state() != CpioEntryGuard::State::Finished)
        return fail("the payload archive is truncated");
    if (!WIFEXITED(cpioStatus) || WEXITSTATUS(cpioStatus) != 0)
        return fail("cpio failed");
    return 0;
}

} // namespace Validator
