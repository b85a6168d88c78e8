#pragma once

namespace PackageSignatures {

// Mixes the real-time clock's nanoseconds into OpenSSL's random generator,
// once per process, before the library's first use of it: a serial number
// or a private-key operation. Not at load time: setting the generator up
// takes about a millisecond, which every program linked with the library
// would pay on every start, while most runs (verification, the validator)
// never draw a random byte.
void seedRandomGenerator();

} // namespace PackageSignatures
