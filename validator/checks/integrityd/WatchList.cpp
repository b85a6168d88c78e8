#include "checks/integrityd/WatchList.h"

#include "checks/integrityd/JsonGlib.h"
#include "common/GlibHandles.h"

#include <algorithm>

namespace Validator {

std::size_t jsonGlibNestingDepth(std::string_view text)
{
    enum class State { Structure, DoubleQuoted, Escaped, SingleQuoted, Comment };
    State state = State::Structure;
    std::size_t depth = 0;
    std::size_t deepest = 0;
    for (const char c : text) {
        switch (state) {
        case State::Structure:
            if (c == '[' || c == '{') {
                deepest = std::max(deepest, ++depth);
            } else if (c == ']' || c == '}') {
                if (depth > 0)
                    --depth;
            } else if (c == '"') {
                state = State::DoubleQuoted;
            } else if (c == '\'') {
                state = State::SingleQuoted;
            } else if (c == '/') {
                state = State::Comment;
            }
            break;
        case State::DoubleQuoted:
            if (c == '\\')
                state = State::Escaped;
            else if (c == '"')
                state = State::Structure;
            break;
        case State::Escaped:
            state = State::DoubleQuoted;
            break;
        case State::SingleQuoted:
            if (c == '\'')
                state = State::Structure;
            break;
        case State::Comment:
            if (c == '/')
                state = State::Structure;
            break;
        }
    }
    return deepest;
}

namespace {

std::string_view withoutKindPrefix(std::string_view entry)
{
    if (entry.starts_with("file:"))
        entry.remove_prefix(5);
    else if (entry.starts_with("elf:"))
        entry.remove_prefix(4);
    return entry;
}

} // namespace

WatchListVerdict checkWatchList(std::string_view text, const std::function<bool(std::string_view)>& isPackagePath)
{
    if (jsonGlibNestingDepth(text) > kMaxWatchListDepth)
        return WatchListVerdict::InvalidJson;
    const JsonGlib& json = JsonGlib::get();
    Common::Glib::ObjectHandle<JsonParser> parser(json.parserNew());
    GError* rawError = nullptr;
    const gboolean parsed =
        json.parserLoadFromData(parser.get(), text.data(), static_cast<gssize>(text.size()), &rawError);
    Common::Glib::ErrorHandle error(rawError);
    if (!parsed)
        return WatchListVerdict::InvalidJson;

    // The accessors are asked only for what a node holds: json-glib answers
    // a question of the wrong kind with a critical warning on standard error.
    const auto holds = [&](JsonNode* node, JsonNodeType type) { return node && json.nodeGetNodeType(node) == type; };
    JsonNode* root = json.parserGetRoot(parser.get());
    if (!holds(root, JSON_NODE_OBJECT))
        return WatchListVerdict::Matches;
    JsonNode* watch = json.objectGetMember(json.nodeGetObject(root), "watch");
    if (!holds(watch, JSON_NODE_ARRAY))
        return WatchListVerdict::Matches;
    JsonArray* entries = json.nodeGetArray(watch);
    const guint count = json.arrayGetLength(entries);
    for (guint i = 0; i < count; ++i) {
        JsonNode* element = json.arrayGetElement(entries, i);
        if (!holds(element, JSON_NODE_VALUE) || json.nodeGetValueType(element) != G_TYPE_STRING)
            return WatchListVerdict::Mismatch;
        const char* entry = json.nodeGetString(element);
        if (!entry || !isPackagePath(withoutKindPrefix(entry)))
            return WatchListVerdict::Mismatch;
    }
    return WatchListVerdict::Matches;
}

} // namespace Validator
