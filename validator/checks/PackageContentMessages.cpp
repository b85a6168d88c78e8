#include "checks/PackageContentMessages.h"

#include "checks/PackageChecks.h"
#include "core/RuleText.h"

#include <iterator>

namespace Validator {

namespace {

using RuleText::joined;
constexpr PathArgument kNoPath = PathArgument::None;
constexpr PathArgument kFirstIsPath = PathArgument::First;

std::string exclusiveProvide(const Config& config)
{
    return config.exclusiveProvide();
}

std::string exclusiveProvides()
{
    return RuleText::perProfile(exclusiveProvide);
}

std::string provides()
{
    std::string text = "every profile: N and anything that starts with N, application(), application(N.desktop), "
                       "mimehandler(TYPE) for any TYPE but "
        + joined(RuleText::profiles().front().second.forbiddenMimeHandlers().sortedNames()) + "\n";
    text += RuleText::perProfile(exclusiveProvide);
    return text + "(N is the package name)\n";
}

std::string executableLocations()
{
    return "programs: " + joined(PackageChecks::programPrefixes("N")) + " (and below)\nshared objects (\""
        + std::string(kSharedObjectMark) + "\" in the path): " + joined(PackageChecks::pluginPrefixes("N"))
        + "\n(N is the package name)\n";
}

std::string forbiddenEndings()
{
    return joined(kForbiddenEndings) + "\n";
}

bool hasExclusiveProvide(const Config& config)
{
    return !config.exclusiveProvide().empty();
}

bool refusesWritableFiles(const Config& config)
{
    return !PackageChecks::toleratesWritableFiles(config);
}

bool toleratesWritableFiles(const Config& config)
{
    return PackageChecks::toleratesWritableFiles(config);
}

constexpr MessageSpec kPackageContentMessages[] = {
    {LogLevel::Error, "Package name should follow reverse domain notation (e.g. \"org.example.app\")",
     "package-name-not-reverse-domain", kNoPath,
     "The package name must be a reverse domain name of at least three non-empty components, such as "
     "org.example.app: the organisation's domain reversed, then the application. It names the application's "
     "sandbox, directories and D-Bus names, and keeps applications of different publishers apart. Rename the "
     "package (Name: in the spec file) and the sandbox section's OrganizationName and ApplicationName with it."},
    {LogLevel::Warning, "[{0}] Dependency is unstable or deprecated", "dependency-unstable", kNoPath,
     "The package requires something that the profile accepts only as unstable or deprecated: it may change or go "
     "in a later release. Plan to stop depending on it."},
    {LogLevel::Error, "[{0}] Dependency is not allowed", "dependency-not-allowed", kNoPath,
     "The package requires a package or library that is not among those the profile allows applications to depend "
     "on, so it may be missing on the device or not be meant for applications. Ship what you need inside the "
     "package (below /usr/share/N/lib) and remove the Requires, or turn off automatic dependencies "
     "(AutoReqProv: no) if rpmbuild added it."},
    {LogLevel::Error, "[{0}] Provides: {0} is not allowed in RPM", "provides-not-allowed", kNoPath,
     "A package may provide only its own name and what the platform reads from applications, so that it cannot "
     "stand in for another package or claim a file type such as packages themselves. Remove the Provides line.",
     provides},
    {LogLevel::Error, "[{0}] Provides: {0} must be specified in RPM", "provides-marker-missing", kNoPath,
     "Under this profile only one such application may be installed at a time, which the package marks by providing "
     "and conflicting with the marker below. Add both Provides: and Conflicts: with it.",
     exclusiveProvides, hasExclusiveProvide},
    {LogLevel::Error, "[{0}] Conflicts: {0} is not allowed in RPM", "conflicts-not-allowed", kNoPath,
     "An application may not declare conflicts with other packages (it could remove or block them), except the "
     "marker of its profile. Remove the Conflicts line.",
     exclusiveProvides},
    {LogLevel::Error, "[{0}] Conflicts: {0} must be specified in RPM", "conflicts-marker-missing", kNoPath,
     "Under this profile only one such application may be installed at a time, which the package marks by providing "
     "and conflicting with the marker below. Add both Provides: and Conflicts: with it.",
     exclusiveProvides, hasExclusiveProvide},
    {LogLevel::Error, "[{0}] Obsoletes: {0} is not allowed in RPM", "obsoletes-not-allowed", kNoPath,
     "An application may not obsolete other packages: installing it would remove them. Remove the Obsoletes line."},
    {LogLevel::Warning, "[vendor] Vendor is set to {0}, this is not recommended", "vendor-discouraged", kNoPath,
     "The package sets the platform vendor's own name as Vendor. The store sets the vendor; leave the Vendor tag out "
     "of the spec file."},
    {LogLevel::Error, "[vendor] Vendor is set to {0}. Setting a vendor in RPM is not allowed", "vendor-not-allowed",
     kNoPath,
     "Applications must not set the Vendor tag: the store sets it, and a package's own vendor could pose as someone "
     "else's. Remove Vendor: from the spec file (and %vendor from the build's macros)."},
    {LogLevel::Critical, "[scripts] Script sections are not allowed in RPM", "scripts-not-allowed", kNoPath,
     "The package has install or remove scripts (%pre, %post, %preun, %postun, %pretrans or %posttrans, as a "
     "body or a program). They would run as root outside any sandbox while the package is installed, so no "
     "application may have them. "
     "Remove every script section; do the work in the application at run time. This finding always fails the "
     "package and can never be accepted by --ignore or a baseline."},
    {LogLevel::Error, "[{0}] Found setuid, setgid or sticky bit set", "file-special-mode-bits", kFirstIsPath,
     "A file has the set-user-ID, set-group-ID or sticky bit, which would let it run with rights the application "
     "does not have. Install it without them (install -m 0755 or %attr(0755,root,root))."},
    {LogLevel::Error, "[{0}] File must not be executable", "file-executable-outside-program-paths", kFirstIsPath,
     "A file with the owner's execute bit lies outside the places for programs and shared objects. Data files are "
     "installed with mode 0644; programs go to the places below.",
     executableLocations},
    {LogLevel::Error, "[{0}] Group or World writable {1}", "file-group-or-world-writable", kFirstIsPath,
     "A file or directory is writable by its group or by everyone, so other users and applications could change "
     "the application. Install it without the group and other write bits (mode 0644 or 0755).",
     nullptr, refusesWritableFiles},
    {LogLevel::Warning, "[{0}] Group or World writable {1}", "file-group-or-world-writable-tolerated", kFirstIsPath,
     "A file or directory is writable by its group or by everyone. This profile tolerates it, but others could "
     "change the application. Install it with mode 0644 or 0755 unless the write bit is needed.",
     nullptr, toleratesWritableFiles},
    {LogLevel::Error, "[{0}] User owner should be root", "file-owner-not-root", kFirstIsPath,
     "Every packaged file must belong to the user root, so that the application cannot change its own files. Use "
     "%attr(-,root,root) or %defattr(-,root,root,-) in %files."},
    {LogLevel::Error, "[{0}] Group owner should be root", "file-group-not-root", kFirstIsPath,
     "Every packaged file must belong to the group root, so that no group can change the application's files. Use "
     "%attr(-,root,root) or %defattr(-,root,root,-) in %files."},
    {LogLevel::Info, "[{0}] Beware that symbolic links are only allowed for exclusive paths", "symlink-notice",
     kFirstIsPath,
     "The package holds a symbolic link. Links are checked like files for where they lie, and their target must be "
     "a file of the package itself. This note is no fault."},
    {LogLevel::Error, "[{0}] Symbolic link is targeting to not allowed path for it: {1}", "symlink-target-not-packaged",
     kFirstIsPath,
     "A symbolic link must point at a file or directory the package itself installs, so that it cannot lead the "
     "application, or anyone reading its files, onto the system's files. Only leading \"../\" steps are resolved. "
     "Point the link at a packaged path, or install a copy of the file."},
    {LogLevel::Error, "[{0}] Failed to read file attributes", "file-type-unsupported", kFirstIsPath,
     "The package holds an entry that is neither a regular file, a directory nor a symbolic link: a device, a named "
     "pipe or a socket. Applications may not create such entries. Remove it from %files."},
    {LogLevel::Error, "[{0}] Installation not allowed in this location: forbidden file extension",
     "file-name-forbidden-ending", kFirstIsPath,
     "The file's name ends like the files version control and editors leave behind. They do not belong in a "
     "package and may leak the source history. Remove them from the build tree or from %files.",
     forbiddenEndings},
    {LogLevel::Warning, "[{0}] Empty directory (can be omitted during package installation)", "empty-directory",
     kFirstIsPath,
     "The package installs a directory with nothing in it. It is harmless, but it may not be created on the device "
     "and shows that something meant to go there is missing. Remove it from %files, or install its files."},
};
static_assert(coversEveryCode(kPackageContentMessages, PackageContentMessage::EmptyDirectory));

constexpr MessageGroup kGroup("package content", kPackageContentMessages);

} // namespace

const MessageGroup& messageGroupOf(PackageContentMessage)
{
    return kGroup;
}

} // namespace Validator
