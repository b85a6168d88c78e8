#pragma once

#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Validator {

// At least three components separated by dots, none of them empty. One pass,
// so that a hostile name of any length costs linear time and constant stack.
bool isReverseDomain(std::string_view name);

// Names left behind by version control and editors.
inline constexpr std::string_view kForbiddenEndings[] = {".git", ".svn", ".hg", ".bzr", ".cvs", ".DS_Store", ".swp"};
// The one vendor that draws a warning rather than an error.
inline constexpr std::string_view kToleratedVendor = "kestil";
// What marks a file as a shared object, anywhere in its path.
inline constexpr std::string_view kSharedObjectMark = ".so";

// The package judged from its header alone, before any file is unpacked:
// name, vendor, dependencies, scripts, and every entry's type, modes,
// owners, link target and name. Its findings go to a store of its own, so
// its verdict is apart from that of the per-file validators.
class PackageChecks {
public:
    PackageChecks(const Config& config, const RpmMeta& meta);
    // Shares the model rather than copying it: a package of many files has
    // a large one.
    PackageChecks(const Config& config, std::shared_ptr<const RpmMeta> meta);

    void setColor(bool on) { Logger::setColor(on); }
    void setFindingSink(FindingSink* sink) { m_logger.setSink(sink); }
    void setRecording(const RecordingOptions& options) { m_logger.setRecording(options, m_name); }
    // True when the checks failed.
    bool run();

    // Whether group- or world-writable entries draw a warning rather than
    // an error under a profile.
    static bool toleratesWritableFiles(const Config& config);
    // Where a file with the owner's execute bit may lie: below one of the
    // program prefixes, or, when its path holds ".so", one of the plugin
    // prefixes. `name` is the package name.
    static std::vector<std::string> programPrefixes(const std::string& name);
    static std::vector<std::string> pluginPrefixes(const std::string& name);

private:
    void checkName();
    void checkVendor();
    void checkProvides();
    void checkConflicts();
    void checkObsoletes();
    void checkRequires();
    void checkScripts();
    void checkEntry(const FileInfo& entry);
    void checkRegularFile(const FileInfo& entry);
    void checkWritable(const FileInfo& entry, std::string_view kind);
    void checkLink(const FileInfo& entry);
    void checkExtension(const FileInfo& entry);
    void checkEmptyDirectories();

    bool isAllowedProvide(const std::string& provide) const;
    bool isAllowedExecutableLocation(const std::string& path) const;

    std::shared_ptr<const Config> m_config;
    std::shared_ptr<const RpmMeta> m_meta;
    Logger m_logger;
    std::string m_name;
    // Views into m_meta's paths, for the link targets.
    std::unordered_set<std::string_view> m_paths;
};

} // namespace Validator
