#include "checks/qml/QmlImportsMessages.h"

#include "core/RuleText.h"

namespace Validator {

namespace {

using RuleText::joined;
constexpr PathArgument kNoPath = PathArgument::None;

std::string allowedImports()
{
    return RuleText::addedToRegular(&Config::allowedImports);
}

std::string unstableImports()
{
    return "unstable:\n" + RuleText::addedToRegular(&Config::unstableImports) + "deprecated:\n"
        + RuleText::addedToRegular(&Config::deprecatedImports);
}

std::string reservedImports()
{
    return "reserved name spaces (expressions): "
        + joined(RuleText::profiles().front().second.reservedImportPatterns().expressionPatterns())
        + "\nallowed there:\n" + allowedImports();
}

constexpr MessageSpec kQmlImportsMessages[] = {
    {LogLevel::Error, "[{0}] Import is not allowed", "qml-import-not-allowed", kNoPath,
     "A QML file imports a module of a name space the platform reserves (Qt, Pelora, Olvex, Taliro and others) "
     "that the profile does not list, or a directory by an absolute path. Such modules are not a stable interface "
     "for applications and may be missing on the device. Use a listed version of the module, ship your own module "
     "under /usr/share/N/qml/ and import it by a relative path, or drop the import. Only imports before the first "
     "line with \"{\" are read.",
     reservedImports},
    {LogLevel::Warning, "[{0}] Import is unstable or deprecated", "qml-import-unstable", kNoPath,
     "A QML file imports a module that the profile accepts only as unstable or deprecated: it may change or go in a "
     "later release. Plan to move to a listed stable module.",
     unstableImports},
    {LogLevel::Info, "[{0}] Beware only allowed imports can be used", "qml-compiled-import-not-listed", kNoPath,
     "An executable's read-only data holds a QML import (compiled-in QML) that the profile does not list as allowed. "
     "vetrik cannot tell whether it is used; if it is, it must be one the profile allows, as for QML files.",
     allowedImports},
    {LogLevel::Warning,
     "[desktop] X-Olvex-Application-Type should be varnel-qt5 for apps importing Pelora.Varnel in QML",
     "qml-varnel-application-type", kNoPath,
     "The application imports the Varnel toolkit (Pelora.Varnel 1.0) in QML or compiled-in QML, but its desktop "
     "file does not declare the toolkit's application type, so the platform will not start it the Varnel way. Add "
     "X-Olvex-Application-Type=varnel-qt5 to the Desktop Entry group."},
};
static_assert(coversEveryCode(kQmlImportsMessages, QmlImportsMessage::VarnelApplicationType));

constexpr MessageGroup kGroup("QML imports", kQmlImportsMessages);

} // namespace

const MessageGroup& messageGroupOf(QmlImportsMessage)
{
    return kGroup;
}

} // namespace Validator
