// dumpdb: what the trust database holds.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <string>
#include <vector>

#include <torvel/Database.h>
#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "common/VisibleText.h"

using PackageSignatures::Database;

namespace SignTool {

namespace {

// The last eight characters are enough to tell a person's keys apart.
std::string shortKeyId(const std::string& keyId)
{
    constexpr size_t shown = 8;
    return keyId.size() <= shown ? keyId : keyId.substr(keyId.size() - shown);
}

template <typename... Arguments>
std::string format(const char* pattern, Arguments... arguments)
{
    std::string text(size_t(std::snprintf(nullptr, 0, pattern, arguments...)), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, arguments...);
    return text;
}

void printLine(const std::string& line)
{
    standardOutput() << QString::fromStdString(line);
}

// Each returns whether every query ran to its end; what was read before a
// failure is still printed.
bool dumpPackages(Database& database, bool longKeyIds)
{
    // Identifiers come from whoever installed the package and subjects
    // from its certificates: neither may end a line or drive the terminal.
    bool complete = true;
    const std::vector<std::string> storedIds = database.packages(complete);
    std::vector<std::string> ids;
    int width = 20;
    for (const std::string& id : storedIds) {
        ids.push_back(Common::visibleText(id));
        width = std::max(width, int(ids.back().size()));
    }
    // The packages read before a failure are shown; the first failure to
    // list a package's certificates ends the listing, as the next would
    // most likely fail the same way.
    bool listed = true;
    for (size_t i = 0; i < storedIds.size() && listed; ++i) {
        const auto certificates = database.packageCertificates(storedIds[i], listed);
        for (const auto& certificate : certificates) {
            const std::string keyId = longKeyIds ? certificate->keyId() : shortKeyId(certificate->keyId());
            const std::string group = PackageSignatures::groupToString(certificate->group());
            const std::string subgroup = PackageSignatures::subgroupToString(certificate->subgroup());
            const std::string subject = Common::visibleText(certificate->subject());
            const std::string line = format("%-*s %-9s %-9s %s \"%s\"\n", width, ids[i].c_str(), group.c_str(),
                                            subgroup.c_str(), keyId.c_str(), subject.c_str());
            printLine(line);
        }
    }
    standardOutput().flush();
    return complete && listed;
}

bool dumpCertificates(Database& database)
{
    bool complete = true;
    for (const PackageSignatures::Certificate& certificate : database.certificates(complete)) {
        printCertificateInfo(certificate);
        standardOutput() << "\n" << Qt::flush;
    }
    return complete;
}

bool dumpRevokedKeyIds(Database& database)
{
    bool complete = true;
    for (const std::string& keyId : database.revokedKeyids(complete))
        printLine(Common::visibleText(keyId) + "\n");
    standardOutput().flush();
    return complete;
}

} // namespace

int dumpDbCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption typeOption({"t", "type"}, "Type of data to dump ('packages', 'certificates' or 'revoked')",
                                        "type");
    const QCommandLineOption longKeyIdOption({"l", "long-keyid"}, "Do not shorten keyids when dumping packages.");
    parser.addOptions({typeOption, longKeyIdOption});
    parser.addPositionalArgument("db", "Path to database (omit to use default).", "[db]");
    parser.process(arguments);

    const QStringList positional = parser.positionalArguments();
    const std::string path =
        positional.isEmpty() ? Database::defaultPath() : argumentBytes(positional.first()).toStdString();
    // Looking inside must not create a database where there is none, and a
    // database that cannot be read is a failure, not an empty listing.
    struct stat status {};
    if (!path.empty() && ::stat(path.c_str(), &status) != 0) {
        standardError() << "Could not open database at " << QString::fromStdString(Common::visibleText(path)) << ": "
                        << std::strerror(errno) << "\n" << Qt::flush;
        return 1;
    }
    Database database(path);
    if (!database.connection())
        return 1;
    if (database.queryVersion() != Database::schemaVersion) {
        standardError() << "Could not read database at " << QString::fromStdString(Common::visibleText(path)) << "\n"
                        << Qt::flush;
        return 1;
    }

    const QString type = parser.value(typeOption).isEmpty() ? QString("packages") : parser.value(typeOption);
    bool complete = false;
    if (type == "packages") {
        complete = dumpPackages(database, parser.isSet(longKeyIdOption));
    } else if (type == "certificates") {
        complete = dumpCertificates(database);
    } else if (type == "revoked") {
        complete = dumpRevokedKeyIds(database);
    } else {
        standardError() << "Unknown type: " << visible(type) << "\n" << Qt::flush;
        return 1;
    }
    // The library has said why a query failed; a partial listing is no success.
    return complete ? 0 : 1;
}

} // namespace SignTool
