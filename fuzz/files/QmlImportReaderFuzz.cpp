// Feeds arbitrary bytes to the QML import reader, whole and in pieces of
// sizes taken from the input, and checks that both readings agree and
// stay within the reader's bounds.

#include "checks/qml/QmlImportReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::vector<std::string> importsOf(std::string_view text, std::size_t piece)
{
    Validator::QmlImportReader reader;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        if (!reader.feed(text.substr(at, piece)))
            break;
    }
    reader.finish();
    return reader.imports();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> whole = importsOf(text, text.size() + 1);
    const std::size_t piece = size > 0 ? data[0] % 17 + 1 : 1;
    if (importsOf(text, piece) != whole)
        std::abort();
    if (whole.size() > Validator::QmlImportReader::kMaxImports)
        std::abort();
    for (const std::string& entry : whole) {
        // module, or module + " " + version: neither part above the bound.
        if (entry.empty() || entry.size() > 2 * Validator::QmlImportReader::kMaxTokenBytes + 1)
            std::abort();
    }
    return 0;
}
