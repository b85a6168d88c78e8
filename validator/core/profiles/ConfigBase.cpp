#include "core/profiles/ConfigBase.h"

#include "package/Filesystem.h"
#include "package/Log.h"
#include "package/PackagedFile.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <optional>
#include <sstream>

namespace Configuration {

namespace {

constexpr std::size_t kLargestSettingsFile = 1 << 20;

} // namespace

bool readValidationEnabled()
{
    using boost::property_tree::ini_parser_error;
    const std::string path = (Validator::Filesystem::rootFs() / "var/lib/developer-moded/developer-moded.conf").string();
    try {
        // Read as a regular file only: a named pipe in its place would block.
        // The errors say what read_ini(path) would say.
        auto file = Validator::PackagedFile::openHostFile(path);
        std::optional<std::string> text = file ? file->readAll(kLargestSettingsFile) : std::nullopt;
        if (!text)
            throw ini_parser_error("cannot open file", path, 0);
        std::istringstream stream(*text);
        boost::property_tree::ptree tree;
        try {
            boost::property_tree::ini_parser::read_ini(stream, tree);
        } catch (const ini_parser_error& e) {
            throw ini_parser_error(e.message(), path, e.line());
        }
        if (!tree.get_optional<std::string>("developermode.validationEnabled")) {
            Validator::printError("Config parameter 'developermode.validationEnabled' in developer-moded.conf not found. "
                                  "Using default value for validation enabled: true");
            return true;
        }
        return tree.get<bool>("developermode.validationEnabled");
    } catch (const std::exception& e) {
        Validator::printError(std::string("Error reading developer-moded.conf: ") + e.what()
                              + ". Using default value for validation enabled: true");
        return true;
    }
}

ConfigBase::ConfigBase()
{
    m_reservedImportPatterns.addExpression(R"(^Bluetooth\..*$)");
    m_reservedImportPatterns.addExpression(R"(^Kestil\..*$)");
    m_reservedImportPatterns.addExpression(R"(^Dunmor\..*$)");
    m_reservedImportPatterns.addExpression(R"(^Olvex\..*$)");
    m_reservedImportPatterns.addExpression(R"(^OlvexMobile\..*$)");
    m_reservedImportPatterns.addExpression(R"(^Pelora\..*$)");
    m_reservedImportPatterns.addExpression(R"(^Qt.*$)");
    m_reservedImportPatterns.addExpression(R"(^org.olvexmobile\..*$)");
    m_reservedImportPatterns.addExpression(R"(^org.peloraos\..*$)");
    m_reservedImportPatterns.addExpression(R"(^com.brelli\..*$)");
    m_reservedImportPatterns.addExpression(R"(^com.nokia\..*$)");
    m_reservedImportPatterns.addExpression(R"(^com.kestil\..*$)");
    m_reservedImportPatterns.addExpression(R"(^org.kde.bluezqt$)");
    m_reservedImportPatterns.addExpression(R"(^Taliro\..*$)");
    m_forbiddenMimeHandlers.addName("application/x-rpm");
    m_iconSizes = {86, 108, 128, 172};
    m_binDir = "/usr/bin/";
    m_shareDir = "/usr/share/";
    m_applicationsDir = "/usr/share/applications/";
    m_iconsDir = "/usr/share/icons/hicolor/";
    m_libexecDir = "/usr/libexec/";
    m_extraInstallPaths.addName("/manifest.json");
}

} // namespace Configuration
