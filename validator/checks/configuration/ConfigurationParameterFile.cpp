#include "checks/configuration/ConfigurationParameterFile.h"

#include "checks/configuration/ManagedConfigurationMessages.h"
#include "package/PackagedFile.h"

#include <ManagedConfiguration/CPFValidator.h>

namespace Validator {

namespace {

using ManagedConfiguration::Validator::CPFValidator;

std::shared_ptr<CPFValidator> parameterFiles()
{
    return CPFValidator::instance(CPFValidator::standardSchemasDirectory());
}

} // namespace

bool ConfigurationParameterFile::accepts(const std::string& path, const std::string&)
{
    return parameterFiles()->isConfigurationParameterFile(meta().name(), path);
}

void ConfigurationParameterFile::validate(const std::string& path, const std::string& fullPath)
{
    // Opened here, beneath the extraction root: the library would follow
    // a link of the package onto this machine.
    const std::optional<PackagedFile> file = PackagedFile::open(unpackedTree(), path);
    if (!file || !parameterFiles()->isValidFromDescriptor(file->fd(), fullPath))
        logger().add(ManagedConfigurationMessage::InvalidParameterFile, {path});
}

} // namespace Validator
