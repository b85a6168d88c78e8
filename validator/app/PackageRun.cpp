#include "app/PackageRun.h"

#include "app/DescriptorBudget.h"
#include "app/HeldOutput.h"
#include "app/InterruptCleanup.h"
#include "app/ProfileChoice.h"
#include "app/TreeRemoval.h"
#include "app/report/ReportChannel.h"
#include "common/UniqueFd.h"
#include "common/VisibleText.h"
#include "checks/PackageChecks.h"
#include "core/Config.h"
#include "core/Dispatcher.h"
#include "core/Profile.h"
#include "package/Error.h"
#include "package/Extractor.h"
#include "package/RpmMeta.h"
#include "package/UnpackProgress.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <vector>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Validator {

namespace {

// The extraction root of one package: created with mkdtemp, registered for
// removal on an interrupt, and removed with everything in it on every path
// out of the run.
class ExtractionRoot {
public:
    static std::optional<ExtractionRoot> create(std::string& error)
    {
        char templ[] = "/tmp/dir.XXXXXX";
        if (!::mkdtemp(templ)) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        return ExtractionRoot(templ);
    }

    ExtractionRoot(ExtractionRoot&& other) noexcept : m_path(std::move(other.m_path)) { other.m_path.clear(); }
    ExtractionRoot(const ExtractionRoot&) = delete;
    ExtractionRoot& operator=(const ExtractionRoot&) = delete;
    ExtractionRoot& operator=(ExtractionRoot&&) = delete;

    ~ExtractionRoot()
    {
        if (m_path.empty())
            return;
        remove();
        InterruptCleanup::removeRoot(m_path);
    }

    // Removes the tree now; false when some of it is left, and a later
    // call (the destructor's) may try again.
    bool remove() const { return removeTree(m_path); }

    const std::string& path() const { return m_path; }

private:
    explicit ExtractionRoot(std::string path) : m_path(std::move(path)) { InterruptCleanup::addRoot(m_path); }

