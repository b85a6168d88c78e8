#pragma once

// Stand-in for the platform's parameter-file library (libparamcheck), which
// is not available on the build machine. It offers the four calls vetrik
// makes and a narrow rule of its own:
//
// - A configuration parameter file of package N is a file
//   /usr/share/N/managed-configuration/<schema>.json, where <schema> is one
//   path component of letters, digits, "_", "-" and "." that does not
//   start with ".". Nothing else is ever claimed.
// - Its schema is <schemas directory>/<schema>.json; the standard schemas
//   directory is usr/share/managed-configuration/schemas below the platform
//   root ($KVD_ROOT_FS, else /).
// - A schema is a JSON object: "parameters" maps each parameter name to
//   its type ("string", "boolean", "integer", "number", "array" or
//   "object"); the optional "required" lists the names that must be
//   present.
// - A parameter file is valid when it is a JSON object, each of its
//   members is a parameter of the schema with a value of the declared
//   type, and every required parameter is present. Without a readable
//   schema no file is valid.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ManagedConfiguration::Validator {

class CPFValidator {
public:
    static std::string standardSchemasDirectory();
    static std::shared_ptr<CPFValidator> instance(const std::filesystem::path& schemasDirectory);

    // `filePath` is the path as installed.
    bool isConfigurationParameterFile(const std::string& packageName, const std::string& filePath) const;
    // `filePath` is where the file can be read now.
    bool isValid(const std::string& filePath) const;
    // The same for a file the caller opened for reading and still owns;
    // `filePath` only names the schema. It is read from where it stands.
    bool isValidFromDescriptor(int fd, const std::string& filePath) const;

private:
    explicit CPFValidator(std::filesystem::path schemasDirectory) : m_schemasDirectory(std::move(schemasDirectory)) {}

    // The file named `filePath`, its text given by `readText` once its
    // name was found to name a schema.
    bool isValidText(const std::string& filePath, const std::function<std::optional<std::string>()>& readText) const;

    std::filesystem::path m_schemasDirectory;
};

} // namespace ManagedConfiguration::Validator
