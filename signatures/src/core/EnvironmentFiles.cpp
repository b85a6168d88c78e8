#include "core/EnvironmentFiles.h"

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/VisibleText.h"
#include "core/RegularFile.h"

namespace PackageSignatures {

namespace {

// Opened the way every file of the library is (without blocking, its type
// taken from the descriptor) and closed again at once.
bool isRegularFile(const std::string& path, std::string& reason)
{
    return bool(openRegularFile(path.c_str(), O_RDONLY, reason));
}

bool presentOnlyAsRegularFile(const char* variable, const std::string& path, std::string& failure)
{
    struct stat status;
    std::string reason;
    if (::stat(path.c_str(), &status) != 0 || isRegularFile(path, reason))
        return true;
    failure = std::string(variable) + " \"" + Common::visibleText(path) + "\": " + reason;
    return false;
}

} // namespace

bool openSslConfigurationOpenable(std::string& failure)
{
    const char* path = std::getenv("OPENSSL_CONF");
    return path == nullptr || presentOnlyAsRegularFile("OPENSSL_CONF", path, failure);
}

bool engineModuleOpenable(const char* id, std::string& failure)
{
    // OpenSSL's dynamic engine loader looks for exactly <directory>/<id>.so.
    const char* directory = std::getenv("OPENSSL_ENGINES");
    return directory == nullptr
           || presentOnlyAsRegularFile("OPENSSL_ENGINES", std::string(directory) + "/" + id + ".so", failure);
}

bool tokenModuleOpenable(std::string& failure)
{
    const char* path = std::getenv("PKCS11_MODULE_PATH");
    if (path == nullptr)
        return true;
    const std::string shown = "PKCS11_MODULE_PATH \"" + Common::visibleText(path) + "\"";
    if (std::strchr(path, '/') == nullptr) {
        failure = shown + " is not a path (the module is loaded from its path only)";
        return false;
    }
    std::string reason;
    if (isRegularFile(path, reason))
        return true;
    failure = shown + ": " + reason;
    return false;
}

} // namespace PackageSignatures
