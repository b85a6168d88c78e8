#include "app/JobScheduler.h"

#include "app/DescriptorBudget.h"
#include "app/ExtractionRoot.h"
#include "app/InterruptCleanup.h"
#include "app/OutputCapture.h"
#include "app/PackageSupervision.h"
#include "app/ReportCompletion.h"
#include "app/report/ReportChannel.h"
#include "common/PosixIo.h"
#include "package/Log.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace Validator {

namespace {

// One package of a run with several at once: its root, the captures of its
// output, its supervisor and, once that ended, how it ended.
struct Job {
    std::string package;
    std::optional<ExtractionRoot> root;
    Common::UniqueFd out;
    Common::UniqueFd err;  // empty when both streams share `out`
    // The read end of a pipe whose write end the supervisor and everything
    // below it hold, the tools too (it survives their exec): it reads as
    // ended once the last of them has ended. A supervisor that crashed
    // cannot wait for its child and tools any more; this lets this process
    // wait for them instead before it removes the root they write into.
    Common::UniqueFd lifeline;
    InterruptCleanup::Child supervisor;
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
        lifeline.reset();
        channel.reset();
    }
};

// Whether a descriptor could not be made for want of descriptors, which a
// package that ends gives back.
bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// Until every process that holds the write end of `lifeline` has ended.
void awaitLifeline(const Common::UniqueFd& lifeline)
{
    char byte;
    while (lifeline && Common::retryOnInterrupt([&] { return ::read(lifeline.get(), &byte, 1); }) > 0) {
    }
}

// In the package's supervising process: its output goes to the captures,
// and it validates the package as a run of one package does. `lifeline` is
// the write end of the job's lifeline, kept open to the end and handed on
// to everything this process starts.
[[noreturn]] void superviseJob(Job& job, const RunOptions& options, const std::string& rootError,
                               const Common::UniqueFd& lifeline)
{
    if (::dup2(job.out.get(), STDOUT_FILENO) < 0 || ::dup2(job.errorCapture(), STDERR_FILENO) < 0
        || ::fcntl(lifeline.get(), F_SETFD, 0) != 0)
        ::_exit(1);
    // Standard output and error hold them now.
    job.out.reset();
    job.err.reset();
    job.lifeline.reset();
    ReportChannel* channel = job.channel ? &*job.channel : nullptr;
    const bool failed = supervisePackageInOwnProcess(job.package, options, job.root ? job.root->path() : std::string(),
                                                     rootError, channel);
    flushAllOutput();
    ::_exit(failed ? 1 : 0);
}

} // namespace

bool validateAtOnce(const std::vector<std::string>& packages, const RunOptions& options, int jobs,
                    const DescriptorBudget& budget, bool outputsShared,
                    const std::function<void(const PackageReport&)>& report)
{
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
    // What this process holds for a package until it is printed, and the
    // write end of its lifeline for the supervisor; the reason and errno
    // of what could not be made, if anything.
    const auto makeDescriptors = [&](Job& job, Common::UniqueFd& lifelineEnd) -> std::pair<std::string, int> {
        if (report) {
            try {
                job.channel.emplace();
            } catch (const std::system_error& e) {
                return {std::string("cannot start the validation: ") + e.what(), e.code().value()};
            }
        }
        job.out = makeCapture();
        if (job.out && !outputsShared)
            job.err = makeCapture();
        if (!job.out || (!outputsShared && !job.err)) {
            const int error = errno;
            return {std::string("cannot keep the output apart: ") + std::strerror(error), error};
        }
        Common::PipeEnds lifeline = Common::makePipe();
        if (!lifeline.read) {
            const int error = errno;
            return {std::string("cannot start the validation: ") + std::strerror(error), error};
        }
        job.lifeline = std::move(lifeline.read);
        lifelineEnd = std::move(lifeline.write);
        return {};
    };
    enum class Start { Running, NotStarted, Later };
    const auto start = [&](Job& job, std::size_t index) {
        job.package = packages[index];
        job.started = std::chrono::steady_clock::now();
        Common::UniqueFd lifelineEnd;
        if (const auto [reason, error] = makeDescriptors(job, lifelineEnd); !reason.empty()) {
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
        const pid_t supervisor = InterruptCleanup::forkChild();
        if (supervisor == 0) {
            // What belongs to the other packages would only count against
            // this package's own limit.
            for (Job& other : all) {
                if (&other != &job)
                    other.closeDescriptors();
            }
            superviseJob(job, options, rootError, lifelineEnd);
        }
        if (supervisor < 0) {
            notStartedBecause(index, std::string("cannot start the validation: ") + std::strerror(errno));
            job.root.reset();
            job.closeDescriptors();
            job.done = job.notStarted = true;
            return Start::NotStarted;
        }
        job.supervisor = InterruptCleanup::Child(supervisor);
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
                if (job.done || job.supervisor.pid() != pid)
                    continue;
                job.supervisor.reaped();
                --running;
                job.done = true;
                job.status = status;
                job.ended = std::chrono::steady_clock::now();
                // A supervisor waits for everything below it before it
                // ends, but one that crashed did not: its child and tools,
                // killed as their parents died, may still be ending.
                awaitLifeline(job.lifeline);
                job.lifeline.reset();
                // The tree is quiet. What is left of it goes once the
                // package's descriptors are given back, when it is printed.
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
