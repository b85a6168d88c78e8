#include "app/PackageRun.h"

#include "app/InterruptCleanup.h"
#include "app/ProfileChoice.h"
#include "app/report/ReportChannel.h"
#include "common/VisibleText.h"
#include "checks/PackageChecks.h"
#include "core/Config.h"
#include "core/Dispatcher.h"
#include "core/Profile.h"
#include "package/Error.h"
#include "package/Extractor.h"
#include "package/RpmMeta.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
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
        std::error_code ec;
        fs::remove_all(m_path, ec);
        // A second removal is a no-op after a complete recursive one.
        fs::remove(m_path, ec);
        InterruptCleanup::setCurrentRoot({});
    }

    const std::string& path() const { return m_path; }

private:
    explicit ExtractionRoot(std::string path) : m_path(std::move(path)) { InterruptCleanup::setCurrentRoot(m_path); }

    std::string m_path;
};

void printError(const std::string& line)
{
    // Driver lines name the package and may carry what it holds (an archive
    // entry, an exception's text): escaped, each stays one line.
    std::cerr << Common::visibleText(line) << '\n' << std::flush;
}

Profile chooseProfile(const std::string& package, const std::string& requestedName)
{
    try {
        return profileByName(requestedName);
    } catch (const std::out_of_range&) {
    }
    printError("Incorrect or empty profile name, trying to get profile from certificate...");
    try {
        std::error_code ec;
        fs::path absolute = fs::absolute(package, ec);
        Profile profile = profileFromPackageSignature(ec ? package : absolute.string());
        printError("The " + profileName(profile) + " profile was selected for validation");
        return profile;
    } catch (const std::exception&) {
        printError("Incorrect certificate, falling back to \"regular\" profile...");
        return Profile::Regular;
    }
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

// Everything from the profile choice to the final checks, in the child
// process. `root` is the extraction root the parent made; empty when it
// could not be made, and `rootError` says why.
// A package that could not be validated at all: its line on standard error,
// and the reason in the report.
bool notValidated(ReportChannel* channel, const std::string& package, const std::string& reason)
{
    printError(package + ": " + reason);
    if (channel)
        channel->notValidated(reason);
    return true;
}

bool validateHere(const std::string& package, const RunOptions& options, const std::string& root,
                  const std::string& rootError, ReportChannel* channel)
{
    const Profile profile = chooseProfile(package, options.profileName);
    Config config(profile);
    config.setFullChecks(!options.criticalOnly);
    if (channel)
        channel->profileChosen(profileName(profile));

    std::optional<RpmMeta> meta;
    try {
        meta.emplace(package);
    } catch (const Common::Error& e) {
        printError(e.what());
        printError("Invalid filename: " + package);
        if (channel)
            channel->notValidated(e.what());
        return true;
    }

    PackageChecks checks(config, *meta);
    checks.setFindingSink(channel);

    if (root.empty())
        return notValidated(channel, package, "cannot create a temporary directory: " + rootError);

    Extractor extractor;
    if (extractor.extract(root, package) != 0)
        return notValidated(channel, package, "cannot extract the payload: " + extractor.failure());

    bool failed = false;
    try {
        Dispatcher dispatcher(config, *meta);
        dispatcher.setUnpackDir(root);
        dispatcher.setFindingSink(channel);
        Dispatcher::setColor(colorFor(options.colorMode));

        failed = checks.run() || failed;
        for (const FileInfo& file : meta->fileInfos())
            failed = dispatcher.validateFile(file.path, root + file.path) || failed;
        failed = dispatcher.finish() || failed;
    } catch (const std::exception& e) {
        failed = notValidated(channel, package, std::string("validation stopped: ") + e.what());
    }
    return failed;
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

// The reason a child's end gives when it is not the child's own verdict;
// nothing for exit status 0 or 1.
std::optional<std::string> abnormalEnd(int status)
{
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == 0 || code == 1)
            return std::nullopt;
        return "validation ended with exit status " + std::to_string(code);
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "validation crashed: signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    }
    return std::string("validation ended abnormally");
}

// The package's verdict from its child's end; an end other than the child's
// own verdict gets one line saying what happened.
bool childFailed(const std::string& package, int status, PackageReport* report)
{
    const std::optional<std::string> abnormal = abnormalEnd(status);
    if (abnormal) {
        printError(package + ": " + *abnormal);
        if (report) {
            report->outcome = PackageOutcome::NotValidated;
            report->reason = *abnormal;
        }
        return true;
    }
    const bool failed = WEXITSTATUS(status) != 0;
    if (report && report->outcome != PackageOutcome::NotValidated)
        report->outcome = failed ? PackageOutcome::Failed : PackageOutcome::Passed;
    return failed;
}

void markNotValidated(PackageReport* report, const std::string& reason)
{
    if (report) {
        report->outcome = PackageOutcome::NotValidated;
        report->reason = reason;
    }
}

} // namespace

bool validatePackage(const std::string& package, const RunOptions& options, PackageReport* report)
{
    const auto start = std::chrono::steady_clock::now();
    const struct TimeTaken {
        std::chrono::steady_clock::time_point start;
        PackageReport* report;
        ~TimeTaken()
        {
            if (report)
                report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
    } timeTaken {start, report};
    if (report)
        report->package = Common::visibleText(package);

    std::cout << "Processing " << Common::visibleText(package) << "..." << std::endl;
    if (const std::optional<std::string> kind = nonRegularKind(package)) {
        printError(package + ": not a package file: " + *kind);
        markNotValidated(report, "not a package file: " + *kind);
        return true;
    }

    std::optional<ReportChannel> channel;
    if (report) {
        try {
            channel.emplace();
        } catch (const std::system_error& e) {
            printError(package + ": cannot start the validation: " + e.what());
            markNotValidated(report, std::string("cannot start the validation: ") + e.what());
            return true;
        }
    }

    // Made here, so that this process removes it whatever becomes of the
    // child that fills it.
    std::string rootError;
    std::optional<ExtractionRoot> root = ExtractionRoot::create(rootError);

    const pid_t child = InterruptCleanup::forkChild();
    if (child == 0)
        runChild(package, options, root ? root->path() : std::string(), rootError, channel ? &*channel : nullptr);
    if (child < 0) {
        const std::string reason = std::string("cannot start the validation: ") + std::strerror(errno);
        printError(package + ": " + reason);
        markNotValidated(report, reason);
        return true;
    }
    const int status = InterruptCleanup::waitForChild(child);
    if (channel)
        channel->collect(*report);
    return childFailed(package, status, report);
}

} // namespace Validator
