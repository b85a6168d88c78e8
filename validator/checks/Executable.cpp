#include "checks/Executable.h"

#include "checks/BinaryMessages.h"
#include "checks/ElfReader.h"
#include "checks/qml/QmlImportsMessages.h"
#include "package/Filesystem.h"

#include <algorithm>
#include <elf.h>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace fs = std::filesystem;

namespace Validator {

namespace {

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// What a text stream takes for white space.
constexpr std::string_view kSpaces = " \t\n\v\f\r";
constexpr std::size_t npos = std::string_view::npos;

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kSpaces);
    if (first == npos)
        return {};
    const auto last = text.find_last_not_of(kSpaces);
    return std::string(text.substr(first, last - first + 1));
}

// A ".." component would lead out of the directory that an allowed run
// path element starts with: /usr/lib/../../tmp is /tmp.
bool hasParentStep(std::string_view path)
{
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        if (path.substr(0, slash) == "..")
            return true;
        if (slash == npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return false;
}

// Digits, one dot, digits: 2.0 and 1.15, but not 1, 1.0.1 or v1.0. Checked
// by hand: a regular expression recurses once per character, and a word in
// read-only data can be megabytes long.
bool isImportVersion(std::string_view word)
{
    const auto digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t dot = word.find('.');
    return dot != npos && digits(word.substr(0, dot)) && digits(word.substr(dot + 1));
}

// The next white-space separated word of `line` from `from` on, which is
// moved past it; empty when there is none.
std::string_view nextWord(std::string_view line, std::size_t& from)
{
    const std::size_t start = line.find_first_not_of(kSpaces, from);
    if (start == npos) {
        from = line.size();
        return {};
    }
    const std::size_t end = std::min(line.find_first_of(kSpaces, start), line.size());
    from = end;
    return line.substr(start, end - start);
}

// "import <module> <version>" lines of read-only data, as "module version".
// A line runs from an occurrence of "import" to the next newline. The
// occurrences of one line share that newline, and those inside one first
// word share the module and version after it, so each is looked up once: a
// section that holds nothing but "import" costs one pass over it, not one
// per occurrence.
std::set<std::string> compiledImports(std::string_view data)
{
    static constexpr std::string_view kImport = "import";
    std::set<std::string> imports;
    std::size_t lineEnd = 0;
    std::size_t firstWordEnd = 0;
    std::size_t examinedWordEnd = npos;
    for (std::size_t at = data.find(kImport); at != npos; at = data.find(kImport, at + kImport.size())) {
        // An occurrence never starts on white space, so a cached position
        // equal to it is stale too.
        if (lineEnd <= at) {
            lineEnd = data.find('\n', at);
            if (lineEnd == npos)
                break;
        }
        if (firstWordEnd <= at)
            firstWordEnd = data.find_first_of(kSpaces, at);  // at most lineEnd
        if (firstWordEnd == examinedWordEnd)
            continue;
        examinedWordEnd = firstWordEnd;
        const std::string_view line = data.substr(0, lineEnd);
        std::size_t from = firstWordEnd;
        const std::string_view module = nextWord(line, from);
        const std::string_view version = nextWord(line, from);
        if (!module.empty() && isImportVersion(version))
            imports.insert(std::string(module) + " " + std::string(version));
    }
    return imports;
}

// L less a leading "lib" (when L is longer than 2 bytes), then less a
// trailing ".so" (when what is left is at least 3 bytes long).
std::string libraryStem(const std::string& library)
{
    std::string stem = library;
    if (stem.size() > 2 && stem.starts_with("lib"))
        stem.erase(0, 3);
    if (stem.size() >= 3 && stem.compare(stem.size() - 3, 3, ".so") == 0)
        stem.resize(stem.size() - 3);
    return stem;
}

} // namespace

bool Executable::ownerExecutable() const
{
    return Validator::Filesystem::hasPermission(unpackedTree(), m_path, fs::perms::owner_exec);
}

bool Executable::accepts(const std::string& path, const std::string&)
{
    if (path == "/usr/bin/" + meta().name())
        return true;
    return Validator::Filesystem::hasPermission(unpackedTree(), path, fs::perms::owner_exec);
}

void Executable::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    m_reader = ElfReader::fromPackage(unpackedTree(), path);
    if (!m_reader) {
        logger().add(BinaryMessage::WrongFormatOrEncoding, {m_path});
        return;
    }
    if (m_path == config().binDir() + meta().name()) {
        logger().setFlag(Flag::MainBinaryExamined, true);
        checkLibraries();
        checkSearchPath();
        checkSymbols();
    }
    if (!m_reader->isValid()) {
        logger().add(BinaryMessage::WrongFormatOrEncoding, {m_path});
    } else {
        logger().setFlag(Flag::ArchSpecificContent, true);
        if (meta().arch() == "noarch")
            logger().add(BinaryMessage::ArchContentInNoarch);
        if (ownerExecutable())
            checkLocation();
    }
    checkCompiledImports();
    m_reader.reset();
}

void Executable::checkLocation()
{
    const std::string& name = meta().name();
    if (contains(m_path, config().binDir() + name))
        logger().setFlag(Flag::ExecutableInBinDir, true);
    else if (m_path.starts_with(config().libexecDir() + name + "/"))
        return;
    else if (contains(m_path, ".so"))
        return;  // a shared library
    else
        logger().add(BinaryMessage::WrongLocation, {m_path});
}

