#include "core/TokenPin.h"

#include <algorithm>
#include <string_view>
#include <strings.h>

#include "common/VisibleText.h"
#include "core/RegularFile.h"

namespace PackageSignatures {

namespace {

constexpr std::string_view pinSource = "pin-source=";
constexpr std::string_view pinValue = "pin-value=";

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        const int high = i + 2 < text.size() ? Common::hexDigitValue(text[i + 1]) : -1;
        const int low = high < 0 ? -1 : Common::hexDigitValue(text[i + 2]);
        if (low < 0)
            return std::nullopt;
        decoded.push_back(char(high * 16 + low));
        i += 2;
    }
    return decoded;
}

// Everything but RFC 3986's unreserved characters, so no byte of the PIN can
// end the attribute or be taken for an escape.
std::string percentEncoded(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~') {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(hex[byte >> 4]);
            encoded.push_back(hex[byte & 0x0f]);
        }
    }
    return encoded;
}

// The PIN a pin-source value names, or nullopt with the reason.
std::optional<std::string> pinFromSource(std::string_view value, std::string& failure)
{
    const std::optional<std::string> decoded = percentDecoded(value);
    if (!decoded) {
        failure = "the pin-source \"" + Common::visibleText(value) + "\" is not percent-encoded correctly";
        return std::nullopt;
    }
    std::string path = *decoded;
    if (path.size() >= 5 && strncasecmp(path.c_str(), "file:", 5) == 0)
        path.erase(0, 5);
    else if (!path.empty() && path.front() == '|') {
        failure = "the pin-source \"" + Common::visibleText(path) + "\" is a command, and only files are read";
        return std::nullopt;
    }
    std::string reason;
    std::optional<std::string> contents = readRegularFile(path.c_str(), pinFileLimit, reason);
    if (!contents) {
        failure = "the PIN file \"" + Common::visibleText(path) + "\" cannot be read: " + reason;
        return std::nullopt;
    }
    std::string pin = contents->substr(0, contents->find('\n'));
    if (!pin.empty() && pin.back() == '\r')
        pin.pop_back();
    return pin;
}

} // namespace

std::optional<std::string> withPinSourcesRead(const std::string& uri, std::string& failure)
{
    // Attributes follow the scheme, separated by ';' in the path and by '?'
    // and '&' in the query, as the engine splits them.
    constexpr size_t schemeLength = sizeof "pkcs11:" - 1;
    std::string result = uri.substr(0, schemeLength);
    size_t position = schemeLength;
    while (position <= uri.size()) {
        const size_t end = std::min(uri.find_first_of(";?&", position), uri.size());
        const std::string_view attribute(uri.data() + position, end - position);
        if (attribute.size() >= pinSource.size()
            && strncasecmp(attribute.data(), pinSource.data(), pinSource.size()) == 0) {
            const std::optional<std::string> pin = pinFromSource(attribute.substr(pinSource.size()), failure);
            if (!pin)
                return std::nullopt;
            result.append(pinValue).append(percentEncoded(*pin));
        } else {
            result.append(attribute);
        }
        if (end == uri.size())
            break;
        result.push_back(uri[end]);
        position = end + 1;
    }
    return result;
}

} // namespace PackageSignatures
