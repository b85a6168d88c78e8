#include "package/RpmConfiguration.h"

#include "common/LibcHandles.h"
#include "package/Log.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include <rpm/rpmlib.h>
#include <rpm/rpmmacro.h>

namespace Common::Rpm {

namespace {

// librpm's configuration is process-wide; loading it once is enough, and a
// failed load is retried by the next reader.
bool g_configurationLoaded = false;

// The definition some systems give %{_dbpath}: every expansion of it starts
// sh, which starts bash, only to learn the home directory.
constexpr const char* kShellDatabasePath = "%(bash -c 'echo ~/.rpmdb')";

// Percent signs would start a macro when the body is expanded.
std::string macroBody(const std::string& text)
{
    std::string body;
    for (const char c : text) {
        body += c;
        if (c == '%')
            body += '%';
    }
    return body;
}

// Replaces that definition by the directory it would print, so that
// reading the keyring (%{_dbpath}/rpmdb.sqlite) starts no process. Any
// other definition, a user's own among them, is left as it is.
void defineDatabasePathWithoutShell()
{
    const Libc::CStringHandle body(rpmExpand("%{macrobody:_dbpath}", nullptr));
    if (!body || std::string(body.get()) != kShellDatabasePath)
        return;
    rpmPushMacro(nullptr, "_dbpath", nullptr, macroBody(userDatabasePath(std::getenv("HOME"))).c_str(), RMIL_CMDLINE);
}

} // namespace

std::string userDatabasePath(const char* home)
{
    if (home)
        return std::string(home) + "/.rpmdb";
    // getpwuid's buffer is the C library's own; only the text is kept.
    const passwd* entry = ::getpwuid(::getuid());
    return std::string(entry && entry->pw_dir ? entry->pw_dir : "") + "/.rpmdb";
}

bool loadConfigurationQuietly()
{
    if (!g_configurationLoaded && rpmReadConfigFiles(nullptr, nullptr) == 0) {
        g_configurationLoaded = true;
        defineDatabasePathWithoutShell();
    }
    return g_configurationLoaded;
}

void loadConfiguration()
{
    if (!loadConfigurationQuietly())
        Validator::logWarning() << "Couldn't read RPM configuration files";
}

} // namespace Common::Rpm
