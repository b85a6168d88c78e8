#include "checks/desktop/Desktop.h"

#include "checks/desktop/DesktopAttestation.h"
#include "checks/desktop/DesktopCapabilities.h"
#include "checks/desktop/DesktopDefault.h"
#include "checks/desktop/DesktopIntents.h"
#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTervane.h"
#include "checks/desktop/EntrySyntax.h"
#include "core/PackageMessages.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

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

bool Desktop::accepts(const std::string& path, const std::string& fullPath)
{
    if (path.size() > 17 && path.starts_with(kCommonDir))
        m_commonPaths.push_back(path);
    if (path != config().applicationsDir() + meta().name() + ".desktop")
        return false;
    m_desktopFile = fullPath;
    return true;
}

void Desktop::validate(const std::string& path, const std::string& fullPath)
{
    m_entry = AppManifest::ManifestEntry::fromFilename(fullPath);
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

void Desktop::checkExecDBus(const AppManifest::ManifestEntry& entry)
{
    const std::optional<std::string> section = sandboxSection(entry);
    if (!section || !entry.contains(*section, "ExecDBus"))
        return;
    const std::string value = entry.value(*section, "ExecDBus");
    const std::string command(commandOf(value));
    const std::string& name = meta().name();
    std::string resolved;
    char buffer[PATH_MAX];
    if (::realpath((unpackDir() + command).c_str(), buffer))
        resolved = buffer;
    else
        std::cerr << "ExecDBus error: " << std::strerror(errno) << '\n';
    if (command != "/usr/bin/" + name && resolved.find("/usr/libexec/" + name) == std::string::npos)
        logger().add(SandboxMessage::ExecDBusIncorrect);
}

} // namespace Validator
