// Feeds arbitrary watch lists to the integrity daemon's check. For every
// document json-glib accepts, the nesting it built must not be deeper than
// the pre-scan said: a deeper one would mean the pre-scan misreads
// json-glib's lexer and could let a deeply nested document through to its
// recursive parser.

#include "checks/integrityd/WatchList.h"

#include "common/GlibHandles.h"

#include <json-glib/json-glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace {

std::size_t treeDepth(JsonNode* root)
{
    std::size_t deepest = 0;
    std::vector<std::pair<JsonNode*, std::size_t>> pending;
    if (root)
        pending.emplace_back(root, 0);
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        if (JSON_NODE_HOLDS_ARRAY(node)) {
            deepest = std::max(deepest, depth + 1);
            JsonArray* array = json_node_get_array(node);
            for (guint i = 0; i < json_array_get_length(array); ++i)
                pending.emplace_back(json_array_get_element(array, i), depth + 1);
        } else if (JSON_NODE_HOLDS_OBJECT(node)) {
            deepest = std::max(deepest, depth + 1);
            GList* members = json_object_get_values(json_node_get_object(node));
            for (GList* member = members; member; member = member->next)
                pending.emplace_back(static_cast<JsonNode*>(member->data), depth + 1);
            g_list_free(members);
        }
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Validator::checkWatchList(text, [](std::string_view path) { return path == "/usr/bin/app"; });

    const std::size_t estimate = Validator::jsonGlibNestingDepth(text);
    if (estimate > Validator::kMaxWatchListDepth)
        return 0;
    Common::Glib::ObjectHandle<JsonParser> parser(json_parser_new());
    GError* rawError = nullptr;
    if (json_parser_load_from_data(parser.get(), text.data(), static_cast<gssize>(text.size()), &rawError)) {
        if (treeDepth(json_parser_get_root(parser.get())) > estimate)
            std::abort();
    }
    Common::Glib::ErrorHandle error(rawError);
    return 0;
}