    std::string m_path;
};

void printError(const std::string& line)
{
    // Driver lines name the package and may carry what it holds (an archive
    // entry, an exception's text): escaped, each stays one line.
    std::cerr << Common::visibleText(line) << '\n' << std::flush;
}

// A package that could not be validated at all: its line on standard error,
// and the reason in the report.
bool notValidated(FindingSink* sink, const std::string& package, const std::string& reason)
{
    printError(package + ": " + reason);
    if (sink)
        sink->notValidated(reason);
    return true;
}

bool colorFor(ColorMode mode)
{
    switch (mode) {
    case ColorMode::Always:
        return true;
    case ColorMode::Never:
        return false;
    case ColorMode::Auto:
        break;
    }
    return ::isatty(STDERR_FILENO) == 1;
}

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

// The checks of one unpacked package: the package-level checks, every file
// of the header in header order, then the final step. `ready` is asked
// before each file (with its header and full path) and before the final step
// (with empty paths); when it says no, the run stops and gives no verdict.
std::optional<bool> runChecks(const std::string& package, const Config& config, const std::shared_ptr<const RpmMeta>& meta,
                              const std::string& root,
                              const std::function<bool(const std::string&, const std::string&)>& ready,
                              FindingSink* sink, const RecordingOptions& recording)
{
    bool failed = false;
    try {
        PackageChecks checks(config, meta);
        checks.setFindingSink(sink);
        checks.setRecording(recording);
        Dispatcher dispatcher(config, meta);
        dispatcher.setUnpackDir(root);
        dispatcher.setFindingSink(sink);
        dispatcher.setRecording(recording);

        failed = checks.run() || failed;
        for (const FileInfo& file : meta->fileInfos()) {
            const std::string fullPath = root + file.path;
            if (!ready(file.path, fullPath))
                return std::nullopt;
            failed = dispatcher.validateFile(file.path, fullPath) || failed;
        }
        if (!ready({}, {}))
            return std::nullopt;
        failed = dispatcher.finish() || failed;
    } catch (const std::exception& e) {
        failed = notValidated(sink, package, std::string("validation stopped: ") + e.what());
    }
    return failed;
}

// Set to anything, validates only after the whole payload is unpacked, the
// way an unsure overlapped run falls back to; the end-to-end tests compare
// both ways.
constexpr const char* kSequentialChecksVariable = "VETRIK_SEQUENTIAL_CHECKS";

// Unpacks the payload and validates each file as soon as it is final on
// disk, on a thread of its own, so that the checks take the processor time
// the extraction leaves idle. The findings are held back until the
// extraction has ended, so that the output is what validating the finished
// tree prints: in its order, after the tools' own lines, and nothing when
// the extraction fails. When the archive was such that files validated early
// may have changed afterwards, all of it is validated again from the
// finished tree. Returns the extraction's status; `verdict` is empty when
// the checks must run again.
int extractWhileChecking(const std::string& package, const Config& config, const std::shared_ptr<const RpmMeta>& meta,
                         const std::string& root, Extractor& extractor, std::optional<bool>& verdict,
                         ReportChannel* channel, const RecordingOptions& recording)
{
    UnpackProgress progress;
    HeldOutput held(channel);
    std::thread checker([&] {
        const auto ready = [&](const std::string& path, const std::string& fullPath) {
            const UnpackProgress::Outcome outcome = path.empty() ? progress.waitForEnd() : progress.waitFor(path, fullPath);
            if (outcome == UnpackProgress::Outcome::Unpacked) {
                // The tools have ended: from here on nothing else writes.
                held.release();
            }
            return outcome == UnpackProgress::Outcome::Final || outcome == UnpackProgress::Outcome::Unpacked;
        };
        try {
            verdict = runChecks(package, config, meta, root, ready, &held, recording);
        } catch (...) {
            // Validated again from the finished tree, where it may be caught.
            verdict.reset();
        }
    });
    int status = 1;
    try {
        status = extractor.extract(root, package, &progress);
    } catch (...) {
        progress.finished(false);
        checker.join();
        throw;
    }
    progress.finished(status == 0);
    checker.join();
    // Checks that stopped early (an exception) never asked whether the run
    // became unsure after them.
    if (status == 0 && progress.waitForEnd() == UnpackProgress::Outcome::Unsure)
        verdict.reset();
    if (status == 0 && verdict)
        held.release();
    else
        held.discard();
    return status;
}

// Everything from the profile choice to the final checks, in the child
// process. `root` is the extraction root the parent made; empty when it
// could not be made, and `rootError` says why.
bool validateHere(const std::string& package, const RunOptions& options, const std::string& root,
                  const std::string& rootError, ReportChannel* channel)
{
    const ProfileChoice choice = chooseProfile(package, options.profileName, {options.verifySigner, options.caBundle});
    const Profile profile = choice.profile;
    Config config(profile);
    config.setFullChecks(!options.criticalOnly);
    if (channel)
        channel->profileChosen(profileName(profile), profileSourceName(choice.source));

    std::shared_ptr<const RpmMeta> meta;
    try {
        meta = std::make_shared<const RpmMeta>(package);
    } catch (const Common::Error& e) {
        printError(e.what());
        printError("Invalid filename: " + package);
        if (channel)
            channel->notValidated(e.what());
        return true;
    }
    if (channel)
        channel->headerRead({meta->name(), meta->version(), meta->release(), meta->arch()});

    if (root.empty())
        return notValidated(channel, package, "cannot create a temporary directory: " + rootError);

    Dispatcher::setColor(colorFor(options.colorMode));
    Extractor extractor;
    std::optional<bool> verdict;
    const bool sequential = std::getenv(kSequentialChecksVariable) != nullptr;
    const int status = sequential ? extractor.extract(root, package)
                                  : extractWhileChecking(package, config, meta, root, extractor, verdict, channel,
                                                         options.recording);
    if (status != 0)
        return notValidated(channel, package, "cannot extract the payload: " + extractor.failure());
    if (!verdict)
        verdict = runChecks(
            package, config, meta, root, [](const std::string&, const std::string&) { return true; }, channel,
            options.recording);
    return verdict.value_or(true);
}

[[noreturn]] void runChild(const std::string& package, const RunOptions& options, const std::string& root,
                           const std::string& rootError, ReportChannel* channel)
{
    bool failed = true;
    try {
        failed = validateHere(package, options, root, rootError, channel);
    } catch (...) {
        notValidated(channel, package, "validation stopped: an unknown exception");
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    // Not exit(): the parent's objects copied into this process, its
    // extraction root among them, belong to the parent.
    ::_exit(failed ? 1 : 0);
}

// True when the child's end means a failed package; an end other than its
// own verdict gets one line saying what happened, and is the reason the
// report gives.
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

// The run of one package from its progress line to the child's end, given
// the extraction root made by the caller. `forkChild` and `waitForChild`
// are those of the process that runs it.
bool superviseChild(const std::string& package, const RunOptions& options, const std::optional<ExtractionRoot>& root,
                    const std::string& rootError, pid_t (*forkChild)(), int (*waitForChild)(pid_t),
                    ReportChannel* channel)
{
    const pid_t child = forkChild();
    if (child == 0)
        runChild(package, options, root ? root->path() : std::string(), rootError, channel);
    if (child < 0)
        return notValidated(channel, package, std::string("cannot start the validation: ") + std::strerror(errno));
    return childFailed(package, waitForChild(child), channel);
}

void printProgress(const std::string& package)
{
    std::cout << "Processing " << Common::visibleText(package) << "..." << std::endl;
}

// The forks of a package's own supervising process (--jobs): its child dies
// with it, so that stopping the supervisor stops everything below it.
pid_t forkDying()
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
    }
    return pid;
}

