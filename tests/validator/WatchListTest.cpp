// The integrity daemon's watch list read with json-glib, and the nesting
// pre-scan that keeps deep documents away from its recursive parser.

#include "checks/integrityd/WatchList.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace Validator {
namespace {

TEST(WatchListTest, NestingDepthFollowsJsonGlibsLexer)
{
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"{\"watch\": [\"/usr/bin/app\"]}", 2},
        {"[[1], [[2]], {}]", 3},
        // Brackets inside strings and comments are not structure.
        {"[\"[[[\", '[[[', \"\\\"[[[\"]", 1},
        {"['a\\' , \"]]\"]", 1},
        {"[1 / [[[ / ]", 1},
        {"[[1 /*]*/]]", 2},
        // Closing brackets never take the count below zero.
        {"]]]][[", 2},
        // An unterminated string or comment hides the rest.
        {"[\"[[[[", 1},
        {"[/[[[[", 1},
    };
    for (const auto& [text, depth] : cases)
        EXPECT_EQ(jsonGlibNestingDepth(text), depth) << text;
}

TEST(WatchListTest, Verdicts)
{
    const std::set<std::string, std::less<>> installed = {"/usr/bin/app", "/usr/share/app/data"};
    const auto isPackagePath = [&installed](std::string_view path) { return installed.count(path) != 0; };
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    using V = WatchListVerdict;
    const std::vector<std::pair<std::string, WatchListVerdict>> cases = {
        {R"({"watch": ["file:/usr/bin/app", "elf:/usr/bin/app", "/usr/share/app/data"]})", V::Matches},
        {R"({"watch": []})", V::Matches},
        {R"({"watch": ["/usr/lib/libfoo.so", "/usr/bin/app"]})", V::Mismatch},
        // Prefixes are taken off once, and only these two.
        {R"({"watch": ["file:file:/usr/bin/app"]})", V::Mismatch},
        {R"({"watch": ["exe:/usr/bin/app"]})", V::Mismatch},
        {R"({"watch": ["file:"]})", V::Mismatch},
        // Elements that are not strings name no file of the package.
        {R"({"watch": ["/usr/bin/app", 1]})", V::Mismatch},
        {R"({"watch": [null]})", V::Mismatch},
        {R"({"watch": [{"path": "/usr/bin/app"}]})", V::Mismatch},
        {R"({"watch": [["/usr/bin/app"]]})", V::Mismatch},
        {R"({"watch": [true]})", V::Mismatch},
        // A valid document without a "watch" array watches nothing.
        {R"(["/usr/lib/libfoo.so"])", V::Matches},
        {R"("text")", V::Matches},
        {"", V::Matches},
        {R"({"other": ["/usr/lib/libfoo.so"]})", V::Matches},
        {R"({"watch": "/usr/lib/libfoo.so"})", V::Matches},
        {R"({"watch": null})", V::Matches},
        // json-glib's own leniency: comments and single quotes.
        {"{'watch': [/* comment */ 'file:/usr/bin/app']}", V::Matches},
        {R"({"watch": ["/usr/bin/app")", V::InvalidJson},
        {R"({"watch": ["/usr/bin/app",]})", V::InvalidJson},
        {std::string("{\"watch\": [\"/usr/bin/app\"]}\0", 25), V::InvalidJson},
        {"{\"watch\": [\"\xff\"]}", V::InvalidJson},
        // Too deep for json-glib's recursion: refused before it is parsed.
        {deep, V::InvalidJson},
        {"{\"watch\": " + std::string(100000, '{'), V::InvalidJson},
        {std::string(kMaxWatchListDepth, '[') + std::string(kMaxWatchListDepth, ']'), V::Matches},
        {std::string(kMaxWatchListDepth + 1, '[') + std::string(kMaxWatchListDepth + 1, ']'), V::InvalidJson},
    };
    for (const auto& [text, verdict] : cases)
        EXPECT_EQ(checkWatchList(text, isPackagePath), verdict) << text.substr(0, 100);
}

} // namespace
} // namespace Validator
