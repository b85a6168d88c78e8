#include "checks/qml/QmlImports.h"

#include "checks/qml/QmlImportsMessages.h"
#include "checks/qml/QmlImportReader.h"
#include "package/PackagedFile.h"

namespace Validator {

namespace {

constexpr std::string_view kToolkitImport = "Pelora.Varnel 1.0";

bool isDirectoryImport(std::string_view entry)
{
    return entry.size() >= 2 && entry.front() == '"' && entry.back() == '"';
}

} // namespace

std::string joinLexically(std::string_view base, std::string_view relative)
{
    std::vector<std::string_view> components;
    const auto walk = [&components](std::string_view path) {
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view component = path.substr(0, slash);
            if (component == "..") {
                if (!components.empty())
                    components.pop_back();
            } else if (!component.empty() && component != ".") {
                components.push_back(component);
            }
            if (slash == std::string_view::npos)
                break;
            path.remove_prefix(slash + 1);
        }
    };
    walk(base);
    walk(relative);
    std::string joined;
    for (const std::string_view component : components) {
        joined += '/';
        joined += component;
    }
    return joined.empty() ? "/" : joined;
}

bool QmlImports::accepts(const std::string& path, const std::string&)
{
    return path.size() >= 4 && path.ends_with(".qml");
}

const std::unordered_set<std::string_view>& QmlImports::packagePaths()
{
    if (!m_packagePathsKnown) {
        m_packagePaths.insert(meta().paths().begin(), meta().paths().end());
        m_packagePathsKnown = true;
    }
    return m_packagePaths;
}

bool QmlImports::isLocalImport(std::string_view directory) const
{
    const std::string_view fileDirectory = std::string_view(m_path).substr(0, m_path.rfind('/') + 1);
    const std::string resolved = joinLexically(fileDirectory, directory);
    const std::string qmlDirectory = config().shareDir() + meta().name() + "/qml/";
    return m_packagePaths.count(resolved) != 0 && resolved.starts_with(qmlDirectory);
}

void QmlImports::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    std::vector<std::string> entries;
    if (auto file = PackagedFile::open(unpackedTree(), m_path))
        entries = readQmlImports(*file);
    packagePaths();

    // A directory import is resolved against the file that names it, so it
    // is judged with every file; any other import once per package.
    std::vector<const std::string*> toJudge;
    for (const std::string& entry : entries) {
        if (entry == kToolkitImport)
            logger().setFlag(Flag::ImportsVarnel, true);
        if (isDirectoryImport(entry) || m_imports.insert(entry).second)
            toJudge.push_back(&entry);
    }

    // Directory imports first, then the classification of what is left,
    // each in the order the imports were read.
    std::vector<const std::string*> toClassify;
    for (const std::string* entry : toJudge) {
        if (isDirectoryImport(*entry)) {
            const std::string_view directory = std::string_view(*entry).substr(1, entry->size() - 2);
            if (directory.starts_with('/')) {
                logger().add(QmlImportsMessage::ImportNotAllowed, {*entry});
            } else if (isLocalImport(directory)) {
                continue;
            }
        }
        toClassify.push_back(entry);
    }
    for (const std::string* entry : toClassify)
        classify(*entry);
}

void QmlImports::classify(const std::string& entry)
{
    if (config().allowedImports().matches(entry))
        return;
    if (config().unstableImports().matches(entry) || config().deprecatedImports().matches(entry))
        logger().add(QmlImportsMessage::ImportUnstable, {entry});
    else if (config().reservedImportPatterns().matches(entry))
        logger().add(QmlImportsMessage::ImportNotAllowed, {entry});
}

void QmlImports::finish()
{
    if (logger().getFlag(Flag::ImportsVarnel) && !logger().getFlag(Flag::VarnelQt5Declared))
        logger().add(QmlImportsMessage::VarnelApplicationType);
}

} // namespace Validator