// Waits for the child and then for everything it left behind, which this
// process (a child subreaper) has adopted.
int waitForAll(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    while (::waitpid(-1, nullptr, 0) >= 0 || errno == EINTR) {
    }
    return status;
}

// An unlinked file in memory that takes a package's output until its turn
// to be printed comes; empty when none can be made.
Common::UniqueFd makeCapture()
{
    return Common::UniqueFd(::memfd_create("vetrik-output", MFD_CLOEXEC));
}

// Whether standard output and error lead to the same place (a terminal,
// or one file with 2>&1); their lines then share one capture, in the order
// they were written.
bool outputsShareDestination()
{
    struct stat out {}, err {};
    if (::fstat(STDOUT_FILENO, &out) != 0 || ::fstat(STDERR_FILENO, &err) != 0)
        return false;
    return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

void copyCapture(int capture, int destination)
{
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(capture, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        offset += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(destination, buffer + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return;
            done += written;
        }
    }
}

// One package of a run with several at once: its root, the captures of its
// output and, once it ended, how its supervisor ended.
struct Job {
    std::string package;
    std::optional<ExtractionRoot> root;
    Common::UniqueFd out;
    Common::UniqueFd err;  // empty when both streams share `out`
    pid_t supervisor = -1;
    bool done = false;
    bool notStarted = false;
    int status = 0;
    std::optional<ReportChannel> channel;  // with a report only
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point ended;

    int errorCapture() const { return err ? err.get() : out.get(); }

    // What this process holds open for the package until it is printed.
    void closeDescriptors()
    {
        out.reset();
        err.reset();
        channel.reset();
    }
};

// Whether a descriptor could not be made for want of descriptors, which a
// package that ends gives back.
bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// In the package's supervising process: its output goes to the captures,
// and it validates the package as a run of one package does.
[[noreturn]] void superviseJob(Job& job, const RunOptions& options, const std::string& rootError)
{
    if (::dup2(job.out.get(), STDOUT_FILENO) < 0 || ::dup2(job.errorCapture(), STDERR_FILENO) < 0)
        ::_exit(1);
    // Standard output and error hold them now.
    job.out.reset();
    job.err.reset();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    bool failed = true;
    ReportChannel* channel = job.channel ? &*job.channel : nullptr;
    printProgress(job.package);
    if (const std::optional<std::string> kind = nonRegularKind(job.package))
        notValidated(channel, job.package, "not a package file: " + *kind);
    else
        failed = superviseChild(job.package, options, job.root, rootError, forkDying, waitForAll, channel);
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(failed ? 1 : 0);
}

// What the report says of a package once its run has ended: what its
// processes recorded, and the verdict.
void completeReport(PackageReport& report, const std::string& package, const ReportChannel* channel, bool failed,
                    std::chrono::steady_clock::duration taken)
{
    report.package = Common::visibleText(package);
    report.seconds = std::chrono::duration<double>(taken).count();
    if (channel)
        channel->collect(report);
    if (report.outcome != PackageOutcome::NotValidated)
        report.outcome = failed ? PackageOutcome::Failed : PackageOutcome::Passed;
}

// The report's channel for one package, made before anything is forked;
// nothing (with the reason in `report`) when none can be made.
bool openChannel(std::optional<ReportChannel>& channel, const std::string& package, PackageReport& report)
{
    try {
        channel.emplace();
        return true;
    } catch (const std::system_error& e) {
        const std::string reason = std::string("cannot start the validation: ") + e.what();
        printError(package + ": " + reason);
        report.outcome = PackageOutcome::NotValidated;
        report.reason = reason;
        return false;
    }
}

} // namespace

