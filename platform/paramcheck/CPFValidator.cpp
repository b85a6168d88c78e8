#include "ManagedConfiguration/CPFValidator.h"

#include "common/PosixIo.h"
#include "common/UniqueFd.h"

#include <boost/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace json = boost::json;

namespace ManagedConfiguration::Validator {

namespace {

constexpr std::string_view kDirectory = "/managed-configuration/";
constexpr std::string_view kExtension = ".json";
// Parameter files and schemas hold a few settings each.
constexpr std::size_t kMaxFileBytes = 1 << 20;

bool isSchemaName(std::string_view name)
{
    if (name.empty() || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
            || c == '.';
    });
}

// The text of an open file when it is a regular file of at most
// kMaxFileBytes.
std::optional<std::string> readRegularDescriptor(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t done = Common::readFull(fd, data.data(), data.size());
    data.resize(done < 0 ? 0 : static_cast<std::size_t>(done));
    return data;
}

// The file's text when it is a regular file of at most kMaxFileBytes. The
// files may come from packages: a link to a FIFO or a device must neither
// block the open nor be read.
std::optional<std::string> readRegularFile(const std::string& path)
{
    const Common::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return std::nullopt;
    return readRegularDescriptor(fd.get());
}

std::optional<json::object> parseObject(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    json::error_code error;
    json::value value = json::parse(*text, error);
    if (error || !value.is_object())
        return std::nullopt;
    return std::move(value.get_object());
}

bool hasType(const json::value& value, std::string_view type)
{
    if (type == "string")
        return value.is_string();
    if (type == "boolean")
        return value.is_bool();
    if (type == "integer")
        return value.is_int64() || value.is_uint64();
    if (type == "number")
        return value.is_number();
    if (type == "array")
        return value.is_array();
    if (type == "object")
        return value.is_object();
    return false;
}

} // namespace

std::string CPFValidator::standardSchemasDirectory()
{
    const char* root = std::getenv("KVD_ROOT_FS");
    return (std::filesystem::path(root ? root : "/") / "usr/share/managed-configuration/schemas").string();
}

std::shared_ptr<CPFValidator> CPFValidator::instance(const std::filesystem::path& schemasDirectory)
{
    return std::shared_ptr<CPFValidator>(new CPFValidator(schemasDirectory));
}

bool CPFValidator::isConfigurationParameterFile(const std::string& packageName, const std::string& filePath) const
{
    const std::string prefix = "/usr/share/" + packageName + std::string(kDirectory);
    if (packageName.empty() || !filePath.starts_with(prefix) || !filePath.ends_with(kExtension))
        return false;
    const std::string_view name =
        std::string_view(filePath).substr(prefix.size(), filePath.size() - prefix.size() - kExtension.size());
    return isSchemaName(name);
}

bool CPFValidator::isValid(const std::string& filePath) const
{
    return isValidText(filePath, [&filePath] { return readRegularFile(filePath); });
}

bool CPFValidator::isValidFromDescriptor(int fd, const std::string& filePath) const
{
    return isValidText(filePath, [fd] { return readRegularDescriptor(fd); });
}

bool CPFValidator::isValidText(const std::string& filePath,
                               const std::function<std::optional<std::string>()>& readText) const
{
    const std::string fileName = std::filesystem::path(filePath).filename().string();
    if (!fileName.ends_with(kExtension) || !isSchemaName(fileName.substr(0, fileName.size() - kExtension.size())))
        return false;
    const std::optional<json::object> schema = parseObject(readRegularFile((m_schemasDirectory / fileName).string()));
    const std::optional<json::object> parameters = parseObject(readText());
    if (!schema || !parameters)
        return false;
    const json::value* declared = schema->if_contains("parameters");
    if (!declared || !declared->is_object())
        return false;
    for (const json::key_value_pair& member : *parameters) {
        const json::value* type = declared->get_object().if_contains(member.key());
        if (!type || !type->is_string() || !hasType(member.value(), type->get_string()))
            return false;
    }
    if (const json::value* required = schema->if_contains("required")) {
        if (!required->is_array())
            return false;
        for (const json::value& name : required->get_array()) {
            if (!name.is_string() || !parameters->contains(name.get_string()))
                return false;
        }
    }
    return true;
}

} // namespace ManagedConfiguration::Validator
