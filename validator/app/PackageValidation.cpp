#include "app/PackageValidation.h"

#include "app/DriverLines.h"
#include "app/OverlappedChecks.h"
#include "app/PackageRun.h"
#include "app/ProfileChoice.h"
#include "app/report/ReportChannel.h"
#include "core/Config.h"
#include "core/Dispatcher.h"
#include "core/Profile.h"
#include "package/Error.h"
#include "package/Log.h"
#include "package/RpmMeta.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace Validator {

namespace {

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
    return unpackAndCheck(package, config, meta, root, options.recording, channel);
}

} // namespace

void validateInThisProcess(const std::string& package, const RunOptions& options, const std::string& root,
                           const std::string& rootError, ReportChannel* channel)
{
    bool failed = true;
    try {
        failed = validateHere(package, options, root, rootError, channel);
    } catch (...) {
        notValidated(channel, package, "validation stopped: an unknown exception");
    }
    flushAllOutput();
    // Not exit(): the parent's objects copied into this process, its
    // extraction root among them, belong to the parent.
    ::_exit(failed ? 1 : 0);
}

} // namespace Validator