bool Executable::packageShipsLibrary(const std::string& library, const PathSet& paths) const
{
    const std::string& name = meta().name();
    const std::string share = config().shareDir() + name + "/";
    const std::string thirdParty = "/usr/lib/3rdparty/" + name + "/";
    const std::string stem = libraryStem(library);
    const std::string candidates[] = {
        share + "lib/" + library,
        share + "libs/" + library,
        share + "lib/qmlplugins/" + stem + "/" + library,
        share + "libs/qmlplugins/" + stem + "/" + library,
        thirdParty + library,
        thirdParty + "lib/" + library,
        thirdParty + "qmlplugins/" + stem + "/" + library,
        thirdParty + "lib/qmlplugins/" + stem + "/" + library,
    };
    return std::any_of(std::begin(candidates), std::end(candidates),
                       [&](const std::string& candidate) { return paths.count(candidate) != 0; });
}

void Executable::checkLibraries()
{
    std::vector<std::string> unlisted;
    m_reader->forEachDynamicEntry([&](const ElfDynamicEntry& entry) {
        if (entry.tag == DT_NEEDED && !config().allowedLibraries().matches(entry.value))
            unlisted.push_back(entry.value);
        return false;
    });
    // Warnings keep the order of the dynamic section; errors come sorted.
    std::vector<std::pair<BinaryMessage, std::string>> findings;
    std::vector<std::string> rejected;
    for (const std::string& library : unlisted) {
        if (config().unstableLibraries().matches(library) || config().deprecatedLibraries().matches(library))
            findings.emplace_back(BinaryMessage::LibraryUnstable, library);
        else
            rejected.push_back(library);
    }
    std::sort(rejected.begin(), rejected.end());
    rejected.erase(std::unique(rejected.begin(), rejected.end()), rejected.end());
    // A hostile file may need thousands of libraries; each candidate is then
    // one look-up, not one pass over the package's paths.
    const PathSet paths(meta().paths().begin(), meta().paths().end());
    for (const std::string& library : rejected) {
        if (packageShipsLibrary(library, paths))
            logger().setFlag(Flag::NeedsShippedLibrary, true);
        else
            findings.emplace_back(BinaryMessage::LibraryNotAllowed, library);
    }
    for (const auto& [message, library] : findings)
        logger().add(message, {library});
}

void Executable::checkSearchPath()
{
    const std::string& rpath = m_reader->rpath();
    if (rpath.empty())
        return;
    logger().setFlag(Flag::HasRpath, true);
    const std::vector<std::string> allowed = allowedRunPaths(meta().name());
    std::istringstream elements(rpath);
    std::string element;
    bool allAllowed = true;
    while (std::getline(elements, element, ':')) {
        element = trimmed(element);
        if (element.empty())
            continue;
        const bool ok = std::any_of(allowed.begin(), allowed.end(), [&](const std::string& prefix) {
            return element == prefix
                || (element.starts_with(prefix + "/") && !hasParentStep(std::string_view(element).substr(prefix.size())));
        });
        allAllowed = allAllowed && ok;
    }
    if (allAllowed)
        logger().setFlag(Flag::RpathAllowed, true);
}

void Executable::checkSymbols()
{
    m_reader->forEachSymbol([&](const ElfSymbol& symbol) {
        if (symbol.name == "__libc_start_main")
            logger().setFlag(Flag::LinksLibcStartMain, true);
        else if (symbol.name == "main")
            logger().setFlag(Flag::ExportsMain, true);
        else
            logger().setFlag(Flag::HasOtherSymbols, true);
    });
}

void Executable::checkCompiledImports()
{
    const std::set<std::string> imports = compiledImports(m_reader->rodataRange());
    if (imports.count("Pelora.Varnel 1.0"))
        logger().setFlag(Flag::ImportsVarnel, true);
    for (const std::string& import : imports) {
        if (!config().allowedImports().matches(import))
            logger().add(QmlImportsMessage::OnlyAllowedImports, {import});
    }
}

std::vector<std::string> Executable::allowedRunPaths(const std::string& name)
{
    return {
        "$ORIGIN/../share/" + name + "/lib",
        "/usr/share/" + name + "/lib",
        "/usr/share/" + name + "/libs",
        "/usr/lib/3rdparty/" + name,
        "/usr/lib",
        "/usr/lib64",
    };
}

bool Executable::checksMainBinary(const Config& config)
{
    return config.name() != "pwa";
}

void Executable::finish()
{
    if (!checksMainBinary(config()))
        return;
    Logger& log = logger();
    const auto flag = [&](Flag f) { return log.getFlag(f); };
    const bool qmlOnly = flag(Flag::QmlOnlyApp);
    const bool mainExamined = flag(Flag::MainBinaryExamined);
    if (mainExamined && qmlOnly)
        log.add(BinaryMessage::MainBinaryMustNotExist);
    if (!qmlOnly && !mainExamined)
        log.add(BinaryMessage::MainBinaryMissing);
    if (!qmlOnly && !flag(Flag::ExecutableInBinDir))
        log.add(BinaryMessage::MainBinaryNotExecutable);
    if (mainExamined && !flag(Flag::LinksLibcStartMain))
        log.add(BinaryMessage::NoLibcStartMain);
    if (mainExamined && !flag(Flag::ExportsMain)) {
        if (flag(Flag::HasOtherSymbols) && flag(Flag::ImportsVarnel))
            log.add(BinaryMessage::MainMustBeExported);
        else
            log.add(BinaryMessage::MainNotExported);
    }
    if (!qmlOnly) {
        // Without a run path, it is only acceptable when no shipped library
        // has to be found through it.
        if (!flag(Flag::HasRpath)) {
            log.setFlag(Flag::RpathAllowed, !flag(Flag::NeedsShippedLibrary));
            log.add(BinaryMessage::RpathEmpty);
        }
        if (!flag(Flag::RpathAllowed))
            log.add(flag(Flag::HasRpath) ? BinaryMessage::RpathNotAllowed : BinaryMessage::RpathMissing);
    }
}

} // namespace Validator
