#include "app/OverlappedChecks.h"

#include "app/DriverLines.h"
#include "app/HeldOutput.h"
#include "app/report/ReportChannel.h"
#include "checks/PackageChecks.h"
#include "core/Dispatcher.h"
#include "package/Extractor.h"
#include "package/UnpackProgress.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

namespace Validator {

namespace {

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

} // namespace

bool unpackAndCheck(const std::string& package, const Config& config, const std::shared_ptr<const RpmMeta>& meta,
                    const std::string& root, const RecordingOptions& recording, ReportChannel* channel)
{
    Extractor extractor;
    std::optional<bool> verdict;
    const bool sequential = std::getenv(kSequentialChecksVariable) != nullptr;
    const int status = sequential ? extractor.extract(root, package)
                                  : extractWhileChecking(package, config, meta, root, extractor, verdict, channel,
                                                         recording);
    if (status != 0)
        return notValidated(channel, package, "cannot extract the payload: " + extractor.failure());
    if (!verdict)
        verdict = runChecks(
            package, config, meta, root, [](const std::string&, const std::string&) { return true; }, channel,
            recording);
    return verdict.value_or(true);
}

} // namespace Validator
