#include "package/PackageCmses.h"

#include <torvel/CertificateFunctions.h>
#include <torvel/FileWithCmses.h>

#include "common/OpenSslHandles.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "package/Error.h"

namespace Validator {

std::vector<PackageSignatures::Cms> readPackageCmses(const std::string& path)
{
    // Read-write first, read-only as the fallback: the validator only reads,
    // but the library's own notice about the fallback is worth seeing.
    const auto file = PackageSignatures::FileWithCmses::fromPath(path);
    if (!file)
        throw Common::Error(Common::ErrorCode::FileNotFound, "Couldn't open RPM package for reading cmses: " + path);
    return file->cmses();
}

PackageSignatures::Certificate developerCertificate(const std::vector<PackageSignatures::Cms>& cmses)
{
    const auto developer = PackageSignatures::developerCmsFromVector(cmses);
    if (!developer)
        throw Common::Error(Common::ErrorCode::MissingDeveloperSignature, "Package doesn't have developer certificate");
    return *developer->certificate();
}

PackageSignatures::PackageVerification verifyDeveloperBlock(const std::string& path, const std::string& caBundle)
{
    // Read-only: a check has no business asking for more, nor for the
    // library's notice about falling back to it.
    const auto file = PackageSignatures::FileWithCmses::fromPath(path.c_str(), "r");
    if (!file)
        throw Common::Error(Common::ErrorCode::FileNotFound, "the package cannot be opened: " + path);
    return file->inspectFirstBlock(caBundle.c_str());
}

std::optional<std::string> caBundleProblem(const std::string& path)
{
    if (path.empty())
        return std::string("no CA bundle is configured (root_ca_cert_path); name one with --ca-bundle");
    // Looked at before anything opens it: a FIFO would hold the open up.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return std::string(std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        return std::string("it is not a regular file");
    if (status.st_size == 0)
        return std::string("it is empty");
    const Common::OpenSsl::X509StoreHandle store(certificate_store_read(path.c_str()));
    if (!store)
        return std::string("it cannot be read");
    if (sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get())) == 0)
        return std::string("it holds no PEM certificate");
    return std::nullopt;
}

} // namespace Validator
