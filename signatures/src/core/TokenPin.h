#pragma once

// A PKCS#11 URI may name a file holding the token's PIN (pin-source, RFC
// 7512). The engine would read that file itself with a blocking fopen, so a
// FIFO or a terminal there would hold the command for ever; the library
// reads it instead, as every file it reads, and hands the engine the PIN.

#include <optional>
#include <string>

namespace PackageSignatures {

// Bytes of a PIN file that are looked at; a longer file is no PIN file.
inline constexpr size_t pinFileLimit = 4096;

// The URI with every pin-source attribute replaced, in its place, by a
// pin-value attribute holding the PIN read from its file: the first line
// (without its line end) of a regular file of at most pinFileLimit bytes.
// The value is taken as the engine takes it: percent-decoded, with an
// optional "file:" in front. Empty, with the reason in `failure`, when a
// file cannot be read so, or the attribute is not a file.
std::optional<std::string> withPinSourcesRead(const std::string& uri, std::string& failure);

} // namespace PackageSignatures
