#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace Validator {

enum class WatchListVerdict {
    Matches,      // every entry names a file of the package
    Mismatch,     // an entry names something else
    InvalidJson,  // not a JSON document json-glib can read safely
};

// The integrity daemon's watch list: a JSON object whose array "watch"
// names installed files, each optionally prefixed by "file:" or "elf:".
// Read with json-glib, as the daemon reads it. A document that is valid
// but has no object at its root, or no "watch" array, watches nothing.
// An element that is not a string names no file of the package.
WatchListVerdict checkWatchList(std::string_view text, const std::function<bool(std::string_view)>& isPackagePath);

// json-glib parses arrays and objects by recursion, one level of the
// machine stack per level of nesting and without a limit: a document
// nested a hundred thousand levels deep overflows the stack. Documents
// nested deeper than this are not handed to it.
inline constexpr std::size_t kMaxWatchListDepth = 64;

// The deepest nesting of arrays and objects that json-glib will see in
// `text`, found in one pass without recursion. It follows json-glib's
// lexer: brackets count except inside double-quoted strings (where a
// backslash escapes the next character), single-quoted strings (without
// escapes) and comments, which run from one "/" to the next.
std::size_t jsonGlibNestingDepth(std::string_view text);

} // namespace Validator
