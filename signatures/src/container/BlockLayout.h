#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

// Version 3 wraps a block in a Zstandard skippable frame, so that a zstd
// decoder reading past the payload skips it:
//   50 2A 4D 18 (magic 0x184D2A50), frame length = DER size + 12, DER, trailer
constexpr uint32_t skippableFrameVersion = 3;
constexpr int64_t skippableFrameHeaderSize = 8;
constexpr uint8_t skippableFrameMagic[4] = {0x50, 0x2A, 0x4D, 0x18};

// The bytes appended for one block: the frame header for version 3, the
// DER, and the trailer.
std::vector<uint8_t> encodeBlock(uint32_t version, const uint8_t* der, size_t len);

// Where the file is cut to remove this block and everything after it.
int64_t blockStart(const CmsLocation& location);

} // namespace PackageSignatures
