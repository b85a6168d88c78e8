#pragma once

#include <cstdint>
#include <string>

namespace Validator {

// True when the file at `path` is a PNG image of exactly `width` by `height`
// pixels that decodes completely. The header is read first; an image of
// any other size, however large its header says it is, is never decoded.
// Only regular files are opened; anything unreadable or broken is false.
bool isPngOfSize(const std::string& path, std::uint32_t width, std::uint32_t height);

} // namespace Validator