bool validatePackage(const std::string& package, const RunOptions& options, PackageReport* report)
{
    const auto start = std::chrono::steady_clock::now();
    std::optional<ReportChannel> channel;
    bool failed = true;
    if (report && !openChannel(channel, package, *report)) {
        printProgress(package);
    } else {
        printProgress(package);
        ReportChannel* sink = channel ? &*channel : nullptr;
        if (const std::optional<std::string> kind = nonRegularKind(package)) {
            notValidated(sink, package, "not a package file: " + *kind);
        } else {
            // Made here, so that this process removes it whatever becomes of
            // the child that fills it.
            std::string rootError;
            std::optional<ExtractionRoot> root = ExtractionRoot::create(rootError);
            failed = superviseChild(package, options, root, rootError, InterruptCleanup::forkChild,
                                    InterruptCleanup::waitForChild, sink);
        }
    }
    if (report)
        completeReport(*report, package, channel ? &*channel : nullptr, failed, std::chrono::steady_clock::now() - start);
    return failed;
}

bool validatePackages(const std::vector<std::string>& packages, const RunOptions& options, int jobs,
                      const std::function<void(const PackageReport&)>& report)
{
    const bool oneAtATime = jobs <= 1 || packages.size() <= 1;
    const bool shared = outputsShareDestination();
    // Per package in flight: its report channel, and with several at once
    // the captures of its output.
    const DescriptorBudget budget((report ? 1 : 0) + (oneAtATime ? 0 : shared ? 1 : 2));
    if (budget.tooLowForOne()) {
        printError("The limit on open files (" + std::to_string(budget.limit()) + ") is below the "
                   + std::to_string(budget.neededForOne()) + " that validating a package may need: packages may fail");
    }
    if (oneAtATime) {
        bool failed = false;
        for (const std::string& package : packages) {
            PackageReport reported;
            failed = validatePackage(package, options, report ? &reported : nullptr) || failed;
            if (report)
                report(reported);
        }
        return failed;
    }
    // A package holds its descriptors from its start until its output is
    // printed, which may be long after its end when one before it is slow.
    std::size_t heldAtMost = budget.packagesInFlight(packages.size());
    std::vector<Job> all(packages.size());
    std::size_t started = 0;
    std::size_t printed = 0;
    int running = 0;
    bool failed = false;
    std::vector<PackageReport> reports(report ? packages.size() : 0);
    const auto notStartedBecause = [&](std::size_t index, const std::string& reason) {
        printError(packages[index] + ": " + reason);
        if (report) {
            reports[index].outcome = PackageOutcome::NotValidated;
            reports[index].reason = reason;
        }
    };
    // What this process holds for a package until it is printed; the
    // reason and errno of what could not be made, if anything.
    const auto makeDescriptors = [&](Job& job) -> std::pair<std::string, int> {
        if (report) {
            try {
                job.channel.emplace();
            } catch (const std::system_error& e) {
                return {std::string("cannot start the validation: ") + e.what(), e.code().value()};
            }
        }
        job.out = makeCapture();
        if (job.out && !shared)
            job.err = makeCapture();
        if (!job.out || (!shared && !job.err)) {
            const int error = errno;
            return {std::string("cannot keep the output apart: ") + std::strerror(error), error};
        }
        return {};
    };
    enum class Start { Running, NotStarted, Later };
    const auto start = [&](Job& job, std::size_t index) {
        job.package = packages[index];
        job.started = std::chrono::steady_clock::now();
        if (const auto [reason, error] = makeDescriptors(job); !reason.empty()) {
            job.closeDescriptors();
            // The packages before it give theirs back once printed.
            if (outOfDescriptors(error) && index > printed)
                return Start::Later;
            notStartedBecause(index, reason);
            job.done = job.notStarted = true;
            return Start::NotStarted;
        }
        std::string rootError;
        if (std::optional<ExtractionRoot> made = ExtractionRoot::create(rootError))
            job.root.emplace(std::move(*made));
        job.supervisor = InterruptCleanup::forkChild();
        if (job.supervisor == 0) {
            // What belongs to the other packages would only count against
            // this package's own limit.
            for (Job& other : all) {
                if (&other != &job)
                    other.closeDescriptors();
            }
            superviseJob(job, options, rootError);
        }
        if (job.supervisor < 0) {
            notStartedBecause(index, std::string("cannot start the validation: ") + std::strerror(errno));
            job.root.reset();
            job.closeDescriptors();
            job.done = job.notStarted = true;
            return Start::NotStarted;
        }
        ++running;
        return Start::Running;
    };
    // Packages start in argument order as places become free; each one's
    // output is printed whole once it and all before it have ended.
    while (printed < all.size()) {
        while (running < jobs && started - printed < heldAtMost && started < all.size()) {
            if (start(all[started], started) == Start::Later) {
                // More was open than counted: hold fewer from now on, so
                // that this process keeps its reserve.
                heldAtMost = budget.afterRunningOut(started - printed);
                break;
            }
            ++started;
        }
        Job& next = all[printed];
        if (!next.done) {
            const auto [pid, status] = InterruptCleanup::waitForAnyChild();
            if (pid < 0)
                return true;
            for (Job& job : all) {
                if (job.supervisor != pid || job.done)
                    continue;
                --running;
                job.done = true;
                job.status = status;
                job.ended = std::chrono::steady_clock::now();
                // The supervisor has waited for everything below it: the
                // tree is quiet. What is left of it goes once the package's
                // descriptors are given back, when it is printed.
                if (job.root && job.root->remove())
                    job.root.reset();
            }
            continue;
        }
        std::cout.flush();
        std::cerr.flush();
        if (next.out)
            copyCapture(next.out.get(), STDOUT_FILENO);
        if (next.err)
            copyCapture(next.err.get(), STDERR_FILENO);
        next.out.reset();
        next.err.reset();
        next.root.reset();
        ReportChannel* channel = next.channel ? &*next.channel : nullptr;
        const bool packageFailed = next.notStarted || childFailed(next.package, next.status, channel);
        failed = packageFailed || failed;
        if (report) {
            PackageReport& reported = reports[printed];
            completeReport(reported, next.package, next.notStarted ? nullptr : channel, packageFailed,
                           next.notStarted ? std::chrono::steady_clock::duration() : next.ended - next.started);
            report(reported);
            reported = PackageReport();
        }
        next.channel.reset();
        ++printed;
    }
    return failed;
}

} // namespace Validator
