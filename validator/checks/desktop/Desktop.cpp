#include "checks/desktop/Desktop.h"

#include "checks/desktop/DesktopAttestation.h"
#include "checks/desktop/DesktopCapabilities.h"
#include "checks/desktop/DesktopDefault.h"
#include "checks/desktop/DesktopFile.h"
#include "checks/desktop/DesktopIntents.h"
#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTervane.h"
#include "checks/desktop/EntrySyntax.h"
#include "core/PackageMessages.h"
#include "package/Log.h"

#include <cerrno>
#include <cstring>

namespace Validator {

namespace {

constexpr std::string_view kCommonDir = "/usr/share/common/";

template <typename Checker>
void runChecker(const ValidationContext& context, const AppManifest::ManifestEntry& entry, const std::string& path,
                const std::string& fullPath)
{
    Checker checker(context, entry);
    checker.validate(path, fullPath);
}

} // namespace

bool Desktop::accepts(const std::string& path, const std::string&)
{
    if (path.size() > 17 && path.starts_with(kCommonDir))
        m_commonPaths.push_back(path);
    if (path != config().applicationsDir() + meta().name() + ".desktop")
        return false;
    m_desktopFile = path;
    return true;
}

void Desktop::validate(const std::string& path, const std::string& fullPath)
{
    m_entry = loadDesktopEntry(unpackedTree(), path);
    if (!m_entry) {
        logger().add(DesktopMessage::BrokenFile);
        return;
    }
    // One parse for the checkers and the final step: the file is read and
    // held once, as the layer's limits allow.
    runChecker<DesktopDefault>(context(), *m_entry, path, fullPath);
    runChecker<DesktopTervane>(context(), *m_entry, path, fullPath);
    runChecker<DesktopIntents>(context(), *m_entry, path, fullPath);
    runChecker<DesktopAttestation>(context(), *m_entry, path, fullPath);
    // This one reads the file with its own, stricter reader.
    DesktopCapabilities(context()).validate(path, fullPath);
}

void Desktop::finish()
{
    if (!logger().getFlag(Flag::DesktopFileSeen)) {
        if (config().requiresDesktopFile())
            logger().add(DesktopMessage::FileMissing);
        else
            logger().add(DesktopMessage::FileMissingNoSandboxValidation);
        return;
    }
    checkCommonPaths(m_entry ? m_entry->appOrgname() : std::string());
    if (m_entry && !logger().getFlag(Flag::NoSandboxSection))
        checkExecDBus(*m_entry);
}

void Desktop::checkCommonPaths(const std::string& organization)
{
    const std::string own = std::string(kCommonDir) + organization;
    for (const std::string& path : m_commonPaths) {
        if (path == own || path.starts_with(own + "/"))
            continue;
        logger().add(PackageMessage::InstallationNotAllowed, {path});
    }
}

std::optional<std::string> Desktop::resolveInPackage(const std::string& command) const
{
    // The root joined with a relative command names a place beside the
    // root, never a file of the package.
    if (!command.empty() && !command.starts_with('/')) {
        errno = ENOENT;
        return std::nullopt;
    }
    return unpackedTree().resolve(command.empty() ? "/" : command);
}

void Desktop::checkExecDBus(const AppManifest::ManifestEntry& entry)
{
    const std::optional<std::string> section = sandboxSection(entry);
    if (!section || !entry.contains(*section, "ExecDBus"))
        return;
    const std::string value = entry.value(*section, "ExecDBus");
    const std::string command(commandOf(value));
    const std::string& name = meta().name();
    std::string resolved;
    if (const std::optional<std::string> reached = resolveInPackage(command))
        resolved = *reached;
    else
        printError(std::string("ExecDBus error: ") + std::strerror(errno));
    if (command != "/usr/bin/" + name && resolved.find("/usr/libexec/" + name) == std::string::npos)
        logger().add(SandboxMessage::ExecDBusIncorrect);
}

} // namespace Validator
