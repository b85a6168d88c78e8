#include "checks/manifest/ManifestRules.h"

#include "checks/manifest/ManifestMessages.h"
#include "core/Logger.h"

#include <boost/json.hpp>

#include <algorithm>
#include <limits>

namespace json = boost::json;

namespace Validator::ManifestRules {

namespace {

// The keys a manifest may hold and the kind of value each must have;
// minOSVersion has rules of its own.
struct KeyKind {
    std::string_view name;
    std::optional<json::kind> kind;
};

constexpr KeyKind kKnownKeys[] = {
    {"minOSVersion", std::nullopt},
    {"keepMediaActiveInBackground", json::kind::bool_},
};

const KeyKind* knownKey(std::string_view name)
{
    for (const KeyKind& key : kKnownKeys) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}

// The exclusive upper end of the release branch that a minimum version E
// opens: E without its last part, with the part before it raised by one,
// so 4.0.2 covers versions below 4.1. A one-part version such as 5 has no
// part before its last; it covers its own major release, below 6, so that
// it can never satisfy a system that a newer branch's minimum rejects.
// Parts are raised in 64 bits: a part may already be the largest 32-bit
// value.
std::vector<std::int64_t> branchBound(const Version& minimum)
{
    std::vector<std::int64_t> bound(minimum.begin(), minimum.end());
    if (bound.size() > 1)
        bound.pop_back();
    ++bound.back();
    return bound;
}

bool isBelow(const Version& version, const std::vector<std::int64_t>& bound)
{
    return std::lexicographical_compare(version.begin(), version.end(), bound.begin(), bound.end(),
                                        [](std::int64_t a, std::int64_t b) { return a < b; });
}

} // namespace

std::vector<KnownKey> knownKeys()
{
    std::vector<KnownKey> keys;
    for (const KeyKind& key : kKnownKeys)
        keys.push_back({key.name, key.kind ? std::string_view(json::to_string(*key.kind))
                                           : std::string_view("a version or a non-empty list of versions")});
    return keys;
}

std::optional<Version> parseVersion(std::string_view text)
{
    Version version;
    for (;;) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty())
            return std::nullopt;
        std::int64_t value = 0;
        for (const char c : part) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + (c - '0');
            if (value > std::numeric_limits<std::int32_t>::max())
                return std::nullopt;
        }
        version.push_back(static_cast<std::int32_t>(value));
        if (dot == std::string_view::npos)
            return version;
        text.remove_prefix(dot + 1);
    }
}

std::optional<Version> parseSystemVersion(std::string_view text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return parseVersion(text);
}

bool isCompatible(std::string_view systemText, const std::vector<std::string>& minimumVersions)
{
    // A system whose version cannot be read satisfies no minimum: nothing
    // shows that the application runs on it.
    const std::optional<Version> system = parseSystemVersion(systemText);
    if (!system)
        return false;
    std::vector<Version> minimums;
    for (const std::string& text : minimumVersions) {
        if (auto version = parseVersion(text))
            minimums.push_back(std::move(*version));
    }
    if (minimums.empty())
        return false;
    std::sort(minimums.begin(), minimums.end(), std::greater<>());
    if (*system >= minimums.front())
        return true;
    for (const Version& minimum : minimums) {
        if (*system >= minimum && isBelow(*system, branchBound(minimum)))
            return true;
    }
    return false;
}

void checkManifest(std::string_view text, const std::function<std::string()>& systemVersion, Logger& logger)
{
    // Default options: a document nested deeper than the parser's limit is
    // refused like any other invalid one, without recursion per level.
    json::error_code error;
    const json::value document = json::parse(text, error);
    if (error || !document.is_object()) {
        logger.add(ManifestMessage::InvalidJson);
        return;
    }
    const json::object& manifest = document.get_object();
    for (const json::key_value_pair& member : manifest) {
        const KeyKind* key = knownKey(member.key());
        if (!key)
            logger.add(ManifestMessage::UnknownKey, {member.key()});
        else if (key->kind && member.value().kind() != *key->kind)
            logger.add(ManifestMessage::WrongType, {member.key()});
    }

    const json::value* minimum = manifest.if_contains("minOSVersion");
    if (!minimum || minimum->is_null()) {
        logger.add(ManifestMessage::MissingMinOsVersion);
        return;
    }
    std::vector<std::string> minimums;
    if (minimum->is_string()) {
        minimums.emplace_back(minimum->get_string());
    } else if (minimum->is_array() && !minimum->get_array().empty()) {
        for (const json::value& entry : minimum->get_array()) {
            if (!entry.is_string()) {
                logger.add(ManifestMessage::InvalidMinOsVersion);
                return;
            }
            minimums.emplace_back(entry.get_string());
        }
    } else {
        logger.add(ManifestMessage::InvalidMinOsVersion);
        return;
    }

    if (!isCompatible(systemVersion(), minimums))
        logger.add(ManifestMessage::IncompatibleOsVersion);
}

} // namespace Validator::ManifestRules
