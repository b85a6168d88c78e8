#pragma once

#include <cstdint>

namespace Validator {

class PackagedFile;

// True when the file, read from where it stands, is a PNG image of exactly
// `width` by `height` pixels that decodes completely. The header is read
// first; an image of any other size, however large its header says it is,
// is never decoded. Anything unreadable or broken is false.
bool isPngOfSize(PackagedFile& file, std::uint32_t width, std::uint32_t height);

} // namespace Validator
