#pragma once

// Files that the environment names and that OpenSSL, its engines or the
// PKCS#11 engine open on the library's behalf: OpenSSL's configuration
// (OPENSSL_CONF), engine modules below OPENSSL_ENGINES and the PKCS#11
// module (PKCS11_MODULE_PATH). Each of them is opened with a plain blocking
// open (fopen, dlopen), so a FIFO there would hold the process for ever;
// they are checked here first, and only a regular file is let through.

#include <string>

namespace PackageSignatures {

// False, with the reason in `failure` (the path and why), when OPENSSL_CONF
// names something that exists and is not a regular file. A missing file is
// left to OpenSSL, which goes on without it.
bool openSslConfigurationOpenable(std::string& failure);

// The same for the module OpenSSL would load the engine `id` from when
// OPENSSL_ENGINES is set. A missing module is left to OpenSSL, which then
// reports the engine unavailable.
bool engineModuleOpenable(const char* id, std::string& failure);

// PKCS11_MODULE_PATH, when set, must be the path of a regular file: a bare
// name would be searched for by the dynamic loader in places not checked
// here. Unset, the engine uses p11-kit's proxy from the system's own
// library directory.
bool tokenModuleOpenable(std::string& failure);

} // namespace PackageSignatures
