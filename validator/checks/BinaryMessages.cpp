#include "checks/BinaryMessages.h"

#include "checks/Executable.h"
#include "checks/Path.h"
#include "checks/PackageChecks.h"
#include "core/RuleText.h"

#include <iterator>

namespace Validator {

namespace {

using RuleText::joined;
constexpr PathArgument kNoPath = PathArgument::None;
constexpr PathArgument kFirstIsPath = PathArgument::First;

std::string runPaths()
{
    return joined(Executable::allowedRunPaths("N"))
        + "\n(N is the package name; each also followed by further components, none of them \"..\")\n";
}

std::string helperLocation(const Config& config)
{
    return Path::helperPrefix(config, "N");
}

std::string helperLocations()
{
    return RuleText::perProfile(helperLocation);
}

std::string executableLocation(const Config& config)
{
    return config.binDir() + "N (the main executable; also any path that contains it), " + Path::helperPrefix(config, "N")
        + "..., any path that contains \"" + std::string(kSharedObjectMark) + "\" (shared objects)";
}

std::string executableLocations()
{
    return RuleText::perProfile(executableLocation);
}

bool checksMainBinary(const Config& config)
{
    return Executable::checksMainBinary(config);
}

constexpr MessageSpec kBinaryMessages[] = {
    {LogLevel::Error, "[binary] Binary does not link to __libc_start_main", "main-binary-no-libc-start-main", kNoPath,
     "The main executable /usr/bin/N must be a program linked against the C library's start routine "
     "__libc_start_main, as every ordinary C or C++ program is; anything else cannot be started by the platform's "
     "launcher. Build it as an ordinary executable, not as a static or freestanding binary.",
     nullptr, checksMainBinary},
    {LogLevel::Warning, "[binary] Binary does not export main() symbol - booster might fail",
     "main-binary-main-not-exported", kNoPath,
     "The launcher's booster starts applications by loading the main executable and calling its exported main(). "
     "Without an exported main() the application still starts, but not through the booster. Export main: link with "
     "-rdynamic (or -Wl,--export-dynamic) and give main default visibility (Q_DECL_EXPORT in Qt).",
     nullptr, checksMainBinary},
    {LogLevel::Error, "[binary] Binary must export main() symbol for booster to work (Q_DECL_EXPORT)",
     "main-binary-main-must-be-exported", kNoPath,
     "A Varnel application (its code imports Pelora.Varnel 1.0) is always started by the booster, which calls the "
     "main executable's exported main(). Declare main with Q_DECL_EXPORT (default visibility) and link with "
     "-rdynamic.",
     nullptr, checksMainBinary},
    {LogLevel::Warning, "[rpath] The rpath in binary is empty", "rpath-empty", kNoPath,
     "The main executable /usr/bin/N has no run path (DT_RPATH), so libraries the package ships cannot be found "
     "unless they are in a system directory. Link with -Wl,-rpath,/usr/share/N/lib -Wl,--disable-new-dtags (or "
     "another allowed element below), even when no library is shipped yet. DT_RUNPATH does not count.",
     runPaths, checksMainBinary},
    {LogLevel::Warning, "[rpath] This rpath in binary is not allowed", "rpath-not-allowed", kNoPath,
     "Every element of the main executable's run path (DT_RPATH) must lead into the package's own library "
     "directories or the system's; another element lets the program load libraries from places the package does "
     "not control. Link with a run path made of the elements below only.",
     runPaths, checksMainBinary},
    {LogLevel::Error, "[rpath] Rpath is missing where it is mandatory", "rpath-missing", kNoPath,
     "The main executable needs a library the package ships itself (below /usr/share/N/lib, /usr/share/N/libs or "
     "/usr/lib/3rdparty/N), but has no run path (DT_RPATH) to find it by, so it would not start. Link with "
     "-Wl,-rpath set to the directory of those libraries and -Wl,--disable-new-dtags.",
     runPaths, checksMainBinary},
    {LogLevel::Error, "[binary] Main binary must not exist. Desktop file uses pelora-qml",
     "main-binary-in-qml-only-app", kNoPath,
     "The desktop file's Exec starts the QML launcher, so the application is QML-only, yet the package installs a "
     "main executable /usr/bin/N that nothing starts. Remove /usr/bin/N, or start it from Exec.",
     nullptr, checksMainBinary},
    {LogLevel::Error, "[binary] Main binary must exist, but it is not found", "main-binary-missing", kNoPath,
     "A native application (Exec does not start the QML launcher) must install its main executable as /usr/bin/N, N "
     "being the package name: that is what Exec starts. Install the program under that name.",
     nullptr, checksMainBinary},
    {LogLevel::Error, "[{0}] Installation not allowed in this location: bad executable format", "helper-not-elf",
     kFirstIsPath,
     "Files below /usr/libexec/N/ are the application's helper programs and must be ELF executables or libraries "
     "for this platform (32- or 64-bit, little-endian); scripts and data do not belong there. Move data below "
     "/usr/share/N/, or build the helper as an ELF program.",
     helperLocations},
    {LogLevel::Warning, "[arch] RPMs containing arch-specific content should not be noarch", "arch-content-in-noarch",
     kNoPath,
     "The package is marked noarch (BuildArch: noarch) but contains ELF files, which run on one architecture only. "
     "Remove BuildArch: noarch so that the package is built per architecture."},
    {LogLevel::Error, "[{0}] Executable has a wrong format or encoding", "executable-format-invalid", kFirstIsPath,
     "A file with the owner's execute bit, and the main executable /usr/bin/N, must be an ELF file for this "
     "platform: 32- or 64-bit and little-endian. Scripts cannot be run that way. Build the program for the target, "
     "or clear the execute bit of a file that is no program (install -m 0644)."},
    {LogLevel::Error, "[{0}] Executable is in wrong location", "executable-location-invalid", kFirstIsPath,
     "Programs may only lie where the launcher and the sandbox expect them: the main executable, the helper programs "
     "below /usr/libexec/N/, and shared objects. Move the program, or clear its execute bit if it is none.",
     executableLocations},
    {LogLevel::Error, "[binary] Main binary must be an executable", "main-binary-not-executable", kNoPath,
     "A native application's main executable /usr/bin/N must be a valid ELF program with the owner's execute bit "
     "set; none was found. Install it with mode 0755, built for the target.",
     nullptr, checksMainBinary},
    {LogLevel::Warning, "[{0}] Library is unstable or deprecated", "library-unstable", kNoPath,
     "The main executable needs a library that the profile accepts only as unstable or deprecated: it may change or "
     "go in a later release. Plan to stop using it."},
    {LogLevel::Error, "[{0}] Library is not allowed", "library-not-allowed", kNoPath,
     "The main executable needs a library that is neither one the profile allows nor one the package ships itself "
     "(below /usr/share/N/lib, /usr/share/N/libs or /usr/lib/3rdparty/N), so it may be missing on the device. Ship "
     "the library in one of those directories, or stop linking it."},
};
static_assert(coversEveryCode(kBinaryMessages, BinaryMessage::LibraryNotAllowed));

constexpr MessageGroup kGroup("binary", kBinaryMessages);

} // namespace

const MessageGroup& messageGroupOf(BinaryMessage)
{
    return kGroup;
}

} // namespace Validator
