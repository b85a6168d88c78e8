#include "app/PackageRun.h"

#include "app/InterruptCleanup.h"
#include "app/ProfileChoice.h"
#include "checks/PackageChecks.h"
#include "checks/PendingValidators.h"
#include "core/Config.h"
#include "core/Dispatcher.h"
#include "core/Profile.h"
#include "package/Error.h"
#include "package/Extractor.h"
#include "package/RpmMeta.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
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
    std::cerr << line << '\n' << std::flush;
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

} // namespace

bool validatePackage(const std::string& package, const RunOptions& options)
{
    std::cout << "Processing " << package << "..." << std::endl;

    Config config(chooseProfile(package, options.profileName));
    config.setFullChecks(!options.criticalOnly);

    std::optional<RpmMeta> meta;
    try {
        meta.emplace(package);
    } catch (const Common::Error& e) {
        printError(e.what());
        printError("Invalid filename: " + package);
        return true;
    }

    PackageChecks checks(config, *meta);

    std::string error;
    std::optional<ExtractionRoot> root = ExtractionRoot::create(error);
    if (!root) {
        printError(package + ": cannot create a temporary directory: " + error);
        return true;
    }

    Extractor extractor;
    if (extractor.extract(root->path(), package) != 0) {
        printError(package + ": cannot extract the payload: " + extractor.failure());
        return true;
    }

    bool failed = false;
    try {
        Dispatcher dispatcher(config, *meta);
        dispatcher.setUnpackDir(root->path());
        Dispatcher::setColor(colorFor(options.colorMode));

        failed = checks.run() || failed;
        for (const FileInfo& file : meta->fileInfos())
            failed = dispatcher.validateFile(file.path, root->path() + file.path) || failed;
        failed = dispatcher.finish() || failed;
    } catch (const std::exception& e) {
        printError(package + ": validation stopped: " + e.what());
        failed = true;
    }
    return failed;
}

} // namespace Validator
