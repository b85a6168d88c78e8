#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace PackageSignatures {

// Bytes [start, end) of the stream's file, read with positioned reads so the
// stream's own position stays where it was. Empty on any failure.
std::vector<uint8_t> readFileRange(FILE* stream, int64_t start, int64_t end);

} // namespace PackageSignatures
