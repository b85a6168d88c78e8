#include "core/PackageMessages.h"

#include "checks/Path.h"
#include "core/RuleText.h"

namespace Validator {

// The table lives beside the path validator, which records four of its five
// messages and whose locations its explanations list; the dispatcher, which
// records the fifth, knows only the header.

namespace {

using RuleText::joined;
constexpr PathArgument kNoPath = PathArgument::None;
constexpr PathArgument kFirstIsPath = PathArgument::First;

std::string fixedLocations()
{
    // The same for every profile but for the directories a profile names,
    // which no profile changes.
    const Config& any = RuleText::profiles().front().second;
    std::vector<std::string> places;
    for (const Path::Location& location : Path::allowedLocations(any, "N"))
        places.push_back(location.path + (location.whole ? "" : " and below"));
    places.push_back(Path::helperPrefix(any, "N") + "... (ELF programs only)");
    return "every profile: " + joined(places) + "\n" + RuleText::addedToRegular(&Config::extraInstallPaths)
        + "(N is the package name; \"and below\" is a plain prefix, so /usr/share/N-data counts too)\n";
}

constexpr MessageSpec kPackageMessages[] = {
    {LogLevel::Error, "[{0}] Installation not allowed in this location", "install-location-not-allowed", kFirstIsPath,
     "A package may install files only where an application's files belong: its data below /usr/share/N, its "
     "desktop file, icons, main executable and helpers, and the few paths its profile adds. Anything else could "
     "change the system outside the application or clash with another package. Move the file to one of the places "
     "below. Below /usr/share/common/ only the organisation's own directory (/usr/share/common/ORGANISATION) is "
     "allowed.",
     fixedLocations},
    {LogLevel::Warning, "[arch] QML-only RPMs should be noarch", "qml-only-not-noarch", kNoPath,
     "A QML-only application contains no ELF files, so one package serves every architecture. Add BuildArch: noarch "
     "to the spec file."},
    {LogLevel::Error, "[debug] Debug symbols or sources must not be included", "debug-content", kNoPath,
     "Files below /usr/lib/debug or /usr/src/debug are debugging information, which an application package must "
     "not ship. Build without the debug subpackage's files in the main package (for example "
     "%define debug_package %{nil}, or strip them from %files)."},
    {LogLevel::Error, "[/usr/bin] Direct package ownership of /usr/bin is disallowed", "owns-usr-bin", kNoPath,
     "The package lists the directory /usr/bin itself in %files, as if it owned it; /usr/bin belongs to the system. "
     "List %{_bindir}/N in %files, not %{_bindir}."},
    {LogLevel::Error, "[{0}] Hardcoded path found", "hardcoded-home-path", kFirstIsPath,
     "The file contains the home directory /home/defaultuser written out. Users' home directories differ and an "
     "application may not rely on one; such a path usually leaks from the build machine. Ask for the home "
     "directory at run time (QStandardPaths, $HOME) instead."},
};
static_assert(coversEveryCode(kPackageMessages, PackageMessage::HardcodedPath));

constexpr MessageGroup kGroup("package", kPackageMessages);

} // namespace

const MessageGroup& messageGroupOf(PackageMessage)
{
    return kGroup;
}

} // namespace Validator
