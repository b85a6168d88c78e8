#include "checks/integrityd/Integrityd.h"

#include "checks/integrityd/IntegritydMessages.h"
#include "checks/integrityd/WatchList.h"
#include "package/PackagedFile.h"

#include <unordered_set>

namespace Validator {

namespace {

// A watch list names files of one package. A larger file is not read:
// json-glib keeps some fifty bytes per value, so the parsed document of a
// hostile file would outgrow the text many times. It counts as unreadable,
// that is as invalid JSON.
constexpr std::size_t kMaxWatchListBytes = 1 << 20;

} // namespace

bool Integrityd::accepts(const std::string& path, const std::string&)
{
    return path == "/etc/integrityd/config.d/" + meta().name() + ".json";
}

void Integrityd::validate(const std::string& path, const std::string&)
{
    std::optional<std::string> text;
    if (auto file = PackagedFile::open(unpackedTree(), path))
        text = file->readAll(kMaxWatchListBytes);
    if (!text) {
        logger().add(IntegritydMessage::InvalidJson);
        return;
    }
    const std::unordered_set<std::string_view> paths(meta().paths().begin(), meta().paths().end());
    const WatchListVerdict verdict =
        checkWatchList(*text, [&paths](std::string_view path) { return paths.count(path) != 0; });
    if (verdict == WatchListVerdict::InvalidJson)
        logger().add(IntegritydMessage::InvalidJson);
    else if (verdict == WatchListVerdict::Mismatch)
        logger().add(IntegritydMessage::Mismatch);
}

} // namespace Validator
