#include "checks/PackageChecks.h"

#include "checks/PackageContentMessages.h"

#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace Validator {

namespace {

using Code = PackageContentMessage;

bool contains(const std::vector<std::string>& list, const std::string& entry)
{
    return std::find(list.begin(), list.end(), entry) != list.end();
}

constexpr mode_t kSpecialBits = 07000;
// Only the owner's execute bit marks a file as a program; group and other
// execute bits alone are left to the other checks.
constexpr mode_t kOwnerExecute = 0100;
constexpr mode_t kGroupOrOtherWrite = 0022;

constexpr std::string_view kMimeHandlerPrefix = "mimehandler(";

struct LinkTarget {
    std::string resolved;
    std::string_view remaining;  // the stored target less its leading "../"
};

// Only leading "../" steps are followed, each taking one component off the
// link's directory; a walk past the top stays at the root, as the kernel's
// does. Nothing else is normalised, so "./" and inner ".." never match a
// packaged path.
LinkTarget resolveLink(std::string_view link, std::string_view target)
{
    if (target.starts_with("/"))
        return {std::string(target), target};
    const std::size_t lastSlash = link.rfind('/');
    std::string_view directory = lastSlash == std::string_view::npos ? std::string_view() : link.substr(0, lastSlash);
    while (target.starts_with("../")) {
        target.remove_prefix(3);
        const std::size_t slash = directory.rfind('/');
        directory = slash == std::string_view::npos ? std::string_view() : directory.substr(0, slash);
    }
    std::string resolved(directory);
    resolved += '/';
    resolved += target;
    return {std::move(resolved), target};
}

} // namespace

PackageChecks::PackageChecks(const Config& config, const RpmMeta& meta)
    : PackageChecks(config, std::make_shared<const RpmMeta>(meta))
{
}

PackageChecks::PackageChecks(const Config& config, std::shared_ptr<const RpmMeta> meta)
    : m_config(std::make_shared<const Config>(config)),
      m_meta(std::move(meta)),
      m_name(m_meta->name())
{
    m_paths.reserve(m_meta->paths().size());
    for (const std::string& path : m_meta->paths())
        m_paths.insert(path);
}

bool PackageChecks::run()
{
    checkName();
    checkVendor();
    checkProvides();
    checkConflicts();
    checkObsoletes();
    checkRequires();
    checkScripts();
    for (const FileInfo& entry : m_meta->fileInfos())
        checkEntry(entry);
    checkEmptyDirectories();
    return m_logger.takeStepVerdict(m_config->fullChecks());
}

bool isReverseDomain(std::string_view name)
{
    std::size_t components = 1;
    std::size_t componentLength = 0;
    for (char c : name) {
        if (c != '.') {
            ++componentLength;
            continue;
        }
        if (componentLength == 0)
            return false;
        ++components;
        componentLength = 0;
    }
    return componentLength > 0 && components >= 3;
}

void PackageChecks::checkName()
{
    if (!isReverseDomain(m_name))
        m_logger.add(Code::NameNotReverseDomain);
}

void PackageChecks::checkVendor()
{
    const std::string& vendor = m_meta->vendor();
    if (vendor.empty())
        return;
    if (vendor == kToleratedVendor)
        m_logger.add(Code::VendorDiscouraged, {vendor});
    else
        m_logger.add(Code::VendorNotAllowed, {vendor});
}

void PackageChecks::checkProvides()
{
    const std::string& exclusive = m_config->exclusiveProvide();
    if (!exclusive.empty() && !contains(m_meta->provides(), exclusive))
        m_logger.add(Code::ProvideMissing, {exclusive});
    for (const std::string& provide : m_meta->provides()) {
        if (!isAllowedProvide(provide))
            m_logger.add(Code::ProvideNotAllowed, {provide});
    }
}

bool PackageChecks::isAllowedProvide(const std::string& provide) const
{
    // The prefix test covers the name itself and its architecture-qualified
    // self-provide, e.g. "N(x86-64)".
    if (provide == "application()" || provide.starts_with(m_name) || provide == "application(" + m_name + ".desktop)")
        return true;
    const std::string& exclusive = m_config->exclusiveProvide();
    if (!exclusive.empty() && provide == exclusive)
        return true;
    if (provide.size() > kMimeHandlerPrefix.size() && provide.starts_with(kMimeHandlerPrefix) && provide.ends_with(")")) {
        const std::string type = provide.substr(kMimeHandlerPrefix.size(), provide.size() - kMimeHandlerPrefix.size() - 1);
        return !m_config->forbiddenMimeHandlers().matches(type);
    }
    return false;
}

void PackageChecks::checkConflicts()
{
    const std::string& exclusive = m_config->exclusiveProvide();
    if (!exclusive.empty() && !contains(m_meta->conflicts(), exclusive))
        m_logger.add(Code::ConflictMissing, {exclusive});
    for (const std::string& conflict : m_meta->conflicts()) {
        if (exclusive.empty() || conflict != exclusive)
            m_logger.add(Code::ConflictNotAllowed, {conflict});
    }
}

