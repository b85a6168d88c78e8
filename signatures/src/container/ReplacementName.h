#pragma once

#include <cstddef>
#include <string>

namespace PackageSignatures {

// The name a package's replacement has in the package's directory between
// being named and being renamed over the package: this prefix and
// replacementSuffixLength random characters. It starts with a dot and does
// not end in ".rpm", so recursive signing never takes it for a package.
constexpr size_t replacementSuffixLength = 6;
std::string replacementPrefix(const std::string& packageName);

} // namespace PackageSignatures