void PackageChecks::checkObsoletes()
{
    for (const std::string& obsolete : m_meta->obsoletes())
        m_logger.add(Code::ObsoleteNotAllowed, {obsolete});
}

void PackageChecks::checkRequires()
{
    const Config& config = *m_config;
    for (const std::string& requirement : m_meta->requirements()) {
        if (config.allowedDependencies().matches(requirement) || config.allowedLibraries().matches(requirement))
            continue;
        if (config.unstableDependencies().matches(requirement) || config.unstableLibraries().matches(requirement)
            || config.deprecatedDependencies().matches(requirement) || config.deprecatedLibraries().matches(requirement))
            m_logger.add(Code::DependencyUnstable, {requirement});
        else
            m_logger.add(Code::DependencyNotAllowed, {requirement});
    }
}

void PackageChecks::checkScripts()
{
    if (m_meta->hasScripts())
        m_logger.add(Code::ScriptsNotAllowed);
}

void PackageChecks::checkEntry(const FileInfo& entry)
{
    const mode_t mode = entry.mode;
    if (S_ISDIR(mode))
        checkWritable(entry, "directory");
    else if (S_ISREG(mode))
        checkRegularFile(entry);
    else if (S_ISLNK(mode))
        checkLink(entry);
    else
        m_logger.add(Code::UnsupportedFileType, {entry.path});
    checkExtension(entry);
}

void PackageChecks::checkRegularFile(const FileInfo& entry)
{
    if (entry.mode & kSpecialBits)
        m_logger.add(Code::SpecialModeBits, {entry.path});
    if ((entry.mode & kOwnerExecute) && !isAllowedExecutableLocation(entry.path))
        m_logger.add(Code::FileExecutable, {entry.path});
    checkWritable(entry, "file");
    if (entry.user != "root")
        m_logger.add(Code::UserNotRoot, {entry.path});
    if (entry.group != "root")
        m_logger.add(Code::GroupNotRoot, {entry.path});
}

void PackageChecks::checkWritable(const FileInfo& entry, std::string_view kind)
{
    if (!(entry.mode & kGroupOrOtherWrite))
        return;
    if (toleratesWritableFiles(*m_config))
        m_logger.add(Code::WritableTolerated, {entry.path, kind});
    else
        m_logger.add(Code::Writable, {entry.path, kind});
}

bool PackageChecks::toleratesWritableFiles(const Config& config)
{
    return config.name() == "auth";
}

std::vector<std::string> PackageChecks::programPrefixes(const std::string& name)
{
    return {"/usr/bin/" + name, "/usr/libexec/" + name + "/"};
}

std::vector<std::string> PackageChecks::pluginPrefixes(const std::string& name)
{
    return {
        "/usr/lib/3rdparty/" + name + "/",
        "/usr/share/" + name + "/",
        "/usr/lib/qt5/qml/",
        "/usr/lib64/qt5/qml/",
        "/usr/lib/connman/plugins-vpn/",
        "/usr/lib64/connman/plugins-vpn/",
        "/opt/extension/p11-kit-modules/" + name + "/",
        "/opt/extension/qca-plugins/" + name + "/",
    };
}

bool PackageChecks::isAllowedExecutableLocation(const std::string& path) const
{
    const auto under = [&path](const std::string& prefix) { return path.starts_with(prefix); };
    const std::vector<std::string> programs = programPrefixes(m_name);
    if (std::any_of(programs.begin(), programs.end(), under))
        return true;
    // Shared objects that are loaded as plugins may carry execute bits.
    if (path.find(kSharedObjectMark) == std::string::npos)
        return false;
    const std::vector<std::string> plugins = pluginPrefixes(m_name);
    return std::any_of(plugins.begin(), plugins.end(), under);
}

void PackageChecks::checkLink(const FileInfo& entry)
{
    m_logger.add(Code::SymlinkNotice, {entry.path});
    const LinkTarget target = resolveLink(entry.path, entry.linkTarget);
    if (!m_paths.contains(target.resolved))
        m_logger.add(Code::SymlinkTargetNotAllowed, {entry.path, target.remaining});
}

void PackageChecks::checkExtension(const FileInfo& entry)
{
    for (std::string_view ending : kForbiddenEndings) {
        if (entry.path.ends_with(ending)) {
            m_logger.add(Code::ForbiddenExtension, {entry.path});
            return;
        }
    }
}

void PackageChecks::checkEmptyDirectories()
{
    // Sorted, everything below a directory D follows D + "/" directly.
    std::vector<std::string_view> sorted(m_paths.begin(), m_paths.end());
    std::sort(sorted.begin(), sorted.end());
    for (const FileInfo& entry : m_meta->fileInfos()) {
        if (!S_ISDIR(static_cast<mode_t>(entry.mode)))
            continue;
        const std::string prefix = entry.path + "/";
        auto next = std::lower_bound(sorted.begin(), sorted.end(), std::string_view(prefix));
        if (next == sorted.end() || !next->starts_with(prefix))
            m_logger.add(Code::EmptyDirectory, {entry.path});
    }
}

} // namespace Validator
